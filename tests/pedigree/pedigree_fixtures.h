// Pedigree tables built by hand for the tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "pedigree/pedigree.h"

namespace pedseg::testing {

// Tables as the reader leaves them: PED_START, PED_NUC, NUC_START and the
// members from index 0, pivots from nuclear family 1; counts from the sizes.
inline std::unique_ptr<PedigreeTables> make_tables(int32_t nfam, std::vector<int32_t> start,
                                                   std::vector<int32_t> nuc,
                                                   std::vector<int32_t> nuc_start,
                                                   std::vector<int32_t> members,
                                                   std::vector<int32_t> pivots, int32_t nind) {
  auto ped = std::make_unique<PedigreeTables>();
  ped->NFAM = ped->NFAM_READ = nfam;
  std::copy(start.begin(), start.end(), ped->PED_START);
  std::copy(nuc.begin(), nuc.end(), ped->PED_NUC);
  std::copy(nuc_start.begin(), nuc_start.end(), ped->NUC_START);
  std::copy(members.begin(), members.end(), ped->NUC_MEMBERS);
  std::copy(pivots.begin(), pivots.end(), ped->NUC_PIVOT + 1);
  ped->NSTART = static_cast<int32_t>(nuc_start.size());
  ped->NMEMBER = static_cast<int32_t>(members.size());
  ped->NIND = nind;
  return ped;
}

// Families of 5 and 6.  Family 1: nuclear family 1 is parents 1, 2 with
// children 3, 4; individual 5 is loose.  Family 2: nuclear family 2 (parents
// 3, 5, child 6) is peeled onto 3, then nuclear family 3 (parents 1, 2,
// children 3, 4) closes it.
inline std::unique_ptr<PedigreeTables> example_tables() {
  return make_tables(2, {2, 0, 5, 11}, {0, 0, 1, 3}, {0, 0, 4, 7, 11},
                     {1, 2, 3, 4, 3, 5, 6, 1, 2, 3, 4}, {0, 3, 0}, 11);
}

inline const char* const EXAMPLE_IWAY =
    "2 2 0 5 11\n0 0 1 3\n5 0 0 4 7 11\n11 1 2 3 4 3 5 6 1 2 3 4\n0 3 0\n"
    "11 0 0 0 0 0 0 0 0 0 0 0\n";

}  // namespace pedseg::testing
