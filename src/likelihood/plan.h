// The engine's plan: what it keeps of the pedigree across evaluations.  The
// family layout, each nuclear family's peeling case, how each member's array
// is set up under the traits, what the joint states of a family with loops
// redo, the order of the families among threads, and the individuals whose
// penetrances are computed.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "pedigree/layout.h"
#include "pedigree/pedigree.h"
#include "model/trait_view.h"

namespace pedseg {

enum class Case : int32_t { Parent, SingleChild, ChildWithSiblings };

struct NucOp {
  Case kind;
  int32_t target;   // local number
  int32_t other;    // parent case: the other parent
  int32_t F, M;     // child cases: the parents
  bool closing;     // pivot 0
  int32_t kids_begin, kids_end;  // children (parent case) or siblings, in Plan::kids
};

// A member's array: penetrance only, penetrance x prior, or the prior alone
// (a loose individual with a missing trait).
enum SetUp : uint8_t { SET_PEN = 0, SET_PEN_PRIOR = 1, SET_PRIOR = 2 };

struct FamPlan {
  int32_t ops_begin = 0, ops_end = 0;
  double cost = 0.0;
  int32_t loop = -1;  // in Plan::loops; -1 without loops
};

// A family with loops.  Its joint states share the set-up and the nuclear
// families that reach no breaker, copy or member changed by an earlier
// state-dependent one: those are peeled once per evaluation, the others in
// every state, after the arrays they change are restored and the breakers
// and copies pinned.
struct LoopPlan {
  std::vector<int32_t> breakers;                    // local numbers, in the layout's order
  std::vector<std::pair<int32_t, int32_t>> copies;  // (local number, breaker index)
  std::vector<uint8_t> per_state;                   // by the family's ops
  std::vector<int32_t> restored;                    // members whose arrays a state changes
  int64_t states = 1;
  // By entry of Plan::kids from kids_first on: the slot of the sums of a
  // child of a state-dependent op that no state changes (formed once per
  // evaluation), else -1.
  int32_t kids_first = 0;
  std::vector<int32_t> kid_slot;
  int32_t slots = 0;
};

struct Plan {
  PedigreeLayout layout;
  std::vector<FamPlan> fams;      // index f
  std::vector<LoopPlan> loops;
  std::vector<NucOp> ops;
  std::vector<int32_t> kids;
  std::vector<SetUp> setup;       // as layout.roles
  std::vector<int32_t> order;     // regular evaluated families, largest first
  std::vector<int32_t> irregular; // evaluated families for the plain code
  int32_t max_nf = 0;
  int32_t max_global = 0;
  int64_t max_states = 0;         // of the families with loops the kernels take
  int32_t max_ops = 0;            // nuclear families of one such family
  int32_t max_slots = 0;          // LoopPlan::slots of one such family
  // Individuals whose penetrances are used: one global number per distinct
  // trait value (ascending; per individual under a view that is not
  // by_value), and the others as (global number, the global
  // number whose values they take).
  std::vector<int32_t> value_rep;
  std::vector<std::pair<int32_t, int32_t>> value_copy;

  const SetUp* setup_of(int32_t f) const { return setup.data() + layout[f].roles_begin; }
};

// How a family is peeled: every nuclear family and member as listed (the
// plain code's operations, bit for bit), or with what leads to no analysed
// trait summed out in closed form.  A child who is unmeasured and has no
// analysed descendant peeled into it adds a factor of exactly 1 (its
// transmissions sum to 1 over its states), so it leaves its sibship; a
// nuclear family peeled onto a parent with nothing analysed beyond it adds
// the factor 1 too, so it is left out.  The result is the same ln L up to
// rounding; it pays when few members are analysed (a family seen through its
// probands).  Families with loops and those for the plain code are peeled
// in full.
enum class Peeling : uint8_t { Full, SumOutUnmeasured };

// The plan of validated tables and their layout (the breakers and copies
// come from the layout; without one, from a layout without loops).  With a
// view, the set-up and the evaluated families follow its uses (a family
// without an analysed member is not evaluated), and unless the view is
// by_value every used individual has penetrances of its own; unmeasured
// individuals share one.  SumOutUnmeasured needs a view.
Plan build_plan(const PedigreeTables& ped, const PedigreeLayout& layout,
                const TraitView* view = nullptr, Peeling peeling = Peeling::Full);
Plan build_plan(const PedigreeTables& ped);

}  // namespace pedseg
