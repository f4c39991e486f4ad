// The model comparison: pedseg's own run as the one-start mixed fit, the
// order nesting imposes, standard errors against profile likelihoods, the
// reference distributions, and the verdict on a simulated major gene.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "driver/run.h"
#include "models/models.h"
#include "tools/ped2iway.h"
#include "tools/pedsim.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";

// A scratch folder that is the current folder while the object lives.
struct ScratchDir {
  fs::path dir, here = fs::current_path();
  explicit ScratchDir(const std::string& name) {
    dir = fs::temp_directory_path() / ("pedseg_models_test_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~ScratchDir() {
    fs::current_path(here);
    fs::remove_all(dir);
  }
};

void copy_example() {
  for (const char* f : {"par.inp", "iway.dat", "trait.dat"}) fs::copy_file(EXAMPLES / f, f);
}

struct Fitted {
  std::unique_ptr<SampleTables> sample = std::make_unique<SampleTables>();
  std::unique_ptr<Fitter> fitter;
  ModelsRun run;
  Fitted(const ModelsOptions& options, int32_t threads = 1) {
    std::string diag;
    OutputFile d = output_memory(diag, "diagnostics");
    load_sample(*sample, d, "test");
    fitter = std::make_unique<Fitter>(*sample, threads);
    run = run_models(*sample, *fitter, options);
  }
  const ModelResult& operator[](ModelKind k) const {
    const ModelResult* r = run.find(k);
    EXPECT_NE(r, nullptr);
    return *r;
  }
};

ModelsOptions options(std::vector<ModelKind> models, int starts, bool se) {
  ModelsOptions o;
  o.models = std::move(models);
  o.starts = starts;
  o.standard_errors = se;
  return o;
}

void expect_nesting(const Fitted& f) {
  using K = ModelKind;
  const std::pair<K, K> contains[] = {{K::General, K::Mixed},  {K::Mixed, K::Major},
                                      {K::Major, K::Sporadic}, {K::Mixed, K::Polygenic},
                                      {K::Polygenic, K::Sporadic}, {K::General, K::Environmental},
                                      {K::Environmental, K::Polygenic}};
  for (const auto& [big, small] : contains) {
    ASSERT_TRUE(f[big].fitted && f[small].fitted);
    EXPECT_GE(f[big].lnL, f[small].lnL) << model_name(big) << " below " << model_name(small);
  }
}

TEST(Models, OneStartMixedIsPedsegsRun) {
  ScratchDir scratch("pedseg");
  copy_example();
  auto t = std::make_unique<RunTables>();
  std::string console, diagnostics;
  OutputFile con = output_memory(console, "console");
  OutputFile diag = output_memory(diagnostics, "diagnostics");
  run_analysis(*t, con, diag);
  for (const char* f : {"par.err", "max.dat", "sigma.dat"}) fs::remove(f);

  Fitted fit(options({ModelKind::Mixed}, 1, false));
  const ModelResult& m = fit[ModelKind::Mixed];
  EXPECT_EQ(m.lnL, t->search.BEST_LH);
  for (int i = 1; i <= NPAR_USED; ++i) EXPECT_EQ(m.estimate.PAR_VAL[i], t->par.PAR_VAL[i]) << i;
  // pedseg-models leaves pedseg's files alone.
  for (const char* f : {"par.err", "max.dat", "sigma.dat"}) EXPECT_FALSE(fs::exists(f)) << f;
}

TEST(Models, NestingOrderOnTheExample) {
  ScratchDir scratch("nesting");
  copy_example();
  Fitted fit(options({std::begin(ALL_MODELS), std::end(ALL_MODELS)}, 1, false));
  expect_nesting(fit);
}

// ln L maximised over the other parameters falls by about 0.5 when one
// parameter is held one standard error away from its estimate (the
// polygenic model of the example: its spike1 is an interior estimate).
TEST(Models, StandardErrorsMatchProfileCurvature) {
  ScratchDir scratch("profile");
  copy_example();
  Fitted fit(options({ModelKind::Polygenic}, 1, true));
  const ModelResult& r = fit[ModelKind::Polygenic];
  for (int slot : {5, 11, 12}) {
    ASSERT_TRUE(r.has_se[slot]) << slot;
    // The mean of the two sides cancels the skewness of ln L.
    double drops = 0.0;
    for (double side : {-1.0, 1.0}) {
      ParamTable t = r.estimate;
      t.PAR_VAL[slot] += side * r.se[slot];
      t.PAR_EST[slot] = 0;
      drops += r.lnL - maximise_model(*fit.fitter, ModelKind::Polygenic, t);
    }
    EXPECT_NEAR(drops / 2.0, 0.5, 0.03) << PARAM_NAME[slot];
  }
}

TEST(Models, ReferenceDistributionsAtKnownPoints) {
  struct Row {
    double x;
    std::vector<double> weights;
    double p;
  };
  // Closed forms: Q1(x) = erfc(sqrt(x/2)), Q2(x) = exp(-x/2),
  // Q3(x) = Q1(x) + sqrt(2x/pi) exp(-x/2).
  const double x = 7.0;
  const double q1 = std::erfc(std::sqrt(x / 2.0)), q2 = std::exp(-x / 2.0);
  const double q3 = q1 + std::sqrt(2.0 * x / M_PI) * std::exp(-x / 2.0);
  const Row rows[] = {
      {3.841458820694124, {0.0, 1.0}, 0.05},
      {7.814727903251178, {0.0, 0.0, 0.0, 1.0}, 0.05},
      {2.705543454095404, {0.5, 0.5}, 0.05},  // half chi-square(0) + half chi-square(1)
      {x, {0.0, 0.25, 0.5, 0.25}, 0.25 * q1 + 0.5 * q2 + 0.25 * q3},
      {0.0, {0.5, 0.5}, 1.0},
      {0.0, {0.0, 0.25, 0.5, 0.25}, 1.0},
  };
  for (const Row& r : rows) EXPECT_NEAR(p_chisq_mixture(r.x, r.weights), r.p, 1e-12) << r.x;
  EXPECT_NEAR(p_chisq(3.841458820694124, 1), 0.05, 1e-12);
}

// A fixed-seed sample of 50 nuclear families with a Mendelian major gene.
void simulate_major_gene() {
  std::string out, err;
  ASSERT_EQ(tools::run_pedsim({"--families", "50", "--children", "3-6", "--seed", "5", "--set",
                               "1=0.3", "--set", "5=15", "--set", "6=11", "--set", "7=7",
                               "--set", "12=1", "--out", "ped.txt"},
                              out, err),
            0)
      << err;
  ASSERT_EQ(tools::run_ped2iway({"ped.txt", "--par-template"}, out, err), 0) << err;
}

TEST(Models, SimulatedMajorGeneIsFound) {
  ScratchDir scratch("sim");
  simulate_major_gene();
  const ModelsOptions o = options({std::begin(ALL_MODELS), std::end(ALL_MODELS)}, 1, false);
  Fitted fit(o, 1);
  EXPECT_LT(fit[ModelKind::Environmental].p, 1e-6);
  EXPECT_LT(fit[ModelKind::Polygenic].p, 1e-6);
  EXPECT_TRUE(fit[ModelKind::Mixed].tested);
  EXPECT_GT(fit[ModelKind::Mixed].p, 0.2);
  expect_nesting(fit);
  // The same files whatever the number of threads.
  Fitted two(o, 2);
  EXPECT_EQ(models_tsv(fit.run), models_tsv(two.run));
  EXPECT_EQ(estimates_tsv(fit.run), estimates_tsv(two.run));
}

}  // namespace
}  // namespace pedseg
