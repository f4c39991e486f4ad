// The genetic model: parameter mapping with its checks, the polygenic tables
// and the penetrance of a trait value.
#pragma once

#include <cstdint>

#include "params/codes.h"
#include "params/params.h"
#include "textio/textio.h"

namespace pedseg {

// 1.0E-6 as a single-precision constant: how far a value on a bound is moved.
inline constexpr double BOUND_NUDGE = static_cast<double>(1.0E-6f);   // 9.999999974752427E-07

// Model quantities, indices 1..3 (element 0 unused).  TRANS_MAJOR(m,i,j) is
// at (m-1) + 3(i-1) + 9(j-1): child genotype m fastest, then the first
// parent's i, then the second parent's j.  It starts Mendelian.
struct ModelQuantities {
  double GEN_FREQ[4] = {};
  double GEN_MEAN[4] = {};
  double SPIKE_PROB[4] = {};
  double POLY_EFFECT = 0.0;
  double RES_VAR = 0.0;
  double TAU[4] = {};
  double TRANS_MAJOR[27] = {
      1.0, 0.0, 0.0,   0.5, 0.5, 0.0,    0.0, 1.0, 0.0,   // j = 1
      0.5, 0.5, 0.0,   0.25, 0.5, 0.25,  0.0, 0.5, 0.5,   // j = 2
      0.0, 1.0, 0.0,   0.0, 0.5, 0.5,    0.0, 0.0, 1.0};  // j = 3
};

inline double trans_major(const ModelQuantities& m, int c, int i, int j) {
  return m.TRANS_MAJOR[(c - 1) + 3 * (i - 1) + 9 * (j - 1)];
}

// Sets TAU(1..3) and rebuilds TRANS_MAJOR from them: genotype g transmits
// the allele of genotype 1 with probability TAU(g).
void BUILD_TRANS_MAJOR(ModelQuantities& model, double tau1, double tau2, double tau3);

// The checking variant for the evaluation at the starting values: reports a
// starting value outside its bounds or an impossible genotype frequency to
// par.err, applies the links and moves a value exactly on a bound inward.
// `problem`, when given, receives what made it reject the point.
struct InitialProblem;
void SET_MODEL_INITIAL(ParamTable& par, ModelQuantities& model, OutputFile& par_err,
                       double& MODEL_STATUS, InitialProblem* problem = nullptr);

// Why SET_MODEL_INITIAL rejected a starting point, for a message in words.
struct InitialProblem {
  enum class Kind { None, Link, Bound, Frequency };
  Kind kind = Kind::None;
  int32_t param = 0;  // Bound: the parameter; Frequency: SLOT_Q
  double value = 0.0;  // its value as tested
  double low = 0.0, high = 0.0;  // its bounds
};

// The variant for every evaluation of the search: silent, free values must
// lie strictly inside their bounds.
//
// Both variants also reject a q outside [0, 1] (a negative genotype
// frequency; the initial variant writes its frequency message) and a link
// outside slots 1..20.
void SET_MODEL_SEARCH(ParamTable& par, ModelQuantities& model, double& MODEL_STATUS);

// ---------------------------------------------------------------------------
// Polygenic tables for NLOCI = 3 loci, NCLASS = 7 classes.

constexpr int MAX_CLASS = 7;

struct PolyTables {
  int32_t NLOCI = 3;
  int32_t NCLASS = 7;
  // TRANS_POLY(k,k1,k2) at (k-1) + 7(k1-1) + 49(k2-1).
  double TRANS_POLY[343] = {};
  // POLY_PRIOR(k), k = 1..7 (element 0 unused).
  double POLY_PRIOR[MAX_CLASS + 1] = {};
  // GAMETE_PROB(j,i) = GAMETE_PROB[j][i], j = 0..3, i = 0..6 (work table).
  double GAMETE_PROB[4][7] = {};
};

inline double trans_poly(const PolyTables& p, int k, int k1, int k2) {
  return p.TRANS_POLY[(k - 1) + 7 * (k1 - 1) + 49 * (k2 - 1)];
}

// BUILD_TRANS_POLY requires NLOCI = 3 and BUILD_POLY_PRIOR NCLASS <= 7 (the
// table sizes); otherwise they throw std::invalid_argument.
double BINOMIAL(int32_t N, int32_t K);
void BUILD_TRANS_POLY(PolyTables& poly);
void BUILD_POLY_PRIOR(PolyTables& poly);

// ---------------------------------------------------------------------------
// Penetrance of individual i (global number, index into TRAIT) for major
// genotype g and polygenic class k.  A measured value with RES_VAR <= 0 has
// penetrance 0.

inline constexpr double TWO_PI_S = static_cast<double>(6.283184f);  // 6.283184051513672

double PENETRANCE(const float* TRAIT, const ModelQuantities& model, int32_t i, int32_t g,
                  int32_t k);

}  // namespace pedseg
