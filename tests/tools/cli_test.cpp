// The two commands as users run them: the files written, the diagnostics,
// and the par.inp template read by the program's own reader.  Their command
// lines (usage errors, help, version) are rows of
// tests/cases/command_lines.cmake.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "params/params.h"
#include "model/model.h"
#include "posteriors/posteriors.h"
#include "tools/ped2iway.h"
#include "tools/pedsim.h"

namespace {

namespace fs = std::filesystem;
using pedseg::tools::run_ped2iway;
using pedseg::tools::run_pedsim;

// A fresh folder, removed afterwards.
struct TempDir {
  fs::path path;
  TempDir() {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("pedseg-tools-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::string slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spit(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

struct Outcome {
  int status;
  std::string out, err;
};

Outcome ped2iway(std::vector<std::string> args) {
  Outcome r;
  r.status = run_ped2iway(args, r.out, r.err);
  return r;
}

Outcome pedsim(std::vector<std::string> args) {
  Outcome r;
  r.status = run_pedsim(args, r.out, r.err);
  return r;
}

const char* const PED =
    "# a small sample\n"
    "F1 1 0 0 1 10.5\nF1 2 0 0 2 9.5\nF1 3 1 2 1 1000\nF1 4 1 2 2 11.75\n"
    "F2 a 0 0 1 8.5\nF2 b 0 0 2 -999\nF2 c a b 1 12.25\nF2 d 0 0 1 10\n";

TEST(Ped2iwayCommand, UnreadableInput) {
  TempDir d;
  Outcome r = ped2iway({d / "absent.ped", "-o", d.path.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ped2iway: " + d / "absent.ped" + ": the file does not exist\n");
}

TEST(Ped2iwayCommand, WritesTheFilesAndOneSummaryLine) {
  TempDir d;
  spit(d / "s.ped", PED);
  const std::string out = (d.path / "out" / "deeper").string();
  Outcome r = ped2iway({d / "s.ped", "-o", out, "--trait-file=y.dat", "--par-template"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  for (const char* part : {"2 families", "8 individuals", "2 nuclear families", "7 measured",
                           "1 in the spike", "1 missing", "1 loose individual", "par.inp"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  EXPECT_EQ(slurp(out + "/iway.dat"),
            "2 2 0 4 8\n0 0 1 2\n4 0 0 4 7\n7 1 2 3 4 1 2 3\n0 0\n8 1 2 1 2 1 2 1 1\n");
  EXPECT_EQ(slurp(out + "/y.dat"), "10.5\n9.5\n1000\n11.75\n8.5\n-999\n12.25\n10\n");
  EXPECT_NE(slurp(out + "/idmap.dat").find("\n8 F2 d\n"), std::string::npos);
  for (const auto& e : fs::directory_iterator(out))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();  // no temporary file left
}

TEST(Ped2iwayCommand, ProblemsWriteNothing) {
  TempDir d;
  spit(d / "bad.ped", "F 1 0 0 2 1\nF 2 0 0 2 1\nF 3 1 2 1 1\nF 3 0 0 1 1\nF 4 9 0 1 1\n");
  Outcome r = ped2iway({d / "bad.ped", "-o", d.path.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bad.ped: line 1: family F, individual 1: is coded female"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("line 4: family F, individual 3: duplicate"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 5: family F, individual 4: father 9"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("3 problems"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(d / "iway.dat"));
  EXPECT_FALSE(fs::exists(d / "trait.dat"));
}

TEST(Ped2iwayCommand, MissingCodeAndFixedParents) {
  TempDir d;
  spit(d / "p.fam", "F c P 0 1 -9\nF e P 0 2 4.5\n");
  Outcome r = ped2iway({d / "p.fam", "-o", d.path.string(), "--missing", "-9"});
  EXPECT_EQ(r.status, 2);  // P has no line, and the mothers are unknown
  r = ped2iway({d / "p.fam", "-o", d.path.string(), "--missing", "-9", "--fix-parents"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("added father P"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("added dummy mother dummy_1"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(d / "trait.dat"), "-999\n-999\n-999\n4.5\n");
  EXPECT_NE(r.out.find("2 parents added"), std::string::npos) << r.out;
}

// The files written for `text` converted with `args`, or the diagnostics.
std::string converted(const std::string& text, std::vector<std::string> args = {}) {
  TempDir d;
  spit(d / "in.ped", text);
  args.insert(args.begin(), {d / "in.ped", "-o", d.path.string()});
  Outcome r = ped2iway(args);
  if (r.status != 0) return "status " + std::to_string(r.status) + ": " + r.err;
  return slurp(d / "iway.dat") + "--\n" + slurp(d / "trait.dat") + "--\n" + slurp(d / "idmap.dat");
}

// PED as spreadsheets, R and PLINK-style tools write it.
TEST(Ped2iwayCommand, SeparatorsAndHeadersGiveTheSameFiles) {
  const std::string want = converted(PED);
  ASSERT_EQ(want.rfind("status", 0), std::string::npos) << want;
  const std::string rows[][6] = {
      {"F1", "1", "0", "0", "1", "10.5"}, {"F1", "2", "0", "0", "2", "9.5"},
      {"F1", "3", "1", "2", "1", "1000"}, {"F1", "4", "1", "2", "2", "11.75"},
      {"F2", "a", "0", "0", "1", "8.5"},  {"F2", "b", "0", "0", "2", "NA"},
      {"F2", "c", "a", "b", "1", "12.25"}, {"F2", "d", "0", "0", "1", "10"}};
  // head: the header line or ""; quote: the ids quoted; row_names: R's first
  // column; blank: unknown parents and the missing trait as empty cells.
  auto layout = [&](const std::string& sep, const std::string& head, bool quote, bool row_names,
                    bool blank, const std::string& eol) {
    std::string s = head.empty() ? "" : head + eol;
    int n = 0;
    for (const auto& r : rows) {
      std::string line = row_names ? "\"" + std::to_string(++n) + "\"" + sep : "";
      for (int k = 0; k < 6; ++k) {
        std::string v = r[k];
        if (blank && ((k == 2 || k == 3) && v == "0")) v = "";
        if (blank && k == 5 && v == "NA") v = "";
        if (quote && k < 4 && !v.empty()) v = "\"" + v + "\"";
        line += (k ? sep : "") + v;
      }
      s += line + eol;
    }
    return s;
  };
  // Aligned with tabs: one tab a gap on the header, two on the data lines.
  std::string aligned = layout("\t", "FID\tIID\tPAT\tMAT\tSEX\tPHENO", false, false, false, "\n");
  for (size_t at = aligned.find('\n'); (at = aligned.find('\t', at)) != std::string::npos; at += 2)
    aligned.insert(at, "\t");
  const struct {
    std::string text;
    std::vector<std::string> args;
  } forms[] = {
      {layout(" ", "FID IID PAT MAT SEX PHENO", false, false, false, "\n"), {}},
      {layout(",", "", false, false, false, "\n"), {}},
      {layout(",", "family,id,father,mother,sex,trait", false, false, true, "\r\n"), {}},
      {"\xEF\xBB\xBF" + layout(",", "\"family\",\"id\",\"father\",\"mother\",\"sex\",\"trait\"",
                                true, false, false, "\r\n"), {}},
      {layout(",", "\"\",\"family\",\"id\",\"father\",\"mother\",\"sex\",\"trait\"", true, true,
              false, "\n"), {}},
      {layout("\t", "family\tid\tfather\tmother\tsex\ttrait", false, false, true, "\n"), {}},
      {layout("\t", "", true, false, false, "\r\n"), {}},
      {"F0 x 0 0 1 5\n" + std::string(PED), {"--header"}},  // a header only by the option
      {aligned, {}},
  };
  for (const auto& f : forms) EXPECT_EQ(converted(f.text, f.args), want) << f.text;
}

// Measured values equal to other programs' missing codes are kept, with a
// warning naming the option; --missing silences it.
TEST(Ped2iwayCommand, WarnsAboutOtherProgramsMissingCodes) {
  std::string heights;
  for (int i = 0; i < 12; ++i)
    heights += "H " + std::to_string(i + 1) + " 0 0 1 " + std::to_string(150 + 3 * i) + "\n";
  const std::string plink = "F 1 0 0 1 10.5\nF 2 0 0 2 -9\nF 3 0 0 1 -9.0\n";
  const std::string small = "P 1 0 0 1 0.5\nP 2 0 0 1 1\nP 3 0 0 2 1.5\nP 4 0 0 2 2\n"
                            "P 5 0 0 1 2.5\nP 6 0 0 1 3\nP 7 0 0 2 3.5\nP 8 0 0 2 4\n"
                            "P 9 0 0 1 4.5\nP 10 0 0 1 5\nP 11 0 0 1 0\n";
  const struct {
    std::string text;
    std::vector<std::string> args;
    std::string warning;  // "" for none
    std::string code;     // the option's value, as the trait file keeps it
  } cases[] = {
      {plink, {}, "2 measured trait values are -9", "-9"},
      {plink, {"--missing", "-9"}, "", ""},
      {"F 1 0 0 1 10.5\nF 2 0 0 2 -99\n", {}, "1 measured trait value is -99", "-99"},
      {heights + "H z1 0 0 2 0\nH z2 0 0 2 0\n", {}, "2 measured trait values are 0", "0"},
      {heights + "H z1 0 0 2 0\n", {"--missing", "-999"}, "", ""},
      {heights + "H n 0 0 1 -0.5\nH z 0 0 2 0\n", {}, "", ""},  // values on both sides of 0
      {small, {}, "", ""},                     // 0 near the other values
  };
  for (const auto& c : cases) {
    TempDir d;
    spit(d / "in.ped", c.text);
    std::vector<std::string> args{d / "in.ped", "-o", d.path.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = ped2iway(args);
    ASSERT_EQ(r.status, 0) << r.err;
    if (c.warning.empty()) {
      EXPECT_EQ(r.err, "") << c.text;
      EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
      continue;
    }
    EXPECT_NE(r.err.find("ped2iway: warning: " + c.warning), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--missing " + c.code + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("warning: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("use --missing " + c.code + " "), std::string::npos) << r.out;
    // Never guessed: the values are written as given.
    EXPECT_NE(slurp(d / "trait.dat").find("\n" + c.code + "\n"), std::string::npos);
  }
}

// A family with a marriage ring, refused with --no-loops, is left out with
// one message; the other family is written as if it were alone.
TEST(Ped2iwayCommand, SkipBadFamilies) {
  const std::string ring =
      "R p1 0 0 1 1\nR p2 0 0 2 1\nR q1 0 0 1 1\nR q2 0 0 2 1\n"
      "R s1 p1 p2 1 1\nR s2 p1 p2 1 1\nR d1 q1 q2 2 1\nR d2 q1 q2 2 1\n"
      "R c1 s1 d1 1 1\nR c2 s2 d2 1 1\n";
  const std::string good = "G a 0 0 1 8.5\nG b 0 0 2 9\nG c a b 1 12.25\n";
  EXPECT_EQ(converted(ring + good, {"--no-loops"}).rfind("status 2", 0), 0u);  // as without the option
  TempDir d;
  spit(d / "in.ped", ring + good);
  Outcome r =
      ped2iway({d / "in.ped", "-o", d.path.string(), "--skip-bad-families", "--no-loops"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.find(d / "in.ped" + ": family R left out: line "), 0u) << r.err;
  for (const char* part : {"pedigree loop", "s1", "s2", "d1", "d2"})
    EXPECT_NE(r.err.find(part), std::string::npos) << part << " in " << r.err;
  EXPECT_NE(r.out.find("1 family left out (1 problem)"), std::string::npos) << r.out;
  const std::string written =
      slurp(d / "iway.dat") + "--\n" + slurp(d / "trait.dat") + "--\n" + slurp(d / "idmap.dat");
  EXPECT_EQ(written, converted(good));
  // Nothing left to write is an input error.
  spit(d / "ring.ped", ring);
  r = ped2iway(
      {d / "ring.ped", "-o", (d.path / "none").string(), "--skip-bad-families", "--no-loops"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("every family has a problem"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(d.path / "none" / "iway.dat"));
}

// A study with covariates, probands and a loop: the files beside iway.dat,
// the summary, the warning for a proband without a trait, an id map that the
// posteriors' reader takes, and the companions of an earlier conversion
// removed when a later one does not write them.
TEST(Ped2iwayCommand, StudyFilesAndLoops) {
  TempDir d;
  spit(d / "study.csv",
       "family,id,father,mother,sex,y,age,proband\n"
       "L,g1,0,0,1,1,80,0\nL,g2,0,0,2,2,78,0\nL,A,g1,g2,1,3,50,0\nL,B,g1,g2,2,4,52,0\n"
       "L,X,0,0,2,5,49,0\nL,Y,0,0,1,6,51,0\nL,C,A,X,1,7,25,0\nL,D,Y,B,2,8,24,0\n"
       "L,E,C,D,1,,3,1\nG,a,0,0,1,9,40,0\n");
  Outcome r = ped2iway({d / "study.csv", "-o", d.path.string(), "--covariates", "sex,age",
                        "--proband", "proband"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "ped2iway: warning: family L, individual E is a proband without a trait value\n");
  for (const char* part :
       {"covariates.dat, ", "proband.dat, ", "loops.dat;", "1 loop broken (family L at A)",
        "of 8 columns read: trait 6 (y), covariates sex (5), age (7), proband 8 (proband)",
        "1 proband, 1 family without one (G)"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  EXPECT_EQ(slurp(d / "loops.dat"), "# family, loop breaker, its copy (global numbers of iway.dat)\n1 3 7\n");
  const std::string covariates = slurp(d / "covariates.dat");
  EXPECT_EQ(covariates.substr(0, 18), "sex age\n1 80\n0 78\n");
  EXPECT_NE(covariates.find("\n1 51\nNA NA\n"), std::string::npos) << covariates;  // Y, A's copy
  const auto ids = pedseg::read_idmap(slurp(d / "idmap.dat"), 11);
  EXPECT_EQ(ids[7].individual, "A");
  EXPECT_NE(slurp(d / "idmap.dat").find("\n7 L A copy\n"), std::string::npos);
  EXPECT_THROW(pedseg::read_idmap("7 L A copies\n", 11), std::invalid_argument);

  spit(d / "plain.ped", "G a 0 0 1 9\nG b 0 0 2 8\nG c a b 1 7\n");
  r = ped2iway({d / "plain.ped", "-o", d.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"covariates.dat", "proband.dat", "loops.dat"})
    EXPECT_FALSE(fs::exists(d.path / name)) << name;
  EXPECT_NE(r.out.find("; removed the earlier "), std::string::npos) << r.out;
}

TEST(Ped2iwayCommand, ParTemplateNeverReplacesAnExistingOne) {
  TempDir d;
  spit(d / "s.ped", PED);
  spit(d / "par.inp", "hand edited\n");
  Outcome r = ped2iway({d / "s.ped", "-o", d.path.string(), "--par-template"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(d / "par.inp"), "hand edited\n");
  EXPECT_TRUE(fs::exists(d / "par.inp.new"));
  EXPECT_NE(r.out.find("par.inp.new"), std::string::npos);
}

// The template is read by the program's reader, names the trait file, and
// its starting point passes the program's initial check.
TEST(Ped2iwayCommand, ParTemplateIsAUsableParameterFile) {
  for (const char* ped : {PED, "F 1 0 0 1 5\nF 2 0 0 2 -999\n", "F 1 0 0 1 -999\n"}) {
    TempDir d;
    spit(d / "s.ped", ped);
    Outcome r = ped2iway({d / "s.ped", "-o", d.path.string(), "--par-template", "--trait-file",
                      "trait_16_chars_x"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto in = pedseg::open_input(d / "par.inp");
    pedseg::ParamTable par;
    par.NPAR = 12;
    pedseg::READ_PARAMETERS(in, par);
    EXPECT_EQ(pedseg::trait_file_name(par), "trait_16_chars_x");
    for (int i = 1; i <= 12; ++i) {
      EXPECT_EQ(par.PAR_LINK[i], i);
      EXPECT_LT(par.PAR_LOW[i], par.PAR_HIGH[i]) << i;
      if (par.PAR_EST[i]) {
        EXPECT_GT(par.PAR_VAL[i], par.PAR_LOW[i]) << i;
        EXPECT_LT(par.PAR_VAL[i], par.PAR_HIGH[i]) << i;
        EXPECT_NE(par.PAR_STEP[i], 0.0) << i;
      }
    }
    EXPECT_GT(par.PAR_LOW[12], 0.0);
    const bool spike = std::string(ped).find("1000") != std::string::npos;
    EXPECT_EQ(par.PAR_EST[2], spike ? 1 : 0);
    std::string errs;
    auto err = pedseg::output_memory(errs, "par.err");
    pedseg::ModelQuantities model;
    double status = 0.0;
    pedseg::SET_MODEL_INITIAL(par, model, err, status);
    EXPECT_EQ(status, 1.0) << errs;
  }
}

TEST(PedsimCommand, WritesSampleAndTruth) {
  TempDir d;
  Outcome r = pedsim({"--families", "20", "--children", "2-3", "--generations", "3", "--spouses",
                  "--seed", "5", "--missing-rate", "0.1", "--out", d / "s.ped", "--truth",
                  d / "t.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("20 families"), std::string::npos) << r.out;
  const std::string text = slurp(d / "s.ped");
  EXPECT_EQ(text.rfind("# pedsim, seed 5", 0), 0u);
  Outcome again = pedsim({"--families=20", "--children=2-3", "--generations=3", "--spouses",
                      "--seed=5", "--missing-rate=0.1"});
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.out, text);  // to standard output, the same sample
  EXPECT_NE(again.err.find("pedsim: 20 families"), std::string::npos);
  // Truth lines match the sample's lines one to one.
  const std::string truth = slurp(d / "t.txt");
  EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), std::count(text.begin(), text.end(), '\n'));
  // And ped2iway takes it.
  Outcome conv = ped2iway({d / "s.ped", "-o", d.path.string()});
  EXPECT_EQ(conv.status, 0) << conv.err;
}

TEST(PedsimCommand, TrueValuesFromParInpWithLinks) {
  TempDir d;
  spit(d / "par.inp",
       "trait.dat\n"
       "1 0 0.5 0 0 1\n2 0 0 0 0 1\n3 0 0 0 0 1\n4 0 0 0 0 1\n"
       "5 0 20 0 -50 50\n6 0 15 0 -50 50\n6 0 99 0 -50 50\n"  // mean 3 linked to mean 2
       "8 0 1 0 0 1\n9 0 0.5 0 0 1\n10 0 0 0 0 1\n11 0 0 0 -5 5\n12 0 0.0001 0 0 10\n");
  auto p = pedseg::tools::params_from_par_file(d / "par.inp");
  EXPECT_EQ(p.q, 0.5);
  EXPECT_EQ(p.mean[1], 20.0);
  EXPECT_EQ(p.mean[3], 15.0);
  EXPECT_EQ(p.res_var, 0.0001);
  Outcome r = pedsim({"--par", d / "par.inp", "--set", "11=0", "--families", "200", "--truth",
                  d / "t.txt", "--out", d / "s.ped"});
  ASSERT_EQ(r.status, 0) << r.err;
  // With almost no residual noise every value sits on its genotype's mean.
  std::istringstream ped(slurp(d / "s.ped")), truth(slurp(d / "t.txt"));
  std::string pl, tl;
  std::getline(ped, pl);
  std::getline(truth, tl);
  int checked = 0;
  while (std::getline(ped, pl) && std::getline(truth, tl)) {
    char f1[16], f2[16];
    int i1, i2, fa, mo, sex, g, k, spike;
    double y;
    ASSERT_EQ(std::sscanf(pl.c_str(), "%15s %d %d %d %d %lf", f1, &i1, &fa, &mo, &sex, &y), 6);
    ASSERT_EQ(std::sscanf(tl.c_str(), "%15s %d %d %d %d", f2, &i2, &g, &k, &spike), 5);
    ASSERT_EQ(i1, i2);
    EXPECT_NEAR(y, g == 1 ? 20.0 : 15.0, 0.06) << pl << " / " << tl;
    ++checked;
  }
  EXPECT_GT(checked, 500);
}

}  // namespace
