// The sample loader on a folder other than the current one: the files are
// read from there, the hook runs once par.inp is open (and only then), the
// reader's console line goes where the caller says, and a missing file is
// named with its path.  covariates.dat and proband.dat are read only when
// asked for, and damaged ones are refused with the file, line and column.
// loops.dat: its copies reach the layout, and damaged files are refused
// naming the line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "likelihood/brute_force.h"
#include "likelihood/engine.h"
#include "sample/sample.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path CASES = fs::path(__FILE__).parent_path().parent_path() / "cases";
const fs::path INPUT = CASES / "tiny_linked" / "input";
const fs::path LOOPS = CASES / "loops" / "input";

struct Load {
  std::unique_ptr<pedseg::SampleTables> s = std::make_unique<pedseg::SampleTables>();
  std::string console, diagnostics, error;
  int hook_calls = 0;

  explicit Load(const std::string& dir, bool study_files = false,
                int32_t max_breakers = pedseg::MAX_BREAKERS) {
    pedseg::OutputFile con = pedseg::output_memory(console, "console");
    pedseg::OutputFile diag = pedseg::output_memory(diagnostics, "diagnostics");
    try {
      pedseg::load_sample(*s, dir, diag, "test",
                          {&con, [this] { ++hook_calls; }, study_files, study_files,
                           max_breakers});
    } catch (const pedseg::InputError& e) {
      error = e.message;
    }
  }
};

void copy_folder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from))
    fs::copy_file(e.path(), to / e.path().filename(), fs::copy_options::overwrite_existing);
}

std::string text_of(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write(const std::string& name, const std::string& text) {
  std::FILE* fp = std::fopen(name.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(text.data(), 1, text.size(), fp);
  std::fclose(fp);
}


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

// The looped sample of the end-to-end cases (first cousins, half-sibs,
// double first cousins, a nuclear family, first cousins cut at both
// grandparents): its copies reach the layout, and at par.inp's starting
// values the engine's ln LH is that of the uncut pedigrees by
// bf::family_likelihood_by_elimination.
TEST(LoadSample, LoopsReachTheLikelihood) {
  testsupport::ScratchDir scratch("sample_loops");
  copy_folder(LOOPS, "in");
  Load ok("in");
  ASSERT_EQ(ok.error, "");
  const pedseg::SampleTables& t = *ok.s;
  ASSERT_EQ(t.loops.size(), 6u);
  EXPECT_EQ(t.loops[3].family, 3);
  const pedseg::FamilyLayout& f3 = t.layout[3];
  ASSERT_EQ(f3.breakers.size(), 2u);
  EXPECT_EQ(f3.breakers[0].person, 23 - f3.start);
  EXPECT_EQ(f3.breakers[0].copies, std::vector<int32_t>{30 - f3.start});
  EXPECT_EQ(f3.breakers[1].person, 27 - f3.start);
  EXPECT_FALSE(t.layout[4].has_loops());
  EXPECT_EQ(t.NMEAS, 38);  // the copies' missing traits do not count

  pedseg::ModelQuantities q;
  pedseg::ParamTable par = t.par;
  std::string messages;
  pedseg::OutputFile err = pedseg::output_memory(messages, "par.err");
  double status = 1.0;
  pedseg::SET_MODEL_INITIAL(par, q, err, status);
  pedseg::LikelihoodEngine engine(*t.ped, t.layout, t.poly, 2);
  const pedseg::PedigreeTables& ped = *t.ped;
  double want = 0.0;
  for (int32_t f = 1; f <= t.layout.nfam(); ++f) {
    const pedseg::FamilyLayout& fam = t.layout[f];
    bf::Structure s;
    for (int32_t d = 1; d <= fam.size; ++d) s.traits.push_back(ped.TRAIT[fam.start + d]);
    for (int32_t j = fam.nuc_first; j <= fam.nuc_last; ++j) {
      s.lists.emplace_back(ped.NUC_MEMBERS + ped.NUC_START[j], ped.NUC_MEMBERS + ped.NUC_START[j + 1]);
      s.pivots.push_back(ped.NUC_PIVOT[j]);
    }
    for (const pedseg::LoopBreaker& b : fam.breakers)
      for (int32_t c : b.copies) s.copies.push_back({b.person, c});
    want += std::log(bf::family_likelihood_by_elimination(bf::family_of(s),
                                                          bf::model_from_tables(q, t.poly)));
  }
  EXPECT_NEAR(engine.families_loglik(q), want, 1e-10 * std::fabs(want));
}

// Damaged loops.dat files (and one iway.dat whose cuts leave a loop): each
// is refused with the file and the line.
TEST(LoadSample, DamagedLoopsAreRefused) {
  testsupport::ScratchDir scratch("sample_bad_loops");
  const std::string iway = text_of(LOOPS / "iway.dat");
  const std::string good = text_of(LOOPS / "loops.dat");
  struct Row {
    std::string loops;
    std::string error;
    int32_t max_breakers = pedseg::MAX_BREAKERS;
    std::string iway_from = "", iway_to = "";
  };
  const Row rows[] = {
      {"1 8\n", "line 1: expected three whole numbers"},
      {"# header\n1 8 x\n", "line 2: expected three whole numbers"},
      {"1 8 10 4\n", "line 1: expected three whole numbers"},
      {"6 8 10\n", "line 1: family 6 is outside 1 to 5"},
      {"0 8 10\n", "line 1: family 0 is outside 1 to 5"},
      {"1 12 10\n", "line 1: person 12 is outside family 1 (individuals 1 to 10)"},
      {"1 8 11\n", "line 1: copy 11 is outside family 1"},
      {"1 8 8\n", "line 1: copy 8 is its own person"},
      {"1 8 10\n\n1 7 10\n", "line 3: copy 10 is listed twice (first on line 1)"},
      {"3 27 29\n3 29 30\n", "line 2: person 29 is the copy of line 1"},
      {"3 27 29\n3 23 27\n", "line 2: copy 27 is the person of line 1"},
      {"1 8 9\n", "line 1: copy 9 is not a founder"},
      {"1 8 1\n", "line 1: copy 1 has a trait value (5.859)"},
      {good, "line 5: family 3 has more than 1 loop breakers", 1},
      {"3 27 29\n", "line 1: family 3 still has a loop after its cuts: individual 23 is peeled "
                   "away by nuclear family 9 and listed again in nuclear family 12",
       pedseg::MAX_BREAKERS, "11 13 8 10", "11 6 8 10"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.loops);
    fs::remove_all("in");
    copy_folder(LOOPS, "in");
    std::string w = iway;
    if (!r.iway_from.empty()) {
      ASSERT_NE(w.find(r.iway_from), std::string::npos);
      w.replace(w.find(r.iway_from), r.iway_from.size(), r.iway_to);
    }
    write("in/iway.dat", w);
    write("in/loops.dat", r.loops);
    Load bad("in", false, r.max_breakers);
    EXPECT_EQ(bad.error.rfind("in/loops.dat, line ", 0), 0u) << bad.error;
    EXPECT_NE(bad.error.find(r.error), std::string::npos) << bad.error;
  }
  // The family of four cousin marriages loads when four breakers are allowed.
  fs::remove_all("in");
  copy_folder(CASES / "loops_too_many_breakers" / "input", "in");
  EXPECT_NE(Load("in").error.find("has more than 3 loop breakers"), std::string::npos);
  Load four("in", false, 4);
  EXPECT_EQ(four.error, "");
  EXPECT_EQ(four.s->layout[2].breakers.size(), 4u);
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
