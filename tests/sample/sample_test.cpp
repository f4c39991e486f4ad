// The sample loader on a folder other than the current one: the files are
// read from there, the hook runs once par.inp is open (and only then), the
// reader's console line goes where the caller says, and a missing file is
// named with its path.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "sample/sample.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path INPUT =
    fs::path(__FILE__).parent_path().parent_path() / "cases" / "tiny_linked" / "input";

struct Load {
  std::unique_ptr<pedseg::SampleTables> s = std::make_unique<pedseg::SampleTables>();
  std::string console, diagnostics, error;
  int hook_calls = 0;

  explicit Load(const std::string& dir) {
    pedseg::OutputFile con = pedseg::output_memory(console, "console");
    pedseg::OutputFile diag = pedseg::output_memory(diagnostics, "diagnostics");
    try {
      pedseg::load_sample(*s, dir, diag, "test", {&con, [this] { ++hook_calls; }});
    } catch (const pedseg::InputError& e) {
      error = e.message;
    }
  }
};

TEST(LoadSample, ReadsTheFolderItIsGiven) {
  testsupport::ScratchDir scratch("sample_test");
  fs::create_directories("in");
  for (const auto& e : fs::directory_iterator(INPUT))
    fs::copy_file(e.path(), "in" / e.path().filename());

  Load ok("in");
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.hook_calls, 1);
  EXPECT_EQ(ok.s->dir, "in");
  EXPECT_EQ(ok.s->layout.nfam(), ok.s->ped->PED_START[0]);
  EXPECT_GT(ok.s->NMEAS, 0);
  EXPECT_EQ(ok.console, "          11\n");  // NIND

  fs::remove("in/iway.dat");
  Load no_iway("in");
  EXPECT_EQ(no_iway.hook_calls, 1);
  EXPECT_NE(no_iway.error.find("in/iway.dat"), std::string::npos) << no_iway.error;

  Load no_par("elsewhere");
  EXPECT_EQ(no_par.hook_calls, 0);
  EXPECT_NE(no_par.error.find("elsewhere/par.inp"), std::string::npos) << no_par.error;
}

}  // namespace
