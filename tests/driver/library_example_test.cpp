// The example of docs/architecture.md, compiled from the document's own text
// (tests/CMakeLists.txt extracts it): a program that uses the library
// (loader, engine and search) without the run driver.  Run on an end-to-end
// case, it must reach pedseg's own maximum, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "driver/run.h"
#include "likelihood/engine.h"
#include "sample/sample.h"
#include "search/search.h"
#include "support/scratch_dir.h"

#include "library_example.inc"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

TEST(LibraryExample, ReachesTheProgramsMaximum) {
  const fs::path input = fs::path(__FILE__).parent_path().parent_path() / "cases" /
                         "tiny_linked" / "input";
  auto t = std::make_unique<RunTables>();
  auto par = std::make_unique<ParamTable>();
  SearchResults res;
  {
    testsupport::ScratchDir scratch("example");
    for (const auto& e : fs::directory_iterator(input))
      fs::copy_file(e.path(), scratch.dir / e.path().filename());
    std::string console_text, diagnostics_text;
    OutputFile console = output_memory(console_text, "console");
    OutputFile diagnostics = output_memory(diagnostics_text, "diagnostics");
    run_analysis(*t, console, diagnostics);
    fs::current_path(scratch.here);  // the example reads the folder it is given
    res = fit_folder(scratch.dir.string(), *par);
  }

  EXPECT_EQ(res.outcome, SearchOutcome::Converged);
  EXPECT_EQ(std::memcmp(&res.BEST_LH, &t->search.BEST_LH, sizeof res.BEST_LH), 0)
      << res.BEST_LH << " vs " << t->search.BEST_LH;
  EXPECT_EQ(res.ITER_COUNT, t->search.ITER_COUNT);
  EXPECT_EQ(res.EVAL_COUNT, t->search.EVAL_COUNT);
  EXPECT_EQ(std::memcmp(par->PAR_VAL, t->par.PAR_VAL, sizeof par->PAR_VAL), 0);
}

}  // namespace
}  // namespace pedseg
