// Genotype posteriors, profile likelihoods and figures of one model of a run.
#include "models/extras.h"

#include <algorithm>
#include <cmath>

#include "figures/figures.h"
#include "models/analysis.h"

namespace pedseg {

namespace {

std::string figure_title(ModelKind kind) { return std::string(model_name(kind)) + " model"; }

// The slot that relabelling the genotypes puts in the place of slot i, and
// whether it takes the complement of the value (q and the taus).
int32_t relabelled_slot(int32_t i) {
  for (int32_t g = 1; g <= 3; ++g) {
    if (i == spike_slot(g)) return spike_slot(4 - g);
    if (i == mean_slot(g)) return mean_slot(4 - g);
    if (i == tau_slot(g)) return tau_slot(4 - g);
  }
  return i;
}
bool complemented(int32_t i) {
  return i == SLOT_Q || i == tau_slot(1) || i == tau_slot(2) || i == tau_slot(3);
}

// The entry whose value entry i takes through its links.
int32_t head(const ParamVector& t, int32_t i) {
  for (int32_t k = 0; k < t.size() && t.link[i] != i; ++k) i = t.link[i];
  return i;
}

bool same_value(double a, double b) {
  return std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(a));
}

}  // namespace

bool relabelling_symmetric(const ParamVector& t) {
  if (t.size() < NPAR_USED) return false;
  for (int32_t i = 1; i <= t.size(); ++i) {
    const int32_t m = relabelled_slot(i), hi = head(t, i), hm = head(t, m);
    // The same ties before and after, between entries relabelled alike.
    if (complemented(i) != complemented(hi)) return false;
    for (int32_t j = 1; j <= t.size(); ++j)
      if ((head(t, j) == hi) != (head(t, relabelled_slot(j)) == hm)) return false;
    const auto image = [&](double x) { return complemented(i) ? 1.0 - x : x; };
    if ((t.est[hi] != 0) != (t.est[hm] != 0)) return false;
    if (t.est[hi] == 0) {
      if (!same_value(image(t.value[hi]), t.value[hm])) return false;
    } else {
      const double low = complemented(i) ? image(t.high[hi]) : t.low[hi];
      const double high = complemented(i) ? image(t.low[hi]) : t.high[hi];
      if (!same_value(low, t.low[hm]) || !same_value(high, t.high[hm])) return false;
    }
  }
  return true;
}

ModelKind focus_model(const ExtrasOptions& extras) {
  return extras.posteriors.value_or(ModelKind::Mixed);
}

std::string check_profiles(const ExtrasOptions& extras, const ParamVector& user) {
  const ModelKind kind = focus_model(extras);
  const ParamVector t = model_params(kind, user);
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
  const bool symmetric = relabelling_symmetric(model_params(kind, fitter.user_params()));
  for (int refits = 0;; ++refits) {
    out.clear();
    run.intervals.clear();
    bool again = false;
    for (int32_t entry : extras.profiles) {
      const ParamVector estimate = r->estimate;
      const std::string& name = estimate.name[entry];
      const double max_lnl = r->lnL;
      // Every point also starts from the model's optima and their mirror
      // images, the profiled entry set to the point's value.
      std::vector<ParamVector> anchors;
      for (const Optimum& o : r->optima) {
        anchors.push_back(o.point);
        ParamVector mirrored;
        if (mirror_point(o.point, mirrored)) anchors.push_back(std::move(mirrored));
      }
      // Each search of the profile explores with the model's own steps.
      const ProfileMaximiser maximise = [&](ParamVector& t, const std::vector<ParamVector>& more) {
        std::vector<ParamVector> starts = more;
        for (const ParamVector& a : anchors) {
          starts.push_back(a);
          starts.back().est[entry] = 0;
          starts.back().value[entry] = t.value[entry];
        }
        t.step = estimate.step;
        for (ParamVector& u : starts) u.step = estimate.step;
        return maximise_model(fitter, sample, kind, t, starts, options.starts);
      };
      ProfileSettings settings = extras.profile;
      if (entry == SLOT_Q && symmetric) settings.symmetric_about = 0.5;
      ProfileResult p = profile_parameter(entry, estimate, max_lnl, maximise, settings);
      if (progress)
        progress("profile of " + name + " (" + model + "): " + std::to_string(p.value.size()) +
                 " points, " + std::to_string(p.maximisations) + " maximisations" +
                 (p.impossible > 0 ? ", " + std::to_string(p.impossible) + " impossible" : ""));
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
      run.intervals.push_back({kind, entry, p.low, p.high, p.gap});
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
      const PosteriorTable post =
          genotype_posteriors(*sample.ped, sample.layout, sample.poly, q,
                              PosteriorMethod::outward, fitter.view_at(r->estimate));
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
    std::optional<MixtureScale> scale;
    if (const TraitView* view = fitter.view_at(r->estimate)) {
      const TraitAnalysis& a = *fitter.analysis();
      scale.emplace();
      scale->transformed = a.data.transform != Transform::None;
      scale->lambda1 = a.lambda1 > 0 ? r->estimate.value[a.lambda1] : 1.0;
      scale->lambda2 = a.data.shift;
      scale->geo = a.data.geo_mean;
      if (!a.names.empty())
        for (size_t i = 1; i < view->use.size(); ++i)
          if (view->use[i] == TraitUse::Value) scale->shifts.push_back(view->shift[i]);
    }
    MixturePlot mix = mixture_plot(*sample.ped, sample.poly, q, title, scale ? &*scale : nullptr);
    files.push_back({"mixture.svg", std::move(mix.svg)});
    files.push_back({"mixture.tsv", std::move(mix.tsv)});
  }
  return files;
}

}  // namespace pedseg
