#include "pedigree/layout.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace pedseg {

FamilyLayout layout_family(const PedigreeTables& ped, int32_t f, std::vector<Role>& roles) {
  FamilyLayout fam;
  fam.start = ped.PED_START[f];
  fam.size = ped.PED_START[f + 1] - fam.start;
  fam.evaluated = ped.PED_WEIGHT[f] != 0.0;
  fam.nuc_first = ped.PED_NUC[f] + 1;
  fam.nuc_last = ped.PED_NUC[f + 1];
  fam.roles_begin = static_cast<int32_t>(roles.size());
  roles.resize(roles.size() + static_cast<size_t>(fam.size), Role::Loose);
  auto role = [&](int32_t d) -> Role& {
    return roles[static_cast<size_t>(fam.roles_begin + d - 1)];
  };
  // Children of every list first, then the parents not already children.
  for (int32_t j = fam.nuc_first; j <= fam.nuc_last; ++j)
    for (int32_t q = ped.NUC_START[j] + 2; q < ped.NUC_START[j + 1]; ++q)
      role(ped.NUC_MEMBERS[q]) = Role::Child;
  for (int32_t j = fam.nuc_first; j <= fam.nuc_last; ++j)
    for (int32_t q = ped.NUC_START[j]; q < ped.NUC_START[j + 1] && q < ped.NUC_START[j] + 2; ++q)
      if (role(ped.NUC_MEMBERS[q]) == Role::Loose) role(ped.NUC_MEMBERS[q]) = Role::Parent;
  // Without lists every member is loose, so the loose terms start at 1.
  fam.first_loose = fam.size + 1;
  for (int32_t d = fam.size; d >= 1; --d) {
    if (role(d) == Role::Loose) fam.first_loose = d;
    else if (fam.last_listed == 0) fam.last_listed = d;
  }
  return fam;
}

PedigreeLayout build_layout(const PedigreeTables& ped, const std::vector<LoopCopy>& loops) {
  PedigreeLayout layout;
  layout.fams.resize(static_cast<size_t>(ped.PED_START[0]) + 1);
  for (int32_t f = 1; f <= ped.PED_START[0]; ++f)
    layout.fams[static_cast<size_t>(f)] = layout_family(ped, f, layout.roles);
  for (const LoopCopy& c : loops) {
    const bool known = c.family >= 1 && c.family <= layout.nfam();
    FamilyLayout* fam = known ? &layout.fams[static_cast<size_t>(c.family)] : nullptr;
    const auto inside = [fam](int32_t i) { return i > fam->start && i <= fam->start + fam->size; };
    if (!known || !inside(c.person) || !inside(c.copy) || c.person == c.copy)
      throw std::invalid_argument("build_layout: loop copy " + std::to_string(c.copy) +
                                  " of person " + std::to_string(c.person) +
                                  " is not a copy inside family " + std::to_string(c.family));
    std::vector<LoopBreaker>& breakers = fam->breakers;
    const int32_t person = c.person - fam->start;
    auto at = std::find_if(breakers.begin(), breakers.end(),
                           [person](const LoopBreaker& b) { return b.person >= person; });
    if (at == breakers.end() || at->person != person) at = breakers.insert(at, {person, {}});
    at->copies.push_back(c.copy - fam->start);
  }
  return layout;
}

}  // namespace pedseg
