// Simulated replicates of a sample and the fits of a null model and a larger
// one to each: the parametric bootstrap of the table's approximate tests.
#include "models/bootstrap.h"

#include <cstdio>

#include "textio/textio.h"

namespace pedseg {

tools::SimParams sim_params(const ParamVector& point) {
  tools::SimParams p;
  for (int32_t i = 1; i <= NPAR_USED && i <= point.size(); ++i) tools::set_slot(p, i, point.value[i]);
  return p;
}

std::unique_ptr<SampleTables> simulated_sample(const SampleTables& sample,
                                               const tools::SimParams& truth, uint64_t seed) {
  auto s = std::make_unique<SampleTables>();
  s->dir = sample.dir;
  s->par = sample.par;
  s->poly = sample.poly;
  *s->ped = *sample.ped;
  s->layout = sample.layout;
  s->loops = sample.loops;
  s->covariates = sample.covariates;
  s->proband = sample.proband;
  PedigreeTables& ped = *s->ped;
  tools::simulate_traits(ped, s->layout, truth, seed, ped.TRAIT);
  s->NMEAS = s->NSPIKE = 0;
  for (int32_t i = 1; i <= ped.NIND; ++i) {
    s->NMEAS += trait_counts_measured(ped.TRAIT[i]);
    s->NSPIKE += trait_counts_spike(ped.TRAIT[i]);
  }
  return s;
}

bool fit_converged(const ModelResult& r) {
  return r.fitted && r.gradient_norm <= CONVERGED_GRADIENT;
}

PairFit fit_pair(SampleTables& sample, ModelKind null, ModelKind alt, int32_t random_starts,
                 int32_t threads) {
  Fitter fitter(sample, threads);
  ModelsOptions options;
  options.models = {null, alt};
  options.starts = random_starts;
  options.standard_errors = false;
  ModelsRun run = run_models(sample, fitter, options);
  PairFit f;
  f.null = *run.find(null);
  f.alt = *run.find(alt);
  f.null.tested = false;
  f.null.test_note.clear();
  if (f.null.fitted && f.alt.fitted) likelihood_ratio_test(f.null, f.alt);
  return f;
}

std::vector<BootstrapTest> bootstrap_tests(const ModelsRun& run, const SampleTables& sample,
                                           int32_t replicates, uint64_t seed,
                                           int32_t random_starts, int32_t threads,
                                           const ProgressLine& progress) {
  std::vector<BootstrapTest> tests;
  for (ModelKind kind : BOOTSTRAP_MODELS) {
    const ModelResult* r = run.find(kind);
    if (r == nullptr || !r->tested) continue;
    BootstrapTest t;
    t.kind = kind;
    const tools::SimParams truth = sim_params(r->estimate);
    for (int32_t k = 0; k < replicates; ++k) {
      const uint64_t s = seed + static_cast<uint64_t>(k);
      const std::unique_ptr<SampleTables> rep = simulated_sample(sample, truth, s);
      const PairFit f = fit_pair(*rep, kind, r->against, random_starts, threads);
      if (f.null.tested) {
        ++t.n;
        t.exceed += f.null.chisq >= r->chisq ? 1 : 0;
      }
      if (progress)
        progress("bootstrap of " + std::string(model_name(kind)) + " vs " +
                 model_name(r->against) + ": replicate " + std::to_string(k + 1) + " of " +
                 std::to_string(replicates) +
                 (f.null.tested ? ", statistic " + lh_text(f.null.chisq) : ", no statistic"));
    }
    t.p = static_cast<double>(1 + t.exceed) / static_cast<double>(t.n + 1);
    tests.push_back(t);
  }
  return tests;
}

std::string with_bootstrap_columns(const std::string& models_tsv,
                                   const std::vector<BootstrapTest>& tests) {
  return with_columns(models_tsv, "p_bootstrap\tbootstrap_n", [&](const std::string& line) {
    const std::string model = line.substr(0, line.find('\t'));
    for (const BootstrapTest& t : tests)
      if (model == model_name(t.kind)) return real17(t.p) + "\t" + std::to_string(t.n);
    return std::string("\t");
  });
}

std::string bootstrap_lines(const ModelsRun& run, const std::vector<BootstrapTest>& tests) {
  std::string s;
  char buf[200];
  for (const BootstrapTest& t : tests) {
    const ModelResult* r = run.find(t.kind);
    std::snprintf(buf, sizeof buf,
                  "%s vs %s: p %.4g from the reference distribution, %.4g from the bootstrap "
                  "(%d of %d replicates at or above the statistic)\n",
                  model_name(t.kind), model_name(r->against), r->p, t.p, t.exceed, t.n);
    s += buf;
  }
  if (!s.empty()) s = "\nBootstrap of the approximate tests:\n" + s;
  return s;
}

}  // namespace pedseg
