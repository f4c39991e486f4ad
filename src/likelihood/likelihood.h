// The likelihood: individual arrays of a family, nuclear-family peeling, and
// the sample ln LH that the search maximises.
#pragma once

#include <cstdint>
#include <vector>

#include "params/codes.h"
#include "params/params.h"
#include "model/model.h"
#include "model/trait_view.h"
#include "pedigree/layout.h"
#include "pedigree/pedigree.h"
#include "textio/textio.h"

namespace pedseg {

class LikelihoodEngine;

// 1.0E-17 as a single-precision constant: a loose individual whose summed
// array is at or below it makes the evaluation impossible.
inline constexpr double LIK_FLOOR = static_cast<double>(1.0E-17f);  // 9.99999983775159E-18

// IND_LIK(d,g,k), d = 1..N_SIZE (family-local number), g = 1..3, k = 1..7,
// stored with d fastest, then g, then k.
struct LikWork {
  double IND_LIK[N_SIZE * 3 * MAX_CLASS] = {};
  // Keeps IND_LIK from being the last member: GCC takes a trailing array to
  // be possibly longer than declared, and the plain peeling then compiles to
  // a quarter more instructions.
  int32_t not_last = 0;
};

inline double& ind_lik(LikWork& w, int d, int g, int k) {
  return w.IND_LIK[(d - 1) + N_SIZE * ((g - 1) + 3 * (k - 1))];
}
inline double ind_lik(const LikWork& w, int d, int g, int k) {
  return w.IND_LIK[(d - 1) + N_SIZE * ((g - 1) + 3 * (k - 1))];
}

// Sum of the entries of d's array, g outer and k inner, from 0.
double array_sum(int32_t d, const PolyTables& poly, const LikWork& work);

// Everything one evaluation reads and writes.
struct LikelihoodContext {
  ParamTable& par;
  ModelQuantities& model;
  const PolyTables& poly;
  PedigreeTables& ped;
  LikWork& work;
  OutputFile& par_err;   // messages of the initial mapping
  int32_t LH_MODE = -1;  // 1: search mapping, otherwise the initial one
  LikelihoodEngine* engine = nullptr;  // the family loop; nullptr: the plain one
  InitialProblem* initial_problem = nullptr;  // why the initial mapping rejected a point
  const PedigreeLayout* layout = nullptr;  // the plain loop's; nullptr: built for each call, without loops
  const TraitView* view = nullptr;  // the plain loop's view of the traits; nullptr: TRAIT
};

// Sets up the arrays of family f by the members' roles in `layout` (built
// from `ped`).  With a view, the penetrances and the loose individuals'
// set-up follow it (view_penetrance) rather than TRAIT; so do the functions
// below that take one.
void INIT_FAMILY(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                 const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                 const TraitView* view = nullptr);

// Peels the nuclear families of family f in file order; result is the
// family's peeled ln LH.
void PEEL_FAMILY(int32_t f, const PedigreeTables& ped, const ModelQuantities& model,
                 const PolyTables& poly, LikWork& work, double& result);

// The family loop of SAMPLE_LOGLIK at the model quantities already in
// place: sets NFAM from PED_START(0) and adds the terms of the evaluated
// families in increasing order.  LL is LH_SENTINEL when a loose
// individual's summed array is at or below LIK_FLOOR, or when the total is
// not finite (a likelihood that vanished inside the peeling).  With a view,
// a family without an analysed member is not evaluated and the view's
// log_jacobian is added after the families.
void FAMILIES_LOGLIK(PedigreeTables& ped, const PedigreeLayout& layout,
                     const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                     double& LL, const TraitView* view = nullptr);

// The plain term of one evaluated family with n_f > 0: set-up, peeling and
// the loose individuals' terms; for a family with loops, the combination of
// loop_state_terms.  `floor_hit` is set when a loose individual's summed
// array is at or below LIK_FLOOR (T is then undefined).
void FAMILY_TERM_PLAIN(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                       const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                       double& T, bool& floor_hit, const TraitView* view = nullptr);

// Families with loops.  A joint state of the b breakers of a family is
// numbered s = sum over breakers i (in the layout's order) of
// s_i x ns^(b - 1 - i), the first breaker outermost, with ns = 3 NCLASS
// states per person and s_i = (g - 1) NCLASS + (k - 1).
int64_t loop_state_count(const FamilyLayout& fam, int32_t ns);
inline int32_t breaker_state(int64_t joint, int32_t breakers, int32_t i, int32_t ns) {
  for (int32_t later = i + 1; later < breakers; ++later) joint /= ns;
  return static_cast<int32_t>(joint % ns);
}

// Pins family f's arrays, as INIT_FAMILY leaves them, to joint state
// `joint`: each breaker keeps its own entry of its state and 0 elsewhere,
// each copy is 1 in its person's state and 0 elsewhere (neither prior nor
// penetrance).  False, with nothing changed, when a breaker's entry is 0:
// the state adds nothing to the likelihood.
bool pin_loop_state(int32_t f, const PedigreeLayout& layout, int64_t joint,
                    const PolyTables& poly, LikWork& work);

// The term of every joint state of family f (set-up, pinning, peeling and
// loose terms, as FAMILY_TERM_PLAIN computes an unlooped family), in state
// order; minus infinity for a state pin_loop_state leaves out.  `floor_hit`
// as in FAMILY_TERM_PLAIN, for any state.
void loop_state_terms(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                      const ModelQuantities& model, const PolyTables& poly, LikWork& work,
                      std::vector<double>& terms, bool& floor_hit,
                      const TraitView* view = nullptr);

// ln of the sum of exp(terms[s]), summed on the linear scale in state order
// with the largest term as the common scale.  A state whose term is minus
// infinity or not a number (a likelihood that vanished inside its peeling)
// adds nothing; minus infinity when no state remains, plus infinity when a
// term is.
double combine_loop_terms(const double* terms, int64_t n);

// The objective: the sample ln LH at the point in the parameter table, or
// LH_SENTINEL for an impossible point (a rejected mapping, a loose
// individual below LIK_FLOOR, or a total that is not finite).
void SAMPLE_LOGLIK(LikelihoodContext& ctx, double& LL);

}  // namespace pedseg
