// Reading and checking pedigree files: one malformed file per check, all
// problems of a file in one pass, trait values, and --fix-parents.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "tools_fixture.h"

namespace {

using namespace toolstest;

// The problems of `text` as formatted lines.
std::vector<std::string> problems_of(const std::string& text, PedOptions opt = {}) {
  std::vector<Problem> ps;
  pedseg::tools::parse_pedfile(text, opt, ps);
  std::vector<std::string> out;
  for (const auto& p : ps) out.push_back(pedseg::tools::format_problem(p));
  return out;
}

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

// True when exactly one of `lines` starts with `head` and contains every part.
bool reported(const std::vector<std::string>& lines, const std::string& head,
              std::initializer_list<const char*> parts) {
  int hits = 0;
  for (const auto& l : lines) {
    if (l.rfind(head, 0) != 0) continue;
    bool all = true;
    for (const char* p : parts) all = all && l.find(p) != std::string::npos;
    hits += all ? 1 : 0;
  }
  return hits == 1;
}

const char* const NUCLEAR =
    "F1 1 0 0 1 10.5\n"
    "F1 2 0 0 2 9.25\n"
    "F1 3 1 2 1 11\n";

TEST(PedFile, SoundFileHasNoProblem) {
  EXPECT_TRUE(problems_of(NUCLEAR).empty()) << joined(problems_of(NUCLEAR));
  EXPECT_TRUE(problems_of("# comment\n\n  # indented comment\r\nF1 1 0 0 1 3\r\n").empty());
}

TEST(PedFile, LineChecks) {
  auto p = problems_of("F1 1 0 0 1\n");
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 1:", {"expected 6 fields", "found 5"}))
      << joined(p);
  // A line wider than the file's other lines (a file of seven columns alone
  // is read, its seventh ignored).
  p = problems_of("F1 1 0 0 1 5 7\nF1 2 0 0 2 5\nF1 3 0 0 2 5\n");
  EXPECT_TRUE(reported(p, "line 1:", {"expected 6 fields", "found 7"})) << joined(p);
  p = problems_of("F1 0 0 0 1 5\n");
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 0:", {"reserved for an unknown parent"}))
      << joined(p);
  p = problems_of("F1 1 0 0 M 5\n");
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 1:", {"sex must be 1", "not M"}))
      << joined(p);
  p = problems_of("F1 1 0 0 1 abc\nF1 2 0 0 2 nan\nF1 3 0 0 1 1e40\n");
  EXPECT_TRUE(reported(p, "line 1:", {"trait value abc is not a finite number"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 2:", {"trait value nan"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 3:", {"trait value 1e40"})) << joined(p);
  p = problems_of("");
  EXPECT_TRUE(reported(p, "the file holds no individuals", {})) << joined(p);
  // Comma-separated: a quote left open, a blank in an id, an empty id.
  p = problems_of("F1,1,0,0,1,5\nF1,\"2,0,0,2,5\nF1,\"a b\",0,0,2,5\nF1,,0,0,2,5\n");
  EXPECT_TRUE(reported(p, "line 2: family F1:", {"closing quote"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 3: family F1, individual a b:", {"holds a blank"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 4: family F1:", {"individual id is empty"})) << joined(p);
  EXPECT_EQ(p.size(), 3u) << joined(p);
}

TEST(PedFile, DuplicateIdInFamily) {
  auto p = problems_of(std::string(NUCLEAR) + "F1 2 0 0 2 7\nF2 2 0 0 2 7\n");
  ASSERT_EQ(p.size(), 1u) << joined(p);  // the same id in another family is fine
  EXPECT_TRUE(reported(p, "line 4: family F1, individual 2:", {"duplicate", "first on line 2"}));
}

TEST(PedFile, ParentNotInFamily) {
  auto p = problems_of("F1 1 0 0 1 1\nF1 3 1 2 1 1\n");
  EXPECT_TRUE(reported(p, "line 2: family F1, individual 3:",
                       {"mother 2 is not in the family", "no line of their own"}))
      << joined(p);
  // A parent with a line in another family is named with that line.
  p = problems_of("F1 1 0 0 1 1\nF2 2 0 0 2 1\nF1 3 1 2 1 1\n");
  EXPECT_TRUE(reported(p, "line 3: family F1, individual 3:",
                       {"mother 2 is not in family F1", "family F2, line 2"}))
      << joined(p);
}

TEST(PedFile, ExactlyOneParentKnown) {
  auto p = problems_of("F1 1 0 0 1 1\nF1 3 1 0 1 1\nF1 2 0 0 2 1\nF1 4 0 2 2 1\n");
  EXPECT_TRUE(reported(p, "line 2: family F1, individual 3:", {"only the father is known"}))
      << joined(p);
  EXPECT_TRUE(reported(p, "line 4: family F1, individual 4:", {"only the mother is known"}))
      << joined(p);
  EXPECT_EQ(p.size(), 2u) << joined(p);
}

TEST(PedFile, OwnAncestor) {
  // 1 is a child of 3, and 3 a child of 1.
  auto p = problems_of(
      "F1 1 3 4 1 1\n"
      "F1 2 0 0 2 1\n"
      "F1 3 1 2 1 1\n"
      "F1 4 0 0 2 1\n");
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_NE(p[0].find("is their own ancestor"), std::string::npos) << p[0];
  EXPECT_NE(p[0].find("1 is a child of 3"), std::string::npos) << p[0];
  EXPECT_NE(p[0].find("3 is a child of 1"), std::string::npos) << p[0];
  // Being one's own parent is the shortest case.
  p = problems_of("F1 1 1 2 1 1\nF1 2 0 0 2 1\n");
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 1:", {"own ancestor", "1 is a child of 1"}))
      << joined(p);
}

TEST(PedFile, ParentSexAgainstRole) {
  auto p = problems_of(
      "F1 1 0 0 2 1\n"  // father coded female
      "F1 2 0 0 1 1\n"  // mother coded male
      "F1 3 1 2 1 1\n");
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 1:",
                       {"coded female (sex 2) but is the father of 3 (line 3)"}))
      << joined(p);
  EXPECT_TRUE(reported(p, "line 2: family F1, individual 2:",
                       {"coded male (sex 1) but is the mother of 3 (line 3)"}))
      << joined(p);
  // Unknown sex is no problem; a person in both roles is.
  p = problems_of(
      "F1 1 0 0 0 1\nF1 2 0 0 0 1\nF1 3 1 2 1 1\nF1 4 0 0 0 1\nF1 5 4 1 1 1\n");
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_TRUE(reported(p, "line 1: family F1, individual 1:",
                       {"is the father of 3 (line 3) and the mother of 5 (line 5)"}))
      << joined(p);
}

TEST(PedFile, SamePersonFatherAndMother) {
  auto p = problems_of("F1 1 0 0 0 1\nF1 3 1 1 1 1\n");
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_TRUE(reported(p, "line 2: family F1, individual 3:",
                       {"the same person 1 is given as father and mother"}))
      << joined(p);
}

// With --no-loops a loop is refused, its people named.
TEST(PedFile, InbreedingLoopNamesThePeopleOnIt) {
  PedOptions refuse;
  refuse.no_loops = true;
  // First cousins C and D marry.
  auto p = problems_of(
      "L g1 0 0 1 1\nL g2 0 0 2 1\n"
      "L A g1 g2 1 1\nL B g1 g2 2 1\n"
      "L X 0 0 2 1\nL Y 0 0 1 1\n"
      "L C A X 1 1\nL D Y B 2 1\n"
      "L E C D 1 1\n",
      refuse);
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_NE(p[0].find("family L"), std::string::npos);
  EXPECT_NE(p[0].find("pedigree loop"), std::string::npos) << p[0];
  const std::string names = p[0].substr(p[0].find("through"));
  for (const char* who : {" A", " B", " C", " D"})
    EXPECT_NE(names.find(who), std::string::npos) << who << " missing in " << p[0];
  for (const char* who : {" X", " Y", " E", " g1", " g2"})
    EXPECT_EQ(names.find(who), std::string::npos) << who << " wrongly in " << p[0];
}

TEST(PedFile, MarriageRingLoop) {
  PedOptions refuse;
  refuse.no_loops = true;
  // Two brothers marry two sisters.
  auto p = problems_of(
      "R p1 0 0 1 1\nR p2 0 0 2 1\nR q1 0 0 1 1\nR q2 0 0 2 1\n"
      "R s1 p1 p2 1 1\nR s2 p1 p2 1 1\nR d1 q1 q2 2 1\nR d2 q1 q2 2 1\n"
      "R c1 s1 d1 1 1\nR c2 s2 d2 1 1\n",
      refuse);
  ASSERT_EQ(p.size(), 1u) << joined(p);
  const std::string names = p[0].substr(p[0].find("through"));
  for (const char* who : {"s1", "s2", "d1", "d2"})
    EXPECT_NE(names.find(who), std::string::npos) << who << " missing in " << p[0];
  EXPECT_EQ(names.find("c1"), std::string::npos) << p[0];
}

TEST(PedFile, FamilyLimit) {
  std::string text;
  char line[64];
  for (int f = 1; f <= pedseg::N_FAM; ++f) {
    std::snprintf(line, sizeof line, "F%d 1 0 0 1 1\n", f);
    text += line;
  }
  EXPECT_TRUE(problems_of(text).empty());
  text += "Fx 1 0 0 1 1\n";
  auto p = problems_of(text);
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_TRUE(reported(p, "line 605: family Fx:", {"more than 604 families", "N_FAM"})) << joined(p);
}

TEST(PedFile, IndividualLimitCountsAddedParents) {
  std::string text;
  char line[64];
  for (int i = 1; i <= pedseg::N_SIZE - 1; ++i) {
    std::snprintf(line, sizeof line, "F%d %d 0 0 1 1\n", i / 100, i);
    text += line;
  }
  text += "G c 0 m 1 1\n";  // one more line, and a dummy father
  EXPECT_EQ(problems_of(text).size(), 1u);  // m has no line
  PedOptions fix;
  fix.fix_parents = true;
  auto p = problems_of(text, fix);  // 24999 + c + m + dummy = 25002
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_NE(p[0].find("more than 25000 individuals"), std::string::npos) << p[0];
  EXPECT_NE(p[0].find("N_SIZE"), std::string::npos) << p[0];
}

TEST(PedFile, EveryProblemInOnePassInLineOrder) {
  auto p = problems_of(
      "A 1 0 0 1 1\n"
      "A 1 0 0 2 1\n"       // 2: duplicate
      "A 3 1 9 1 1\n"       // 3: mother not in family
      "A 4 1 0 1 x\n"       // 4: one parent, bad trait
      "B 1 2 2 1 1\n"       // 5: same father and mother ... and 2 not in family
      "B 7 0 0 3 1\n"       // 6: bad sex
      "C 1 2 3 1 1\nC 2 0 0 1 1\nC 3 1 4 2 1\nC 4 0 0 2 1\n");  // 7-10: own ancestor
  EXPECT_TRUE(reported(p, "line 2:", {"duplicate"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 3:", {"mother 9"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 4:", {"only the father"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 4:", {"trait value x"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 5:", {"same person 2"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 6:", {"sex must be"})) << joined(p);
  EXPECT_TRUE(reported(p, "line 7:", {"own ancestor"}) || reported(p, "line 9:", {"own ancestor"}))
      << joined(p);
  for (size_t i = 1; i < p.size(); ++i) {
    int a = std::atoi(p[i - 1].c_str() + 5), b = std::atoi(p[i].c_str() + 5);
    EXPECT_LE(a, b) << joined(p);
  }
}

TEST(PedFile, TraitValues) {
  PedOptions plink;
  plink.missing_code = "-9";
  auto c = convert(
      "F 1 0 0 1 -9\n"
      "F 2 0 0 2 -9.0\n"
      "F 3 1 2 1 NA\n"
      "F 4 1 2 2 .\n"
      "F 5 1 2 1 -999\n"      // an ordinary number with --missing -9 ... but
      "F 6 1 2 1 -1000.5\n"   // the program reads -998 and below as missing
      "F 7 1 2 1 999.5\n"     // spike, as written
      "F 8 1 2 1 0.1\n"
      "F 9 1 2 1 1.5e2\n"     // lower-case exponent: rewritten
      "F 10 1 2 1 +2.5\n"
      "F 11 1 2 1 -997.5\n",
      plink);
  ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
  EXPECT_EQ(c.data.low_values, 2);
  std::vector<std::string> want = {"", "-999", "-999", "-999", "-999", "-999", "-999",
                                   "999.5", "0.1", "150", "2.5", "-997.5"};
  EXPECT_EQ(c.out.trait_text, want);
  EXPECT_EQ(c.out.measured, 5);
  EXPECT_EQ(c.out.spike, 1);
  EXPECT_EQ(c.out.missing, 6);
}

TEST(PedFile, WrittenTraitsReadBackAsTheSameFloats) {
  // Tokens that round in single precision, long tokens and exponents.
  const char* tokens[] = {"0.1", "3.4028234e38", "1.17549435E-38", "16777217", "-0.000001",
                          "123456.789012345678", "7E-3", "1.e1", "9.999999999999", "0.5e-45"};
  std::string text = "F 1 0 0 1 1\nF 2 0 0 2 1\n";
  int id = 3;
  for (const char* t : tokens) text += "F " + std::to_string(id++) + " 1 2 1 " + t + "\n";
  auto c = convert(text);
  ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
  auto ped = load(c.out);
  for (int i = 0; i < static_cast<int>(std::size(tokens)); ++i) {
    const float want = std::strtof(tokens[i], nullptr);
    const float got = ped->TRAIT[3 + i];
    EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0)
        << tokens[i] << " written as " << c.out.trait_text[3 + i];
  }
}

TEST(PedFile, FixParentsAddsWhatIsMissing) {
  PedOptions fix;
  fix.fix_parents = true;
  auto c = convert(
      "F a P Q 1 1\n"     // neither parent has a line
      "F b P Q 2 2\n"
      "F c a 0 1 3\n"     // mother unknown: a dummy, shared with d
      "F d a 0 2 4\n"
      "F e 0 b 2 5\n"     // father unknown: another dummy
      "F f dummy_1 0 1 6\n",  // an id that looks like a dummy's name
      fix);
  ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
  const auto& people = c.data.families[0].people;
  // 6 + P + Q + dummy_1 as f's founder father + three dummies (dummy_2 to dummy_4)
  ASSERT_EQ(people.size(), 12u);
  int added = 0;
  for (const auto& p : people) {
    if (!p.added) continue;
    ++added;
    EXPECT_FALSE(p.measured);
  }
  EXPECT_EQ(added, 6);
  EXPECT_EQ(c.data.notes.size(), 6u);
  EXPECT_EQ(people[2].mother, people[3].mother);  // c and d share their dummy mother
  EXPECT_NE(people[2].mother, people[4].father);
  EXPECT_EQ(people[people[4].father].sex, 1);
  EXPECT_EQ(people[people[2].mother].sex, 2);
  // No invented name collides with one the file uses.
  std::set<std::string> ids;
  for (const auto& p : people) EXPECT_TRUE(ids.insert(p.id).second) << p.id;
  EXPECT_TRUE(check_structure(c.data, c.out).empty());
  EXPECT_EQ(c.out.measured, 6);
}

TEST(PedFile, FixParentsStillRefusesOtherDefects) {
  PedOptions fix;
  fix.fix_parents = true;
  auto p = problems_of("F1 x 0 0 1 1\nF2 c x y 1 1\n", fix);
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_NE(p[0].find("father x is not in family F2"), std::string::npos) << p[0];
  // A missing id used as a father here and as a mother there.
  p = problems_of("F c P 0 1 1\nF d Q P 1 1\n", fix);
  ASSERT_EQ(p.size(), 1u) << joined(p);
  EXPECT_NE(p[0].find("also given as father"), std::string::npos) << p[0];
}

}  // namespace
