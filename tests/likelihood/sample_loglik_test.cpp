// The sample ln LH: the mapping variant, the family loop, the floor on loose
// individuals and the impossible points, and agreement with the enumeration
// on random pedigrees and parameter points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "likelihood/lik_fixture.h"

namespace {

using pedseg::LH_SENTINEL;
using pedseg::LIK_FLOOR;

class SampleLoglik : public ::testing::Test {
 protected:
  void SetUp() override {
    pedseg::BUILD_TRANS_POLY(t.poly);
    pedseg::BUILD_POLY_PRIOR(t.poly);
    const double v[13] = {0, 0.3, 0.05, 0.1, 0.2, -0.5, 0.4, 1.3, 0.9, 0.6, 0.2, 0.35, 0.8};
    liktest::set_params(par, v);
  }

  double evaluate(int mode) {
    ctx.LH_MODE = mode;
    double LL = 12345.0;
    pedseg::SAMPLE_LOGLIK(ctx, LL);
    return LL;
  }

  double brute(const std::vector<bf::Structure>& fams, bool free_taus) {
    std::vector<bf::Family> simple;
    for (const auto& s : fams) simple.push_back(bf::family_of(s));
    return bf::sample_loglik(simple, bf::model_from_params(par.PAR_VAL, free_taus));
  }

  static bf::Structure make(std::vector<float> traits, std::vector<std::vector<int>> lists = {},
                            std::vector<int> pivots = {}) {
    return bf::Structure{std::move(traits), std::move(lists), std::move(pivots)};
  }

  void mark_arrays(double value) {
    for (int d = 1; d <= 8; ++d)
      for (int i = 0; i < 21; ++i) pedseg::ind_lik(*t.work, d, i / 7 + 1, i % 7 + 1) = value;
  }

  liktest::Tables t;
  pedseg::ParamTable par;
  std::string err_text;
  pedseg::OutputFile par_err = pedseg::output_memory(err_text, "par.err");
  pedseg::LikelihoodContext ctx{par, t.model, t.poly, *t.ped, *t.work, par_err, -1};
};

// Random pedigrees (several families each) at random parameter points, with
// spikes, missing values, a polygenic effect, and free or Mendelian
// transmission, in both mapping variants.
TEST_F(SampleLoglik, RandomPedigreesAndPointsMatchTheEnumeration) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 150; ++trial) {
    double v[13];
    v[1] = 0.05 + 0.9 * u(rng);
    for (int g = 1; g <= 3; ++g) v[1 + g] = trial % 4 == 0 ? 0.0 : 0.3 * u(rng);
    for (int g = 1; g <= 3; ++g) v[4 + g] = -1.0 + 3.0 * u(rng);
    for (int g = 1; g <= 3; ++g) v[7 + g] = u(rng);
    v[11] = trial % 5 == 0 ? 0.0 : 0.6 * u(rng);
    v[12] = 0.2 + 1.3 * u(rng);
    liktest::set_params(par, v);
    // A fresh run: the major-gene table starts Mendelian and is rebuilt only
    // when a transmission parameter is free.
    t.model = pedseg::ModelQuantities{};
    const bool free_taus = trial % 2 == 1;
    if (free_taus) par.PAR_EST[8 + trial % 3] = 1;
    par.PAR_EST[1] = par.PAR_EST[12] = trial % 3 == 0;
    std::vector<bf::Structure> fams;
    const int nfam = std::uniform_int_distribution<int>(1, 3)(rng);
    bf::GenOptions opt;
    opt.max_people = trial % 15 == 0 ? 6 : 5;
    for (int f = 0; f < nfam; ++f) fams.push_back(bf::random_structure(rng, opt));
    bf::put_families(fams, *t.ped);
    const double got = evaluate(trial % 4 == 1 ? -1 : 1);
    const double want = brute(fams, free_taus);
    std::string what;
    for (const auto& s : fams) what += liktest::describe(s) + " ; ";
    ASSERT_TRUE(liktest::close(got, want)) << "trial " << trial << ": " << what;
  }
  EXPECT_EQ(err_text, "");
}

TEST_F(SampleLoglik, NoFamilyGivesZero) {
  bf::put_families({}, *t.ped);
  EXPECT_EQ(evaluate(1), 0.0);
  // PED_START(0) = 0 with families present: none is analysed.
  bf::put_families({make({0.3f, 0.5f})}, *t.ped);
  t.ped->PED_START[0] = 0;
  t.ped->NFAM = 1;
  EXPECT_EQ(evaluate(1), 0.0);
  EXPECT_EQ(t.ped->NFAM, 0);
}

// Families of weight 0 are not set up at all, even one whose loose member
// would trip the floor; families beyond PED_START(0) are not looked at.
TEST_F(SampleLoglik, WeightZeroAndFamiliesBeyondTheCountAreSkipped) {
  par.PAR_VAL[2] = par.PAR_VAL[3] = par.PAR_VAL[4] = 1e-30;
  bf::put_families({make({999.5f}), make({0.3f, 0.5f}, {{1, 2}}, {0}), make({999.5f})}, *t.ped);
  t.ped->PED_WEIGHT[1] = 0.0;
  t.ped->PED_START[0] = 2;
  mark_arrays(-5.0);
  const double LL = evaluate(1);
  EXPECT_TRUE(liktest::close(LL, brute({make({0.3f, 0.5f}, {{1, 2}}, {0})}, false)));
  EXPECT_EQ(t.ped->NFAM, 2);

  // Every weight 0: nothing is set up.
  bf::put_families({make({-999.0f, -999.0f}, {{1, 2}}, {0}), make({-999.0f})}, *t.ped);
  mark_arrays(-5.0);
  EXPECT_EQ(evaluate(1), 0.0);
  EXPECT_EQ(pedseg::ind_lik(*t.work, 1, 1, 1), -5.0);
}

TEST_F(SampleLoglik, MissingTraitsGiveAboutZero) {
  // Weight counts -998, the penetrance takes it as missing.
  bf::put_families({make({-998.0f})}, *t.ped);
  EXPECT_NEAR(evaluate(1), 0.0, 1e-15);
  bf::put_families({make({-998.0f, -999.0f, -998.0f, -998.0f, -999.0f},
                         {{3, 4, 5}, {1, 2, 3}}, {3, 0})},
                   *t.ped);
  EXPECT_NEAR(evaluate(1), 0.0, 1e-14);
}

// LH_MODE 1 takes the search mapping (a free value on its bound is
// rejected); any other mode the initial one (the value is moved inward and
// accepted).
TEST_F(SampleLoglik, ModeSelectsTheMapping) {
  bf::put_families({make({0.3f, 0.5f}, {{1, 2}}, {0})}, *t.ped);
  par.PAR_EST[11] = 1;
  par.PAR_LOW[11] = par.PAR_VAL[11];
  mark_arrays(-5.0);
  EXPECT_EQ(evaluate(1), LH_SENTINEL);
  EXPECT_EQ(pedseg::ind_lik(*t.work, 1, 1, 1), -5.0);  // no family was set up
  const double LL = evaluate(-1);
  EXPECT_GT(LL, -1e17);
  EXPECT_EQ(par.PAR_VAL[11], par.PAR_LOW[11] + pedseg::BOUND_NUDGE);
  EXPECT_TRUE(liktest::close(LL, brute({make({0.3f, 0.5f}, {{1, 2}}, {0})}, false)));
  par.PAR_VAL[11] = par.PAR_LOW[11];
  EXPECT_GT(evaluate(2), -1e17);

  // A value outside its bounds at the start: rejected with its message.
  par.PAR_VAL[12] = 5.0;
  par.PAR_HIGH[12] = 2.0;
  par.PAR_EST[12] = 1;
  EXPECT_EQ(evaluate(-1), LH_SENTINEL);
  EXPECT_NE(err_text.find("ERROR OF INITIAL PARAMETER VALUE"), std::string::npos);
}

// The floor on a loose individual's sum, at its exact limit: a sum equal to
// the double 1.0E-17 passes, a sum equal to the floor itself does not.
TEST_F(SampleLoglik, FloorOnLooseIndividualAtItsLimit) {
  ASSERT_GT(1.0E-17, LIK_FLOOR);
  // One loose spike individual; one genotype and one class carry all the
  // weight, so the sum is the spike probability itself.
  t.model.GEN_FREQ[1] = 1.0;
  t.model.GEN_FREQ[2] = t.model.GEN_FREQ[3] = 0.0;
  for (int k = 1; k <= 7; ++k) t.poly.POLY_PRIOR[k] = k == 4 ? 1.0 : 0.0;
  bf::put_families({make({999.5f})}, *t.ped);
  t.model.SPIKE_PROB[1] = 1.0E-17;
  EXPECT_EQ(liktest::families_loglik(t), std::log(1.0E-17));
  t.model.SPIKE_PROB[1] = 9.99999983775159E-18;
  EXPECT_EQ(liktest::families_loglik(t), LH_SENTINEL);
  t.model.SPIKE_PROB[1] = 0.0;
  EXPECT_EQ(liktest::families_loglik(t), LH_SENTINEL);
}

// The same limit reached through the mapping: the spike probability is moved
// by single steps until the individual's sum (21 products, added as the
// program adds them) is exactly the value wanted.
TEST_F(SampleLoglik, FloorThroughTheMapping) {
  par.PAR_VAL[1] = 0.5;
  bf::put_families({make({0.3f, 0.5f}, {{1, 2}}, {0}), make({999.5f})}, *t.ped);
  auto loose_sum = [&](double x) {
    const double freq[4] = {0, 0.25, 0.5, 0.25};
    double s = 0.0;
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) s += x * freq[g] * t.poly.POLY_PRIOR[k];
    return s;
  };
  for (const double target : {1.0E-17, LIK_FLOOR}) {
    double x = target;
    for (int step = 0; step < 1000 && loose_sum(x) != target; ++step)
      x = loose_sum(x) < target ? std::nextafter(x, 1.0) : std::nextafter(x, 0.0);
    ASSERT_EQ(loose_sum(x), target);
    par.PAR_VAL[2] = par.PAR_VAL[3] = par.PAR_VAL[4] = x;
    const double LL = evaluate(1);
    if (target == LIK_FLOOR) {
      EXPECT_EQ(LL, LH_SENTINEL);
    } else {
      EXPECT_GT(LL, -1e17);
      EXPECT_TRUE(liktest::close(LL, brute({make({0.3f, 0.5f}, {{1, 2}}, {0}), make({999.5f})},
                                           false)));
    }
  }
}

// A later family below the floor makes the whole point impossible, though
// the earlier ones were finite.
TEST_F(SampleLoglik, LaterFamilyBelowTheFloor) {
  par.PAR_VAL[2] = par.PAR_VAL[3] = par.PAR_VAL[4] = 1e-20;
  bf::put_families({make({0.3f, 0.5f, 1.2f}, {{1, 2, 3}}, {0}), make({0.7f})}, *t.ped);
  const double finite = evaluate(1);
  EXPECT_GT(finite, -1e17);
  EXPECT_TRUE(liktest::close(
      finite, brute({make({0.3f, 0.5f, 1.2f}, {{1, 2, 3}}, {0}), make({0.7f})}, false)));
  bf::put_families({make({0.3f, 0.5f, 1.2f}, {{1, 2, 3}}, {0}), make({0.7f}),
                    make({0.4f, 0.1f, 999.5f})},
                   *t.ped);
  EXPECT_EQ(evaluate(1), LH_SENTINEL);
}

// A likelihood that vanishes inside the peeling (a spike member while every
// spike probability is 0), or a trait that is not a number, would leave a
// total of minus infinity or NaN: the point is reported as impossible.
TEST_F(SampleLoglik, NonFiniteTotalIsImpossible) {
  par.PAR_VAL[2] = par.PAR_VAL[3] = par.PAR_VAL[4] = 0.0;
  bf::put_families({make({0.3f}), make({999.5f, 0.5f, 1.2f}, {{1, 2, 3}}, {0})}, *t.ped);
  EXPECT_EQ(evaluate(1), LH_SENTINEL);

  liktest::set_params(par, std::vector<double>{0, 0.3, 0.05, 0.1, 0.2, -0.5, 0.4, 1.3, 0.9, 0.6,
                                               0.2, 0.35, 0.8}
                               .data());
  bf::put_families({make({0.3f, std::numeric_limits<float>::quiet_NaN(), 1.2f}, {{1, 2, 3}}, {0})},
                   *t.ped);
  EXPECT_EQ(evaluate(1), LH_SENTINEL);
  // The same family with an ordinary value is finite.
  t.ped->TRAIT[2] = 0.9f;
  EXPECT_GT(evaluate(1), -1e17);
}

}  // namespace
