// The one place where the model comparison calls into the likelihood and the
// search: the tables of a sample, the ln LH of a parameter vector under a
// model, pedseg's search from a vector, and the model quantities at a point.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "params/param_vector.h"
#include "params/params.h"
#include "likelihood/likelihood.h"
#include "model/model.h"
#include "model/trait_view.h"
#include "pedigree/pedigree.h"
#include "sample/sample.h"
#include "search/search.h"

namespace pedseg {

class LikelihoodEngine;
struct TraitAnalysis;
struct Conditioning;

// How the transmission table follows the parameters: as the mapping builds
// it (Mendelian unless a tau is free), rebuilt at every evaluation from the
// tau slots whatever their flags, or rebuilt with tau1 = tau2 = tau3 = q (no
// transmission: an allele is passed on with the population frequency).
enum class TransRule { Mapping, Taus, TausEqualQ };

// Called after every evaluation of a search: evaluations so far and the best
// ln LH seen.
using FitProgress = std::function<void(int32_t evaluations, double best_lh)>;

struct SearchRun {
  double lnL = LH_SENTINEL;  // at the point the vector holds
  int32_t iterations = 0;
  int32_t evaluations = 0;
  bool impossible_start = false;
  bool iteration_limit = false;
  std::string messages;  // what pedseg would have written to par.err
};

// Evaluates ln LH on one sample.  Not safe to share between threads.
class Fitter {
 public:
  // threads: of this fitter's likelihood engine (on the sample's layout, its
  // loops included); 0 for the default.
  Fitter(SampleTables& sample, int32_t threads);
  // Under an analysis of the trait (covariates, a transformation; see
  // models/analysis.h), which must outlive the fitter: points carry its
  // entries after the slots.
  Fitter(SampleTables& sample, int32_t threads, const TraitAnalysis& analysis);
  // The same conditioned on the probands (models/ascertainment.h; it must
  // outlive the fitter too): ln LH adds, family by family, minus the
  // denominator's term, evaluated by a second engine at the same point.
  Fitter(SampleTables& sample, int32_t threads, const TraitAnalysis& analysis,
         const Conditioning& conditioning);
  ~Fitter();
  Fitter(const Fitter&) = delete;
  Fitter& operator=(const Fitter&) = delete;

  // ln LH at `point` with the search mapping (links applied, flags of
  // linked entries cleared); LH_SENTINEL for an impossible point.
  double evaluate(ParamVector& point, TransRule rule);

  // pedseg's evaluation at the starting values: links, a value on a bound
  // moved inward, messages collected in `messages`.
  double evaluate_initial(ParamVector& point, TransRule rule, std::string& messages);

  // pedseg's whole search: the initial evaluation, then the direct search
  // with pedseg's settings (or `settings`) over every entry.  `point` ends
  // at the estimate.
  SearchRun search(ParamVector& point, TransRule rule, const FitProgress& progress = {},
                   const SearchSettings& settings = {});

  // The model quantities at a point (search mapping); false when the mapping
  // rejects it.
  bool quantities(ParamVector point, TransRule rule, ModelQuantities& model);

  int64_t evaluations() const { return evaluations_; }

  // The user's parameters: par.inp's slots, then the analysis entries.
  ParamVector user_params() const;
  const TraitAnalysis* analysis() const { return analysis_; }
  // The view of the traits at `point`'s analysis entries (nullptr without an
  // analysis), for the posteriors and the figures.
  const TraitView* view_at(const ParamVector& point);

 private:
  bool set_model(ParamVector& point, TransRule rule, ModelQuantities& model, OutputFile* par_err);
  double families(const ModelQuantities& model);

  void set_view_at(const ParamVector& point);

  SampleTables& sample_;
  const TraitAnalysis* analysis_ = nullptr;
  TraitView view_;  // of the analysis, at the last point set
  std::vector<double> view_params_;  // the betas and lambda1 of view_
  std::unique_ptr<LikelihoodEngine> engine_;
  const Conditioning* conditioning_ = nullptr;
  TraitView denominator_view_;  // the probands only, at the point of view_
  std::unique_ptr<LikelihoodEngine> denominator_;
  int64_t evaluations_ = 0;
};

}  // namespace pedseg
