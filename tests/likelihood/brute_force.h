// An independent likelihood for small pedigrees, by enumeration of every
// joint assignment of (major genotype, polygenic class) to the members of a
// family or by summing the joint distribution's factors out one person at a
// time, and a generator of random small pedigrees together with the
// structure tables (member lists in a valid peeling order, pivots, copies
// where loops are cut) that the program reads.  Shared by the test suites
// that check the likelihood.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "model/model.h"
#include "pedigree/layout.h"
#include "pedigree/pedigree.h"

namespace bf {

// ---------------------------------------------------------------------------
// Model quantities, held in plain tables with natural indices.

struct Model {
  double freq[4] = {};          // genotype frequencies, 1..3
  double mean[4] = {};          // genotype means
  double spike[4] = {};         // spike probabilities
  double poly_effect = 0.0;
  double res_var = 1.0;
  double tmajor[4][4][4] = {};  // [child][first parent][second parent]
  double tpoly[8][8][8] = {};   // [child][first parent][second parent]
  double prior[8] = {};         // class prior, 1..7
  // The Box-Cox transformation of the measured values outside the spike:
  // the density is that of z = ((y + lambda2)^lambda1 - 1) /
  // (lambda1 geo^(lambda1 - 1)) (geo ln(y + lambda2) at 0) times dz/dy.
  bool transformed = false;
  double lambda1 = 1.0, lambda2 = 0.0, geo = 1.0;
};

inline double choose(int n, int k) {
  if (k < 0 || k > n) return 0.0;
  double r = 1.0;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

// Polygenic part: 3 loci, 6 alleles per person; a gamete takes 3 of them.
inline void fill_polygenic(Model& m) {
  for (int k = 1; k <= 7; ++k) m.prior[k] = choose(6, k - 1) / 64.0;
  double gamete[7][4] = {};  // [plus alleles of parent][plus alleles passed]
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 3; ++j) gamete[i][j] = choose(i, j) * choose(6 - i, 3 - j) / 20.0;
  for (int a = 0; a <= 6; ++a)
    for (int b = 0; b <= 6; ++b)
      for (int ja = 0; ja <= 3; ++ja)
        for (int jb = 0; jb <= 3; ++jb)
          m.tpoly[ja + jb + 1][a + 1][b + 1] += gamete[a][ja] * gamete[b][jb];
}

inline void fill_major_from_taus(Model& m, double t1, double t2, double t3) {
  const double tau[4] = {0.0, t1, t2, t3};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      m.tmajor[1][i][j] = tau[i] * tau[j];
      m.tmajor[2][i][j] = tau[i] * (1.0 - tau[j]) + (1.0 - tau[i]) * tau[j];
      m.tmajor[3][i][j] = (1.0 - tau[i]) * (1.0 - tau[j]);
    }
}

// The model of a parameter vector v[1..12] (q, three spike probabilities,
// three means, three transmission probabilities, polygenic effect, residual
// variance), derived here without the program's mapping.  With fixed
// transmission parameters the major-gene transmission is Mendelian.
inline Model model_from_params(const double* v, bool free_taus) {
  Model m;
  const double q = v[1];
  m.freq[1] = q * q;
  m.freq[2] = 2.0 * q * (1.0 - q);
  m.freq[3] = (1.0 - q) * (1.0 - q);
  for (int g = 1; g <= 3; ++g) {
    m.spike[g] = v[1 + g];
    m.mean[g] = v[4 + g];
  }
  m.poly_effect = v[11];
  m.res_var = v[12];
  if (free_taus) {
    fill_major_from_taus(m, v[8], v[9], v[10]);
  } else {
    fill_major_from_taus(m, 1.0, 0.5, 0.0);
  }
  fill_polygenic(m);
  return m;
}

// The same quantities copied from the program's tables (for tests that fill
// those tables by hand, with transmission tables of their own).
inline Model model_from_tables(const pedseg::ModelQuantities& q, const pedseg::PolyTables& p) {
  Model m;
  for (int g = 1; g <= 3; ++g) {
    m.freq[g] = q.GEN_FREQ[g];
    m.mean[g] = q.GEN_MEAN[g];
    m.spike[g] = q.SPIKE_PROB[g];
  }
  m.poly_effect = q.POLY_EFFECT;
  m.res_var = q.RES_VAR;
  for (int c = 1; c <= 3; ++c)
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) m.tmajor[c][i][j] = pedseg::trans_major(q, c, i, j);
  for (int c = 1; c <= 7; ++c)
    for (int i = 1; i <= 7; ++i)
      for (int j = 1; j <= 7; ++j) m.tpoly[c][i][j] = pedseg::trans_poly(p, c, i, j);
  for (int k = 1; k <= 7; ++k) m.prior[k] = p.POLY_PRIOR[k];
  return m;
}

// Copies a model into the program's tables.
inline void model_to_tables(const Model& m, pedseg::ModelQuantities& q, pedseg::PolyTables& p) {
  for (int g = 1; g <= 3; ++g) {
    q.GEN_FREQ[g] = m.freq[g];
    q.GEN_MEAN[g] = m.mean[g];
    q.SPIKE_PROB[g] = m.spike[g];
  }
  q.POLY_EFFECT = m.poly_effect;
  q.RES_VAR = m.res_var;
  for (int c = 1; c <= 3; ++c)
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) q.TRANS_MAJOR[(c - 1) + 3 * (i - 1) + 9 * (j - 1)] = m.tmajor[c][i][j];
  p.NLOCI = 3;
  p.NCLASS = 7;
  for (int c = 1; c <= 7; ++c)
    for (int i = 1; i <= 7; ++i)
      for (int j = 1; j <= 7; ++j) p.TRANS_POLY[(c - 1) + 7 * (i - 1) + 49 * (j - 1)] = m.tpoly[c][i][j];
  for (int k = 1; k <= 7; ++k) p.POLY_PRIOR[k] = m.prior[k];
}

// A model with random frequencies, priors and transmission tables that are
// not symmetric in the two parents (so that swapping the parents changes the
// likelihood), for checks of the peeling alone.
inline Model random_model(std::mt19937& rng, bool with_zeros) {
  std::uniform_real_distribution<double> u(0.05, 1.0);
  Model m;
  auto fill_dist = [&](double* out, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) {
      out[i] = (with_zeros && u(rng) < 0.3) ? 0.0 : u(rng);
      s += out[i];
    }
    if (s == 0.0) {
      out[0] = 1.0;
      s = 1.0;
    }
    for (int i = 0; i < n; ++i) out[i] /= s;
  };
  double tmp[8];
  fill_dist(tmp, 3);
  for (int g = 1; g <= 3; ++g) m.freq[g] = tmp[g - 1];
  fill_dist(tmp, 7);
  for (int k = 1; k <= 7; ++k) m.prior[k] = tmp[k - 1];
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      fill_dist(tmp, 3);
      for (int c = 1; c <= 3; ++c) m.tmajor[c][i][j] = tmp[c - 1];
    }
  for (int i = 1; i <= 7; ++i)
    for (int j = 1; j <= 7; ++j) {
      fill_dist(tmp, 7);
      for (int c = 1; c <= 7; ++c) m.tpoly[c][i][j] = tmp[c - 1];
    }
  std::uniform_real_distribution<double> means(-1.0, 2.0);
  for (int g = 1; g <= 3; ++g) {
    m.mean[g] = means(rng);
    m.spike[g] = u(rng) * 0.3;
  }
  m.poly_effect = u(rng) * 0.5;
  m.res_var = 0.3 + u(rng);
  return m;
}

// Makes the transmission tables symmetric in the two parents.
inline void symmetrise(Model& m) {
  for (int c = 1; c <= 3; ++c)
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j < i; ++j)
        m.tmajor[c][i][j] = m.tmajor[c][j][i] = 0.5 * (m.tmajor[c][i][j] + m.tmajor[c][j][i]);
  for (int c = 1; c <= 7; ++c)
    for (int i = 1; i <= 7; ++i)
      for (int j = 1; j < i; ++j)
        m.tpoly[c][i][j] = m.tpoly[c][j][i] = 0.5 * (m.tpoly[c][i][j] + m.tpoly[c][j][i]);
}

// Density or probability of one trait value: 1 for a missing value (-998 or
// below), the spike probability above 998, otherwise the normal density
// (with 2 pi held as the single-precision 6.283184) times the probability of
// not being in the spike.
// `shift` (the covariates' term) is added to the mean; under a
// transformation the value is transformed and the density multiplied by the
// derivative of the transformation.
inline double penetrance(const Model& m, float trait, int g, int k, double shift = 0.0) {
  double y = trait;
  if (y <= -998.0) return 1.0;
  if (y > 998.0) return m.spike[g];
  double slope = 1.0;
  if (m.transformed) {
    const double u = y + m.lambda2;
    y = m.lambda1 == 0.0 ? m.geo * std::log(u)
                         : (std::pow(u, m.lambda1) - 1.0) / (m.lambda1 * std::pow(m.geo, m.lambda1 - 1.0));
    slope = std::pow(u / m.geo, m.lambda1 - 1.0);
  }
  const double mu = m.mean[g] + m.poly_effect * (k - 4) + shift;
  const double z = y - mu;
  const double two_pi = static_cast<double>(6.283184f);
  return (1.0 - m.spike[g]) * std::exp(-0.5 * z * z / m.res_var) / std::sqrt(two_pi * m.res_var) *
         slope;
}

// ---------------------------------------------------------------------------
// Families described simply: for each person (local number p = index + 1)
// the local numbers of the first and second parent (0 for a founder) and the
// trait.

struct Person {
  int first = 0;
  int second = 0;
  float trait = -999.0f;
  double shift = 0.0;  // added to the person's class means
};

struct Family {
  std::vector<Person> people;
};

// The terms of the enumeration of one family.  Combined states
// s = 7(g - 1) + (k - 1).  w[p][s]: penetrance of p; founder[s]: population
// prior; trans[(a 21 + b) 21 + s]: probability of state s for a child of a
// first parent in state a and a second parent in state b.  `order` puts
// parents before children; it is empty (and `valid` false) for a loop of
// descent.
struct Enumeration {
  bool valid = true;
  std::vector<int> order;
  std::vector<std::array<double, 21>> w;
  std::array<double, 21> founder{};
  std::vector<double> trans;
};

inline Enumeration prepare_enumeration(const Family& fam, const Model& m) {
  Enumeration e;
  const int n = static_cast<int>(fam.people.size());
  std::vector<bool> placed(n + 1, false);
  while (static_cast<int>(e.order.size()) < n) {
    bool progress = false;
    for (int p = 1; p <= n; ++p) {
      if (placed[p]) continue;
      const Person& x = fam.people[p - 1];
      if (x.first != 0 && !(placed[x.first] && placed[x.second])) continue;
      placed[p] = true;
      e.order.push_back(p);
      progress = true;
    }
    if (!progress) {
      e.valid = false;  // a loop of descent: not a pedigree
      return e;
    }
  }
  e.w.resize(n + 1);
  for (int p = 1; p <= n; ++p)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= 7; ++k)
        e.w[p][(g - 1) * 7 + (k - 1)] =
            penetrance(m, fam.people[p - 1].trait, g, k, fam.people[p - 1].shift);
  e.trans.assign(21 * 21 * 21, 0.0);
  for (int g = 1; g <= 3; ++g)
    for (int k = 1; k <= 7; ++k) {
      const int sc = (g - 1) * 7 + (k - 1);
      e.founder[sc] = m.freq[g] * m.prior[k];
      for (int ga = 1; ga <= 3; ++ga)
        for (int ka = 1; ka <= 7; ++ka)
          for (int gb = 1; gb <= 3; ++gb)
            for (int kb = 1; kb <= 7; ++kb) {
              const int sa = (ga - 1) * 7 + (ka - 1), sb = (gb - 1) * 7 + (kb - 1);
              e.trans[(sa * 21 + sb) * 21 + sc] = m.tmajor[g][ga][gb] * m.tpoly[k][ka][kb];
            }
    }
  return e;
}

// The probability of person p's state given the states already chosen.
inline const double* state_row(const Family& fam, const Enumeration& e,
                               const std::vector<int>& state, int p) {
  const Person& x = fam.people[p - 1];
  if (x.first == 0) return e.founder.data();
  return &e.trans[(state[x.first] * 21 + state[x.second]) * 21];
}

// The likelihood of one family: the sum over every joint assignment of the
// product of founder priors, transmissions and penetrances.  Zero factors are
// skipped (they contribute nothing).
inline double family_likelihood(const Family& fam, const Model& m) {
  const int n = static_cast<int>(fam.people.size());
  const Enumeration e = prepare_enumeration(fam, m);
  if (!e.valid) return std::nan("");
  if (n == 0) return 1.0;
  std::vector<int> state(n + 1, 0);
  // Sum over the states of persons order[idx..n-1].
  std::function<double(int)> rec = [&](int idx) -> double {
    const int p = e.order[idx];
    const double* r = state_row(fam, e, state, p);
    double sum = 0.0;
    for (int s = 0; s < 21; ++s) {
      const double f = r[s] * e.w[p][s];
      if (idx == n - 1) {
        sum += f;
      } else if (f != 0.0) {
        state[p] = s;
        sum += f * rec(idx + 1);
      }
    }
    return sum;
  };
  return rec(0);
}

// Posterior probabilities of every person's joint state given the family's
// traits: marg[p][s], p = 1..n, by visiting every joint assignment of non-zero
// probability.  21^n assignments: keep n small.
inline std::vector<std::array<double, 21>> family_marginals(const Family& fam, const Model& m) {
  const int n = static_cast<int>(fam.people.size());
  const Enumeration e = prepare_enumeration(fam, m);
  std::vector<std::array<double, 21>> marg(n + 1, std::array<double, 21>{});
  if (!e.valid || n == 0) return marg;
  std::vector<int> state(n + 1, 0);
  double total = 0.0;
  std::function<void(int, double)> rec = [&](int idx, double weight) {
    const int p = e.order[idx];
    const double* r = state_row(fam, e, state, p);
    double last = 0.0;  // the last person's states summed at once
    for (int s = 0; s < 21; ++s) {
      const double f = weight * r[s] * e.w[p][s];
      if (f == 0.0) continue;
      state[p] = s;
      if (idx == n - 1) {
        last += f;
        marg[p][s] += f;
      } else {
        rec(idx + 1, f);
      }
    }
    if (idx == n - 1) {
      total += last;
      for (int q = 1; q <= n; ++q)
        if (q != p) marg[q][state[q]] += last;
    }
  };
  rec(0, 1.0);
  for (int q = 1; q <= n; ++q)
    for (double& v : marg[q]) v /= total;
  return marg;
}

// The likelihood of one family without enumerating and without peeling
// nuclear families: a generic sum-product over the joint distribution's
// factors (one per person: its founder prior or transmission, times its
// penetrance), eliminating one person's variable at a time, each time the
// one whose elimination forms the smallest factor.  Exact for pedigrees with
// loops; the work grows with 21 to the size of the largest factor formed
// (at most `max_vars` variables, else NaN).
inline double family_likelihood_by_elimination(const Family& fam, const Model& m,
                                               int max_vars = 5) {
  const int n = static_cast<int>(fam.people.size());
  const Enumeration e = prepare_enumeration(fam, m);
  if (!e.valid) return std::nan("");
  struct Factor {
    std::vector<int> vars;  // the first varies slowest
    std::vector<double> t;
  };
  auto size_of = [](size_t vars) {
    size_t s = 1;
    for (size_t i = 0; i < vars; ++i) s *= 21;
    return s;
  };
  std::vector<Factor> fs;
  for (int p = 1; p <= n; ++p) {
    const Person& x = fam.people[p - 1];
    Factor f;
    f.vars = x.first == 0 ? std::vector<int>{p} : std::vector<int>{x.first, x.second, p};
    f.t.assign(size_of(f.vars.size()), 0.0);
    for (size_t i = 0; i < f.t.size(); ++i) {
      const int s = static_cast<int>(i % 21);
      f.t[i] = (x.first == 0 ? e.founder[s] : e.trans[(i / 21) * 21 + s]) * e.w[p][s];
    }
    fs.push_back(std::move(f));
  }
  std::vector<int> val(n + 1, 0);
  auto index = [&val](const Factor& f) {
    size_t i = 0;
    for (int v : f.vars) i = i * 21 + static_cast<size_t>(val[v]);
    return i;
  };
  for (int left = n; left > 0; --left) {
    // The variable whose factors join the fewest others.
    int best = 0;
    std::vector<int> best_union;
    for (int v = 1; v <= n; ++v) {
      std::vector<int> u;
      bool present = false;
      for (const Factor& f : fs)
        if (std::find(f.vars.begin(), f.vars.end(), v) != f.vars.end()) {
          present = true;
          u.insert(u.end(), f.vars.begin(), f.vars.end());
        }
      if (!present) continue;
      std::sort(u.begin(), u.end());
      u.erase(std::unique(u.begin(), u.end()), u.end());
      if (best == 0 || u.size() < best_union.size()) {
        best = v;
        best_union = u;
      }
    }
    if (best == 0) break;
    if (static_cast<int>(best_union.size()) > max_vars) return std::nan("");
    std::vector<Factor> joined, rest;
    for (Factor& f : fs)
      (std::find(f.vars.begin(), f.vars.end(), best) != f.vars.end() ? joined : rest)
          .push_back(std::move(f));
    Factor out;
    for (int v : best_union)
      if (v != best) out.vars.push_back(v);
    out.t.assign(size_of(out.vars.size()), 0.0);
    const size_t total = size_of(best_union.size());
    for (size_t i = 0; i < total; ++i) {
      size_t r = i;
      for (size_t k = best_union.size(); k-- > 0;) {
        val[best_union[k]] = static_cast<int>(r % 21);
        r /= 21;
      }
      double prod = 1.0;
      for (const Factor& f : joined) prod *= f.t[index(f)];
      out.t[index(out)] += prod;
    }
    rest.push_back(std::move(out));
    fs = std::move(rest);
  }
  double l = 1.0;
  for (const Factor& f : fs) l *= f.t[0];
  return l;
}

inline double family_loglik(const Family& fam, const Model& m) {
  return std::log(family_likelihood(fam, m));
}

// A family enters the sample only when one of its traits is -998 or above.
inline bool has_measured(const Family& fam) {
  for (const Person& x : fam.people)
    if (x.trait >= -998.0f) return true;
  return false;
}

inline double sample_loglik(const std::vector<Family>& fams, const Model& m) {
  double total = 0.0;
  for (const Family& f : fams)
    if (has_measured(f)) total += family_loglik(f, m);
  return total;
}

// ---------------------------------------------------------------------------
// Structure tables.  A family's nuclear families are given as member lists
// (local numbers: first parent, second parent, children) in peeling order,
// each with its pivot (0, or a member).  Where a loop is cut, a copy (a
// founder with a missing trait) stands for its person in some lists.

struct Structure {
  std::vector<float> traits;             // by local number - 1
  std::vector<std::vector<int>> lists;   // in peeling order
  std::vector<int> pivots;               // one per list
  std::vector<std::pair<int, int>> copies = {};  // (person, copy)
};

// The person of each local number 1..n in family_of(s) (index 0 unused): the
// persons numbered in order without the copies, a copy taking its person's.
inline std::vector<int> person_numbers(const Structure& s) {
  const int n = static_cast<int>(s.traits.size());
  std::vector<int> number(n + 1, 0);
  std::vector<int> copy_of(n + 1, 0);
  for (const auto& [person, copy] : s.copies) copy_of[copy] = person;
  int next = 0;
  for (int p = 1; p <= n; ++p)
    if (copy_of[p] == 0) number[p] = ++next;
  for (int p = 1; p <= n; ++p)
    if (copy_of[p] != 0) number[p] = number[copy_of[p]];
  return number;
}

// The simple description implied by the lists: every child of a list has
// that list's first and second parent (a copy's person where a copy stands).
inline Family family_of(const Structure& s) {
  const std::vector<int> number = person_numbers(s);
  Family fam;
  for (size_t i = 0; i < s.traits.size(); ++i)
    if (number[i + 1] > static_cast<int>(fam.people.size())) fam.people.push_back({0, 0, s.traits[i]});
  for (const auto& list : s.lists)
    for (size_t pos = 2; pos < list.size(); ++pos) {
      fam.people[number[list[pos]] - 1].first = number[list[0]];
      fam.people[number[list[pos]] - 1].second = number[list[1]];
    }
  return fam;
}

// The copies of families 1..n as loops.dat gives them (global numbers, with
// the numbering of put_families).
inline std::vector<pedseg::LoopCopy> loops_of(const std::vector<Structure>& fams) {
  std::vector<pedseg::LoopCopy> loops;
  int start = 0;
  for (size_t f = 0; f < fams.size(); ++f) {
    for (const auto& [person, copy] : fams[f].copies)
      loops.push_back({static_cast<int32_t>(f + 1), start + person, start + copy});
    start += static_cast<int>(fams[f].traits.size());
  }
  return loops;
}

// Writes families 1..n into the tables, as the reader leaves them: the
// weights are 1/c over the traits of -998 or above (0 when there is none),
// and PED_START(0) = NFAM = n.  Entry 0 of PED_NUC and NUC_START is 0.
inline void put_families(const std::vector<Structure>& fams, pedseg::PedigreeTables& ped) {
  const int nfam = static_cast<int>(fams.size());
  ped.NFAM = nfam;
  ped.NFAM_READ = nfam;
  ped.PED_START[0] = nfam;
  ped.PED_NUC[0] = 0;
  ped.NUC_START[0] = 0;
  int ind = 0, nuc = 0, mem = 0;
  for (int f = 1; f <= nfam; ++f) {
    const Structure& s = fams[f - 1];
    ped.PED_START[f] = ind;
    ped.PED_NUC[f] = nuc;
    int c = 0;
    for (float t : s.traits) {
      ped.TRAIT[++ind] = t;
      if (t >= -998.0f) ++c;
    }
    ped.PED_WEIGHT[f] = c > 0 ? 1.0 / c : 0.0;
    for (size_t j = 0; j < s.lists.size(); ++j) {
      ++nuc;
      ped.NUC_START[nuc] = mem;
      ped.NUC_PIVOT[nuc] = s.pivots[j];
      for (int x : s.lists[j]) ped.NUC_MEMBERS[mem++] = x;
    }
  }
  ped.PED_START[nfam + 1] = ind;
  ped.PED_NUC[nfam + 1] = nuc;
  ped.NUC_START[nuc + 1] = mem;
  ped.NSTART = nuc + 2;
  ped.NMEMBER = mem;
  ped.NIND = ind;
}

// ---------------------------------------------------------------------------
// Random small pedigrees.  The family is built as a tree of nuclear families
// (each added partnership brings only new people, so there is no loop),
// possibly in two unconnected parts, plus loose individuals with the highest
// local numbers.  Each part is peeled towards a randomly chosen last nuclear
// family, whose own target is chosen at random too (pivot 0, a parent, or a
// child moved to position 3); every other nuclear family is peeled onto the
// member that joins it to the rest of its part.

struct GenOptions {
  int min_people = 1;
  int max_people = 6;
  bool allow_loose = true;
  bool allow_two_parts = true;
};

// Traits: measured values near the means, missing values (-999, or exactly
// -998) and spike values.
inline float random_trait(std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 9);
  std::normal_distribution<float> val(0.5f, 1.0f);
  switch (kind(rng)) {
    case 0: return -999.0f;
    case 1: return -998.0f;
    case 2: return 999.5f;
    default: return val(rng);
  }
}

inline Structure random_structure(std::mt19937& rng, const GenOptions& opt) {
  struct Nuc {
    int a, b;
    std::vector<int> kids;
  };
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int total = pick(opt.min_people, opt.max_people);
  std::vector<Nuc> nucs;
  std::vector<int> part;        // part of each nuclear family
  std::vector<int> has_parents;  // per person: 1 when a child somewhere
  int people = 0;
  int parts = 0;
  auto add_person = [&]() {
    has_parents.push_back(0);
    return people++;
  };

  // Individuals in nuclear families; the rest are loose.
  int loose = 0;
  if (total >= 2) {
    const int max_loose = opt.allow_loose ? total - 2 : 0;
    loose = pick(0, std::min(max_loose, 2));
    if (opt.allow_loose && pick(0, 9) == 0) loose = total;  // no nuclear family at all
  } else {
    loose = total;
  }
  const int in_lists = total - loose;
  auto room_lists = [&]() { return in_lists - people; };

  if (in_lists >= 2) {
    Nuc n{add_person(), add_person(), {}};
    const int kids = pick(0, room_lists());
    for (int i = 0; i < kids; ++i) {
      n.kids.push_back(add_person());
      has_parents.back() = 1;
    }
    nucs.push_back(n);
    part.push_back(parts++);
    while (room_lists() > 0) {
      const int action = pick(0, 2);
      if (action == 0 && opt.allow_two_parts && room_lists() >= 2) {
        Nuc m{add_person(), add_person(), {}};
        const int k = pick(0, room_lists());
        for (int i = 0; i < k; ++i) {
          m.kids.push_back(add_person());
          has_parents.back() = 1;
        }
        nucs.push_back(m);
        part.push_back(parts++);
      } else if (action == 1 || room_lists() < 2) {
        // An existing person takes a (further) partner and has children.
        const int j = pick(0, static_cast<int>(nucs.size()) - 1);
        std::vector<int> members = {nucs[j].a, nucs[j].b};
        members.insert(members.end(), nucs[j].kids.begin(), nucs[j].kids.end());
        const int p = members[pick(0, static_cast<int>(members.size()) - 1)];
        const int spouse = add_person();
        Nuc m = pick(0, 1) ? Nuc{p, spouse, {}} : Nuc{spouse, p, {}};
        const int k = pick(0, room_lists());
        for (int i = 0; i < k; ++i) {
          m.kids.push_back(add_person());
          has_parents.back() = 1;
        }
        nucs.push_back(m);
        part.push_back(part[j]);
      } else {
        // A founder of an existing nuclear family receives parents.
        std::vector<std::pair<int, int>> founders;
        for (size_t j = 0; j < nucs.size(); ++j)
          for (int p : {nucs[j].a, nucs[j].b})
            if (!has_parents[p]) founders.push_back({p, static_cast<int>(j)});
        const auto [p, j] = founders[pick(0, static_cast<int>(founders.size()) - 1)];
        Nuc m{add_person(), add_person(), {p}};
        has_parents[p] = 1;
        const int k = pick(0, room_lists());
        for (int i = 0; i < k; ++i) {
          m.kids.push_back(add_person());
          has_parents.back() = 1;
        }
        std::shuffle(m.kids.begin(), m.kids.end(), rng);
        nucs.push_back(m);
        part.push_back(part[j]);
      }
    }
  }
  const int listed = people;

  // Local numbers: the listed people in random order, then the loose ones.
  std::vector<int> local(listed);
  for (int i = 0; i < listed; ++i) local[i] = i + 1;
  std::shuffle(local.begin(), local.end(), rng);

  // Peeling order: per part, a post-order walk from a random last family.
  const int nn = static_cast<int>(nucs.size());
  auto members_of = [&](int j) {
    std::vector<int> v = {nucs[j].a, nucs[j].b};
    v.insert(v.end(), nucs[j].kids.begin(), nucs[j].kids.end());
    return v;
  };
  std::vector<std::pair<int, int>> peel;  // (nuclear family, target person or -1)
  std::vector<bool> seen(nn, false);
  // `from` is the person through which j was reached (-1 for the last
  // family); the families hanging on every other member come first.
  std::function<void(int, int, int)> visit = [&](int j, int from, int target) {
    seen[j] = true;
    for (int x : members_of(j)) {
      if (x == from) continue;
      for (int j2 = 0; j2 < nn; ++j2) {
        if (seen[j2]) continue;
        const auto m2 = members_of(j2);
        if (std::find(m2.begin(), m2.end(), x) != m2.end()) visit(j2, x, x);
      }
    }
    peel.push_back({j, target});
  };
  for (int pt = 0; pt < parts; ++pt) {
    std::vector<int> in_part;
    for (int j = 0; j < nn; ++j)
      if (part[j] == pt) in_part.push_back(j);
    const int root = in_part[pick(0, static_cast<int>(in_part.size()) - 1)];
    // The last family's own target: none (closing), a parent, or a child.
    const int choice = pick(0, 3);
    int target = -1;
    if (choice == 1) target = nucs[root].a;
    if (choice == 2) target = nucs[root].b;
    if (choice == 3 && !nucs[root].kids.empty())
      target = nucs[root].kids[pick(0, static_cast<int>(nucs[root].kids.size()) - 1)];
    visit(root, -1, target);
  }

  Structure s;
  s.traits.resize(total);
  for (int i = 0; i < total; ++i) s.traits[i] = random_trait(rng);
  for (const auto& [j, from] : peel) {
    std::vector<int> kids = nucs[j].kids;
    std::shuffle(kids.begin(), kids.end(), rng);
    auto it = std::find(kids.begin(), kids.end(), from);
    if (it != kids.end()) std::iter_swap(kids.begin(), it);  // a joining child stands first
    std::vector<int> list = {local[nucs[j].a], local[nucs[j].b]};
    for (int c : kids) list.push_back(local[c]);
    s.lists.push_back(list);
    s.pivots.push_back(from < 0 ? 0 : local[from]);
  }
  return s;
}

}  // namespace bf
