// Starting arrays of a family: roles (child, parent, loose), the trait each
// member is evaluated on, and independence from what the arrays held before.
#include <gtest/gtest.h>

#include "likelihood/lik_fixture.h"

namespace {

using pedseg::ind_lik;
using pedseg::PENETRANCE;

class InitFamily : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(3);
    bf::Model m = bf::random_model(rng, false);
    bf::model_to_tables(m, t.model, t.poly);
  }

  // Family 1 holds ten loose measured individuals so that the family under
  // test (family 2) starts at global number 10.
  void put(const bf::Structure& s) {
    bf::Structure pad;
    pad.traits.assign(10, 0.25f);
    bf::put_families({pad, s}, *t.ped);
  }

  double pen(int d, int g, int k) { return PENETRANCE(t.ped->TRAIT, t.model, 10 + d, g, k); }

  // Which starting array member d holds: penetrance alone, penetrance x
  // prior, or the prior alone.
  enum Kind { PenOnly, PenPrior, PriorOnly };
  void expect_array(int d, Kind kind) {
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) {
        double want = 0;
        switch (kind) {
          case PenOnly: want = pen(d, g, k); break;
          case PenPrior: want = pen(d, g, k) * t.model.GEN_FREQ[g] * t.poly.POLY_PRIOR[k]; break;
          case PriorOnly: want = t.model.GEN_FREQ[g] * t.poly.POLY_PRIOR[k]; break;
        }
        ASSERT_EQ(ind_lik(*t.work, d, g, k), want) << "member " << d << " g " << g << " k " << k;
      }
  }

  void init() {
    pedseg::INIT_FAMILY(2, pedseg::build_layout(*t.ped), *t.ped, t.model, t.poly, *t.work);
  }

  liktest::Tables t;
};

TEST_F(InitFamily, FamilyWithoutNuclearFamilies) {
  bf::Structure s;
  s.traits = {0.3f, -999.0f, -998.0f, -997.5f, 999.5f, 998.0f};
  put(s);
  init();
  expect_array(1, PenPrior);
  expect_array(2, PriorOnly);
  expect_array(3, PriorOnly);  // exactly -998 is missing
  expect_array(4, PenPrior);
  expect_array(5, PenPrior);
  expect_array(6, PenPrior);
  // A spike value: frequency x prior x spike probability.
  for (int g = 1; g <= 3; ++g)
    EXPECT_DOUBLE_EQ(ind_lik(*t.work, 5, g, 2),
                     t.model.GEN_FREQ[g] * t.poly.POLY_PRIOR[2] * t.model.SPIKE_PROB[g]);
  // The trait read is the one at PED_START(f) + local number.
  EXPECT_NE(ind_lik(*t.work, 1, 1, 1),
            PENETRANCE(t.ped->TRAIT, t.model, 1, 1, 1) * t.model.GEN_FREQ[1] * t.poly.POLY_PRIOR[1]);
}

// A person who is a child in one list and a parent in another keeps the
// penetrance-only array whichever list comes first.
TEST_F(InitFamily, ChildThatIsAlsoParent) {
  bf::Structure s;
  s.traits = {0.1f, 0.9f, 1.4f, -0.2f, 2.0f};
  s.lists = {{3, 4, 5}, {1, 2, 3}};  // 3 a parent first, a child afterwards
  s.pivots = {3, 0};
  put(s);
  init();
  expect_array(3, PenOnly);
  expect_array(5, PenOnly);
  expect_array(1, PenPrior);
  expect_array(4, PenPrior);

  s.lists = {{1, 2, 3}, {3, 4, 5}};
  s.pivots = {3, 0};
  put(s);
  init();
  expect_array(3, PenOnly);
  expect_array(4, PenPrior);
}

// A parent of two lists and a child in neither receives the prior once; a
// list of one entry makes it a parent; every loose member is set.
TEST_F(InitFamily, ParentOfTwoListsAndSingleEntryList) {
  bf::Structure s;
  s.traits = {0.1f, 0.9f, 1.4f, -0.2f, 2.0f, 0.6f, -999.0f};
  s.lists = {{1, 2, 3}, {4, 1, 5}, {6}};
  s.pivots = {1, 0, 0};
  put(s);
  init();
  expect_array(1, PenPrior);
  expect_array(4, PenPrior);
  expect_array(6, PenPrior);
  expect_array(3, PenOnly);
  expect_array(5, PenOnly);
  expect_array(7, PriorOnly);
}

// Two calls at the same point give the same arrays whatever the arrays held
// before (here: leftovers of another evaluation).
TEST_F(InitFamily, RepeatableWhateverTheArraysHeld) {
  bf::Structure s;
  s.traits = {0.1f, 0.9f, 1.4f, -0.2f, -999.0f};
  s.lists = {{1, 2, 3, 4}};
  s.pivots = {0};
  put(s);
  for (int d = 1; d <= 5; ++d) {
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) ind_lik(*t.work, d, g, k) = 77.0;
  }
  init();
  double first[5][21];
  for (int d = 1; d <= 5; ++d)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) first[d - 1][(g - 1) * 7 + k - 1] = ind_lik(*t.work, d, g, k);
  expect_array(1, PenPrior);
  expect_array(3, PenOnly);
  expect_array(5, PriorOnly);
  for (int d = 1; d <= 5; ++d)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) ind_lik(*t.work, d, g, k) = -1.0;
  init();
  for (int d = 1; d <= 5; ++d)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k)
        ASSERT_EQ(ind_lik(*t.work, d, g, k), first[d - 1][(g - 1) * 7 + k - 1]);
}

}  // namespace
