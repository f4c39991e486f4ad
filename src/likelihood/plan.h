// The engine's plan: what it keeps of the pedigree across evaluations.  The
// family layout, each nuclear family's peeling case, how each member's array
// is set up under the traits, the order of the families among threads, and
// the individuals whose penetrances are computed.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "pedigree/layout.h"
#include "pedigree/pedigree.h"

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
};

struct Plan {
  PedigreeLayout layout;
  std::vector<FamPlan> fams;      // index f
  std::vector<NucOp> ops;
  std::vector<int32_t> kids;
  std::vector<SetUp> setup;       // as layout.roles
  std::vector<int32_t> order;     // regular evaluated families, largest first
  std::vector<int32_t> irregular; // evaluated families for the plain code
  int32_t max_nf = 0;
  int32_t max_global = 0;
  // Individuals whose penetrances are used: one global number per distinct
  // trait value (ascending), and the others as (global number, the global
  // number whose values they take).
  std::vector<int32_t> value_rep;
  std::vector<std::pair<int32_t, int32_t>> value_copy;

  const SetUp* setup_of(int32_t f) const { return setup.data() + layout[f].roles_begin; }
};

// The plan of validated tables.
Plan build_plan(const PedigreeTables& ped);

}  // namespace pedseg
