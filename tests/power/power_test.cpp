// pedseg-power: any split of a run gives the same replicates.tsv, the merge
// refuses incomplete or overlapping parts, the Clopper-Pearson interval, and
// the bootstrap's p.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "models/bootstrap.h"
#include "power/power.h"
#include "support/scratch_dir.h"
#include "tools/ped2iway.h"

namespace {

using namespace pedseg;
using namespace pedseg::power;

// 20 nuclear families simulated and converted; the sample loaded.
std::unique_ptr<SampleTables> small_sample() {
  std::string out, err;
  EXPECT_EQ(tools::run_pedsim({"--families", "20", "--seed", "5", "--out", "ped.txt"}, out, err), 0)
      << err;
  EXPECT_EQ(tools::run_ped2iway({"ped.txt", "--par-template"}, out, err), 0) << err;
  auto sample = std::make_unique<SampleTables>();
  std::string diag;
  OutputFile d = output_memory(diag, "diagnostics");
  load_sample(*sample, "", d, "test");
  return sample;
}

// No gene and no polygenic effect: the sporadic model.
tools::SimParams sporadic_truth(const SampleTables& s) {
  tools::SimParams t = sim_params(slot_params(s.par));
  t.mean[2] = t.mean[3] = t.mean[1];
  t.poly_effect = 0.0;
  return t;
}

TEST(Power, AnySplitGivesTheSameReplicates) {
  testsupport::ScratchDir scratch("power_split");
  const auto sample = small_sample();
  const tools::SimParams truth = sporadic_truth(*sample);
  ASSERT_EQ(check_truth(*sample, truth), "");
  const Design d = make_design(*sample, ModelKind::Sporadic, ModelKind::Polygenic, truth, 6, 40, 2);
  EXPECT_TRUE(d.truth_under_null);
  std::string whole = replicates_head(d);
  for (const std::string& row : run_replicates(*sample, d, 0, 1, 1)) whole += row;
  std::vector<std::string> parts;
  for (int64_t k = 0; k < 3; ++k) {
    std::string text = replicates_head(d);
    for (const std::string& row : run_replicates(*sample, d, k, 3, 2)) text += row;
    parts.push_back(text);
  }
  Design got;
  Table t;
  EXPECT_EQ(merge_replicates({parts[2], parts[0], parts[1]}, got, t), whole);
  EXPECT_EQ(merge_replicates({whole}, got, t), whole);
  ASSERT_EQ(t.rows.size(), 6u);
  EXPECT_TRUE(got.truth_under_null);
  EXPECT_EQ(got.alt_free, d.alt_free);
  for (int32_t i = 1; i <= NPAR_USED; ++i) EXPECT_EQ(got.truth[i], d.truth[i]) << i;
  // Every replicate differs (its own seed) and both fits converged.
  for (size_t r = 0; r < t.rows.size(); ++r) {
    EXPECT_EQ(t.rows[r][t.column("seed")], std::to_string(40 + r));
    EXPECT_EQ(t.rows[r][t.column("converged_alt")], "1");
    if (r > 0) {
      EXPECT_NE(t.rows[r][t.column("lnL_null")], t.rows[r - 1][t.column("lnL_null")]);
    }
  }
  EXPECT_THROW(merge_replicates({parts[0], parts[2]}, got, t), std::invalid_argument);
  EXPECT_THROW(merge_replicates({parts[0], parts[1], parts[2], parts[1]}, got, t),
               std::invalid_argument);
  // A part of another design.
  const Design other = make_design(*sample, ModelKind::Sporadic, ModelKind::Polygenic, truth, 6, 41, 2);
  EXPECT_THROW(merge_replicates({parts[0], parts[1], replicates_head(other)}, got, t),
               std::invalid_argument);
  // The summary covers the alt model's free parameters.
  const std::string summary = summary_tsv(got, t);
  EXPECT_NE(summary.find("\npolygenic_effect\t0\t6\t"), std::string::npos) << summary;
}

// The interval's ends in closed form: x = 0 and x = n, and n = 2 (the
// binomial tails are polynomials of degree 2).
TEST(Power, ClopperPearsonInClosedForm) {
  const double a = 0.05;
  for (int64_t n : {1, 7, 200}) {
    const double edge = std::pow(a / 2.0, 1.0 / static_cast<double>(n));
    const Interval none = clopper_pearson(0, n, a), all = clopper_pearson(n, n, a);
    EXPECT_EQ(none.low, 0.0);
    EXPECT_NEAR(none.high, 1.0 - edge, 1e-12) << n;
    EXPECT_NEAR(all.low, edge, 1e-12) << n;
    EXPECT_EQ(all.high, 1.0);
  }
  // x = 1 of 2: 1 - (1 - low)^2 = a/2 and 1 - high^2 = a/2.
  const Interval one = clopper_pearson(1, 2, a);
  EXPECT_NEAR(one.low, 1.0 - std::sqrt(1.0 - a / 2.0), 1e-12);
  EXPECT_NEAR(one.high, std::sqrt(1.0 - a / 2.0), 1e-12);
}

TEST(Power, TruthOutsideTheBoundsOrTheModel) {
  testsupport::ScratchDir scratch("power_truth");
  const auto sample = small_sample();
  tools::SimParams truth = sporadic_truth(*sample);
  truth.res_var = sample->par.PAR_HIGH[SLOT_RES_VAR] * 2.0;
  EXPECT_NE(check_truth(*sample, truth).find("residual_variance"), std::string::npos);
  truth = sporadic_truth(*sample);
  truth.poly_effect = 0.5;
  EXPECT_FALSE(make_design(*sample, ModelKind::Sporadic, ModelKind::Polygenic, truth, 1, 1, 0)
                   .truth_under_null);
  EXPECT_TRUE(make_design(*sample, ModelKind::Polygenic, ModelKind::Mixed, truth, 1, 1, 0)
                  .truth_under_null);
}

// The bootstrap of polygenic vs mixed: one test, its replicates counted, p
// = (1 + exceed) / (n + 1), and the two columns only on its row.
TEST(Bootstrap, PolygenicAgainstMixed) {
  testsupport::ScratchDir scratch("bootstrap");
  const auto sample = small_sample();
  Fitter fitter(*sample, 1);
  ModelsOptions o;
  o.models = {ModelKind::Polygenic, ModelKind::Mixed};
  o.starts = 2;
  o.standard_errors = false;
  const ModelsRun run = run_models(*sample, fitter, o);
  ASSERT_TRUE(run.find(ModelKind::Polygenic)->tested);
  const std::vector<BootstrapTest> b = bootstrap_tests(run, *sample, 2, 1, 2, 1);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].kind, ModelKind::Polygenic);
  EXPECT_EQ(b[0].n, 2);
  EXPECT_DOUBLE_EQ(b[0].p, (1.0 + b[0].exceed) / 3.0);
  EXPECT_EQ(b, bootstrap_tests(run, *sample, 2, 1, 2, 1));
  const std::string tsv = with_bootstrap_columns(models_tsv(run), b);
  EXPECT_NE(tsv.find("\tnote\tp_bootstrap\tbootstrap_n\n"), std::string::npos) << tsv;
  EXPECT_NE(tsv.find("\t2\nmixed\t"), std::string::npos) << tsv;
  EXPECT_NE(tsv.find("\t\t\n"), std::string::npos) << tsv;
}

}  // namespace
