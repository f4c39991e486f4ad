// The sample loader on a folder other than the current one: the files are
// read from there, the hook runs once par.inp is open (and only then), the
// reader's console line goes where the caller says, and a missing file is
// named with its path.  covariates.dat and proband.dat are read only when
// asked for, and damaged ones are refused with the file, line and column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

  explicit Load(const std::string& dir, bool study_files = false) {
    pedseg::OutputFile con = pedseg::output_memory(console, "console");
    pedseg::OutputFile diag = pedseg::output_memory(diagnostics, "diagnostics");
    try {
      pedseg::load_sample(*s, dir, diag, "test",
                          {&con, [this] { ++hook_calls; }, study_files, study_files});
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

void write(const std::string& name, const std::string& text) {
  std::FILE* fp = std::fopen(name.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(text.data(), 1, text.size(), fp);
  std::fclose(fp);
}

TEST(LoadSample, StudyFilesOnlyWhenAsked) {
  testsupport::ScratchDir scratch("sample_study");
  fs::create_directories("in");
  for (const auto& e : fs::directory_iterator(INPUT))
    fs::copy_file(e.path(), "in" / e.path().filename());
  std::string cov = "sex age\n", prob;
  for (int i = 1; i <= 11; ++i) {
    cov += (i % 3 == 0 ? "NA " : std::to_string(i % 2) + " ") + std::to_string(20 + i) + "\n";
    prob += i == 4 ? "1\n" : "0\n";
  }
  write("in/covariates.dat", cov);
  write("in/proband.dat", prob);
  Load asked("in", true);
  ASSERT_EQ(asked.error, "");
  ASSERT_TRUE(asked.s->covariates.has_value());
  const pedseg::CovariateTable& t = *asked.s->covariates;
  EXPECT_EQ(t.names, (std::vector<std::string>{"sex", "age"}));
  EXPECT_EQ(t.count(), 2);
  EXPECT_EQ(t.at(1, 0), 1.0);
  EXPECT_TRUE(std::isnan(t.at(3, 0)));
  EXPECT_EQ(t.at(11, 1), 31.0);
  ASSERT_EQ(asked.s->proband.size(), 12u);
  EXPECT_EQ(asked.s->proband[4], 1);
  EXPECT_EQ(asked.s->proband[5], 0);
  // Damaged files are not even opened by a program that does not ask.
  write("in/covariates.dat", "1x\n");
  write("in/proband.dat", "2\n");
  Load plain("in");
  EXPECT_EQ(plain.error, "");
  EXPECT_FALSE(plain.s->covariates.has_value());
  EXPECT_TRUE(plain.s->proband.empty());
  Load refused("in", true);
  EXPECT_EQ(refused.error.rfind("in/covariates.dat, line 1: '1x' is not a covariate name", 0), 0u)
      << refused.error;
}

TEST(StudyFiles, DamagedInputIsRefusedWithLineAndColumn) {
  struct Row {
    const char* file;  // covariates or proband
    std::string text;
    std::string error;  // "" when the file is sound
  };
  const Row rows[] = {
      {"covariates", "a b_2\n1 2\r\n-3.5e2 NA\n", ""},
      {"covariates", "a\n1\n2", ""},
      {"covariates", "", "covariates.dat, line 1: no covariate names (the file is empty)"},
      {"covariates", "  \n1\n2\n", "covariates.dat, line 1: no covariate names"},
      {"covariates", "a _b\n1 2\n3 4\n", "covariates.dat, line 1: '_b' is not a covariate name"},
      {"covariates", "a a\n1 2\n3 4\n", "covariates.dat, line 1: covariate a is named twice"},
      {"covariates", "a\n1\n", "covariates.dat, line 3: the file ends after 1 individuals; iway.dat has 2"},
      {"covariates", "a\n1\n2\n3\n", "covariates.dat, line 4: more lines than the 2 individuals"},
      {"covariates", "a b\n1 2\n3\n", "covariates.dat, line 3: expected 2 values, found 1"},
      {"covariates", "a b\n1 2\n3 x\n", "covariates.dat, line 3: column 2 (b): 'x' is not a finite number or NA"},
      {"covariates", "a\n1\ninf\n", "covariates.dat, line 3: column 1 (a): 'inf' is not"},
      {"covariates", "a\n1e999\n1\n", "covariates.dat, line 2: column 1 (a): '1e999' is not"},
      {"covariates", "a\nna\n1\n", "covariates.dat, line 2: column 1 (a): 'na' is not"},
      {"proband", "1\n0\n", ""},
      {"proband", " 0 \r\n1", ""},
      {"proband", "1\n", "proband.dat, line 2: the file ends after 1 individuals; iway.dat has 2"},
      {"proband", "1\n0\n0\n", "proband.dat, line 3: more lines than the 2 individuals"},
      {"proband", "1\n\n", "proband.dat, line 2: expected 1 (a proband) or 0, found an empty line"},
      {"proband", "1\nyes\n", "proband.dat, line 2: expected 1 (a proband) or 0, found 'yes'"},
      {"proband", "1 0\n0\n", "proband.dat, line 1: expected 1 (a proband) or 0, found '1 0'"},
  };
  for (const Row& row : rows) {
    const std::string name = std::string(row.file) + ".dat";
    SCOPED_TRACE(name + ": " + row.text);
    pedseg::InputFile file = pedseg::input_from_string(name, row.text);
    std::string error;
    try {
      if (name == "proband.dat") (void)pedseg::read_probands(file, 2);
      else (void)pedseg::read_covariates(file, 2);
    } catch (const pedseg::InputError& e) {
      error = e.message;
    }
    if (row.error.empty()) EXPECT_EQ(error, "");
    else EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
  }
}

}  // namespace
