// pedseg-models with covariates and a transformation, on the two samples
// that fool the unadjusted table: a sex difference and an age slope without
// a major gene, and a log-normal polygenic trait.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "models/cli.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"
#include "tools/ped2iway.h"
#include "tools/pedsim.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

using Scratch = testsupport::ScratchDir;

using testsupport::ProgramRun;

ProgramRun models(std::vector<std::string> args) {
  for (const char* a : {"--models", "polygenic,mixed", "--starts", "1", "--no-se", "--no-figures",
                        "--threads", "2", "--quiet"})
    args.push_back(a);
  return testsupport::run_captured([&](FILE* out, FILE* err) { return models_main(args, out, err); });
}

// The field `column` of the row of models.tsv or estimates.tsv whose fields
// `key` and `key2` (when given) match.
std::string field(const std::string& file, const std::string& key, int column,
                  const std::string& key2 = "") {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream s(line);
    for (std::string x; std::getline(s, x, '\t');) f.push_back(x);
    if (!f.empty() && f[0] == key && (key2.empty() || (f.size() > 2 && f[2] == key2)))
      return f.size() > static_cast<size_t>(column) ? f[column] : "";
  }
  return "";
}

double polygenic_vs_mixed_p() { return std::stod(field("models.tsv", "polygenic", 7)); }

void simulate(const std::vector<std::string>& extra, const std::vector<std::string>& convert) {
  std::vector<std::string> args = {"--families", "150", "--generations", "3", "--spouses",
                                   "--set", "5=10", "--set", "6=10", "--set", "7=10",
                                   "--out", "sim.ped"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::string out, err;
  ASSERT_EQ(tools::run_pedsim(args, out, err), 0) << err;
  std::vector<std::string> c = {"sim.ped", "--par-template"};
  c.insert(c.end(), convert.begin(), convert.end());
  ASSERT_EQ(tools::run_ped2iway(c, out, err), 0) << err;
}

// Without the covariates the sex difference passes for a major gene, and the
// guard says so; with them the mixed model adds nothing, the betas are the
// simulated effects, and covariates.tsv has the centres of the analysed
// individuals.
TEST(ModelsAnalysis, SexAndAgeAreNotAMajorGene) {
  Scratch scratch("sex_age");
  simulate({"--sex-effect", "3", "--age-effect", "0.05", "--seed", "2"},
           {"--covariates", "sex,age"});
  ProgramRun r = models({"--covariates", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(polygenic_vs_mixed_p(), 1e-3);
  EXPECT_NE(r.err.find("differ clearly"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists("covariates.tsv"));

  r = models({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(polygenic_vs_mixed_p(), 0.01);
  EXPECT_EQ(r.err.find("differ clearly"), std::string::npos) << r.err;
  EXPECT_NEAR(std::stod(field("estimates.tsv", "mixed", 3, "beta_sex")), 3.0, 0.3);
  EXPECT_NEAR(std::stod(field("estimates.tsv", "mixed", 3, "beta_age")), 0.05, 0.01);
  EXPECT_NE(r.out.find("beta"), std::string::npos);
  // The centre of age over the measured individuals, from covariates.dat.
  std::ifstream cov("covariates.dat"), trait("trait.dat");
  std::string header;
  std::getline(cov, header);
  double sum = 0.0;
  int n = 0;
  for (double sex, age, y; cov >> sex >> age && trait >> y;)
    if (y > -998.0) sum += age, ++n;
  EXPECT_NEAR(std::stod(field("covariates.tsv", "age", 1)), sum / n, 1e-9);
  EXPECT_EQ(field("covariates.tsv", "age", 3), std::to_string(n));
}

// A log-normal polygenic trait is a false major gene on its own scale, and
// not on the log scale; Box-Cox finds lambda1 near 0.
TEST(ModelsAnalysis, LogNormalTraitIsNotAMajorGene) {
  Scratch scratch("lognormal");
  simulate({"--set", "5=2", "--set", "6=2", "--set", "7=2", "--set", "11=0.15", "--set", "12=0.1",
            "--lognormal", "--seed", "3"},
           {});
  ProgramRun r = models({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(polygenic_vs_mixed_p(), 1e-3);
  r = models({"--transform", "log"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(polygenic_vs_mixed_p(), 0.01);
  EXPECT_EQ(field("estimates.tsv", "mixed", 5, "lambda1"), "fixed");
  r = models({"--transform", "boxcox"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(polygenic_vs_mixed_p(), 0.01);
  EXPECT_NEAR(std::stod(field("estimates.tsv", "polygenic", 3, "lambda1")), 0.0, 0.25);
  // A shift that leaves a value at or below 0 is refused, naming it.
  r = models({"--transform", "log", "--shift", "-1000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("smallest value"), std::string::npos) << r.err;
}

// With proband.dat the table is conditioned on the probands by default and
// says so (header and two columns of models.tsv); --ascertainment none gives
// the unconditioned table, and the bootstrap needs it.
TEST(ModelsAnalysis, ProbandsConditionTheTableByDefault) {
  Scratch scratch("probands");
  simulate({"--probands", "--seed", "4"}, {"--proband", "proband"});
  ProgramRun r = models({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("conditioned on the trait values of 150 probands in 150 families; 0 "
                       "families without"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(field("models.tsv", "mixed", 14), "actual");
  EXPECT_EQ(field("models.tsv", "mixed", 15), "0");
  const std::string conditioned = field("models.tsv", "mixed", 1);
  r = models({"--ascertainment", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("conditioned"), std::string::npos);
  EXPECT_EQ(field("models.tsv", "mixed", 14), "");
  EXPECT_LT(std::stod(field("models.tsv", "mixed", 1)), std::stod(conditioned));
  r = models({"--bootstrap", "2"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--ascertainment none"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace pedseg
