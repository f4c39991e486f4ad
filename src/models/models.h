// The standard table of nested segregation models: their definitions from
// the user's par.inp, the fits from many starts to their best local maxima,
// the order that nesting imposes on the ln LH, standard errors, derived
// estimates and the likelihood-ratio tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "models/fit.h"
#include "params/param_vector.h"
#include "profile/profile.h"

namespace pedseg {

enum class ModelKind { Sporadic, Polygenic, Major, Mixed, Environmental, General };
inline constexpr int MODEL_COUNT = 6;
inline constexpr ModelKind ALL_MODELS[MODEL_COUNT] = {
    ModelKind::Sporadic, ModelKind::Polygenic,     ModelKind::Major,
    ModelKind::Mixed,    ModelKind::Environmental, ModelKind::General};

const char* model_name(ModelKind kind);
std::optional<ModelKind> model_from_name(const std::string& name);

// The parameters a model starts from: the user's (par.inp's, slot_params)
// with what defines the model changed (links, fixed values, freed
// transmission probabilities, the polygenic effect's bounds cut at 0).
ParamVector model_params(ModelKind kind, const ParamVector& user);
TransRule model_rule(ModelKind kind);
// The model has a major gene (q, three genotype means).
bool has_gene(ModelKind kind);
// Every model whose points are points of `kind` (directly or not).
std::vector<ModelKind> nested_in(ModelKind kind);
// The model `kind` is tested against, if any.
std::optional<ModelKind> test_model(ModelKind kind);

// The mirrored labelling of a point of a model with a gene: (1 - q, mean3,
// mean2, mean1, spikes 3-1, 1 - tau3, 1 - tau2, 1 - tau1); false when the
// mirror is not a point of the model (par.inp's links or fixed values are
// not symmetric, or a mirrored value lies outside its bounds).
bool mirror_point(const ParamVector& point, ParamVector& mirrored);
// The reported labelling: genotype 1 carries the higher mean (q is the
// frequency of the allele that raises the trait).  Mirrors `point` when it
// has the other and the mirror is a point of the model; returns false when
// it has the other and cannot be mirrored.
bool label_genotypes(ParamVector& point);

// A statistic at or below this is 0 (p = 1): the two maxima are the same.
inline constexpr double CHISQ_ZERO = 1.0E-6;
// p-values of the reference distributions (upper tails).
double p_chisq(double x, double df);
// Mixture of chi-squares: weights[d] for d degrees of freedom (d = 0 is the
// point mass at 0).
double p_chisq_mixture(double x, const std::vector<double>& weights);

// One local maximum of a model, in the reported labelling.
struct Optimum {
  ParamVector point;
  double lnL = LH_SENTINEL;
  double gradient_norm = 0.0;  // at `point`, on the scale of the finish
};

// A quantity computed from the estimates, with its standard error by the
// delta method where the covariance exists.
struct DerivedEstimate {
  std::string name;
  double value = 0.0;
  std::optional<double> se;
};

struct ModelResult {
  ModelKind kind = ModelKind::Mixed;
  bool fitted = false;         // some start reached a possible point
  ParamVector estimate;        // the parameters at the estimate (links applied)
  double lnL = LH_SENTINEL;
  double gradient_norm = 0.0;  // at the estimate, on the scale of the finish
  int32_t n_free = 0;
  int32_t starts = 0;           // starts carried to a local maximum
  int32_t starts_agreeing = 0;  // within STARTS_AGREE of the best
  int32_t evaluations = 0;      // of ln L by the fit (standard errors excluded)
  // Distinct local maxima found (more than STARTS_AGREE apart in ln L), best
  // first: optima[0] is the estimate.
  std::vector<Optimum> optima;
  // Of each entry of the estimate (element 0 unused), once fitted.
  std::vector<ParamStatus> status;
  std::vector<std::optional<double>> se;
  // polygenic_variance and polygenic_heritability (models with a polygenic
  // effect), major_gene_variance_share and dominance (models with a gene).
  std::vector<DerivedEstimate> derived;
  // The test against test_model(kind), when both were fitted.
  bool tested = false;
  ModelKind against = ModelKind::General;
  int32_t df = 0;
  double chisq = 0.0;
  double p = 0.0;
  std::vector<std::string> notes;
  size_t fit_notes = 0;   // notes[0, fit_notes) come from the searches, the rest from the estimate
  std::string test_note;  // about the test, shown after the notes
};

inline constexpr double STARTS_AGREE = 0.01;  // ln LH units

// Quasi-random starts a model adds to its structured ones, at most.
inline constexpr int32_t DEFAULT_RANDOM_STARTS = 10;

struct ModelsOptions {
  std::vector<ModelKind> models{std::begin(ALL_MODELS), std::end(ALL_MODELS)};
  int32_t starts = DEFAULT_RANDOM_STARTS;  // quasi-random starts per model, at most
  bool standard_errors = true;
};

// A ln LH in progress lines and notes: 6 decimals.
std::string lh_text(double v);

// Progress of the fits: one line of text at a time.
using ProgressLine = std::function<void(const std::string&)>;

// The likelihood-based 95% interval of one parameter of a model, from its
// profile; an open end is the end of the profile's grid.
struct ProfileInterval {
  ModelKind kind = ModelKind::Mixed;
  int32_t entry = 0;
  IntervalEnd low, high;
  bool gap = false;  // the profile leaves the interval between its ends
};

struct ModelsRun {
  std::vector<ModelResult> results;  // the chosen models in the order of ALL_MODELS
  // The models fitted only because a chosen one contains them (their
  // estimates are its starts), in the order of ALL_MODELS.
  std::vector<ModelResult> nested;
  std::vector<ProfileInterval> intervals;  // in the order the profiles were asked for
  const ModelResult* find(ModelKind kind) const;
  ModelResult* find(ModelKind kind);
};

// Fits the chosen models and every model nested in them; deterministic for
// given inputs, and each model's row the same whichever others are chosen.
ModelsRun run_models(const SampleTables& sample, Fitter& fitter, const ModelsOptions& options,
                     const ProgressLine& progress = {});

// The likelihood-ratio test of every fitted model against its test_model.
void set_tests(ModelsRun& run);
// The test of the fitted model r against the fitted larger model g, with
// the table's reference distribution.
void likelihood_ratio_test(ModelResult& r, const ModelResult& g);

// A better point of a fitted model, found outside its fit (a profile point
// above its maximum): searches from `from` (a point of the model) and, when
// the search ends above the model's ln LH, the row takes the new estimate
// (statuses, standard errors, `why` as a note), every fitted model containing
// it that now lies below it is restarted from it, and the tests are made
// again.  Returns whether the row changed.
bool refit_model(ModelsRun& run, const SampleTables& sample, Fitter& fitter,
                 const ModelsOptions& options, ModelKind kind, const ParamVector& from,
                 const std::string& why, const ProgressLine& progress = {});

// Maximises model `kind` over the free entries of `point` (entries the caller
// has fixed stay fixed at their values) with the model's own starts and
// finish, plus `extra_starts` (points of the model, for instance the
// neighbouring point of a profile and the model's other optima with the
// caller's fixed entries set); leaves the best point in `point` (reported
// labelling) and returns its ln L (LH_SENTINEL when no start is possible).
// `random_starts` is the model's count of quasi-random starts.
// Deterministic.
double maximise_model(Fitter& fitter, const SampleTables& sample, ModelKind kind,
                      ParamVector& point, const std::vector<ParamVector>& extra_starts = {},
                      int32_t random_starts = DEFAULT_RANDOM_STARTS);

// The model quantities of a model at a point of it (an estimate); false when
// the point is impossible.
bool model_quantities(Fitter& fitter, ModelKind kind, const ParamVector& point,
                      ModelQuantities& quantities);

// The step of the numerical derivatives for entry i at its value; a free
// parameter closer than this to a bound is at_bound.
double derivative_step(const ParamVector& point, int32_t i);

// Standard errors of the free entries of result.estimate, by its statuses
// (fills the elements of se that run_models sized, and notes when there are
// none), and the derived estimates with theirs.
void standard_errors(Fitter& fitter, ModelResult& result);

// The derived estimates of result.estimate; `covariance` of the entries
// `entries` (row-major), when there is one, gives their standard errors.
void set_derived(ModelResult& result, const std::vector<int32_t>& entries,
                 const std::vector<double>& covariance);

// The two files and the console table.
std::string models_tsv(const ModelsRun& run);
// `tsv` with two or more columns added: "\t" + `header` on its first line,
// "\t" + cells(line) on every other line.
std::string with_columns(const std::string& tsv, const std::string& header,
                         const std::function<std::string(const std::string&)>& cells);
std::string estimates_tsv(const ModelsRun& run);
// The console: the table, its notes, the estimates of the `focus` model when
// it was fitted, and the profile likelihood intervals.
std::string console_table(const ModelsRun& run, std::optional<ModelKind> focus = std::nullopt);

}  // namespace pedseg
