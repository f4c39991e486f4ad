// Pedigree structure (iway.dat) and trait data: the tables, their reading,
// the family weights, and a validator that keeps every later step inside the
// tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "textio/textio.h"

namespace pedseg {

constexpr int N_FAM = 604;       // families
constexpr int N_WAY = 2000000;   // NSTART and NMEMBER
constexpr int N_SIZE = 25000;    // individuals

// All tables zero at start; filled once by the reader.  Index ranges as used
// by the program: PED_START and PED_NUC 0..N_FAM+1, NUC_START 0..N_WAY-1,
// NUC_MEMBERS positions 0..N_WAY-1, NUC_PIVOT 1..N_WAY-2, IND_CODE and TRAIT
// 1..N_SIZE (global numbers), PED_WEIGHT 1..N_FAM.  About 24 MB: allocate
// it statically or on the heap, never on the stack.
struct PedigreeTables {
  int32_t NFAM = 0;
  int32_t PED_START[N_FAM + 2] = {};
  int32_t PED_NUC[N_FAM + 2] = {};
  int32_t NUC_START[N_WAY] = {};
  int32_t NUC_MEMBERS[N_WAY] = {};
  int32_t NUC_PIVOT[N_WAY - 1] = {};
  int32_t IND_CODE[N_SIZE + 1] = {};
  float TRAIT[N_SIZE + 1] = {};
  double PED_WEIGHT[N_FAM + 1] = {};
  // The counts of the records, as read; kept for the validator.
  int32_t NFAM_READ = 0;  // NFAM of record 1 before it is replaced by PED_START(0)
  int32_t NSTART = 0;
  int32_t NMEMBER = 0;
  int32_t NIND = 0;
};

// Reads the six records of iway.dat.  A count beyond its limit throws
// SizeStop with "N_FAM exceed. Correct and recompile" (N_WAY, N_SIZE) before
// any further item of the record is stored.
void read_structure(InputFile& iway, PedigreeTables& ped);

// Reads the trait file: one record of NIND single-precision values.
void read_traits(InputFile& traits, PedigreeTables& ped);

// NFAM := PED_START(0), then PED_WEIGHT(f) = 1/c over the values >= -998.
void derive_weights(PedigreeTables& ped);

// The whole reader: opens iway.dat in folder `dir` (default: the current
// one), reads it, writes the NIND console line, opens and reads the trait
// file named in the 16-character field (in the same folder), and derives the
// weights.  Missing files are input errors naming them.
void READ_PEDIGREE(const char (&TRAIT_FILE_NAME)[16], PedigreeTables& ped,
                   OutputFile& console, std::string_view dir = {});

// The validator.  `errors` receives every condition that would take a later
// step outside a table (the file must be rejected); `warnings` receives the
// structural oddities that the program still computes as written.  Returns
// true when there is no error.
bool validate_pedigree(const PedigreeTables& ped, std::vector<std::string>& errors,
                       std::vector<std::string>& warnings);

// At most this many lines are written for one condition; a last line then
// tells how many more cases of it were found.
constexpr int VALIDATE_MAX_LINES = 20;

}  // namespace pedseg
