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
//   are finite; otherwise every term is computed;
// - in a family with loops, equal inputs again: what no joint state of the
//   breakers changes (the set-up, the nuclear families off the loops, the
//   sums of the children a state does not reach) is computed once per
//   evaluation, and a pinned breaker's child sums from its one entry that
//   is not zero (the others' terms are signed zeros, as above).
#include "likelihood/kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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
  s.tm_finite = true;
  for (double v : s.TM) s.tm_finite = s.tm_finite && std::isfinite(v);
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
inline void child_acc(const double* Lx, const double* m, bool skip, const PolyLayout& P,
                      V4 (&acc)[7][2]) {
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
}

inline void multiply(V4 (&prod)[7][2], const V4 (&acc)[7][2]) {
  for (int ko = 0; ko < 7; ++ko) {
    prod[ko][0] = prod[ko][0] * acc[ko][0];
    prod[ko][1] = prod[ko][1] * acc[ko][1];
  }
}

template <bool Banded>
inline void child_sums(const double* Lx, const double* m, bool skip, const PolyLayout& P,
                       V4 (&prod)[7][2]) {
  V4 acc[7][2];
  child_acc<Banded>(Lx, m, skip, P, acc);
  multiply(prod, acc);
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

// Parent target t and other parent o, the children's product in sc.prod.
void parent_from_product(double* Lt, const double* Lo, const EvalShared& s, Scratch& sc) {
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

// Parent target t, other parent o, children xs.
void peel_parent(double* Lt, const double* Lo, const int32_t* xs, int32_t n, const Arr* L,
                 const EvalShared& s, const PolyLayout& P, Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  parent_from_product(Lt, Lo, s, sc);
}

// Both child cases: for every target state (gc, kc),
//   sum over gF, kF, gM, kM (kM innermost) of ((W x TM(gc,gF,gM)) x TP(kc,kF,kM)) [x L(F,gF,kF)]
// with W = sc.W, then the sum multiplies the target's entry.  The three
// target genotypes run side by side (separate accumulators).  With
// `SkipZeroW` (a parent pinned to one state in a family with loops), the
// terms of a zero W are left out too, when every factor is finite.
template <bool WithF, bool SkipZeroW = false>
void child_target(double* Lc, const double* LF, const EvalShared& s, const PolyLayout& P,
                  Scratch& sc) {
  bool finite = s.tp_finite;
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) finite &= std::isfinite(sc.W[gF][kF][gM][kM]);
  if (WithF) finite &= all_finite(LF);
  const bool skip_w = SkipZeroW && finite && s.tm_finite;

  V4 acc[3][2];
  for (int gc = 0; gc < 3; ++gc) acc[gc][0] = acc[gc][1] = V4{};
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF) {
      const V4 lf = splat(WithF ? LF[8 * gF + kF] : 1.0);
      for (int gM = 0; gM < 3; ++gM) {
        const double t[3] = {trans(s, 0, gF, gM), trans(s, 1, gF, gM), trans(s, 2, gF, gM)};
        const double* w = sc.W[gF][kF][gM];
        for (int kM = 0; kM < 7; ++kM) {
          if (SkipZeroW && skip_w && w[kM] == 0.0) continue;
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
template <bool SkipZeroW = false>
void peel_single_child(double* Lc, const double* LF, const double* LM, const EvalShared& s,
                       const PolyLayout& P, Scratch& sc) {
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM)
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * LF[8 * gF + kF];
  child_target<false, SkipZeroW>(Lc, LF, s, P, sc);
}

// Child P of F and M, the siblings' product in sc.prod: W = L(M) x (the
// product), and each term ends with x L(F).
template <bool SkipZeroW = false>
void child_from_product(double* Lc, const double* LF, const double* LM, const EvalShared& s,
                        const PolyLayout& P, Scratch& sc) {
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) {
          const V4& v = sc.prod[s.colid[gF][gM]][kM][kF / 4];
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * v[kF % 4];
        }
  child_target<true, SkipZeroW>(Lc, LF, s, P, sc);
}

// Child P with siblings xs.
void peel_child_with_siblings(double* Lc, const double* LF, const double* LM, const int32_t* xs,
                              int32_t n, const Arr* L, const EvalShared& s, const PolyLayout& P,
                              Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  child_from_product(Lc, LF, LM, s, P, sc);
}

inline double sum21(const double* a) {
  double s = 0.0;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) s += a[8 * g + k];
  return s;
}

// Adds ln of each loose individual's summed array to `t`, in member order;
// false (t left part-way) when one lies at or below the floor.
bool add_loose(const FamilyLayout& fam, const Arr* L, double& t) {
  for (int32_t i = fam.first_loose; i <= fam.size; ++i) {
    const double S = sum21(L[i].v);
    if (S <= LIK_FLOOR) return false;
    t = t + std::log(S);
  }
  return true;
}

// The set-up of every member of family f.
void set_up(const Plan& p, int32_t f, const Arr* pen_of, const EvalShared& s, Arr* L) {
  const FamilyLayout& fam = p.layout[f];
  const SetUp* setup = p.setup_of(f);  // setup[d - 1]
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
}

// Normalises a target: `scale` = ln of the normalising sum, `closing` = ln
// of the normalised sum (a closing op only).
inline void normalise(double* Lt, bool is_closing, double& scale, double& closing) {
  const double sum = sum21(Lt);
  scale = std::log(sum);
  const double r = 1.0 / sum;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) Lt[8 * g + k] = Lt[8 * g + k] * r;
  const double s2 = sum21(Lt);
  if (is_closing) closing = std::log(s2);
}

// Peels one nuclear family onto its target and normalises the target.
inline void peel_op(const Plan& p, const NucOp& op, Arr* L, const EvalShared& s,
                    const PolyLayout& P, Scratch& sc, double& scale, double& closing) {
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
  normalise(Lt, op.closing, scale, closing);
}

// The child sums of child x for every column, as product_of_child_sums forms
// them.  A child whose array has one entry that is not zero (a pinned
// breaker) takes that entry's terms alone: with every factor finite, each
// other term is a signed zero, which leaves a sum begun at +0 unchanged.
void one_child_sums(const double* Lx, const EvalShared& s, const PolyLayout& P,
                    V4 (*acc)[7][2]) {
  const bool skip = s.tp_finite && all_finite(Lx);
  int at = -1, nonzero = 0;
  for (int i = 0; i < 24; ++i)
    if (i % 8 < 7 && Lx[i] != 0.0) at = i, ++nonzero;
  bool sparse = skip && nonzero == 1;
  for (int c = 0; c < s.ncols && sparse; ++c)
    for (int g = 0; g < 3; ++g) sparse &= std::isfinite(s.colm[c][g]);
  for (int c = 0; c < s.ncols; ++c) {
    if (sparse) {
      const V4 a = splat(Lx[at] * s.colm[c][at / 8]);
      for (int ko = 0; ko < 7; ++ko) {
        acc[c][ko][0] = V4{} + a * P.TPT[ko][at % 8][0];
        acc[c][ko][1] = V4{} + a * P.TPT[ko][at % 8][1];
      }
    } else if (skip && P.banded && s.col_small[c]) {
      child_acc<true>(Lx, s.colm[c], skip, P, acc[c]);
    } else {
      child_acc<false>(Lx, s.colm[c], skip, P, acc[c]);
    }
  }
}

// sc.prod for the children xs of a state-dependent op: an unchanging child's
// sums from the family's cache (slot >= 0), the others' formed now.
void state_product(const int32_t* xs, const int32_t* slots, int32_t n, const Arr* L,
                   const EvalShared& s, const PolyLayout& P, Scratch& sc) {
  const V4 one = splat(1.0);
  for (int c = 0; c < s.ncols; ++c)
    for (int ko = 0; ko < 7; ++ko) sc.prod[c][ko][0] = sc.prod[c][ko][1] = one;
  for (int32_t i = 0; i < n; ++i) {
    const V4(*acc)[7][2] = sc.acc;
    if (slots[i] >= 0) {
      acc = reinterpret_cast<const V4(*)[7][2]>(sc.kid_sums.data()) + 9 * slots[i];
    } else {
      one_child_sums(L[xs[i]].v, s, P, sc.acc);
    }
    for (int c = 0; c < s.ncols; ++c) multiply(sc.prod[c], acc[c]);
  }
}

// A state-dependent op: peel_op with state_product.
void peel_state_op(const Plan& p, const LoopPlan& lp, const NucOp& op, Arr* L,
                   const EvalShared& s, const PolyLayout& P, Scratch& sc, double& scale,
                   double& closing) {
  const int32_t* xs = p.kids.data() + op.kids_begin;
  const int32_t* slots = lp.kid_slot.data() + (op.kids_begin - lp.kids_first);
  const int32_t n = op.kids_end - op.kids_begin;
  double* Lt = L[op.target].v;
  switch (op.kind) {
    case Case::Parent:
      state_product(xs, slots, n, L, s, P, sc);
      parent_from_product(Lt, L[op.other].v, s, sc);
      break;
    case Case::SingleChild:
      peel_single_child<true>(Lt, L[op.F].v, L[op.M].v, s, P, sc);
      break;
    case Case::ChildWithSiblings:
      state_product(xs, slots, n, L, s, P, sc);
      child_from_product<true>(Lt, L[op.F].v, L[op.M].v, s, P, sc);
      break;
  }
  normalise(Lt, op.closing, scale, closing);
}

// A family with loops: the set-up and the ops that reach no breaker or copy
// once, then every joint state (as loop_state_terms: the state skipped when a
// breaker's entry is 0, the logarithms added in op order), then
// combine_loop_terms.
void loop_family_term(const Plan& p, int32_t f, const Arr* pen_of, const EvalShared& s,
                      const PolyLayout& P, Scratch& sc, double& T, bool& floor_hit) {
  const FamilyLayout& fam = p.layout[f];
  const FamPlan& fp = p.fams[f];
  const LoopPlan& lp = p.loops[static_cast<size_t>(fp.loop)];
  Arr* L = sc.L.data();
  set_up(p, f, pen_of, s, L);
  const int32_t nops = fp.ops_end - fp.ops_begin;
  for (int32_t o = 0; o < nops; ++o)
    if (!lp.per_state[o])
      peel_op(p, p.ops[fp.ops_begin + o], L, s, P, sc, sc.op_scale[o], sc.op_closing[o]);
  for (int32_t d : lp.restored) sc.shared[d] = L[d];
  // The sums of the children that no state changes, for the ops that each
  // state redoes.
  for (int32_t e = 0; e < static_cast<int32_t>(lp.kid_slot.size()); ++e)
    if (lp.kid_slot[e] >= 0)
      one_child_sums(L[p.kids[lp.kids_first + e]].v, s, P,
                     reinterpret_cast<V4(*)[7][2]>(sc.kid_sums.data()) + 9 * lp.kid_slot[e]);

  const int32_t b = static_cast<int32_t>(lp.breakers.size());
  constexpr double minus_inf = -std::numeric_limits<double>::infinity();
  for (int64_t joint = 0; joint < lp.states; ++joint) {
    double& term = sc.state_terms[static_cast<size_t>(joint)];
    term = minus_inf;
    bool possible = true;
    for (int32_t i = 0; i < b && possible; ++i) {
      const int32_t st = breaker_state(joint, b, i, 21);
      possible = sc.shared[lp.breakers[i]].v[8 * (st / 7) + st % 7] != 0.0;
    }
    if (!possible) continue;
    for (int32_t d : lp.restored) L[d] = sc.shared[d];
    for (int32_t i = 0; i < b; ++i) {
      const int32_t st = breaker_state(joint, b, i, 21);
      double* v = L[lp.breakers[i]].v;
      for (int g = 0; g < 3; ++g)
        for (int k = 0; k < 7; ++k)
          if (7 * g + k != st) v[8 * g + k] = 0.0;
    }
    for (const auto& [c, i] : lp.copies) {
      const int32_t st = breaker_state(joint, b, i, 21);
      double* v = L[c].v;
      for (int g = 0; g < 3; ++g)
        for (int k = 0; k < 7; ++k) v[8 * g + k] = 7 * g + k == st ? 1.0 : 0.0;
    }
    double t = 0.0;
    if (fam.has_lists()) {
      double scale_sum = 0.0, closing_sum = 0.0;
      for (int32_t o = 0; o < nops; ++o) {
        const NucOp& op = p.ops[fp.ops_begin + o];
        double scale = sc.op_scale[o], closing = sc.op_closing[o];
        if (lp.per_state[o]) peel_state_op(p, lp, op, L, s, P, sc, scale, closing);
        scale_sum = scale_sum + scale;
        if (op.closing) closing_sum = closing_sum + closing;
      }
      t = closing_sum + scale_sum;
    }
    if (!add_loose(fam, L, t)) {
      floor_hit = true;
      return;
    }
    term = t;
  }
  T = combine_loop_terms(sc.state_terms.data(), lp.states);
}

}  // namespace

void family_term(const Plan& p, int32_t f, const Arr* pen_of, const EvalShared& s,
                 const PolyLayout& P, Scratch& sc, double& T, bool& floor_hit) {
  const FamilyLayout& fam = p.layout[f];
  const FamPlan& fp = p.fams[f];
  floor_hit = false;
  T = 0.0;
  if (fam.size <= 0) return;
  if (fp.loop >= 0) {
    loop_family_term(p, f, pen_of, s, P, sc, T, floor_hit);
    return;
  }

  Arr* L = sc.L.data();
  set_up(p, f, pen_of, s, L);

  // Peeling.
  if (fam.has_lists()) {
    double scale_sum = 0.0, closing_sum = 0.0;
    for (int32_t o = fp.ops_begin; o < fp.ops_end; ++o) {
      const NucOp& op = p.ops[o];
      double scale = 0.0, closing = 0.0;
      peel_op(p, op, L, s, P, sc, scale, closing);
      scale_sum = scale_sum + scale;
      if (op.closing) closing_sum = closing_sum + closing;
    }
    T = closing_sum + scale_sum;
  }

  if (!add_loose(fam, L, T)) floor_hit = true;
}

}  // namespace pedseg
