// The class model simulated on the structures of a sample read from its files.

#include <stdexcept>
#include <utility>
#include <string>

#include "params/codes.h"
#include "pedsim.h"

namespace pedseg::tools {

void simulate_traits(const PedigreeTables& ped, const PedigreeLayout& layout,
                     const SimParams& par, uint64_t seed, float* trait,
                     std::vector<Genes>* genes) {
  Rng rng;
  rng_seed(rng, seed);
  std::vector<Genes> all(static_cast<size_t>(ped.NIND) + 1);
  for (int32_t f = 1; f <= layout.nfam(); ++f) {
    const FamilyLayout& fam = layout[f];
    const auto n = static_cast<size_t>(fam.size) + 1;
    // Local numbers: parents (0: a founder) and the breaker a copy stands for.
    std::vector<int32_t> father(n, 0), mother(n, 0), breaker(n, 0);
    for (int32_t j = fam.nuc_first; j <= fam.nuc_last; ++j)
      for (int32_t q = ped.NUC_START[j] + 2; q < ped.NUC_START[j + 1]; ++q) {
        const auto c = static_cast<size_t>(ped.NUC_MEMBERS[q]);
        if (father[c] != 0) continue;
        father[c] = ped.NUC_MEMBERS[ped.NUC_START[j]];
        mother[c] = ped.NUC_MEMBERS[ped.NUC_START[j] + 1];
      }
    for (const LoopBreaker& b : fam.breakers)
      for (int32_t c : b.copies) breaker[static_cast<size_t>(c)] = b.person;
    std::vector<char> drawn(n, 0);
    Genes* g = &all[static_cast<size_t>(fam.start)];
    for (int32_t left = fam.size; left > 0;) {
      int32_t now = 0;
      for (int32_t d = 1; d <= fam.size; ++d) {
        const auto i = static_cast<size_t>(d);
        if (drawn[i]) continue;
        if (breaker[i] != 0) {
          if (!drawn[static_cast<size_t>(breaker[i])]) continue;
          g[d] = g[breaker[i]];
        } else if (father[i] == 0) {
          g[d] = founder_genes(rng, par);
        } else {
          const int32_t fa = father[i], mo = mother[i];
          if (!drawn[static_cast<size_t>(fa)] || !drawn[static_cast<size_t>(mo)]) continue;
          g[d] = child_genes(rng, par, g[fa], g[mo]);
        }
        drawn[i] = 1;
        ++now;
        if (breaker[i] != 0) continue;
        float& y = trait[fam.start + d];
        double value = 0.0;
        const bool spike = draw_trait(rng, par, g[d], value);
        if (!trait_missing(y)) y = spike ? SIM_SPIKE_TRAIT : static_cast<float>(value);
      }
      if (now == 0)
        throw std::invalid_argument("simulate_traits: family " + std::to_string(f) +
                                    " has persons whose parents are never drawn");
      left -= now;
    }
  }
  if (genes != nullptr) *genes = std::move(all);
}

}  // namespace pedseg::tools
