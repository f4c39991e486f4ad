// The likelihood-ratio tests of the table and the upper tails of their
// reference distributions.
#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>

#include "models/models.h"

namespace pedseg {

double p_chisq(double x, double df) {
  if (!(x > CHISQ_ZERO)) return 1.0;
  const boost::math::chi_squared_distribution<double> d(df);
  return boost::math::cdf(boost::math::complement(d, x));
}

double p_chisq_mixture(double x, const std::vector<double>& weights) {
  double p = 0.0;
  for (size_t d = 0; d < weights.size(); ++d) {
    if (weights[d] == 0.0) continue;
    // The point mass at 0 exceeds no positive statistic.
    const double tail = d == 0 ? (x > CHISQ_ZERO ? 0.0 : 1.0) : p_chisq(x, static_cast<double>(d));
    p += weights[d] * tail;
  }
  return p;
}

void likelihood_ratio_test(ModelResult& r, const ModelResult& g) {
  r.tested = true;
  r.against = g.kind;
  r.df = g.n_free - r.n_free;
  r.chisq = 2.0 * (g.lnL - r.lnL);
  if (!(r.chisq > CHISQ_ZERO)) r.chisq = 0.0;  // the same maximum: p = 1
  if (r.df <= 0) {
    r.tested = false;
    r.test_note = std::string("no test: ") + model_name(g.kind) + " varies no more parameters";
    return;
  }
  using K = ModelKind;
  const bool boundary_one = (r.kind == K::Sporadic || r.kind == K::Major) && r.df == 1;
  const bool boundary_taus = r.kind == K::Mixed && r.df == 3 &&
                             g.estimate.high[SLOT_TAU1] == 1.0 && g.estimate.low[SLOT_TAU3] == 0.0;
  if (boundary_one) {
    r.p = p_chisq_mixture(r.chisq, {0.5, 0.5});
  } else if (boundary_taus) {
    r.p = p_chisq_mixture(r.chisq, {0.0, 0.25, 0.5, 0.25});
    r.test_note =
        "p approximate: the mixture of chi-squares assumes the estimates of tau1 and tau3 on "
        "their bounds and independent of each other and of tau2; the direction of the error "
        "is not known";
  } else {
    r.p = p_chisq(r.chisq, r.df);
  }
  if (r.kind == K::Polygenic)
    r.test_note = "p approximate: q is not identified without a major gene, and the chi-square "
                  "reference then tends to give too small a p (anti-conservative)";
}

void set_tests(ModelsRun& run) {
  for (ModelResult& r : run.results) {
    r.tested = false;
    r.test_note.clear();
    const std::optional<ModelKind> g = test_model(r.kind);
    if (!g || !r.fitted) continue;
    const ModelResult* larger = run.find(*g);
    if (larger != nullptr && larger->fitted) likelihood_ratio_test(r, *larger);
  }
}

}  // namespace pedseg
