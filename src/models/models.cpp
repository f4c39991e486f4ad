#include "models/models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "params/codes.h"

namespace pedseg {

namespace {

constexpr const char* MODEL_NAMES[MODEL_COUNT] = {"sporadic", "polygenic",     "major",
                                                  "mixed",    "environmental", "general"};
// The step of a parameter a model frees while par.inp gives it none, as a
// share of its range.
constexpr double FREED_STEP_SHARE = 0.05;
// Frequencies q of the spread starts (start 3 onward), then a deterministic
// sequence inside (0.05, 0.95).
constexpr double SPREAD_Q[] = {0.1, 0.5, 0.3};
constexpr int PROGRESS_EVERY = 200;  // evaluations between progress lines

int index_of(ModelKind k) { return static_cast<int>(k); }

bool no_gene(ModelKind k) { return k == ModelKind::Sporadic || k == ModelKind::Polygenic; }

// The user's values as a group: slot `head` keeps them, `members` take its
// value.  A head linked into its own group would make a cycle: it becomes
// its own parameter, free when any slot of the group was.
void make_group(ParamTable& t, int head, std::initializer_list<int> members) {
  bool any_free = t.PAR_EST[head] != 0;
  bool head_in_group = false;
  for (int m : members) {
    any_free = any_free || t.PAR_EST[m] != 0;
    head_in_group = head_in_group || t.PAR_LINK[head] == m;
  }
  if (head_in_group) {
    t.PAR_LINK[head] = head;
    t.PAR_EST[head] = any_free ? 1 : 0;
  }
  for (int m : members) {
    t.PAR_LINK[m] = head;
    t.PAR_EST[m] = 0;
  }
}

void fix_slot(ParamTable& t, int i, double v) {
  t.PAR_VAL[i] = v;
  t.PAR_EST[i] = 0;
  t.PAR_LINK[i] = i;
}

void free_slot(ParamTable& t, int i) {
  t.PAR_EST[i] = 1;
  t.PAR_LINK[i] = i;
  if (t.PAR_STEP[i] == 0.0) t.PAR_STEP[i] = FREED_STEP_SHARE * (t.PAR_HIGH[i] - t.PAR_LOW[i]);
}

bool is_free(const ParamTable& t, int i) { return t.PAR_EST[i] != 0 && t.PAR_LINK[i] == i; }

// `start` with the values of a nested model's estimate in every slot this
// model varies (free or linked); fixed slots keep their values.
ParamTable warm_table(const ParamTable& start, const ParamTable& nested) {
  ParamTable t = start;
  for (int i = 1; i <= NPAR_USED; ++i)
    if (start.PAR_EST[i] != 0 || start.PAR_LINK[i] != i) t.PAR_VAL[i] = nested.PAR_VAL[i];
  return t;
}

// A copy the search mapping accepts: free slots lying on or beyond a bound
// are held where they are.
ParamTable evaluable(const ParamTable& table) {
  ParamTable t = table;
  for (int i = 1; i <= NPAR_USED; ++i)
    if (t.PAR_EST[i] != 0 && (t.PAR_VAL[i] <= t.PAR_LOW[i] || t.PAR_VAL[i] >= t.PAR_HIGH[i]))
      t.PAR_EST[i] = 0;
  return t;
}

bool same_start(const ParamTable& a, const ParamTable& b) {
  for (int i = 1; i <= NPAR_USED; ++i) {
    if (a.PAR_VAL[i] != b.PAR_VAL[i] || a.PAR_EST[i] != b.PAR_EST[i] ||
        a.PAR_LINK[i] != b.PAR_LINK[i] || a.PAR_STEP[i] != b.PAR_STEP[i])
      return false;
  }
  return true;
}

// Measured trait values outside the spike, sorted: the quantiles of the
// spread starts.
std::vector<float> sorted_traits(const SampleTables& s) {
  std::vector<float> v;
  const PedigreeTables& ped = *s.ped;
  for (int32_t f = 1; f <= ped.NFAM; ++f)
    for (int32_t i = ped.PED_START[f] + 1; i <= ped.PED_START[f + 1]; ++i)
      if (trait_above_missing(ped.TRAIT[i]) && !trait_in_spike(ped.TRAIT[i]))
        v.push_back(ped.TRAIT[i]);
  std::sort(v.begin(), v.end());
  return v;
}

double quantile(const std::vector<float>& v, double p) {
  const size_t k = static_cast<size_t>(std::floor(std::clamp(p, 0.0, 1.0) * (v.size() - 1)));
  return static_cast<double>(v[k]);
}

void set_inside(ParamTable& t, int i, double v) {
  if (v > t.PAR_LOW[i] && v < t.PAR_HIGH[i]) t.PAR_VAL[i] = v;
}

// Start k >= 3: q from SPREAD_Q (then a golden-ratio sequence) and the
// genotype means at the trait quantiles those frequencies imply, the genotype
// that par.inp puts highest taking the upper tail.
ParamTable spread_table(const ParamTable& start, const std::vector<float>& traits, int k) {
  ParamTable t = start;
  const int n = static_cast<int>(std::size(SPREAD_Q));
  double q = k - 3 < n ? SPREAD_Q[k - 3]
                       : 0.05 + 0.9 * std::fmod(0.6180339887498949 * (k - 3 - n + 1), 1.0);
  if (is_free(t, 1)) set_inside(t, 1, q);
  q = t.PAR_VAL[1];
  if (traits.empty()) return t;
  if (t.PAR_LINK[6] == 5 && t.PAR_LINK[7] == 5) {
    if (is_free(t, 5)) set_inside(t, 5, quantile(traits, 0.5));
    return t;
  }
  const double f1 = q * q, f2 = 2.0 * q * (1.0 - q), f3 = (1.0 - q) * (1.0 - q);
  const bool first_high = start.PAR_VAL[5] >= start.PAR_VAL[7];
  const double p1 = first_high ? 1.0 - f1 / 2.0 : f1 / 2.0;
  const double p2 = first_high ? f3 + f2 / 2.0 : f1 + f2 / 2.0;
  const double p3 = first_high ? f3 / 2.0 : 1.0 - f3 / 2.0;
  const double p[3] = {p1, p2, p3};
  for (int g = 0; g < 3; ++g)
    if (is_free(t, 5 + g)) set_inside(t, 5 + g, quantile(traits, p[g]));
  return t;
}

struct Fitted {
  ParamTable table;
  double lnL = LH_SENTINEL;
  bool iteration_limit = false;
};

int32_t count_free(const ParamTable& t) {
  int32_t n = 0;
  for (int i = 1; i <= NPAR_USED; ++i) n += t.PAR_EST[i] != 0 ? 1 : 0;
  return n;
}

}  // namespace

std::string lh_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

const char* model_name(ModelKind kind) { return MODEL_NAMES[index_of(kind)]; }

std::optional<ModelKind> model_from_name(const std::string& name) {
  for (ModelKind k : ALL_MODELS)
    if (name == model_name(k)) return k;
  return std::nullopt;
}

const char* status_name(ParamStatus s) {
  switch (s) {
    case ParamStatus::Free: return "free";
    case ParamStatus::Fixed: return "fixed";
    case ParamStatus::Linked: return "linked";
    case ParamStatus::Constrained: return "constrained";
    case ParamStatus::AtBound: return "at_bound";
  }
  return "";
}

ParamTable model_table(ModelKind kind, const ParamTable& user) {
  ParamTable t = user;
  t.NPAR = NPAR_USED;
  if (kind != ModelKind::Environmental && kind != ModelKind::General) {
    fix_slot(t, 8, 1.0);
    fix_slot(t, 9, 0.5);
    fix_slot(t, 10, 0.0);
  }
  if (no_gene(kind)) {
    t.PAR_EST[1] = 0;  // q has no effect without a gene: held at its start
    make_group(t, 2, {3, 4});
    make_group(t, 5, {6, 7});
  }
  // The polygenic effect defines the models that have one: freed there even
  // when par.inp holds it, so that the models without it are nested.
  if (kind == ModelKind::Sporadic || kind == ModelKind::Major) {
    fix_slot(t, 11, 0.0);
  } else if (t.PAR_EST[11] == 0 || t.PAR_LINK[11] != 11) {
    free_slot(t, 11);
  }
  if (kind == ModelKind::Environmental) {
    for (int i = 8; i <= 10; ++i) {
      t.PAR_LINK[i] = 1;
      t.PAR_EST[i] = 0;
    }
  }
  if (kind == ModelKind::General)
    for (int i = 8; i <= 10; ++i) free_slot(t, i);
  return t;
}

TransRule model_rule(ModelKind kind) {
  if (kind == ModelKind::Environmental) return TransRule::TausEqualQ;
  if (kind == ModelKind::General) return TransRule::Taus;
  return TransRule::Mapping;
}

std::vector<ModelKind> nested_in(ModelKind kind) {
  using K = ModelKind;
  switch (kind) {
    case K::Sporadic: return {};
    case K::Polygenic: return {K::Sporadic};
    case K::Major: return {K::Sporadic};
    case K::Mixed: return {K::Sporadic, K::Polygenic, K::Major};
    case K::Environmental: return {K::Sporadic, K::Polygenic};
    case K::General: return {K::Sporadic, K::Polygenic, K::Major, K::Mixed, K::Environmental};
  }
  return {};
}

std::optional<ModelKind> test_model(ModelKind kind) {
  using K = ModelKind;
  switch (kind) {
    case K::Sporadic: return K::Polygenic;
    case K::Polygenic: return K::Mixed;
    case K::Major: return K::Mixed;
    case K::Mixed: return K::General;
    case K::Environmental: return K::General;
    case K::General: return std::nullopt;
  }
  return std::nullopt;
}

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

double maximise_model(Fitter& fitter, ModelKind kind, ParamTable& table) {
  return fitter.search(table, model_rule(kind)).lnL;
}

bool model_quantities(Fitter& fitter, ModelKind kind, const ParamTable& table,
                      ModelQuantities& quantities) {
  return fitter.quantities(evaluable(table), model_rule(kind), quantities);
}

namespace {

// The statuses of the slots at the estimate; `start` tells the model's own
// links from the user's.
void set_statuses(ModelResult& r, const ParamTable& user) {
  const ParamTable& t = r.estimate;
  for (int i = 1; i <= NPAR_USED; ++i) {
    if (t.PAR_LINK[i] != i) {
      r.status[i] = user.PAR_LINK[i] == t.PAR_LINK[i] ? ParamStatus::Linked
                                                        : ParamStatus::Constrained;
    } else if (t.PAR_EST[i] == 0) {
      r.status[i] = ParamStatus::Fixed;
    } else {
      const double h = derivative_step(t, i);
      const bool near = t.PAR_VAL[i] - h <= t.PAR_LOW[i] || t.PAR_VAL[i] + h >= t.PAR_HIGH[i];
      r.status[i] = near ? ParamStatus::AtBound : ParamStatus::Free;
    }
  }
  std::string at;
  for (int i = 1; i <= NPAR_USED; ++i)
    if (r.status[i] == ParamStatus::AtBound) at += std::string(at.empty() ? "" : ", ") + PARAM_NAME[i];
  if (!at.empty()) r.notes.push_back("at a bound: " + at);
}

class ModelFitter {
 public:
  ModelFitter(const SampleTables& s, Fitter& f, const ModelsOptions& o, const ProgressLine& p)
      : sample_(s), fitter_(f), options_(o), progress_(p), traits_(sorted_traits(s)) {}

  ModelResult fit(ModelKind kind, const std::vector<ModelResult>& done) {
    ModelResult r;
    r.kind = kind;
    const ParamTable start = model_table(kind, sample_.par);
    const ModelResult* best_nested = nullptr;
    for (ModelKind m : nested_in(kind))
      for (const ModelResult& d : done)
        if (d.kind == m && d.fitted && (best_nested == nullptr || d.lnL > best_nested->lnL))
          best_nested = &d;

    std::vector<ParamTable> tried;
    std::vector<double> lnls;
    Fitted best;
    bool any_impossible = false;
    for (int k = 1; k <= options_.starts; ++k) {
      ParamTable t;
      if (k == 1) {
        t = start;
      } else if (k == 2) {
        if (best_nested == nullptr) continue;
        t = warm_table(start, best_nested->estimate);
      } else {
        t = spread_table(start, traits_, k);
      }
      if (std::any_of(tried.begin(), tried.end(),
                      [&](const ParamTable& u) { return same_start(u, t); }))
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
  void nest(ModelKind kind, const ParamTable& start, Fitted& best,
            const std::vector<ModelResult>& done, std::vector<std::string>& notes) {
    for (ModelKind m : nested_in(kind)) {
      const ModelResult* d = nullptr;
      for (const ModelResult& x : done)
        if (x.kind == m && x.fitted) d = &x;
      if (d == nullptr || !(d->lnL > best.lnL)) continue;
      Fitted f = search(kind, warm_table(start, d->estimate),
                        std::string("restart from ") + model_name(m));
      std::string note = std::string("restarted from the estimates of ") + model_name(m);
      if (f.lnL > best.lnL) best = f;
      if (d->lnL > best.lnL) {
        // The nested estimate is itself a point of this model.
        ParamTable e = warm_table(start, d->estimate);
        ParamTable probe = evaluable(e);
        const double lnL = fitter_.evaluate(probe, model_rule(kind));
        if (lnL >= d->lnL) {
          // Values with the links applied; flags as the model has them, so
          // that a slot held on its bound shows as at_bound.
          for (int i = 1; i <= NPAR_USED; ++i) {
            e.PAR_VAL[i] = probe.PAR_VAL[i];
            if (e.PAR_LINK[i] != i) e.PAR_EST[i] = 0;
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
  void finish(ModelResult& r, Fitted best, const ParamTable& start) {
    // The model's own steps, so that a search from the estimate (a profile)
    // explores as a search from the start does.
    for (int i = 1; i <= NPAR_USED; ++i) best.table.PAR_STEP[i] = start.PAR_STEP[i];
    r.estimate = best.table;
    r.lnL = best.lnL;
    r.n_free = count_free(best.table);
    r.fit_notes = r.notes.size();
    if (best.iteration_limit) r.notes.push_back("the search stopped at its iteration limit");
    set_statuses(r, sample_.par);
    std::fill(std::begin(r.has_se), std::end(r.has_se), false);
    std::fill(std::begin(r.se), std::end(r.se), 0.0);
    if (options_.standard_errors) standard_errors(fitter_, r);
  }

  Fitted search(ModelKind kind, ParamTable t, const std::string& what) {
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
  const SampleTables& sample_;
  Fitter& fitter_;
  const ModelsOptions& options_;
  const ProgressLine& progress_;
  std::vector<float> traits_;
};

// The likelihood-ratio test of r against the larger model g.
void set_test(ModelResult& r, const ModelResult& g) {
  r.tested = true;
  r.against = g.kind;
  r.df = g.n_free - r.n_free;
  r.chisq = std::max(0.0, 2.0 * (g.lnL - r.lnL));
  if (r.df <= 0) {
    r.tested = false;
    r.test_note = std::string("no test: ") + model_name(g.kind) + " varies no more parameters";
    return;
  }
  using K = ModelKind;
  const bool boundary_one = (r.kind == K::Sporadic || r.kind == K::Major) && r.df == 1;
  const bool boundary_taus = r.kind == K::Mixed && r.df == 3 && g.estimate.PAR_HIGH[8] == 1.0 &&
                             g.estimate.PAR_LOW[10] == 0.0;
  if (boundary_one) {
    r.p = p_chisq_mixture(r.chisq, {0.5, 0.5});
  } else if (boundary_taus) {
    r.p = p_chisq_mixture(r.chisq, {0.0, 0.25, 0.5, 0.25});
  } else {
    r.p = p_chisq(r.chisq, r.df);
  }
  if (r.kind == K::Polygenic)
    r.test_note = "p approximate: q is not identified without a major gene";
}

void set_tests(ModelsRun& run) {
  for (ModelResult& r : run.results) {
    r.tested = false;
    r.test_note.clear();
    const std::optional<ModelKind> g = test_model(r.kind);
    if (!g || !r.fitted) continue;
    const ModelResult* larger = run.find(*g);
    if (larger != nullptr && larger->fitted) set_test(r, *larger);
  }
}

}  // namespace

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
                 const ModelsOptions& options, ModelKind kind, const ParamTable& from,
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
  mf.finish(*r, f, model_table(kind, sample.par));
  // The models containing it come after it in ALL_MODELS.
  for (ModelResult& m : run.results) {
    if (!m.fitted || m.kind == kind) continue;
    const std::vector<ModelKind> inner = nested_in(m.kind);
    if (std::find(inner.begin(), inner.end(), kind) == inner.end()) continue;
    const ParamTable start = model_table(m.kind, sample.par);
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
