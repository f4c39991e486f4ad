#include "models/fit.h"

#include <vector>

#include "likelihood/engine.h"
#include "params/codes.h"
#include "search/search.h"

namespace pedseg {

Fitter::Fitter(SampleTables& sample, int32_t threads)
    : sample_(sample),
      engine_(std::make_unique<LikelihoodEngine>(*sample.ped, sample.poly, threads)) {}

Fitter::~Fitter() = default;

double Fitter::families(const ModelQuantities& model) {
  ++evaluations_;
  return engine_->families_loglik(model);
}

namespace {

// A fresh set of quantities for every evaluation: the mapping leaves the
// transmission table alone when no tau is free, so it must start Mendelian.
void apply_rule(const ParamTable& par, TransRule rule, ModelQuantities& m) {
  if (rule == TransRule::TausEqualQ) {
    const double q = par.PAR_VAL[1];
    BUILD_TRANS_MAJOR(m, q, q, q);
  } else if (rule == TransRule::Taus) {
    BUILD_TRANS_MAJOR(m, par.PAR_VAL[8], par.PAR_VAL[9], par.PAR_VAL[10]);
  }
}

}  // namespace

double Fitter::evaluate(ParamTable& par, TransRule rule) {
  ModelQuantities m;
  double status = 1.0;
  SET_MODEL_SEARCH(par, m, status);
  if (impossible_lh(status)) return LH_SENTINEL;
  apply_rule(par, rule, m);
  return families(m);
}

double Fitter::evaluate_initial(ParamTable& par, TransRule rule, std::string& messages) {
  ModelQuantities m;
  double status = 1.0;
  OutputFile err = output_memory(messages, "par.err");
  SET_MODEL_INITIAL(par, m, err, status);
  if (impossible_lh(status)) return LH_SENTINEL;
  apply_rule(par, rule, m);
  return families(m);
}

bool Fitter::quantities(ParamTable par, TransRule rule, ModelQuantities& model) {
  model = ModelQuantities{};
  double status = 1.0;
  SET_MODEL_SEARCH(par, model, status);
  if (impossible_lh(status)) return false;
  apply_rule(par, rule, model);
  return true;
}

SearchRun Fitter::search(ParamTable& par, TransRule rule, const FitProgress& progress) {
  SearchRun run;
  const double initial = evaluate_initial(par, rule, run.messages);
  if (impossible_lh(initial)) {
    run.impossible_start = true;
    run.lnL = initial;
    return run;
  }
  double best = initial;
  int32_t count = 0;
  const Objective objective = [&](ParamTable& point) {
    const double ll = evaluate(point, rule);
    ++count;
    if (ll > best) best = ll;
    if (progress) progress(count, best);
    return ll;
  };
  SearchSettings settings;
#ifdef PEDSEG_FUZZ_MAXIT
  settings.max_iterations = PEDSEG_FUZZ_MAXIT;
#endif
  const SearchResults results = DIRECT_SEARCH(par.NPAR, settings, objective, par);
  run.lnL = results.BEST_LH;
  run.iterations = results.ITER_COUNT;
  run.evaluations = results.EVAL_COUNT;
  run.iteration_limit = results.outcome == SearchOutcome::IterationLimit;
  return run;
}

}  // namespace pedseg
