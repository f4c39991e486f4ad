// The starting points of a model's fit: the model's own, a nested model's
// estimate, and a spread of q and the means across the trait's quantiles.
#include "models/starts.h"

#include <algorithm>
#include <cmath>

#include "params/codes.h"

namespace pedseg {

namespace {

// Frequencies q of the spread starts (start 3 onward), then a deterministic
// sequence inside (0.05, 0.95).
constexpr double SPREAD_Q[] = {0.1, 0.5, 0.3};

double quantile(const std::vector<float>& v, double p) {
  const size_t k = static_cast<size_t>(std::floor(std::clamp(p, 0.0, 1.0) * (v.size() - 1)));
  return static_cast<double>(v[k]);
}

void set_inside(ParamVector& t, int32_t i, double v) {
  if (v > t.low[i] && v < t.high[i]) t.value[i] = v;
}

}  // namespace

ParamVector warm_start(const ParamVector& start, const ParamVector& nested) {
  ParamVector t = start;
  for (int32_t i = 1; i <= t.size(); ++i)
    if (start.est[i] != 0 || start.link[i] != i) t.value[i] = nested.value[i];
  return t;
}

ParamVector evaluable(const ParamVector& point) {
  ParamVector t = point;
  for (int32_t i = 1; i <= t.size(); ++i)
    if (t.est[i] != 0 && (t.value[i] <= t.low[i] || t.value[i] >= t.high[i])) t.est[i] = 0;
  return t;
}

bool same_start(const ParamVector& a, const ParamVector& b) {
  return a.value == b.value && a.est == b.est && a.link == b.link && a.step == b.step;
}

std::vector<float> sorted_traits(const SampleTables& s) {
  std::vector<float> v;
  const PedigreeTables& ped = *s.ped;
  for (int32_t f = 1; f <= ped.NFAM; ++f)
    for (int32_t i = ped.PED_START[f] + 1; i <= ped.PED_START[f + 1]; ++i)
      if (trait_above_missing(ped.TRAIT[i]) && !trait_in_spike(ped.TRAIT[i]))
        v.push_back(ped.TRAIT[i]);
  std::sort(v.begin(), v.end());
  return v;
}

ParamVector spread_start(const ParamVector& start, const std::vector<float>& traits, int k) {
  ParamVector t = start;
  const int n = static_cast<int>(std::size(SPREAD_Q));
  double q = k - 3 < n ? SPREAD_Q[k - 3]
                       : 0.05 + 0.9 * std::fmod(0.6180339887498949 * (k - 3 - n + 1), 1.0);
  if (is_free(t, SLOT_Q)) set_inside(t, SLOT_Q, q);
  q = t.value[SLOT_Q];
  if (traits.empty()) return t;
  if (t.link[SLOT_MEAN2] == SLOT_MEAN1 && t.link[SLOT_MEAN3] == SLOT_MEAN1) {
    if (is_free(t, SLOT_MEAN1)) set_inside(t, SLOT_MEAN1, quantile(traits, 0.5));
    return t;
  }
  const double f1 = q * q, f2 = 2.0 * q * (1.0 - q), f3 = (1.0 - q) * (1.0 - q);
  const bool first_high = start.value[SLOT_MEAN1] >= start.value[SLOT_MEAN3];
  const double p1 = first_high ? 1.0 - f1 / 2.0 : f1 / 2.0;
  const double p2 = first_high ? f3 + f2 / 2.0 : f1 + f2 / 2.0;
  const double p3 = first_high ? f3 / 2.0 : 1.0 - f3 / 2.0;
  const double p[3] = {p1, p2, p3};
  for (int32_t g = 1; g <= 3; ++g)
    if (is_free(t, mean_slot(g))) set_inside(t, mean_slot(g), quantile(traits, p[g - 1]));
  return t;
}

}  // namespace pedseg
