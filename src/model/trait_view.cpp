#include "model/trait_view.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "params/codes.h"

namespace pedseg {

double view_penetrance(const TraitView& view, const ModelQuantities& model, int32_t i, int32_t g,
                       int32_t k) {
  const TraitUse use = view.use[static_cast<size_t>(i)];
  if (use == TraitUse::Missing) return 1.0;
  if (use == TraitUse::Spike) return model.SPIKE_PROB[g];
  if (model.RES_VAR <= 0.0) return 0.0;
  const double mean = static_cast<double>(k - 4) * model.POLY_EFFECT + model.GEN_MEAN[g] +
                      view.shift[static_cast<size_t>(i)];
  const double d = view.z[static_cast<size_t>(i)] - mean;
  if (use == TraitUse::Threshold) {
    const double tail = 0.5 * std::erfc(d / std::sqrt(2.0 * model.RES_VAR));
    return (1.0 - model.SPIKE_PROB[g]) * tail + model.SPIKE_PROB[g];
  }
  const double e = std::exp(-((d * d / model.RES_VAR) * 0.5));
  return (e * (1.0 - model.SPIKE_PROB[g])) / std::sqrt(model.RES_VAR * TWO_PI_S);
}

bool family_analysed(const TraitView& view, int32_t start, int32_t size) {
  for (int32_t d = 1; d <= size; ++d)
    if (view.use[static_cast<size_t>(start + d)] != TraitUse::Missing) return true;
  return false;
}

double box_cox(double u, double lambda1, double g) {
  if (lambda1 == 0.0) return g * std::log(u);
  // expm1 keeps the digits as lambda1 approaches 0.
  return std::expm1(lambda1 * std::log(u)) / (lambda1 * std::pow(g, lambda1 - 1.0));
}

TraitData build_trait_data(const PedigreeTables& ped, const std::vector<double>& covariates,
                           int32_t ncov, Transform transform, double shift) {
  TraitData t;
  const int32_t nfam = ped.PED_START[0];
  const int32_t nind = ped.PED_START[nfam + 1];
  t.use.assign(static_cast<size_t>(nind) + 1, TraitUse::Missing);
  t.y.assign(static_cast<size_t>(nind) + 1, 0.0);
  t.ncov = ncov;
  t.x.assign((static_cast<size_t>(nind) + 1) * static_cast<size_t>(ncov), 0.0);
  t.transform = transform;
  t.shift = transform == Transform::None ? 0.0 : shift;
  const auto cov = [&](int32_t i, int32_t j) -> double {
    return covariates[static_cast<size_t>(i) * static_cast<size_t>(ncov) + static_cast<size_t>(j)];
  };
  for (int32_t i = 1; i <= nind; ++i) {
    const float y = ped.TRAIT[i];
    if (!trait_above_missing(y)) continue;
    bool complete = true;
    for (int32_t j = 0; j < ncov; ++j) complete = complete && !std::isnan(cov(i, j));
    if (!complete) {
      ++t.incomplete;
      continue;
    }
    ++t.analysed;
    t.y[i] = static_cast<double>(y);
    t.use[i] = trait_in_spike(y) ? TraitUse::Spike : TraitUse::Value;
  }
  // Centres and spreads over the analysed individuals, in global order.
  t.centre.assign(static_cast<size_t>(ncov), 0.0);
  t.sd.assign(static_cast<size_t>(ncov), 0.0);
  for (int32_t j = 0; j < ncov && t.analysed > 0; ++j) {
    double sum = 0.0;
    for (int32_t i = 1; i <= nind; ++i)
      if (t.use[i] != TraitUse::Missing) sum += cov(i, j);
    const double c = sum / static_cast<double>(t.analysed);
    double ss = 0.0;
    for (int32_t i = 1; i <= nind; ++i)
      if (t.use[i] != TraitUse::Missing) ss += (cov(i, j) - c) * (cov(i, j) - c);
    t.centre[j] = c;
    t.sd[j] = t.analysed > 1 ? std::sqrt(ss / static_cast<double>(t.analysed - 1)) : 0.0;
  }
  for (int32_t i = 1; i <= nind; ++i)
    if (t.use[i] != TraitUse::Missing)
      for (int32_t j = 0; j < ncov; ++j)
        t.x[static_cast<size_t>(i) * static_cast<size_t>(ncov) + j] = cov(i, j) - t.centre[j];
  if (transform == Transform::None) return t;

  double smallest = std::numeric_limits<double>::infinity();
  double sum_log = 0.0;
  for (int32_t i = 1; i <= nind; ++i) {
    if (t.use[i] != TraitUse::Value) continue;
    const double u = t.y[i] + t.shift;
    if (u < smallest) smallest = u;
    if (u > 0.0) sum_log += std::log(u);
    ++t.values;
  }
  if (t.values > 0 && !(smallest > 0.0)) {
    std::ostringstream m;
    m.precision(9);
    m << "the transformation needs every analysed trait value plus lambda2 above 0; the "
         "smallest value plus lambda2 is "
      << smallest << " (set lambda2 with --shift)";
    throw std::invalid_argument(m.str());
  }
  t.geo_mean = t.values > 0 ? std::exp(sum_log / static_cast<double>(t.values)) : 1.0;
  for (int32_t i = 1; i <= nind; ++i)
    if (t.use[i] == TraitUse::Value) t.sum_log += std::log((t.y[i] + t.shift) / t.geo_mean);
  return t;
}

void set_view(const TraitData& data, const double* beta, double lambda1, TraitView& view) {
  const size_t n = data.use.size();
  view.use = data.use;
  view.z.resize(n);
  view.shift.resize(n);
  view.by_value = data.ncov == 0;
  const bool transformed = data.transform != Transform::None;
  const double l1 = data.transform == Transform::Log ? 0.0 : lambda1;
  for (size_t i = 1; i < n; ++i) {
    double s = 0.0;
    if (data.use[i] != TraitUse::Missing)
      for (int32_t j = 0; j < data.ncov; ++j)
        s += beta[j] * data.x[i * static_cast<size_t>(data.ncov) + static_cast<size_t>(j)];
    view.shift[i] = s;
    const bool value = data.use[i] == TraitUse::Value || data.use[i] == TraitUse::Threshold;
    view.z[i] = value && transformed ? box_cox(data.y[i] + data.shift, l1, data.geo_mean)
                                     : data.y[i];
  }
  view.log_jacobian = transformed ? (l1 - 1.0) * data.sum_log : 0.0;
  ++view.stamp;
}

}  // namespace pedseg
