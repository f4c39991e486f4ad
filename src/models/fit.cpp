#include "models/fit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "likelihood/engine.h"
#include "models/analysis.h"
#include "models/ascertainment.h"
#include "params/codes.h"
#include "search/search.h"

namespace pedseg {

Fitter::Fitter(SampleTables& sample, int32_t threads)
    : sample_(sample),
      engine_(std::make_unique<LikelihoodEngine>(*sample.ped, sample.layout, sample.poly,
                                                 threads)) {}

Fitter::Fitter(SampleTables& sample, int32_t threads, const TraitAnalysis& analysis)
    : sample_(sample), analysis_(analysis.active() ? &analysis : nullptr) {
  if (analysis_ == nullptr) {
    engine_ = std::make_unique<LikelihoodEngine>(*sample.ped, sample.layout, sample.poly, threads);
    return;
  }
  set_view_at(user_params());
  engine_ = std::make_unique<LikelihoodEngine>(*sample.ped, sample.layout, sample.poly, view_,
                                               threads);
}

Fitter::Fitter(SampleTables& sample, int32_t threads, const TraitAnalysis& analysis,
               const Conditioning& conditioning)
    : Fitter(sample, threads, analysis) {
  if (!conditioning.active()) return;
  conditioning_ = &conditioning;
  if (analysis_ != nullptr) {
    set_view(conditioning.data, view_params_.data(), view_params_.back(), denominator_view_);
  } else {
    set_view(conditioning.data, nullptr, 0.0, denominator_view_);
  }
  denominator_ = std::make_unique<LikelihoodEngine>(*sample.ped, sample.layout, sample.poly,
                                                    denominator_view_, threads,
                                                    Peeling::SumOutUnmeasured);
}

Fitter::~Fitter() = default;

ParamVector Fitter::user_params() const {
  return analysis_ != nullptr ? analysis_params(sample_.par, *analysis_) : slot_params(sample_.par);
}

// The betas and lambda1 of `point` into the view; a new stamp only when they
// moved, so that moves of the slots alone keep the engine's penetrances of
// the genotypes they leave alone.
void Fitter::set_view_at(const ParamVector& point) {
  const TraitAnalysis& a = *analysis_;
  std::vector<double> p(a.names.size() + 1, 0.0);
  for (size_t j = 0; j < a.names.size(); ++j)
    p[j] = point.value[static_cast<size_t>(a.first_beta) + j];
  if (a.lambda1 > 0) p.back() = point.value[static_cast<size_t>(a.lambda1)];
  if (p == view_params_ && view_.stamp != 0) return;
  view_params_ = p;
  set_view(a.data, p.data(), p.back(), view_);
  if (conditioning_ != nullptr) set_view(conditioning_->data, p.data(), p.back(), denominator_view_);
}

const TraitView* Fitter::view_at(const ParamVector& point) {
  if (analysis_ == nullptr) return nullptr;
  set_view_at(point);
  return &view_;
}

double Fitter::families(const ModelQuantities& model) {
  ++evaluations_;
  const double LL = engine_->families_loglik(model);
  if (denominator_ == nullptr || impossible_lh(LL)) return LL;
  if (impossible_lh(denominator_->families_loglik(model))) return LH_SENTINEL;
  // Family by family, numerator minus denominator (0 up to rounding for a
  // family whose only analysed member is its proband, under actual values);
  // then the
  // Jacobian of the values outside the probands'.
  double sum = 0.0;
  for (int32_t f = 1; f <= sample_.ped->PED_START[0]; ++f)
    sum = sum + (engine_->family_term(f) - denominator_->family_term(f));
  if (analysis_ != nullptr) sum = sum + view_.log_jacobian;
  sum = sum - denominator_view_.log_jacobian;
  return std::isfinite(sum) ? sum : LH_SENTINEL;
}

// The one place where a point becomes the model: the slots through the
// mapping (pedseg's initial variant when `par_err` is given, else the
// search's), whose links and nudges are copied back, then the transmission
// rule.  The entries beyond the slots (the analysis's betas and lambda1)
// reach the likelihood here, through the view.  `model` must start afresh
// (Mendelian): the mapping leaves the transmission table alone when no tau
// is free.
bool Fitter::set_model(ParamVector& point, TransRule rule, ModelQuantities& model,
                       OutputFile* par_err) {
  const int32_t extra = analysis_ != nullptr ? analysis_->entries() : 0;
  if (point.size() != NPAR_USED + extra)
    throw std::logic_error("Fitter: the point's entries are not the analysis's");
  for (int32_t i = NPAR_USED + 1; i <= point.size(); ++i) {
    if (point.link[i] != i) point.value[i] = point.value[point.link[i]];
    if (par_err == nullptr && is_free(point, i) &&
        !(point.value[i] > point.low[i] && point.value[i] < point.high[i]))
      return false;
  }
  if (analysis_ != nullptr) set_view_at(point);
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
