// Whole runs of the analysis on the small end-to-end cases, checked against
// the independent enumeration of the likelihood: the ln LH that a run reports
// for its starting point and for its estimates must be the likelihood of
// those points.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "likelihood/brute_force.h"
#include "support/scratch_dir.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

const fs::path CASES = fs::path(__FILE__).parent_path().parent_path() / "cases";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the analysis in a scratch copy of a case's inputs.
struct CaseRun {
  testsupport::ScratchDir scratch;
  const fs::path& dir = scratch.dir;
  std::unique_ptr<RunTables> t = std::make_unique<RunTables>();
  std::string console, diagnostics;

  explicit CaseRun(const std::string& name) : scratch("run_test_" + name) {
    for (const auto& e : fs::directory_iterator(CASES / name / "input"))
      fs::copy_file(e.path(), dir / e.path().filename());
    OutputFile con = output_memory(console, "console");
    OutputFile diag = output_memory(diagnostics, "diagnostics");
    run_analysis(*t, con, diag);
  }
};

// The pedigree of the small cases: family 1 is parents 1 and 2 with
// children 3 and 4 and a loose individual 5; family 2 is parents 1 and 2
// with children 3 and 4, and child 6 of 3 and the married-in 5.
std::vector<bf::Family> tiny_families(const PedigreeTables& ped) {
  std::vector<bf::Family> fams(2);
  const int first[2][6] = {{0, 0, 1, 1, 0, 0}, {0, 0, 1, 1, 0, 3}};
  const int second[2][6] = {{0, 0, 2, 2, 0, 0}, {0, 0, 2, 2, 0, 5}};
  const int size[2] = {5, 6};
  int global = 0;
  for (int f = 0; f < 2; ++f)
    for (int p = 0; p < size[f]; ++p) {
      ++global;
      fams[f].people.push_back(bf::Person{first[f][p], second[f][p], ped.TRAIT[global]});
    }
  return fams;
}

double enumerated(const std::vector<bf::Family>& fams, const double* values, bool free_taus) {
  return bf::sample_loglik(fams, bf::model_from_params(values, free_taus));
}

void expect_close(double want, double got) {
  EXPECT_NEAR(want, got, 1e-12 * std::fabs(want)) << "want " << want << " got " << got;
}

ParamTable starting_table(const std::string& name) {
  ParamTable par;
  par.NPAR = NPAR_USED;
  InputFile f = input_from_string("par.inp", slurp(CASES / name / "input" / "par.inp"));
  READ_PARAMETERS(f, par);
  for (int i = 1; i <= NPAR_USED; ++i)
    if (par.PAR_LINK[i] != i) par.PAR_VAL[i] = par.PAR_VAL[par.PAR_LINK[i]];
  return par;
}

TEST(Run, ReportedLikelihoodsAreThoseOfTheReportedPoints) {
  struct Case {
    const char* name;
    bool free_taus;
  };
  for (const Case c : {Case{"tiny_linked", false}, Case{"tiny_free_tau", true},
                       Case{"tiny_spike", false}, Case{"tiny_no_free", false}}) {
    SCOPED_TRACE(c.name);
    CaseRun run(c.name);
    const auto fams = tiny_families(*run.t->ped);
    const ParamTable start = starting_table(c.name);
    expect_close(enumerated(fams, start.PAR_VAL, c.free_taus), run.t->INIT_LH);
    expect_close(enumerated(fams, run.t->par.PAR_VAL, c.free_taus), run.t->search.BEST_LH);
    // The search moved uphill, and sigma.dat says what the tables hold.
    EXPECT_GE(run.t->search.BEST_LH, run.t->INIT_LH);
    const std::string sigma = slurp(run.dir / "sigma.dat");
    EXPECT_NE(sigma.find(format_lines("(1X, ' ln LH =',E20.8)", {fmt_real(run.t->search.BEST_LH)})),
              std::string::npos);
    EXPECT_NE(run.console.find("**** END OF PROGRAM ****"), std::string::npos);
  }
}

TEST(Run, LinksHoldAtTheEstimates) {
  CaseRun run("tiny_linked");
  EXPECT_EQ(run.t->par.PAR_VAL[7], run.t->par.PAR_VAL[6]);
  EXPECT_EQ(run.t->par.PAR_EST[7], 0);
  CaseRun spike("tiny_spike");
  EXPECT_EQ(spike.t->par.PAR_VAL[4], spike.t->par.PAR_VAL[3]);
}

TEST(Run, NoFreeParameterMeansOneIterationOfTwelveEvaluations) {
  CaseRun run("tiny_no_free");
  EXPECT_EQ(run.t->search.ITER_COUNT, 1);
  EXPECT_EQ(run.t->search.EVAL_COUNT, 12);
  EXPECT_EQ(run.t->search.BEST_LH, run.t->INIT_LH);
  EXPECT_EQ(slurp(run.dir / "max.dat"), "");
}

TEST(Run, ImpossibleStartStopsBeforeTheSearchAndLeavesResultsUntouched) {
  CaseRun run("tiny_bound_error");
  EXPECT_EQ(run.t->INIT_LH, LH_SENTINEL);
  EXPECT_EQ(run.t->search.EVAL_COUNT, 0);
  EXPECT_EQ(slurp(run.dir / "sigma.dat"), " results of an earlier run\n");
  EXPECT_EQ(slurp(run.dir / "max.dat"), " progress of an earlier run\n");
  EXPECT_EQ(slurp(run.dir / "par.err"),
            " ERROR OF INITIAL PARAMETER VALUE:\n"
            "        SIG= 0.6000E+02\n"
            "   GL=-0.5000E+02 GR= 0.5000E+02\n");
  EXPECT_EQ(run.console.find("MAX="), std::string::npos);
}

}  // namespace
}  // namespace pedseg
