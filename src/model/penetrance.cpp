// Penetrance of one trait value: missing, spike, or a normal density weighted
// by the probability of not being in the spike.
#include <cmath>

#include "model/model.h"

namespace pedseg {

double PENETRANCE(const float* TRAIT, const ModelQuantities& model, int32_t i, int32_t g,
                  int32_t k) {
  const float y = TRAIT[i];
  if (trait_missing(y)) return 1.0;
  if (trait_in_spike(y)) return model.SPIKE_PROB[g];
  // No density exists without a positive variance.
  if (model.RES_VAR <= 0.0) return 0.0;
  const double mean = static_cast<double>(k - 4) * model.POLY_EFFECT + model.GEN_MEAN[g];
  const double d = static_cast<double>(y) - mean;
  const double e = std::exp(-((d * d / model.RES_VAR) * 0.5));
  return (e * (1.0 - model.SPIKE_PROB[g])) / std::sqrt(model.RES_VAR * TWO_PI_S);
}

}  // namespace pedseg
