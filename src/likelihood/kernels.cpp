// The kernels compute exactly the operations of the plain version
// (likelihood.cpp), each sum in its own accumulator in the same order and
// each product associated the same way, so the results are the same bits.
// The speed comes from:
//
// - vectors across independent accumulators: the 7 classes of a target (or
//   of a first parent) are 7 lanes that run the same sequence of IEEE
//   operations side by side; no sum is split or reordered;
// - equal inputs giving equal results: parent-genotype pairs with bitwise
//   equal major-gene transmission columns share one child sum;
// - terms skipped when a transmission factor is exactly zero: such a term is
//   (finite x 0) x finite, a signed zero, and adding a signed zero to an
//   accumulator that started at +0 changes nothing (the accumulator is never
//   -0).  The skip is taken only when the other factors of the skipped terms
//   are finite; otherwise every term is computed.
#include "likelihood/kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "likelihood/likelihood.h"

namespace pedseg {

void build_poly(const PolyTables& poly, PolyLayout& L) {
  std::memcpy(L.TP, poly.TRANS_POLY, sizeof L.TP);
  L.finite = true;
  for (double v : L.TP)
    if (!std::isfinite(v)) L.finite = false;
  for (int a = 0; a < 7; ++a)
    for (int b = 0; b < 7; ++b)
      for (int h = 0; h < 2; ++h) {
        V4 t{}, v{};
        for (int l = 0; l < 4; ++l) {
          const int c = 4 * h + l;
          // TPT[ko=a][kx=b] lane kt=c: TP(kx, kt, ko); TPV[kF=a][kM=b] lane kc=c: TP(kc, kF, kM)
          t[l] = c < 7 ? L.TP[b + 7 * c + 49 * a] : 0.0;
          v[l] = c < 7 ? L.TP[c + 7 * a + 49 * b] : 0.0;
        }
        L.TPT[a][b][h] = t;
        L.TPV[a][b][h] = v;
      }
  L.banded = true;
  for (int ko = 0; ko < 7; ++ko)
    for (int kx = 0; kx < 7; ++kx)
      if (kx - ko > 3 || ko - kx > 3)
        for (int kt = 0; kt < 7; ++kt)
          if (L.TP[kx + 7 * kt + 49 * ko] != 0.0) L.banded = false;
}


void prepare_shared(const ModelQuantities& model, const PolyTables& poly, const PolyLayout& P,
                    EvalShared& s) {
  std::memcpy(s.TM, model.TRANS_MAJOR, sizeof s.TM);
  s.ncols = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const double* col = s.TM + 3 * a + 9 * b;
      int c = 0;
      while (c < s.ncols && std::memcmp(s.colm[c], col, sizeof s.colm[c]) != 0) ++c;
      if (c == s.ncols) {
        std::memcpy(s.colm[c], col, sizeof s.colm[c]);
        s.col_small[c] = true;
        for (int g = 0; g < 3; ++g) s.col_small[c] &= std::fabs(col[g]) <= 1.0;
        ++s.ncols;
      }
      s.colid[a][b] = c;
    }
  for (int g = 0; g < 3; ++g) s.freq[g] = model.GEN_FREQ[g + 1];
  for (int k = 0; k < 8; ++k) s.prior[k] = k < 7 ? poly.POLY_PRIOR[k + 1] : 0.0;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 8; ++k) s.freq_prior[g][k] = s.freq[g] * s.prior[k];
  s.tp_finite = P.finite;
}

namespace {

inline bool all_finite(const double* a) {
  bool ok = true;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) ok &= std::isfinite(a[8 * g + k]);
  return ok;
}

inline double trans(const EvalShared& s, int c, int a, int b) { return s.TM[c + 3 * a + 9 * b]; }

// Child sums of child x for one major-gene column m = TM(., a, b), every
// class kt of the parent in the second index (lanes) and every class ko of
// the parent in the third:  sum over gx (outer) and kx (inner) of
// (L(x, gx, kx) x m(gx)) x TP(kx, kt, ko); each sum multiplies prod[ko][kt].
//
// With `skip` (L(x) finite), terms whose m(gx) is zero are left out; with
// `Banded` as well (every L(x, gx, kx) x m(gx) finite, the class table
// banded), so are the terms of the zero rows |kx - ko| > 3.
template <bool Banded>
inline void child_sums(const double* Lx, const double* m, bool skip, const PolyLayout& P,
                       V4 (&prod)[7][2]) {
  V4 acc[7][2];
#pragma GCC unroll 7
  for (int ko = 0; ko < 7; ++ko) acc[ko][0] = acc[ko][1] = V4{};
  for (int gx = 0; gx < 3; ++gx) {
    if (skip && m[gx] == 0.0) continue;
#pragma GCC unroll 7
    for (int kx = 0; kx < 7; ++kx) {
      const V4 a = splat(Lx[8 * gx + kx] * m[gx]);
      const int lo = Banded ? std::max(0, kx - 3) : 0;
      const int hi = Banded ? std::min(6, kx + 3) : 6;
#pragma GCC unroll 7
      for (int ko = lo; ko <= hi; ++ko) {
        acc[ko][0] += a * P.TPT[ko][kx][0];
        acc[ko][1] += a * P.TPT[ko][kx][1];
      }
    }
  }
  for (int ko = 0; ko < 7; ++ko) {
    prod[ko][0] = prod[ko][0] * acc[ko][0];
    prod[ko][1] = prod[ko][1] * acc[ko][1];
  }
}

// prod[colid[a][b]][ko][kt] = product from 1 over the listed individuals of
// their child sums for the parent states (a, kt) in the second index and
// (b, ko) in the third.  Pairs (a, b) with equal columns have equal products
// (the same operations on the same values), so one per column is formed.
void product_of_child_sums(const int32_t* xs, int32_t n, const Arr* L, const EvalShared& s,
                           const PolyLayout& P, Scratch& sc) {
  const V4 one = splat(1.0);
  for (int c = 0; c < s.ncols; ++c)
    for (int ko = 0; ko < 7; ++ko) sc.prod[c][ko][0] = sc.prod[c][ko][1] = one;
  for (int32_t i = 0; i < n; ++i) {
    const double* Lx = L[xs[i]].v;
    const bool skip = s.tp_finite && all_finite(Lx);
    for (int c = 0; c < s.ncols; ++c) {
      if (skip && P.banded && s.col_small[c]) {
        child_sums<true>(Lx, s.colm[c], skip, P, sc.prod[c]);
      } else {
        child_sums<false>(Lx, s.colm[c], skip, P, sc.prod[c]);
      }
    }
  }
}

// Parent target t, other parent o, children xs.
void peel_parent(double* Lt, const double* Lo, const int32_t* xs, int32_t n, const Arr* L,
                 const EvalShared& s, const PolyLayout& P, Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  for (int gt = 0; gt < 3; ++gt) {
    V4 acc0{}, acc1{};
    for (int go = 0; go < 3; ++go) {
      const V4(&pr)[7][2] = sc.prod[s.colid[gt][go]];
      for (int ko = 0; ko < 7; ++ko) {
        const V4 l = splat(Lo[8 * go + ko]);
        acc0 += l * pr[ko][0];
        acc1 += l * pr[ko][1];
      }
    }
    for (int kt = 0; kt < 7; ++kt) {
      const double A = kt < 4 ? acc0[kt] : acc1[kt - 4];
      Lt[8 * gt + kt] = A * Lt[8 * gt + kt];
    }
  }
}

// Both child cases: for every target state (gc, kc),
//   sum over gF, kF, gM, kM (kM innermost) of ((W x TM(gc,gF,gM)) x TP(kc,kF,kM)) [x L(F,gF,kF)]
// with W = sc.W, then the sum multiplies the target's entry.  The three
// target genotypes run side by side (separate accumulators).
template <bool WithF>
void child_target(double* Lc, const double* LF, const EvalShared& s, const PolyLayout& P,
                  Scratch& sc) {
  bool finite = s.tp_finite;
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) finite &= std::isfinite(sc.W[gF][kF][gM][kM]);
  if (WithF) finite &= all_finite(LF);

  V4 acc[3][2];
  for (int gc = 0; gc < 3; ++gc) acc[gc][0] = acc[gc][1] = V4{};
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF) {
      const V4 lf = splat(WithF ? LF[8 * gF + kF] : 1.0);
      for (int gM = 0; gM < 3; ++gM) {
        const double t[3] = {trans(s, 0, gF, gM), trans(s, 1, gF, gM), trans(s, 2, gF, gM)};
        const double* w = sc.W[gF][kF][gM];
        for (int kM = 0; kM < 7; ++kM) {
          const V4* tp = P.TPV[kF][kM];
#pragma GCC unroll 3
          for (int gc = 0; gc < 3; ++gc) {
            if (finite && t[gc] == 0.0) continue;
            const V4 a = splat(w[kM] * t[gc]);
            if (WithF) {
              acc[gc][0] += (a * tp[0]) * lf;
              acc[gc][1] += (a * tp[1]) * lf;
            } else {
              acc[gc][0] += a * tp[0];
              acc[gc][1] += a * tp[1];
            }
          }
        }
      }
    }
  for (int gc = 0; gc < 3; ++gc)
    for (int kc = 0; kc < 7; ++kc) {
      const double B = kc < 4 ? acc[gc][0][kc] : acc[gc][1][kc - 4];
      Lc[8 * gc + kc] = B * Lc[8 * gc + kc];
    }
}

// Single child c of F and M: W = L(M) x L(F).
void peel_single_child(double* Lc, const double* LF, const double* LM, const EvalShared& s,
                       const PolyLayout& P, Scratch& sc) {
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM)
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * LF[8 * gF + kF];
  child_target<false>(Lc, LF, s, P, sc);
}

// Child P with siblings xs: W = L(M) x (product of the siblings' sums), and
// each term ends with x L(F).
void peel_child_with_siblings(double* Lc, const double* LF, const double* LM, const int32_t* xs,
                              int32_t n, const Arr* L, const EvalShared& s, const PolyLayout& P,
                              Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) {
          const V4& v = sc.prod[s.colid[gF][gM]][kM][kF / 4];
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * v[kF % 4];
        }
  child_target<true>(Lc, LF, s, P, sc);
}

inline double sum21(const double* a) {
  double s = 0.0;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) s += a[8 * g + k];
  return s;
}

}  // namespace

void family_term(const Plan& p, int32_t f, const Arr* pen_of, const EvalShared& s,
                 const PolyLayout& P, Scratch& sc, double& T, bool& floor_hit) {
  const FamilyLayout& fam = p.layout[f];
  const FamPlan& fp = p.fams[f];
  floor_hit = false;
  T = 0.0;
  if (fam.size <= 0) return;

  const SetUp* setup = p.setup_of(f);  // setup[d - 1]
  // Set-up.
  Arr* L = sc.L.data();
  for (int32_t d = 1; d <= fam.size; ++d) {
    double* out = L[d].v;
    const double* pen = pen_of[fam.start + d].v;
    switch (setup[d - 1]) {
      case SET_PEN:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = pen[8 * g + k];
        break;
      case SET_PEN_PRIOR:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = pen[8 * g + k] * s.freq[g] * s.prior[k];
        break;
      default:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = s.freq_prior[g][k];
        break;
    }
  }

  // Peeling.
  if (fam.has_lists()) {
    double scale_sum = 0.0, closing_sum = 0.0;
    for (int32_t o = fp.ops_begin; o < fp.ops_end; ++o) {
      const NucOp& op = p.ops[o];
      const int32_t* xs = p.kids.data() + op.kids_begin;
      const int32_t n = op.kids_end - op.kids_begin;
      double* Lt = L[op.target].v;
      switch (op.kind) {
        case Case::Parent:
          peel_parent(Lt, L[op.other].v, xs, n, L, s, P, sc);
          break;
        case Case::SingleChild:
          peel_single_child(Lt, L[op.F].v, L[op.M].v, s, P, sc);
          break;
        case Case::ChildWithSiblings:
          peel_child_with_siblings(Lt, L[op.F].v, L[op.M].v, xs, n, L, s, P, sc);
          break;
      }
      const double sum = sum21(Lt);
      scale_sum = scale_sum + std::log(sum);
      const double r = 1.0 / sum;
      for (int g = 0; g < 3; ++g)
        for (int k = 0; k < 7; ++k) Lt[8 * g + k] = Lt[8 * g + k] * r;
      const double s2 = sum21(Lt);
      if (op.closing) closing_sum = closing_sum + std::log(s2);
    }
    T = closing_sum + scale_sum;
  }

  // Loose individuals.
  for (int32_t i = fam.first_loose; i <= fam.size; ++i) {
    const double S = sum21(L[i].v);
    if (S <= LIK_FLOOR) {
      floor_hit = true;
      return;
    }
    T = T + std::log(S);
  }
}

}  // namespace pedseg
