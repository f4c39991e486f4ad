// Samples simulated on the structures of a sample and the table's models
// fitted to them: the parametric bootstrap of the approximate tests
// (pedseg-models --bootstrap) and the replicates of pedseg-power.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/models.h"
#include "tools/pedsim.h"

namespace pedseg {

// The class model's values at a point (its 12 slots, links applied).
tools::SimParams sim_params(const ParamVector& point);

// A copy of `sample` (structures, missing pattern, loops, covariates,
// probands, par.inp) whose traits are simulated under `truth` with `seed`
// (tools::simulate_traits); the counts follow the new traits.
std::unique_ptr<SampleTables> simulated_sample(const SampleTables& sample,
                                               const tools::SimParams& truth, uint64_t seed);

// A fit reached a flat gradient at most this large (the finish's scale).
inline constexpr double CONVERGED_GRADIENT = 1.0E-3;
bool fit_converged(const ModelResult& r);

// A null model against a larger one on one sample, both fitted as run_models
// fits the table (its starts, finish and nesting; no standard errors), with
// `threads` threads of the likelihood.
struct PairFit {
  ModelResult null, alt;  // null.tested, .chisq, .df and .p: its test against alt
};
PairFit fit_pair(SampleTables& sample, ModelKind null, ModelKind alt, int32_t random_starts,
                 int32_t threads);

// The bootstrap of one approximate test of the table: `kind` against
// test_model(kind).
struct BootstrapTest {
  ModelKind kind = ModelKind::Polygenic;
  int32_t n = 0;        // replicates whose two fits gave a statistic
  int32_t exceed = 0;   // of them, with a statistic at or above the sample's
  double p = 1.0;       // (1 + exceed) / (n + 1)
  bool operator==(const BootstrapTest&) const = default;
};
// The tests with an approximate reference distribution.
inline constexpr ModelKind BOOTSTRAP_MODELS[] = {ModelKind::Polygenic, ModelKind::Mixed};
inline constexpr uint64_t DEFAULT_BOOTSTRAP_SEED = 1;

// For each tested row of BOOTSTRAP_MODELS in `run`: `replicates` samples
// simulated under its estimate (replicate r with seed `seed` + r), both
// models refitted to each.  `progress` gets one line per replicate.
std::vector<BootstrapTest> bootstrap_tests(const ModelsRun& run, const SampleTables& sample,
                                           int32_t replicates, uint64_t seed,
                                           int32_t random_starts, int32_t threads,
                                           const ProgressLine& progress = {});

// models.tsv with the columns p_bootstrap and bootstrap_n (empty in the rows
// without a bootstrap), and the console's lines about the bootstrap.
std::string with_bootstrap_columns(const std::string& models_tsv,
                                   const std::vector<BootstrapTest>& tests);
std::string bootstrap_lines(const ModelsRun& run, const std::vector<BootstrapTest>& tests);

}  // namespace pedseg
