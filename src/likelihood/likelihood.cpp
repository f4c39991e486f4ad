// Individual likelihood arrays, nuclear-family peeling and the sample ln LH.
//
// This is the plain reference version: every sum runs in one accumulator in
// the loop order written here, and every product is formed left to right in
// the order written, so that faster kernels can be checked against it bit
// for bit.  Nothing is allocated.

#include "likelihood/likelihood.h"

#include "likelihood/engine.h"

#include <cmath>
#include <limits>

namespace pedseg {

namespace {

// Entry at list position `pos` (1 = first parent, 2 = second parent, 3... =
// children) of the member list that starts at NUC_MEMBERS position `first`.
inline int32_t member_at(const PedigreeTables& ped, int32_t first, int32_t pos) {
  return ped.NUC_MEMBERS[first + pos - 1];
}

// Sets the array of d to pen x GEN_FREQ(g) x POLY_PRIOR(k), or to the
// penetrance alone, for all (g, k) with g outer and k inner.
void set_array(int32_t f, int32_t d, bool with_prior, const PedigreeTables& ped,
               const ModelQuantities& model, const PolyTables& poly, LikWork& work,
               const TraitView* view) {
  const int32_t global = ped.PED_START[f] + d;
  for (int32_t g = 1; g <= 3; ++g) {
    for (int32_t k = 1; k <= poly.NCLASS; ++k) {
      const double pen = view != nullptr ? view_penetrance(*view, model, global, g, k)
                                         : PENETRANCE(ped.TRAIT, model, global, g, k);
      ind_lik(work, d, g, k) = with_prior ? pen * model.GEN_FREQ[g] * poly.POLY_PRIOR[k] : pen;
    }
  }
}

// Parent target: t takes the information of the other parent o and of the
// children at positions 3..S.
//
// The term of A is L(o) x (C_1 x C_2 x ...): the children's product is a unit
// of its own, formed first from left to right (starting from 1, so one child
// gives C_1 exactly and no child gives 1), and only then multiplied with
// L(o).  Each C_x is L(x) x TRANS_MAJOR x TRANS_POLY, left to right, with the
// target parent in the second index and the other parent in the third.
void peel_onto_parent(int32_t t, int32_t o, int32_t first, int32_t S, const PedigreeTables& ped,
                      const ModelQuantities& model, const PolyTables& poly, LikWork& work) {
  const int32_t nclass = poly.NCLASS;
  for (int32_t gt = 1; gt <= 3; ++gt) {
    for (int32_t kt = 1; kt <= nclass; ++kt) {
      double A = 0.0;
      for (int32_t go = 1; go <= 3; ++go) {
        for (int32_t ko = 1; ko <= nclass; ++ko) {
          double children = 1.0;
          for (int32_t pos = 3; pos <= S; ++pos) {
            const int32_t x = member_at(ped, first, pos);
            double C = 0.0;
            for (int32_t gx = 1; gx <= 3; ++gx) {
              for (int32_t kx = 1; kx <= nclass; ++kx) {
                C += ind_lik(work, x, gx, kx) * trans_major(model, gx, gt, go) *
                     trans_poly(poly, kx, kt, ko);
              }
            }
            children = children * C;
          }
          A += ind_lik(work, o, go, ko) * children;
        }
      }
      ind_lik(work, t, gt, kt) = A * ind_lik(work, t, gt, kt);
    }
  }
}

// Single-child target: the child c takes the information of both parents.
// Term: L(M) x L(F) x TRANS_MAJOR x TRANS_POLY, left to right, first parent
// in the second index.
void peel_onto_single_child(int32_t c, int32_t F, int32_t M, const ModelQuantities& model,
                            const PolyTables& poly, LikWork& work) {
  const int32_t nclass = poly.NCLASS;
  for (int32_t gc = 1; gc <= 3; ++gc) {
    for (int32_t kc = 1; kc <= nclass; ++kc) {
      double B = 0.0;
      for (int32_t gF = 1; gF <= 3; ++gF) {
        for (int32_t kF = 1; kF <= nclass; ++kF) {
          for (int32_t gM = 1; gM <= 3; ++gM) {
            for (int32_t kM = 1; kM <= nclass; ++kM) {
              B += ind_lik(work, M, gM, kM) * ind_lik(work, F, gF, kF) *
                   trans_major(model, gc, gF, gM) * trans_poly(poly, kc, kF, kM);
            }
          }
        }
      }
      ind_lik(work, c, gc, kc) = B * ind_lik(work, c, gc, kc);
    }
  }
}

// Child target with siblings: the child P at position 3 takes the
// information of both parents and of the siblings at positions 4..S.
//
// The siblings' sums X_x do not depend on the target's state, so the product
// of the X_x over the siblings (in list order, from 1) is formed once per
// parent state (gF, kF, gM, kM) and kept in `sib`.  Each X_x is the same
// single-accumulator sum as in the direct form, so the bits are the same.
// Term of D: L(M) x (X_1 x X_2 x ...) x TRANS_MAJOR x TRANS_POLY x L(F),
// left to right, with the siblings' product as one unit.
void peel_onto_child_with_siblings(int32_t P, int32_t F, int32_t M, int32_t first, int32_t S,
                                   const PedigreeTables& ped, const ModelQuantities& model,
                                   const PolyTables& poly, LikWork& work) {
  const int32_t nclass = poly.NCLASS;
  double sib[3][MAX_CLASS][3][MAX_CLASS];
  for (int32_t gF = 1; gF <= 3; ++gF) {
    for (int32_t kF = 1; kF <= nclass; ++kF) {
      for (int32_t gM = 1; gM <= 3; ++gM) {
        for (int32_t kM = 1; kM <= nclass; ++kM) {
          double product = 1.0;
          for (int32_t pos = 4; pos <= S; ++pos) {
            const int32_t x = member_at(ped, first, pos);
            double X = 0.0;
            for (int32_t gx = 1; gx <= 3; ++gx) {
              for (int32_t kx = 1; kx <= nclass; ++kx) {
                X += ind_lik(work, x, gx, kx) * trans_major(model, gx, gF, gM) *
                     trans_poly(poly, kx, kF, kM);
              }
            }
            product = product * X;
          }
          sib[gF - 1][kF - 1][gM - 1][kM - 1] = product;
        }
      }
    }
  }
  for (int32_t gc = 1; gc <= 3; ++gc) {
    for (int32_t kc = 1; kc <= nclass; ++kc) {
      double D = 0.0;
      for (int32_t gF = 1; gF <= 3; ++gF) {
        for (int32_t kF = 1; kF <= nclass; ++kF) {
          for (int32_t gM = 1; gM <= 3; ++gM) {
            for (int32_t kM = 1; kM <= nclass; ++kM) {
              D += ind_lik(work, M, gM, kM) * sib[gF - 1][kF - 1][gM - 1][kM - 1] *
                   trans_major(model, gc, gF, gM) * trans_poly(poly, kc, kF, kM) *
                   ind_lik(work, F, gF, kF);
            }
          }
        }
      }
      ind_lik(work, P, gc, kc) = D * ind_lik(work, P, gc, kc);
    }
  }
}

}  // namespace

double array_sum(int32_t d, const PolyTables& poly, const LikWork& work) {
  double s = 0.0;
  for (int32_t g = 1; g <= 3; ++g) {
    for (int32_t k = 1; k <= poly.NCLASS; ++k) {
      s += ind_lik(work, d, g, k);
    }
  }
  return s;
}

void INIT_FAMILY(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                 const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                 const TraitView* view) {
  // Children: penetrance only; parents: penetrance x prior; loose
  // individuals: penetrance x prior when measured, the prior alone when
  // missing.
  for (int32_t d = 1; d <= layout[f].size; ++d) {
    const Role role = layout.role(f, d);
    const int32_t global = ped.PED_START[f] + d;
    const bool measured = view != nullptr ? view->use[global] != TraitUse::Missing
                                          : trait_above_missing(ped.TRAIT[global]);
    if (role != Role::Loose || measured) {
      set_array(f, d, role != Role::Child, ped, model, poly, work, view);
      continue;
    }
    for (int32_t g = 1; g <= 3; ++g) {
      for (int32_t k = 1; k <= poly.NCLASS; ++k) {
        ind_lik(work, d, g, k) = model.GEN_FREQ[g] * poly.POLY_PRIOR[k];
      }
    }
  }
}

void PEEL_FAMILY(int32_t f, const PedigreeTables& ped, const ModelQuantities& model,
                 const PolyTables& poly, LikWork& work, double& result) {
  double scale_sum = 0.0;
  double closing_sum = 0.0;
  for (int32_t j = ped.PED_NUC[f] + 1; j <= ped.PED_NUC[f + 1]; ++j) {
    const int32_t first = ped.NUC_START[j];
    const int32_t S = ped.NUC_START[j + 1] - first;
    const int32_t F = member_at(ped, first, 1);
    const int32_t M = member_at(ped, first, 2);
    const int32_t P = ped.NUC_PIVOT[j];

    int32_t target;
    if (P == 0) {
      target = F;
      peel_onto_parent(F, M, first, S, ped, model, poly, work);
    } else if (P == F) {
      target = F;
      peel_onto_parent(F, M, first, S, ped, model, poly, work);
    } else if (P == M) {
      target = M;
      peel_onto_parent(M, F, first, S, ped, model, poly, work);
    } else if (S <= 3) {
      target = P;
      peel_onto_single_child(P, F, M, model, poly, work);
    } else {
      target = P;
      peel_onto_child_with_siblings(P, F, M, first, S, ped, model, poly, work);
    }

    // Normalise the target to sum 1 and keep the logarithm of the scale.
    const double s = array_sum(target, poly, work);
    scale_sum = scale_sum + std::log(s);
    const double r = 1.0 / s;
    for (int32_t g = 1; g <= 3; ++g) {
      for (int32_t k = 1; k <= poly.NCLASS; ++k) {
        ind_lik(work, target, g, k) = ind_lik(work, target, g, k) * r;
      }
    }
    const double s2 = array_sum(target, poly, work);
    if (P == 0) closing_sum = closing_sum + std::log(s2);
  }
  result = closing_sum + scale_sum;
}

int64_t loop_state_count(const FamilyLayout& fam, int32_t ns) {
  int64_t n = 1;
  for (size_t i = 0; i < fam.breakers.size(); ++i) n *= ns;
  return n;
}

bool pin_loop_state(int32_t f, const PedigreeLayout& layout, int64_t joint,
                    const PolyTables& poly, LikWork& work) {
  const std::vector<LoopBreaker>& breakers = layout[f].breakers;
  const int32_t b = static_cast<int32_t>(breakers.size());
  const int32_t nclass = poly.NCLASS;
  const int32_t ns = 3 * nclass;
  for (int32_t i = 0; i < b; ++i) {
    const int32_t s = breaker_state(joint, b, i, ns);
    if (ind_lik(work, breakers[i].person, s / nclass + 1, s % nclass + 1) == 0.0) return false;
  }
  for (int32_t i = 0; i < b; ++i) {
    const int32_t s = breaker_state(joint, b, i, ns);
    for (int32_t g = 1; g <= 3; ++g) {
      for (int32_t k = 1; k <= nclass; ++k) {
        const bool kept = (g - 1) * nclass + (k - 1) == s;
        if (!kept) ind_lik(work, breakers[i].person, g, k) = 0.0;
        for (int32_t c : breakers[i].copies) ind_lik(work, c, g, k) = kept ? 1.0 : 0.0;
      }
    }
  }
  return true;
}

void loop_state_terms(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                      const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                      std::vector<double>& terms, bool& floor_hit, const TraitView* view) {
  const FamilyLayout& fam = layout[f];
  const int32_t nclass = poly.NCLASS;
  const int64_t n = loop_state_count(fam, 3 * nclass);
  terms.assign(static_cast<size_t>(n), -std::numeric_limits<double>::infinity());
  floor_hit = false;
  // The set-up is made once and restored before every state.
  INIT_FAMILY(f, layout, ped, model, poly, work, view);
  std::vector<double> start;
  for (int32_t d = 1; d <= fam.size; ++d)
    for (int32_t g = 1; g <= 3; ++g)
      for (int32_t k = 1; k <= nclass; ++k) start.push_back(ind_lik(work, d, g, k));
  for (int64_t joint = 0; joint < n; ++joint) {
    size_t at = 0;
    for (int32_t d = 1; d <= fam.size; ++d)
      for (int32_t g = 1; g <= 3; ++g)
        for (int32_t k = 1; k <= nclass; ++k) ind_lik(work, d, g, k) = start[at++];
    if (!pin_loop_state(f, layout, joint, poly, work)) continue;
    double T = 0.0;
    if (fam.has_lists()) PEEL_FAMILY(f, ped, model, poly, work, T);
    for (int32_t i = fam.first_loose; i <= fam.size; ++i) {
      const double S = array_sum(i, poly, work);
      if (S <= LIK_FLOOR) floor_hit = true;
      T = T + std::log(S);
    }
    terms[static_cast<size_t>(joint)] = T;
  }
}

double combine_loop_terms(const double* terms, int64_t n) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  double top = -inf;
  for (int64_t s = 0; s < n; ++s)
    if (terms[s] > top) top = terms[s];
  if (top == -inf || top == inf) return top;
  double sum = 0.0;
  for (int64_t s = 0; s < n; ++s)
    if (terms[s] > -inf) sum = sum + std::exp(terms[s] - top);
  return top + std::log(sum);
}

void FAMILY_TERM_PLAIN(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                       const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                       double& T, bool& floor_hit, const TraitView* view) {
  floor_hit = false;
  T = 0.0;
  const FamilyLayout& fam = layout[f];
  if (fam.has_loops()) {
    std::vector<double> terms;
    loop_state_terms(f, layout, ped, model, poly, work, terms, floor_hit, view);
    T = combine_loop_terms(terms.data(), static_cast<int64_t>(terms.size()));
    return;
  }
  INIT_FAMILY(f, layout, ped, model, poly, work, view);
  if (fam.has_lists()) PEEL_FAMILY(f, ped, model, poly, work, T);
  for (int32_t i = fam.first_loose; i <= fam.size; ++i) {
    const double S = array_sum(i, poly, work);
    if (S <= LIK_FLOOR) {
      floor_hit = true;
      return;
    }
    T = T + std::log(S);
  }
}

void FAMILIES_LOGLIK(PedigreeTables& ped, const PedigreeLayout& layout,
                     const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                     double& LL, const TraitView* view) {
  LL = 0.0;
  ped.NFAM = ped.PED_START[0];
  for (int32_t f = 1; f <= layout.nfam(); ++f) {
    if (!layout[f].evaluated) continue;
    if (view != nullptr && !family_analysed(*view, layout[f].start, layout[f].size)) continue;
    double T = 0.0;
    if (layout[f].size > 0) {
      bool floor_hit = false;
      FAMILY_TERM_PLAIN(f, layout, ped, model, poly, work, T, floor_hit, view);
      if (floor_hit) {
        LL = LH_SENTINEL;
        return;
      }
    }
    LL = LL + T;
  }
  if (view != nullptr) LL = LL + view->log_jacobian;
  // A likelihood that vanished (or overflowed) inside the peeling leaves a
  // total of minus infinity or not-a-number; report the point as impossible
  // rather than hand such a value to the search as a result.
  if (!std::isfinite(LL)) LL = LH_SENTINEL;
}

void SAMPLE_LOGLIK(LikelihoodContext& ctx, double& LL) {
  double MODEL_STATUS = 1.0;
  if (ctx.LH_MODE == 1) {
    SET_MODEL_SEARCH(ctx.par, ctx.model, MODEL_STATUS);
  } else {
    SET_MODEL_INITIAL(ctx.par, ctx.model, ctx.par_err, MODEL_STATUS, ctx.initial_problem);
  }
  if (MODEL_STATUS <= LH_SENTINEL) {
    LL = LH_SENTINEL;
    return;
  }
  if (ctx.engine != nullptr) {
    ctx.ped.NFAM = ctx.ped.PED_START[0];  // as the plain loop sets it
    LL = ctx.engine->families_loglik(ctx.model);
  } else if (ctx.layout != nullptr) {
    FAMILIES_LOGLIK(ctx.ped, *ctx.layout, ctx.model, ctx.poly, ctx.work, LL, ctx.view);
  } else {
    FAMILIES_LOGLIK(ctx.ped, build_layout(ctx.ped), ctx.model, ctx.poly, ctx.work, LL, ctx.view);
  }
}

}  // namespace pedseg
