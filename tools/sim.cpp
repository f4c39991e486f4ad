// Simulation of pedigrees, major genotypes, polygenic classes and traits.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "params/codes.h"
#include "params/params.h"
#include "pedsim.h"

namespace pedseg::tools {

// ---------------------------------------------------------------------------
// Random numbers.

uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

void rng_seed(Rng& rng, uint64_t seed) {
  uint64_t st = seed;
  for (auto& w : rng.s) w = splitmix64(st);
}

static inline uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

uint64_t rng_next(Rng& rng) {
  uint64_t* s = rng.s;
  const uint64_t result = rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

double rng_uniform(Rng& rng) {
  return static_cast<double>(rng_next(rng) >> 11) * 0x1.0p-53;
}

uint64_t rng_below(Rng& rng, uint64_t n) {
  // Reject the lowest (2^64 mod n) values so that every residue is equally likely.
  const uint64_t threshold = (0 - n) % n;
  for (;;) {
    uint64_t r = rng_next(rng);
    if (r >= threshold) return r % n;
  }
}

double det_log(double x) {
  int e = 0;
  double m = std::frexp(x, &e);  // x = m 2^e, m in [0.5, 1)
  if (m < 0.70710678118654752440) {
    m += m;
    --e;
  }
  // ln m = 2 atanh(s), s = (m-1)/(m+1), |s| < 0.1716: the series
  // 2 (s + s^3/3 + s^5/5 + ...) is exhausted by the 14th term.
  const double s = (m - 1.0) / (m + 1.0);
  const double s2 = s * s;
  double poly = 0.0;
  for (int k = 13; k >= 1; --k) poly = (poly + 1.0 / (2.0 * k + 1.0)) * s2;
  const double lnm = 2.0 * (s + s * poly);
  constexpr double LN2_HI = 0.6931471805599452862;   // ln 2 rounded to double
  constexpr double LN2_LO = 2.319046813846299558e-17;  // the remainder
  const double de = static_cast<double>(e);
  return de * LN2_HI + (de * LN2_LO + lnm);
}

double det_exp(double x) {
  // ln 2 split so that k * LN2_HI is exact for |k| < 2^11.
  constexpr double LN2_HI = 6.93147180369123816490e-01;
  constexpr double LN2_LO = 1.90821492927058770002e-10;
  const double k = std::floor(x / (LN2_HI + LN2_LO) + 0.5);
  const double r = (x - k * LN2_HI) - k * LN2_LO;  // |r| <= 0.35
  // The Taylor series of e^r, exhausted by the 18th term.
  double sum = 1.0;
  for (int n = 18; n >= 1; --n) sum = 1.0 + sum * r / static_cast<double>(n);
  return std::ldexp(sum, static_cast<int>(k));
}

double rng_normal(Rng& rng) {
  for (;;) {
    const double u = 2.0 * rng_uniform(rng) - 1.0;
    const double v = 2.0 * rng_uniform(rng) - 1.0;
    const double s = u * u + v * v;
    if (s >= 1.0 || s == 0.0) continue;
    return u * std::sqrt(-2.0 * det_log(s) / s);
  }
}

// ---------------------------------------------------------------------------
// Parameters.

namespace {

// Where slot `slot` of p is held; nullptr for a slot the model does not use.
template <class Params>
auto slot_field(Params& p, int slot) -> decltype(&p.q) {
  if (slot == SLOT_Q) return &p.q;
  for (int g = 1; g <= 3; ++g) {
    if (slot == spike_slot(g)) return &p.spike[g];
    if (slot == mean_slot(g)) return &p.mean[g];
    if (slot == tau_slot(g)) return &p.tau[g];
  }
  if (slot == SLOT_POLY_EFFECT) return &p.poly_effect;
  if (slot == SLOT_RES_VAR) return &p.res_var;
  return nullptr;
}

std::string slot_text(int slot) { return "(slot " + std::to_string(slot) + ")"; }

}  // namespace

bool set_slot(SimParams& p, int slot, double v) {
  double* field = slot_field(p, slot);
  if (field != nullptr) *field = v;
  return field != nullptr;
}

double get_slot(const SimParams& p, int slot) {
  const double* field = slot_field(p, slot);
  return field != nullptr ? *field : 0.0;
}

std::string check_params(const SimParams& p) {
  auto prob = [](double v) { return v >= 0.0 && v <= 1.0; };
  if (!prob(p.q)) return "q " + slot_text(SLOT_Q) + " must lie between 0 and 1";
  for (int g = 1; g <= 3; ++g) {
    if (!prob(p.spike[g]))
      return "spike probability " + slot_text(spike_slot(g)) + " must lie between 0 and 1";
    if (!prob(p.tau[g]))
      return "transmission probability " + slot_text(tau_slot(g)) + " must lie between 0 and 1";
    if (!std::isfinite(p.mean[g])) return "mean " + slot_text(mean_slot(g)) + " is not finite";
  }
  if (!std::isfinite(p.poly_effect))
    return "polygenic effect " + slot_text(SLOT_POLY_EFFECT) + " is not finite";
  if (!(p.res_var > 0.0) || !std::isfinite(p.res_var))
    return "residual variance " + slot_text(SLOT_RES_VAR) + " must be positive";
  // Simulated values must stay clear of the codes for missing (-998 and
  // below) and spike (above 998) values.
  const double reach = 3.0 * std::fabs(p.poly_effect) + 8.0 * std::sqrt(p.res_var);
  for (int g = 1; g <= 3; ++g)
    if (std::fabs(p.mean[g]) + reach >= static_cast<double>(TRAIT_SPIKE_LIMIT))
      return "means, polygenic effect and residual variance would give values at or beyond "
             "+-998, which the program reads as missing or spike";
  return {};
}

// ---------------------------------------------------------------------------
// One person's draws.

namespace {

// Number of q alleles of genotype g: 2, 1, 0 for g = 1, 2, 3.
int genotype_of(int q_alleles) { return 3 - q_alleles; }

// Plus alleles passed to a gamete: 3 of the parent's 6 alleles drawn
// without replacement, `plus` of which are plus alleles.
int gamete(Rng& rng, int plus) {
  int j = 0, left = 6;
  for (int d = 0; d < 3; ++d, --left)
    if (static_cast<int>(rng_below(rng, static_cast<uint64_t>(left))) < plus) {
      ++j;
      --plus;
    }
  return j;
}

}  // namespace

Genes founder_genes(Rng& rng, const SimParams& par) {
  int qa = 0, plus = 0;
  for (int a = 0; a < 2; ++a) qa += rng_uniform(rng) < par.q ? 1 : 0;
  for (int a = 0; a < 6; ++a) plus += static_cast<int>(rng_below(rng, 2));
  return {genotype_of(qa), plus + 1};
}

Genes child_genes(Rng& rng, const SimParams& par, Genes father, Genes mother) {
  int qa = 0;
  qa += rng_uniform(rng) < par.tau[father.genotype] ? 1 : 0;
  qa += rng_uniform(rng) < par.tau[mother.genotype] ? 1 : 0;
  const int plus = gamete(rng, father.poly_class - 1) + gamete(rng, mother.poly_class - 1);
  return {genotype_of(qa), plus + 1};
}

bool draw_trait(Rng& rng, const SimParams& par, Genes g, double& value) {
  if (rng_uniform(rng) < par.spike[g.genotype]) return true;
  const double mu = static_cast<double>(g.poly_class - 4) * par.poly_effect + par.mean[g.genotype];
  value = mu + std::sqrt(par.res_var) * rng_normal(rng);
  return false;
}

// ---------------------------------------------------------------------------
// The sample.

namespace {

// The further streams of a seed: ages, and the pilot of a selected sample
// (its structure and its ages).  Today's draws stay in the first stream.
enum Stream : uint64_t { AGES_STREAM = 1, PILOT_STREAM = 2, PILOT_AGES_STREAM = 3 };

uint64_t stream_seed(uint64_t seed, uint64_t stream) {
  uint64_t st = seed ^ (stream * 0xd1b54a32d192ed03ULL);
  return splitmix64(st);
}

struct Builder {
  const SimOptions& opt;
  const SimParams& par;
  Rng rng;
  Rng ages;

  Builder(const SimOptions& o, const SimParams& p, uint64_t seed, uint64_t age_seed)
      : opt(o), par(p) {
    rng_seed(rng, seed);
    rng_seed(ages, age_seed);
  }

  int children_count() {
    const uint64_t span = static_cast<uint64_t>(opt.child_max - opt.child_min) + 1;
    return opt.child_min + static_cast<int>(rng_below(rng, span));
  }

  static int add(SimFamily& fam, int father, int mother, int sex, bool written = true,
                 int generation = 0) {
    SimPerson p;
    p.father = father;
    p.mother = mother;
    p.sex = sex;
    p.written = written;
    p.generation = generation;
    fam.people.push_back(p);
    return static_cast<int>(fam.people.size()) - 1;
  }

  // At least `least` children (drawn as ever, then raised).
  std::vector<int> add_children(SimFamily& fam, int father, int mother, int least = 0) {
    std::vector<int> kids;
    const int n = std::max(children_count(), least);
    const int generation = fam.people[father].generation + 1;
    for (int c = 0; c < n; ++c) {
      const int sex = rng_below(rng, 2) == 0 ? 1 : 2;
      kids.push_back(add(fam, father, mother, sex, true, generation));
    }
    return kids;
  }

  // A person marries in a spouse from outside and has children with them.
  std::vector<int> marry_in(SimFamily& fam, int person, int least = 0) {
    const int sex = fam.people[person].sex == 1 ? 2 : 1;
    const int spouse = add(fam, -1, -1, sex, opt.spouses, fam.people[person].generation);
    if (sex == 2) return add_children(fam, person, spouse, least);
    return add_children(fam, spouse, person, least);
  }

  SimFamily structure() {
    SimFamily fam;
    const bool three =
        opt.generations == 3 && (opt.mix >= 1.0 || rng_uniform(rng) < opt.mix);
    const int father = add(fam, -1, -1, 1);
    const int mother = add(fam, -1, -1, 2);
    std::vector<int> kids = add_children(fam, father, mother);
    if (!kids.empty()) fam.proband = kids[0];
    if (opt.remarry > 0.0 && rng_uniform(rng) < opt.remarry) {
      const int second = add(fam, -1, -1, 2);
      auto more = add_children(fam, father, second);
      kids.insert(kids.end(), more.begin(), more.end());
    }
    if (three) {
      for (int c : kids) {
        if (rng_uniform(rng) >= opt.marry) continue;
        marry_in(fam, c);
        if (opt.remarry > 0.0 && rng_uniform(rng) < opt.remarry) marry_in(fam, c);
      }
    }
    if (opt.loose > 0.0 && rng_uniform(rng) < opt.loose)
      add(fam, -1, -1, rng_below(rng, 2) == 0 ? 1 : 2);
    return fam;
  }

  // The founders' first two children marry spouses from outside; a child of
  // each, of opposite sexes (first cousins), marry and have children.
  SimFamily cousin_structure() {
    SimFamily fam;
    const int father = add(fam, -1, -1, 1);
    const int mother = add(fam, -1, -1, 2);
    const std::vector<int> kids = add_children(fam, father, mother, 2);
    fam.proband = kids[0];
    const int c = marry_in(fam, kids[0], 1)[0];
    const int d = marry_in(fam, kids[1], 1)[0];
    fam.people[d].sex = fam.people[c].sex == 1 ? 2 : 1;
    if (fam.people[c].sex == 1) add_children(fam, c, d, 1);
    else add_children(fam, d, c, 1);
    return fam;
  }

  // Two more sons of the founders marry two daughters of a second founder
  // couple, and both couples have children: a marriage ring.
  void add_sisters(SimFamily& fam) {
    const int s1 = add(fam, 0, 1, 1, true, 1), s2 = add(fam, 0, 1, 1, true, 1);
    const int q1 = add(fam, -1, -1, 1), q2 = add(fam, -1, -1, 2);
    const int d1 = add(fam, q1, q2, 2, true, 1), d2 = add(fam, q1, q2, 2, true, 1);
    add_children(fam, s1, d1, 1);
    add_children(fam, s2, d2, 1);
  }

  static bool chance(Rng& r, double p) { return p > 0.0 && (p >= 1.0 || rng_uniform(r) < p); }

  void draw_ages(SimFamily& fam) {
    int top = 0;
    for (const auto& p : fam.people) top = std::max(top, p.generation);
    for (auto& p : fam.people)
      p.age = AGE_BASE + AGE_STEP * (top - p.generation) +
              static_cast<int>(rng_below(ages, static_cast<uint64_t>(AGE_SPAN)));
  }

  void genetics(SimFamily& fam) {
    for (auto& p : fam.people) {
      Genes g;
      if (p.father < 0) {
        g = founder_genes(rng, par);
      } else {
        const SimPerson& fa = fam.people[p.father];
        const SimPerson& mo = fam.people[p.mother];
        g = child_genes(rng, par, {fa.genotype, fa.poly_class}, {mo.genotype, mo.poly_class});
      }
      p.genotype = g.genotype;
      p.poly_class = g.poly_class;
      p.spike = draw_trait(rng, par, g, p.value);
      if (!p.spike) {
        if (opt.sex_effect != 0.0 && p.sex == 1) p.value += opt.sex_effect;
        if (opt.age_effect != 0.0) p.value += opt.age_effect * static_cast<double>(p.age);
        if (opt.lognormal) p.value = det_exp(p.value);
      }
      p.missing = opt.missing_rate > 0.0 && rng_uniform(rng) < opt.missing_rate;
    }
  }

  SimFamily family() {
    SimFamily fam = chance(rng, opt.cousins) ? cousin_structure() : structure();
    if (chance(rng, opt.sisters)) add_sisters(fam);
    if (opt.ages || opt.age_effect != 0.0) draw_ages(fam);
    genetics(fam);
    // A proband is measured: ascertainment is through the proband's value.
    if (opt.probands && fam.proband >= 0) fam.people[fam.proband].missing = false;
    return fam;
  }
};

// The value a selection compares: a spike lies above any threshold; a
// family without a proband never passes.
double proband_value(const SimFamily& fam) {
  if (fam.proband < 0) return -HUGE_VAL;
  const SimPerson& p = fam.people[fam.proband];
  return p.spike ? HUGE_VAL : p.value;
}

}  // namespace

std::vector<SimFamily> simulate(const SimOptions& opt, const SimParams& par, SimReport* report) {
  Builder b(opt, par, opt.seed, stream_seed(opt.seed, AGES_STREAM));
  double threshold = opt.threshold;
  if (opt.select && opt.quantile > 0.0) {
    Builder pilot(opt, par, stream_seed(opt.seed, PILOT_STREAM),
                  stream_seed(opt.seed, PILOT_AGES_STREAM));
    std::vector<double> values;
    for (int f = 0; f < opt.pilot; ++f) values.push_back(proband_value(pilot.family()));
    std::sort(values.begin(), values.end());
    // The smallest value with at least a share `quantile` of the pilot at or below it.
    const double n = static_cast<double>(values.size());
    size_t at = static_cast<size_t>(std::ceil(opt.quantile * n));
    at = std::clamp<size_t>(at, 1, values.size()) - 1;
    threshold = values[at];
  }
  std::vector<SimFamily> fams;
  fams.reserve(static_cast<size_t>(opt.families));
  long drawn = 0;
  const long cap = MAX_DRAWS_PER_KEPT * static_cast<long>(opt.families);
  while (static_cast<int>(fams.size()) < opt.families) {
    if (opt.select && drawn >= cap) break;
    SimFamily fam = b.family();
    ++drawn;
    if (!opt.select || proband_value(fam) >= threshold) fams.push_back(std::move(fam));
  }
  if (report != nullptr) {
    report->drawn = drawn;
    report->threshold = threshold;
  }
  return fams;
}

std::string check_options(const SimOptions& opt, const SimParams& par) {
  if ((opt.probands || opt.select) && opt.child_min < 1 && opt.cousins < 1.0)
    return "probands need children: --children with MIN at least 1";
  // The reach of the effects over the ages drawn.
  int top = 1;
  if (opt.generations == 3 || opt.sisters > 0.0) top = 2;
  if (opt.cousins > 0.0) top = 3;
  const double oldest = AGE_BASE + AGE_STEP * top + AGE_SPAN - 1;
  const double reach = 3.0 * std::fabs(par.poly_effect) + 8.0 * std::sqrt(par.res_var) +
                       std::fabs(opt.sex_effect) + std::fabs(opt.age_effect) * oldest;
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (int g = 1; g <= 3; ++g) {
    lo = std::min(lo, par.mean[g] - reach);
    hi = std::max(hi, par.mean[g] + reach);
  }
  const double limit = static_cast<double>(TRAIT_SPIKE_LIMIT);
  if (opt.lognormal) {
    if (hi >= det_log(limit) || lo <= -600.0)
      return "with --lognormal the means, effects and variances hold for ln(trait), whose "
             "values must stay below ln 998 = 6.9";
  } else if (std::fabs(lo) >= limit || std::fabs(hi) >= limit) {
    return "means, effects, polygenic effect and residual variance would give values at or "
           "beyond +-998, which the program reads as missing or spike";
  }
  return {};
}

std::string pedfile_text(const std::vector<SimFamily>& fams, const SimOptions& opt) {
  const bool ages = opt.ages || opt.age_effect != 0.0;
  const bool header = ages || opt.probands;
  std::string s = "# pedsim, seed " + std::to_string(opt.seed);
  if (header)
    s += std::string("\nfamily individual father mother sex trait") + (ages ? " age" : "") +
         (opt.probands ? " proband" : "") + "\n";
  else
    s += ": family individual father mother sex trait\n";
  s.reserve(s.size() + 40 * fams.size() * 8);
  char buf[160];
  for (size_t f = 0; f < fams.size(); ++f) {
    const auto& people = fams[f].people;
    for (size_t i = 0; i < people.size(); ++i) {
      const SimPerson& p = people[i];
      if (!p.written) continue;
      auto parent = [&](int idx) {
        return idx < 0 || !people[idx].written ? 0 : idx + 1;
      };
      int n = std::snprintf(buf, sizeof buf, "F%zu %zu %d %d %d ", f + 1, i + 1, parent(p.father),
                            parent(p.mother), p.sex);
      s.append(buf, static_cast<size_t>(n));
      if (p.missing) s += "-999";
      else if (p.spike) s += opt.spike_text;
      else {
        n = std::snprintf(buf, sizeof buf, opt.lognormal ? "%.6g" : "%.4f", p.value);
        s.append(buf, static_cast<size_t>(n));
      }
      if (ages) s += ' ' + std::to_string(p.age);
      if (opt.probands) s += static_cast<int>(i) == fams[f].proband ? " 1" : " 0";
      s += '\n';
    }
  }
  return s;
}

std::string truth_text(const std::vector<SimFamily>& fams) {
  std::string s = "# family individual genotype class spike\n";
  char buf[96];
  for (size_t f = 0; f < fams.size(); ++f)
    for (size_t i = 0; i < fams[f].people.size(); ++i) {
      const SimPerson& p = fams[f].people[i];
      int n = std::snprintf(buf, sizeof buf, "F%zu %zu %d %d %d\n", f + 1, i + 1, p.genotype,
                            p.poly_class, p.spike ? 1 : 0);
      s.append(buf, static_cast<size_t>(n));
    }
  return s;
}

}  // namespace pedseg::tools
