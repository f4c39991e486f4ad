// A simulated nuclear-family sample, converted by ped2iway and fitted by the
// program's likelihood and direct search, gives back the true genotype means
// and residual variance.

#include <gtest/gtest.h>

#include <cmath>

#include "likelihood/engine.h"
#include "search/search.h"
#include "tools/pedsim.h"
#include "tools_fixture.h"

namespace {

using namespace toolstest;

TEST(Estimation, RecoversMeansAndResidualVariance) {
  using namespace pedseg::tools;
  SimOptions o;
  o.families = 600;
  o.child_min = 2;
  o.child_max = 4;
  o.missing_rate = 0.05;
  o.seed = 2024;
  SimParams truth;
  truth.q = 0.5;
  truth.mean[1] = 14.0;
  truth.mean[2] = 10.0;
  truth.mean[3] = 6.0;
  truth.poly_effect = 0.5;
  truth.res_var = 1.5;
  auto c = convert(pedfile_text(simulate(o, truth), o));
  ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
  const int measured = c.out.measured;  // about 2800

  auto ped = load(c.out);
  auto work = std::make_unique<pedseg::LikWork>();
  pedseg::PolyTables poly;
  pedseg::BUILD_TRANS_POLY(poly);
  pedseg::BUILD_POLY_PRIOR(poly);
  pedseg::ModelQuantities model;
  pedseg::ParamTable par;
  par.NPAR = pedseg::NPAR_USED;
  // link, free, value, step, low, high.  q and the polygenic effect are held
  // at their true values; the means start a long way off (about the sample
  // mean plus or minus a standard deviation), the variance at twice its value.
  const double table[13][6] = {{},
                               {1, 0, 0.5, 0.0, 0.0, 1.0},
                               {2, 0, 0.0, 0.0, 0.0, 1.0},
                               {3, 0, 0.0, 0.0, 0.0, 1.0},
                               {4, 0, 0.0, 0.0, 0.0, 1.0},
                               {5, 1, 13.0, 0.5, 0.0, 30.0},
                               {6, 1, 10.5, 0.5, 0.0, 30.0},
                               {7, 1, 7.0, 0.5, 0.0, 30.0},
                               {8, 0, 1.0, 0.0, 0.0, 1.0},
                               {9, 0, 0.5, 0.0, 0.0, 1.0},
                               {10, 0, 0.0, 0.0, 0.0, 1.0},
                               {11, 0, 0.5, 0.0, -5.0, 5.0},
                               {12, 1, 3.0, 0.3, 0.01, 20.0}};
  for (int i = 1; i <= 12; ++i) {
    par.PAR_LINK[i] = static_cast<int32_t>(table[i][0]);
    par.PAR_EST[i] = static_cast<int32_t>(table[i][1]);
    par.PAR_VAL[i] = table[i][2];
    par.PAR_STEP[i] = table[i][3];
    par.PAR_LOW[i] = table[i][4];
    par.PAR_HIGH[i] = table[i][5];
  }
  std::string err_text;
  auto par_err = pedseg::output_memory(err_text, "par.err");
  pedseg::LikelihoodEngine engine(*ped, poly);
  pedseg::LikelihoodContext ctx{par, model, poly, *ped, *work, par_err, -1, &engine};
  double start = 0.0;
  pedseg::SAMPLE_LOGLIK(ctx, start);
  ASSERT_GT(start, -1.0e17) << err_text;
  ctx.LH_MODE = 1;
  const pedseg::SearchResults res = pedseg::DIRECT_SEARCH(
      par.NPAR, pedseg::SearchSettings{},
      [&](pedseg::ParamTable& p) { return engine.sample_loglik(p, model); }, par);
  ASSERT_EQ(res.outcome, pedseg::SearchOutcome::Converged);
  EXPECT_GT(res.BEST_LH, start);
  double estimate[13];
  for (int i = 1; i <= 12; ++i) estimate[i] = par.PAR_VAL[i];
  // The maximum found is at least as high as the ln LH at the true values.
  par.PAR_VAL[5] = truth.mean[1];
  par.PAR_VAL[6] = truth.mean[2];
  par.PAR_VAL[7] = truth.mean[3];
  par.PAR_VAL[12] = truth.res_var;
  double at_truth = 0.0;
  pedseg::SAMPLE_LOGLIK(ctx, at_truth);
  EXPECT_GE(res.BEST_LH, at_truth);

  // Standard errors of the estimates, roughly: a genotype mean rests on the
  // quarter or half of the measured individuals in that genotype, whose
  // values spread by the residual and polygenic variance (1.5 + 1.5 x 0.25);
  // the variance has sampling error var x sqrt(2 / n).  Four of them, with
  // the genotypes more than three standard deviations apart, is the tolerance.
  const double within = truth.res_var + 1.5 * truth.poly_effect * truth.poly_effect;
  const double freq[4] = {0, 0.25, 0.5, 0.25};
  for (int g = 1; g <= 3; ++g) {
    const double se = std::sqrt(within / (freq[g] * measured));
    EXPECT_NEAR(estimate[4 + g], truth.mean[g], 4.0 * se) << "mean " << g;
  }
  const double se_var = truth.res_var * std::sqrt(2.0 / measured);
  EXPECT_NEAR(estimate[12], truth.res_var, 4.0 * se_var) << "residual variance";
}

}  // namespace
