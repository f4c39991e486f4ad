// The parameter table of a run, the parameter labels, the trait file name and
// the search settings, and the reading of par.inp.
#pragma once

#include <cstdint>

#include "textio/textio.h"

namespace pedseg {

constexpr int PAR_SLOTS = 20;  // slots 1..20; 12 are used
constexpr int NPAR_USED = 12;
constexpr int NAME_WIDTH = 16; // TRAIT_FILE_NAME is a 16-character field

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

// Search settings: single-precision literals held as doubles.
inline constexpr double SEARCH_EPS = static_cast<double>(1.0E-10f);  // 1.000000013351432E-10
inline constexpr double SEARCH_PULL = static_cast<double>(0.8f);     // 0.800000011920929
inline constexpr double SEARCH_RTOL = static_cast<double>(1.0E-5f);  // 9.999999747378752E-06
inline constexpr int32_t SEARCH_MAXIT = 500;
inline constexpr int32_t SEARCH_PRINT = 1;

// Performs the 13 reads of par.inp into TRAIT_FILE_NAME and slots 1..NPAR.
// A link index outside 1..20 is an input error naming par.inp and the
// parameter.  Nothing else is tested.
void READ_PARAMETERS(InputFile& file, ParamTable& par);

// The trait file name without its trailing blanks (leading blanks kept).
std::string trait_file_name(const ParamTable& par);

}  // namespace pedseg
