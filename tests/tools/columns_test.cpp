// Study files wider than six columns: the trait, the covariates and the
// probands by header name or number, the values covariates.dat and
// proband.dat get, the input errors, and the same tables as the six-column
// file gives.

#include <gtest/gtest.h>

#include "tools_fixture.h"

namespace {

using namespace toolstest;

// Six columns, then age, proband and weight; the trait column holds height.
const std::string HEADER = "fam id father mother sex height age proband weight\n";
const std::string ROWS =
    "F1 1 0 0 1 170 45 0 70.5\n"
    "F1 2 0 0 2 160 NA 0 -999\n"
    "F1 3 1 2 0 175 12 1 40\n"
    "F2 a 0 0 1 180 . 0 80\n";

PedOptions options(std::string trait, std::vector<std::string> covariates, std::string proband) {
  PedOptions o;
  o.trait = std::move(trait);
  o.covariates = std::move(covariates);
  o.proband = std::move(proband);
  return o;
}

TEST(StudyColumns, ChosenByNameOrNumber) {
  struct Row {
    const char* what;
    std::string text;
    PedOptions opt;
    std::string traits, covariates, probands;
  };
  const Row rows[] = {
      {"by header name", HEADER + ROWS, options("weight", {"sex", "age"}, "proband"),
       "70.5\n-999\n40\n80\n", "sex age\n1 45\n0 NA\nNA 12\n1 NA\n", "0\n0\n1\n0\n"},
      {"by number without a header", ROWS, options("9", {"7", "5"}, "8"),
       "70.5\n-999\n40\n80\n", "column7 sex\n45 1\nNA 0\n12 NA\nNA 1\n", "0\n0\n1\n0\n"},
      {"the sixth column by default", HEADER + ROWS, options("", {"weight"}, ""),
       "170\n160\n175\n180\n", "weight\n70.5\nNA\n40\n80\n", ""},
      {"comma-separated, empty cells missing, numbers as strtod reads them",
       "fam,id,father,mother,sex,y,age,proband\nF1,1,,,1,2,1e1,\nF1,2,,,2,3,,1\n"
       "F1,3,1,2,2,4,0x10,0\n",
       options("", {"age"}, "proband"), "2\n3\n4\n", "age\n10\nNA\n16\n", "0\n1\n0\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Converted c = convert(row.text, row.opt);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
    EXPECT_EQ(pedseg::tools::trait_text(c.out), row.traits);
    EXPECT_EQ(c.out.covariate_names.empty() ? "" : pedseg::tools::covariates_text(c.out),
              row.covariates);
    EXPECT_EQ(c.out.has_proband ? pedseg::tools::proband_text(c.out) : "", row.probands);
  }
}

// Columns beyond the sixth change nothing of iway.dat, the trait file and the
// id map.
TEST(StudyColumns, ExtraColumnsLeaveTheTablesAsTheyWere) {
  const std::string six = "F1 1 0 0 1 170\nF1 2 0 0 2 160\nF1 3 1 2 0 175\nF2 a 0 0 1 180\n";
  auto files = [](const Converted& c) {
    return pedseg::tools::iway_text(c.out) + pedseg::tools::trait_text(c.out) +
           pedseg::tools::idmap_text(c.out);
  };
  const std::string want = files(convert(six));
  for (const std::string& text : {ROWS, HEADER + ROWS}) {
    Converted c = convert(text);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
    EXPECT_EQ(files(c), want);
    EXPECT_EQ(c.data.columns, 9);
  }
}

TEST(StudyColumns, InputErrorsNameTheLineAndTheColumn) {
  struct Row {
    const char* what;
    std::string text;
    PedOptions opt;
    std::string problem;
  };
  const Row rows[] = {
      {"unknown name", HEADER + ROWS, options("bmi", {}, ""),
       "line 1: --trait bmi: no column of the header has that name"},
      {"a name without a header", ROWS, options("", {"age"}, ""),
       "--covariates age: the file has no header line; give the column by its number (1 to 9)"},
      {"a number beyond the file", ROWS, options("12", {}, ""),
       "--trait 12: the file has 9 columns"},
      {"an id column", HEADER + ROWS, options("", {"father"}, ""),
       "line 1: --covariates father: columns 1 to 5 are"},
      {"the trait as a covariate", HEADER + ROWS, options("", {"height"}, ""),
       "line 1: --covariates height: is the trait column"},
      {"a covariate twice", HEADER + ROWS, options("", {"age", "7"}, ""),
       "line 1: --covariates 7: covariate age is given twice"},
      {"a header name that cannot name a covariate",
       "fam id father mother sex y age(years)\nF1 1 0 0 1 2 3\n", options("", {"7"}, ""),
       "line 1: --covariates 7: 'age(years)' cannot name a covariate"},
      {"a value that is not a number", HEADER + "F1 1 0 0 1 170 old 0 70\n",
       options("", {"age"}, ""),
       "line 2: family F1, individual 1: covariate age (column 7): old is not a number"},
      {"a proband code other than 1 or 0", HEADER + "F1 1 0 0 1 170 4 2 70\n",
       options("", {}, "proband"),
       "line 2: family F1, individual 1: proband (column 8): 2 is not 1 (a proband) or 0"},
      {"a line narrower than the header", HEADER + "F1 1 0 0 1 170 4 0\n", options("", {}, ""),
       "line 2: family F1, individual 1: expected 9 fields"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Converted c = convert(row.text, row.opt);
    ASSERT_EQ(c.problems.size(), 1u) << all_problems(c.problems);
    EXPECT_NE(all_problems(c.problems).find(row.problem), std::string::npos)
        << all_problems(c.problems);
  }
}

// Added parents and copies of loop breakers have no covariates and are no
// probands; a family without a proband is listed.
TEST(StudyColumns, AddedPeopleAndFamiliesWithoutProbands) {
  PedOptions o = options("", {"age"}, "proband");
  o.fix_parents = true;
  Converted c = convert(
      "fam id father mother sex y age proband\n"
      "F1 3 1 2 1 5 30 1\n"
      "F2 9 0 0 1 5 60 0\n",
      o);
  ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
  EXPECT_EQ(pedseg::tools::covariates_text(c.out), "age\nNA\nNA\n30\n60\n");
  EXPECT_EQ(pedseg::tools::proband_text(c.out), "0\n0\n1\n0\n");
  EXPECT_EQ(c.out.no_proband, std::vector<std::string>{"F2"});
}

}  // namespace
