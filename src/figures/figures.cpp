// The figures of a fit.

#include "figures/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "model/trait_view.h"
#include "params/codes.h"
#include "plot/svg.h"

namespace pedseg {

namespace {

const char* const GENOTYPE_COLOUR[4] = {"", "#d62728", "#2ca02c", "#1f77b4"};
const char* const BAR_COLOUR = "#c8c8c8";

// The trait values as the penetrance reads them: missing at -998 and below,
// in the spike above 998.
enum class TraitKind { missing, spike, value };
TraitKind trait_kind(float y) {
  if (trait_missing(y)) return TraitKind::missing;
  if (trait_in_spike(y)) return TraitKind::spike;
  return TraitKind::value;
}

std::string real(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Density of genotype g outside the spike, weighted by its frequency.
double genotype_density(double y, int g, const ModelQuantities& m, const PolyTables& poly) {
  if (!(m.RES_VAR > 0.0)) return 0.0;
  double s = 0.0;
  for (int k = 1; k <= poly.NCLASS; ++k) {
    const double z = y - (m.GEN_MEAN[g] + (k - 4) * m.POLY_EFFECT);
    s += poly.POLY_PRIOR[k] * std::exp(-0.5 * z * z / m.RES_VAR);
  }
  return m.GEN_FREQ[g] * (1.0 - m.SPIKE_PROB[g]) * s / std::sqrt(2.0 * M_PI * m.RES_VAR);
}

// The same as a density of the trait as measured under an analysis.
double measured_density(double y, int g, const ModelQuantities& m, const PolyTables& poly,
                        const MixtureScale& scale) {
  double z = y, slope = 1.0;
  if (scale.transformed) {
    const double u = y + scale.lambda2;
    if (!(u > 0.0)) return 0.0;
    z = box_cox(u, scale.lambda1, scale.geo);
    slope = std::pow(u / scale.geo, scale.lambda1 - 1.0);
  }
  if (scale.shifts.empty()) return genotype_density(z, g, m, poly) * slope;
  double s = 0.0;
  for (double shift : scale.shifts) s += genotype_density(z - shift, g, m, poly);
  return s / static_cast<double>(scale.shifts.size()) * slope;
}

// The top of a y range from `lo` that keeps `share` of the plot's height free
// above `top`.
double with_room(double lo, double top, double share) {
  return top + share / (1.0 - share) * (top - lo);
}

// A figure is drawn again, with more room above its data, while its legend
// finds no corner where it covers nothing: this share of the plot's height at
// attempt k (none at first, then what the legend needs, then more).
constexpr int LEGEND_ATTEMPTS = 5;
double legend_room(int k, const std::vector<Chart::LegendEntry>& entries, double height) {
  if (k == 0) return 0.0;
  return std::min(0.9, (Chart::legend_size(entries).second + 16.0) / height + 0.1 * (k - 1));
}

}  // namespace

MixturePlot mixture_plot(const PedigreeTables& ped, const PolyTables& poly,
                         const ModelQuantities& model, std::string_view title,
                         const MixtureScale* scale) {
  std::vector<double> values;
  int spike = 0;
  const int32_t nfam = ped.PED_START[0];
  for (int32_t i = ped.PED_START[1] + 1; i <= ped.PED_START[nfam + 1]; ++i) {
    switch (trait_kind(ped.TRAIT[i])) {
      case TraitKind::value: values.push_back(ped.TRAIT[i]); break;
      case TraitKind::spike: ++spike; break;
      case TraitKind::missing: break;
    }
  }
  const double measured = static_cast<double>(values.size()) + spike;
  double lo = 0.0, hi = 1.0;
  if (!values.empty()) {
    lo = *std::min_element(values.begin(), values.end());
    hi = *std::max_element(values.begin(), values.end());
  }
  // Bins of a nice width, about 1.5 times the square root of the count of
  // values (from 0.6 to 1.5 times as many after rounding to a nice width).
  const int nbins = std::clamp(static_cast<int>(std::sqrt(static_cast<double>(values.size()))), 10, 50);
  const Ticks bins = nice_ticks(lo, hi, nbins + nbins / 2);
  const int nb = std::max(1, static_cast<int>(std::lround((bins.hi - bins.lo) / bins.step)));
  std::vector<double> count(static_cast<size_t>(nb), 0.0);
  for (double y : values)
    count[std::clamp(static_cast<int>(std::floor((y - bins.lo) / bins.step)), 0, nb - 1)] += 1.0;
  std::vector<double> hist(count.size());
  for (size_t b = 0; b < count.size(); ++b)
    hist[b] = measured > 0 ? count[b] / (measured * bins.step) : 0.0;

  // The fitted curves over the histogram's range widened by a tenth.
  const double pad = 0.1 * (bins.hi - bins.lo);
  const double x0 = bins.lo - pad, x1 = bins.hi + pad;
  constexpr int CURVE_POINTS = 241;
  std::vector<std::pair<double, double>> curve[4];
  for (int i = 0; i < CURVE_POINTS; ++i) {
    const double x = x0 + (x1 - x0) * i / (CURVE_POINTS - 1);
    double total = 0.0;
    for (int g = 1; g <= 3; ++g) {
      const double d = scale != nullptr ? measured_density(x, g, model, poly, *scale)
                                        : genotype_density(x, g, model, poly);
      curve[g].push_back({x, d});
      total += d;
    }
    curve[0].push_back({x, total});
  }
  double expected_spike = 0.0;
  for (int g = 1; g <= 3; ++g) expected_spike += model.GEN_FREQ[g] * model.SPIKE_PROB[g];
  const double observed_spike = measured > 0 ? spike / measured : 0.0;

  MixturePlot out;
  std::string& tsv = out.tsv;
  tsv = "series\tx_low\tx_high\tvalue\n";
  for (int b = 0; b < nb; ++b)
    tsv += "histogram\t" + real(bins.lo + b * bins.step) + '\t' +
           real(bins.lo + (b + 1) * bins.step) + '\t' + real(hist[b]) + '\n';
  const char* const series[4] = {"total", "genotype1", "genotype2", "genotype3"};
  for (int c = 0; c <= 3; ++c)
    for (const auto& [x, d] : curve[c])
      tsv += std::string(series[c]) + '\t' + real(x) + '\t' + real(x) + '\t' + real(d) + '\n';
  tsv += "spike_observed\t\t\t" + real(observed_spike) + '\n';
  tsv += "spike_expected\t\t\t" + real(expected_spike) + '\n';

  // Main panel, and the spike panel at its right when the sample has spike
  // values.
  double ymax = 0.0;
  for (double h : hist) ymax = std::max(ymax, h);
  for (const auto& [x, d] : curve[0]) ymax = std::max(ymax, d);
  if (!(ymax > 0.0)) ymax = 1.0;
  const bool spike_panel = spike > 0;
  const std::vector<Chart::LegendEntry> legend = {
      {"measured values", Stroke{BAR_COLOUR, 1, ""}, true},
      {"fitted density", Stroke{"#000000", 2.0, ""}},
      {"genotype 1", Stroke{GENOTYPE_COLOUR[1], 1.5, "6 3"}},
      {"genotype 2", Stroke{GENOTYPE_COLOUR[2], 1.5, "6 3"}},
      {"genotype 3", Stroke{GENOTYPE_COLOUR[3], 1.5, "6 3"}}};
  constexpr double HEIGHT = 360;
  for (int k = 0;; ++k) {
    SvgDocument doc(820, 480);
    Chart main(doc, 80, 50, spike_panel ? 560 : 700, HEIGHT, x0, x1, 0.0,
               with_room(0.0, ymax, legend_room(k, legend, HEIGHT)));
    main.axes("trait value", "density", title);
    for (int b = 0; b < nb; ++b)
      main.bar(bins.lo + b * bins.step, bins.lo + (b + 1) * bins.step, hist[b], BAR_COLOUR,
               "#ffffff");
    for (int g = 1; g <= 3; ++g) main.curve(curve[g], Stroke{GENOTYPE_COLOUR[g], 1.5, "6 3"});
    main.curve(curve[0], Stroke{"#000000", 2.0, ""});
    if (!main.legend(legend) && k + 1 < LEGEND_ATTEMPTS) continue;
    if (spike_panel) {
      const double smax = std::max({observed_spike, expected_spike, 0.01});
      Chart side(doc, 720, 50, 70, HEIGHT, 0.0, 2.0, 0.0, smax);
      side.axes("spike", "share of measured values", "", false);
      side.bar(0.2, 0.9, observed_spike, BAR_COLOUR);
      side.bar(1.1, 1.8, expected_spike, "none", "#000000");
      doc.text(side.px(0.55), 405, "obs.", 10, "middle");
      doc.text(side.px(1.45), 405, "exp.", 10, "middle");
    }
    out.svg = doc.str();
    return out;
  }
}

std::string profile_plot(std::string_view name, const ProfileResult& r, double max_lnl,
                         double estimate) {
  std::vector<std::pair<double, double>> pts;  // impossible points have no place on it
  for (size_t i = 0; i < r.value.size(); ++i)
    if (!impossible_lh(r.lnl[i])) pts.push_back({r.value[i], r.lnl[i]});
  double lmin = max_lnl - 2.0 * PROFILE_DROP_95;
  for (const auto& [x, l] : pts) lmin = std::min(lmin, l);
  const double xlo = pts.empty() ? estimate - 1 : pts.front().first;
  const double xhi = pts.empty() ? estimate + 1 : pts.back().first;
  const double level = max_lnl - PROFILE_DROP_95;
  const Stroke max_line{"#1f77b4", 1.0, ""}, drop_line{"#d62728", 1.0, "6 3"},
      ci_line{"#999999", 1.0, "2 3"};
  const std::vector<Chart::LegendEntry> legend = {{"profile ln L", Stroke{"#000000", 2.0, ""}},
                                                  {"maximum", max_line},
                                                  {"maximum - 1.92 (95%)", drop_line},
                                                  {"95% interval", ci_line}};
  constexpr double HEIGHT = 320;
  const double top = max_lnl + 0.1 * (max_lnl - lmin);
  for (int k = 0;; ++k) {
    SvgDocument doc(640, 440);
    Chart c(doc, 90, 50, 510, HEIGHT, xlo, xhi, lmin,
            with_room(lmin, top, legend_room(k, legend, HEIGHT)));
    c.axes(name, "profile ln L", "profile likelihood of " + std::string(name));
    c.hline(max_lnl, max_line);
    c.hline(level, drop_line);
    // The interval's ends that were found, from the axis up to the drop.
    for (const IntervalEnd* e : {&r.low, &r.high})
      if (e->kind != EndKind::Unknown) c.segment(e->value, c.yticks().lo, e->value, level, ci_line);
    c.curve(pts, Stroke{"#000000", 2.0, ""});
    for (const auto& [x, l] : pts) c.point(x, l, "#000000", 2.5, 1.0);
    c.point(estimate, max_lnl, "#1f77b4", 4.0, 1.0);
    if (c.legend(legend) || k + 1 == LEGEND_ATTEMPTS) return doc.str();
  }
}

std::string posteriors_plot(const PedigreeLayout& layout, const PosteriorTable& post,
                            std::string_view title) {
  struct Fam {
    int size;
    double carriers[3];
  };
  std::vector<Fam> fams;
  for (int32_t f = 1; f <= layout.nfam(); ++f) {
    const FamilyLayout& fam = layout[f];
    if (!fam.evaluated) continue;
    Fam x{fam.size, {0.0, 0.0, 0.0}};
    for (int32_t i = fam.start + 1; i <= fam.start + fam.size; ++i)
      for (int g = 1; g <= 2; ++g) x.carriers[g] += post.ind[i].p[g];
    if (std::isfinite(x.carriers[1]) && std::isfinite(x.carriers[2])) fams.push_back(x);
  }
  double smax = 1.0, cmax = 0.0;
  for (const Fam& x : fams) {
    smax = std::max(smax, static_cast<double>(x.size));
    cmax = std::max({cmax, x.carriers[1], x.carriers[2]});
  }
  const std::vector<Chart::LegendEntry> legend = {
      {"genotype 1", Stroke{GENOTYPE_COLOUR[1], 1, ""}, true},
      {"genotype 2", Stroke{GENOTYPE_COLOUR[2], 1, ""}, true}};
  constexpr double HEIGHT = 320;
  if (!(cmax > 0.0)) cmax = 1.0;
  for (int k = 0;; ++k) {
    SvgDocument doc(640, 440);
    Chart c(doc, 80, 50, 520, HEIGHT, 0.0, smax, 0.0,
            with_room(0.0, cmax, legend_room(k, legend, HEIGHT)));
    c.axes("family size", "expected number of carriers", title);
    // The two genotypes side by side at each size.
    for (const Fam& x : fams)
      for (int g = 1; g <= 2; ++g)
        c.point(x.size + (g == 1 ? -0.12 : 0.12), x.carriers[g], GENOTYPE_COLOUR[g], 3.0, 0.6);
    if (c.legend(legend) || k + 1 == LEGEND_ATTEMPTS) return doc.str();
  }
}

}  // namespace pedseg
