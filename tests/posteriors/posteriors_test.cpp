// Genotype posteriors against the enumeration of every joint assignment, on
// random small pedigrees and parameter points (non-Mendelian transmission,
// spike values, families with no measured trait), by both methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "likelihood/brute_force.h"
#include "likelihood/loop_pedigrees.h"
#include "posteriors/posteriors.h"

namespace {

using pedseg::PosteriorMethod;

// A parameter point of the model with free transmission probabilities; a
// spike probability is sometimes 0, so that a spike value rules a genotype out.
bf::Model random_point(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  double v[13] = {0, 0.05 + 0.9 * u(rng), 0, 0, 0, 0, 0, 0, u(rng), u(rng), u(rng),
                  0.6 * u(rng), 0.3 + u(rng)};
  for (int g = 1; g <= 3; ++g) {
    v[1 + g] = u(rng) < 0.2 ? 0.0 : 0.3 * u(rng);
    v[4 + g] = -1.0 + 3.0 * u(rng);
  }
  return bf::model_from_params(v, true);
}

// Person p's genotype probabilities (1 to 3) and class mean from the
// enumeration's marginals.
struct Expected {
  double p[4] = {};
  double class_mean = 0.0;
};
template <class Marginals>
Expected expected_of(const Marginals& marg, size_t p) {
  Expected e;
  for (int g = 1; g <= 3; ++g)
    for (int k = 1; k <= 7; ++k) {
      e.p[g] += marg[p][(g - 1) * 7 + (k - 1)];
      e.class_mean += k * marg[p][(g - 1) * 7 + (k - 1)];
    }
  return e;
}

bool second_parent_target(const std::vector<bf::Structure>& fams) {
  for (const auto& s : fams)
    for (size_t j = 0; j < s.lists.size(); ++j)
      if (s.pivots[j] != 0 && s.pivots[j] != s.lists[j][0] && s.pivots[j] == s.lists[j][1])
        return true;
  return false;
}

TEST(Posteriors, RandomPedigreesMatchTheEnumeration) {
  std::mt19937 rng(77);
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  int unmeasured = 0, spikes = 0;
  // Families peeled through a person who is the target of two lists: the
  // first's information must reach the second's members and back.
  const std::vector<bf::Structure> chosen = {
      {{0.4f, 1.7f, 0.9f, 0.2f, -0.6f}, {{1, 2, 3}, {3, 4, 5}}, {3, 0}},
      {{0.4f, 1.7f, 0.9f, 0.2f, -0.6f}, {{1, 2, 3}, {1, 4, 5}}, {1, 0}},
      {{0.4f, 1.7f, 0.9f, 999.5f, -0.6f}, {{1, 2, 3}, {4, 2, 5}}, {2, 2}},
      {{0.4f, -999.0f, 0.9f, 0.2f, -0.6f}, {{1, 2, 3, 4}, {5, 3}}, {3, 3}}};
  for (int trial = 0; trial < 120; ++trial) {
    // Up to 5 people in one or two families, then single families of 5
    // without loose members, then the chosen ones.
    bf::GenOptions opt;
    opt.max_people = 5;
    opt.min_people = trial >= 80 ? 5 : 1;
    opt.allow_loose = trial < 80;
    std::vector<bf::Structure> fams;
    const int nfam = trial < 80 ? std::uniform_int_distribution<int>(1, 2)(rng) : 1;
    for (int f = 0; f < nfam; ++f) fams.push_back(bf::random_structure(rng, opt));
    if (trial >= 120 - static_cast<int>(chosen.size())) fams = {chosen[119 - trial]};
    if (trial % 7 == 0)
      for (float& y : fams[0].traits) y = -999.0f;
    // Tables not symmetric in the parents stress the parents' roles; the
    // likelihood reads a second-parent target in the first-parent index,
    // which is the model only for symmetric tables.
    bf::Model m = trial % 2 == 0 ? random_point(rng) : bf::random_model(rng, trial % 4 == 1);
    if (second_parent_target(fams)) bf::symmetrise(m);
    pedseg::ModelQuantities q;
    pedseg::PolyTables poly;
    bf::model_to_tables(m, q, poly);
    bf::put_families(fams, *ped);
    for (PosteriorMethod method : {PosteriorMethod::outward, PosteriorMethod::repeel}) {
      const pedseg::PosteriorTable got =
          pedseg::genotype_posteriors(*ped, pedseg::build_layout(*ped), poly, q, method);
      ASSERT_EQ(got.repeeled_families, 0);
      int start = 0, impossible = 0;
      for (const auto& s : fams) {
        const bf::Family fam = bf::family_of(s);
        if (!bf::has_measured(fam)) ++unmeasured;
        const auto marg = bf::family_marginals(fam, m);
        const bool zero = bf::family_likelihood(fam, m) == 0.0;
        impossible += zero;
        for (size_t p = 1; p <= s.traits.size() && zero; ++p)
          EXPECT_TRUE(std::isnan(got.ind[start + p].p[1]));
        for (size_t p = 1; p <= s.traits.size() && !zero; ++p) {
          if (s.traits[p - 1] > 998.0f) ++spikes;
          const pedseg::IndividualPosterior& r = got.ind[start + p];
          const Expected want = expected_of(marg, p);
          for (int g = 1; g <= 3; ++g)
            EXPECT_NEAR(r.p[g], want.p[g], 1e-10)
                << "trial " << trial << " person " << p << " g " << g;
          EXPECT_NEAR(r.p[1] + r.p[2] + r.p[3], 1.0, 1e-12);
          EXPECT_NEAR(r.class_mean, want.class_mean, 1e-9) << "trial " << trial << " person " << p;
        }
        start += static_cast<int>(s.traits.size());
      }
      EXPECT_EQ(got.impossible_families, impossible);
      ASSERT_FALSE(HasFailure()) << "trial " << trial;
    }
  }
  EXPECT_GT(unmeasured, 0);
  EXPECT_GT(spikes, 0);
}

// A family that the likelihood peels in an order the outward pass does not
// take (a listed member after one in no list) is re-peeled, and a family of
// likelihood 0 gets no numbers rather than wrong ones.
TEST(Posteriors, IrregularAndImpossibleFamilies) {
  std::mt19937 rng(5);
  bf::Model m = random_point(rng);
  m.spike[1] = m.spike[2] = m.spike[3] = 0.0;
  pedseg::ModelQuantities q;
  pedseg::PolyTables poly;
  bf::model_to_tables(m, q, poly);
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  bf::put_families({bf::Structure{{0.4f, 1.7f, 0.9f, 0.2f, -0.6f}, {{1, 2, 4, 5}}, {0}},
                    bf::Structure{{999.5f, 1.7f, 0.2f}, {{1, 2, 3}}, {0}}},
                   *ped);
  const pedseg::PosteriorTable got =
      pedseg::genotype_posteriors(*ped, pedseg::build_layout(*ped), poly, q);
  EXPECT_EQ(got.repeeled_families, 1);
  EXPECT_EQ(got.impossible_families, 1);
  const pedseg::PosteriorTable ref = pedseg::genotype_posteriors(*ped, pedseg::build_layout(*ped),
                                                                 poly, q, PosteriorMethod::repeel);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(got.ind[i].p[1], ref.ind[i].p[1]);
    EXPECT_NEAR(got.ind[i].p[1] + got.ind[i].p[2] + got.ind[i].p[3], 1.0, 1e-12);
  }
  for (int i = 6; i <= 8; ++i) EXPECT_TRUE(std::isnan(got.ind[i].p[2]));
}

// The half-sib mating, cut at the man or at a half-sib, by both methods:
// every person's numbers are those of the enumeration of the uncut pedigree,
// the copy has its person's, and posteriors.tsv leaves the copy out.
TEST(Posteriors, LoopsMatchTheEnumeration) {
  const std::vector<float> y = {0.4f, -999.0f, 1.6f, 999.5f, 0.9f, 2.1f};
  const double v[13] = {0, 0.35, 0.0, 0.1, 0.2, -0.5, 0.4, 1.3, 0.9, 0.6, 0.2, 0.3, 0.8};
  const bf::Model m = bf::model_from_params(v, true);
  pedseg::ModelQuantities q;
  pedseg::PolyTables poly;
  bf::model_to_tables(m, q, poly);
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  const auto cuts = looptest::half_sibs(y);
  const auto marg = bf::family_marginals(bf::family_of(cuts[0].s), m);
  for (const looptest::Cut& c : cuts) {
    bf::put_families({c.s}, *ped);
    const pedseg::PedigreeLayout layout = pedseg::build_layout(*ped, bf::loops_of({c.s}));
    for (PosteriorMethod method : {PosteriorMethod::outward, PosteriorMethod::repeel}) {
      const pedseg::PosteriorTable got = pedseg::genotype_posteriors(*ped, layout, poly, q, method);
      EXPECT_EQ(got.repeeled_families, 0);
      for (int p = 1; p <= 6; ++p) {
        const Expected want = expected_of(marg, static_cast<size_t>(p));
        for (int g = 1; g <= 3; ++g)
          EXPECT_NEAR(got.ind[p].p[g], want.p[g], 1e-12) << c.name << ", person " << p;
        EXPECT_NEAR(got.ind[p].class_mean, want.class_mean, 1e-11) << c.name << ", person " << p;
        EXPECT_EQ(got.ind[p].copy_of, 0);
      }
      const int person = c.s.copies[0].first;
      EXPECT_EQ(got.ind[7].copy_of, person);
      EXPECT_EQ(got.ind[7].p[1], got.ind[person].p[1]);
      EXPECT_EQ(got.ind[7].class_mean, got.ind[person].class_mean);
      const std::string tsv = pedseg::posteriors_tsv(*ped, got, {});
      EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), 7) << tsv;
      EXPECT_EQ(tsv.find("\n7\t"), std::string::npos) << tsv;
    }
  }
}

}  // namespace

namespace {

// posteriors.tsv: ids from idmap.dat where it has them, empty otherwise; a
// malformed id map is refused with its line.
TEST(Posteriors, TableWithIds) {
  std::mt19937 rng(8);
  pedseg::ModelQuantities q;
  pedseg::PolyTables poly;
  bf::model_to_tables(random_point(rng), q, poly);
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  bf::put_families({bf::Structure{{0.5f, -999.0f, 999.5f}, {{1, 2, 3}}, {0}}}, *ped);
  const auto ids = pedseg::read_idmap("# global number, family id, individual id\n1 F7 a\n3 F7 c\n", 3);
  const std::string tsv = pedseg::posteriors_tsv(
      *ped, pedseg::genotype_posteriors(*ped, pedseg::build_layout(*ped), poly, q), ids);
  std::istringstream in(tsv);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "individual\tfamily\tfamily_id\tindividual_id\ttrait\tp1\tp2\tp3\tclass_mean");
  EXPECT_EQ(lines[1].substr(0, 15), "1\t1\tF7\ta\t0.5\t0.");
  EXPECT_EQ(lines[2].substr(0, 7), "2\t1\t\t\t\t");
  EXPECT_EQ(lines[3].substr(0, 15), "3\t1\tF7\tc\t999.5\t");
  for (const char* bad : {"1 F7\n", "4 F7 d\n", "x F7 a\n", "1 F7 a b\n"})
    EXPECT_THROW(pedseg::read_idmap(bad, 3), std::invalid_argument) << bad;
}

}  // namespace
