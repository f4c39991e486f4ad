// The parameter table of a run, the parameter labels and names, the trait
// file name, the link rule, and the reading of par.inp.
#pragma once

#include <cstdint>
#include <string>

#include "textio/textio.h"

namespace pedseg {

constexpr int PAR_SLOTS = 20;  // slots 1..20; 12 are used
constexpr int NAME_WIDTH = 16; // TRAIT_FILE_NAME is a 16-character field

// The slots the model reads, in par.inp's order: q, the spike probabilities
// and the means of genotypes 1-3, the transmission probabilities, the
// polygenic effect and the residual variance.
enum Slot : int32_t {
  SLOT_Q = 1,
  SLOT_SPIKE1, SLOT_SPIKE2, SLOT_SPIKE3,
  SLOT_MEAN1, SLOT_MEAN2, SLOT_MEAN3,
  SLOT_TAU1, SLOT_TAU2, SLOT_TAU3,
  SLOT_POLY_EFFECT,
  SLOT_RES_VAR
};
constexpr int NPAR_USED = SLOT_RES_VAR;

// The slot of genotype g's (1..3) spike probability, mean and transmission
// probability.
constexpr int32_t spike_slot(int32_t g) { return SLOT_SPIKE1 + (g - 1); }
constexpr int32_t mean_slot(int32_t g) { return SLOT_MEAN1 + (g - 1); }
constexpr int32_t tau_slot(int32_t g) { return SLOT_TAU1 + (g - 1); }

// Mendelian transmission: genotype g (1..3) passes on the allele of genotype
// 1 with probability MENDELIAN_TAU[g].
inline constexpr double MENDELIAN_TAU[4] = {0.0, 1.0, 0.5, 0.0};

// Six parallel arrays indexed 1..20 (element 0 is unused), and NPAR.
// Slots 13 to 20 are never filled and stay zero.
struct ParamTable {
  int32_t NPAR = 0;
  int32_t PAR_LINK[PAR_SLOTS + 1] = {};
  int32_t PAR_EST[PAR_SLOTS + 1] = {};
  double PAR_VAL[PAR_SLOTS + 1] = {};
  double PAR_STEP[PAR_SLOTS + 1] = {};
  double PAR_LOW[PAR_SLOTS + 1] = {};
  double PAR_HIGH[PAR_SLOTS + 1] = {};
  char TRAIT_FILE_NAME[NAME_WIDTH] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
};

// Labels of parameters 1..16 (index 0 unused), 5 characters blank-filled.
inline constexpr const char* PAR_LABEL[17] = {
    "     ", "Q    ", "MU   ", "A    ", "D    ", "pga  ", "SIG  ",
    "Sex  ", "Tr1  ", "Tr2  ", "Tr3  ", "B1   ", "B2   ", "B3   ",
    "B4   ", "B5   ", "dec  "};

// Readable names of the slots (index 0 unused), for programs and messages
// that name parameters rather than print the file's labels.
inline constexpr const char* PARAM_NAME[NPAR_USED + 1] = {
    "",      "q",     "spike1", "spike2", "spike3", "mean1", "mean2",
    "mean3", "tau1",  "tau2",   "tau3",   "polygenic_effect", "residual_variance"};

// What slot i holds, in words: "frequency q", "mean of genotype 2",
// ...; "parameter i" for any other slot.
std::string param_description(int32_t i);

// Performs the 13 reads of par.inp into TRAIT_FILE_NAME and slots 1..NPAR.
// A link index outside 1..20 is an input error naming par.inp and the
// parameter.  Nothing else is tested.  A trait file name longer than the
// 16-character field is cut to it; `long_name`, when given, then receives
// the name as written (and is left empty otherwise).
void READ_PARAMETERS(InputFile& file, ParamTable& par, std::string* long_name = nullptr);

// The warning for a cut trait file name, naming both (without a program
// prefix or line end).
std::string long_name_warning(const std::string& long_name, const ParamTable& par);

// The trait file name without its trailing blanks (leading blanks kept).
std::string trait_file_name(const char (&field)[NAME_WIDTH]);
std::string trait_file_name(const ParamTable& par);

// The links of slots 1..NPAR (clamped to the table), in ascending order: a
// linked parameter (PAR_LINK(i) != i) copies its target as it stands now (a
// lower-numbered target already replaced in this pass, a higher one not yet)
// and its flag is cleared.  Returns false, and stops, at a link outside
// 1..20 (which READ_PARAMETERS already refuses).
bool apply_links(ParamTable& par);

// The slots taking part in the mapping: 1..NPAR, never beyond the table.
int32_t used_slots(const ParamTable& par);

}  // namespace pedseg
