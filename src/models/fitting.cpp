// The fit of each model of the table: its starts, each screened by a short
// direct search and the promising ones finished to a local maximum, the
// optima found, the estimate in the reported labelling, the nesting order,
// the statuses and standard errors at the estimate; re-fits from a better
// point.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "models/finish.h"
#include "models/models.h"
#include "models/analysis.h"
#include "models/starts.h"
#include "params/codes.h"

namespace pedseg {

namespace {

constexpr int PROGRESS_EVERY = 200;  // evaluations between progress lines
// The screen of a structured start: its ln L, then pedseg's direct search
// stopped after SCREEN_ITERATIONS iterations.  The start is left when its
// ln L lies more than INITIAL_MARGIN below the best maximum found before
// it, or more than SCREEN_MARGIN below it after the search; else it is
// finished.  (On a large sample the starts far from any maximum fall out
// at once; on a small one nearly all are finished.)  Quasi-random starts
// are always finished.
constexpr int32_t SCREEN_ITERATIONS = 3;
constexpr double INITIAL_MARGIN = 1000.0;
constexpr double SCREEN_MARGIN = 10.0;
// Quasi-random starts stop once this many of them reached the best maximum.
constexpr int32_t RANDOM_AGREEING = 2;
// The estimate: the first start, in the fixed order, within this of the
// best ln L found.
constexpr double SAME_MAXIMUM = 1.0E-6;
// A nested model's optima that become starts: at most this many, within
// this of its best.
constexpr int32_t NESTED_OPTIMA = 2;
constexpr double NESTED_OPTIMA_RANGE = 5.0;

// One start carried to a local maximum.
struct Finished {
  ParamVector point;
  double lnL = LH_SENTINEL;
  double gradient_norm = 0.0;
  bool labelled = true;  // in the reported labelling
  bool random = false;   // a quasi-random start
};

struct Maximisation {
  std::vector<Finished> finished;  // in the order of the starts
  int32_t screened = 0;
  int32_t evaluations = 0;
  bool first_impossible = false;  // the model's own point (par.inp's)
  // The estimate: finished[best], the first within SAME_MAXIMUM of the best.
  int32_t best = -1;
};

int32_t count_free(const ParamVector& t) {
  int32_t n = 0;
  for (int32_t i = 1; i <= t.size(); ++i) n += t.est[i] != 0 ? 1 : 0;
  return n;
}

// The statuses of the entries at the estimate; no standard errors yet.
void set_statuses(ModelResult& r) {
  const ParamVector& t = r.estimate;
  r.status.assign(t.size() + 1, ParamStatus::Fixed);
  r.se.assign(t.size() + 1, std::nullopt);
  std::string at;
  for (int32_t i = 1; i <= t.size(); ++i) {
    r.status[i] = param_status(t, i);
    if (r.status[i] != ParamStatus::Free) continue;
    const double h = derivative_step(t, i);
    if (t.value[i] - h <= t.low[i] || t.value[i] + h >= t.high[i]) {
      r.status[i] = ParamStatus::AtBound;
      at += (at.empty() ? "" : ", ") + t.name[i];
    }
  }
  if (!at.empty()) r.notes.push_back("at a bound: " + at);
}

// Distinct maxima, best first: finished points more than STARTS_AGREE
// apart in ln L; each is represented by its first start within
// SAME_MAXIMUM of its best.
std::vector<Optimum> distinct_optima(const Maximisation& m) {
  std::vector<int32_t> order;
  for (int32_t k = 0; k < static_cast<int32_t>(m.finished.size()); ++k) order.push_back(k);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return m.finished[a].lnL > m.finished[b].lnL;
  });
  std::vector<Optimum> optima;
  for (size_t k = 0; k < order.size();) {
    const double top = m.finished[order[k]].lnL;
    int32_t pick = order[k];
    size_t j = k;
    for (; j < order.size() && m.finished[order[j]].lnL >= top - STARTS_AGREE; ++j)
      if (m.finished[order[j]].lnL >= top - SAME_MAXIMUM && order[j] < pick) pick = order[j];
    const Finished& f = m.finished[pick];
    optima.push_back({f.point, f.lnL, f.gradient_norm});
    k = j;
  }
  return optima;
}

class ModelFitter {
 public:
  ModelFitter(const SampleTables& s, Fitter& f, const ModelsOptions& o, const ProgressLine& p)
      : user_(f.user_params()), fitter_(f), options_(o), progress_(p),
        traits_(f.analysis() != nullptr
                    ? trait_summary(analysed_residuals(*f.analysis()),
                                    f.analysis()->data.analysed -
                                        static_cast<int32_t>(analysed_residuals(*f.analysis()).size()))
                    : trait_summary(s)) {}

  ModelResult fit(ModelKind kind, const std::vector<const ModelResult*>& done) {
    ModelResult r;
    r.kind = kind;
    const ParamVector start = model_params(kind, user_);
    std::vector<Start> nested;
    for (ModelKind m : nested_in(kind)) {
      for (const ModelResult* d : done) {
        if (d->kind != m || !d->fitted) continue;
        for (size_t k = 0; k < d->optima.size() && k < NESTED_OPTIMA; ++k) {
          if (d->optima[k].lnL < d->lnL - NESTED_OPTIMA_RANGE) break;
          nested.push_back({warm_start(start, d->optima[k].point),
                            std::string(model_name(m)) + " optimum " + std::to_string(k + 1),
                            k == 0});
        }
      }
    }
    const Maximisation m =
        maximise(kind, structured_starts(kind, start, nested, traits_), start, options_.starts);
    r.starts = static_cast<int32_t>(m.finished.size());
    r.evaluations = m.evaluations;
    if (m.best < 0) {
      r.notes.push_back("no start gave a possible point");
      return r;
    }
    if (m.first_impossible) r.notes.push_back("par.inp's starting point is impossible in this model");
    r.optima = distinct_optima(m);
    const Finished& f = m.finished[m.best];
    for (const Finished& g : m.finished) r.starts_agreeing += g.lnL >= f.lnL - STARTS_AGREE ? 1 : 0;
    Finished best = f;
    nest(kind, start, best, done, r.notes);
    r.fitted = true;
    finish(r, best, start);
    return r;
  }

  // Every start screened, the promising ones finished; then quasi-random
  // starts from `random_base` until RANDOM_AGREEING of them reach the best
  // maximum or `random_starts` were tried.
  Maximisation maximise(ModelKind kind, const std::vector<Start>& starts,
                        const ParamVector& random_base, int32_t random_starts) {
    Maximisation m;
    const int64_t before = fitter_.evaluations();
    double top = LH_SENTINEL;  // the best ln L found
    std::vector<KnownMaximum> known;  // the maxima found, for the finishes
    std::vector<int32_t> known_source;  // where in m.finished each was found
    auto run = [&](const Start& s, bool random) {
      ParamVector t = s.point;
      std::string messages;
      const double initial = fitter_.evaluate_initial(t, model_rule(kind), messages);
      ++m.screened;
      if (impossible_lh(initial)) {
        m.first_impossible = m.first_impossible || m.screened == 1;
        return;
      }
      if (!random && initial < top - INITIAL_MARGIN) return;
      t = s.point;
      SearchSettings screen;
      screen.max_iterations = SCREEN_ITERATIONS;
      const SearchRun sr = fitter_.search(t, model_rule(kind), tick(kind, s.label), screen);
      if (!random && sr.lnL < top - SCREEN_MARGIN) return;
      const FinishRun fr = finish_search(fitter_, model_rule(kind), t, known);
      Finished f;
      if (fr.joined >= 0) {
        f = m.finished[known_source[fr.joined]];
        f.random = random;
      } else {
        known.push_back(fr.end);
        known_source.push_back(static_cast<int32_t>(m.finished.size()));
        const bool labelled = label_genotypes(t);
        f = {std::move(t), fr.lnL, fr.gradient_norm, labelled, random};
      }
      if (progress_)
        progress_(std::string(model_name(kind)) + ", " + s.label + ": ln LH " + lh_text(f.lnL) +
                  (fr.joined >= 0 ? " (reached a maximum found before)"
                                  : " (gradient " + gradient_text(f.gradient_norm) + ")"));
      top = std::max(top, f.lnL);
      m.finished.push_back(std::move(f));
    };
    for (const Start& s : starts) run(s, false);
    QuasiRandomStarts random(random_base, traits_);
    for (int32_t k = 0; k < random_starts; ++k) {
      run(random.next(), true);
      int32_t agreeing = 0;
      for (const Finished& f : m.finished) agreeing += f.random && f.lnL >= top - STARTS_AGREE ? 1 : 0;
      if (agreeing >= RANDOM_AGREEING) break;
    }
    for (int32_t k = 0; k < static_cast<int32_t>(m.finished.size()) && m.best < 0; ++k)
      if (m.finished[k].lnL >= top - SAME_MAXIMUM) m.best = k;
    m.evaluations = static_cast<int32_t>(fitter_.evaluations() - before);
    return m;
  }

  // Nesting: never below a model this one contains (those of `done`): the
  // nested estimate is itself a point of this model.
  void nest(ModelKind kind, const ParamVector& start, Finished& best,
            const std::vector<const ModelResult*>& done, std::vector<std::string>& notes) {
    for (ModelKind m : nested_in(kind)) {
      const ModelResult* d = nullptr;
      for (const ModelResult* x : done)
        if (x->kind == m && x->fitted) d = x;
      if (d == nullptr || !(d->lnL > best.lnL)) continue;
      ParamVector e = warm_start(start, d->estimate);
      ParamVector probe = evaluable(e);
      const double lnL = fitter_.evaluate(probe, model_rule(kind));
      if (lnL >= d->lnL) {
        // Values with the links applied; flags as the model has them, so
        // that an entry held on its bound shows as at_bound.
        for (int32_t i = 1; i <= e.size(); ++i) {
          e.value[i] = probe.value[i];
          if (e.link[i] != i) e.est[i] = 0;
        }
        const bool far = lnL > best.lnL + SAME_MAXIMUM;
        best.point = e;
        best.lnL = lnL;
        best.labelled = label_genotypes(best.point);
        if (far)
          notes.push_back(std::string("the estimate of ") + model_name(m) +
                          " is kept: the maxima found from the starts lie below it");
      } else {
        notes.push_back(std::string("below the estimate of ") + model_name(m) +
                        ", which is not a point of this model (values that par.inp fixes differ)");
      }
    }
  }

  // The row at the estimate `best`: what the searches noted stays, what
  // depends on the estimate (statuses, standard errors) is made again.
  void finish(ModelResult& r, Finished best, const ParamVector& start) {
    // The model's own steps, so that a search from the estimate explores as
    // a search from the start does.
    best.point.step = start.step;
    r.estimate = best.point;
    r.lnL = best.lnL;
    r.gradient_norm = best.gradient_norm;
    r.n_free = count_free(best.point);
    const Optimum o{best.point, best.lnL, best.gradient_norm};
    if (r.optima.empty() || best.lnL > r.optima[0].lnL + STARTS_AGREE) {
      r.optima.insert(r.optima.begin(), o);
    } else {
      r.optima[0] = o;
    }
    r.fit_notes = r.notes.size();
    if (!best.labelled)
      r.notes.push_back("genotypes labelled as fitted: genotype 1 has the lower mean, and the "
                        "relabelled point is not one of the model (par.inp's links, fixed values "
                        "or bounds are not symmetric)");
    set_statuses(r);
    if (options_.standard_errors) {
      standard_errors(fitter_, r);
    } else {
      set_derived(r, {}, {});
    }
  }

  // Carries one start to a local maximum: pedseg's whole search, then the
  // finish.
  Finished climb(ModelKind kind, ParamVector t, const std::string& what) {
    const SearchRun sr = fitter_.search(t, model_rule(kind), tick(kind, what));
    if (sr.impossible_start) return Finished{t, LH_SENTINEL, 0.0, true, false};
    const FinishRun fr = finish_search(fitter_, model_rule(kind), t);
    const bool labelled = label_genotypes(t);
    return Finished{t, fr.lnL, fr.gradient_norm, labelled, false};
  }

  const TraitSummary& traits() const { return traits_; }

  static std::string gradient_text(double g) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1e", g);
    return buf;
  }

 private:
  FitProgress tick(ModelKind kind, const std::string& what) {
    if (!progress_) return {};
    const std::string label = std::string(model_name(kind)) + ", " + what;
    return [this, label](int32_t evals, double best) {
      if (evals % PROGRESS_EVERY == 0)
        progress_(label + ": " + std::to_string(evals) + " evaluations, best ln LH " +
                  lh_text(best));
    };
  }

  const ParamVector user_;
  Fitter& fitter_;
  const ModelsOptions& options_;
  const ProgressLine progress_;
  TraitSummary traits_;
};

// The models `chosen` needs: themselves and every model nested in them.
std::vector<ModelKind> needed_models(const std::vector<ModelKind>& chosen) {
  std::vector<ModelKind> needed;
  for (ModelKind k : ALL_MODELS) {
    bool need = std::find(chosen.begin(), chosen.end(), k) != chosen.end();
    for (ModelKind c : chosen) {
      const std::vector<ModelKind> inner = nested_in(c);
      need = need || std::find(inner.begin(), inner.end(), k) != inner.end();
    }
    if (need) needed.push_back(k);
  }
  return needed;
}

std::vector<const ModelResult*> all_results(const ModelsRun& run) {
  std::vector<const ModelResult*> v;
  for (const ModelResult& r : run.results) v.push_back(&r);
  for (const ModelResult& r : run.nested) v.push_back(&r);
  return v;
}

}  // namespace

const ModelResult* ModelsRun::find(ModelKind kind) const {
  for (const ModelResult& r : results)
    if (r.kind == kind) return &r;
  return nullptr;
}

ModelResult* ModelsRun::find(ModelKind kind) {
  for (ModelResult& r : results)
    if (r.kind == kind) return &r;
  return nullptr;
}

double maximise_model(Fitter& fitter, const SampleTables& sample, ModelKind kind,
                      ParamVector& point, const std::vector<ParamVector>& extra_starts,
                      int32_t random_starts) {
  ModelsOptions options;
  options.standard_errors = false;
  options.starts = random_starts;
  ModelFitter mf(sample, fitter, options, {});
  std::vector<Start> extra;
  for (size_t k = 0; k < extra_starts.size(); ++k)
    extra.push_back({extra_starts[k], "extra start " + std::to_string(k + 1)});
  const Maximisation m = mf.maximise(kind, structured_starts(kind, point, extra, mf.traits()),
                                     point, options.starts);
  if (m.best < 0) return LH_SENTINEL;
  point.value = m.finished[m.best].point.value;
  point.est = m.finished[m.best].point.est;
  return m.finished[m.best].lnL;
}

bool model_quantities(Fitter& fitter, ModelKind kind, const ParamVector& point,
                      ModelQuantities& quantities) {
  return fitter.quantities(evaluable(point), model_rule(kind), quantities);
}

ModelsRun run_models(const SampleTables& sample, Fitter& fitter, const ModelsOptions& options,
                     const ProgressLine& progress) {
  ModelsRun run;
  ModelFitter mf(sample, fitter, options, progress);
  const std::vector<ModelKind>& chosen = options.models;
  for (ModelKind k : needed_models(chosen)) {
    ModelResult r = mf.fit(k, all_results(run));
    if (progress)
      progress(std::string(model_name(k)) + ": " + std::to_string(r.starts) +
               " starts carried to a maximum, " + std::to_string(r.starts_agreeing) +
               " at the best, " + std::to_string(r.optima.size()) + " distinct maxima; " +
               std::to_string(r.evaluations) + " evaluations");
    if (std::find(chosen.begin(), chosen.end(), k) != chosen.end()) {
      run.results.push_back(std::move(r));
    } else {
      run.nested.push_back(std::move(r));
    }
  }
  set_tests(run);
  return run;
}

bool refit_model(ModelsRun& run, const SampleTables& sample, Fitter& fitter,
                 const ModelsOptions& options, ModelKind kind, const ParamVector& from,
                 const std::string& why, const ProgressLine& progress) {
  ModelResult* r = run.find(kind);
  if (r == nullptr || !r->fitted) return false;
  ModelFitter mf(sample, fitter, options, progress);
  const Finished f = mf.climb(kind, from, "re-fit");
  if (impossible_lh(f.lnL) || !(f.lnL > r->lnL)) return false;
  // The re-fit is one more start; the earlier ones agree only if close to it.
  r->starts_agreeing = 1 + (r->lnL >= f.lnL - STARTS_AGREE ? r->starts_agreeing : 0);
  r->starts += 1;
  r->notes.resize(r->fit_notes);
  r->notes.push_back(why);
  const ParamVector user = fitter.user_params();
  mf.finish(*r, f, model_params(kind, user));
  // The models containing it come after it in ALL_MODELS.
  for (ModelResult& m : run.results) {
    if (!m.fitted || m.kind == kind) continue;
    const std::vector<ModelKind> inner = nested_in(m.kind);
    if (std::find(inner.begin(), inner.end(), kind) == inner.end()) continue;
    const ParamVector start = model_params(m.kind, user);
    Finished best{m.estimate, m.lnL, m.gradient_norm, true, false};
    std::vector<std::string> notes;
    mf.nest(m.kind, start, best, all_results(run), notes);
    if (!(best.lnL > m.lnL)) continue;
    m.notes.resize(m.fit_notes);
    m.notes.insert(m.notes.end(), notes.begin(), notes.end());
    mf.finish(m, best, start);
  }
  set_tests(run);
  return true;
}

}  // namespace pedseg
