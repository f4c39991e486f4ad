#include "models/analysis.h"

#include <Eigen/Dense>
#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "models/models.h"
#include "params/codes.h"
#include "textio/textio.h"

namespace pedseg {

namespace {

// The lambda1 at which the fits start.
double lambda1_start(const TraitAnalysis& a) {
  return a.data.transform == Transform::Log ? 0.0 : 1.0;
}

// The analysed value of global number i at lambda1 (no covariates).
double analysed_value(const TraitData& d, size_t i, double l1) {
  return d.transform == Transform::None ? d.y[i] : box_cox(d.y[i] + d.shift, l1, d.geo_mean);
}

}  // namespace

TraitAnalysis make_analysis(const SampleTables& sample, const AnalysisOptions& options) {
  TraitAnalysis a;
  const CovariateTable* table = sample.covariates ? &*sample.covariates : nullptr;
  std::vector<int32_t> columns;
  if (options.covariates) {
    for (const std::string& name : *options.covariates) {
      int32_t found = -1;
      for (int32_t j = 0; table != nullptr && j < table->count(); ++j)
        if (table->names[j] == name) found = j;
      if (found < 0)
        throw InputError{table == nullptr
                             ? "--covariates " + name + ": the folder has no " +
                                   COVARIATES_FILE_NAME
                             : "--covariates " + name + ": not a column of " +
                                   COVARIATES_FILE_NAME};
      if (std::find(columns.begin(), columns.end(), found) == columns.end())
        columns.push_back(found);
    }
    std::sort(columns.begin(), columns.end());
  } else if (table != nullptr) {
    for (int32_t j = 0; j < table->count(); ++j) columns.push_back(j);
  }
  const PedigreeTables& ped = *sample.ped;
  const int32_t nind = ped.PED_START[ped.PED_START[0] + 1];
  const int32_t ncov = static_cast<int32_t>(columns.size());
  std::vector<double> x((static_cast<size_t>(nind) + 1) * static_cast<size_t>(ncov), 0.0);
  for (int32_t i = 1; i <= nind; ++i)
    for (int32_t j = 0; j < ncov; ++j)
      x[static_cast<size_t>(i) * ncov + j] = table->at(i, columns[j]);
  for (int32_t c : columns) a.names.push_back(table->names[c]);
  if (ncov > 0) a.first_beta = NPAR_USED + 1;
  if (options.transform != Transform::None) {
    a.lambda1 = NPAR_USED + ncov + 1;
    a.lambda2 = NPAR_USED + ncov + 2;
  }
  try {
    a.data = build_trait_data(ped, x, ncov, options.transform, options.shift);
  } catch (const std::invalid_argument& e) {
    throw InputError{e.what()};
  }
  if (!a.active()) return a;

  // The starts of the betas: least squares of the analysed values outside
  // the spike (at lambda1's start) on the centred covariates.
  const TraitData& d = a.data;
  std::vector<size_t> rows;
  for (size_t i = 1; i < d.use.size(); ++i)
    if (d.use[i] == TraitUse::Value) rows.push_back(i);
  const double l1 = lambda1_start(a);
  Eigen::MatrixXd X(static_cast<Eigen::Index>(rows.size()), ncov + 1);
  Eigen::VectorXd z(static_cast<Eigen::Index>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto ri = static_cast<Eigen::Index>(r);
    X(ri, 0) = 1.0;
    for (int32_t j = 0; j < ncov; ++j) X(ri, j + 1) = d.x[rows[r] * ncov + j];
    z(ri) = analysed_value(d, rows[r], l1);
  }
  const double zmean = rows.empty() ? 0.0 : z.mean();
  const double zsd =
      rows.size() > 1
          ? std::sqrt((z.array() - zmean).square().sum() / static_cast<double>(rows.size() - 1))
          : 1.0;
  Eigen::VectorXd coef = Eigen::VectorXd::Zero(ncov + 1);
  if (ncov > 0 && rows.size() > static_cast<size_t>(ncov) + 1)
    coef = X.colPivHouseholderQr().solve(z);
  for (int32_t j = 0; j < ncov; ++j) {
    if (!(d.sd[j] > 0.0))
      throw InputError{"covariate " + a.names[j] +
                       " does not vary among the individuals whose trait is analysed"};
    const double unit = (zsd > 0.0 ? zsd : 1.0) / d.sd[j];
    a.beta_step.push_back(BETA_STEP_SHARE * unit);
    a.beta_bound.push_back(BETA_BOUND_SHARE * unit);
    a.beta_start.push_back(std::clamp(coef(j + 1), -0.5 * a.beta_bound.back(),
                                      0.5 * a.beta_bound.back()));
  }
  return a;
}

ParamVector analysis_params(const ParamTable& par, const TraitAnalysis& a) {
  ParamVector v = slot_params(par);
  if (!a.active()) return v;
  const TraitData& d = a.data;
  for (size_t j = 0; j < a.names.size(); ++j)
    add_param(v, "beta_" + a.names[j], a.beta_start[j], a.beta_step[j], -a.beta_bound[j],
              a.beta_bound[j], 1);
  if (d.transform == Transform::None) return v;
  const bool log = d.transform == Transform::Log;
  add_param(v, "lambda1", lambda1_start(a), LAMBDA1_STEP, LAMBDA1_LOW, LAMBDA1_HIGH, log ? 0 : 1);
  add_param(v, "lambda2", d.shift, 0.0, d.shift, d.shift, 0);

  // The means on the analysis scale.
  double low = std::numeric_limits<double>::infinity(), high = -low;
  const int steps = log ? 0 : 12;
  for (int s = 0; s <= steps; ++s) {
    const double l1 = log ? 0.0 : LAMBDA1_LOW + (LAMBDA1_HIGH - LAMBDA1_LOW) * s / steps;
    for (size_t i = 1; i < d.use.size(); ++i) {
      if (d.use[i] != TraitUse::Value) continue;
      const double zi = analysed_value(d, i, l1);
      low = std::min(low, zi);
      high = std::max(high, zi);
    }
  }
  if (!(low <= high)) return v;
  const double room = std::max(high - low, 1.0);
  const double l1 = lambda1_start(a);
  for (int32_t g = 1; g <= 3; ++g) {
    const int32_t m = mean_slot(g);
    v.low[m] = low - room;
    v.high[m] = high + room;
    const double u = v.value[m] + d.shift;
    const double start = u > 0.0 ? box_cox(u, l1, d.geo_mean) : low;
    v.value[m] = std::clamp(start, v.low[m] + 0.01 * room, v.high[m] - 0.01 * room);
  }
  return v;
}

std::vector<double> analysed_residuals(const TraitAnalysis& a) {
  const TraitData& d = a.data;
  const double l1 = lambda1_start(a);
  std::vector<double> out;
  for (size_t i = 1; i < d.use.size(); ++i) {
    if (d.use[i] != TraitUse::Value) continue;
    double r = analysed_value(d, i, l1);
    for (int32_t j = 0; j < d.ncov; ++j) r -= a.beta_start[j] * d.x[i * d.ncov + j];
    out.push_back(r);
  }
  return out;
}

std::string covariates_tsv(const TraitAnalysis& a, const SampleTables& sample) {
  std::string s = "covariate\tcentre\tsd\tanalysed\tmissing\n";
  const PedigreeTables& ped = *sample.ped;
  const int32_t nind = ped.PED_START[ped.PED_START[0] + 1];
  const CovariateTable& table = *sample.covariates;
  for (size_t j = 0; j < a.names.size(); ++j) {
    int32_t column = 0;
    for (int32_t c = 0; c < table.count(); ++c)
      if (table.names[c] == a.names[j]) column = c;
    int32_t missing = 0;
    for (int32_t i = 1; i <= nind; ++i)
      if (trait_above_missing(ped.TRAIT[i]) && std::isnan(table.at(i, column))) ++missing;
    s += a.names[j] + "\t" + real17(a.data.centre[j]) + "\t" + real17(a.data.sd[j]) + "\t" +
         std::to_string(a.data.analysed) + "\t" + std::to_string(missing) + "\n";
  }
  return s;
}

std::optional<SexDifference> sex_difference(const SampleTables& sample) {
  if (!sample.covariates) return std::nullopt;
  const CovariateTable& table = *sample.covariates;
  int32_t column = -1;
  for (int32_t c = 0; c < table.count(); ++c)
    if (table.names[c] == "sex") column = c;
  if (column < 0) return std::nullopt;
  const PedigreeTables& ped = *sample.ped;
  const int32_t nind = ped.PED_START[ped.PED_START[0] + 1];
  double sum[2] = {0.0, 0.0}, ss[2] = {0.0, 0.0};
  int32_t n[2] = {0, 0};
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t i = 1; i <= nind; ++i) {
      const float y = ped.TRAIT[i];
      const double sex = table.at(i, column);
      if (!trait_above_missing(y) || trait_in_spike(y) || !(sex == 0.0 || sex == 1.0)) continue;
      const int k = sex == 1.0 ? 0 : 1;
      if (pass == 0) {
        sum[k] += static_cast<double>(y);
        ++n[k];
      } else {
        const double dv = static_cast<double>(y) - sum[k] / n[k];
        ss[k] += dv * dv;
      }
    }
  if (n[0] < 2 || n[1] < 2) return std::nullopt;
  SexDifference r;
  r.men = n[0];
  r.women = n[1];
  r.mean_men = sum[0] / n[0];
  r.mean_women = sum[1] / n[1];
  const double v0 = ss[0] / (n[0] - 1) / n[0], v1 = ss[1] / (n[1] - 1) / n[1];
  if (!(v0 + v1 > 0.0)) return std::nullopt;
  r.t = (r.mean_men - r.mean_women) / std::sqrt(v0 + v1);
  r.df = (v0 + v1) * (v0 + v1) / (v0 * v0 / (n[0] - 1) + v1 * v1 / (n[1] - 1));
  const boost::math::students_t dist(r.df);
  r.p = 2.0 * boost::math::cdf(boost::math::complement(dist, std::fabs(r.t)));
  return r;
}

std::string sex_guard_text(const SexDifference& d) {
  char buf[400];
  std::snprintf(buf, sizeof buf,
                "warning: the measured values of men (mean %.4g, %d) and women (mean %.4g, %d) "
                "differ clearly (Welch t %.2f, p %.2e) and sex is not a covariate: a sex "
                "difference can pass for a major gene; write it with ped2iway --covariates sex "
                "and fit with --covariates sex",
                d.mean_men, d.men, d.mean_women, d.women, d.t, d.p);
  return buf;
}

std::string covariates_block(const ModelsRun& run, ModelKind focus, const TraitAnalysis& a) {
  const ModelResult* r = run.find(focus);
  const bool have = r != nullptr && r->fitted;
  char buf[256];
  std::string s = "\n";
  if (!a.names.empty()) {
    s += std::string("Covariates (centred on their means over the ") +
         std::to_string(a.data.analysed) + " analysed individuals; effects in the " +
         model_name(focus) + " model, Wald p):\n";
    std::snprintf(buf, sizeof buf, "  %-16s %12s %12s %12s %10s\n", "covariate", "centre",
                  "beta", "se", "p");
    s += buf;
    for (size_t j = 0; j < a.names.size(); ++j) {
      const int32_t e = a.first_beta + static_cast<int32_t>(j);
      std::string beta = "-", se = "", p = "";
      if (have) {
        std::snprintf(buf, sizeof buf, "%.6f", r->estimate.value[e]);
        beta = buf;
        if (r->se[e]) {
          std::snprintf(buf, sizeof buf, "%.6f", *r->se[e]);
          se = buf;
          const double z = r->estimate.value[e] / *r->se[e];
          std::snprintf(buf, sizeof buf, "%.2e", std::erfc(std::fabs(z) / std::sqrt(2.0)));
          p = buf;
        }
      }
      std::snprintf(buf, sizeof buf, "  %-16s %12.6f %12s %12s %10s\n", a.names[j].c_str(),
                    a.data.centre[j], beta.c_str(), se.c_str(), p.c_str());
      s += buf;
    }
  }
  if (a.data.transform != Transform::None) {
    const bool log = a.data.transform == Transform::Log;
    std::snprintf(buf, sizeof buf,
                  "Transformation: %s, lambda2 %.6g, geometric mean g %.6g of %d values",
                  log ? "log (lambda1 = 0)" : "Box-Cox", a.data.shift, a.data.geo_mean,
                  a.data.values);
    s += buf;
    if (have && !log) {
      std::snprintf(buf, sizeof buf, "; lambda1 %.6f", r->estimate.value[a.lambda1]);
      s += buf;
      if (r->se[a.lambda1]) {
        std::snprintf(buf, sizeof buf, " (se %.6f)", *r->se[a.lambda1]);
        s += buf;
      }
      s += std::string(" in the ") + model_name(focus) + " model";
    }
    s += "\n";
  }
  return s;
}

}  // namespace pedseg
