// What pedseg-models adds at the estimate of one model of the table: genotype
// posteriors, profile likelihoods and the figures.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "models/models.h"
#include "posteriors/posteriors.h"
#include "profile/profile.h"

namespace pedseg {

struct ExtrasOptions {
  std::optional<ModelKind> posteriors;  // --posteriors MODEL
  std::vector<int> profiles;            // --profile PARAM: entries in the order given, once each
  bool figures = true;                  // SVG files and mixture.tsv
  ProfileSettings profile;              // the grid and the intervals' ends
};

// The model of the posteriors, the profiles and the mixture figure: the
// --posteriors model, else mixed.
ModelKind focus_model(const ExtrasOptions& extras);

// "" when every profiled entry is a free parameter of the focus model as
// `user` (par.inp's slots and the analysis entries) defines it; else the
// error, naming the free ones.
std::string check_profiles(const ExtrasOptions& extras, const ParamVector& user);

// Re-fits of the focus model after a profile point above its maximum; then
// the profiles are kept as they are.
inline constexpr int PROFILE_REFITS = 3;

// Whether the mirror image of every point of a model (mirror_point) is a
// point of it: links, fixed values, free flags and bounds unchanged by
// relabelling the genotypes.
bool relabelling_symmetric(const ParamVector& model);

// The profiles of the focus model (one per entry of extras.profiles), their
// intervals put in run.intervals.  Each point is maximised from the
// neighbouring point's solution, from the model's optima with the profiled
// entry set to the point's value, and from their mirror images; the profile
// of q is symmetric about 0.5 when the model is (relabelling_symmetric).  A
// point above the model's maximum re-fits the model from it (refit_model) and
// profiles again; `warn` gets a line about each re-fit and about what could
// not be done.
std::vector<ProfileResult> run_profiles(ModelsRun& run, const SampleTables& sample,
                                        Fitter& fitter, const ModelsOptions& options,
                                        const ExtrasOptions& extras, const ProgressLine& progress,
                                        const ProgressLine& warn);

// The files of the extras (name, text): posteriors.tsv and .svg with
// --posteriors, profile_PARAM.tsv and .svg per profile, and mixture.svg and
// .tsv whenever the focus model was fitted; no SVG nor mixture.tsv without
// extras.figures.  `ids` from idmap.dat (or empty).
std::vector<std::pair<std::string, std::string>> extra_files(
    const ModelsRun& run, const SampleTables& sample, Fitter& fitter, const ExtrasOptions& extras,
    const std::vector<ProfileResult>& profiles, const std::vector<IdPair>& ids,
    const ProgressLine& warn);

}  // namespace pedseg
