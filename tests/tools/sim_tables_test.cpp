// The class model simulated on the tables of a sample read from its files:
// the same genetics as pedsim's own families, parents resolved through the
// nuclear lists and through loop copies, the missing pattern kept.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>

#include "sample/sample.h"
#include "tools/pedsim.h"
#include "tools_fixture.h"

namespace {

using namespace pedseg;
using namespace pedseg::tools;

// q alleles a parent of genotype g can pass under Mendelian transmission.
int q_low(int g) { return g == 1 ? 1 : 0; }
int q_high(int g) { return g == 3 ? 0 : 1; }

// Whether a child's genes can come from its parents' (Mendelian taus, three
// of each parent's six polygenic alleles).
bool possible_child(Genes f, Genes m, Genes c) {
  const int qa = 3 - c.genotype;
  if (qa < q_low(f.genotype) + q_low(m.genotype) || qa > q_high(f.genotype) + q_high(m.genotype))
    return false;
  auto low = [](int plus) { return std::max(0, plus - 3); };
  auto high = [](int plus) { return std::min(3, plus); };
  const int pf = f.poly_class - 1, pm = m.poly_class - 1, pc = c.poly_class - 1;
  return pc >= low(pf) + low(pm) && pc <= high(pf) + high(pm);
}

// Founders' genotypes and the children of two heterozygotes, counted.
struct Counts {
  double founders = 0, founder_g[4] = {}, het_children = 0, het_g[4] = {};
  int impossible = 0;
};

// Every child of the tables' nuclear lists against its parents; `breaker`
// maps a loop copy's global number to its breaker's.
Counts count_tables(const PedigreeTables& ped, const std::vector<Genes>& g,
                    const std::map<int, int>& breaker = {}) {
  Counts c;
  std::vector<char> child(static_cast<size_t>(ped.NIND) + 1, 0);
  auto resolve = [&](int i) {
    const auto b = breaker.find(i);
    return b == breaker.end() ? i : b->second;
  };
  for (int f = 1; f <= ped.PED_START[0]; ++f)
    for (int j = ped.PED_NUC[f] + 1; j <= ped.PED_NUC[f + 1]; ++j) {
      const int s = ped.PED_START[f];
      const Genes fa = g[resolve(s + ped.NUC_MEMBERS[ped.NUC_START[j]])];
      const Genes mo = g[resolve(s + ped.NUC_MEMBERS[ped.NUC_START[j] + 1])];
      for (int q = ped.NUC_START[j] + 2; q < ped.NUC_START[j + 1]; ++q) {
        const int x = s + ped.NUC_MEMBERS[q];
        if (child[x]) continue;
        child[x] = 1;
        c.impossible += possible_child(fa, mo, g[x]) ? 0 : 1;
        if (fa.genotype == 2 && mo.genotype == 2) {
          ++c.het_children;
          ++c.het_g[g[x].genotype];
        }
      }
    }
  for (int i = 1; i <= ped.NIND; ++i)
    if (!child[i] && breaker.count(i) == 0) {
      ++c.founders;
      ++c.founder_g[g[i].genotype];
    }
  return c;
}

// On the structures of a pedsim sample, the simulation draws what pedsim
// drew for it: Hardy-Weinberg founders and Mendelian children, at the same
// frequencies; it keeps the missing pattern and changes every measured value.
TEST(SimulateTraits, SameGeneticsAsPedsimOnItsStructures) {
  SimOptions o;
  o.families = 600;
  o.child_min = 3;
  o.child_max = 6;
  o.generations = 3;
  o.spouses = true;
  o.missing_rate = 0.2;
  o.seed = 11;
  SimParams p;
  p.q = 0.3;
  p.mean[1] = 14.0;
  const std::vector<SimFamily> fams = simulate(o, p);
  Counts own;
  for (const SimFamily& fam : fams)
    for (const SimPerson& x : fam.people) {
      if (x.father < 0) {
        ++own.founders;
        ++own.founder_g[x.genotype];
      } else if (fam.people[x.father].genotype == 2 && fam.people[x.mother].genotype == 2) {
        ++own.het_children;
        ++own.het_g[x.genotype];
      }
    }
  const toolstest::Converted conv = toolstest::convert(pedfile_text(fams, o));
  ASSERT_TRUE(conv.problems.empty()) << toolstest::all_problems(conv.problems);
  const std::unique_ptr<PedigreeTables> ped = toolstest::load(conv.out);
  const PedigreeLayout layout = build_layout(*ped);
  std::vector<float> trait(ped->TRAIT, ped->TRAIT + ped->NIND + 1);
  std::vector<Genes> genes;
  simulate_traits(*ped, layout, p, 3, trait.data(), &genes);
  const Counts sim = count_tables(*ped, genes);
  EXPECT_EQ(sim.impossible, 0);
  EXPECT_EQ(sim.founders, own.founders);
  for (int g = 1; g <= 3; ++g) {
    const double a = sim.founder_g[g] / sim.founders, b = own.founder_g[g] / own.founders;
    EXPECT_NEAR(a, b, 5 * std::sqrt(2 * b * (1 - b) / own.founders)) << g;
    const double h = sim.het_g[g] / sim.het_children, k = own.het_g[g] / own.het_children;
    EXPECT_NEAR(h, k, 5 * std::sqrt(k * (1 - k) / own.het_children + h * (1 - h) / sim.het_children))
        << g;
  }
  int changed = 0, measured = 0;
  for (int i = 1; i <= ped->NIND; ++i) {
    ASSERT_EQ(trait_missing(trait[i]), trait_missing(ped->TRAIT[i])) << i;
    if (trait_missing(trait[i])) continue;
    ++measured;
    changed += trait[i] != ped->TRAIT[i] ? 1 : 0;
    // Genotype 1's mean stands 4 above the others: its values show it.
    if (genes[i].genotype == 1) {
      EXPECT_GT(trait[i], 5.0f) << i;
    }
  }
  EXPECT_GT(measured, 0);
  EXPECT_EQ(changed, measured);
}

// With loops: a copy carries its breaker's genes and keeps its missing
// trait, children of a copy descend from the breaker, and a seed gives the
// same traits every time.
TEST(SimulateTraits, LoopCopiesCarryTheirBreakers) {
  const std::filesystem::path input =
      std::filesystem::path(__FILE__).parent_path().parent_path() / "cases" / "loops" / "input";
  auto sample = std::make_unique<SampleTables>();
  std::string diag;
  OutputFile d = output_memory(diag, "diagnostics");
  load_sample(*sample, input.string(), d, "test");
  ASSERT_FALSE(sample->loops.empty());
  const PedigreeTables& ped = *sample->ped;
  SimParams p;
  p.q = 0.5;
  std::map<int, int> breaker;
  for (const LoopCopy& c : sample->loops) breaker[c.copy] = c.person;
  std::vector<float> a(ped.TRAIT, ped.TRAIT + ped.NIND + 1), b = a, c = a;
  std::vector<Genes> genes;
  int impossible = 0;
  for (uint64_t seed = 1; seed <= 200; ++seed) {
    std::vector<float> t = a;
    simulate_traits(ped, sample->layout, p, seed, t.data(), &genes);
    for (const auto& [copy, person] : breaker) {
      EXPECT_EQ(genes[copy].genotype, genes[person].genotype);
      EXPECT_EQ(genes[copy].poly_class, genes[person].poly_class);
      EXPECT_EQ(t[copy], ped.TRAIT[copy]);
    }
    impossible += count_tables(ped, genes, breaker).impossible;
  }
  EXPECT_EQ(impossible, 0);
  simulate_traits(ped, sample->layout, p, 5, b.data());
  simulate_traits(ped, sample->layout, p, 5, c.data());
  EXPECT_EQ(b, c);
  simulate_traits(ped, sample->layout, p, 6, c.data());
  EXPECT_NE(b, c);
}

}  // namespace
