// Genotype posteriors, profile likelihoods and figures of one model of a run.
#include "models/extras.h"

#include "figures/figures.h"

namespace pedseg {

namespace {

// The steps of `from` in `to`: the search shrinks a table's steps, and each
// search of a profile should explore as the model's own search did.
void restore_steps(ParamTable& to, const ParamTable& from) {
  for (int i = 1; i <= NPAR_USED; ++i) to.PAR_STEP[i] = from.PAR_STEP[i];
}

std::string figure_title(ModelKind kind) { return std::string(model_name(kind)) + " model"; }

}  // namespace

ModelKind focus_model(const ExtrasOptions& extras) {
  return extras.posteriors.value_or(ModelKind::Mixed);
}

std::string check_profiles(const ExtrasOptions& extras, const ParamTable& user) {
  const ModelKind kind = focus_model(extras);
  const ParamTable t = model_table(kind, user);
  auto is_free = [&](int i) { return t.PAR_EST[i] != 0 && t.PAR_LINK[i] == i; };
  for (int slot : extras.profiles) {
    if (is_free(slot)) continue;
    std::string free;
    for (int i = 1; i <= NPAR_USED; ++i)
      if (is_free(i)) free += std::string(free.empty() ? "" : ", ") + PARAM_NAME[i];
    return std::string("--profile ") + PARAM_NAME[slot] + ": not a free parameter of the " +
           model_name(kind) + " model (free: " + (free.empty() ? "none" : free) + ")";
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
    for (int slot : extras.profiles) {
      const std::string name = PARAM_NAME[slot];
      const ParamTable estimate = r->estimate;
      const double max_lnl = r->lnL;
      const ProfileMaximiser maximise = [&](ParamTable& t) {
        restore_steps(t, estimate);
        return maximise_model(fitter, kind, t);
      };
      ProfileResult p = profile_parameter(slot, estimate, max_lnl, maximise);
      if (progress)
        progress("profile of " + name + " (" + model + "): " + std::to_string(p.value.size()) +
                 " points");
      if (p.missed_maximum && refits < PROFILE_REFITS) {
        ParamTable from = p.better;
        restore_steps(from, estimate);
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
      run.intervals.push_back({kind, slot, p.ci_low, p.ci_high, p.low_open, p.high_open});
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
    const int slot = extras.profiles[k];
    const std::string name = PARAM_NAME[slot];
    files.push_back({"profile_" + name + ".tsv", profile_tsv(name, profiles[k])});
    if (extras.figures)
      files.push_back({"profile_" + name + ".svg",
                       profile_plot(name, profiles[k], r->lnL, r->estimate.PAR_VAL[slot])});
  }
  if (have && extras.figures) {
    MixturePlot mix = mixture_plot(*sample.ped, sample.poly, q, title);
    files.push_back({"mixture.svg", std::move(mix.svg)});
    files.push_back({"mixture.tsv", std::move(mix.tsv)});
  }
  return files;
}

}  // namespace pedseg
