// The analysis view of the traits: how each individual's trait enters the
// likelihood (missing, spike, a value on the analysis scale, a threshold),
// with the shift that covariates add to every class mean, and the values of
// one evaluation.  Without a view the likelihood reads TRAIT directly.
//
// TraitData holds what does not change during a fit (the uses, the values
// as read, the centred covariates, the transformation's shift and geometric
// mean); set_view turns it into the TraitView of given betas and lambda1.
#pragma once

#include <cstdint>
#include <vector>

#include "model/model.h"
#include "pedigree/pedigree.h"

namespace pedseg {

// Threshold: the trait is known to be at or above z (a proband whose value
// only selected the family); the penetrance is the upper tail.
enum class TraitUse : uint8_t { Missing, Spike, Value, Threshold };

enum class Transform : uint8_t { None, BoxCox, Log };

struct TraitView {
  std::vector<TraitUse> use;   // by global number (element 0 unused)
  std::vector<double> z;       // Value: the analysed value; Threshold: the threshold, same scale
  std::vector<double> shift;   // added to every class mean of the individual
  double log_jacobian = 0.0;   // added once to ln L, outside the families
  // z and shift depend on the trait value alone (no covariates): equal
  // values share one penetrance.
  bool by_value = true;
  // Changes whenever z, shift or log_jacobian change (the engine's cache).
  uint64_t stamp = 0;
};

// The penetrance of individual i under the view: PENETRANCE's operations with
// the value z(i) and the class mean shifted by shift(i); for a threshold
// (1 - SPIKE_PROB(g)) P(Z >= z(i)) + SPIKE_PROB(g).
double view_penetrance(const TraitView& view, const ModelQuantities& model, int32_t i, int32_t g,
                       int32_t k);

// Whether family f (global numbers start + 1 .. start + size) has an
// analysed member.
bool family_analysed(const TraitView& view, int32_t start, int32_t size);

struct TraitData {
  std::vector<TraitUse> use;       // by global number
  std::vector<double> y;           // the value as read (Value and Threshold)
  int32_t ncov = 0;
  std::vector<double> x;           // (global number) x ncov: covariate minus its centre
  std::vector<double> centre, sd;  // per covariate, over the analysed individuals
  int32_t analysed = 0;            // measured traits analysed (spike included)
  int32_t incomplete = 0;          // measured traits analysed as missing
  Transform transform = Transform::None;
  double shift = 0.0;              // lambda2
  double geo_mean = 1.0;           // g: of y + lambda2 over the values outside the spike
  double sum_log = 0.0;            // sum of ln((y + lambda2) / g) over those values
  int32_t values = 0;              // analysed values outside the spike
};

// The data of families 1..NFAM: `covariates` holds ncov columns per global
// number (row-major, row 0 unused, NaN for missing); a measured trait with a
// NaN among them is analysed as missing.  With a transformation, lambda2 is
// `shift`; every analysed y + lambda2 outside the spike must be positive,
// else std::invalid_argument names the smallest value.
TraitData build_trait_data(const PedigreeTables& ped, const std::vector<double>& covariates,
                           int32_t ncov, Transform transform, double shift);

// The Box-Cox value ((u^l1 - 1) / (l1 g^(l1 - 1)), g ln u at l1 = 0) of u > 0.
double box_cox(double u, double lambda1, double g);

// The view at betas beta[0..ncov) and lambda1 (ignored without a
// transformation); `view` keeps its storage between calls.
void set_view(const TraitData& data, const double* beta, double lambda1, TraitView& view);

}  // namespace pedseg
