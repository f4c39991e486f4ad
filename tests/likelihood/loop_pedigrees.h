// Small pedigrees with loops, each cut in several ways as iway.dat and
// loops.dat give them: member lists of the cut pedigree in peeling order,
// pivots, and the copies (founders with a missing trait) that stand for their
// persons on the far side of the cuts.  The traits are the caller's, by the
// person's number in the uncut pedigree (bf::person_numbers).
#pragma once

#include <string>
#include <vector>

#include "likelihood/brute_force.h"

namespace looptest {

struct Cut {
  std::string name;
  bf::Structure s;
};

// The copies' traits missing, the others from `y` by person.
inline bf::Structure with_traits(bf::Structure s, const std::vector<float>& y) {
  const std::vector<int> number = bf::person_numbers(s);
  for (size_t i = 0; i < s.traits.size(); ++i) s.traits[i] = y[number[i + 1] - 1];
  for (const auto& [person, copy] : s.copies) s.traits[copy - 1] = -999.0f;
  return s;
}

// A man (1) with two wives (2, 3), a child of each (4, 5), the half-sibs
// mated, with a child (6).  Copy 7: of the man in his second marriage, or of
// child 4 as the parent of 6.
inline std::vector<Cut> half_sibs(const std::vector<float>& y) {
  const std::vector<float> t(7, 0.0f);
  return {{"half-sibs cut at the man",
           with_traits({t, {{1, 2, 4}, {7, 3, 5}, {4, 5, 6}}, {4, 5, 0}, {{1, 7}}}, y)},
          {"half-sibs cut at a half-sib",
           with_traits({t, {{7, 5, 6}, {1, 3, 5}, {1, 2, 4}}, {5, 1, 0}, {{4, 7}}}, y)}};
}

// Grandparents 1, 2 with children 3 (a son, married to 5) and 4 (a
// daughter, married to 6); the cousins 7 (of 3 and 5) and 8 (of 6 and 4)
// married, with a child 9.  Cut at cousin 8 (copy 10 in the marriage), at
// son 3 (copy 10 as the father of 7), or at both grandparents (copies 10,
// 11 as the parents of 4: two breakers).
inline std::vector<Cut> first_cousins(const std::vector<float>& y) {
  const std::vector<float> t10(10, 0.0f), t11(11, 0.0f);
  return {{"first cousins cut at a cousin",
           with_traits({t10, {{7, 10, 9}, {3, 5, 7}, {6, 4, 8}, {1, 2, 3, 4}}, {7, 3, 4, 0},
                        {{8, 10}}}, y)},
          {"first cousins cut at a parent",
           with_traits({t10, {{10, 5, 7}, {7, 8, 9}, {6, 4, 8}, {1, 2, 3, 4}}, {7, 8, 4, 0},
                        {{3, 10}}}, y)},
          {"first cousins cut at both grandparents",
           with_traits({t11, {{1, 2, 3}, {3, 5, 7}, {10, 11, 4}, {6, 4, 8}, {7, 8, 9}},
                        {3, 7, 4, 8, 0}, {{1, 10}, {2, 11}}}, y)}};
}

// Two brothers 5, 6 (of 1, 2) married to two sisters 7, 8 (of 3, 4); their
// children 9 (of 5, 7) and 10 (of 6, 8) married, with a child 11.  Two
// loops, cut at brother 6 (copy 13) and at cousin 10 (copy 12).
inline std::vector<Cut> double_first_cousins(const std::vector<float>& y) {
  const std::vector<float> t(13, 0.0f);
  return {{"double first cousins",
           with_traits({t,
                        {{9, 12, 11}, {13, 8, 10}, {3, 4, 7, 8}, {5, 7, 9}, {1, 2, 5, 6}},
                        {9, 8, 7, 5, 0},
                        {{10, 12}, {6, 13}}},
                       y)}};
}

}  // namespace looptest
