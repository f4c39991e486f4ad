// Stand-in for the interface of the global fits of issue 19 (many starts, a
// local finish, the optima, the derived estimates), which another branch
// implements: the simplest honest versions, replaced when it is merged.
#include <cmath>

#include "models/models.h"
#include "models/starts.h"
#include "params/codes.h"

namespace pedseg {

double maximise_model(Fitter& fitter, const SampleTables&, ModelKind kind, ParamVector& point,
                      const std::vector<ParamVector>& extra_starts) {
  const TransRule rule = model_rule(kind);
  ParamVector best = point;
  const SearchRun first = fitter.search(best, rule);
  double best_lnl = first.impossible_start ? LH_SENTINEL : first.lnL;
  std::vector<ParamVector> tried{point};
  for (const ParamVector& s : extra_starts) {
    bool seen = false;
    for (const ParamVector& u : tried) seen = seen || same_start(u, s);
    if (seen) continue;
    tried.push_back(s);
    ParamVector t = s;
    const SearchRun run = fitter.search(t, rule);
    if (!run.impossible_start && run.lnL > best_lnl) {
      best = std::move(t);
      best_lnl = run.lnL;
    }
  }
  point = std::move(best);
  return best_lnl;
}

bool mirror_point(const ParamVector& point, ParamVector& m) {
  m = point;
  m.value[SLOT_Q] = 1.0 - point.value[SLOT_Q];
  for (int32_t g = 1; g <= 3; ++g) {
    m.value[spike_slot(g)] = point.value[spike_slot(4 - g)];
    m.value[mean_slot(g)] = point.value[mean_slot(4 - g)];
    m.value[tau_slot(g)] = 1.0 - point.value[tau_slot(4 - g)];
  }
  for (int32_t i = 1; i <= m.size(); ++i) {
    const double v = m.value[i];
    if (m.link[i] != i) {
      if (v != m.value[m.link[i]]) return false;
    } else if (m.est[i] == 0) {
      if (v != point.value[i]) return false;
    } else if (v < m.low[i] || v > m.high[i]) {
      return false;
    }
  }
  return true;
}

// The estimate as the only optimum, and the derived values without errors.
void interim_optima_and_derived(ModelResult& r) {
  r.optima = {Optimum{r.estimate, r.lnL, 0.0}};
  r.derived.clear();
  const std::vector<double>& v = r.estimate.value;
  const bool poly = r.status[SLOT_POLY_EFFECT] == ParamStatus::Free ||
                    r.status[SLOT_POLY_EFFECT] == ParamStatus::AtBound;
  const double pv = 1.5 * v[SLOT_POLY_EFFECT] * v[SLOT_POLY_EFFECT];
  if (poly) {
    r.derived.push_back({"polygenic_variance", pv, std::nullopt});
    r.derived.push_back({"polygenic_heritability", pv / (pv + v[SLOT_RES_VAR]), std::nullopt});
  }
  if (r.status[SLOT_Q] == ParamStatus::Fixed) return;
  const double q = v[SLOT_Q];
  const double f[4] = {0.0, q * q, 2.0 * q * (1.0 - q), (1.0 - q) * (1.0 - q)};
  double mean = 0.0, square = 0.0;
  for (int32_t g = 1; g <= 3; ++g) {
    mean += f[g] * v[mean_slot(g)];
    square += f[g] * v[mean_slot(g)] * v[mean_slot(g)];
  }
  const double vg = square - mean * mean;
  r.derived.push_back(
      {"major_gene_variance_share", vg / (vg + pv + v[SLOT_RES_VAR]), std::nullopt});
  if (v[SLOT_MEAN1] != v[SLOT_MEAN3])
    r.derived.push_back({"dominance",
                         (v[SLOT_MEAN2] - v[SLOT_MEAN3]) / (v[SLOT_MEAN1] - v[SLOT_MEAN3]),
                         std::nullopt});
}

}  // namespace pedseg
