// The figures of a fit, as SVG text, with the plotted numbers of the mixture
// as TSV text so that users can redraw them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "pedigree/pedigree.h"
#include "posteriors/posteriors.h"
#include "profile/profile.h"

namespace pedseg {

// mixture.svg: a histogram of the measured trait values (density scale) with
// the fitted density of the model: the total and one curve per major genotype
// g, GEN_FREQ(g) (1 - SPIKE_PROB(g)) times the mixture over the polygenic
// classes k with weights POLY_PRIOR(k) of normals with mean GEN_MEAN(g) +
// (k - 4) POLY_EFFECT and variance RES_VAR.  The curves and the histogram
// both have area = the share of values outside the spike; the spike values are
// a separate panel, drawn when the sample has any: the observed share and the
// share the model expects, sum of GEN_FREQ(g) SPIKE_PROB(g).  Every legend
// covers no curve, bar or point (room is made above the data when no corner
// is free).
//
// mixture.tsv, long format with a header line: series, x_low, x_high, value.
// Series: histogram (one row per bin, value = density), total, genotype1,
// genotype2, genotype3 (x_low = x_high = x), spike_observed and
// spike_expected (share of the measured values; x columns empty).
//
// Under an analysis (`scale`), the curves are still densities of the trait y
// as measured: with a transformation z(y) (box_cox of y + lambda2) the
// normal densities of z times dz/dy = ((y + lambda2) / geo)^(lambda1 - 1),
// and with covariates averaged over the analysed individuals' shifts of the
// class means.
struct MixturePlot {
  std::string svg;
  std::string tsv;
};
struct MixtureScale {
  bool transformed = false;
  double lambda1 = 1.0, lambda2 = 0.0, geo = 1.0;
  std::vector<double> shifts;  // of the analysed values; empty: no covariates
};
MixturePlot mixture_plot(const PedigreeTables& ped, const PolyTables& poly,
                         const ModelQuantities& model, std::string_view title,
                         const MixtureScale* scale = nullptr);

// profile_PARAM.svg: the profile ln L (its possible points), the maximum, the
// 95% threshold (maximum - 1.92) and the interval's ends that were found.
std::string profile_plot(std::string_view name, const ProfileResult& r, double max_lnl,
                         double estimate);

// posteriors.svg: for each family with a measured trait, the expected number
// of carriers of genotype 1 and of genotype 2 (sums of p1 and p2 over its
// members) against the family size.
std::string posteriors_plot(const PedigreeLayout& layout, const PosteriorTable& post,
                            std::string_view title);

}  // namespace pedseg
