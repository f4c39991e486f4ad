// Genotype posteriors, profile likelihoods and figures of one model of a run.
#include "models/extras.h"

#include "figures/figures.h"

namespace pedseg {

namespace {

std::string figure_title(ModelKind kind) { return std::string(model_name(kind)) + " model"; }

}  // namespace

ModelKind focus_model(const ExtrasOptions& extras) {
  return extras.posteriors.value_or(ModelKind::Mixed);
}

std::string check_profiles(const ExtrasOptions& extras, const ParamTable& user) {
  const ModelKind kind = focus_model(extras);
  const ParamVector t = model_params(kind, slot_params(user));
  for (int32_t entry : extras.profiles) {
    if (is_free(t, entry)) continue;
    std::string free;
    for (int32_t i = 1; i <= t.size(); ++i)
      if (is_free(t, i)) free += (free.empty() ? "" : ", ") + t.name[i];
    return "--profile " + t.name[entry] + ": not a free parameter of the " + model_name(kind) +
           " model (free: " + (free.empty() ? "none" : free) + ")";
  }
  return "";
}

std::vector<ProfileResult> run_profiles(ModelsRun& run, const SampleTables& sample,
                                        Fitter& fitter, const ModelsOptions& options,
                                        const ExtrasOptions& extras, const ProgressLine& progress,
                                        const ProgressLine& warn) {
  std::vector<ProfileResult> out;
  run.intervals.clear();
  if (extras.profiles.empty()) return out;
  const ModelKind kind = focus_model(extras);
  const std::string model = model_name(kind);
  const ModelResult* r = run.find(kind);
  if (r == nullptr || !r->fitted) {
    if (warn) warn("no profiles: the " + model + " model has no estimate");
    return out;
  }
  for (int refits = 0;; ++refits) {
    out.clear();
    run.intervals.clear();
    bool again = false;
    for (int32_t entry : extras.profiles) {
      const ParamVector estimate = r->estimate;
      const std::string& name = estimate.name[entry];
      const double max_lnl = r->lnL;
      // Each search of the profile explores with the model's own steps.
      const ProfileMaximiser maximise = [&](ParamVector& t) {
        t.step = estimate.step;
        return maximise_model(fitter, sample, kind, t);
      };
      ProfileResult p = profile_parameter(entry, estimate, max_lnl, maximise);
      if (progress)
        progress("profile of " + name + " (" + model + "): " + std::to_string(p.value.size()) +
                 " points");
      if (p.missed_maximum && refits < PROFILE_REFITS) {
        ParamVector from = p.better;
        from.step = estimate.step;
        const std::string why = "a point of the profile of " + name + " lay above the maximum (ln L " +
                                lh_text(p.better_lnl) + " > " + lh_text(max_lnl) +
                                "): re-fitted from it";
        if (refit_model(run, sample, fitter, options, kind, from, why, progress)) {
          r = run.find(kind);
          if (warn) warn(model + ": " + why + ", ln L now " + lh_text(r->lnL) + "; profiling again");
          again = true;
          break;
        }
      }
      if (p.missed_maximum && warn)
        warn("profile of " + name + " (" + model + "): a point lies above the maximum (ln L " +
             lh_text(p.better_lnl) + " > " + lh_text(max_lnl) + ") and re-fitting did not reach " +
             "it; the profile stops there");
      run.intervals.push_back({kind, entry, p.ci_low, p.ci_high, p.low_open, p.high_open});
      out.push_back(std::move(p));
    }
    if (!again) break;
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> extra_files(
    const ModelsRun& run, const SampleTables& sample, Fitter& fitter, const ExtrasOptions& extras,
    const std::vector<ProfileResult>& profiles, const std::vector<IdPair>& ids,
    const ProgressLine& warn) {
  std::vector<std::pair<std::string, std::string>> files;
  const ModelKind kind = focus_model(extras);
  const ModelResult* r = run.find(kind);
  ModelQuantities q;
  const bool have = r != nullptr && r->fitted && model_quantities(fitter, kind, r->estimate, q);
  const std::string title = figure_title(kind);
  if (extras.posteriors) {
    if (have) {
      const PosteriorTable post = genotype_posteriors(*sample.ped, sample.layout, sample.poly, q);
      files.push_back({"posteriors.tsv", posteriors_tsv(*sample.ped, post, ids)});
      if (extras.figures)
        files.push_back({"posteriors.svg", posteriors_plot(sample.layout, post, title)});
    } else if (warn) {
      warn("no posteriors: the " + std::string(model_name(kind)) + " model has no estimate");
    }
  }
  for (size_t k = 0; k < profiles.size() && k < extras.profiles.size(); ++k) {
    const int32_t entry = extras.profiles[k];
    const std::string& name = r->estimate.name[entry];
    files.push_back({"profile_" + name + ".tsv", profile_tsv(name, profiles[k])});
    if (extras.figures)
      files.push_back({"profile_" + name + ".svg",
                       profile_plot(name, profiles[k], r->lnL, r->estimate.value[entry])});
  }
  if (have && extras.figures) {
    MixturePlot mix = mixture_plot(*sample.ped, sample.poly, q, title);
    files.push_back({"mixture.svg", std::move(mix.svg)});
    files.push_back({"mixture.tsv", std::move(mix.tsv)});
  }
  return files;
}

}  // namespace pedseg
