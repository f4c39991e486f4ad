// The structure of every family as the likelihood, the posteriors and the
// validator read it, built once from validated tables: sizes, the families
// that are evaluated, the nuclear families, the role each member has in
// them, and the loop breakers with their copies.  Structural only: nothing
// here depends on the trait values, so the same layout serves any view of
// the traits.
#pragma once

#include <cstdint>
#include <vector>

#include "pedigree/pedigree.h"

namespace pedseg {

// A member's role as the set-up passes leave it: a child of some list
// (penetrance only), else a parent of some list (penetrance x prior), else
// in no list.
enum class Role : uint8_t { Child, Parent, Loose };

// A copy made where a loop of the pedigree was cut (one line of loops.dat):
// the family and the global numbers of the person and of its copy.
struct LoopCopy {
  int32_t family = 0;
  int32_t person = 0;
  int32_t copy = 0;
};

// The likelihood of a family with loops sums over the 21^b joint states of
// its b loop breakers: more than MAX_BREAKERS are refused unless a program
// raises the limit, never beyond MAX_BREAKERS_LIMIT.
constexpr int32_t MAX_BREAKERS = 3;
constexpr int32_t MAX_BREAKERS_LIMIT = 5;

// A loop breaker: a person and the copies that stand for it on the far side
// of its cuts (local numbers; the copies in the order of loops.dat).
struct LoopBreaker {
  int32_t person = 0;
  std::vector<int32_t> copies;
};

struct FamilyLayout {
  int32_t start = 0;        // PED_START(f): local number d is global start + d
  int32_t size = 0;         // n_f
  bool evaluated = false;   // PED_WEIGHT(f) is not 0
  int32_t nuc_first = 1;    // nuclear families nuc_first..nuc_last
  int32_t nuc_last = 0;
  // The loose individuals' terms start here: the first local number in no
  // list (n_f + 1 when all are listed, 1 for a family without lists).
  int32_t first_loose = 1;
  int32_t last_listed = 0;  // 0 when none is listed
  int32_t roles_begin = 0;  // in PedigreeLayout::roles
  std::vector<LoopBreaker> breakers;  // by increasing local number; empty without loops

  bool has_lists() const { return nuc_last >= nuc_first; }
  bool has_loops() const { return !breakers.empty(); }
};

struct PedigreeLayout {
  std::vector<FamilyLayout> fams;  // index f = 1..nfam(); 0 unused
  std::vector<Role> roles;         // by family, local numbers 1..n_f

  int32_t nfam() const { return static_cast<int32_t>(fams.size()) - 1; }
  const FamilyLayout& operator[](int32_t f) const { return fams[static_cast<size_t>(f)]; }
  Role role(int32_t f, int32_t d) const {
    return roles[static_cast<size_t>(fams[static_cast<size_t>(f)].roles_begin + d - 1)];
  }
};

// The layout of family f, its roles appended to `roles`.  The family must
// have passed the validator's error checks.
FamilyLayout layout_family(const PedigreeTables& ped, int32_t f, std::vector<Role>& roles);

// Families 1..PED_START(0) of tables that passed validate_pedigree, with the
// breakers and copies of `loops`, which must have passed the sample loader's
// checks (a person or copy outside its family throws std::invalid_argument).
PedigreeLayout build_layout(const PedigreeTables& ped, const std::vector<LoopCopy>& loops = {});

}  // namespace pedseg
