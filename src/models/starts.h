// The starting points of a model's fit (starts.cpp), for the fitting.
#pragma once

#include <vector>

#include "models/fit.h"
#include "params/param_vector.h"

namespace pedseg {

// `start` with the values of a nested model's estimate in every entry this
// model varies (free or linked); fixed entries keep their values.
ParamVector warm_start(const ParamVector& start, const ParamVector& nested);

// A copy the search mapping accepts: free entries lying on or beyond a bound
// are held where they are.
ParamVector evaluable(const ParamVector& point);

// The same values, flags, links and steps: the same search.
bool same_start(const ParamVector& a, const ParamVector& b);

// Measured trait values outside the spike, sorted: the quantiles of the
// spread starts.
std::vector<float> sorted_traits(const SampleTables& sample);

// Start k >= 3: q from a fixed list (then a golden-ratio sequence) and the
// genotype means at the trait quantiles those frequencies imply, the genotype
// that par.inp puts highest taking the upper tail.
ParamVector spread_start(const ParamVector& start, const std::vector<float>& traits, int k);

}  // namespace pedseg
