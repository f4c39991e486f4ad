// The figures: well-formed SVG with the expected elements, legends that
// cover no data, and the mixture's numbers on one scale (histogram and fitted
// density of the same area, the spike shares).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

#include "figures/figures.h"
#include "params/codes.h"
#include "likelihood/brute_force.h"
#include "plot/xml_check.h"

namespace {

struct Row {
  std::string series;
  double lo, hi, value;
};

std::vector<Row> read_tsv(const std::string& tsv) {
  std::istringstream in(tsv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "series\tx_low\tx_high\tvalue");
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream ls(line);
    for (std::string c; std::getline(ls, c, '\t');) f.push_back(c);
    EXPECT_EQ(f.size(), 4u) << line;
    auto num = [](const std::string& s) { return s.empty() ? 0.0 : std::stod(s); };
    rows.push_back({f[0], num(f[1]), num(f[2]), num(f[3])});
  }
  return rows;
}

TEST(Figures, MixtureAndOtherPlots) {
  double v[13] = {0, 0.3, 0.05, 0.1, 0.2, -1.0, 0.5, 2.0, 1.0, 0.5, 0.0, 0.4, 0.8};
  const bf::Model m = bf::model_from_params(v, false);
  pedseg::ModelQuantities q;
  pedseg::PolyTables poly;
  bf::model_to_tables(m, q, poly);
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  std::mt19937 rng(3);
  std::vector<bf::Structure> fams;
  for (int f = 0; f < 30; ++f) fams.push_back(bf::random_structure(rng, bf::GenOptions{}));
  fams.push_back({{-6.0f, 7.0f, 999.5f, -999.0f}, {}, {}});  // the range's ends, spike, missing
  bf::put_families(fams, *ped);
  int values = 0, spikes = 0;
  for (const auto& s : fams)
    for (float y : s.traits) {
      values += y > -998.0f && y <= 998.0f;
      spikes += y > 998.0f;
    }

  const pedseg::MixturePlot mix = pedseg::mixture_plot(*ped, poly, q, "mixed & <model>");
  std::map<std::string, int> n;
  EXPECT_EQ(xmltest::check(mix.svg, n), "");
  EXPECT_EQ(n["polyline"], 4);
  double hist_area = 0, curve_area = 0, obs = -1, expd = -1, prev_x = 0, prev_d = 0;
  int hist_bins = 0;
  for (const Row& r : read_tsv(mix.tsv)) {
    if (r.series == "histogram") {
      hist_area += (r.hi - r.lo) * r.value;
      ++hist_bins;
    } else if (r.series == "total") {
      if (prev_x != 0) curve_area += 0.5 * (r.lo - prev_x) * (r.value + prev_d);
      prev_x = r.lo;
      prev_d = r.value;
    } else if (r.series == "spike_observed") {
      obs = r.value;
    } else if (r.series == "spike_expected") {
      expd = r.value;
    }
  }
  const double want_spike = q.GEN_FREQ[1] * 0.05 + q.GEN_FREQ[2] * 0.1 + q.GEN_FREQ[3] * 0.2;
  EXPECT_GE(hist_bins, 9);
  EXPECT_EQ(n["rect"], 1 + hist_bins + 2 + 1 + 3);  // background, bars, spike bars, legend, frames
  EXPECT_EQ(xmltest::legend_covers(mix.svg), "");
  EXPECT_NEAR(hist_area, static_cast<double>(values) / (values + spikes), 1e-12);
  EXPECT_NEAR(obs, static_cast<double>(spikes) / (values + spikes), 1e-15);
  EXPECT_NEAR(expd, want_spike, 1e-15);
  EXPECT_NEAR(curve_area, 1.0 - want_spike, 1e-3);

  // On the trait's own scale under a transformation and covariate shifts:
  // still a density of y of the same area.
  pedseg::MixtureScale scale;
  scale.transformed = true;
  scale.lambda1 = 0.5;
  scale.lambda2 = 7.0;
  scale.geo = 7.0;
  scale.shifts = {8.2, 9.2};
  const pedseg::MixturePlot original = pedseg::mixture_plot(*ped, poly, q, "scale", &scale);
  double area = 0.0, mean = 0.0;
  prev_x = prev_d = 0.0;
  for (const Row& row : read_tsv(original.tsv))
    if (row.series == "total") {
      if (prev_x != 0) area += 0.5 * (row.lo - prev_x) * (row.value + prev_d);
      if (prev_x != 0) mean += 0.5 * (row.lo - prev_x) * (row.value + prev_d) * row.lo;
      prev_x = row.lo;
      prev_d = row.value;
    }
  EXPECT_NEAR(area, 1.0 - want_spike, 1e-3);
  EXPECT_GT(mean / area, 0.0);  // the mass moved with the shifts, through the transformation

  pedseg::ProfileResult r;
  r.value = {0.1, 0.2, 0.3};
  r.lnl = {-12.0, -10.0, -11.0};
  r.low = {0.15, pedseg::EndKind::Closed};
  r.high = {0.28, pedseg::EndKind::Closed};
  n.clear();
  const std::string profile = pedseg::profile_plot("q", r, -10.0, 0.2);
  EXPECT_EQ(xmltest::check(profile, n), "");
  EXPECT_EQ(n["line"] >= 4, true);
  EXPECT_EQ(xmltest::legend_covers(profile), "");
  // An impossible point has no place on the figure nor in its range.
  r.value.insert(r.value.begin(), 0.05);
  r.lnl.insert(r.lnl.begin(), pedseg::LH_SENTINEL);
  const std::string with_impossible = pedseg::profile_plot("q", r, -10.0, 0.2);
  EXPECT_EQ(with_impossible.find("e+"), std::string::npos);
  EXPECT_EQ(with_impossible.find(">0.05<"), std::string::npos);  // the x range starts at 0.1
  const pedseg::PedigreeLayout layout = pedseg::build_layout(*ped);
  pedseg::PosteriorTable post = pedseg::genotype_posteriors(*ped, layout, poly, q);
  n.clear();
  const std::string posteriors = pedseg::posteriors_plot(layout, post, "posteriors");
  EXPECT_EQ(xmltest::check(posteriors, n), "");
  EXPECT_EQ(xmltest::legend_covers(posteriors), "");
  int measured_families = 0;
  for (int f = 1; f <= ped->PED_START[0]; ++f) measured_families += ped->PED_WEIGHT[f] > 0;
  EXPECT_EQ(n["circle"], 2 * measured_families);
}

// Values piled at both ends of the range, none in the spike: no corner of
// the histogram is free, and there is no spike panel.
TEST(Figures, NoSpikePanelAndFreeLegend) {
  double v[13] = {0, 0.5, 0.0, 0.0, 0.0, 6.5, 0.5, -5.5, 1.0, 0.5, 0.0, 0.0, 0.3};
  const bf::Model m = bf::model_from_params(v, false);
  pedseg::ModelQuantities q;
  pedseg::PolyTables poly;
  bf::model_to_tables(m, q, poly);
  std::vector<bf::Structure> fams;
  for (int i = 0; i < 60; ++i)
    fams.push_back({{-6.0f + 0.01f * i, 7.0f - 0.01f * i, i % 10 == 0 ? 0.5f : -999.0f}, {}, {}});
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  bf::put_families(fams, *ped);
  const pedseg::MixturePlot mix = pedseg::mixture_plot(*ped, poly, q, "no spike");
  std::map<std::string, int> n;
  EXPECT_EQ(xmltest::check(mix.svg, n), "");
  int bins = 0;
  for (const Row& r : read_tsv(mix.tsv)) bins += r.series == "histogram";
  EXPECT_EQ(n["rect"], 1 + bins + 1 + 2);  // background, bars, legend, frame and legend sample
  EXPECT_EQ(mix.svg.find(">spike<"), std::string::npos);  // the panel's axis title
  EXPECT_EQ(xmltest::legend_covers(mix.svg), "");
}

}  // namespace
