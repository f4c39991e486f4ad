// The example of docs/architecture.md, compiled as written there: a program
// that uses the library (engine and search) without the run driver.  Run on
// an end-to-end case, it must reach pedseg's own maximum, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "driver/run.h"

// --- example (docs/architecture.md) ---------------------------------------
#include "likelihood/engine.h"
#include "pedigree/pedigree.h"
#include "search/search.h"

// Fits the model to par.inp, iway.dat and the trait file of this folder.
pedseg::SearchResults fit_here(pedseg::ParamTable& par) {
  using namespace pedseg;
  auto poly = std::make_unique<PolyTables>();
  auto ped = std::make_unique<PedigreeTables>();
  InputFile par_inp = open_input("par.inp");
  par.NPAR = NPAR_USED;
  READ_PARAMETERS(par_inp, par);
  BUILD_TRANS_POLY(*poly);
  BUILD_POLY_PRIOR(*poly);
  std::string console_text, messages;
  OutputFile console = output_memory(console_text, "console");
  READ_PEDIGREE(par.TRAIT_FILE_NAME, *ped, console);
  std::vector<std::string> errors, warnings;
  if (!validate_pedigree(*ped, errors, warnings)) throw InputError{errors.front()};

  LikelihoodEngine engine(*ped, *poly);  // plan, work arrays, threads: once
  ModelQuantities m;
  // pedseg's first evaluation: links applied, values on a bound moved inside.
  OutputFile err = output_memory(messages, "par.err");
  double status = 1.0;
  SET_MODEL_INITIAL(par, m, err, status);
  if (status <= LH_SENTINEL || impossible_lh(engine.families_loglik(m))) return {};
  auto objective = [&](ParamTable& p) { return engine.sample_loglik(p, m); };
  return DIRECT_SEARCH(par.NPAR, SearchSettings{}, objective, par);
}
// --- end of example -------------------------------------------------------

namespace pedseg {
namespace {

namespace fs = std::filesystem;

TEST(LibraryExample, ReachesTheProgramsMaximum) {
  const fs::path input = fs::path(__FILE__).parent_path().parent_path() / "cases" /
                         "tiny_linked" / "input";
  const fs::path dir = fs::temp_directory_path() / ("pedseg_example_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(input)) fs::copy_file(e.path(), dir / e.path().filename());
  const fs::path here = fs::current_path();
  fs::current_path(dir);

  auto t = std::make_unique<RunTables>();
  std::string console_text, diagnostics_text;
  OutputFile console = output_memory(console_text, "console");
  OutputFile diagnostics = output_memory(diagnostics_text, "diagnostics");
  run_analysis(*t, console, diagnostics);
  auto par = std::make_unique<ParamTable>();
  const SearchResults res = fit_here(*par);
  fs::current_path(here);
  fs::remove_all(dir);

  EXPECT_EQ(res.outcome, SearchOutcome::Converged);
  EXPECT_EQ(std::memcmp(&res.BEST_LH, &t->search.BEST_LH, sizeof res.BEST_LH), 0)
      << res.BEST_LH << " vs " << t->search.BEST_LH;
  EXPECT_EQ(res.ITER_COUNT, t->search.ITER_COUNT);
  EXPECT_EQ(res.EVAL_COUNT, t->search.EVAL_COUNT);
  EXPECT_EQ(std::memcmp(par->PAR_VAL, t->par.PAR_VAL, sizeof par->PAR_VAL), 0);
}

}  // namespace
}  // namespace pedseg
