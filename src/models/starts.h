// The starting points of a model's fit (starts.cpp): the model's own point,
// the estimates of the models nested in it, relabellings of the genotypes,
// mixtures fitted to the trait's distribution, transmission patterns, and a
// quasi-random design across the parameter space.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/fit.h"
#include "params/param_vector.h"

namespace pedseg {

enum class ModelKind;

// `start` with the values of a nested model's estimate in every entry this
// model varies (free or linked); fixed entries keep their values.
ParamVector warm_start(const ParamVector& start, const ParamVector& nested);

// A copy the search mapping accepts: free entries lying on or beyond a bound
// are held where they are.
ParamVector evaluable(const ParamVector& point);

// The same values, flags, links and steps: the same search.
bool same_start(const ParamVector& a, const ParamVector& b);

// What the starts use of the sample: the measured trait values outside the
// spike, sorted, and the number of values in the spike.
struct TraitSummary {
  std::vector<float> values;
  int32_t spike = 0;
  double mean = 0.0, variance = 0.0;
};
TraitSummary trait_summary(const SampleTables& sample);
// The same of given values (an analysis's residuals on its scale).
TraitSummary trait_summary(const std::vector<double>& values, int32_t spike);

struct Start {
  ParamVector point;
  std::string label;  // for the progress lines
  // A nested model's best estimate: relabelled, and given transmission
  // patterns in the general model.
  bool primary = false;
};

// The structured starts of model `kind`, in their fixed order: `base` (the
// model's own point, with any entries a caller fixed), `nested` (points of
// the model taken from nested models' estimates), and for a model with a
// gene the relabellings of the genotypes of base and the primary nested
// starts, for the general model transmission patterns on those, and for the
// others mixtures fitted to the trait's distribution at a grid of q for each
// order of the three genotype means.  Duplicates are left out.
std::vector<Start> structured_starts(ModelKind kind, const ParamVector& base,
                                     const std::vector<Start>& nested,
                                     const TraitSummary& traits);

// The quasi-random starts: a Sobol sequence over the free entries of `base`,
// each entry spread across the part of its bounds the trait makes plausible
// (the means across the trait's range, the variances up to its variance, the
// probabilities across their bounds, denser near them).
class QuasiRandomStarts {
 public:
  QuasiRandomStarts(const ParamVector& base, const TraitSummary& traits);
  ~QuasiRandomStarts();
  QuasiRandomStarts(const QuasiRandomStarts&) = delete;
  QuasiRandomStarts& operator=(const QuasiRandomStarts&) = delete;
  Start next();

 private:
  struct Sequence;
  // How a unit coordinate becomes an entry's value.
  struct Spread {
    enum class Kind { Linear, Log, Logit } kind;
    double low, high;
  };
  ParamVector base_;
  std::vector<int32_t> entries_;
  std::vector<Spread> spreads_;
  std::unique_ptr<Sequence> sequence_;
  int32_t count_ = 0;
};

}  // namespace pedseg
