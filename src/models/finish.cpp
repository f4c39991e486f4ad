// The quasi-Newton finish on the logit scale (NLopt's L-BFGS, bounded to the
// scale's limits), stopped by the gradient norm.
#include "models/finish.h"

#include <nlopt.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "params/codes.h"

namespace pedseg {

namespace {

// ln L at an impossible point, as the finish sees it: far below any
// possible point, yet finite for the line search.
constexpr double IMPOSSIBLE_FOR_FINISH = -1.0E30;
// The smallest second difference a scale is taken from (flat entries).
constexpr double FINISH_MIN_CURVATURE = 1.0E-2;
// Below this gradient norm the differences are central, above it forward.
constexpr double FINISH_CENTRAL_BELOW = 1.0E-2;

std::vector<int32_t> free_entries(const ParamVector& t) {
  std::vector<int32_t> e;
  for (int32_t i = 1; i <= t.size(); ++i)
    if (is_free(t, i)) e.push_back(i);
  return e;
}

// A value on or beyond a bound goes to the scale's limit.
double logit_of(const ParamVector& t, int32_t i) {
  const double range = t.high[i] - t.low[i];
  const double u = std::clamp((t.value[i] - t.low[i]) / range, 0.0, 1.0);
  const double z = std::log(u) - std::log1p(-u);
  return std::isnan(z) ? 0.0 : std::clamp(z, -FINISH_Z_LIMIT, FINISH_Z_LIMIT);
}

// The value at z, strictly inside the bounds; near the upper bound it is
// measured from that bound, so that both ends keep their precision.
double value_of(const ParamVector& t, int32_t i, double z) {
  const double range = t.high[i] - t.low[i];
  double x = z <= 0.0 ? t.low[i] + range * (1.0 / (1.0 + std::exp(-z)))
                      : t.high[i] - range * (1.0 / (1.0 + std::exp(z)));
  if (x <= t.low[i]) x = std::nextafter(t.low[i], t.high[i]);
  if (x >= t.high[i]) x = std::nextafter(t.high[i], t.low[i]);
  return x;
}

// The free entries of `point` on the logit scale, and back.
std::vector<double> to_logit_scale(const ParamVector& point, const std::vector<int32_t>& entries) {
  std::vector<double> z;
  for (int32_t i : entries) z.push_back(logit_of(point, i));
  return z;
}

void from_logit_scale(const std::vector<double>& z, const std::vector<int32_t>& entries,
                      ParamVector& point) {
  for (size_t a = 0; a < entries.size(); ++a)
    point.value[entries[a]] = value_of(point, entries[a], z[a]);
}

// ln L at z; `t` ends with the values there (links applied).
double evaluate_at(Fitter& fitter, TransRule rule, const ParamVector& base,
                   const std::vector<int32_t>& entries, const std::vector<double>& z,
                   ParamVector& t) {
  t = base;
  from_logit_scale(z, entries, t);
  return fitter.evaluate(t, rule);
}

double evaluate_at(Fitter& fitter, TransRule rule, const ParamVector& base,
                   const std::vector<int32_t>& entries, const std::vector<double>& z) {
  ParamVector t;
  return evaluate_at(fitter, rule, base, entries, z, t);
}

// Differences of ln L at z (ln L there: f0) along each entry, `step[a]`
// apart on the logit scale: central ones (and the second differences in
// `curvature`, when given), or forward ones when `forward`.  A side that is
// impossible gives the one-sided difference, both sides a zero.  The
// gradient goes to g; returns its norm after multiplying each component by
// `scale[a]`, the components of entries at the scale's limit that point
// outward left out.
double gradient_at(Fitter& fitter, TransRule rule, const ParamVector& base,
                   const std::vector<int32_t>& entries, const std::vector<double>& z, double f0,
                   const std::vector<double>& step, const std::vector<double>& scale,
                   bool forward, std::vector<double>& g,
                   std::vector<double>* curvature = nullptr) {
  const size_t n = entries.size();
  g.assign(n, 0.0);
  if (curvature != nullptr) curvature->assign(n, 0.0);
  double norm2 = 0.0;
  std::vector<double> y = z;
  for (size_t a = 0; a < n; ++a) {
    const double h = step[a];
    y[a] = z[a] + h;
    const double up = evaluate_at(fitter, rule, base, entries, y);
    double down = LH_SENTINEL;
    if (!forward || impossible_lh(up)) {
      y[a] = z[a] - h;
      down = evaluate_at(fitter, rule, base, entries, y);
    }
    y[a] = z[a];
    const bool up_ok = !impossible_lh(up), down_ok = !impossible_lh(down);
    if (up_ok && down_ok) {
      g[a] = (up - down) / (2.0 * h);
      if (curvature != nullptr) (*curvature)[a] = (up - 2.0 * f0 + down) / (h * h);
    } else if (up_ok) {
      g[a] = (up - f0) / h;
    } else if (down_ok) {
      g[a] = (f0 - down) / h;
    }
    const bool pushed_out = (z[a] >= FINISH_Z_LIMIT && g[a] > 0.0) ||
                            (z[a] <= -FINISH_Z_LIMIT && g[a] < 0.0);
    if (!pushed_out) norm2 += (g[a] * scale[a]) * (g[a] * scale[a]);
  }
  return std::sqrt(norm2);
}

// The state of one finish, seen by NLopt's objective.  The minimiser's
// variables are the logit values divided by `scale`.
struct Finish {
  Finish(Fitter& f, TransRule r, const ParamVector& b, const std::vector<int32_t>& e,
         const std::vector<KnownMaximum>& k, std::vector<double> z)
      : fitter(f), rule(r), base(b), entries(e), known(k), best_z(std::move(z)) {}

  Fitter& fitter;
  TransRule rule;
  const ParamVector& base;
  const std::vector<int32_t>& entries;
  std::vector<double> scale;   // z = scale * the minimiser's variable
  std::vector<double> step;    // of the differences, on the logit scale
  const std::vector<KnownMaximum>& known;
  std::vector<double> g;       // the last gradient (logit scale)
  std::vector<double> c;       // the last second differences (central ones)
  std::vector<double> best_z;  // the best point seen, where the finish ends
  std::vector<double> best_c;
  int32_t joined = -1;
  std::vector<double> start_z, start_g;  // the start and its gradient
  ParamVector best_point;
  double best = LH_SENTINEL;
  double best_norm = 0.0;
  double last_norm = 0.0;
  bool converged = false;

  // -ln L and its gradient, for a minimiser.
  double operator()(const std::vector<double>& w, std::vector<double>& grad) {
    std::vector<double> z(w.size());
    // (w at a bound times its scale can round past the limit)
    for (size_t a = 0; a < w.size(); ++a)
      z[a] = std::clamp(scale[a] * w[a], -FINISH_Z_LIMIT, FINISH_Z_LIMIT);
    ParamVector t;
    const double f = evaluate_at(fitter, rule, base, entries, z, t);
    if (impossible_lh(f)) {
      std::fill(grad.begin(), grad.end(), 0.0);
      return -IMPOSSIBLE_FOR_FINISH;
    }
    if (grad.empty()) return -f;
    if (z == start_z) {  // the gradient of the start is known
      g = start_g;
      for (size_t a = 0; a < grad.size(); ++a) grad[a] = -g[a] * scale[a];
      return -f;
    }
    // Forward differences while the gradient is steep, central ones near
    // the maximum.
    const bool forward = last_norm > FINISH_CENTRAL_BELOW;
    double norm = gradient_at(fitter, rule, base, entries, z, f, step, scale, forward, g,
                              forward ? nullptr : &c);
    if (forward && norm <= FINISH_CENTRAL_BELOW)
      norm = gradient_at(fitter, rule, base, entries, z, f, step, scale, false, g, &c);
    last_norm = norm;
    for (size_t a = 0; a < grad.size(); ++a) grad[a] = -g[a] * scale[a];
    for (size_t k = 0; k < known.size(); ++k) {
      if (near(known[k], z, f)) {
        joined = static_cast<int32_t>(k);
        throw nlopt::forced_stop();
      }
    }
    if (f > best || (f == best && norm < best_norm)) {
      best = f;
      best_z = z;
      best_point = std::move(t);
      best_norm = norm;
      if (c.size() == z.size()) best_c = c;
    }
    if (norm < FINISH_GRADIENT_TOL && f >= best) {
      converged = true;
      throw nlopt::forced_stop();
    }
    return -f;
  }

  // z lies in the neighbourhood of maximum k (ln L there: f).
  static bool near(const KnownMaximum& k, const std::vector<double>& z, double f) {
    if (k.z.size() != z.size() || k.curvature.size() != z.size() || f > k.lnL) return false;
    double d2 = 0.0;
    for (size_t a = 0; a < z.size(); ++a) {
      const double d = z[a] - k.z[a];
      if (std::fabs(d) > FINISH_JOIN_SPAN) return false;
      d2 += d * d * std::fabs(k.curvature[a]);
    }
    return d2 <= FINISH_JOIN_RADIUS * FINISH_JOIN_RADIUS;
  }

  static double call(const std::vector<double>& w, std::vector<double>& grad, void* data) {
    return (*static_cast<Finish*>(data))(w, grad);
  }
};

}  // namespace

FinishRun finish_search(Fitter& fitter, TransRule rule, ParamVector& point,
                        const std::vector<KnownMaximum>& known) {
  FinishRun run;
  const int64_t evaluations_before = fitter.evaluations();
  const std::vector<int32_t> entries = free_entries(point);
  const size_t n = entries.size();
  const ParamVector base = point;
  Finish state(fitter, rule, base, entries, known, to_logit_scale(point, entries));
  state.best = evaluate_at(fitter, rule, base, entries, state.best_z, state.best_point);
  std::vector<double> step(n, FINISH_Z_STEP);
  // Rounds: a line search that can go no further (the curvature changed
  // much since the scale was set) starts again from the best point with a
  // new scale.
  for (int round = 0; round < FINISH_ROUNDS && !impossible_lh(state.best); ++round) {
    const double round_start = state.best;
    // The scale: each entry's second difference brought to about 1, so
    // that the quasi-Newton method starts from a fair guess of the
    // curvature and the steps of the differences suit each entry.
    std::vector<double> curvature;
    const std::vector<double> unit(n, 1.0);
    gradient_at(fitter, rule, base, entries, state.best_z, state.best, step, unit, false, state.g,
                &curvature);
    state.best_c = curvature;
    state.start_z = state.best_z;
    state.start_g = state.g;
    state.scale.assign(n, 1.0);
    for (size_t a = 0; a < n; ++a) {
      state.scale[a] = 1.0 / std::sqrt(std::max(std::fabs(curvature[a]), FINISH_MIN_CURVATURE));
      step[a] = FINISH_Z_STEP * std::min(1.0, state.scale[a]);
    }
    state.step = step;
    double norm2 = 0.0;
    for (size_t a = 0; a < n; ++a) norm2 += std::pow(state.g[a] * state.scale[a], 2);
    state.best_norm = state.last_norm = std::sqrt(norm2);
    state.converged = state.best_norm < FINISH_GRADIENT_TOL;
    if (state.converged) break;
    std::vector<double> low(n), high(n), w(n);
    for (size_t a = 0; a < n; ++a) {
      low[a] = -FINISH_Z_LIMIT / state.scale[a];
      high[a] = FINISH_Z_LIMIT / state.scale[a];
      w[a] = std::clamp(state.best_z[a] / state.scale[a], low[a], high[a]);
    }
    nlopt::opt opt(nlopt::LD_LBFGS, static_cast<unsigned>(n));
    opt.set_lower_bounds(low);
    opt.set_upper_bounds(high);
    opt.set_maxeval(std::max(1, FINISH_MAX_EVALUATIONS / static_cast<int>(n + 1)));
    opt.set_ftol_rel(0.0);
    opt.set_xtol_rel(0.0);
    opt.set_min_objective(Finish::call, &state);
    double value = 0.0;
    try {
      opt.optimize(w, value);
    } catch (const std::runtime_error&) {
      // A forced stop (flat gradient, or a maximum found before) or a line
      // search that can go no further: the best point seen is the end.
    }
    if (state.converged || state.joined >= 0 || !(state.best > round_start)) break;
  }
  if (!impossible_lh(state.best)) point.value = state.best_point.value;
  run.joined = state.joined;
  run.end = {state.best_z, state.best_c, state.best};
  run.lnL = state.best;
  run.gradient_norm = state.best_norm;
  run.converged = state.converged;
  run.evaluations = static_cast<int32_t>(fitter.evaluations() - evaluations_before);
  return run;
}

}  // namespace pedseg
