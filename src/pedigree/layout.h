// The structure of every family as the likelihood, the posteriors and the
// validator read it, built once from validated tables: sizes, the families
// that are evaluated, the nuclear families, and the role each member has in
// them.  Structural only: nothing here depends on the trait values, so the
// same layout serves any view of the traits.
#pragma once

#include <cstdint>
#include <vector>

#include "pedigree/pedigree.h"

namespace pedseg {

// A member's role as the set-up passes leave it: a child of some list
// (penetrance only), else a parent of some list (penetrance x prior), else
// in no list.
enum class Role : uint8_t { Child, Parent, Loose };

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

  bool has_lists() const { return nuc_last >= nuc_first; }
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

// Families 1..PED_START(0) of tables that passed validate_pedigree.
PedigreeLayout build_layout(const PedigreeTables& ped);

}  // namespace pedseg
