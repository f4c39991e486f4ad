// The likelihood under a view of the traits (covariates on the means, a
// Box-Cox transformation): the engine against the plain loop bit for bit,
// both against the enumeration, and the invariances that tie the view to the
// untransformed, unadjusted likelihood.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "likelihood/engine.h"
#include "likelihood/lik_fixture.h"
#include "likelihood/plan.h"
#include "likelihood/loop_pedigrees.h"
#include "model/trait_view.h"

namespace {

using pedseg::Transform;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Sample {
  liktest::Tables t;
  std::vector<bf::Structure> fams;
  std::vector<double> x;  // two covariates per global number (row 0 unused)
};

// Random families, some with loops; covariates with some values missing.
void make_sample(std::mt19937& rng, Sample& s) {
  bf::GenOptions opt;
  opt.max_people = 5;
  for (int f = 0; f < 6; ++f) s.fams.push_back(bf::random_structure(rng, opt));
  std::vector<float> y(11);
  for (float& v : y) v = bf::random_trait(rng);
  s.fams.push_back(looptest::first_cousins(y)[0].s);
  bf::put_families(s.fams, *s.t.ped);
  s.t.loops = bf::loops_of(s.fams);
  pedseg::BUILD_TRANS_POLY(s.t.poly);
  pedseg::BUILD_POLY_PRIOR(s.t.poly);
  const int n = s.t.ped->NIND;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  s.x.assign(static_cast<size_t>(n + 1) * 2, 0.0);
  for (int i = 1; i <= n; ++i) {
    s.x[2 * i] = u(rng) < 0.5 ? 1.0 : 0.0;
    s.x[2 * i + 1] = u(rng) < 0.1 ? kNaN : 20.0 + 40.0 * u(rng);
  }
}

// The enumeration's sample ln L under the same analysis, its centres, shifts
// and geometric mean worked out here.
double brute_force(const Sample& s, bf::Model m, const double* beta, Transform tr, double l1,
                   double l2) {
  const pedseg::PedigreeTables& ped = *s.t.ped;
  const int n = ped.NIND;
  std::vector<bool> analysed(n + 1, false);
  double centre[2] = {0, 0}, logs = 0;
  int count = 0, values = 0;
  for (int i = 1; i <= n; ++i) {
    analysed[i] = ped.TRAIT[i] > -998.0f && !std::isnan(s.x[2 * i + 1]);
    if (!analysed[i]) continue;
    ++count;
    for (int j = 0; j < 2; ++j) centre[j] += s.x[2 * i + j];
    if (ped.TRAIT[i] <= 998.0f) {
      ++values;
      logs += std::log(ped.TRAIT[i] + l2);
    }
  }
  for (double& c : centre) c /= count;
  m.transformed = tr != Transform::None;
  m.lambda1 = tr == Transform::Log ? 0.0 : l1;
  m.lambda2 = l2;
  m.geo = std::exp(logs / values);
  double total = 0.0;
  int start = 0;
  for (const bf::Structure& st : s.fams) {
    bf::Structure cut = st;
    const std::vector<int> number = bf::person_numbers(st);
    bf::Family fam = bf::family_of(cut);
    bool any = false;
    for (size_t d = 1; d <= st.traits.size(); ++d) {
      const int i = start + static_cast<int>(d);
      bf::Person& p = fam.people[number[d] - 1];
      if (!analysed[i]) {
        if (p.trait == st.traits[d - 1]) p.trait = -999.0f;
        continue;
      }
      any = true;
      p.shift = beta[0] * (s.x[2 * i] - centre[0]) + beta[1] * (s.x[2 * i + 1] - centre[1]);
    }
    if (any) total += std::log(bf::family_likelihood_by_elimination(fam, m, 6));
    start += static_cast<int>(st.traits.size());
  }
  return total;
}

// Random covariates and transformations on random families: the engine
// (1 and 2 threads, penetrances kept across moves of the betas and of one
// mean) gives the plain loop's bits, family by family, and both the
// enumeration's ln L.
TEST(TraitView, EngineMatchesPlainAndEnumeration) {
  std::mt19937 rng(20);
  for (int round = 0; round < 4; ++round) {
    Sample s;
    make_sample(rng, s);
    const Transform tr = round == 0 ? Transform::None : round == 3 ? Transform::Log
                                                                    : Transform::BoxCox;
    const double l2 = tr == Transform::None ? 0.0 : 6.0;
    const pedseg::TraitData data = pedseg::build_trait_data(*s.t.ped, s.x, 2, tr, l2);
    pedseg::TraitView view;
    double beta[2] = {0.7, -0.03};
    const double l1 = round == 1 ? 0.4 : 1.6;
    pedseg::set_view(data, beta, l1, view);
    const pedseg::PedigreeLayout layout = pedseg::build_layout(*s.t.ped, s.t.loops);
    // The means near the analysed values.
    double zbar = 0.0;
    int nz = 0;
    for (size_t i = 1; i < view.use.size(); ++i)
      if (view.use[i] == pedseg::TraitUse::Value) zbar += view.z[i], ++nz;
    zbar /= nz;
    const double v[13] = {0, 0.3, 0.05, 0.1, 0.2, zbar + 0.7, zbar - 0.1, zbar - 0.8, 1, 0.5, 0,
                          0.35, 0.8};
    bf::Model m = bf::model_from_params(v, false);
    if (round == 2) m = bf::random_model(rng, false);  // the engine against the plain loop only
    bf::model_to_tables(m, s.t.model, s.t.poly);
    pedseg::BUILD_TRANS_POLY(s.t.poly);
    pedseg::BUILD_POLY_PRIOR(s.t.poly);
    pedseg::LikelihoodEngine engine(*s.t.ped, layout, s.t.poly, view, 1);
    for (int move = 0; move < 3; ++move) {
      if (move == 1) {
        beta[0] = -0.4;
        pedseg::set_view(data, beta, l1, view);
      }
      if (move == 2) s.t.model.GEN_MEAN[2] += 0.3;
      m = bf::model_from_tables(s.t.model, s.t.poly);
      double plain = 0.0;
      pedseg::FAMILIES_LOGLIK(*s.t.ped, layout, s.t.model, s.t.poly, *s.t.work, plain, &view);
      for (int threads : {1, 2}) {
        engine.set_threads(threads);
        const double fast = engine.families_loglik(s.t.model);
        for (int f = 1; f <= s.t.ped->NFAM; ++f) {
          if (!layout[f].evaluated ||
              !pedseg::family_analysed(view, layout[f].start, layout[f].size))
            continue;
          double T = 0.0;
          bool hit = false;
          pedseg::FAMILY_TERM_PLAIN(f, layout, *s.t.ped, s.t.model, s.t.poly, *s.t.work, T, hit,
                                    &view);
          ASSERT_TRUE(same_bits(engine.family_term(f), T))
              << round << " family " << f << ": " << engine.family_term(f) << " vs " << T;
        }
        ASSERT_TRUE(same_bits(fast, plain)) << round << " " << move << ": " << fast << " vs "
                                            << plain;
      }
      if (round != 2) {
        EXPECT_TRUE(liktest::close(plain, brute_force(s, m, beta, tr, l1, l2), 1e-10))
            << "round " << round << ", move " << move;
      }
    }
  }
}

// The view's penetrance is PENETRANCE's bits when it adds nothing, and a
// threshold's is the upper tail of the class's normal mixed with the spike.
TEST(TraitView, PenetranceOfEachUse) {
  Sample s;
  std::mt19937 rng(3);
  make_sample(rng, s);
  const pedseg::TraitData data = pedseg::build_trait_data(*s.t.ped, {}, 0, Transform::None, 0.0);
  pedseg::TraitView view;
  pedseg::set_view(data, nullptr, 1.0, view);
  pedseg::ModelQuantities q;
  q.GEN_MEAN[1] = 0.4;
  q.GEN_MEAN[2] = -0.2;
  q.GEN_MEAN[3] = 1.1;
  q.SPIKE_PROB[1] = 0.1;
  q.SPIKE_PROB[2] = 0.2;
  q.SPIKE_PROB[3] = 0.05;
  q.POLY_EFFECT = 0.3;
  q.RES_VAR = 0.8;
  for (int i = 1; i <= s.t.ped->NIND; ++i)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k)
        ASSERT_TRUE(same_bits(pedseg::view_penetrance(view, q, i, g, k),
                              pedseg::PENETRANCE(s.t.ped->TRAIT, q, i, g, k)));
  view.use[1] = pedseg::TraitUse::Threshold;
  view.z[1] = 1.5;
  view.shift[1] = 0.2;
  const double mean = q.GEN_MEAN[2] + q.POLY_EFFECT * 2 + 0.2;
  const double tail = 0.5 * std::erfc((1.5 - mean) / std::sqrt(2.0 * q.RES_VAR));
  EXPECT_TRUE(liktest::close(pedseg::view_penetrance(view, q, 1, 2, 6), 0.8 * tail + 0.2));
}

// y + c x analysed with beta = c has the ln L of y with beta = 0 once the
// genotype means move by c times the covariate's centre; Box-Cox at
// lambda1 = 1, lambda2 = 1 is the untransformed ln L.
TEST(TraitView, InvariancesOfShiftAndTransformation) {
  Sample s;
  std::mt19937 rng(11);
  make_sample(rng, s);
  pedseg::PedigreeTables& ped = *s.t.ped;
  const int n = ped.NIND;
  std::vector<double> x(static_cast<size_t>(n + 1), 0.0);
  std::uniform_int_distribution<int> age(20, 60), eighths(-7, 16);
  for (int i = 1; i <= n; ++i) {
    x[i] = age(rng);
    if (ped.TRAIT[i] > -998.0f && ped.TRAIT[i] <= 998.0f) ped.TRAIT[i] = eighths(rng) / 8.0f;
  }
  bf::Model m = bf::random_model(rng, false);
  bf::symmetrise(m);
  bf::model_to_tables(m, s.t.model, s.t.poly);
  pedseg::BUILD_TRANS_POLY(s.t.poly);
  pedseg::BUILD_POLY_PRIOR(s.t.poly);
  const pedseg::PedigreeLayout layout = pedseg::build_layout(ped, s.t.loops);

  const double c = 0.375;
  pedseg::TraitData plain_data = pedseg::build_trait_data(ped, x, 1, Transform::None, 0.0);
  pedseg::TraitView plain_view;
  const double zero = 0.0;
  pedseg::set_view(plain_data, &zero, 1.0, plain_view);
  double base = 0.0;
  pedseg::FAMILIES_LOGLIK(ped, layout, s.t.model, s.t.poly, *s.t.work, base, &plain_view);

  auto shifted = std::make_unique<pedseg::PedigreeTables>(ped);
  for (int i = 1; i <= n; ++i)
    if (ped.TRAIT[i] > -998.0f && ped.TRAIT[i] <= 998.0f)
      shifted->TRAIT[i] = static_cast<float>(ped.TRAIT[i] + c * x[i]);  // exact
  const pedseg::TraitData data = pedseg::build_trait_data(*shifted, x, 1, Transform::None, 0.0);
  pedseg::TraitView view;
  pedseg::set_view(data, &c, 1.0, view);
  pedseg::ModelQuantities moved = s.t.model;
  for (int g = 1; g <= 3; ++g) moved.GEN_MEAN[g] += c * data.centre[0];
  pedseg::LikelihoodEngine engine(*shifted, layout, s.t.poly, view, 2);
  EXPECT_TRUE(liktest::close(engine.families_loglik(moved), base));

  // Box-Cox at (1, 1); the values plus 1 are positive.
  const pedseg::TraitData box = pedseg::build_trait_data(ped, {}, 0, Transform::BoxCox, 1.0);
  pedseg::TraitView box_view;
  pedseg::set_view(box, nullptr, 1.0, box_view);
  pedseg::LikelihoodEngine box_engine(ped, layout, s.t.poly, box_view, 1);
  pedseg::LikelihoodEngine untransformed(ped, layout, s.t.poly, 1);
  EXPECT_TRUE(liktest::close(box_engine.families_loglik(s.t.model),
                             untransformed.families_loglik(s.t.model)));
  pedseg::set_view(box, nullptr, 0.5, box_view);  // and the transformation is not ignored
  EXPECT_FALSE(liktest::close(box_engine.families_loglik(s.t.model),
                              untransformed.families_loglik(s.t.model), 1e-3));
}

// The density of y under the transformation, normal(z(y)) times dz/dy with
// the Jacobian's factor ((y + lambda2) / g)^(lambda1 - 1), integrates to 1.
TEST(TraitView, TransformedDensityIntegratesToOne) {
  const double g = 9.0, l2 = 0.5, sd = 0.8;
  for (double l1 : {-0.5, 0.0, 0.5, 1.0, 2.0}) {
    const double mean = pedseg::box_cox(g, l1, g);
    double total = 0.0;
    const double h = 1e-3;
    for (double y = -l2 + h / 2; y < 60.0; y += h) {
      const double u = y + l2;
      const double z = (pedseg::box_cox(u, l1, g) - mean) / sd;
      total += std::exp(-0.5 * z * z) / (sd * std::sqrt(2.0 * std::numbers::pi)) *
               std::exp((l1 - 1.0) * std::log(u / g)) * h;
    }
    EXPECT_NEAR(total, 1.0, 1e-6) << "lambda1 " << l1;
  }
}

// The smallest value plus lambda2 is named when it is not positive; a
// measured value with a missing covariate is analysed as missing, and a
// family left without an analysed member is not evaluated.
TEST(TraitView, DataOfTheAnalysis) {
  Sample s;
  std::mt19937 rng(8);
  make_sample(rng, s);
  pedseg::PedigreeTables& ped = *s.t.ped;
  ped.TRAIT[1] = -3.25f;
  try {
    pedseg::build_trait_data(ped, {}, 0, Transform::Log, 1.0);
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("-2.25"), std::string::npos) << e.what();
  }
  const int n = ped.NIND;
  std::vector<double> x(static_cast<size_t>(n + 1), 1.0);
  int incomplete = 0;
  for (int i = ped.PED_START[1] + 1; i <= ped.PED_START[2]; ++i) {
    x[i] = kNaN;
    incomplete += ped.TRAIT[i] > -998.0f ? 1 : 0;
  }
  x[n] = 3.0;
  const pedseg::TraitData data = pedseg::build_trait_data(ped, x, 1, Transform::None, 0.0);
  EXPECT_EQ(data.incomplete, incomplete);
  pedseg::TraitView view;
  const double beta = 0.5;
  pedseg::set_view(data, &beta, 1.0, view);
  EXPECT_FALSE(pedseg::family_analysed(view, ped.PED_START[1], ped.PED_START[2] - ped.PED_START[1]));
  const pedseg::Plan plan = pedseg::build_plan(ped, pedseg::build_layout(ped, s.t.loops), &view);
  EXPECT_FALSE(plan.layout[1].evaluated);
}

}  // namespace
