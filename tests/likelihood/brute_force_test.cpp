// Checks of the test-side reference itself: its model tables, its
// enumeration, and the structures its generator produces.
#include <gtest/gtest.h>

#include <set>

#include "likelihood/brute_force.h"
#include "likelihood/lik_fixture.h"
#include "likelihood/loop_pedigrees.h"

namespace {

const double kParams[13] = {0, 0.3, 0.05, 0.1, 0.2, -0.5, 0.4, 1.3, 0.9, 0.6, 0.2, 0.35, 0.8};

TEST(BruteForceModel, PolygenicTablesHaveTheKnownValues) {
  const bf::Model m = bf::model_from_params(kParams, false);
  const double four_four[8] = {0, 0.0025, 0.045, 0.2475, 0.41, 0.2475, 0.045, 0.0025};
  for (int k = 1; k <= 7; ++k) EXPECT_NEAR(m.tpoly[k][4][4], four_four[k], 1e-15);
  EXPECT_NEAR(m.tpoly[4][1][7], 1.0, 1e-15);
  EXPECT_NEAR(m.tpoly[2][3][5], 0.04, 1e-15);
  double s = 0;
  for (int k = 1; k <= 7; ++k) s += m.prior[k];
  EXPECT_EQ(s, 1.0);
  EXPECT_EQ(m.tmajor[2][2][2], 0.5);
  EXPECT_EQ(m.tmajor[2][1][3], 1.0);
}

// Under Hardy-Weinberg and Mendelian transmission a child whose parents are
// unobserved has the population distribution, so a measured child with
// missing parents has the likelihood of a lone measured founder.
TEST(BruteForceEnumeration, ChildOfUnobservedParentsIsLikeAFounder) {
  const bf::Model m = bf::model_from_params(kParams, false);
  bf::Family trio;
  trio.people = {{0, 0, -999.0f}, {0, 0, -999.0f}, {1, 2, 0.7f}};
  bf::Family lone;
  lone.people = {{0, 0, 0.7f}};
  EXPECT_TRUE(liktest::close(bf::family_likelihood(trio, m), bf::family_likelihood(lone, m)));
  bf::Family missing;
  missing.people = {{0, 0, -999.0f}, {0, 0, -998.0f}, {1, 2, -999.0f}, {1, 2, -999.0f}};
  EXPECT_TRUE(liktest::close(bf::family_likelihood(missing, m), 1.0));
}

// The product over founders, transmissions and penetrances, summed by hand
// for a parent and child with one class forced (every other class has prior
// 0), checks the enumeration's bookkeeping of who is the first parent.
TEST(BruteForceEnumeration, FirstParentIsTheSecondIndex) {
  bf::Model m;
  m.freq[1] = 0.2;
  m.freq[2] = 0.3;
  m.freq[3] = 0.5;
  m.prior[4] = 1.0;
  m.tpoly[4][4][4] = 1.0;
  m.res_var = 1.0;
  m.mean[1] = 0.0;
  m.mean[2] = 1.0;
  m.mean[3] = 2.0;
  // Child is genotype 1 exactly when the first parent is genotype 1.
  for (int j = 1; j <= 3; ++j) {
    m.tmajor[1][1][j] = 1.0;
    m.tmajor[3][2][j] = 1.0;
    m.tmajor[3][3][j] = 1.0;
  }
  bf::Family fam;
  fam.people = {{0, 0, 0.0f}, {0, 0, -999.0f}, {1, 2, 0.0f}};
  const double p1 = bf::penetrance(m, 0.0f, 1, 4), p2 = bf::penetrance(m, 0.0f, 2, 4),
               p3 = bf::penetrance(m, 0.0f, 3, 4);
  EXPECT_TRUE(liktest::close(bf::family_likelihood(fam, m),
                             0.2 * p1 * p1 + 0.3 * p2 * p3 + 0.5 * p3 * p3));
  // With the roles of the parents exchanged the child follows the unobserved
  // parent.
  fam.people = {{0, 0, -999.0f}, {0, 0, 0.0f}, {1, 2, 0.0f}};
  EXPECT_TRUE(liktest::close(bf::family_likelihood(fam, m),
                             (0.2 * p1 + 0.3 * p2 + 0.5 * p3) * (0.2 * p1 + 0.8 * p3)));
}

// The elimination of persons one at a time is the enumeration, on random
// pedigrees and on the half-sib mating (a loop), and the copies of a cut
// pedigree stand for their persons in the uncut one.
TEST(BruteForceElimination, SameAsTheEnumeration) {
  std::mt19937 rng(19);
  for (int trial = 0; trial < 30; ++trial) {
    bf::GenOptions opt;
    opt.max_people = 5;
    const bf::Family fam = bf::family_of(bf::random_structure(rng, opt));
    bf::Model m = bf::random_model(rng, trial % 2 == 0);
    EXPECT_TRUE(liktest::close(bf::family_likelihood_by_elimination(fam, m),
                               bf::family_likelihood(fam, m)))
        << "trial " << trial;
  }
  const std::vector<float> y = {0.4f, -999.0f, 1.6f, 999.5f, 0.9f, 2.1f};
  const bf::Family loop = bf::family_of(looptest::half_sibs(y)[1].s);
  ASSERT_EQ(loop.people.size(), 6u);
  EXPECT_EQ(loop.people[5].first, 4);
  EXPECT_EQ(loop.people[5].second, 5);
  const bf::Model m = bf::model_from_params(kParams, true);
  EXPECT_TRUE(liktest::close(bf::family_likelihood_by_elimination(loop, m),
                             bf::family_likelihood(loop, m)));
}

// The generated structures meet the rules the program relies on: members
// within the family, lists of at least two, a child pivot at position 3,
// loose individuals last, a person a child in one list at most, and an order
// in which no array is consumed before the families peeled onto it.
TEST(BruteForceGenerator, StructuresAreValidPeelingOrders) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    const bf::Structure s = bf::random_structure(rng, bf::GenOptions{});
    const int n = static_cast<int>(s.traits.size());
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 6);
    std::set<int> listed, children;
    for (size_t j = 0; j < s.lists.size(); ++j) {
      const auto& l = s.lists[j];
      ASSERT_GE(l.size(), 2u);
      for (size_t pos = 0; pos < l.size(); ++pos) {
        ASSERT_GE(l[pos], 1);
        ASSERT_LE(l[pos], n);
        listed.insert(l[pos]);
        if (pos >= 2) {
          ASSERT_TRUE(children.insert(l[pos]).second) << liktest::describe(s);
        }
      }
      const int P = s.pivots[j];
      if (P != 0 && P != l[0] && P != l[1]) {
        ASSERT_EQ(P, l[2]) << liktest::describe(s);
      }
    }
    for (int i = 1; i <= static_cast<int>(listed.size()); ++i) ASSERT_TRUE(listed.count(i));
    auto target = [&](size_t j) { return s.pivots[j] == 0 ? s.lists[j][0] : s.pivots[j]; };
    for (size_t j = 0; j < s.lists.size(); ++j)
      for (int x : s.lists[j]) {
        if (x == target(j)) continue;
        for (size_t later = j + 1; later < s.lists.size(); ++later)
          ASSERT_NE(target(later), x) << liktest::describe(s);
      }
  }
}

}  // namespace
