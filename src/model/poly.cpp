// Polygenic tables: class transmission from parents to child and the class
// prior, for three additive two-allele loci (seven classes).
#include <algorithm>
#include <stdexcept>

#include "model/model.h"

namespace pedseg {

namespace {

// m! as the ascending product 1 x 2 x ... x m; 1 for m <= 0.
double factorial(int32_t m) {
  double f = 1.0;
  for (int32_t t = 2; t <= m; ++t) f *= static_cast<double>(t);
  return f;
}

}  // namespace

double BINOMIAL(int32_t N, int32_t K) {
  if (N == K) return 1.0;
  if (N < K) return 0.0;
  return factorial(N) / (factorial(K) * factorial(N - K));
}

void BUILD_TRANS_POLY(PolyTables& poly) {
  // The tables are sized for three loci; any other count would write past them.
  if (poly.NLOCI != 3) throw std::invalid_argument("BUILD_TRANS_POLY: only 3 loci are supported");
  const int32_t n = poly.NLOCI;
  poly.NCLASS = 2 * n + 1;
  const double r = 1.0 / BINOMIAL(2 * n, n);

  // Probability that a parent with i plus alleles passes j of them to a
  // gamete carrying n of its 2n alleles.
  for (int32_t i = 0; i <= 2 * n; ++i)
    for (int32_t j = 0; j <= n; ++j)
      poly.GAMETE_PROB[j][i] = BINOMIAL(2 * n - i, n - j) * BINOMIAL(i, j) * r;

  // Child class distribution: convolution of the two parents' gametes.
  for (int32_t a = 0; a <= 2 * n; ++a) {
    for (int32_t b = 0; b <= 2 * n; ++b) {
      const int32_t lo = std::max(0, a - n) + std::max(0, b - n);
      const int32_t hi = std::min(a, 3) + std::min(b, 3);
      for (int32_t s = lo; s <= hi; ++s) {
        const int32_t L = (s > n) ? s - n : std::max(0, a - n);
        const int32_t U = std::min({s, a, 3});
        double sum = 0.0;
        for (int32_t j = L; j <= U; ++j) sum += poly.GAMETE_PROB[j][a] * poly.GAMETE_PROB[s - j][b];
        poly.TRANS_POLY[s + 7 * a + 49 * b] = sum;
      }
    }
  }
}

void BUILD_POLY_PRIOR(PolyTables& poly) {
  if (poly.NCLASS < 1 || poly.NCLASS > MAX_CLASS)
    throw std::invalid_argument("BUILD_POLY_PRIOR: NCLASS outside 1..7");
  // 0.5^(NCLASS-1) in single precision, then widened.
  float p = 1.0f;
  for (int32_t t = 1; t <= poly.NCLASS - 1; ++t) p *= 0.5f;
  const double pd = static_cast<double>(p);
  for (int32_t k = 1; k <= poly.NCLASS; ++k)
    poly.POLY_PRIOR[k] = BINOMIAL(poly.NCLASS - 1, k - 1) * pd;
}

}  // namespace pedseg
