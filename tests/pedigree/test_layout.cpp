// The family layout: sizes, evaluated families, the members' roles as the
// set-up passes leave them, the first loose individual, and the loop
// breakers with their copies.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "pedigree/layout.h"
#include "pedigree/pedigree_fixtures.h"

namespace {

using pedseg::Role;
constexpr Role C = Role::Child, P = Role::Parent, L = Role::Loose;

struct Want {
  int32_t start, size;
  bool evaluated;
  int32_t first_loose, last_listed;
  std::vector<Role> roles;
};

void expect_layout(const pedseg::PedigreeTables& ped, const std::vector<Want>& want) {
  const pedseg::PedigreeLayout layout = pedseg::build_layout(ped);
  ASSERT_EQ(layout.nfam(), static_cast<int32_t>(want.size()));
  for (int32_t f = 1; f <= layout.nfam(); ++f) {
    SCOPED_TRACE(f);
    const Want& w = want[f - 1];
    EXPECT_EQ(layout[f].start, w.start);
    EXPECT_EQ(layout[f].size, w.size);
    EXPECT_EQ(layout[f].evaluated, w.evaluated);
    EXPECT_EQ(layout[f].first_loose, w.first_loose);
    EXPECT_EQ(layout[f].last_listed, w.last_listed);
    for (int32_t d = 1; d <= w.size; ++d) EXPECT_EQ(layout.role(f, d), w.roles[d - 1]) << d;
  }
}

TEST(Layout, RolesAndFirstLooseIndividual) {
  // Family 1: parents 1, 2, children 3, 4, loose 5.  Family 2: 3 is a
  // parent of 6 and a child of 1 and 2 (a child first), every member listed.
  auto ped = pedseg::testing::example_tables();
  ped->PED_WEIGHT[1] = 0.5;
  expect_layout(*ped,
                {{0, 5, true, 5, 4, {P, P, C, C, L}}, {5, 6, false, 7, 6, {P, P, C, C, P, C}}});

  // Family 1 has no lists: all loose from 1.  Family 2: individual 1 is in
  // no list but 2 to 4 are.
  auto loose = pedseg::testing::make_tables(2, {2, 0, 3, 7}, {0, 0, 0, 1}, {0, 0, 3}, {2, 3, 4},
                                            {0}, 7);
  loose->PED_WEIGHT[2] = 1.0;
  expect_layout(*loose, {{0, 3, false, 1, 0, {L, L, L}}, {3, 4, true, 1, 4, {L, P, P, C}}});
}

// The copies of loops.dat go to their families by local number: breakers in
// increasing order, each with its copies in file order.
TEST(Layout, LoopBreakersAndCopies) {
  auto ped = pedseg::testing::example_tables();  // families 1..5 and 6..11
  const pedseg::PedigreeLayout layout =
      pedseg::build_layout(*ped, {{2, 10, 11}, {1, 4, 5}, {2, 8, 6}, {2, 8, 7}});
  ASSERT_EQ(layout[1].breakers.size(), 1u);
  EXPECT_EQ(layout[1].breakers[0].person, 4);
  EXPECT_EQ(layout[1].breakers[0].copies, std::vector<int32_t>{5});
  ASSERT_EQ(layout[2].breakers.size(), 2u);
  EXPECT_EQ(layout[2].breakers[0].person, 3);
  EXPECT_EQ(layout[2].breakers[0].copies, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(layout[2].breakers[1].person, 5);
  EXPECT_TRUE(layout[2].has_loops());
  EXPECT_FALSE(pedseg::build_layout(*ped)[2].has_loops());
  for (const pedseg::LoopCopy bad : {pedseg::LoopCopy{3, 1, 2}, pedseg::LoopCopy{1, 4, 6},
                                     pedseg::LoopCopy{2, 5, 7}, pedseg::LoopCopy{1, 2, 2}})
    EXPECT_THROW(pedseg::build_layout(*ped, {bad}), std::invalid_argument);
}

}  // namespace
