// The simulator: its random numbers, the genetics it draws, the shapes of
// the pedigrees it builds, and its reproducibility.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "tools/pedsim.h"

namespace {

using namespace pedseg::tools;

TEST(PedsimRandom, SplitMix64KnownValues) {
  uint64_t st = 0;
  EXPECT_EQ(splitmix64(st), 0xe220a8397b1dcdafULL);
  EXPECT_EQ(splitmix64(st), 0x6e789e6aa1b965f4ULL);
}

TEST(PedsimRandom, UniformAndBoundedDraws) {
  Rng r;
  rng_seed(r, 7);
  double sum = 0.0;
  int counts[6] = {};
  const int n = 600000;
  for (int i = 0; i < n; ++i) {
    double u = rng_uniform(r);
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    uint64_t k = rng_below(r, 6);
    ASSERT_LT(k, 6u);
    ++counts[k];
  }
  EXPECT_NEAR(sum / n, 0.5, 5.0 * std::sqrt(1.0 / 12.0 / n));
  for (int c : counts) EXPECT_NEAR(c, n / 6.0, 5.0 * std::sqrt(n * (1.0 / 6) * (5.0 / 6)));
}

TEST(PedsimRandom, OwnLogarithmMatchesTheLibrary) {
  const double xs[] = {1e-300, 1e-17, 0.001, 0.3, 0.5, 0.70710678118654746, 0.7071067811865476,
                       0.9999999, 1.0, 1.0000001, 2.0, 3.0, 10.0, 12345.678, 1e300};
  for (double x : xs) {
    const double want = std::log(x);
    EXPECT_NEAR(det_log(x), want, 4e-16 * std::max(1.0, std::fabs(want))) << x;
  }
  EXPECT_EQ(det_log(1.0), 0.0);
  Rng r;
  rng_seed(r, 3);
  for (int i = 0; i < 100000; ++i) {
    const double x = rng_uniform(r) + 1e-300;
    const double want = std::log(x);
    ASSERT_NEAR(det_log(x), want, 4e-16 * std::max(1.0, std::fabs(want))) << x;
  }
}

TEST(PedsimRandom, NormalDeviatesHaveNormalMoments) {
  Rng r;
  rng_seed(r, 11);
  const int n = 400000;
  double s1 = 0, s2 = 0, s4 = 0;
  int beyond2 = 0;
  for (int i = 0; i < n; ++i) {
    const double z = rng_normal(r);
    s1 += z;
    s2 += z * z;
    s4 += z * z * z * z;
    beyond2 += std::fabs(z) > 1.959963985;
  }
  EXPECT_NEAR(s1 / n, 0.0, 5.0 / std::sqrt(n));
  EXPECT_NEAR(s2 / n, 1.0, 5.0 * std::sqrt(2.0 / n));
  EXPECT_NEAR(s4 / n, 3.0, 5.0 * std::sqrt(96.0 / n));
  EXPECT_NEAR(beyond2 / static_cast<double>(n), 0.05, 5.0 * std::sqrt(0.05 * 0.95 / n));
}

// The pedigree of a family as genotype and class triples (father, mother,
// child) over many simulated nuclear families.
struct Triples {
  std::map<std::tuple<int, int, int>, int> major, poly;
  std::map<int, int> founder_major, founder_poly;
};

Triples count_triples(const SimOptions& o, const SimParams& p) {
  Triples t;
  for (const auto& fam : simulate(o, p))
    for (const auto& x : fam.people) {
      if (x.father < 0) {
        ++t.founder_major[x.genotype];
        ++t.founder_poly[x.poly_class];
        continue;
      }
      const auto& f = fam.people[x.father];
      const auto& m = fam.people[x.mother];
      ++t.major[{f.genotype, m.genotype, x.genotype}];
      ++t.poly[{f.poly_class, m.poly_class, x.poly_class}];
    }
  return t;
}

TEST(PedsimGenetics, FoundersFollowHardyWeinbergAndTheBinomialPrior) {
  SimOptions o;
  o.families = 20000;
  o.child_min = o.child_max = 0;
  SimParams p;
  p.q = 0.3;
  Triples t = count_triples(o, p);
  const double n = 40000;
  const double hw[4] = {0, 0.09, 0.42, 0.49};
  for (int g = 1; g <= 3; ++g)
    EXPECT_NEAR(t.founder_major[g] / n, hw[g], 5 * std::sqrt(hw[g] * (1 - hw[g]) / n)) << g;
  const double binom[8] = {0, 1, 6, 15, 20, 15, 6, 1};
  for (int k = 1; k <= 7; ++k) {
    const double pk = binom[k] / 64.0;
    EXPECT_NEAR(t.founder_poly[k] / n, pk, 5 * std::sqrt(pk * (1 - pk) / n)) << k;
  }
}

TEST(PedsimGenetics, MendelianAndPolygenicTransmission) {
  SimOptions o;
  o.families = 20000;
  o.child_min = o.child_max = 4;
  SimParams p;
  p.q = 0.5;
  Triples t = count_triples(o, p);
  // Impossible children never occur.
  for (auto& [k, c] : t.major) {
    auto [f, m, x] = k;
    if ((f == 1 && m == 1) || (f == 3 && m == 3)) {
      EXPECT_EQ(x, f);
    }
    if ((f == 1 && m == 3) || (f == 3 && m == 1)) {
      EXPECT_EQ(x, 2);
    }
  }
  // Two heterozygotes: 1/4, 1/2, 1/4.
  auto hets = [&](int x) { return static_cast<double>(t.major[std::make_tuple(2, 2, x)]); };
  const double n22 = hets(1) + hets(2) + hets(3);
  ASSERT_GT(n22, 1000);
  EXPECT_NEAR(hets(1) / n22, 0.25, 5 * std::sqrt(0.1875 / n22));
  EXPECT_NEAR(hets(2) / n22, 0.5, 5 * std::sqrt(0.25 / n22));
  // Polygenic classes: the hypergeometric gametes give these children.
  auto share = [&](int a, int b, int k) {
    double n = 0;
    for (int x = 1; x <= 7; ++x) n += t.poly[{a, b, x}];
    return std::make_pair(t.poly[{a, b, k}] / n, n);
  };
  struct Case { int a, b, k; double p; };
  for (Case c : {Case{4, 4, 4, 0.41}, Case{4, 4, 3, 0.2475}, Case{4, 1, 2, 0.45},
                 Case{3, 5, 4, 0.44}, Case{3, 5, 2, 0.04}, Case{2, 3, 1, 0.1}}) {
    auto [got, n] = share(c.a, c.b, c.k);
    ASSERT_GT(n, 200) << c.a << " " << c.b;
    EXPECT_NEAR(got, c.p, 5 * std::sqrt(c.p * (1 - c.p) / n)) << c.a << " x " << c.b << " -> " << c.k;
  }
  for (auto& [k, c] : t.poly) {
    auto [a, b, x] = k;
    if (a == 1 && b == 7) {
      EXPECT_EQ(x, 4);
    }
    if (a == 7 && b == 7) {
      EXPECT_EQ(x, 7);
    }
  }
}

TEST(PedsimGenetics, TransmissionProbabilitiesAreUsed) {
  SimOptions o;
  o.families = 3000;
  o.child_min = o.child_max = 3;
  SimParams p;
  p.q = 0.5;
  p.tau[1] = p.tau[2] = p.tau[3] = 1.0;  // every parent passes the q allele
  Triples t = count_triples(o, p);
  for (auto& [k, c] : t.major) EXPECT_EQ(std::get<2>(k), 1);
  p.tau[1] = p.tau[2] = p.tau[3] = 0.6;
  t = count_triples(o, p);
  double n = 0, g1 = 0;
  for (auto& [k, c] : t.major) {
    n += c;
    if (std::get<2>(k) == 1) g1 += c;
  }
  EXPECT_NEAR(g1 / n, 0.36, 5 * std::sqrt(0.36 * 0.64 / n));
}

TEST(PedsimGenetics, TraitsFollowTheModel) {
  SimOptions o;
  o.families = 4000;
  o.child_min = o.child_max = 3;
  o.missing_rate = 0.25;
  SimParams p;
  p.q = 0.4;
  p.spike[1] = 0.5;
  p.spike[2] = 0.1;
  p.spike[3] = 0.0;
  p.poly_effect = 0.7;
  p.res_var = 2.5;
  std::map<int, double> sum, sum2, cnt, spikes, all;
  double missing = 0, people = 0;
  for (const auto& fam : simulate(o, p))
    for (const auto& x : fam.people) {
      ++people;
      missing += x.missing;
      ++all[x.genotype];
      if (x.spike) {
        ++spikes[x.genotype];
        continue;
      }
      const double r = x.value - p.mean[x.genotype] - (x.poly_class - 4) * p.poly_effect;
      sum[x.genotype] += r;
      sum2[x.genotype] += r * r;
      ++cnt[x.genotype];
    }
  EXPECT_NEAR(missing / people, 0.25, 5 * std::sqrt(0.1875 / people));
  for (int g = 1; g <= 3; ++g) {
    EXPECT_NEAR(spikes[g] / all[g], p.spike[g], 5 * std::sqrt(0.25 / all[g]) + 1e-12) << g;
    EXPECT_NEAR(sum[g] / cnt[g], 0.0, 5 * std::sqrt(p.res_var / cnt[g])) << g;
    EXPECT_NEAR(sum2[g] / cnt[g], p.res_var, 5 * p.res_var * std::sqrt(2.0 / cnt[g])) << g;
  }
}

TEST(PedsimShapes, NuclearFamiliesWithinTheChildRange) {
  SimOptions o;
  o.families = 300;
  o.child_min = 2;
  o.child_max = 5;
  auto fams = simulate(o, SimParams{});
  ASSERT_EQ(fams.size(), 300u);
  std::map<size_t, int> sizes;
  for (const auto& f : fams) {
    ++sizes[f.people.size()];
    ASSERT_GE(f.people.size(), 4u);
    ASSERT_LE(f.people.size(), 7u);
    EXPECT_EQ(f.people[0].sex, 1);
    EXPECT_EQ(f.people[1].sex, 2);
    for (size_t i = 2; i < f.people.size(); ++i) {
      EXPECT_EQ(f.people[i].father, 0);
      EXPECT_EQ(f.people[i].mother, 1);
    }
  }
  EXPECT_EQ(sizes.size(), 4u);  // every count from 2 to 5 occurs
}

TEST(PedsimShapes, ThreeGenerationsMarriagesAndLooseRelatives) {
  SimOptions o;
  o.families = 400;
  o.generations = 3;
  o.mix = 0.5;
  o.marry = 1.0;
  o.remarry = 0.5;
  o.loose = 0.5;
  o.spouses = true;
  int three_gen = 0, second_marriages = 0, loose = 0, founder_remarried = 0;
  for (const auto& f : simulate(o, SimParams{})) {
    const int n = static_cast<int>(f.people.size());
    std::vector<int> depth(n, 0), kids(n, 0);
    std::map<int, std::set<int>> partners;
    for (int i = 0; i < n; ++i) {
      const auto& x = f.people[i];
      if (x.father < 0) continue;
      ASSERT_LT(x.father, i);  // parents come first
      ASSERT_LT(x.mother, i);
      ASSERT_EQ(f.people[x.father].sex, 1);
      ASSERT_EQ(f.people[x.mother].sex, 2);
      depth[i] = std::max(depth[x.father], depth[x.mother]) + 1;
      ++kids[x.father];
      ++kids[x.mother];
      partners[x.father].insert(x.mother);
      partners[x.mother].insert(x.father);
    }
    int maxdepth = 0;
    for (int d : depth) maxdepth = std::max(maxdepth, d);
    ASSERT_LE(maxdepth, 2);
    three_gen += maxdepth == 2;
    for (auto& [who, set] : partners) second_marriages += set.size() > 1;
    founder_remarried += partners[0].size() > 1;
    for (int i = 0; i < n; ++i) loose += f.people[i].father < 0 && kids[i] == 0;
  }
  EXPECT_NEAR(three_gen, 200, 60);
  EXPECT_NEAR(founder_remarried, 200, 60);
  EXPECT_GT(second_marriages, founder_remarried + 50);
  EXPECT_NEAR(loose, 200, 60);
}

TEST(PedsimOutput, ReproducibleText) {
  SimOptions o;
  o.families = 30;
  o.generations = 3;
  o.spouses = true;
  o.missing_rate = 0.1;
  SimParams p;
  p.spike[1] = 0.3;
  o.seed = 99;
  const std::string a = pedfile_text(simulate(o, p), o);
  EXPECT_EQ(a, pedfile_text(simulate(o, p), o));
  o.seed = 100;
  EXPECT_NE(a, pedfile_text(simulate(o, p), o));
  EXPECT_NE(a.find(" -999\n"), std::string::npos);
  EXPECT_NE(a.find(" 1000\n"), std::string::npos);
  EXPECT_EQ(a.rfind("# pedsim, seed 99", 0), 0u);
}

TEST(PedsimOutput, ParameterChecks) {
  SimParams p;
  EXPECT_EQ(check_params(p), "");
  p.q = 1.5;
  EXPECT_NE(check_params(p), "");
  p = SimParams{};
  p.res_var = 0.0;
  EXPECT_NE(check_params(p), "");
  p = SimParams{};
  p.tau[2] = -0.1;
  EXPECT_NE(check_params(p), "");
  p = SimParams{};
  p.mean[1] = 990.0;  // values would reach the spike codes
  EXPECT_NE(check_params(p), "");
  for (int slot = 1; slot <= 12; ++slot) {
    ASSERT_TRUE(set_slot(p, slot, 0.125 * slot));
    EXPECT_EQ(get_slot(p, slot), 0.125 * slot);
  }
  EXPECT_FALSE(set_slot(p, 13, 1.0));
}

// Ages, effects and a lognormal scale change the values written and nothing
// else: the genetics come from the same draws.
TEST(PedsimStudy, EffectsAgesAndLognormalLeaveTheGeneticsAlone) {
  SimOptions o;
  o.families = 60;
  o.generations = 3;
  o.spouses = true;
  o.missing_rate = 0.1;
  o.seed = 5;
  SimParams p;
  p.spike[3] = 0.2;
  const auto base = simulate(o, p);
  SimOptions ages = o, effects = o, lognormal = o;
  ages.ages = true;
  effects.sex_effect = 3.0;
  effects.age_effect = 0.05;
  lognormal.lognormal = true;
  const auto with_ages = simulate(ages, p), with_effects = simulate(effects, p),
             logs = simulate(lognormal, p);
  for (size_t f = 0; f < base.size(); ++f) {
    int top = 0;
    for (const auto& x : base[f].people) top = std::max(top, x.generation);
    for (size_t i = 0; i < base[f].people.size(); ++i) {
      const SimPerson& b = base[f].people[i];
      for (const auto* other : {&with_ages, &with_effects, &logs}) {
        const SimPerson& x = (*other)[f].people[i];
        ASSERT_EQ(std::tie(b.genotype, b.poly_class, b.spike, b.missing, b.sex),
                  std::tie(x.genotype, x.poly_class, x.spike, x.missing, x.sex));
      }
      const SimPerson& a = with_ages[f].people[i];
      EXPECT_EQ(a.value, b.value);
      const int youngest = AGE_BASE + AGE_STEP * (top - b.generation);
      EXPECT_GE(a.age, youngest);
      EXPECT_LT(a.age, youngest + AGE_SPAN);
      if (b.spike) continue;
      const SimPerson& e = with_effects[f].people[i];
      EXPECT_EQ(e.age, a.age);
      EXPECT_NEAR(e.value - b.value, (b.sex == 1 ? 3.0 : 0.0) + 0.05 * e.age, 1e-12);
      EXPECT_NEAR(logs[f].people[i].value, std::exp(b.value), 1e-14 * std::exp(b.value));
    }
  }
  const std::string text = pedfile_text(with_effects, effects);
  EXPECT_EQ(text.rfind("# pedsim, seed 5\nfamily individual father mother sex trait age\nF1 1 0 0 1 ", 0), 0u);
  EXPECT_EQ(pedfile_text(base, o), pedfile_text(simulate(o, p), o));
  for (double x : {-700.0, -20.5, -1.0, -0.3, 0.0, 1e-10, 0.34657, 2.5, 6.9, 88.0, 700.0})
    EXPECT_NEAR(det_exp(x), std::exp(x), 1e-15 * std::exp(x)) << x;
}

// A selected sample: every proband at or above the threshold, the pilot's
// quantile near the population's, about one family in ten kept at 0.9, and a
// selection no family meets stopping after its cap.
TEST(PedsimStudy, SelectionThroughProbands) {
  SimOptions o;
  o.families = 200;
  o.child_min = 2;
  o.select = o.probands = true;
  o.quantile = 0.9;
  o.pilot = 5000;
  o.seed = 3;
  SimParams p;
  SimReport report;
  const auto kept = simulate(o, p, &report);
  ASSERT_EQ(kept.size(), 200u);
  for (const auto& f : kept) {
    ASSERT_EQ(f.proband, 2);
    EXPECT_GE(f.people[2].value, report.threshold);
    EXPECT_FALSE(f.people[2].missing);
  }
  EXPECT_GT(report.drawn, 1400);
  EXPECT_LT(report.drawn, 2700);
  // The population's 0.9 quantile from a larger unselected sample.
  SimOptions all = o;
  all.select = false;
  all.families = 40000;
  all.seed = 4;
  std::vector<double> v;
  for (const auto& f : simulate(all, p)) v.push_back(f.people[2].value);
  std::sort(v.begin(), v.end());
  EXPECT_NEAR(report.threshold, v[36000], 0.15);
  const std::string text = pedfile_text(kept, o);
  EXPECT_NE(text.find("\nfamily individual father mother sex trait proband\n"), std::string::npos);
  size_t ones = 0;
  for (size_t at = text.find(" 1\n"); at != std::string::npos; at = text.find(" 1\n", at + 1)) ++ones;
  EXPECT_EQ(ones, 200u);
  o.families = 2;
  o.quantile = 0.0;
  o.threshold = 100.0;
  EXPECT_TRUE(simulate(o, p, &report).empty());
  EXPECT_EQ(report.drawn, 2 * MAX_DRAWS_PER_KEPT);
}

// A sample of the size bench/ times (timings belong there, not here).
TEST(PedsimOutput, LargeSample) {
  SimOptions o;
  o.families = 600;
  o.generations = 3;
  o.spouses = true;
  o.marry = 1.0;
  o.child_min = 3;
  o.child_max = 6;
  o.remarry = 0.2;
  auto fams = simulate(o, SimParams{});
  const std::string text = pedfile_text(fams, o);
  size_t people = 0;
  for (const auto& f : fams) people += f.people.size();
  EXPECT_GT(people, 15000u);
  EXPECT_GT(text.size(), people);
}

}  // namespace
