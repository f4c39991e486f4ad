// Standard errors: the Hessian of ln LH over the free parameters by central
// differences with one Richardson extrapolation, and its inverse.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <vector>

#include "models/models.h"
#include "params/codes.h"

namespace pedseg {

namespace {

// The step is this share of the parameter's magnitude, or of this share of
// its range when the magnitude is smaller.
constexpr double STEP_RELATIVE = 1.0E-3;
constexpr double STEP_RANGE_SHARE = 1.0E-2;

}  // namespace

double derivative_step(const ParamVector& point, int32_t i) {
  const double range = point.high[i] - point.low[i];
  return STEP_RELATIVE * std::max(std::fabs(point.value[i]), STEP_RANGE_SHARE * range);
}

void standard_errors(Fitter& fitter, ModelResult& r) {
  if (!r.fitted) return;
  set_derived(r, {}, {});
  const TransRule rule = model_rule(r.kind);
  std::vector<int32_t> entries;
  ParamVector base = r.estimate;
  bool held = false;
  for (int32_t i = 1; i <= base.size(); ++i) {
    if (r.status[i] == ParamStatus::Free) entries.push_back(i);
    if (r.status[i] == ParamStatus::AtBound) {
      base.est[i] = 0;  // held at the estimate
      held = true;
    }
  }
  const int n = static_cast<int>(entries.size());
  if (n == 0) return;
  std::vector<double> h(n);
  for (int a = 0; a < n; ++a) h[a] = derivative_step(base, entries[a]);

  bool impossible = false;
  ParamVector t = base;
  auto f = [&](int a, double da, int b, double db) {
    // The evaluation changes values and flags only (links).
    t.value = base.value;
    t.est = base.est;
    if (a >= 0) t.value[entries[a]] += da;
    if (b >= 0) t.value[entries[b]] += db;
    const double v = fitter.evaluate(t, rule);
    if (impossible_lh(v)) impossible = true;
    return v;
  };
  const double f0 = f(-1, 0.0, -1, 0.0);
  // Second differences at steps s*h: the diagonal from f(x +- h_a), the rest
  // from f(x + h_a + h_b) and f(x - h_a - h_b) with the diagonal points.
  auto differences = [&](double s) {
    Eigen::MatrixXd D(n, n);
    std::vector<double> plus(n), minus(n);
    for (int a = 0; a < n; ++a) {
      plus[a] = f(a, s * h[a], -1, 0.0);
      minus[a] = f(a, -s * h[a], -1, 0.0);
      const double ha = s * h[a];
      D(a, a) = (plus[a] - 2.0 * f0 + minus[a]) / (ha * ha);
    }
    for (int a = 0; a < n; ++a) {
      for (int b = a + 1; b < n; ++b) {
        const double pp = f(a, s * h[a], b, s * h[b]);
        const double mm = f(a, -s * h[a], b, -s * h[b]);
        const double v = (pp - plus[a] - plus[b] + 2.0 * f0 - minus[a] - minus[b] + mm) /
                         (2.0 * (s * h[a]) * (s * h[b]));
        D(a, b) = v;
        D(b, a) = v;
      }
    }
    return D;
  };
  const Eigen::MatrixXd coarse = differences(1.0);
  const Eigen::MatrixXd fine = differences(0.5);
  if (impossible) {
    r.notes.push_back("no standard errors: a point next to the estimate is impossible");
    return;
  }
  const Eigen::MatrixXd info = -(4.0 * fine - coarse) / 3.0;  // minus the Hessian
  Eigen::LLT<Eigen::MatrixXd> llt(info);
  if (llt.info() != Eigen::Success) {
    r.notes.push_back(
        "no standard errors: not a proper maximum (minus the Hessian is not positive definite)");
    return;
  }
  const Eigen::MatrixXd cov = llt.solve(Eigen::MatrixXd::Identity(n, n));
  for (int a = 0; a < n; ++a) r.se[entries[a]] = std::sqrt(cov(a, a));
  if (held)
    r.notes.push_back("standard errors with the at-bound parameters held at their estimates "
                      "(they understate the uncertainty)");
  std::vector<double> covariance(static_cast<size_t>(n) * n);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) covariance[static_cast<size_t>(a) * n + b] = cov(a, b);
  set_derived(r, entries, covariance);
  // Linked and constrained entries share their target's error.
  for (int32_t i = 1; i <= r.estimate.size(); ++i) {
    const int32_t j = r.estimate.link[i];
    if (j != i && j >= 1 && j <= r.estimate.size() && r.se[j]) r.se[i] = r.se[j];
  }
}

}  // namespace pedseg
