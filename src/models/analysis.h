// How pedseg-models analyses the trait: the covariates on the class means
// and the Box-Cox transformation, and the parameter entries they add after
// the 12 slots (beta_NAME per covariate, lambda1 and lambda2).
//
// The class mean of individual i is mu_g + (k - 4) B + sum_j beta_j (x_ij -
// c_j), c_j the mean of covariate j over the individuals whose trait is
// analysed.  Under --transform boxcox the analysed value is
// z = ((y + l2)^l1 - 1) / (l1 g^(l1 - 1)) (g ln(y + l2) at l1 = 0), g the
// geometric mean of y + l2 over the analysed values outside the spike, and
// ln L adds sum (l1 - 1) ln((y + l2) / g) over those values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/trait_view.h"
#include "params/param_vector.h"
#include "sample/sample.h"

namespace pedseg {

struct AnalysisOptions {
  // nullopt: every covariate of covariates.dat (when the folder has one);
  // empty: none.
  std::optional<std::vector<std::string>> covariates;
  Transform transform = Transform::None;
  double shift = 0.0;  // lambda2
  bool shift_given = false;
};

// The bounds and step of lambda1 (start 1; 0 and held under --transform log).
inline constexpr double LAMBDA1_LOW = -3.0, LAMBDA1_HIGH = 3.0, LAMBDA1_STEP = 0.1;
// A beta's step and bounds, in units of sd(trait) / sd(covariate).
inline constexpr double BETA_STEP_SHARE = 0.1, BETA_BOUND_SHARE = 10.0;

struct TraitAnalysis {
  std::vector<std::string> names;  // the covariates used, in covariates.dat's order
  TraitData data;
  // Entries in the parameter vector (0 when absent): the first beta, lambda1, lambda2.
  int32_t first_beta = 0, lambda1 = 0, lambda2 = 0;
  // The starts of the betas (least squares), and their steps and bounds.
  std::vector<double> beta_start, beta_step, beta_bound;

  bool active() const { return !names.empty() || data.transform != Transform::None; }
  int32_t entries() const {
    return static_cast<int32_t>(names.size()) + (data.transform != Transform::None ? 2 : 0);
  }
};

// The analysis of a loaded sample.  Throws InputError for a covariate the
// folder does not have (or no covariates.dat while some are asked for), a
// covariate that does not vary among the analysed individuals, and for a
// transformation that meets a value y + lambda2 <= 0.
TraitAnalysis make_analysis(const SampleTables& sample, const AnalysisOptions& options);

// The user's parameters (par.inp's slots) followed by the analysis entries.
// Under a transformation the genotype means' starts and bounds are carried
// to the analysis scale (the starts at lambda1's start, the bounds widened to
// the analysed values' range at every lambda1 of its bounds).
ParamVector analysis_params(const ParamTable& par, const TraitAnalysis& analysis);

// The measured values outside the spike on the analysis scale at the start
// (betas at their starts subtracted), for the starts of the fits.
std::vector<double> analysed_residuals(const TraitAnalysis& analysis);

// covariates.tsv: covariate, centre, sd, analysed, missing (one row each).
std::string covariates_tsv(const TraitAnalysis& analysis, const SampleTables& sample);

// Welch's test of the measured values outside the spike of men against
// women (iway.dat's sex: 1 male, 2 female); nullopt with fewer than two
// values in either group.
struct SexDifference {
  double mean_men = 0.0, mean_women = 0.0, t = 0.0, df = 0.0, p = 1.0;
  int32_t men = 0, women = 0;
};
std::optional<SexDifference> sex_difference(const SampleTables& sample);
inline constexpr double SEX_GUARD_P = 0.001;
// The warning when men and women differ clearly and sex is not a covariate.
std::string sex_guard_text(const SexDifference& d);

struct ModelsRun;
enum class ModelKind;
// The console block under the table: the centres, and at the estimate of the
// `focus` model each covariate's beta with its standard error and Wald
// p-value, and lambda1 and lambda2.
std::string covariates_block(const ModelsRun& run, ModelKind focus, const TraitAnalysis& analysis);

}  // namespace pedseg
