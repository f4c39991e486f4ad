// The starting points of a model's fit.
#include "models/starts.h"

#include <boost/random/sobol.hpp>

#include <algorithm>
#include <cmath>

#include "models/models.h"
#include "params/codes.h"

namespace pedseg {

namespace {

// The allele frequencies of the mixture starts, and the iterations of the
// mixture fit (EM on the trait values, the families ignored).
constexpr double MIXTURE_Q[] = {0.05, 0.15, 0.3, 0.5};
constexpr int MIXTURE_ITERATIONS = 30;
// The share of the variance the polygenic effect takes in the second set
// of mixture starts (the first takes the share of a start without a gene).
constexpr double POLYGENIC_SHARE = 0.9;
// Orders of the genotypes: the genotype at g-1 takes the place of g.
constexpr int32_t ORDERS[6][3] = {{1, 2, 3}, {3, 2, 1}, {2, 1, 3}, {1, 3, 2}, {2, 3, 1}, {3, 1, 2}};
// Transmission patterns of the general model's starts (tau1, tau2, tau3;
// a negative value stands for q): Mendelian, reversed, no transmission, the
// corners where the heterozygote transmits like one homozygote, and every
// parent passing on the same allele.
constexpr double TAU_PATTERNS[][3] = {{1.0, 0.5, 0.0}, {0.0, 0.5, 1.0}, {-1.0, -1.0, -1.0},
                                      {1.0, 1.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 1.0},
                                      {0.0, 0.0, 1.0}, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}};
// How far inside its bounds a start puts a value (share of the range).
constexpr double INSIDE = 1.0E-3;
// The quasi-random starts: probabilities uniform on the logit scale within
// this of 0, means between these quantiles of the trait, the residual
// variance uniform on the log scale from this share of the trait's variance
// to all of it, and the polygenic effect uniform up to the trait's
// variance.
constexpr double RANDOM_LOGIT_RANGE = 4.0;
constexpr double RANDOM_MEAN_QUANTILE = 0.02;
constexpr double RANDOM_VARIANCE_SHARE = 0.02;
// The analysis's entries spread this many steps either side of their starts.
constexpr double EXTRA_SPREAD_STEPS = 5.0;

void set_inside(ParamVector& t, int32_t i, double v) {
  if (!is_free(t, i)) return;
  const double margin = INSIDE * (t.high[i] - t.low[i]);
  t.value[i] = std::clamp(v, t.low[i] + margin, t.high[i] - margin);
}

bool means_differ(const ParamVector& t) {
  return t.value[SLOT_MEAN1] != t.value[SLOT_MEAN2] || t.value[SLOT_MEAN2] != t.value[SLOT_MEAN3];
}

// The genotypes' means and spike probabilities in another order.
ParamVector reordered(const ParamVector& t, const int32_t (&order)[3]) {
  ParamVector u = t;
  for (int32_t g = 1; g <= 3; ++g) {
    const int32_t h = order[g - 1];
    if (is_free(u, mean_slot(g))) u.value[mean_slot(g)] = t.value[mean_slot(h)];
    if (is_free(u, spike_slot(g))) u.value[spike_slot(g)] = t.value[spike_slot(h)];
  }
  return u;
}

double quantile(const std::vector<float>& v, double p) {
  const size_t k = static_cast<size_t>(std::floor(std::clamp(p, 0.0, 1.0) * (v.size() - 1)));
  return static_cast<double>(v[k]);
}

double polygenic_variance_of(const ParamVector& t) {
  const double b = t.value[SLOT_POLY_EFFECT];
  return 1.5 * b * b;
}

// The share of the trait variance the polygenic effect takes at `t`.
double polygenic_share(const ParamVector& t) {
  const double p = polygenic_variance_of(t), v = t.value[SLOT_RES_VAR];
  return p + v > 0.0 ? p / (p + v) : 0.0;
}

// A mixture of the three genotypes fitted to the trait values (families
// ignored) at t's q: the means in the order `order` (lowest first) at the
// quantiles the genotype frequencies imply, then EM on the free means, spike
// probabilities and the total variance, which the polygenic effect and the
// residual variance share as in `t`.
ParamVector mixture_start(const ParamVector& t, const TraitSummary& traits,
                          const int32_t (&order)[3]) {
  ParamVector u = t;
  const double q = u.value[SLOT_Q];
  const double f[4] = {0.0, q * q, 2.0 * q * (1.0 - q), (1.0 - q) * (1.0 - q)};
  double mean[4], spike[4];
  double below = 0.0;
  for (int32_t r = 0; r < 3; ++r) {
    const int32_t g = order[r];
    mean[g] = is_free(u, mean_slot(g)) ? quantile(traits.values, below + f[g] / 2.0)
                                       : u.value[mean_slot(g)];
    below += f[g];
  }
  for (int32_t g = 1; g <= 3; ++g) spike[g] = u.value[spike_slot(g)];
  const double share = polygenic_share(u);
  double var = traits.variance;
  const double n_out = static_cast<double>(traits.values.size());
  for (int it = 0; it < MIXTURE_ITERATIONS && n_out > 0.0; ++it) {
    double n[4] = {}, sum[4] = {}, ss = 0.0;
    for (float y : traits.values) {
      double p[4], total = 0.0;
      for (int32_t g = 1; g <= 3; ++g) {
        const double d = static_cast<double>(y) - mean[g];
        p[g] = f[g] * (1.0 - spike[g]) * std::exp(-0.5 * d * d / var);
        total += p[g];
      }
      if (!(total > 0.0)) continue;
      for (int32_t g = 1; g <= 3; ++g) {
        const double d = static_cast<double>(y) - mean[g];
        n[g] += p[g] / total;
        sum[g] += p[g] / total * static_cast<double>(y);
        ss += p[g] / total * d * d;
      }
    }
    if (ss > 0.0) var = ss / n_out;
    double spiked = 0.0;
    for (int32_t g = 1; g <= 3; ++g) spiked += f[g] * spike[g];
    double in_spike[4] = {};
    for (int32_t g = 1; g <= 3; ++g) {
      in_spike[g] = spiked > 0.0 ? traits.spike * f[g] * spike[g] / spiked : 0.0;
      if (n[g] > 0.0 && is_free(u, mean_slot(g))) mean[g] = sum[g] / n[g];
    }
    // A spike probability is the share of its group (the genotypes linked
    // together) in the spike.
    for (int32_t g = 1; g <= 3; ++g) {
      const int32_t head = u.link[spike_slot(g)];
      if (head != spike_slot(g) || !is_free(u, head)) continue;
      double a = 0.0, b = 0.0;
      for (int32_t h = 1; h <= 3; ++h) {
        if (u.link[spike_slot(h)] != head) continue;
        a += in_spike[h];
        b += in_spike[h] + n[h];
      }
      if (b > 0.0) spike[g] = a / b;
    }
    for (int32_t g = 1; g <= 3; ++g) {
      const int32_t head = u.link[spike_slot(g)];
      if (head != spike_slot(g) && head >= SLOT_SPIKE1 && head <= SLOT_SPIKE3)
        spike[g] = spike[head - SLOT_SPIKE1 + 1];
    }
  }
  for (int32_t g = 1; g <= 3; ++g) {
    if (is_free(u, mean_slot(g))) u.value[mean_slot(g)] = mean[g];
    set_inside(u, spike_slot(g), spike[g]);
  }
  if (is_free(u, SLOT_POLY_EFFECT)) set_inside(u, SLOT_POLY_EFFECT, std::sqrt(share * var / 1.5));
  set_inside(u, SLOT_RES_VAR, is_free(u, SLOT_POLY_EFFECT) ? (1.0 - share) * var : var);
  return u;
}

// `t` with the polygenic effect taking `share` of the variance the residual
// and the polygenic effect make together.
ParamVector with_share(const ParamVector& t, double share) {
  ParamVector u = t;
  const double total = polygenic_variance_of(t) + t.value[SLOT_RES_VAR];
  set_inside(u, SLOT_POLY_EFFECT, std::sqrt(share * total / 1.5));
  set_inside(u, SLOT_RES_VAR, (1.0 - share) * total);
  return u;
}

ParamVector with_taus(const ParamVector& t, const double (&pattern)[3]) {
  ParamVector u = t;
  for (int32_t g = 1; g <= 3; ++g)
    set_inside(u, tau_slot(g), pattern[g - 1] < 0.0 ? u.value[SLOT_Q] : pattern[g - 1]);
  return u;
}

void add(std::vector<Start>& starts, Start s) {
  for (const Start& t : starts)
    if (same_start(t.point, s.point)) return;
  starts.push_back(std::move(s));
}

}  // namespace

ParamVector warm_start(const ParamVector& start, const ParamVector& nested) {
  ParamVector t = start;
  for (int32_t i = 1; i <= t.size(); ++i)
    if (start.est[i] != 0 || start.link[i] != i) t.value[i] = nested.value[i];
  return t;
}

ParamVector evaluable(const ParamVector& point) {
  ParamVector t = point;
  for (int32_t i = 1; i <= t.size(); ++i)
    if (t.est[i] != 0 && (t.value[i] <= t.low[i] || t.value[i] >= t.high[i])) t.est[i] = 0;
  return t;
}

bool same_start(const ParamVector& a, const ParamVector& b) {
  return a.value == b.value && a.est == b.est && a.link == b.link && a.step == b.step;
}

namespace {

// Sorts the values and sets their mean and variance.
TraitSummary summarised(TraitSummary t) {
  std::sort(t.values.begin(), t.values.end());
  for (float y : t.values) t.mean += static_cast<double>(y);
  if (!t.values.empty()) t.mean /= static_cast<double>(t.values.size());
  for (float y : t.values) t.variance += (static_cast<double>(y) - t.mean) * (static_cast<double>(y) - t.mean);
  if (!t.values.empty()) t.variance /= static_cast<double>(t.values.size());
  return t;
}

}  // namespace

TraitSummary trait_summary(const SampleTables& s) {
  TraitSummary t;
  const PedigreeTables& ped = *s.ped;
  for (int32_t f = 1; f <= ped.NFAM; ++f)
    for (int32_t i = ped.PED_START[f] + 1; i <= ped.PED_START[f + 1]; ++i) {
      const float y = ped.TRAIT[i];
      if (!trait_above_missing(y)) continue;
      if (trait_in_spike(y)) {
        ++t.spike;
      } else {
        t.values.push_back(y);
      }
    }
  return summarised(t);
}

TraitSummary trait_summary(const std::vector<double>& values, int32_t spike) {
  TraitSummary t;
  t.spike = spike;
  for (double v : values) t.values.push_back(static_cast<float>(v));
  return summarised(t);
}

std::vector<Start> structured_starts(ModelKind kind, const ParamVector& base,
                                     const std::vector<Start>& nested,
                                     const TraitSummary& traits) {
  std::vector<Start> starts;
  add(starts, {base, "par.inp"});
  for (const Start& s : nested) add(starts, s);
  if (!has_gene(kind)) return starts;

  // Relabellings of base and the nested models' best estimates, and for the
  // general model transmission patterns on them.
  std::vector<Start> primary{{base, "par.inp"}};
  for (const Start& s : nested)
    if (s.primary && means_differ(s.point)) primary.push_back(s);
  for (const Start& s : primary)
    for (int k = 1; k < 6; ++k) add(starts, {reordered(s.point, ORDERS[k]), s.label + ", relabelled"});
  if (kind == ModelKind::General) {
    for (const Start& s : primary)
      for (const auto& pattern : TAU_PATTERNS) add(starts, {with_taus(s.point, pattern), s.label + ", taus"});
    return starts;
  }
  // Mixtures at a grid of q, each order of the means; the polygenic share of
  // the first start without a gene where there is one.
  ParamVector shares = base;
  for (const Start& s : nested)
    if (!means_differ(s.point)) {
      shares = s.point;
      break;
    }
  if (traits.values.empty()) return starts;
  for (double q : MIXTURE_Q) {
    ParamVector t = shares;
    set_inside(t, SLOT_Q, q);
    for (const auto& order : ORDERS)
      add(starts, {mixture_start(t, traits, order), "mixture at q " + std::to_string(q).substr(0, 4)});
  }
  if (is_free(base, SLOT_POLY_EFFECT) && is_free(base, SLOT_RES_VAR))
    for (double q : MIXTURE_Q) {
      ParamVector t = with_share(shares, POLYGENIC_SHARE);
      set_inside(t, SLOT_Q, q);
      for (const auto& order : ORDERS)
        add(starts, {mixture_start(t, traits, order), "polygenic mixture at q " + std::to_string(q).substr(0, 4)});
    }
  return starts;
}

struct QuasiRandomStarts::Sequence {
  boost::random::sobol engine;
  explicit Sequence(size_t dimension) : engine(dimension) {}
};

QuasiRandomStarts::QuasiRandomStarts(const ParamVector& base, const TraitSummary& traits)
    : base_(base) {
  const bool have = !traits.values.empty();
  for (int32_t i = 1; i <= base.size(); ++i) {
    if (!is_free(base, i)) continue;
    Spread s{Spread::Kind::Logit, base.low[i], base.high[i]};
    if (have && i >= SLOT_MEAN1 && i <= SLOT_MEAN3) {
      s = {Spread::Kind::Linear, quantile(traits.values, RANDOM_MEAN_QUANTILE),
           quantile(traits.values, 1.0 - RANDOM_MEAN_QUANTILE)};
    } else if (have && i == SLOT_RES_VAR) {
      s = {Spread::Kind::Log, RANDOM_VARIANCE_SHARE * traits.variance, traits.variance};
    } else if (have && i == SLOT_POLY_EFFECT) {
      s = {Spread::Kind::Linear, 0.0, std::sqrt(traits.variance / 1.5)};
    } else if (i > NPAR_USED) {
      // The analysis's entries (betas, lambda1): near their starts.
      s = {Spread::Kind::Linear, std::max(base.low[i], base.value[i] - EXTRA_SPREAD_STEPS * base.step[i]),
           std::min(base.high[i], base.value[i] + EXTRA_SPREAD_STEPS * base.step[i])};
    }
    entries_.push_back(i);
    spreads_.push_back(s);
  }
  sequence_ = std::make_unique<Sequence>(std::max<size_t>(1, entries_.size()));
  sequence_->engine.discard(std::max<size_t>(1, entries_.size()));  // the origin
}

QuasiRandomStarts::~QuasiRandomStarts() = default;

Start QuasiRandomStarts::next() {
  ParamVector t = base_;
  const double unit = 1.0 / (static_cast<double>(boost::random::sobol::max()) + 1.0);
  for (size_t a = 0; a < entries_.size(); ++a) {
    const double u = static_cast<double>(sequence_->engine()) * unit;
    const Spread& s = spreads_[a];
    const int32_t i = entries_[a];
    double v = 0.0;
    if (s.kind == Spread::Kind::Logit) {
      const double z = RANDOM_LOGIT_RANGE * (2.0 * u - 1.0);
      v = s.low + (s.high - s.low) / (1.0 + std::exp(-z));
    } else if (s.kind == Spread::Kind::Log) {
      v = s.low * std::exp(u * std::log(s.high / s.low));
    } else {
      v = s.low + u * (s.high - s.low);
    }
    t.value[i] = v;
    set_inside(t, i, v);
  }
  ++count_;
  return {t, "quasi-random " + std::to_string(count_)};
}

}  // namespace pedseg
