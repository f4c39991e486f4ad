// The fit of each model of the table: its starts, the nesting restarts, the
// statuses and standard errors at the estimate; re-fits from a better point.
#include <algorithm>

#include "models/models.h"
#include "models/starts.h"
#include "params/codes.h"

namespace pedseg {

namespace {

constexpr int PROGRESS_EVERY = 200;  // evaluations between progress lines

struct Fitted {
  ParamVector point;
  double lnL = LH_SENTINEL;
  bool iteration_limit = false;
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

class ModelFitter {
 public:
  ModelFitter(const SampleTables& s, Fitter& f, const ModelsOptions& o, const ProgressLine& p)
      : user_(slot_params(s.par)), fitter_(f), options_(o), progress_(p),
        traits_(sorted_traits(s)) {}

  ModelResult fit(ModelKind kind, const std::vector<ModelResult>& done) {
    ModelResult r;
    r.kind = kind;
    const ParamVector start = model_params(kind, user_);
    const ModelResult* best_nested = nullptr;
    for (ModelKind m : nested_in(kind))
      for (const ModelResult& d : done)
        if (d.kind == m && d.fitted && (best_nested == nullptr || d.lnL > best_nested->lnL))
          best_nested = &d;

    std::vector<ParamVector> tried;
    std::vector<double> lnls;
    Fitted best;
    bool any_impossible = false;
    for (int k = 1; k <= options_.starts; ++k) {
      ParamVector t;
      if (k == 1) {
        t = start;
      } else if (k == 2) {
        if (best_nested == nullptr) continue;
        t = warm_start(start, best_nested->estimate);
      } else {
        t = spread_start(start, traits_, k);
      }
      if (std::any_of(tried.begin(), tried.end(),
                      [&](const ParamVector& u) { return same_start(u, t); }))
        continue;
      tried.push_back(t);
      Fitted f = search(kind, t, "start " + std::to_string(k));
      if (impossible_lh(f.lnL)) {
        any_impossible = true;
        continue;
      }
      lnls.push_back(f.lnL);
      if (f.lnL > best.lnL) best = f;
    }
    r.starts = static_cast<int32_t>(tried.size());
    if (lnls.empty()) {
      r.notes.push_back("no start gave a possible point");
      return r;
    }
    if (any_impossible) r.notes.push_back("some starts were impossible points");

    nest(kind, start, best, done, r.notes);
    r.fitted = true;
    for (double v : lnls) r.starts_agreeing += v >= best.lnL - STARTS_AGREE ? 1 : 0;
    finish(r, best, start);
    return r;
  }

  // Nesting: never below a model this one contains (those of `done`).
  void nest(ModelKind kind, const ParamVector& start, Fitted& best,
            const std::vector<ModelResult>& done, std::vector<std::string>& notes) {
    for (ModelKind m : nested_in(kind)) {
      const ModelResult* d = nullptr;
      for (const ModelResult& x : done)
        if (x.kind == m && x.fitted) d = &x;
      if (d == nullptr || !(d->lnL > best.lnL)) continue;
      Fitted f = search(kind, warm_start(start, d->estimate),
                        std::string("restart from ") + model_name(m));
      std::string note = std::string("restarted from the estimates of ") + model_name(m);
      if (f.lnL > best.lnL) best = f;
      if (d->lnL > best.lnL) {
        // The nested estimate is itself a point of this model.
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
          best = Fitted{e, lnL, false};
          note += ", whose point is kept (the search ended lower)";
        }
      }
      if (d->lnL > best.lnL)
        note += std::string(": still below it, whose estimate is not a point of this model") +
                " (values that par.inp fixes differ)";
      notes.push_back(note);
    }
  }

  // The row at the estimate `best`: what the searches noted stays, what
  // depends on the estimate (statuses, standard errors) is made again.
  void finish(ModelResult& r, Fitted best, const ParamVector& start) {
    // The model's own steps, so that a search from the estimate (a profile)
    // explores as a search from the start does.
    best.point.step = start.step;
    r.estimate = best.point;
    r.lnL = best.lnL;
    r.n_free = count_free(best.point);
    r.fit_notes = r.notes.size();
    if (best.iteration_limit) r.notes.push_back("the search stopped at its iteration limit");
    set_statuses(r);
    if (options_.standard_errors) standard_errors(fitter_, r);
    interim_optima_and_derived(r);  // stand-in until the global fits are merged
  }

  Fitted search(ModelKind kind, ParamVector t, const std::string& what) {
    const std::string label = std::string(model_name(kind)) + ", " + what;
    FitProgress tick;
    if (progress_) {
      tick = [&](int32_t evals, double best) {
        if (evals % PROGRESS_EVERY == 0)
          progress_(label + ": " + std::to_string(evals) + " evaluations, best ln LH " +
                    lh_text(best));
      };
    }
    SearchRun run = fitter_.search(t, model_rule(kind), tick);
    if (progress_) {
      progress_(label + ": " +
                (run.impossible_start ? std::string("impossible starting point")
                                      : "ln LH " + lh_text(run.lnL) + " after " +
                                            std::to_string(run.evaluations) + " evaluations"));
    }
    if (run.impossible_start) return Fitted{t, LH_SENTINEL, false};
    return Fitted{t, run.lnL, run.iteration_limit};
  }

 private:
  const ParamVector user_;
  Fitter& fitter_;
  const ModelsOptions& options_;
  const ProgressLine& progress_;
  std::vector<float> traits_;
};

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

double maximise_model(Fitter& fitter, ModelKind kind, ParamVector& point) {
  return fitter.search(point, model_rule(kind)).lnL;
}

bool model_quantities(Fitter& fitter, ModelKind kind, const ParamVector& point,
                      ModelQuantities& quantities) {
  return fitter.quantities(evaluable(point), model_rule(kind), quantities);
}

ModelsRun run_models(const SampleTables& sample, Fitter& fitter, const ModelsOptions& options,
                     const ProgressLine& progress) {
  ModelsRun run;
  ModelFitter mf(sample, fitter, options, progress);
  for (ModelKind k : ALL_MODELS) {
    if (std::find(options.models.begin(), options.models.end(), k) == options.models.end())
      continue;
    run.results.push_back(mf.fit(k, run.results));
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
  const Fitted f = mf.search(kind, from, "re-fit");
  if (impossible_lh(f.lnL) || !(f.lnL > r->lnL)) return false;
  // The re-fit is one more start; the earlier ones agree only if close to it.
  r->starts_agreeing = 1 + (r->lnL >= f.lnL - STARTS_AGREE ? r->starts_agreeing : 0);
  r->starts += 1;
  r->notes.resize(r->fit_notes);
  r->notes.push_back(why);
  const ParamVector user = slot_params(sample.par);
  mf.finish(*r, f, model_params(kind, user));
  // The models containing it come after it in ALL_MODELS.
  for (ModelResult& m : run.results) {
    if (!m.fitted || m.kind == kind) continue;
    const std::vector<ModelKind> inner = nested_in(m.kind);
    if (std::find(inner.begin(), inner.end(), kind) == inner.end()) continue;
    const ParamVector start = model_params(m.kind, user);
    Fitted best{m.estimate, m.lnL, false};
    std::vector<std::string> notes;
    mf.nest(m.kind, start, best, run.results, notes);
    if (!(best.lnL > m.lnL)) continue;
    m.notes.resize(m.fit_notes);
    m.notes.insert(m.notes.end(), notes.begin(), notes.end());
    mf.finish(m, best, start);
  }
  set_tests(run);
  return true;
}

}  // namespace pedseg
