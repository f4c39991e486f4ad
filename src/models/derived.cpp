// Quantities derived from a model's estimates, with standard errors by the
// delta method: the polygenic variance and heritability, the share of the
// variance due to the major gene and the dominance of its alleles.
#include <cmath>
#include <functional>

#include "models/models.h"

namespace pedseg {

namespace {

using Quantity = std::function<double(const ParamVector&)>;

// The values with par.inp's and the model's links applied.
ParamVector linked(ParamVector t) {
  for (int32_t i = 1; i <= t.size(); ++i) {
    const int32_t j = t.link[i];
    if (j != i && j >= 1 && j <= t.size()) t.value[i] = t.value[j];
  }
  return t;
}

double polygenic_variance(const ParamVector& t) {
  const double b = t.value[SLOT_POLY_EFFECT];
  return 1.5 * b * b;
}

double heritability(const ParamVector& t) {
  const double p = polygenic_variance(t);
  return p / (p + t.value[SLOT_RES_VAR]);
}

// Genotype g's share of the trait outside the spike in Hardy-Weinberg
// proportions.
double frequency(const ParamVector& t, int32_t g) {
  const double q = t.value[SLOT_Q];
  return g == 1 ? q * q : g == 2 ? 2.0 * q * (1.0 - q) : (1.0 - q) * (1.0 - q);
}

double gene_share(const ParamVector& t) {
  double mean = 0.0;
  for (int32_t g = 1; g <= 3; ++g) mean += frequency(t, g) * t.value[mean_slot(g)];
  double between = 0.0;
  for (int32_t g = 1; g <= 3; ++g) {
    const double d = t.value[mean_slot(g)] - mean;
    between += frequency(t, g) * d * d;
  }
  return between / (between + polygenic_variance(t) + t.value[SLOT_RES_VAR]);
}

double dominance(const ParamVector& t) {
  return (t.value[SLOT_MEAN2] - t.value[SLOT_MEAN3]) /
         (t.value[SLOT_MEAN1] - t.value[SLOT_MEAN3]);
}

}  // namespace

void set_derived(ModelResult& r, const std::vector<int32_t>& entries,
                 const std::vector<double>& covariance) {
  r.derived.clear();
  if (!r.fitted) return;
  struct Item {
    const char* name;
    Quantity f;
    std::vector<int32_t> uses;
  };
  std::vector<Item> items;
  const bool polygenic = r.kind != ModelKind::Sporadic && r.kind != ModelKind::Major;
  if (polygenic) {
    items.push_back({"polygenic_variance", polygenic_variance, {SLOT_POLY_EFFECT}});
    items.push_back({"polygenic_heritability", heritability, {SLOT_POLY_EFFECT, SLOT_RES_VAR}});
  }
  if (has_gene(r.kind)) {
    items.push_back({"major_gene_variance_share", gene_share,
                     {SLOT_Q, SLOT_MEAN1, SLOT_MEAN2, SLOT_MEAN3, SLOT_POLY_EFFECT, SLOT_RES_VAR}});
    items.push_back({"dominance", dominance, {SLOT_MEAN1, SLOT_MEAN2, SLOT_MEAN3}});
  }
  const ParamVector at = linked(r.estimate);
  const size_t n = entries.size();
  for (const Item& item : items) {
    DerivedEstimate d{item.name, item.f(at), std::nullopt};
    if (!std::isfinite(d.value)) continue;
    // No error where a quantity rests on an estimate held on its bound.
    bool held = false;
    for (int32_t i : item.uses) {
      const int32_t j = r.estimate.link[i];
      held = held || r.status[j] == ParamStatus::AtBound || r.status[i] == ParamStatus::AtBound;
    }
    if (n > 0 && covariance.size() == n * n && !held) {
      std::vector<double> g(n);
      for (size_t a = 0; a < n; ++a) {
        const double h = derivative_step(r.estimate, entries[a]);
        ParamVector up = r.estimate, down = r.estimate;
        up.value[entries[a]] += h;
        down.value[entries[a]] -= h;
        g[a] = (item.f(linked(up)) - item.f(linked(down))) / (2.0 * h);
      }
      double v = 0.0;
      for (size_t a = 0; a < n; ++a)
        for (size_t b = 0; b < n; ++b) v += g[a] * covariance[a * n + b] * g[b];
      if (v >= 0.0) d.se = std::sqrt(v);
    }
    r.derived.push_back(std::move(d));
  }
}

}  // namespace pedseg
