// Conditioning on the probands: the fitter's ln L against the unconditioned
// ln L minus the denominators worked out by enumeration, on tiny random
// pedigrees under general taus with child probands, families with and
// without probands in one sample.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <random>

#include "likelihood/brute_force.h"
#include "likelihood/lik_fixture.h"
#include "models/analysis.h"
#include "models/ascertainment.h"
#include "models/fit.h"

namespace pedseg {
namespace {

struct Probands {
  std::unique_ptr<SampleTables> sample = std::make_unique<SampleTables>();
  std::vector<bf::Structure> fams;
  std::vector<int> proband;  // per family: local number of its proband, 0 for none
};

// Random families whose proband (one in three families has none) is a
// measured child; the last family's only measured member is its proband, in
// the spike when `spike` holds.
Probands make_sample(std::mt19937& rng, bool spike) {
  Probands p;
  bf::GenOptions opt;
  opt.max_people = 5;
  opt.allow_loose = false;
  while (p.fams.size() < 7) {
    bf::Structure s = bf::random_structure(rng, opt);
    const bf::Family fam = bf::family_of(s);
    const std::vector<int> number = bf::person_numbers(s);
    int child = 0;
    for (int d = 1; d <= static_cast<int>(s.traits.size()); ++d)
      if (fam.people[number[d] - 1].first != 0) child = d;
    if (child == 0) continue;
    const bool last = p.fams.size() == 6;
    if (last)
      for (float& y : s.traits) y = -999.0f;
    const bool has = last || p.fams.size() % 3 != 1;
    if (has) s.traits[child - 1] = last && spike ? 999.5f : 1.25f + 0.1f * p.fams.size();
    p.proband.push_back(has ? child : 0);
    p.fams.push_back(s);
  }
  SampleTables& t = *p.sample;
  bf::put_families(p.fams, *t.ped);
  t.layout = build_layout(*t.ped);
  BUILD_TRANS_POLY(t.poly);
  BUILD_POLY_PRIOR(t.poly);
  t.proband.assign(static_cast<size_t>(t.ped->NIND) + 1, 0);
  int start = 0;
  for (size_t f = 0; f < p.fams.size(); ++f) {
    if (p.proband[f] > 0) t.proband[static_cast<size_t>(start + p.proband[f])] = 1;
    start += static_cast<int>(p.fams[f].traits.size());
  }
  const double v[13] = {0, 0.3, 0.05, 0.1, 0.2, 1.4, 0.6, -0.3, 0.9, 0.45, 0.15, 0.3, 0.7};
  for (int i = 1; i <= NPAR_USED; ++i) {
    t.par.PAR_LINK[i] = i;
    t.par.PAR_EST[i] = 1;
    t.par.PAR_VAL[i] = v[i];
    t.par.PAR_STEP[i] = 0.1;
    t.par.PAR_LOW[i] = i == 5 || i == 6 || i == 7 || i == 11 ? -10.0 : 0.0;
    t.par.PAR_HIGH[i] = i == 12 ? 30.0 : i >= 5 && i <= 7 ? 30.0 : 1.0;
  }
  t.par.NPAR = NPAR_USED;
  return p;
}

// The enumeration's ln P(proband's value) (or of its value being at least
// T) with every other member unmeasured, summed over the families with one.
double brute_denominators(const Probands& p, const bf::Model& m, const Conditioning& c) {
  double total = 0.0;
  for (size_t f = 0; f < p.fams.size(); ++f) {
    if (p.proband[f] == 0) continue;
    bf::Family fam = bf::family_of(p.fams[f]);
    for (bf::Person& q : fam.people) q.trait = -999.0f;
    const int who = bf::person_numbers(p.fams[f])[p.proband[f]] - 1;
    const float y = p.fams[f].traits[p.proband[f] - 1];
    const std::vector<std::array<double, 21>> marg = bf::family_marginals(fam, m);
    double den = 0.0;
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k) {
        double pen = bf::penetrance(m, y, g, k);
        if (c.kind == Ascertainment::Threshold) {
          const double mean = m.mean[g] + m.poly_effect * (k - 4);
          pen = (1.0 - m.spike[g]) * 0.5 * std::erfc((c.threshold - mean) / std::sqrt(2.0 * m.res_var)) +
                m.spike[g];
        }
        den += marg[static_cast<size_t>(who) + 1][static_cast<size_t>(7 * (g - 1) + k - 1)] * pen;
      }
    total += std::log(den);
  }
  return total;
}

TEST(Ascertainment, DenominatorIsTheEnumerationsUnderGeneralTaus) {
  std::mt19937 rng(21);
  for (int round = 0; round < 4; ++round) {
    Probands p = make_sample(rng, round % 2 == 1);
    const TraitAnalysis analysis = make_analysis(*p.sample, {});
    AscertainmentOptions o;
    o.kind = round < 2 ? Ascertainment::Actual : Ascertainment::Threshold;
    if (round == 3) o.threshold = 1.5;
    const Conditioning c = make_conditioning(*p.sample, analysis, o);
    EXPECT_EQ(c.families, 5);
    EXPECT_EQ(c.unconditioned, 2);
    if (round == 2) {
      EXPECT_EQ(c.threshold, 1.25f);  // the smallest proband value
    }
    Fitter plain(*p.sample, 1), conditioned(*p.sample, 2, analysis, c);
    ParamVector point = slot_params(p.sample->par);
    const double all = plain.evaluate(point, TransRule::Taus);
    const double ll = conditioned.evaluate(point, TransRule::Taus);
    ModelQuantities q;
    ASSERT_TRUE(conditioned.quantities(point, TransRule::Taus, q));
    const bf::Model m = bf::model_from_tables(q, p.sample->poly);
    EXPECT_TRUE(liktest::close(ll, all - brute_denominators(p, m, c), 1e-10)) << "round " << round;
  }
}

// A family whose only measured member is its proband contributes 0 under
// actual values, with or without a transformation (whose Jacobian cancels);
// without conditioning it does not.
TEST(Ascertainment, OnlyTheProbandMeasuredContributesNothing) {
  std::mt19937 rng(5);
  Probands p = make_sample(rng, false);
  SampleTables& t = *p.sample;
  for (int i = 1; i <= t.ped->NIND; ++i)
    if (t.proband[static_cast<size_t>(i)] == 0) t.ped->TRAIT[i] = -999.0f;
  for (Transform tr : {Transform::None, Transform::BoxCox}) {
    AnalysisOptions a;
    a.transform = tr;
    a.shift = tr == Transform::None ? 0.0 : 2.0;
    const TraitAnalysis analysis = make_analysis(t, a);
    const Conditioning c = make_conditioning(t, analysis, {});
    EXPECT_EQ(c.kind, Ascertainment::Actual);
    Fitter conditioned(t, 1, analysis, c), plain(t, 1, analysis);
    ParamVector point = conditioned.user_params();
    if (analysis.lambda1 > 0) point.value[analysis.lambda1] = 0.4;
    EXPECT_NEAR(conditioned.evaluate(point, TransRule::Taus), 0.0, 1e-12);
    EXPECT_LT(plain.evaluate(point, TransRule::Taus), -1.0);
  }
}

}  // namespace
}  // namespace pedseg
