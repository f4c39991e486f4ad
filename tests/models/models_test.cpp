// The model comparison: pedseg's own search as the screen of every start,
// the best known maxima of the example whichever models are chosen, the
// order nesting imposes, one labelling of the genotypes, standard errors and
// derived estimates against closed forms and profile likelihoods, the
// reference distributions, and the verdict on a simulated major gene.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "driver/run.h"
#include "models/cli.h"
#include "models/extras.h"
#include "models/models.h"
#include "models/starts.h"
#include "plot/xml_check.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"
#include "tools/ped2iway.h"
#include "tools/pedsim.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";

using ScratchDir = testsupport::ScratchDir;

void copy_example() {
  for (const char* f : {"par.inp", "iway.dat", "trait.dat"}) fs::copy_file(EXAMPLES / f, f);
}

struct Fitted {
  std::unique_ptr<SampleTables> sample = std::make_unique<SampleTables>();
  std::unique_ptr<Fitter> fitter;
  ModelsRun run;
  Fitted(const ModelsOptions& options, int32_t threads = 1) {
    std::string diag;
    OutputFile d = output_memory(diag, "diagnostics");
    load_sample(*sample, "", d, "test");
    fitter = std::make_unique<Fitter>(*sample, threads);
    run = run_models(*sample, *fitter, options);
  }
  const ModelResult& operator[](ModelKind k) const {
    const ModelResult* r = run.find(k);
    EXPECT_NE(r, nullptr);
    return *r;
  }
};

ModelsOptions options(std::vector<ModelKind> models, int starts, bool se) {
  ModelsOptions o;
  o.models = std::move(models);
  o.starts = starts;
  o.standard_errors = se;
  return o;
}

void expect_nesting(const Fitted& f) {
  using K = ModelKind;
  const std::pair<K, K> contains[] = {{K::General, K::Mixed},  {K::Mixed, K::Major},
                                      {K::Major, K::Sporadic}, {K::Mixed, K::Polygenic},
                                      {K::Polygenic, K::Sporadic}, {K::General, K::Environmental},
                                      {K::Environmental, K::Polygenic}};
  for (const auto& [big, small] : contains) {
    ASSERT_TRUE(f[big].fitted && f[small].fitted);
    EXPECT_GE(f[big].lnL, f[small].lnL) << model_name(big) << " below " << model_name(small);
  }
}

// The screen of every start is pedseg's search: on par.inp's own vector (the
// example's par.inp is the mixed model) it is pedseg's run, bit for bit.
TEST(Models, OneStartMixedIsPedsegsRun) {
  ScratchDir scratch("pedseg");
  copy_example();
  auto t = std::make_unique<RunTables>();
  std::string console, diagnostics;
  OutputFile con = output_memory(console, "console");
  OutputFile diag = output_memory(diagnostics, "diagnostics");
  run_analysis(*t, con, diag);
  for (const char* f : {"par.err", "max.dat", "sigma.dat"}) fs::remove(f);

  Fitted fit(options({ModelKind::Sporadic}, 0, false));
  ParamVector v = slot_params(fit.sample->par);
  const SearchRun run = fit.fitter->search(v, model_rule(ModelKind::Mixed));
  EXPECT_EQ(run.lnL, t->search.BEST_LH);
  EXPECT_EQ(run.evaluations, t->search.EVAL_COUNT);
  for (int i = 1; i <= NPAR_USED; ++i) EXPECT_EQ(v.value[i], t->par.PAR_VAL[i]) << i;
  // pedseg-models leaves pedseg's files alone.
  for (const char* f : {"par.err", "max.dat", "sigma.dat"}) EXPECT_FALSE(fs::exists(f)) << f;
}

// The lines of a file of the run that belong to model `kind`.
std::string rows_of(const std::string& text, ModelKind kind) {
  std::istringstream in(text);
  std::string rows;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(std::string(model_name(kind)) + "\t", 0) == 0) rows += line + "\n";
  return rows;
}

// The default table of the example: the order nesting imposes, and the
// best maxima known (many starts of an independent maximiser) whichever
// models are chosen: the rows of environmental and general are the same when
// only those two are asked for, to the last digit.  Then the derived
// estimates (below).
void expect_derived(const Fitted& full);

TEST(Models, NestingOrderOnTheExample) {
  ScratchDir scratch("example");
  copy_example();
  const Fitted full{ModelsOptions{}};
  ModelsOptions two;
  two.models = {ModelKind::Environmental, ModelKind::General};
  const Fitted chosen(two);
  expect_nesting(full);
  EXPECT_LE(-2.0 * full[ModelKind::General].lnL, 1462.32);
  EXPECT_LE(-2.0 * full[ModelKind::Environmental].lnL, 1470.01);
  for (ModelKind k : {ModelKind::Environmental, ModelKind::General}) {
    EXPECT_EQ(rows_of(models_tsv(full.run), k), rows_of(models_tsv(chosen.run), k));
    EXPECT_EQ(rows_of(estimates_tsv(full.run), k), rows_of(estimates_tsv(chosen.run), k));
  }
  // Several maxima, the second reported apart from the best.
  const ModelResult& g = full[ModelKind::General];
  ASSERT_GE(g.optima.size(), 2u);
  EXPECT_EQ(g.optima[0].lnL, g.lnL);
  EXPECT_LT(g.optima[1].lnL, g.lnL - STARTS_AGREE);
  EXPECT_LT(g.gradient_norm, 1e-3);
  expect_derived(full);
}

// The derived estimates against their definitions at the estimate, and the
// polygenic variance's standard error against the delta method on the
// polygenic effect alone; q has no estimate without a gene.
void expect_derived(const Fitted& full) {
  for (ModelKind k : {ModelKind::Polygenic, ModelKind::Mixed}) {
    const ModelResult& r = full[k];
    std::map<std::string, DerivedEstimate> d;
    for (const DerivedEstimate& e : r.derived) d[e.name] = e;
    const double b = r.estimate.value[SLOT_POLY_EFFECT], v = r.estimate.value[SLOT_RES_VAR];
    EXPECT_GE(b, 0.0);
    EXPECT_DOUBLE_EQ(d["polygenic_variance"].value, 1.5 * b * b);
    EXPECT_DOUBLE_EQ(d["polygenic_heritability"].value, 1.5 * b * b / (1.5 * b * b + v));
    if (r.status[SLOT_POLY_EFFECT] == ParamStatus::Free) {
      ASSERT_TRUE(d["polygenic_variance"].se && r.se[SLOT_POLY_EFFECT]) << model_name(k);
      EXPECT_NEAR(*d["polygenic_variance"].se, 3.0 * b * *r.se[SLOT_POLY_EFFECT], 1e-6);
    }
    if (k == ModelKind::Mixed) {
      const ParamVector& t = r.estimate;
      const double q = t.value[SLOT_Q];
      const double f[3] = {q * q, 2 * q * (1 - q), (1 - q) * (1 - q)};
      const double m[3] = {t.value[SLOT_MEAN1], t.value[SLOT_MEAN2], t.value[SLOT_MEAN3]};
      const double mean = f[0] * m[0] + f[1] * m[1] + f[2] * m[2];
      double g = 0.0;
      for (int i = 0; i < 3; ++i) g += f[i] * (m[i] - mean) * (m[i] - mean);
      EXPECT_NEAR(d["major_gene_variance_share"].value, g / (g + 1.5 * b * b + v), 1e-12);
      EXPECT_NEAR(d["dominance"].value, (m[1] - m[2]) / (m[0] - m[2]), 1e-12);
    }
  }
  const std::string est = estimates_tsv(full.run);
  EXPECT_NE(est.find("sporadic\t1\tq\t\t\tnot_in_model\t\t\t\t\n"), std::string::npos);
  EXPECT_NE(est.find("polygenic\t1\tq\t\t\tnot_in_model\t\t\t\t\n"), std::string::npos);
}

// ln L maximised over the other parameters falls by about 0.5 when one
// parameter is held one standard error away from its estimate (the
// polygenic model of the example: its spike1 is an interior estimate).
TEST(Models, StandardErrorsMatchProfileCurvature) {
  ScratchDir scratch("profile");
  copy_example();
  Fitted fit(options({ModelKind::Polygenic}, 1, true));
  const ModelResult& r = fit[ModelKind::Polygenic];
  for (int slot : {SLOT_MEAN1, SLOT_POLY_EFFECT, SLOT_RES_VAR}) {
    ASSERT_TRUE(r.se[slot].has_value()) << slot;
    // The mean of the two sides cancels the skewness of ln L.
    double drops = 0.0;
    for (double side : {-1.0, 1.0}) {
      ParamVector t = r.estimate;
      t.value[slot] += side * *r.se[slot];
      t.est[slot] = 0;
      drops += r.lnL - maximise_model(*fit.fitter, *fit.sample, ModelKind::Polygenic, t);
    }
    EXPECT_NEAR(drops / 2.0, 0.5, 0.03) << PARAM_NAME[slot];
  }
}

// What each model makes of the example's par.inp, slot by slot: f free,
// x fixed, l linked as par.inp links it, c constrained by the model.
TEST(Models, DefinitionsOfTheExample) {
  auto par = std::make_unique<ParamTable>();
  par->NPAR = NPAR_USED;
  InputFile file = open_input((EXAMPLES / "par.inp").string());
  READ_PARAMETERS(file, *par);
  const std::pair<ModelKind, std::string> rows[] = {
      {ModelKind::Sporadic, "xflcfccxxxxf"},      {ModelKind::Polygenic, "xflcfccxxxff"},
      {ModelKind::Major, "fflffffxxxxf"},         {ModelKind::Mixed, "fflffffxxxff"},
      {ModelKind::Environmental, "fflffffcccff"}, {ModelKind::General, "fflfffffffff"}};
  const char codes[] = "fxlc";  // in the order of ParamStatus
  for (const auto& [kind, expected] : rows) {
    const ParamVector t = model_params(kind, slot_params(*par));
    std::string got;
    for (int i = 1; i <= t.size(); ++i) {
      got += codes[static_cast<int>(param_status(t, i))];
      if (is_free(t, i)) {
        EXPECT_NE(t.step[i], 0.0) << model_name(kind) << " " << t.name[i];
      }
    }
    EXPECT_EQ(got, expected) << model_name(kind);
    // The polygenic effect's magnitude: par.inp's bounds -2, 2 cut at 0.
    if (is_free(t, SLOT_POLY_EFFECT)) {
      EXPECT_EQ(t.low[SLOT_POLY_EFFECT], 0.0);
      EXPECT_EQ(t.high[SLOT_POLY_EFFECT], 2.0);
    }
  }
}

TEST(Models, ReferenceDistributionsAtKnownPoints) {
  struct Row {
    double x;
    std::vector<double> weights;
    double p;
  };
  // Closed forms: Q1(x) = erfc(sqrt(x/2)), Q2(x) = exp(-x/2),
  // Q3(x) = Q1(x) + sqrt(2x/pi) exp(-x/2).
  const double x = 7.0;
  const double q1 = std::erfc(std::sqrt(x / 2.0)), q2 = std::exp(-x / 2.0);
  const double q3 = q1 + std::sqrt(2.0 * x / M_PI) * std::exp(-x / 2.0);
  const Row rows[] = {
      {3.841458820694124, {0.0, 1.0}, 0.05},
      {7.814727903251178, {0.0, 0.0, 0.0, 1.0}, 0.05},
      {2.705543454095404, {0.5, 0.5}, 0.05},  // half chi-square(0) + half chi-square(1)
      {x, {0.0, 0.25, 0.5, 0.25}, 0.25 * q1 + 0.5 * q2 + 0.25 * q3},
      {0.0, {0.5, 0.5}, 1.0},
      {0.0, {0.0, 0.25, 0.5, 0.25}, 1.0},
      // A statistic at rounding level is 0: the same maximum twice.
      {1e-9, {0.5, 0.5}, 1.0},
      {1e-9, {0.0, 1.0}, 1.0},
  };
  for (const Row& r : rows) EXPECT_NEAR(p_chisq_mixture(r.x, r.weights), r.p, 1e-12) << r.x;
  EXPECT_NEAR(p_chisq(3.841458820694124, 1), 0.05, 1e-12);
}

// The sample of `pedsim --families 60 --children 1-4 --seed 13` (no spike
// values: par.inp's constraints are symmetric under relabelling).
void simulate_seed13() {
  std::string out, err;
  ASSERT_EQ(tools::run_pedsim({"--families", "60", "--children", "1-4", "--seed", "13", "--out",
                               "ped.txt"},
                              out, err),
            0)
      << err;
  ASSERT_EQ(tools::run_ped2iway({"ped.txt", "--par-template"}, out, err), 0) << err;
}

// The sporadic model has a closed-form maximum: the mean, the variance
// (divisor n) of the measured values; every start ends there.
TEST(Models, SporadicReachesItsClosedFormFromEveryStart) {
  ScratchDir scratch("sporadic");
  simulate_seed13();
  Fitted fit(options({ModelKind::Sporadic}, DEFAULT_RANDOM_STARTS, false));
  const PedigreeTables& ped = *fit.sample->ped;
  double n = 0.0, sum = 0.0, ss = 0.0;
  for (int32_t i = 1; i <= ped.PED_START[ped.NFAM + 1]; ++i)
    if (!trait_missing(ped.TRAIT[i])) {
      n += 1.0;
      sum += ped.TRAIT[i];
    }
  const double mean = sum / n;
  for (int32_t i = 1; i <= ped.PED_START[ped.NFAM + 1]; ++i)
    if (!trait_missing(ped.TRAIT[i])) ss += (ped.TRAIT[i] - mean) * (ped.TRAIT[i] - mean);
  const double var = ss / n;
  const double lnl = -0.5 * n - 0.5 * n * std::log(var * TWO_PI_S);
  const ModelResult& r = fit[ModelKind::Sporadic];
  EXPECT_GE(r.starts, 3);
  EXPECT_EQ(r.starts_agreeing, r.starts);
  EXPECT_EQ(r.optima.size(), 1u);
  EXPECT_NEAR(r.lnL, lnl, 1e-6);
  EXPECT_NEAR(r.estimate.value[SLOT_MEAN1], mean, 1e-4 * std::fabs(mean));
  EXPECT_NEAR(r.estimate.value[SLOT_RES_VAR], var, 1e-4 * var);
}

// The two labellings of the genotypes have the same likelihood (the taus'
// relabelling too); the reported one gives genotype 1 the higher mean
// whatever the starts, where par.inp's links allow it.
TEST(Models, OneLabellingOfTheGenotypes) {
  ScratchDir scratch("labels");
  simulate_seed13();
  Fitted few(options({ModelKind::Mixed}, 0, false));
  Fitted many(options({ModelKind::Mixed}, 20, false));
  for (const Fitted* f : {&few, &many}) {
    const ModelResult& r = (*f)[ModelKind::Mixed];
    EXPECT_GE(r.estimate.value[SLOT_MEAN1], r.estimate.value[SLOT_MEAN3]);
    for (const std::string& note : r.notes) EXPECT_EQ(note.find("labelled as fitted"), std::string::npos);
  }
  const ModelResult& a = few[ModelKind::Mixed];
  const ModelResult& b = many[ModelKind::Mixed];
  if (std::fabs(a.lnL - b.lnL) < 1e-6) {
    for (int i = 1; i <= NPAR_USED; ++i)
      EXPECT_NEAR(a.estimate.value[i], b.estimate.value[i], 1e-4 * std::fabs(b.estimate.value[i]));
  }

  // A general point and its mirror.
  ParamVector g = warm_start(model_params(ModelKind::General, slot_params(few.sample->par)),
                             a.estimate);
  g.value[SLOT_TAU1] = 0.9;
  g.value[SLOT_TAU2] = 0.4;
  g.value[SLOT_TAU3] = 0.2;
  ParamVector m;
  ASSERT_TRUE(mirror_point(g, m));
  EXPECT_DOUBLE_EQ(m.value[SLOT_Q], 1.0 - g.value[SLOT_Q]);
  EXPECT_EQ(m.value[SLOT_MEAN1], g.value[SLOT_MEAN3]);
  EXPECT_DOUBLE_EQ(m.value[SLOT_TAU1], 0.8);
  EXPECT_DOUBLE_EQ(m.value[SLOT_TAU2], 0.6);
  for (ModelKind k : {ModelKind::Mixed, ModelKind::General}) {
    ParamVector p = warm_start(model_params(k, slot_params(few.sample->par)), g);
    ParamVector pm;
    ASSERT_TRUE(mirror_point(p, pm));
    const double l = few.fitter->evaluate(p, model_rule(k));
    EXPECT_NEAR(few.fitter->evaluate(pm, model_rule(k)), l, 1e-9 * std::fabs(l)) << model_name(k);
  }
  // The example links spike2 to spike1: its mirror is not a point of the model.
  ScratchDir example("labels_example");
  copy_example();
  Fitted ex(options({ModelKind::Sporadic}, 0, false));
  EXPECT_FALSE(mirror_point(model_params(ModelKind::Mixed, slot_params(ex.sample->par)), m));
}

// A fixed-seed sample of 50 nuclear families with a Mendelian major gene.
void simulate_major_gene() {
  std::string out, err;
  ASSERT_EQ(tools::run_pedsim({"--families", "50", "--children", "3-6", "--seed", "5", "--set",
                               "1=0.3", "--set", "5=15", "--set", "6=11", "--set", "7=7",
                               "--set", "12=1", "--out", "ped.txt"},
                              out, err),
            0)
      << err;
  ASSERT_EQ(tools::run_ped2iway({"ped.txt", "--par-template"}, out, err), 0) << err;
}

TEST(Models, SimulatedMajorGeneIsFound) {
  ScratchDir scratch("sim");
  simulate_major_gene();
  const ModelsOptions o = options({std::begin(ALL_MODELS), std::end(ALL_MODELS)}, 1, false);
  Fitted fit(o, 1);
  EXPECT_LT(fit[ModelKind::Environmental].p, 1e-6);
  EXPECT_LT(fit[ModelKind::Polygenic].p, 1e-6);
  EXPECT_TRUE(fit[ModelKind::Mixed].tested);
  EXPECT_GT(fit[ModelKind::Mixed].p, 0.2);
  expect_nesting(fit);
  // The same files whatever the number of threads.
  Fitted two(o, 2);
  EXPECT_EQ(models_tsv(fit.run), models_tsv(two.run));
  EXPECT_EQ(estimates_tsv(fit.run), estimates_tsv(two.run));
}

// A profile point above the model's maximum re-fits the model from it: the
// row ends at the better maximum, says so, and the profile is made again.
TEST(Models, ProfileAboveTheMaximumRefits) {
  ScratchDir scratch("refit");
  copy_example();
  Fitted fit(options({ModelKind::Mixed}, 1, false));
  ModelResult& m = *fit.run.find(ModelKind::Mixed);
  const double best = m.lnL;
  // A point of the model away from its maximum, taken for the estimate.
  m.estimate.value[SLOT_Q] = 0.5 * (m.estimate.value[SLOT_Q] + m.estimate.high[SLOT_Q]);
  ParamVector probe = m.estimate;
  m.lnL = fit.fitter->evaluate(probe, model_rule(ModelKind::Mixed));
  ASSERT_LT(m.lnL, best - 1.0);
  ExtrasOptions extras;
  extras.profiles = {SLOT_Q};
  std::vector<std::string> warnings;
  const auto profiles =
      run_profiles(fit.run, *fit.sample, *fit.fitter, options({ModelKind::Mixed}, 1, false),
                   extras, {}, [&](const std::string& w) { warnings.push_back(w); });
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_GE(m.lnL, best - 1e-6);
  EXPECT_NE(models_tsv(fit.run).find("re-fitted"), std::string::npos);
  ASSERT_FALSE(warnings.empty());
  EXPECT_NE(warnings[0].find("re-fitted"), std::string::npos);
  EXPECT_FALSE(profiles[0].missed_maximum);
  for (double l : profiles[0].lnl) EXPECT_LE(l, m.lnL);
  ASSERT_EQ(fit.run.intervals.size(), 1u);
  EXPECT_LT(fit.run.intervals[0].low.value, m.estimate.value[SLOT_Q]);
  EXPECT_GT(fit.run.intervals[0].high.value, m.estimate.value[SLOT_Q]);
}

using testsupport::ProgramRun;

ProgramRun run_program(const std::vector<std::string>& args) {
  return testsupport::run_captured([&](FILE* out, FILE* err) { return models_main(args, out, err); });
}

std::string file_text(const std::string& name) {
  std::ifstream in(name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A tab-separated file as rows of fields, the header first.
std::vector<std::vector<std::string>> tsv(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(file_text(name));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> row;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      row.push_back(line.substr(start, tab - start));
    row.push_back(line.substr(start));
    rows.push_back(row);
  }
  return rows;
}

// Usage errors end with status 2 and one line naming --help, before any file
// is written.
TEST(ModelsProgram, UsageErrorsExitTwo) {
  ScratchDir scratch("usage");
  copy_example();
  const std::vector<std::vector<std::string>> cases = {
      {"--frobnicate"},
      {"--posteriors", "nonsense"},
      {"--profile", "tau4"},
      {"--profile", "tau1"},  // not free in the mixed model: named with the free ones
      {"--models", "general", "--posteriors", "major", "--profile", "polygenic_effect"},
      {"--profile", "beta_age"},  // the example has no covariates.dat
      {"--shift", "1"},           // without --transform
      {"--transform", "log", "--bootstrap", "5"},  // the bootstrap simulates no transformation
  };
  for (const auto& args : cases) {
    const ProgramRun r = run_program(args);
    EXPECT_EQ(r.status, EXIT_INPUT_ERROR) << args[0];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("see pedseg-models --help"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists("models.tsv"));
  }
  EXPECT_NE(run_program({"--profile", "tau1"}).err.find("(free: q, spike1"), std::string::npos);
}

// The whole program on the example: posteriors, a profile and the figures.
// spike1's estimate lies on its lower bound: its interval is open there, and
// says so; its upper end is closed, where an independent fit with spike1
// fixed there lies 1.92 below the maximum.
TEST(ModelsProgram, PosteriorsProfileAndFigures) {
  ScratchDir scratch("extras");
  copy_example();
  fs::copy_file(EXAMPLES / "idmap.dat", "idmap.dat");
  const ProgramRun r = run_program({".", "--models", "major", "--posteriors", "mixed", "--profile",
                                    "spike1", "--no-se", "--starts", "1", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Profile likelihood intervals"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Estimates of the mixed model"), std::string::npos) << r.out;

  const auto post = tsv("posteriors.tsv");
  ASSERT_GT(post.size(), 1u);
  EXPECT_EQ(post[0], (std::vector<std::string>{"individual", "family", "family_id",
                                               "individual_id", "trait", "p1", "p2", "p3",
                                               "class_mean"}));
  EXPECT_EQ(post[1][2], "F1");  // from idmap.dat
  for (size_t i = 1; i < post.size(); ++i)
    EXPECT_NEAR(std::stod(post[i][5]) + std::stod(post[i][6]) + std::stod(post[i][7]), 1.0, 1e-9)
        << i;

  // mixed is fitted although --models leaves it out.
  double max_lnl = 0.0;
  for (const auto& row : tsv("models.tsv"))
    if (row[0] == "mixed") max_lnl = std::stod(row[1]);
  ASSERT_LT(max_lnl, 0.0);
  const auto est = tsv("estimates.tsv");
  EXPECT_EQ(est[0].back(), "ci_high_open");
  std::map<std::string, std::vector<std::string>> row_of;  // spike1's, by model
  for (size_t i = 1; i < est.size(); ++i) {
    const auto& row = est[i];
    ASSERT_EQ(row.size(), 10u);
    if (row[2] == "spike1") {
      row_of[row[0]] = row;
    } else {
      EXPECT_EQ(row[6] + row[7] + row[8] + row[9], "") << row[0] << " " << row[2];
    }
  }
  const std::vector<std::string>& spike1 = row_of["mixed"];
  ASSERT_EQ(spike1.size(), 10u);
  EXPECT_EQ(row_of["major"][6] + row_of["major"][8], "");  // only the profiled model has intervals
  const double estimate = std::stod(spike1[3]);
  EXPECT_EQ(std::stod(spike1[6]), estimate);
  EXPECT_EQ(spike1[8] + spike1[9], "10");  // open below, closed above
  EXPECT_NE(r.out.find(" 0.000000*"), std::string::npos) << r.out;
  const double hi = std::stod(spike1[7]);
  EXPECT_LT(estimate, hi);
  {
    Fitted fit(options({ModelKind::Mixed}, 1, false));
    const ModelResult& m = fit[ModelKind::Mixed];
    ASSERT_EQ(m.lnL, max_lnl);
    // From the estimate and from par.inp's start, spike1 fixed at the end.
    double l = LH_SENTINEL;
    const ParamVector start = model_params(ModelKind::Mixed, slot_params(fit.sample->par));
    for (ParamVector t : {m.estimate, start}) {
      t.value[SLOT_SPIKE1] = hi;
      t.est[SLOT_SPIKE1] = 0;
      l = std::max(l, fit.fitter->search(t, model_rule(ModelKind::Mixed)).lnL);
    }
    EXPECT_NEAR(l, max_lnl - PROFILE_DROP_95, 0.01);
  }

  const auto prof = tsv("profile_spike1.tsv");
  EXPECT_EQ(prof[0], (std::vector<std::string>{"spike1", "lnL"}));
  EXPECT_GE(prof.size(), 26u);
  bool at_estimate = false;
  for (size_t i = 1; i < prof.size(); ++i) {
    const double l = std::stod(prof[i][1]);
    EXPECT_LE(l, max_lnl + 1e-9) << prof[i][0];
    if (std::stod(prof[i][0]) == estimate) {
      at_estimate = true;
      EXPECT_NEAR(l, max_lnl, 1e-9);
    }
  }
  EXPECT_TRUE(at_estimate);

  for (const char* f : {"mixture.svg", "posteriors.svg", "profile_spike1.svg"}) {
    std::map<std::string, int> counts;
    EXPECT_EQ(xmltest::check(file_text(f), counts), "") << f;
    EXPECT_GT(counts["svg"], 0) << f;
  }
  EXPECT_EQ(tsv("mixture.tsv")[0], (std::vector<std::string>{"series", "x_low", "x_high", "value"}));
}

// Profiles leave the rows alone: no point of a profile lies above the
// maximum of a model fitted to its global maximum, so that nothing is
// re-fitted.  (The example's general model reached a better maximum from
// the profile of tau2 while its fit stopped at a local one.)
TEST(ModelsProfiles, RowsDoNotDependOnProfiles) {
  ScratchDir scratch("rows");
  copy_example();
  const ModelsOptions o = options({std::begin(ALL_MODELS), std::end(ALL_MODELS)}, 3, false);
  Fitted fit(o);
  const std::string rows = models_tsv(fit.run);
  ExtrasOptions extras;
  extras.posteriors = ModelKind::General;
  extras.profiles = {SLOT_TAU2};
  extras.profile.points_per_side = 5;  // the grid's coarseness does not matter here
  std::vector<std::string> warnings;
  run_profiles(fit.run, *fit.sample, *fit.fitter, o, extras, {},
               [&](const std::string& w) { warnings.push_back(w); });
  EXPECT_EQ(models_tsv(fit.run), rows);
  EXPECT_TRUE(warnings.empty()) << warnings[0];
}

// The profile of q on a sample whose par.inp (ped2iway's template) is
// symmetric under relabelling the genotypes: symmetric, P(q) = P(1 - q), and
// nowhere below a fit of the model with q fixed there, from par.inp's start
// and from its mirror image (the means of genotypes 1 and 3 swapped).
TEST(ModelsProfiles, ProfileOfQIsTrueAndSymmetric) {
  ScratchDir scratch("symmetric");
  std::string out, err;
  ASSERT_EQ(tools::run_pedsim({"--families", "60", "--children", "1-4", "--seed", "11", "--out",
                               "ped.txt"},
                              out, err),
            0)
      << err;
  ASSERT_EQ(tools::run_ped2iway({"ped.txt", "--par-template"}, out, err), 0) << err;
  const ModelsOptions o = options({ModelKind::Mixed}, 3, false);
  Fitted fit(o);
  ExtrasOptions extras;
  extras.profiles = {SLOT_Q};
  const auto profiles = run_profiles(fit.run, *fit.sample, *fit.fitter, o, extras, {}, {});
  ASSERT_EQ(profiles.size(), 1u);
  const ProfileResult& p = profiles[0];
  ASSERT_FALSE(p.missed_maximum);
  int pairs = 0;
  for (size_t i = 0; i < p.value.size(); ++i) {
    for (size_t j = i + 1; j < p.value.size(); ++j) {
      if (std::fabs(p.value[i] + p.value[j] - 1.0) > 1e-12) continue;
      ++pairs;
      EXPECT_NEAR(p.lnl[i], p.lnl[j], 1e-6) << p.value[i];
    }
  }
  EXPECT_GE(pairs, 15);
  const ParamVector start = model_params(ModelKind::Mixed, slot_params(fit.sample->par));
  for (size_t i = 1; i < p.value.size(); i += 3) {
    for (const bool swap : {false, true}) {
      ParamVector t = start;
      if (swap) std::swap(t.value[SLOT_MEAN1], t.value[SLOT_MEAN3]);
      t.value[SLOT_Q] = p.value[i];
      t.est[SLOT_Q] = 0;
      const double l = fit.fitter->search(t, model_rule(ModelKind::Mixed)).lnL;
      EXPECT_GE(p.lnl[i], l - PROFILE_EXCESS_TOL)
          << "q " << p.value[i] << (swap ? ", swapped" : "");
    }
  }
}

}  // namespace
}  // namespace pedseg
