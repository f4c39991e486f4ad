// Upper tails of the reference distributions of the likelihood-ratio tests.
#include <boost/math/distributions/chi_squared.hpp>

#include "models/models.h"

namespace pedseg {

double p_chisq(double x, double df) {
  if (!(x > 0.0)) return 1.0;
  const boost::math::chi_squared_distribution<double> d(df);
  return boost::math::cdf(boost::math::complement(d, x));
}

double p_chisq_mixture(double x, const std::vector<double>& weights) {
  double p = 0.0;
  for (size_t d = 0; d < weights.size(); ++d) {
    if (weights[d] == 0.0) continue;
    // The point mass at 0 exceeds no positive statistic.
    const double tail = d == 0 ? (x > 0.0 ? 0.0 : 1.0) : p_chisq(x, static_cast<double>(d));
    p += weights[d] * tail;
  }
  return p;
}

}  // namespace pedseg
