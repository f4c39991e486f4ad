// The converted files give the right likelihood: the program's ln LH on
// ped2iway's output equals the enumeration over every genotype and class
// assignment on small pedigrees, and does not depend on the order of the
// lines of the pedigree file on large ones.

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "likelihood/brute_force.h"
#include "likelihood/likelihood.h"
#include "tools/pedsim.h"
#include "tools_fixture.h"

namespace {

using namespace toolstest;

struct Program {
  std::unique_ptr<pedseg::PedigreeTables> ped;
  std::unique_ptr<pedseg::LikWork> work = std::make_unique<pedseg::LikWork>();
  pedseg::ParamTable par;
  pedseg::ModelQuantities model;
  pedseg::PolyTables poly;
  std::string errs;
  pedseg::OutputFile par_err = pedseg::output_memory(errs, "par.err");

  Program(const IwayOutput& out, const double* v) : ped(load(out)) {
    pedseg::BUILD_TRANS_POLY(poly);
    pedseg::BUILD_POLY_PRIOR(poly);
    par.NPAR = pedseg::NPAR_USED;
    for (int i = 1; i <= pedseg::NPAR_USED; ++i) {
      par.PAR_LINK[i] = i;
      par.PAR_EST[i] = 0;
      par.PAR_VAL[i] = v[i];
      par.PAR_LOW[i] = -1000.0;
      par.PAR_HIGH[i] = 1000.0;
    }
  }
  double loglik() {
    pedseg::LikelihoodContext ctx{par, model, poly, *ped, *work, par_err, -1};
    double LL = 0.0;
    pedseg::SAMPLE_LOGLIK(ctx, LL);
    return LL;
  }
};

// The families as the enumeration wants them: local numbers of the parents,
// taken from the pedigree through the id map (not from the member lists).
std::vector<bf::Family> families_of(const PedData& data, const IwayOutput& out,
                                    const pedseg::PedigreeTables& ped) {
  std::vector<bf::Family> fams;
  for (int f = 1; f <= out.PED_START[0]; ++f) {
    const auto& fam = data.families[f - 1];
    const int n = out.PED_START[f + 1] - out.PED_START[f];
    std::map<std::string, int> local;
    for (int p = 1; p <= n; ++p) local[out.ids[out.PED_START[f] + p].individual] = p;
    bf::Family b;
    b.people.resize(n);
    for (int p = 1; p <= n; ++p) b.people[p - 1].trait = ped.TRAIT[out.PED_START[f] + p];
    for (const auto& person : fam.people)
      if (person.father >= 0) {
        b.people[local[person.id] - 1].first = local[fam.people[person.father].id];
        b.people[local[person.id] - 1].second = local[fam.people[person.mother].id];
      }
    fams.push_back(b);
  }
  return fams;
}

bool close(double a, double b, double rel) {
  return std::fabs(a - b) <= rel * std::max(1.0, std::fabs(b));
}

TEST(ConvertedLikelihood, EqualsEnumerationOnSmallPedigrees) {
  std::mt19937 rng(7);
  // q, spike probabilities, means, taus (fixed: Mendelian), polygenic effect,
  // residual variance.
  const double v[13] = {0, 0.3, 0.05, 0.2, 0.4, 11.0, 9.5, 8.0, 1, 0.5, 0, 0.8, 2.0};
  int compared = 0;
  for (int round = 0; round < 120; ++round) {
    RandOptions o;
    o.max_people = 5;
    o.missing = 0.3;
    o.spike = 0.1;
    std::string text = random_pedfile(rng, 1 + round % 3, o);
    PedOptions opt;
    opt.fix_parents = round % 2 == 1;
    auto c = convert(text, opt);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems) << text;
    bool small = true;
    for (const auto& fam : c.data.families) small = small && fam.people.size() <= 6;
    if (!small) continue;
    Program prog(c.out, v);
    const double got = prog.loglik();
    const bf::Model m = bf::model_from_params(v, false);
    const double want = bf::sample_loglik(families_of(c.data, c.out, *prog.ped), m);
    ASSERT_TRUE(close(got, want, 1e-12)) << got << " vs " << want << "\n" << text;
    ++compared;
  }
  EXPECT_GT(compared, 60);
}

// Larger pedigrees, kept cheap to enumerate by spike values: with a spike
// probability only for genotype 3, a spike individual has 7 states, not 21.
TEST(ConvertedLikelihood, EqualsEnumerationOnExtendedPedigrees) {
  const double v[13] = {0, 0.3, 0.0, 0.0, 0.4, 11.0, 10.0, 9.0, 1, 0.5, 0, 0.6, 1.5};
  const char* const cases[] = {
      // The husband's parents' family is reached through him, a child who
      // must stand before his sister; the wife's parents' family closes.
      "C w wf wm 2 8.7\nC sib gf gm 2 1000\nC s gf gm 1 10.3\nC k s w 1 1000\n"
      "C gf 0 0 1 999.5\nC gm 0 0 2 1000\nC wf 0 0 1 1000\nC wm 0 0 2 1000\n",
      // A man with two marriages, and a loose relative.
      "M s 0 0 1 10.3\nM w1 0 0 2 -999\nM k1 s w1 2 12.2\nM w2 0 0 2 8.7\n"
      "M k2 s w2 1 1000\nM aunt 0 0 2 1000\n"};
  for (const char* text : cases) {
    auto c = convert(text);
    ASSERT_TRUE(c.problems.empty()) << all_problems(c.problems);
    ASSERT_TRUE(check_structure(c.data, c.out).empty());
    Program prog(c.out, v);
    const double got = prog.loglik();
    const double want =
        bf::sample_loglik(families_of(c.data, c.out, *prog.ped), bf::model_from_params(v, false));
    EXPECT_TRUE(close(got, want, 1e-12)) << got << " vs " << want << "\n" << text;
  }
  // The first case does use a child pivot with a sibling behind it.
  auto c = convert(cases[0]);
  bool child_pivot = false;
  for (size_t j = 1; j < c.out.NUC_PIVOT.size(); ++j) {
    const int first = c.out.NUC_START[j];
    const int size = c.out.NUC_START[j + 1] - first;
    child_pivot = child_pivot || (size == 4 && c.out.NUC_PIVOT[j] == c.out.NUC_MEMBERS[first + 2]);
  }
  EXPECT_TRUE(child_pivot);
}

// The order of the lines changes the numbering, the roots and the pivots,
// never the likelihood.
TEST(ConvertedLikelihood, IndependentOfLineOrder) {
  std::mt19937 rng(99);
  const double v[13] = {0, 0.2, 0.0, 0.1, 0.3, 12.0, 10.0, 8.5, 1, 0.5, 0, 0.5, 2.5};
  for (int round = 0; round < 12; ++round) {
    RandOptions o;
    o.max_people = 40;
    std::string text = random_pedfile(rng, 8, o, false);
    std::vector<std::string> lines;
    for (size_t p = 0; p < text.size();) {
      size_t nl = text.find('\n', p);
      lines.push_back(text.substr(p, nl - p + 1));
      p = nl + 1;
    }
    auto c1 = convert(text);
    ASSERT_TRUE(c1.problems.empty()) << all_problems(c1.problems);
    const double l1 = Program(c1.out, v).loglik();
    ASSERT_TRUE(std::isfinite(l1));
    // Shuffle the lines within each family, keeping the families' order.
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
      return a.substr(0, a.find(' ')) < b.substr(0, b.find(' '));
    });
    for (size_t a = 0, b; a < lines.size(); a = b) {
      const std::string fam = lines[a].substr(0, lines[a].find(' '));
      for (b = a; b < lines.size() && lines[b].rfind(fam + " ", 0) == 0; ++b) {}
      std::shuffle(lines.begin() + static_cast<long>(a), lines.begin() + static_cast<long>(b), rng);
    }
    std::string shuffled;
    for (auto& l : lines) shuffled += l;
    auto c2 = convert(shuffled);
    ASSERT_TRUE(c2.problems.empty());
    const double l2 = Program(c2.out, v).loglik();
    EXPECT_TRUE(close(l1, l2, 1e-10)) << l1 << " vs " << l2;
  }
}

// A simulated three-generation sample gives the same ln LH whether the
// married-in spouses are in the file as unmeasured founders or are left
// unknown and added as dummies by --fix-parents.
TEST(ConvertedLikelihood, SpousesWrittenOrAddedAsDummies) {
  using namespace pedseg::tools;
  SimOptions o;
  o.families = 60;
  o.generations = 3;
  o.marry = 0.8;
  o.loose = 0.4;
  o.missing_rate = 0.1;
  o.seed = 4242;
  o.spouses = false;  // one marriage each: a dummy spouse stands for one spouse
  auto fams = simulate(o, SimParams{});
  PedOptions fix;
  fix.fix_parents = true;
  auto added = convert(pedfile_text(fams, o), fix);
  ASSERT_TRUE(added.problems.empty()) << all_problems(added.problems);
  EXPECT_GT(added.data.notes.size(), 20u);
  for (auto& f : fams)
    for (auto& p : f.people)
      if (!p.written) {
        p.written = true;
        p.missing = true;
      }
  auto with = convert(pedfile_text(fams, o));
  ASSERT_TRUE(with.problems.empty()) << all_problems(with.problems);
  ASSERT_EQ(with.out.ids.size(), added.out.ids.size());
  const double v[13] = {0, 0.2, 0.0, 0.0, 0.0, 12.0, 10.0, 8.0, 1, 0.5, 0, 0.5, 2.0};
  const double a = Program(with.out, v).loglik();
  const double b = Program(added.out, v).loglik();
  ASSERT_TRUE(std::isfinite(a));
  EXPECT_TRUE(close(a, b, 1e-10)) << a << " vs " << b;
}

}  // namespace
