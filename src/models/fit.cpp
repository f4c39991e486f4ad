#include "models/fit.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "likelihood/engine.h"
#include "params/codes.h"
#include "search/search.h"

namespace pedseg {

Fitter::Fitter(SampleTables& sample, int32_t threads)
    : sample_(sample),
      engine_(std::make_unique<LikelihoodEngine>(*sample.ped, sample.layout, sample.poly,
                                                 threads)) {}

Fitter::~Fitter() = default;

double Fitter::families(const ModelQuantities& model) {
  ++evaluations_;
  return engine_->families_loglik(model);
}

// The one place where a point becomes the model: the slots through the
// mapping (pedseg's initial variant when `par_err` is given, else the
// search's), whose links and nudges are copied back, then the transmission
// rule.  Entries beyond the slots would set their terms here; the model has
// none yet.  `model` must start afresh (Mendelian): the mapping leaves the
// transmission table alone when no tau is free.
bool Fitter::set_model(ParamVector& point, TransRule rule, ModelQuantities& model,
                       OutputFile* par_err) {
  if (point.size() != NPAR_USED)
    throw std::logic_error("Fitter: the model has terms for its slots only");
  ParamTable par;
  slots_to_table(point, par);
  double status = 1.0;
  if (par_err != nullptr) {
    SET_MODEL_INITIAL(par, model, *par_err, status);
  } else {
    SET_MODEL_SEARCH(par, model, status);
  }
  slots_from_table(par, point);
  if (impossible_lh(status)) return false;
  if (rule == TransRule::TausEqualQ) {
    const double q = point.value[SLOT_Q];
    BUILD_TRANS_MAJOR(model, q, q, q);
  } else if (rule == TransRule::Taus) {
    BUILD_TRANS_MAJOR(model, point.value[SLOT_TAU1], point.value[SLOT_TAU2],
                      point.value[SLOT_TAU3]);
  }
  return true;
}

double Fitter::evaluate(ParamVector& point, TransRule rule) {
  ModelQuantities m;
  return set_model(point, rule, m, nullptr) ? families(m) : LH_SENTINEL;
}

double Fitter::evaluate_initial(ParamVector& point, TransRule rule, std::string& messages) {
  ModelQuantities m;
  OutputFile err = output_memory(messages, "par.err");
  return set_model(point, rule, m, &err) ? families(m) : LH_SENTINEL;
}

bool Fitter::quantities(ParamVector point, TransRule rule, ModelQuantities& model) {
  model = ModelQuantities{};
  return set_model(point, rule, model, nullptr);
}

SearchRun Fitter::search(ParamVector& point, TransRule rule, const FitProgress& progress,
                         const SearchSettings& search_settings) {
  SearchRun run;
  const double initial = evaluate_initial(point, rule, run.messages);
  if (impossible_lh(initial)) {
    run.impossible_start = true;
    run.lnL = initial;
    return run;
  }
  double best = initial;
  int32_t count = 0;
  const auto objective = [&] {
    const double ll = evaluate(point, rule);
    ++count;
    if (ll > best) best = ll;
    if (progress) progress(count, best);
    return ll;
  };
  SearchSettings settings = search_settings;
#ifdef PEDSEG_FUZZ_MAXIT
  settings.max_iterations = std::min(settings.max_iterations, PEDSEG_FUZZ_MAXIT);
#endif
  const SearchResults results = direct_search(search_view(point), settings, objective);
  run.lnL = results.BEST_LH;
  run.iterations = results.ITER_COUNT;
  run.evaluations = results.EVAL_COUNT;
  run.iteration_limit = results.outcome == SearchOutcome::IterationLimit;
  return run;
}

}  // namespace pedseg
