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

double derivative_step(const ParamTable& par, int i) {
  const double range = par.PAR_HIGH[i] - par.PAR_LOW[i];
  return STEP_RELATIVE * std::max(std::fabs(par.PAR_VAL[i]), STEP_RANGE_SHARE * range);
}

void standard_errors(Fitter& fitter, ModelResult& r) {
  if (!r.fitted) return;
  const TransRule rule = model_rule(r.kind);
  std::vector<int> slots;
  ParamTable base = r.estimate;
  for (int i = 1; i <= NPAR_USED; ++i) {
    if (r.status[i] == ParamStatus::Free) slots.push_back(i);
    if (r.status[i] == ParamStatus::AtBound) base.PAR_EST[i] = 0;  // held at the estimate
  }
  const int n = static_cast<int>(slots.size());
  if (n == 0) return;
  std::vector<double> h(n);
  for (int a = 0; a < n; ++a) h[a] = derivative_step(base, slots[a]);

  bool impossible = false;
  auto f = [&](int a, double da, int b, double db) {
    ParamTable t = base;
    if (a >= 0) t.PAR_VAL[slots[a]] += da;
    if (b >= 0) t.PAR_VAL[slots[b]] += db;
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
  for (int a = 0; a < n; ++a) {
    r.has_se[slots[a]] = true;
    r.se[slots[a]] = std::sqrt(cov(a, a));
  }
  // Linked and constrained slots share their target's error.
  for (int i = 1; i <= NPAR_USED; ++i) {
    const int j = r.estimate.PAR_LINK[i];
    if (j != i && j >= 1 && j <= NPAR_USED && r.has_se[j]) {
      r.has_se[i] = true;
      r.se[i] = r.se[j];
    }
  }
}

}  // namespace pedseg
