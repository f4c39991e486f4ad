// Breaking pedigree loops: as many copies as the graph of people and matings
// has independent cycles, as few breakers as there can be, copies that are
// founders without a trait, tables the program reads and validates as a
// tree, and member lists that give back the pedigree when each copy is taken
// for its person.

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <set>
#include <tuple>

#include "params/codes.h"
#include "tools/pedsim.h"
#include "tools_fixture.h"

namespace {

using namespace toolstest;

// (father, mother, child) by id, over the matings of a parsed family.
using Trio = std::tuple<std::string, std::string, std::string>;

std::set<Trio> trios_of_pedigree(const pedseg::tools::PedFamily& fam) {
  std::set<Trio> out;
  for (const auto& p : fam.people)
    if (p.father >= 0) out.emplace(fam.people[p.father].id, fam.people[p.mother].id, p.id);
  return out;
}

// The same from the written member lists, each copy named as its person.
std::set<Trio> trios_of_lists(const IwayOutput& out, int f) {
  std::set<Trio> trios;
  auto id = [&](int local) { return out.ids[out.PED_START[f] + local].individual; };
  for (int j = out.PED_NUC[f] + 1; j <= out.PED_NUC[f + 1]; ++j)
    for (int a = out.NUC_START[j] + 2; a < out.NUC_START[j + 1]; ++a)
      trios.emplace(id(out.NUC_MEMBERS[out.NUC_START[j]]), id(out.NUC_MEMBERS[out.NUC_START[j] + 1]),
                    id(out.NUC_MEMBERS[a]));
  return trios;
}

// Cycle rank of a family's graph of people and matings: edges - nodes + parts.
int cycle_rank(const pedseg::tools::PedFamily& fam) {
  std::map<std::pair<int, int>, int> matings;
  for (const auto& p : fam.people)
    if (p.father >= 0) matings.try_emplace({p.father, p.mother}, 0);
  const int n = static_cast<int>(fam.people.size());
  std::vector<int> up(n + matings.size());
  std::iota(up.begin(), up.end(), 0);
  std::function<int(int)> root = [&](int x) { return up[x] == x ? x : up[x] = root(up[x]); };
  int rank = 0, m = n;
  for (auto& [pair, node] : matings) node = m++;
  auto edge = [&](int a, int b) {
    if (root(a) == root(b)) ++rank;
    else up[root(a)] = root(b);
  };
  for (const auto& [pair, node] : matings) {
    edge(pair.first, node);
    edge(pair.second, node);
  }
  for (int i = 0; i < n; ++i)
    if (fam.people[i].father >= 0)
      edge(i, matings.at({fam.people[i].father, fam.people[i].mother}));
  return rank;
}

// Every promise of a conversion with loops broken, against the same file
// read with loops refused.  Returns the number of distinct breakers.
int check_broken(const std::string& text) {
  PedOptions refuse;
  refuse.no_loops = true;
  std::vector<Problem> ignored;
  const PedData original = pedseg::tools::parse_pedfile(text, refuse, ignored);
  Converted c = convert(text);
  EXPECT_TRUE(c.problems.empty()) << all_problems(c.problems) << text;
  if (!c.problems.empty()) return -1;
  const IwayOutput& out = c.out;
  int rank = 0;
  std::set<int> breakers;
  for (int f = 1; f <= out.PED_START[0]; ++f) {
    rank += cycle_rank(original.families[f - 1]);
    EXPECT_EQ(trios_of_lists(out, f), trios_of_pedigree(original.families[f - 1])) << text;
  }
  EXPECT_EQ(static_cast<int>(out.loops.size()), rank) << text;
  auto ped = load(out);
  for (const auto& l : out.loops) {
    breakers.insert(l.person);
    EXPECT_TRUE(out.ids[l.copy].copy);
    EXPECT_FALSE(out.ids[l.person].copy);
    EXPECT_EQ(out.ids[l.copy].individual, out.ids[l.person].individual);
    EXPECT_EQ(ped->IND_CODE[l.copy], ped->IND_CODE[l.person]);
    EXPECT_TRUE(pedseg::trait_missing(ped->TRAIT[l.copy]));
    // A founder: a parent in one list or more, a child in none.
    int as_parent = 0, as_child = 0;
    const int local = l.copy - out.PED_START[l.family];
    for (int j = out.PED_NUC[l.family] + 1; j <= out.PED_NUC[l.family + 1]; ++j)
      for (int a = out.NUC_START[j]; a < out.NUC_START[j + 1]; ++a)
        if (out.NUC_MEMBERS[a] == local) ++(a - out.NUC_START[j] < 2 ? as_parent : as_child);
    EXPECT_GE(as_parent, 1);
    EXPECT_EQ(as_child, 0);
  }
  std::vector<std::string> errors, warnings;
  EXPECT_TRUE(pedseg::validate_pedigree(*ped, errors, warnings))
      << (errors.empty() ? "" : errors.front()) << "\n" << text;
  EXPECT_TRUE(warnings.empty()) << warnings.front() << "\n" << text;
  EXPECT_EQ(out.measured + out.missing + static_cast<int>(out.loops.size()),
            static_cast<int>(out.ids.size()) - 1);
  EXPECT_EQ(pedseg::tools::idmap_text(out).find(" copy\n") != std::string::npos, !out.loops.empty());
  return static_cast<int>(breakers.size());
}

const std::string COUSINS =
    "L g1 0 0 1 1\nL g2 0 0 2 1\nL A g1 g2 1 1\nL B g1 g2 2 1\nL X 0 0 2 1\nL Y 0 0 1 1\n"
    "L C A X 1 1\nL D Y B 2 1\nL E C D 1 1\n";
const std::string RING =
    "R p1 0 0 1 1\nR p2 0 0 2 1\nR q1 0 0 1 1\nR q2 0 0 2 1\n"
    "R s1 p1 p2 1 1\nR s2 p1 p2 1 1\nR d1 q1 q2 2 1\nR d2 q1 q2 2 1\n"
    "R c1 s1 d1 1 1\nR c2 s2 d2 2 1\n";

TEST(LoopBreaking, CopiesAsCycleRankBreakersAsFewAsCanBe) {
  struct Row {
    const char* what;
    std::string text;
    int loops, breakers;
  };
  const Row rows[] = {
      {"first cousins marry", COUSINS, 1, 1},
      {"two brothers marry two sisters", RING, 1, 1},
      {"their children, double first cousins, marry", RING + "R e c1 c2 1 1\n", 2, 2},
      {"one man marries three sisters",
       "T q1 0 0 1 1\nT q2 0 0 2 1\nT d1 q1 q2 2 1\nT d2 q1 q2 2 1\nT d3 q1 q2 2 1\n"
       "T m 0 0 1 1\nT k1 m d1 1 1\nT k2 m d2 1 1\nT k3 m d3 1 1\n",
       2, 1},
      {"an uncle marries his niece",
       "U g1 0 0 1 1\nU g2 0 0 2 1\nU a g1 g2 1 1\nU b g1 g2 1 1\nU w 0 0 2 1\n"
       "U n b w 2 1\nU k a n 1 1\n",
       1, 1},
      {"two loopy families and a plain one, lines shuffled",
       "G a 0 0 1 8\n" + RING + "G b 0 0 2 9\n" + COUSINS + "G c a b 1 7\n", 2, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Converted c = convert(row.text);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
    EXPECT_EQ(static_cast<int>(c.out.loops.size()), row.loops);
    EXPECT_EQ(check_broken(row.text), row.breakers);
  }
}

// Random pedigrees with cousin marriages and rings added, and simulated
// samples with them: every promise holds, whatever the breakers chosen.
TEST(LoopBreaking, RandomAndSimulatedPedigrees) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    RandOptions o;
    o.max_people = 8 + round % 30;
    auto ps = random_family(rng, o);
    // Marry people of opposite sexes who have parents: loops through them.
    const int marriages = 1 + round % 3;
    for (int k = 0; k < marriages; ++k) {
      std::vector<int> men, women;
      for (int i = 0; i < static_cast<int>(ps.size()); ++i)
        if (ps[i].father >= 0) (ps[i].sex == 1 ? men : women).push_back(i);
      if (men.empty() || women.empty()) break;
      const int a = men[rng() % men.size()], b = women[rng() % women.size()];
      ps.push_back(RandPerson{a, b, 1, "5"});
    }
    std::string text;
    for (int i = 0; i < static_cast<int>(ps.size()); ++i)
      text += "F i" + std::to_string(i) + " " +
              (ps[i].father < 0 ? "0 0" : "i" + std::to_string(ps[i].father) + " i" +
                                              std::to_string(ps[i].mother)) +
              " " + std::to_string(ps[i].sex) + " " + ps[i].trait + "\n";
    ASSERT_GE(check_broken(text), 0);
  }
  // Ten rings in one family: too many sets to try, so the greedy search.
  std::string rings;
  for (int r = 0; r < 10; ++r) {
    std::string ring = RING;
    for (size_t at = ring.find(' '); at != std::string::npos; at = ring.find(' ', at + 1))
      if (ring[at + 1] >= 'a' && ring[at + 1] <= 'z') ring.insert(at + 1, "r" + std::to_string(r));
    rings += ring;
  }
  EXPECT_EQ(check_broken(rings), 10);
  // pedsim's cousin marriages, with and without brothers married to sisters:
  // one loop each, and one more for each ring.
  for (double sisters : {0.0, 1.0}) {
    pedseg::tools::SimOptions s;
    s.families = 40;
    s.cousins = 1.0;
    s.sisters = sisters;
    s.spouses = true;
    s.seed = 3;
    const auto fams = pedseg::tools::simulate(s, pedseg::tools::SimParams{});
    const std::string text = pedseg::tools::pedfile_text(fams, s);
    EXPECT_EQ(check_broken(text), sisters > 0.0 ? 80 : 40);
    EXPECT_EQ(convert(text).out.loops.size(), sisters > 0.0 ? 80u : 40u);
  }
}

}  // namespace
