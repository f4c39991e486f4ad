// Pedigrees with loops cut at breakers: the plain likelihood against
// independent exact computations of the uncut pedigree, whichever breakers
// are chosen and however the members are numbered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "likelihood/engine.h"
#include "likelihood/lik_fixture.h"
#include "likelihood/loop_pedigrees.h"

namespace {

// The program's class tables with a major gene: Mendelian or with free
// transmission, spike probabilities (0 for genotype 1 in `no_spike1`, so
// that a spike value rules genotype 1 out) and a polygenic effect.
bf::Model program_model(bool free_taus, bool no_spike1, double poly) {
  const double v[13] = {0, 0.3, no_spike1 ? 0.0 : 0.05, 0.1, 0.2, -0.5, 0.4, 1.3,
                        0.9, 0.6, 0.2, poly, 0.8};
  return bf::model_from_params(v, free_taus);
}

// The sample of one family, its ln LH by the plain loop (its layout with the
// copies) and by the engine, which must be the same bits.
double plain_loglik(liktest::Tables& t, const bf::Structure& s, const bf::Model& m) {
  bf::put_families({s}, *t.ped);
  t.loops = bf::loops_of({s});
  bf::model_to_tables(m, t.model, t.poly);
  const double plain = liktest::families_loglik(t);
  pedseg::LikelihoodEngine engine(*t.ped, pedseg::build_layout(*t.ped, t.loops), t.poly, 1);
  const double fast = engine.families_loglik(t.model);
  EXPECT_EQ(engine.plain_families(), 0);
  EXPECT_EQ(std::memcmp(&fast, &plain, sizeof fast), 0) << fast << " vs " << plain;
  return plain;
}

struct Point {
  const char* name;
  bf::Model m;
};

std::vector<Point> points() {
  std::mt19937 rng(12);
  bf::Model zeros = bf::random_model(rng, true);  // zero frequencies and transmissions
  bf::symmetrise(zeros);
  return {{"Mendelian", program_model(false, false, 0.35)},
          {"free taus, no spike in genotype 1", program_model(true, true, 0.2)},
          {"random tables with zeros", zeros}};
}

// The 6-person half-sib mating against the enumeration of all 21^6 joint
// states, cut at the man or at a half-sib.
TEST(Loops, HalfSibMatingMatchesTheEnumeration) {
  liktest::Tables t;
  const std::vector<float> y = {0.4f, -999.0f, 1.6f, 999.5f, 0.9f, 2.1f};
  for (const Point& p : points()) {
    const std::vector<looptest::Cut> cuts = looptest::half_sibs(y);
    const double want = std::log(bf::family_likelihood(bf::family_of(cuts[0].s), p.m));
    ASSERT_TRUE(std::isfinite(want)) << p.name;
    double first = 0.0;
    for (const looptest::Cut& c : cuts) {
      const double got = plain_loglik(t, c.s, p.m);
      EXPECT_TRUE(liktest::close(got, want)) << p.name << ", " << c.name;
      if (&c == &cuts[0]) first = got;
      EXPECT_TRUE(liktest::close(got, first)) << p.name << ", " << c.name;
    }
  }
}

// The 9-person first-cousin marriage and the double first cousins (two
// loops, two breakers): 21^9 joint states are too many to enumerate here, so
// the reference is bf::family_likelihood_by_elimination, a sum-product over
// the factors of the uncut pedigree that sums out one person at a time and
// never peels a nuclear family.
TEST(Loops, CousinMarriagesMatchTheEliminationOfPersons) {
  liktest::Tables t;
  const std::vector<float> y = {-999.0f, 0.2f, 1.1f, 999.5f, -0.4f, 0.8f,
                                1.9f,    2.4f, 0.6f, -999.0f, 1.3f};
  for (const Point& p : points()) {
    for (const auto& cuts : {looptest::first_cousins(y), looptest::double_first_cousins(y)}) {
      const double want =
          std::log(bf::family_likelihood_by_elimination(bf::family_of(cuts[0].s), p.m));
      ASSERT_TRUE(std::isfinite(want)) << p.name << ", " << cuts[0].name;
      const double first = plain_loglik(t, cuts[0].s, p.m);
      for (const looptest::Cut& c : cuts) {
        const double got = plain_loglik(t, c.s, p.m);
        EXPECT_TRUE(liktest::close(got, want)) << p.name << ", " << c.name;
        EXPECT_TRUE(liktest::close(got, first)) << p.name << ", " << c.name;
      }
    }
  }
}

// Renumbering the members (and so the order of the breakers and of the
// joint states) leaves the ln LH as it was, to rounding.
TEST(Loops, MemberOrderDoesNotMatter) {
  liktest::Tables t;
  std::mt19937 rng(3);
  const std::vector<float> y = {0.5f, 1.2f, -0.3f, 0.9f, 999.5f, 0.1f,
                                1.4f, -999.0f, 2.2f, 0.7f, 1.0f};
  const bf::Model m = program_model(true, false, 0.3);
  for (const auto& cuts : {looptest::first_cousins(y), looptest::double_first_cousins(y)}) {
    for (const looptest::Cut& c : cuts) {
      const double want = plain_loglik(t, c.s, m);
      for (int round = 0; round < 4; ++round) {
        const int n = static_cast<int>(c.s.traits.size());
        std::vector<int> to(n + 1);
        std::iota(to.begin(), to.end(), 0);
        std::shuffle(to.begin() + 1, to.end(), rng);
        bf::Structure r = c.s;
        for (int p = 1; p <= n; ++p) r.traits[to[p] - 1] = c.s.traits[p - 1];
        for (auto& list : r.lists)
          for (int& x : list) x = to[x];
        for (int& pivot : r.pivots)
          if (pivot != 0) pivot = to[pivot];
        for (auto& [person, copy] : r.copies) person = to[person], copy = to[copy];
        EXPECT_TRUE(liktest::close(plain_loglik(t, r, m), want)) << c.name << ", round " << round;
      }
    }
  }
}

}  // namespace
