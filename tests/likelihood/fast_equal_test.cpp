// The likelihood engine against the plain family loop: every family term,
// every floor decision and the total must be the same bits, on random
// pedigrees, at ordinary and extreme parameter points, with any number of
// threads, and with several engines in one process.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "likelihood/engine.h"
#include "likelihood/plan.h"
#include "likelihood/lik_fixture.h"
#include "likelihood/loop_pedigrees.h"

namespace {

using pedseg::FAMILY_TERM_PLAIN;
using pedseg::Transform;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Identical bits; any two NaNs count as equal, since the sign and payload of
// a NaN depend on operand order that the compiler may swap in either loop
// (a NaN term or total never reaches an output: the total becomes the
// impossible-point value).
bool same_bits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string bits(double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", a);
  return buf;
}

// Compares an engine with 1, 2 and 3 threads against the plain loop on the
// tables and loops of `t`: `engine` when given (built on these tables, so
// that work kept from its earlier evaluations is exercised), otherwise a new
// one.
// `expect_plain` is the number of families that must go to the plain code
// (so that the comparison really exercises the kernels).
void expect_same(liktest::Tables& t, const std::string& what, int expect_plain = 0,
                 pedseg::LikelihoodEngine* engine = nullptr) {
  std::unique_ptr<pedseg::LikelihoodEngine> own;
  const pedseg::PedigreeTables& ped = *t.ped;
  const pedseg::PedigreeLayout layout = pedseg::build_layout(ped, t.loops);
  if (engine == nullptr) {
    own = std::make_unique<pedseg::LikelihoodEngine>(ped, layout, t.poly, 1);
    engine = own.get();
  }
  const int nfam = ped.PED_START[0];
  std::vector<double> terms(nfam + 1, 0.0);
  std::vector<bool> hits(nfam + 1, false);
  for (int f = 1; f <= nfam; ++f) {
    if (ped.PED_WEIGHT[f] == 0.0 || ped.PED_START[f + 1] - ped.PED_START[f] <= 0) continue;
    bool hit = false;
    FAMILY_TERM_PLAIN(f, layout, ped, t.model, t.poly, *t.work, terms[f], hit);
    hits[f] = hit;
  }
  const double plain = liktest::families_loglik(t);
  for (int threads : {1, 2, 3}) {
    engine->set_threads(threads);
    const double fast = engine->families_loglik(t.model);
    ASSERT_TRUE(same_bits(fast, plain))
        << what << ", " << threads << " threads: " << bits(fast) << " vs " << bits(plain);
    EXPECT_EQ(engine->plain_families(), expect_plain) << what;
    for (int f = 1; f <= nfam; ++f) {
      if (ped.PED_WEIGHT[f] == 0.0) continue;
      ASSERT_EQ(engine->family_floor(f), hits[f]) << what << ", family " << f;
      if (hits[f]) continue;
      ASSERT_TRUE(same_bits(engine->family_term(f), terms[f]))
          << what << ", family " << f << ", " << threads << " threads: "
          << bits(engine->family_term(f)) << " vs " << bits(terms[f]);
    }
  }
}

std::vector<bf::Structure> random_sample(std::mt19937& rng, int nfam, int max_people) {
  bf::GenOptions opt;
  opt.max_people = max_people;
  std::vector<bf::Structure> fams;
  for (int f = 0; f < nfam; ++f) fams.push_back(bf::random_structure(rng, opt));
  return fams;
}

// The program's model at a parameter point: Mendelian or tau transmission.
bf::Model program_model(double q, double spike, double mean_gap, double poly, double var,
                        const double* taus) {
  bf::Model m;
  bf::fill_polygenic(m);
  m.freq[1] = q * q;
  m.freq[2] = 2.0 * q * (1.0 - q);
  m.freq[3] = (1.0 - q) * (1.0 - q);
  for (int g = 1; g <= 3; ++g) {
    m.spike[g] = spike * g;
    m.mean[g] = mean_gap * (2 - g);
  }
  m.poly_effect = poly;
  m.res_var = var;
  if (taus) {
    bf::fill_major_from_taus(m, taus[0], taus[1], taus[2]);
  } else {
    bf::fill_major_from_taus(m, 1.0, 0.5, 0.0);
  }
  return m;
}

class FastEqual : public ::testing::Test {
 protected:
  void SetUp() override {
    pedseg::BUILD_TRANS_POLY(t.poly);
    pedseg::BUILD_POLY_PRIOR(t.poly);
  }
  void use(const bf::Model& m) {
    bf::model_to_tables(m, t.model, t.poly);
    pedseg::BUILD_TRANS_POLY(t.poly);  // the program's own class table
    pedseg::BUILD_POLY_PRIOR(t.poly);
  }
  liktest::Tables t;
};

// Random models with asymmetric tables and zero entries (every index role
// and product order shows), on random pedigrees of every shape.
TEST_F(FastEqual, RandomPedigreesRandomTables) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 40; ++round) {
    const auto fams = random_sample(rng, 1 + round % 7, 2 + round % 25);
    bf::put_families(fams, *t.ped);
    bf::Model m = bf::random_model(rng, round % 2 == 0);
    if (round % 3 == 0) bf::symmetrise(m);
    bf::model_to_tables(m, t.model, t.poly);
    expect_same(t, "round " + std::to_string(round));
  }
}

// The program's model at ordinary and extreme points: spikes, missing
// values, taus 0, 1 and outside [0, 1], no polygenic effect, variances that
// make every density vanish or overflow, impossible frequencies.
struct Point {
  double q, spike, gap, poly, var;
  const double* taus;
};

std::vector<Point> extreme_points() {
  static const double mendel[3] = {1.0, 0.5, 0.0};
  static const double free1[3] = {0.9, 0.4, 0.05};
  static const double outside[3] = {1.3, -0.2, 0.5};
  static const double edges[3] = {0.0, 1.0, 1.0};
  static const double nan_tau[3] = {kNaN, 0.5, 0.0};
  return {
      {0.3, 0.02, 1.0, 0.2, 0.8, mendel},    {0.3, 0.02, 1.0, 0.2, 0.8, free1},
      {0.3, 0.0, 1.0, 0.0, 0.8, outside},    {0.5, 0.1, 2.0, 0.3, 1.5, edges},
      {0.0, 0.0, 1.0, 0.2, 0.8, mendel},     {1.0, 0.3, 1.0, 0.2, 0.8, free1},
      {0.3, 0.02, 1.0, 0.2, 1e-300, mendel}, {0.3, 0.02, 1.0, 0.2, 1e-310, mendel},
      {0.3, 0.02, 1.0, 0.2, 1e300, free1},   {0.3, 0.02, 1e200, 1e300, 0.8, mendel},
      {0.3, 0.4, 1.0, 0.2, 0.8, mendel},     {0.3, -0.5, 1.0, 0.2, 0.8, outside},
      {0.3, 0.02, 1.0, 0.2, 0.0, mendel},    {0.3, 0.02, 1.0, 0.2, -1.0, mendel},
      {0.3, 0.02, 1.0, kInf, 0.8, mendel},   {0.3, 0.02, 1.0, 0.2, 0.8, nan_tau},
      {0.3, 0.02, kNaN, 0.2, 0.8, mendel},   {0.3, 0.02, 1.0, 0.2, 1e-3, free1},
  };
}

TEST_F(FastEqual, ExtremeParameterPoints) {
  std::mt19937 rng(99);
  const auto fams = random_sample(rng, 12, 18);
  bf::put_families(fams, *t.ped);
  int i = 0;
  for (const Point& p : extreme_points()) {
    use(program_model(p.q, p.spike, p.gap, p.poly, p.var, p.taus));
    expect_same(t, "point " + std::to_string(i++));
  }
}

// Families with loops (every way of cutting them, traits with spikes and
// missing values) among families without, at the same points and at random
// tables with zeros: the shared work and the joint states give the plain
// bits.  A family whose lists use a member before the list that targets it
// goes to the plain code.
TEST_F(FastEqual, FamiliesWithLoops) {
  std::mt19937 rng(71);
  std::vector<bf::Structure> fams = random_sample(rng, 4, 12);
  for (int round = 0; round < 2; ++round) {
    std::vector<float> y(11);
    for (float& v : y) v = bf::random_trait(rng);
    for (const auto& cuts : {looptest::half_sibs(y), looptest::first_cousins(y),
                             looptest::double_first_cousins(y)})
      for (const looptest::Cut& c : cuts) fams.push_back(c.s);
  }
  bf::Structure out_of_order = looptest::first_cousins(std::vector<float>(11, 0.5f))[0].s;
  out_of_order.pivots[0] = 9;  // list 1 uses 7, which list 2 then targets
  out_of_order.pivots[1] = 7;
  fams.push_back(out_of_order);
  bf::put_families(fams, *t.ped);
  t.loops = bf::loops_of(fams);
  int i = 0;
  for (const Point& p : extreme_points()) {
    use(program_model(p.q, p.spike, p.gap, p.poly, p.var, p.taus));
    expect_same(t, "point " + std::to_string(i++), 1);
  }
  for (int round = 0; round < 6; ++round) {
    bf::Model m = bf::random_model(rng, round % 2 == 0);
    if (round % 3 == 0) bf::symmetrise(m);
    bf::model_to_tables(m, t.model, t.poly);
    expect_same(t, "random tables " + std::to_string(round), 1);
  }
}

// Trait values the reader can deliver: exactly -998, 998, spikes, infinite
// and not-a-number values (a NaN density spreads through the peeling).
TEST_F(FastEqual, OddTraitValues) {
  std::mt19937 rng(5);
  auto fams = random_sample(rng, 10, 14);
  const float odd[] = {-998.0f, 998.0f, 998.5f, -997.5f, std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN(), 1e30f};
  int n = 0;
  for (auto& s : fams)
    for (float& v : s.traits)
      if (++n % 3 == 0) v = odd[n % 8];
  bf::put_families(fams, *t.ped);
  const double mendel[3] = {1.0, 0.5, 0.0};
  use(program_model(0.3, 0.05, 1.0, 0.2, 0.8, mendel));
  expect_same(t, "odd traits");
}

// The penetrances kept between evaluations of one engine follow every move
// of the parameters; an engine built on changed tables follows the traits
// and the structure.
TEST_F(FastEqual, KeptWorkFollowsChanges) {
  std::mt19937 rng(31);
  const double mendel[3] = {1.0, 0.5, 0.0};
  const double free1[3] = {0.8, 0.45, 0.1};
  auto fams = random_sample(rng, 8, 16);
  bf::put_families(fams, *t.ped);
  use(program_model(0.3, 0.05, 1.0, 0.2, 0.8, mendel));
  pedseg::LikelihoodEngine engine(*t.ped, t.poly, 1);
  expect_same(t, "start", 0, &engine);
  // Only q and the taus move: penetrances are reused.
  use(program_model(0.35, 0.05, 1.0, 0.2, 0.8, free1));
  expect_same(t, "q and taus", 0, &engine);
  // One trait parameter moves.
  use(program_model(0.35, 0.05, 1.0, 0.2, 0.81, free1));
  expect_same(t, "variance", 0, &engine);
  use(program_model(0.35, 0.05, 1.0, 0.25, 0.81, free1));
  expect_same(t, "polygenic effect", 0, &engine);
  // One genotype's mean, then one genotype's spike probability.
  t.model.GEN_MEAN[2] += 0.125;
  expect_same(t, "mean of genotype 2", 0, &engine);
  t.model.SPIKE_PROB[3] = 0.2;
  expect_same(t, "spike probability of genotype 3", 0, &engine);
  t.model.GEN_MEAN[1] -= 0.25;
  t.model.SPIKE_PROB[1] = 0.0;
  expect_same(t, "genotype 1", 0, &engine);
  // A trait value changes in place (a new engine from here on).
  t.ped->TRAIT[3] = t.ped->TRAIT[3] + 0.5f;
  expect_same(t, "trait");
  // A different sample in the same tables.
  fams = random_sample(rng, 9, 20);
  bf::put_families(fams, *t.ped);
  expect_same(t, "new sample");
  // A weight set to 0 drops the family.
  t.ped->PED_WEIGHT[2] = 0.0;
  expect_same(t, "weight 0");
  // A pivot changed in place.
  int j = 0;
  for (int k = 1; k <= t.ped->PED_NUC[t.ped->PED_START[0] + 1]; ++k)
    if (t.ped->NUC_PIVOT[k] != 0) j = k;
  if (j > 0) {
    t.ped->NUC_PIVOT[j] = 0;
    expect_same(t, "pivot");
  }
}

// Member lists the kernels do not take go to the plain code, and the rest
// of the sample still comes from the kernels.
TEST_F(FastEqual, IrregularListsUseThePlainCode) {
  const double mendel[3] = {1.0, 0.5, 0.0};
  use(program_model(0.3, 0.05, 1.0, 0.2, 0.8, mendel));
  std::vector<bf::Structure> fams = {
      // a child pivot at position 4
      {{0.1f, 0.5f, 1.2f, -0.3f, 0.8f}, {{1, 2, 3, 4, 5}}, {4}},
      // a parent listed twice as both parents (the target is its own partner)
      {{0.1f, 0.5f, 1.2f}, {{1, 1, 2, 3}}, {0}},
      // regular: trio peeled onto the child, then a loose individual
      {{0.1f, 0.5f, 1.2f, 2.0f}, {{1, 2, 3}}, {3}},
      // regular: child with siblings
      {{0.1f, 0.5f, 1.2f, 2.0f, 0.7f}, {{1, 2, 3, 4, 5}}, {3}},
  };
  bf::put_families(fams, *t.ped);
  expect_same(t, "irregular", 2);
}

// Families without individuals, with no measured value (weight 0) and a
// sample of no family.
TEST_F(FastEqual, EmptyFamiliesAndSamples) {
  const double mendel[3] = {1.0, 0.5, 0.0};
  use(program_model(0.3, 0.05, 1.0, 0.2, 0.8, mendel));
  std::vector<bf::Structure> fams = {
      {{0.1f, 0.5f, 1.2f}, {{1, 2, 3}}, {0}},
      {{-999.0f, -999.0f}, {{1, 2}}, {0}},
      {{0.4f}, {}, {}},
  };
  bf::put_families(fams, *t.ped);
  // A family of no individuals with a weight: its term is 0.
  t.ped->PED_WEIGHT[2] = 1.0;
  t.ped->PED_START[3] = t.ped->PED_START[2];
  for (int i = t.ped->PED_START[3] + 1; i <= t.ped->PED_START[4]; ++i) t.ped->TRAIT[i] = 0.4f;
  t.ped->PED_NUC[2] = t.ped->PED_NUC[3] = 1;
  expect_same(t, "empty family");
  std::vector<bf::Structure> none;
  bf::put_families(none, *t.ped);
  expect_same(t, "no family");
}

// The floor: a loose individual in the spike with spike probability 0 makes
// the whole sample impossible, whichever family it is in.
TEST_F(FastEqual, FloorInAnyFamily) {
  const double mendel[3] = {1.0, 0.5, 0.0};
  bf::Model m = program_model(0.3, 0.0, 1.0, 0.2, 0.8, mendel);
  std::vector<bf::Structure> fams = {
      {{0.1f, 0.5f, 1.2f}, {{1, 2, 3}}, {0}},
      {{0.2f, 0.3f, 0.9f, 999.5f}, {{1, 2, 3}}, {0}},
      {{0.4f}, {}, {}},
  };
  bf::put_families(fams, *t.ped);
  use(m);
  expect_same(t, "floor");
  pedseg::LikelihoodEngine engine(*t.ped, t.poly);
  EXPECT_EQ(engine.families_loglik(t.model), pedseg::LH_SENTINEL);
  EXPECT_TRUE(engine.family_floor(2));
}

// Larger families (up to 60 people) exercise long sibling lists and deep
// chains; several threads take families in any order.
TEST_F(FastEqual, LargerFamiliesManyThreads) {
  std::mt19937 rng(777);
  const auto fams = random_sample(rng, 30, 60);
  bf::put_families(fams, *t.ped);
  const double free1[3] = {0.95, 0.5, 0.02};
  use(program_model(0.25, 0.03, 1.5, 0.25, 0.6, free1));
  expect_same(t, "large");
}

// Summing out the unmeasured (the denominator of a conditioned likelihood)
// gives the full peeling's terms up to rounding, under general taus, with
// few members measured, some at a threshold, and families with loops (which
// stay whole); and it does take members out.
TEST_F(FastEqual, SummingOutTheUnmeasured) {
  std::mt19937 rng(404);
  std::vector<bf::Structure> fams = random_sample(rng, 30, 40);
  std::vector<float> y(11);
  for (float& v : y) v = bf::random_trait(rng);
  fams.push_back(looptest::first_cousins(y)[0].s);
  bf::put_families(fams, *t.ped);
  t.loops = bf::loops_of(fams);
  const pedseg::PedigreeLayout layout = pedseg::build_layout(*t.ped, t.loops);
  pedseg::TraitData data = pedseg::build_trait_data(*t.ped, {}, 0, Transform::None, 0.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (size_t i = 1; i < data.use.size(); ++i) {
    const double r = u(rng);
    if (r < 0.8) data.use[i] = pedseg::TraitUse::Missing;
    if (r > 0.95) data.use[i] = pedseg::TraitUse::Threshold, data.y[i] = 0.5;
  }
  pedseg::TraitView view;
  pedseg::set_view(data, nullptr, 0.0, view);
  const auto kids = [&](pedseg::Peeling how) {
    return pedseg::build_plan(*t.ped, layout, &view, how).kids.size();
  };
  EXPECT_LT(2 * kids(pedseg::Peeling::SumOutUnmeasured), kids(pedseg::Peeling::Full));
  pedseg::LikelihoodEngine full(*t.ped, layout, t.poly, view, 1);
  pedseg::LikelihoodEngine summed(*t.ped, layout, t.poly, view, 2,
                                  pedseg::Peeling::SumOutUnmeasured);
  for (int round = 0; round < 6; ++round) {
    use(bf::random_model(rng, round % 2 == 0));
    const double a = full.families_loglik(t.model), b = summed.families_loglik(t.model);
    EXPECT_TRUE(liktest::close(a, b, 1e-12)) << round << ": " << bits(a) << " vs " << bits(b);
    for (int f = 1; f <= t.ped->NFAM; ++f)
      ASSERT_TRUE(liktest::close(full.family_term(f), summed.family_term(f), 1e-12))
          << round << ", family " << f;
  }
}

}  // namespace

namespace {

// The program's class tables and a random sample of families.
void fill(liktest::Tables& t, std::mt19937& rng, int nfam, int max_people) {
  pedseg::BUILD_TRANS_POLY(t.poly);
  pedseg::BUILD_POLY_PRIOR(t.poly);
  bf::put_families(random_sample(rng, nfam, max_people), *t.ped);
}

// Sets an environment variable for one scope and restores it afterwards,
// also when an assertion ends the test early.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  void set(const char* value) { setenv(name_, value, 1); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The thread count of an engine: OMP_NUM_THREADS when it is a positive
// number, otherwise every core; an explicit setting wins; never more threads
// than families.
TEST(EngineThreads, CountFromEnvironmentAndSetting) {
  liktest::Tables t;
  std::mt19937 rng(8);
  fill(t, rng, 6, 8);
  ScopedEnv env("OMP_NUM_THREADS", "3");
  pedseg::LikelihoodEngine engine(*t.ped, t.poly);
  EXPECT_EQ(engine.threads(), 3);
  env.set("nonsense");
  engine.set_threads(0);
  const int cores = std::min(engine.threads(), 6);
  EXPECT_GE(cores, 1);
  env.set("0");
  engine.set_threads(0);
  EXPECT_EQ(engine.threads(), cores);
  engine.set_threads(5);
  EXPECT_EQ(engine.threads(), 5);
  engine.set_threads(50);
  EXPECT_EQ(engine.threads(), 6);
}

// Two engines on two pedigrees in one process, evaluated in turn at moving
// points: each gives the bits of the plain loop on its own tables.
TEST(EngineThreads, TwoEnginesDoNotDisturbEachOther) {
  liktest::Tables a, b;
  std::mt19937 rng(61);
  fill(a, rng, 9, 14);
  fill(b, rng, 7, 20);
  pedseg::LikelihoodEngine ea(*a.ped, a.poly, 2), eb(*b.ped, b.poly, 1);
  const double mendel[3] = {1.0, 0.5, 0.0};
  for (int i = 0; i < 6; ++i) {
    liktest::Tables& t = i % 2 == 0 ? a : b;
    pedseg::LikelihoodEngine& e = i % 2 == 0 ? ea : eb;
    bf::Model m = program_model(0.2 + 0.05 * i, 0.02, 1.0 + 0.1 * (i / 2), 0.2, 0.8, mendel);
    bf::model_to_tables(m, t.model, t.poly);
    pedseg::BUILD_TRANS_POLY(t.poly);
    pedseg::BUILD_POLY_PRIOR(t.poly);
    const double fast = e.families_loglik(t.model);
    const double plain = liktest::families_loglik(t);
    ASSERT_TRUE(same_bits(fast, plain)) << "evaluation " << i << ": " << bits(fast) << " vs "
                                        << bits(plain);
  }
}

// SAMPLE_LOGLIK gives the same bits with either family loop, through the
// mapping, over a sequence of points like a search's.
TEST(EngineDispatch, SampleLoglikSameWithEitherLoop) {
  liktest::Tables t;
  std::mt19937 rng(4242);
  fill(t, rng, 20, 15);
  pedseg::LikelihoodEngine engine(*t.ped, t.poly);
  pedseg::ParamTable par;
  const double v[13] = {0, 0.3, 0.05, 0.1, 0.2, -0.5, 0.4, 1.3, 1.0, 0.5, 0.0, 0.35, 0.8};
  liktest::set_params(par, v);
  par.PAR_EST[1] = par.PAR_EST[5] = par.PAR_EST[8] = par.PAR_EST[12] = 1;
  std::string err_text;
  pedseg::OutputFile err = pedseg::output_memory(err_text, "par.err");
  pedseg::LikelihoodContext ctx{par, t.model, t.poly, *t.ped, *t.work, err, 1};
  std::uniform_real_distribution<double> step(-0.05, 0.05);
  for (int i = 0; i < 12; ++i) {
    const int slot = std::array<int, 4>{1, 5, 8, 12}[i % 4];
    par.PAR_VAL[slot] += step(rng);
    double plain = 0.0, fast = 0.0;
    ctx.engine = nullptr;
    pedseg::SAMPLE_LOGLIK(ctx, plain);
    ctx.engine = &engine;
    pedseg::SAMPLE_LOGLIK(ctx, fast);
    ASSERT_TRUE(same_bits(fast, plain)) << "step " << i << ": " << bits(fast) << " vs "
                                        << bits(plain);
    EXPECT_LT(fast, 0.0);
    // The engine's own objective: the search mapping, then the same loop.
    pedseg::ParamTable copy = par;
    pedseg::ModelQuantities model;
    ASSERT_TRUE(same_bits(engine.sample_loglik(copy, model), plain)) << "step " << i;
  }
}

}  // namespace
