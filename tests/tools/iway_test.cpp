// Building iway.dat: numbering, nuclear families, pivots and peeling order,
// checked on hand-made pedigrees and on many random ones (through an
// independent structure check and the program's own reader and validator).

#include <gtest/gtest.h>

#include "tools/pedsim.h"
#include "tools_fixture.h"

namespace {

using namespace toolstest;

Converted ok(const std::string& text, PedOptions opt = {}) {
  Converted c = convert(text, opt);
  EXPECT_TRUE(c.problems.empty()) << all_problems(c.problems);
  return c;
}

TEST(IwayBuild, TwoFamiliesWithLooseIndividual) {
  auto c = ok(
      "# two families\n"
      "F1 1 0 0 1 10.5\nF1 2 0 0 2 -999\nF1 3 1 2 1 11.25\nF1 4 1 2 2 1000\n"
      "F1 5 0 0 2 9\nF1 6 3 5 1 NA\n"
      "F2 z 0 0 0 3\n"  // loose, first in the file, last in the numbering
      "F2 a 0 0 1 1.5E2\nF2 b 0 0 2 0.1e1\nF2 c a b 2 7\n");
  EXPECT_EQ(pedseg::tools::iway_text(c.out),
            "2 2 0 6 10\n"
            "0 0 2 3\n"
            "5 0 0 3 7 10\n"
            "10 3 5 6 1 2 3 4 1 2 3\n"
            "3 0 0\n"
            "10 1 2 1 2 2 1 1 2 2 0\n");
  EXPECT_EQ(pedseg::tools::trait_text(c.out), "10.5\n-999\n11.25\n1000\n9\n-999\n1.5E2\n1\n7\n3\n");
  EXPECT_EQ(pedseg::tools::idmap_text(c.out).substr(pedseg::tools::idmap_text(c.out).find('\n') + 1),
            "1 F1 1\n2 F1 2\n3 F1 3\n4 F1 4\n5 F1 5\n6 F1 6\n7 F2 a\n8 F2 b\n9 F2 c\n10 F2 z\n");
  EXPECT_EQ(c.out.loose, 1);
  EXPECT_EQ(c.out.split_families, 0);
}

TEST(IwayBuild, ThreeGenerationsWithTwoMarriages) {
  auto c = ok(
      "F 1 0 0 1 1\nF 2 0 0 2 1\nF 3 1 2 1 1\nF 4 0 0 2 1\nF 5 0 0 2 1\n"
      "F 6 3 4 1 1\nF 7 3 5 2 1\nF 8 0 0 1 1\nF 9 8 7 1 1\n");
  // 3 passes both of his marriages onto himself before his parents' family
  // takes him up; 7's own family is peeled onto her before her parents'.
  EXPECT_EQ(c.out.NUC_MEMBERS, (std::vector<int32_t>{3, 4, 6, 8, 7, 9, 3, 5, 7, 1, 2, 3}));
  EXPECT_EQ(c.out.NUC_PIVOT, (std::vector<int32_t>{0, 3, 7, 3, 0}));
  EXPECT_EQ(c.out.NUC_START, (std::vector<int32_t>{0, 0, 3, 6, 9, 12}));
  EXPECT_TRUE(check_structure(c.data, c.out).empty());
}

TEST(IwayBuild, ChildPivotStandsThird) {
  // The first mating met is that of the wife's parents, so her husband's
  // parents' family is joined through its child 3, who is moved before his
  // sister 9.
  auto c = ok(
      "H 4 7 8 2 1\nH 9 1 2 2 1\nH 3 1 2 1 1\nH 5 3 4 1 1\n"
      "H 1 0 0 1 1\nH 2 0 0 2 1\nH 7 0 0 1 1\nH 8 0 0 2 1\n");
  // Local numbers: 7 8 4 1 2 9 3 5 -> 1..8.
  std::vector<std::string> order;
  for (size_t i = 1; i < c.out.ids.size(); ++i) order.push_back(c.out.ids[i].individual);
  EXPECT_EQ(order, (std::vector<std::string>{"7", "8", "4", "1", "2", "9", "3", "5"}));
  EXPECT_EQ(c.out.NUC_MEMBERS, (std::vector<int32_t>{4, 5, 7, 6, 7, 3, 8, 1, 2, 3}));
  EXPECT_EQ(c.out.NUC_PIVOT, (std::vector<int32_t>{0, 7, 3, 0}));
  EXPECT_TRUE(check_structure(c.data, c.out).empty());
}

TEST(IwayBuild, UnconnectedPartsCloseSeparately) {
  auto c = ok(
      "S 1 0 0 1 1\nS 2 0 0 2 1\nS 3 1 2 1 1\n"
      "S 7 0 0 0 1\n"
      "S 4 0 0 1 1\nS 5 0 0 2 1\nS 6 4 5 2 1\n");
  EXPECT_EQ(c.out.NUC_PIVOT, (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(c.out.ids.back().individual, "7");
  EXPECT_EQ(c.out.split_families, 1);
  EXPECT_EQ(c.out.loose, 1);
  EXPECT_TRUE(check_structure(c.data, c.out).empty());
}

TEST(IwayBuild, FamilyWithoutNuclearFamilies) {
  auto c = ok("A x 0 0 1 1\nA y 0 0 2 -999\nB z 0 0 1 -999\n");
  EXPECT_EQ(pedseg::tools::iway_text(c.out),
            "2 2 0 2 3\n"
            "0 0 0 0\n"
            "2 0 0\n"
            "0\n"
            "\n"
            "3 1 2 1\n");
  EXPECT_EQ(c.out.unmeasured_families, 1);
  auto ped = load(c.out);
  std::vector<std::string> errors, warnings;
  EXPECT_TRUE(pedseg::validate_pedigree(*ped, errors, warnings));
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(ped->PED_WEIGHT[1], 1.0);
  EXPECT_EQ(ped->PED_WEIGHT[2], 0.0);
}

// Many random loop-free pedigrees, with lines shuffled: the structure passes
// the independent check and the program's reader and validator.
TEST(IwayBuild, RandomPedigreesPassEveryCheck) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    RandOptions o;
    o.max_people = round < 200 ? 10 : 60;
    const std::string text = random_pedfile(rng, 1 + round % 7, o);
    auto c = convert(text);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems) << text;
    auto bad = check_structure(c.data, c.out);
    ASSERT_TRUE(bad.empty()) << bad.front() << "\n" << text;
    auto ped = load(c.out);
    std::vector<std::string> errors, warnings;
    EXPECT_TRUE(pedseg::validate_pedigree(*ped, errors, warnings)) << errors.front() << "\n" << text;
    ASSERT_TRUE(warnings.empty()) << warnings.front() << "\n" << text;
  }
}

// Samples from the simulator, in every shape it makes, through ped2iway.
TEST(IwayBuild, SimulatedSamplesPassEveryCheck) {
  using pedseg::tools::SimOptions;
  for (int round = 0; round < 40; ++round) {
    SimOptions o;
    o.seed = 1000 + static_cast<uint64_t>(round);
    o.families = 5 + round;
    o.child_min = round % 3;
    o.child_max = o.child_min + 1 + round % 4;
    o.generations = round % 4 == 0 ? 2 : 3;
    o.mix = round % 5 == 0 ? 0.5 : 1.0;
    o.spouses = round % 6 != 1;
    o.marry = 0.7;
    o.remarry = (round % 3) * 0.3;
    o.loose = (round % 2) * 0.5;
    o.missing_rate = 0.2;
    const std::string text =
        pedseg::tools::pedfile_text(pedseg::tools::simulate(o, pedseg::tools::SimParams{}), o);
    PedOptions opt;
    opt.fix_parents = !o.spouses;
    auto c = convert(text, opt);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
    auto bad = check_structure(c.data, c.out);
    ASSERT_TRUE(bad.empty()) << bad.front();
    auto ped = load(c.out);
    std::vector<std::string> errors, warnings;
    EXPECT_TRUE(pedseg::validate_pedigree(*ped, errors, warnings)) << errors.front();
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(ped->NIND, static_cast<int>(c.out.ids.size()) - 1);
  }
}

// A deep pedigree: a chain of 3000 generations is numbered and peeled
// without recursion.
TEST(IwayBuild, DeepChainOfGenerations) {
  std::string text = "D p0 0 0 1 1\nD w0 0 0 2 1\n";
  for (int g = 1; g <= 3000; ++g) {
    text += "D p" + std::to_string(g) + " p" + std::to_string(g - 1) + " w" +
            std::to_string(g - 1) + " 1 1\n";
    text += "D w" + std::to_string(g) + " 0 0 2 1\n";
  }
  auto c = ok(text);
  EXPECT_EQ(c.out.nuclear, 3000);
  EXPECT_TRUE(check_structure(c.data, c.out).empty());
}

}  // namespace
