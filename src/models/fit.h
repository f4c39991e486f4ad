// The one place where the model comparison calls into the likelihood and the
// search: the tables of a sample, the ln LH of a parameter table under a
// model, pedseg's search from a table, and the model quantities at a point.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "params/params.h"
#include "likelihood/likelihood.h"
#include "model/model.h"
#include "pedigree/pedigree.h"
#include "sample/sample.h"

namespace pedseg {

class LikelihoodEngine;

// How the transmission table follows the parameter table: as the mapping
// builds it (Mendelian unless a tau is free), rebuilt at every evaluation
// from slots 8-10 whatever their flags, or rebuilt with tau1 = tau2 = tau3 =
// q (no transmission: an allele is passed on with the population frequency).
enum class TransRule { Mapping, Taus, TausEqualQ };

// Called after every evaluation of a search: evaluations so far and the best
// ln LH seen.
using FitProgress = std::function<void(int32_t evaluations, double best_lh)>;

struct SearchRun {
  double lnL = LH_SENTINEL;  // at the point the table holds
  int32_t iterations = 0;
  int32_t evaluations = 0;
  bool impossible_start = false;
  bool iteration_limit = false;
  std::string messages;  // what pedseg would have written to par.err
};

// Evaluates ln LH on one sample.  Not safe to share between threads.
class Fitter {
 public:
  // threads: of this fitter's likelihood engine; 0 for the default.
  Fitter(SampleTables& sample, int32_t threads);
  ~Fitter();
  Fitter(const Fitter&) = delete;
  Fitter& operator=(const Fitter&) = delete;

  // ln LH at the point of `par` with the search mapping (links applied,
  // flags of linked parameters cleared); LH_SENTINEL for an impossible point.
  double evaluate(ParamTable& par, TransRule rule);

  // pedseg's evaluation at the starting values: links, a value on a bound
  // moved inward, messages collected in `messages`.
  double evaluate_initial(ParamTable& par, TransRule rule, std::string& messages);

  // pedseg's whole search: the initial evaluation, then the direct search
  // with pedseg's settings over the 12 slots.  `par` ends at the estimate.
  SearchRun search(ParamTable& par, TransRule rule, const FitProgress& progress = {});

  // The model quantities at a point (search mapping); false when the mapping
  // rejects it.
  bool quantities(ParamTable par, TransRule rule, ModelQuantities& model);

  int64_t evaluations() const { return evaluations_; }

 private:
  double families(const ModelQuantities& model);

  SampleTables& sample_;
  std::unique_ptr<LikelihoodEngine> engine_;
  int64_t evaluations_ = 0;
};

}  // namespace pedseg
