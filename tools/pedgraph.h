// The matings of a family: each pair of parents with their children.  A
// mating becomes one nuclear family of iway.dat.  Internal to the tools.
#pragma once

#include <vector>

#include "ped2iway.h"

namespace pedseg::tools {

struct Mating {
  int father = -1;
  int mother = -1;
  std::vector<int> children;  // in the order the people were visited
};

struct MatingGraph {
  std::vector<Mating> matings;               // in order of creation
  std::vector<std::vector<int>> parent_of;   // per person: matings as a parent
  std::vector<int> child_of;                 // per person: the parents' mating, or -1
};

// Visits the people in `order` (indices into fam.people); every person with
// two distinct known parents joins the mating of that pair, created when first
// met.
MatingGraph make_matings(const PedFamily& fam, const std::vector<int>& order);

}  // namespace pedseg::tools
