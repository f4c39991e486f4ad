// The likelihood engine: the plan (plan.cpp), the vector kernels
// (kernels.cpp) and the thread pool (pool.cpp) put together, with the
// penetrances of the distinct trait values kept across evaluations and
// recomputed only for the genotypes whose mean, spike probability,
// polygenic effect or variance changed.  Families are evaluated in
// parallel, each into its own term, and the terms added afterwards in
// increasing family order.
//
// Families with member lists the kernels do not take (fewer than two
// entries, repeated members, a pivot that is neither a parent nor the child
// at position 3, or loops cut in lists out of peeling order) are evaluated
// by the plain code.

#include "likelihood/engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "likelihood/kernels.h"
#include "likelihood/plan.h"
#include "likelihood/pool.h"

namespace pedseg {

struct LikelihoodEngine::State {
  const PedigreeTables* ped = nullptr;
  const PolyTables* poly_tables = nullptr;
  const TraitView* view = nullptr;  // nullptr: TRAIT
  uint64_t view_stamp = 0;          // of the view the penetrances were computed under
  Plan plan;
  PolyLayout poly;
  EvalShared shared;
  std::vector<Arr> pen;  // by global number
  bool pen_valid = false;
  double pen_key[3][4] = {};  // per genotype: mean, spike probability, effect, variance
  std::vector<double> term;
  std::vector<uint8_t> floor_hit;
  std::vector<Scratch> scratch;  // per thread; never fewer than the pool's threads
  std::unique_ptr<LikWork> plain_work;  // for the families of the plain code
  int32_t plain_families = 0;
  int32_t threads_requested = 0;  // 0: default_threads()
  ThreadPool pool;  // last: its threads stop before the rest goes

  // Threads and their work arrays for the requested count (never more than
  // the families the kernels take, never fewer than 1).  The work arrays
  // come first, so that a pool left smaller by a failed thread start still
  // has one for each of its threads.
  void size_threads() {
    const int32_t want = std::max<int32_t>(
        1, std::min<int32_t>(threads_requested > 0 ? threads_requested : default_threads(),
                             static_cast<int32_t>(plan.order.size())));
    if (scratch.size() < static_cast<size_t>(want)) scratch.resize(static_cast<size_t>(want));
    for (Scratch& sc : scratch) {
      if (sc.L.size() < static_cast<size_t>(plan.max_nf) + 1)
        sc.L.assign(static_cast<size_t>(plan.max_nf) + 1, Arr{});
      if (plan.max_states > 0 && sc.state_terms.size() < static_cast<size_t>(plan.max_states)) {
        sc.shared.assign(static_cast<size_t>(plan.max_nf) + 1, Arr{});
        sc.state_terms.assign(static_cast<size_t>(plan.max_states), 0.0);
        sc.op_scale.assign(static_cast<size_t>(plan.max_ops), 0.0);
        sc.op_closing.assign(static_cast<size_t>(plan.max_ops), 0.0);
        sc.kid_sums.assign(static_cast<size_t>(plan.max_slots) * 9 * 7 * 2, V4{});
      }
    }
    pool.resize(want);
  }
};

namespace {

using State = LikelihoodEngine::State;

struct LoopCtx {
  const ModelQuantities* model;
  State* e;
  std::atomic<int32_t> next{0};
};

// Penetrances of the distinct trait values (of every individual under a
// view with covariates), in chunks, for the genotypes whose quantities
// moved.  The operations are those of PENETRANCE, or view_penetrance under a
// view (the tests compare against them), with the factors that do not
// depend on the individual formed once: the class means, 1 - SPIKE_PROB(g)
// and the square root.
// The penetrances of individual i under a view, as view_penetrance forms
// them: the class mean plus the individual's shift.
void view_penetrances(const TraitView& view, int32_t i, const ModelQuantities& model,
                      const double (&mean)[3][7], const double (&keep)[3], double root,
                      const bool* stale, double* v) {
  const TraitUse use = view.use[static_cast<size_t>(i)];
  const double var = model.RES_VAR;
  const double z = view.z[static_cast<size_t>(i)], shift = view.shift[static_cast<size_t>(i)];
  for (int g = 0; g < 3; ++g) {
    if (!stale[g]) continue;
    double* out = v + 8 * g;
    if (use == TraitUse::Missing) {
      for (int k = 0; k < 7; ++k) out[k] = 1.0;
    } else if (use == TraitUse::Spike) {
      for (int k = 0; k < 7; ++k) out[k] = model.SPIKE_PROB[g + 1];
    } else if (var <= 0.0) {
      for (int k = 0; k < 7; ++k) out[k] = 0.0;
    } else if (use == TraitUse::Threshold) {
      for (int k = 0; k < 7; ++k) out[k] = view_penetrance(view, model, i, g + 1, k + 1);
    } else {
      double q[7];
      for (int k = 0; k < 7; ++k) {
        const double d = z - (mean[g][k] + shift);
        q[k] = -((d * d / var) * 0.5);
      }
      for (int k = 0; k < 7; ++k) q[k] = std::exp(q[k]);
      for (int k = 0; k < 7; ++k) out[k] = (q[k] * keep[g]) / root;
    }
  }
}

void penetrance_loop(void* raw, int32_t) {
  LoopCtx& c = *static_cast<LoopCtx*>(raw);
  State& e = *c.e;
  const ModelQuantities& model = *c.model;
  const EvalShared& s = e.shared;
  const int32_t n = static_cast<int32_t>(e.plan.value_rep.size());
  const double var = model.RES_VAR;
  const double root = std::sqrt(var * TWO_PI_S);
  double mean[3][7], keep[3];
  for (int g = 0; g < 3; ++g) {
    keep[g] = 1.0 - model.SPIKE_PROB[g + 1];
    for (int k = 0; k < 7; ++k)
      mean[g][k] = static_cast<double>(k + 1 - 4) * model.POLY_EFFECT + model.GEN_MEAN[g + 1];
  }
  constexpr int32_t chunk = 256;
  for (;;) {
    const int32_t first = c.next.fetch_add(chunk, std::memory_order_relaxed);
    if (first >= n) break;
    const int32_t last = std::min(n, first + chunk);
    for (int32_t u = first; u < last; ++u) {
      const int32_t i = e.plan.value_rep[static_cast<size_t>(u)];
      double* v = e.pen[static_cast<size_t>(i)].v;
      if (e.view != nullptr) {
        view_penetrances(*e.view, i, model, mean, keep, root, s.pen_stale, v);
        continue;
      }
      const float y = e.ped->TRAIT[i];
      for (int g = 0; g < 3; ++g) {
        if (!s.pen_stale[g]) continue;
        double* out = v + 8 * g;
        if (trait_missing(y)) {
          for (int k = 0; k < 7; ++k) out[k] = 1.0;
        } else if (trait_in_spike(y)) {
          for (int k = 0; k < 7; ++k) out[k] = model.SPIKE_PROB[g + 1];
        } else if (var <= 0.0) {
          for (int k = 0; k < 7; ++k) out[k] = 0.0;
        } else {
          double q[7];
          for (int k = 0; k < 7; ++k) {
            const double d = static_cast<double>(y) - mean[g][k];
            q[k] = -((d * d / var) * 0.5);
          }
          for (int k = 0; k < 7; ++k) q[k] = std::exp(q[k]);
          for (int k = 0; k < 7; ++k) out[k] = (q[k] * keep[g]) / root;
        }
      }
    }
  }
}

void family_loop(void* raw, int32_t thread) {
  LoopCtx& c = *static_cast<LoopCtx*>(raw);
  State& e = *c.e;
  Scratch& sc = e.scratch[static_cast<size_t>(thread)];
  const int32_t n = static_cast<int32_t>(e.plan.order.size());
  for (;;) {
    const int32_t i = c.next.fetch_add(1, std::memory_order_relaxed);
    if (i >= n) break;
    const int32_t f = e.plan.order[static_cast<size_t>(i)];
    double T = 0.0;
    bool hit = false;
    family_term(e.plan, f, e.pen.data(), e.shared, e.poly, sc, T, hit);
    e.term[f] = T;
    e.floor_hit[f] = hit ? 1 : 0;
  }
}

const PedigreeTables& within_sizes(const PedigreeTables& ped, const PolyTables& poly) {
  const int32_t nfam = ped.PED_START[0];
  if (nfam < 0 || nfam > N_FAM || poly.NCLASS != 7) {
    throw std::invalid_argument("LikelihoodEngine: NFAM outside 0 to 604 or NCLASS not 7");
  }
  return ped;
}

}  // namespace

LikelihoodEngine::LikelihoodEngine(const PedigreeTables& ped, const PolyTables& poly,
                                   int32_t threads)
    : LikelihoodEngine(ped, build_layout(within_sizes(ped, poly)), poly, threads) {}

LikelihoodEngine::LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                                   const PolyTables& poly, const TraitView& view,
                                   int32_t threads, Peeling peeling)
    : LikelihoodEngine(ped, layout, poly, threads, &view, peeling) {}

LikelihoodEngine::LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                                   const PolyTables& poly, int32_t threads)
    : LikelihoodEngine(ped, layout, poly, threads, nullptr, Peeling::Full) {}

LikelihoodEngine::LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                                   const PolyTables& poly, int32_t threads,
                                   const TraitView* view, Peeling peeling)
    : state_(std::make_unique<State>()) {
  const int32_t nfam = within_sizes(ped, poly).PED_START[0];
  if (layout.nfam() != nfam)
    throw std::invalid_argument("LikelihoodEngine: the layout is not of these tables");
  State& e = *state_;
  e.ped = &ped;
  e.poly_tables = &poly;
  e.view = view;
  e.threads_requested = std::max(0, threads);
  e.plan = build_plan(ped, layout, view, peeling);
  build_poly(poly, e.poly);
  e.pen.assign(static_cast<size_t>(e.plan.max_global) + 1, Arr{});
  e.term.assign(static_cast<size_t>(nfam) + 2, 0.0);
  e.floor_hit.assign(static_cast<size_t>(nfam) + 2, 0);
  if (!e.plan.irregular.empty()) e.plain_work = std::make_unique<LikWork>();
  e.size_threads();
}

LikelihoodEngine::~LikelihoodEngine() = default;

int32_t LikelihoodEngine::threads() const { return state_->pool.size(); }

void LikelihoodEngine::set_threads(int32_t threads) {
  state_->threads_requested = std::max(0, threads);
  state_->size_threads();
}

double LikelihoodEngine::family_term(int32_t f) const {
  const State& e = *state_;
  if (f < 0 || static_cast<size_t>(f) >= e.term.size()) return 0.0;
  return e.term[static_cast<size_t>(f)];
}
bool LikelihoodEngine::family_floor(int32_t f) const {
  const State& e = *state_;
  if (f < 0 || static_cast<size_t>(f) >= e.floor_hit.size()) return false;
  return e.floor_hit[static_cast<size_t>(f)] != 0;
}
int32_t LikelihoodEngine::plain_families() const { return state_->plain_families; }

double LikelihoodEngine::sample_loglik(ParamTable& par, ModelQuantities& model) {
  double MODEL_STATUS = 1.0;
  SET_MODEL_SEARCH(par, model, MODEL_STATUS);
  if (MODEL_STATUS <= LH_SENTINEL) return LH_SENTINEL;
  return families_loglik(model);
}

double LikelihoodEngine::families_loglik(const ModelQuantities& model) {
  State& e = *state_;
  EvalShared& s = e.shared;
  prepare_shared(model, *e.poly_tables, e.poly, s);

  // The penetrances of genotype g depend on its mean and spike probability,
  // the polygenic effect and the variance; a move of one mean or one spike
  // probability recomputes one genotype's values.  Under a view, new values
  // of the view (a move of a beta or of lambda1) recompute all three.
  s.any_pen_stale = false;
  const bool view_moved = e.view != nullptr && e.view->stamp != e.view_stamp;
  if (e.view != nullptr) e.view_stamp = e.view->stamp;
  for (int g = 0; g < 3; ++g) {
    const double key[4] = {model.GEN_MEAN[g + 1], model.SPIKE_PROB[g + 1], model.POLY_EFFECT,
                           model.RES_VAR};
    s.pen_stale[g] =
        !e.pen_valid || view_moved || std::memcmp(key, e.pen_key[g], sizeof key) != 0;
    s.any_pen_stale |= s.pen_stale[g];
    std::memcpy(e.pen_key[g], key, sizeof key);
  }
  if (s.any_pen_stale) {
    LoopCtx pctx;
    pctx.model = &model;
    pctx.e = &e;
    e.pool.run(&penetrance_loop, &pctx);
    for (const auto& [i, from] : e.plan.value_copy)
      e.pen[static_cast<size_t>(i)] = e.pen[static_cast<size_t>(from)];
    e.pen_valid = true;
  }
  LoopCtx ctx;
  ctx.model = &model;
  ctx.e = &e;
  e.pool.run(&family_loop, &ctx);

  // Families the kernels do not take.
  e.plain_families = static_cast<int32_t>(e.plan.irregular.size());
  for (int32_t f : e.plan.irregular) {
    double T = 0.0;
    bool hit = false;
    FAMILY_TERM_PLAIN(f, e.plan.layout, *e.ped, model, *e.poly_tables, *e.plain_work, T, hit,
                      e.view);
    e.term[f] = T;
    e.floor_hit[f] = hit ? 1 : 0;
  }

  // The terms in increasing family order, as the plain loop adds them.
  double LL = 0.0;
  for (int32_t f = 1; f <= e.plan.layout.nfam(); ++f) {
    if (!e.plan.layout[f].evaluated) continue;
    if (e.floor_hit[f]) return LH_SENTINEL;
    LL = LL + e.term[f];
  }
  if (e.view != nullptr) LL = LL + e.view->log_jacobian;
  if (!std::isfinite(LL)) LL = LH_SENTINEL;
  return LL;
}

}  // namespace pedseg
