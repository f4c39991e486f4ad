// The family weights: 1/c over the family's measured individuals.
#include <algorithm>
#include <cstdint>

#include "params/codes.h"
#include "pedigree/pedigree.h"

namespace pedseg {

void derive_weights(PedigreeTables& ped) {
  ped.NFAM = ped.PED_START[0];
  // Only families that have a weight entry, and only individual ranges that
  // lie inside TRAIT, are looked at; the validator rejects any file that
  // needs more.  A family that is left out keeps the weight 0, so nothing
  // later evaluates it either.
  const int32_t last = std::min(ped.NFAM, N_FAM);
  for (int32_t f = 1; f <= last; ++f) {
    const int64_t lo = int64_t{ped.PED_START[f]} + 1;
    const int64_t hi = ped.PED_START[f + 1];
    ped.PED_WEIGHT[f] = 0.0;
    if (hi < lo) continue;                // no individuals
    if (lo < 1 || hi > N_SIZE) continue;  // outside the table
    int32_t c = 0;
    for (int64_t i = lo; i <= hi; ++i) {
      if (trait_counts_measured(ped.TRAIT[i])) ++c;
    }
    if (c > 0) ped.PED_WEIGHT[f] = 1.0 / static_cast<double>(c);
  }
}

}  // namespace pedseg
