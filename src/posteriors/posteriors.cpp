// Genotype posteriors by peeling: an outward pass over the nuclear families,
// with re-peeling of the family as the reference and the fallback.
//
// A family takes the outward pass when its member lists form a tree peeled
// towards its targets, which is what makes the likelihood's inward pass exact:
// every list has two distinct parents and distinct members within the family,
// a child target stands at position 3, a member that a list peels away (any
// member but the target) appears in no later list, and the individuals in no
// list come after all listed ones.  Then each list is one factor (the
// transmissions to its children), each member's array holds its own factor
// (penetrance, times the population prior for a founder), and the outward
// pass gives every individual the product of all messages of the factors it
// belongs to.  Any other family is re-peeled, which reproduces whatever the
// likelihood computes for it.
//
// A family with loops is computed once per joint state of its breakers, on
// the arrays pinned to the state, and the results mixed with the states'
// likelihoods as weights.

#include "posteriors/posteriors.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "params/codes.h"

namespace pedseg {

namespace {

constexpr int MAX_STATES = 3 * MAX_CLASS;
using Arr = std::array<double, MAX_STATES>;

// Joint state s = (g - 1) nclass + (k - 1) of genotype g and class k.
struct States {
  int32_t nclass = MAX_CLASS;
  int32_t ns = MAX_STATES;
  // trans[(a ns + b) ns + s]: probability of child state s given the first
  // parent in state a and the second in b.
  std::vector<double> trans;

  States(const ModelQuantities& model, const PolyTables& poly)
      : nclass(poly.NCLASS), ns(3 * poly.NCLASS) {
    trans.assign(static_cast<size_t>(ns) * ns * ns, 0.0);
    for (int ga = 1; ga <= 3; ++ga)
      for (int ka = 1; ka <= nclass; ++ka)
        for (int gb = 1; gb <= 3; ++gb)
          for (int kb = 1; kb <= nclass; ++kb)
            for (int g = 1; g <= 3; ++g)
              for (int k = 1; k <= nclass; ++k)
                trans[(static_cast<size_t>(state(ga, ka)) * ns + state(gb, kb)) * ns +
                      state(g, k)] = trans_major(model, g, ga, gb) * trans_poly(poly, k, ka, kb);
  }
  int state(int g, int k) const { return (g - 1) * nclass + (k - 1); }
};

const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// Scales a to sum 1; false when the sum is 0 or not finite.
bool normalise(Arr& a, int32_t ns) {
  double s = 0.0;
  for (int i = 0; i < ns; ++i) s += a[i];
  if (!(s > 0.0) || !std::isfinite(s)) return false;
  for (int i = 0; i < ns; ++i) a[i] /= s;
  return true;
}

// The probabilities and class mean of one normalised joint array.
IndividualPosterior summarise(const Arr& b, const States& st) {
  IndividualPosterior r;
  for (int g = 1; g <= 3; ++g)
    for (int k = 1; k <= st.nclass; ++k) {
      r.p[g] += b[st.state(g, k)];
      r.class_mean += k * b[st.state(g, k)];
    }
  return r;
}

IndividualPosterior impossible() {
  IndividualPosterior r;
  r.p[1] = r.p[2] = r.p[3] = r.class_mean = NOT_A_NUMBER;
  return r;
}

// One nuclear family's factor.  `arr[i]` is the array of the member at list
// position i (0 first parent, 1 second parent, 2... children).
class ListFactor {
 public:
  ListFactor(const States& st, const std::vector<const Arr*>& arr) : st_(st), arr_(arr) {
    const size_t pairs = static_cast<size_t>(st.ns) * st.ns;
    kid_.assign((arr.size() - 2) * pairs, 0.0);
  }
  // Sums over each child's states of transmission x array, for every pair of
  // parent states; the child at position `skip` is left out.
  void child_sums(size_t skip) {
    const int ns = st_.ns;
    const size_t pairs = static_cast<size_t>(ns) * ns;
    for (size_t c = 2; c < arr_.size(); ++c) {
      if (c == skip) continue;
      const Arr& x = *arr_[c];
      double* K = &kid_[(c - 2) * pairs];
      for (size_t ab = 0; ab < pairs; ++ab) {
        const double* t = &st_.trans[ab * ns];
        double s = 0.0;
        for (int i = 0; i < ns; ++i) s += t[i] * x[i];
        K[ab] = s;
      }
    }
  }
  // The message to the member at position `to` (child sums already formed
  // for every other child).
  void message(size_t to, Arr& out) const {
    const int ns = st_.ns;
    const size_t pairs = static_cast<size_t>(ns) * ns;
    std::vector<double> prod(pairs, 1.0);
    for (size_t c = 2; c < arr_.size(); ++c) {
      if (c == to) continue;
      const double* K = &kid_[(c - 2) * pairs];
      for (size_t ab = 0; ab < pairs; ++ab) prod[ab] *= K[ab];
    }
    out.fill(0.0);
    const Arr& F = *arr_[0];
    const Arr& M = *arr_[1];
    for (int a = 0; a < ns; ++a)
      for (int b = 0; b < ns; ++b) {
        const size_t ab = static_cast<size_t>(a) * ns + b;
        if (to == 0) {
          out[a] += M[b] * prod[ab];
        } else if (to == 1) {
          out[b] += F[a] * prod[ab];
        } else {
          const double w = F[a] * M[b] * prod[ab];
          if (w == 0.0) continue;
          const double* t = &st_.trans[ab * ns];
          for (int s = 0; s < ns; ++s) out[s] += w * t[s];
        }
      }
  }

 private:
  const States& st_;
  const std::vector<const Arr*>& arr_;
  std::vector<double> kid_;
};

// No joint state: a family without loops.
constexpr int64_t NO_STATE = -1;

// INIT_FAMILY for family f, pinned to joint state `joint` of its breakers
// (a state pin_loop_state takes).
void set_up(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
            const ModelQuantities& model, const PolyTables& poly, int64_t joint, LikWork& work,
            const TraitView* view) {
  INIT_FAMILY(f, layout, ped, model, poly, work, view);
  if (joint != NO_STATE) pin_loop_state(f, layout, joint, poly, work);
}

// Copies the arrays set up for family f.
void initial_arrays(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                    const ModelQuantities& model, const PolyTables& poly, const States& st,
                    int64_t joint, LikWork& work, std::vector<Arr>& A, const TraitView* view) {
  const int32_t n_f = layout[f].size;
  set_up(f, layout, ped, model, poly, joint, work, view);
  A.assign(static_cast<size_t>(n_f) + 1, Arr{});
  for (int32_t d = 1; d <= n_f; ++d)
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= st.nclass; ++k) A[d][st.state(g, k)] = ind_lik(work, d, g, k);
}

// The family's lists as the outward pass reads them: members and the list
// position of the target; empty `ok` when the family is not a peeled tree.
struct FamilyLists {
  bool ok = false;
  std::vector<std::vector<int32_t>> members;
  std::vector<size_t> target;
};

FamilyLists read_lists(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped) {
  FamilyLists L;
  const int32_t n_f = layout[f].size;
  // Listed individuals first, then the ones in no list.
  if (layout[f].last_listed > layout[f].first_loose) return L;
  std::vector<char> gone(static_cast<size_t>(n_f) + 1, 0);
  for (int32_t j = ped.PED_NUC[f] + 1; j <= ped.PED_NUC[f + 1]; ++j) {
    const int32_t first = ped.NUC_START[j];
    const int32_t S = ped.NUC_START[j + 1] - first;
    if (S < 2) return L;
    std::vector<int32_t> m(ped.NUC_MEMBERS + first, ped.NUC_MEMBERS + first + S);
    for (int32_t a = 0; a < S; ++a) {
      if (m[a] < 1 || m[a] > n_f || gone[m[a]]) return L;
      for (int32_t b = 0; b < a; ++b)
        if (m[a] == m[b]) return L;
    }
    const int32_t P = ped.NUC_PIVOT[j];
    size_t t;
    if (P == 0 || P == m[0]) {
      t = 0;
    } else if (P == m[1]) {
      t = 1;
    } else if (S >= 3 && P == m[2]) {
      t = 2;
    } else {
      return L;
    }
    for (size_t a = 0; a < m.size(); ++a)
      if (a != t) gone[m[a]] = 1;
    L.members.push_back(std::move(m));
    L.target.push_back(t);
  }
  L.ok = true;
  return L;
}

// Outward method for one family; false when its likelihood is 0.
bool outward_family(int32_t f, const PedigreeLayout& layout, const FamilyLists& L,
                    const PedigreeTables& ped, const ModelQuantities& model,
                    const PolyTables& poly, const States& st, int64_t joint, LikWork& work,
                    IndividualPosterior* out, const TraitView* view) {
  const int32_t n_f = layout[f].size;
  std::vector<Arr> A;
  initial_arrays(f, layout, ped, model, poly, st, joint, work, A, view);
  const size_t nl = L.members.size();
  std::vector<Arr> before(nl), inward(nl);
  std::vector<const Arr*> arr;

  // Inward, in file order.
  for (size_t j = 0; j < nl; ++j) {
    const auto& m = L.members[j];
    const int32_t t = m[L.target[j]];
    arr.clear();
    for (int32_t x : m) arr.push_back(&A[x]);
    ListFactor factor(st, arr);
    factor.child_sums(L.target[j]);
    factor.message(L.target[j], inward[j]);
    if (!normalise(inward[j], st.ns)) return false;
    before[j] = A[t];
    for (int s = 0; s < st.ns; ++s) A[t][s] *= inward[j][s];
    if (!normalise(A[t], st.ns)) return false;
  }

  // Outward, in reverse order.  from_rest[x]: the message to x from the last
  // list it belongs to when it is not that list's target (else all ones);
  // above[t]: from_rest[t] times the inward messages of the later lists that
  // target t, i.e. all that t receives from outside the lists processed so far.
  Arr ones;
  ones.fill(1.0);
  std::vector<Arr> from_rest(static_cast<size_t>(n_f) + 1, ones);
  std::vector<Arr> above(static_cast<size_t>(n_f) + 1, ones);
  for (size_t j = nl; j-- > 0;) {
    const auto& m = L.members[j];
    const int32_t t = m[L.target[j]];
    Arr target_rest = before[j];
    for (int s = 0; s < st.ns; ++s) target_rest[s] *= above[t][s];
    arr.clear();
    for (size_t a = 0; a < m.size(); ++a) arr.push_back(a == L.target[j] ? &target_rest : &A[m[a]]);
    ListFactor factor(st, arr);
    factor.child_sums(m.size());
    for (size_t a = 0; a < m.size(); ++a) {
      if (a == L.target[j]) continue;
      factor.message(a, from_rest[m[a]]);
      if (!normalise(from_rest[m[a]], st.ns)) return false;
      above[m[a]] = from_rest[m[a]];
    }
    for (int s = 0; s < st.ns; ++s) above[t][s] *= inward[j][s];
    if (!normalise(above[t], st.ns)) return false;
  }

  for (int32_t d = 1; d <= n_f; ++d) {
    Arr b = A[d];
    for (int s = 0; s < st.ns; ++s) b[s] *= from_rest[d][s];
    if (!normalise(b, st.ns)) return false;
    out[d] = summarise(b, st);
  }
  return true;
}

// Re-peeling method for one family; false when its likelihood is 0.
bool repeel_family(int32_t f, const PedigreeLayout& layout, const PedigreeTables& ped,
                   const ModelQuantities& model, const PolyTables& poly, const States& st,
                   int64_t joint, LikWork& work, IndividualPosterior* out,
                   const TraitView* view) {
  const FamilyLayout& fam = layout[f];
  const int32_t n_f = fam.size;
  // ln of the family likelihood with d's array restricted to the states
  // `keep` accepts; minus infinity when it is 0.
  auto restricted = [&](int32_t d, auto keep) {
    set_up(f, layout, ped, model, poly, joint, work, view);
    for (int g = 1; g <= 3; ++g)
      for (int k = 1; k <= st.nclass; ++k)
        if (!keep(g, k)) ind_lik(work, d, g, k) = 0.0;
    double T = 0.0;
    if (fam.has_lists()) PEEL_FAMILY(f, ped, model, poly, work, T);
    for (int32_t i = fam.first_loose; i <= n_f; ++i) T += std::log(array_sum(i, poly, work));
    return std::isnan(T) ? -std::numeric_limits<double>::infinity() : T;
  };
  // Weights exp(l - max l), normalised.
  auto weights = [](std::vector<double>& l) {
    double top = -std::numeric_limits<double>::infinity();
    for (double v : l) top = std::max(top, v);
    if (!std::isfinite(top)) return false;
    double s = 0.0;
    for (double& v : l) s += (v = std::exp(v - top));
    for (double& v : l) v /= s;
    return true;
  };
  for (int32_t d = 1; d <= n_f; ++d) {
    std::vector<double> lg(3), lk(static_cast<size_t>(st.nclass));
    for (int g = 1; g <= 3; ++g) lg[g - 1] = restricted(d, [g](int g2, int) { return g2 == g; });
    for (int k = 1; k <= st.nclass; ++k)
      lk[k - 1] = restricted(d, [k](int, int k2) { return k2 == k; });
    if (!weights(lg) || !weights(lk)) return false;
    IndividualPosterior& r = out[d];
    for (int g = 1; g <= 3; ++g) r.p[g] = lg[g - 1];
    r.class_mean = 0.0;
    for (int k = 1; k <= st.nclass; ++k) r.class_mean += k * lk[k - 1];
  }
  return true;
}

// One family by either method, without loops or in one joint state.
bool family_posteriors(int32_t f, const PedigreeLayout& layout, const FamilyLists& lists,
                       const PedigreeTables& ped, const ModelQuantities& model,
                       const PolyTables& poly, const States& st, int64_t joint, LikWork& work,
                       IndividualPosterior* out, const TraitView* view) {
  if (lists.ok)
    return outward_family(f, layout, lists, ped, model, poly, st, joint, work, out, view);
  return repeel_family(f, layout, ped, model, poly, st, joint, work, out, view);
}

// A family with loops: the mixture over the joint states; false when its
// likelihood is 0.
bool loop_family(int32_t f, const PedigreeLayout& layout, const FamilyLists& lists,
                 const PedigreeTables& ped, const ModelQuantities& model, const PolyTables& poly,
                 const States& st, LikWork& work, IndividualPosterior* out,
                 const TraitView* view) {
  const FamilyLayout& fam = layout[f];
  std::vector<double> w;
  bool floor_hit = false;
  loop_state_terms(f, layout, ped, model, poly, work, w, floor_hit, view);
  constexpr double inf = std::numeric_limits<double>::infinity();
  double high = -inf;
  for (double t : w)
    if (t > high) high = t;
  if (!std::isfinite(high)) return false;
  double total = 0.0;
  for (double& t : w) total += (t = t > -inf ? std::exp(t - high) : 0.0);
  std::vector<IndividualPosterior> given(static_cast<size_t>(fam.size) + 1);
  for (int32_t d = 1; d <= fam.size; ++d) out[d] = IndividualPosterior{};
  for (size_t joint = 0; joint < w.size(); ++joint) {
    if (w[joint] == 0.0) continue;
    if (!family_posteriors(f, layout, lists, ped, model, poly, st, static_cast<int64_t>(joint),
                           work, given.data(), view))
      return false;
    const double weight = w[joint] / total;
    for (int32_t d = 1; d <= fam.size; ++d) {
      for (int g = 1; g <= 3; ++g) out[d].p[g] += weight * given[d].p[g];
      out[d].class_mean += weight * given[d].class_mean;
    }
  }
  return true;
}

}  // namespace

PosteriorTable genotype_posteriors(const PedigreeTables& ped, const PedigreeLayout& layout,
                                   const PolyTables& poly, const ModelQuantities& model,
                                   PosteriorMethod method, const TraitView* view) {
  PosteriorTable table;
  const int32_t nfam = layout.nfam();
  table.ind.assign(static_cast<size_t>(ped.PED_START[nfam + 1]) + 1, IndividualPosterior{});
  const States st(model, poly);
  auto work = std::make_unique<LikWork>();
  for (int32_t f = 1; f <= nfam; ++f) {
    const int32_t n_f = layout[f].size;
    if (n_f <= 0) continue;
    IndividualPosterior* out = table.ind.data() + layout[f].start;
    bool fine;
    FamilyLists lists;
    if (method == PosteriorMethod::outward) lists = read_lists(f, layout, ped);
    if (!lists.ok && method == PosteriorMethod::outward) ++table.repeeled_families;
    if (layout[f].has_loops()) {
      fine = loop_family(f, layout, lists, ped, model, poly, st, *work, out, view);
    } else {
      fine =
          family_posteriors(f, layout, lists, ped, model, poly, st, NO_STATE, *work, out, view);
    }
    if (!fine) {
      ++table.impossible_families;
      for (int32_t d = 1; d <= n_f; ++d) out[d] = impossible();
    }
    for (const LoopBreaker& b : layout[f].breakers)
      for (int32_t c : b.copies) {
        out[c] = out[b.person];
        out[c].copy_of = layout[f].start + b.person;
      }
  }
  return table;
}

std::vector<IdPair> read_idmap(std::string_view text, int32_t nind) {
  std::vector<IdPair> ids(static_cast<size_t>(std::max(nind, 0)) + 1);
  std::istringstream in{std::string(text)};
  std::string line;
  for (int line_no = 1; std::getline(in, line); ++line_no) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream fields(line);
    long long number = 0;
    IdPair id;
    std::string extra;
    // A fourth field, copy, marks the copy of a loop breaker.
    std::string mark;
    if (!(fields >> number >> id.family >> id.individual) || ((fields >> mark) && mark != "copy") ||
        (fields >> extra) || number < 1 || number > nind)
      throw std::invalid_argument("idmap.dat line " + std::to_string(line_no) +
                                  ": expected a number from 1 to " + std::to_string(nind) +
                                  ", a family id, an individual id and optionally copy");
    ids[static_cast<size_t>(number)] = std::move(id);
  }
  return ids;
}

std::string posteriors_tsv(const PedigreeTables& ped, const PosteriorTable& post,
                           const std::vector<IdPair>& ids) {
  std::string out = "individual\tfamily\tfamily_id\tindividual_id\ttrait\tp1\tp2\tp3\tclass_mean\n";
  char buf[64];
  auto real = [&](double v) {
    std::snprintf(buf, sizeof buf, "\t%.17g", v);
    out += buf;
  };
  const int32_t nfam = ped.PED_START[0];
  for (int32_t f = 1; f <= nfam; ++f)
    for (int32_t i = ped.PED_START[f] + 1; i <= ped.PED_START[f + 1]; ++i) {
      if (static_cast<size_t>(i) < post.ind.size() && post.ind[i].copy_of != 0) continue;
      out += std::to_string(i) + '\t' + std::to_string(f) + '\t';
      if (static_cast<size_t>(i) < ids.size()) out += ids[i].family + '\t' + ids[i].individual;
      else out += '\t';
      out += '\t';
      if (trait_above_missing(ped.TRAIT[i])) {
        out += shortest_text(ped.TRAIT[i]);
      }
      const IndividualPosterior& r = post.ind[i];
      real(r.p[1]);
      real(r.p[2]);
      real(r.p[3]);
      real(r.class_mean);
      out += '\n';
    }
  return out;
}

}  // namespace pedseg
