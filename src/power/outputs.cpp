// power.tsv, summary.tsv and pvalues.svg from the rows of a complete run.
#include <boost/math/special_functions/beta.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/cli.h"
#include "plot/svg.h"
#include "power/power.h"
#include "textio/textio.h"

namespace pedseg::power {

namespace {

// The values of a column, in replicate order, where the row has one.
std::vector<double> values(const Table& t, const std::string& name) {
  std::vector<double> v;
  const int32_t c = t.column(name);
  if (c < 0) return v;
  for (const auto& row : t.rows) {
    double x = 0.0;
    if (static_cast<size_t>(c) < row.size() && cli::to_real(row[static_cast<size_t>(c)], x))
      v.push_back(x);
  }
  return v;
}

}  // namespace

Interval clopper_pearson(int64_t x, int64_t n, double alpha) {
  Interval i;
  if (n <= 0) return i;
  const double a = static_cast<double>(x), b = static_cast<double>(n - x);
  if (x > 0) i.low = boost::math::ibeta_inv(a, b + 1.0, alpha / 2.0);
  if (x < n) i.high = boost::math::ibeta_inv(a + 1.0, b, 1.0 - alpha / 2.0);
  return i;
}

std::string power_tsv(const Table& t) {
  const std::vector<double> p = values(t, "p");
  std::string s = "alpha\ttested\trejections\tpower\tci_low\tci_high\n";
  for (double alpha : POWER_ALPHAS) {
    int64_t x = 0;
    for (double v : p) x += v <= alpha ? 1 : 0;
    const auto n = static_cast<int64_t>(p.size());
    const Interval ci = clopper_pearson(x, n, POWER_INTERVAL_ALPHA);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", alpha);
    s += std::string(buf) + "\t" + std::to_string(n) + "\t" + std::to_string(x) + "\t" +
         (n > 0 ? real17(static_cast<double>(x) / static_cast<double>(n)) : "") + "\t" +
         (n > 0 ? real17(ci.low) : "") + "\t" + (n > 0 ? real17(ci.high) : "") + "\n";
  }
  return s;
}

std::string summary_tsv(const Design& d, const Table& t) {
  std::string s = "parameter\ttruth\tn\tmean\tsd\tbias\trmse\n";
  for (int32_t i : d.alt_free) {
    const std::vector<double> v = values(t, std::string("alt_") + PARAM_NAME[i]);
    const double truth = d.truth[i];
    const auto n = static_cast<double>(v.size());
    double sum = 0.0, sq = 0.0;
    for (double x : v) sum += x;
    const double mean = sum / n;
    double dev = 0.0;
    for (double x : v) {
      dev += (x - mean) * (x - mean);
      sq += (x - truth) * (x - truth);
    }
    s += std::string(PARAM_NAME[i]) + "\t" + real17(truth) + "\t" + std::to_string(v.size()) + "\t";
    if (v.empty()) {
      s += "\t\t\t\n";
      continue;
    }
    s += real17(mean) + "\t" + (v.size() > 1 ? real17(std::sqrt(dev / (n - 1.0))) : "") + "\t" +
         real17(mean - truth) + "\t" + real17(std::sqrt(sq / n)) + "\n";
  }
  return s;
}

std::string pvalues_svg(const Design& d, const Table& t) {
  SvgDocument doc(640, 480);
  const std::string test = std::string(model_name(d.null)) + " vs " + model_name(d.alt);
  const Stroke diagonal{"#888888", 1.0, "4 3"};
  if (d.truth_under_null) {
    // -log10 p against its expectation under the uniform.
    std::vector<double> p = values(t, "p");
    std::sort(p.begin(), p.end());
    const auto n = static_cast<double>(p.size());
    std::vector<std::pair<double, double>> pts;
    double top = 1.0;
    for (size_t k = 0; k < p.size(); ++k) {
      const double e = -std::log10((static_cast<double>(k) + 0.5) / n);
      const double o = -std::log10(std::max(p[k], 1e-300));
      pts.emplace_back(e, o);
      top = std::max({top, e, o});
    }
    Chart c(doc, 70, 40, 540, 380, 0.0, top, 0.0, top);
    c.segment(0.0, 0.0, c.xticks().hi, c.xticks().hi, diagonal);
    for (const auto& [x, y] : pts) c.point(x, y, "#1f77b4");
    c.axes("expected -log10 p (uniform)", "observed -log10 p",
           "p of " + test + ", " + std::to_string(p.size()) + " replicates under the null");
    c.legend({{"replicates", Stroke{"#1f77b4", 3.0, ""}, true}, {"p uniform", diagonal, false}});
  } else {
    const std::vector<double> x = values(t, "statistic");
    double top = 1.0;
    for (double v : x) top = std::max(top, v);
    const Ticks ticks = nice_ticks(0.0, top, 10);
    const int bins = 20;
    const double width = (ticks.hi - ticks.lo) / bins;
    std::vector<int> count(bins, 0);
    for (double v : x) count[std::clamp(static_cast<int>((v - ticks.lo) / width), 0, bins - 1)] += 1;
    const int most = std::max(1, *std::max_element(count.begin(), count.end()));
    Chart c(doc, 70, 40, 540, 380, ticks.lo, ticks.hi, 0.0, most);
    for (int b = 0; b < bins; ++b)
      if (count[b] > 0) c.bar(ticks.lo + b * width, ticks.lo + (b + 1) * width, count[b], "#1f77b4", "#ffffff");
    c.axes("likelihood-ratio statistic", "replicates",
           "statistic of " + test + ", " + std::to_string(x.size()) + " replicates");
  }
  return doc.str();
}

}  // namespace pedseg::power
