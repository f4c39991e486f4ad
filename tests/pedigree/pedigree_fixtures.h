// Pedigree tables built by hand for the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pedigree/pedigree.h"

namespace pedseg::testing {

// Tables as the reader would leave them: `ped_start` and `ped_nuc` from
// index 0, `nuc_start` from 0, `members` from position 0, `pivots` from
// nuclear family 1.  The counts follow from the vector sizes.
inline std::unique_ptr<PedigreeTables> make_tables(int32_t nfam,
                                                   const std::vector<int32_t>& ped_start,
                                                   const std::vector<int32_t>& ped_nuc,
                                                   const std::vector<int32_t>& nuc_start,
                                                   const std::vector<int32_t>& members,
                                                   const std::vector<int32_t>& pivots,
                                                   int32_t nind) {
  auto ped = std::make_unique<PedigreeTables>();
  ped->NFAM = nfam;
  ped->NFAM_READ = nfam;
  for (size_t i = 0; i < ped_start.size(); ++i) ped->PED_START[i] = ped_start[i];
  for (size_t i = 0; i < ped_nuc.size(); ++i) ped->PED_NUC[i] = ped_nuc[i];
  for (size_t i = 0; i < nuc_start.size(); ++i) ped->NUC_START[i] = nuc_start[i];
  for (size_t i = 0; i < members.size(); ++i) ped->NUC_MEMBERS[i] = members[i];
  for (size_t i = 0; i < pivots.size(); ++i) ped->NUC_PIVOT[i + 1] = pivots[i];
  ped->NSTART = static_cast<int32_t>(nuc_start.size());
  ped->NMEMBER = static_cast<int32_t>(members.size());
  ped->NIND = nind;
  return ped;
}

// Two families of 5 and 6 individuals.  Family 1: nuclear family 1 is
// parents 1 and 2 with children 3 and 4; individual 5 is loose.  Family 2:
// nuclear family 2 is parents 3 and 5 with child 6, peeled onto parent 3;
// nuclear family 3 is parents 1 and 2 with children 3 and 4 and closes.
inline std::unique_ptr<PedigreeTables> example_tables() {
  return make_tables(2, {2, 0, 5, 11}, {0, 0, 1, 3}, {0, 0, 4, 7, 11},
                     {1, 2, 3, 4, 3, 5, 6, 1, 2, 3, 4}, {0, 3, 0}, 11);
}

// The same pedigree as the six records of iway.dat.
inline const char* const EXAMPLE_IWAY =
    "2 2 0 5 11\n"
    "0 0 1 3\n"
    "5 0 0 4 7 11\n"
    "11 1 2 3 4 3 5 6 1 2 3 4\n"
    "0 3 0\n"
    "11 0 0 0 0 0 0 0 0 0 0 0\n";

}  // namespace pedseg::testing
