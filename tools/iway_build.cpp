// From checked pedigree data to the program's tables and files.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "params/codes.h"
#include "params/params.h"
#include "pedgraph.h"
#include "ped2iway.h"

namespace pedseg::tools {

namespace {

// Parents before children, in file order where the links allow; loose
// individuals (no parent and no child in the family) last.
std::vector<int> local_order(const PedFamily& fam) {
  const int n = static_cast<int>(fam.people.size());
  std::vector<char> has_child(n, 0);
  for (const auto& p : fam.people) {
    if (p.father >= 0) has_child[p.father] = 1;
    if (p.mother >= 0) has_child[p.mother] = 1;
  }
  auto loose = [&](int i) {
    return fam.people[i].father < 0 && fam.people[i].mother < 0 && !has_child[i];
  };
  std::vector<int> order;
  order.reserve(n);
  std::vector<char> state(n, 0);  // 0 new, 1 waiting for its parents, 2 placed
  std::vector<int> stack;
  for (int s = 0; s < n; ++s) {
    if (loose(s) || state[s]) continue;
    stack.push_back(s);
    state[s] = 1;
    while (!stack.empty()) {
      int v = stack.back();
      int fa = fam.people[v].father, mo = fam.people[v].mother;
      if (fa >= 0 && state[fa] == 0) {
        state[fa] = 1;
        stack.push_back(fa);
      } else if (mo >= 0 && state[mo] == 0) {
        state[mo] = 1;
        stack.push_back(mo);
      } else {
        state[v] = 2;
        order.push_back(v);
        stack.pop_back();
      }
    }
  }
  for (int s = 0; s < n; ++s)
    if (loose(s)) order.push_back(s);
  return order;
}

void append_record(std::string& s, const std::vector<int32_t>& items, size_t from = 0) {
  constexpr size_t PER_LINE = 20;
  size_t k = 0;
  for (size_t i = from; i < items.size(); ++i, ++k) {
    if (k > 0) s += (k % PER_LINE == 0) ? '\n' : ' ';
    s += std::to_string(items[i]);
  }
  s += '\n';
}

std::string num(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.6G", v);
  return buf;
}

}  // namespace

IwayOutput build_iway(const PedData& data) {
  IwayOutput out;
  const int nfam = static_cast<int>(data.families.size());
  out.PED_START.assign(nfam + 2, 0);
  out.PED_NUC.assign(nfam + 2, 0);
  out.PED_START[0] = nfam;
  out.NUC_START.push_back(0);
  out.NUC_PIVOT.push_back(0);
  out.IND_CODE.push_back(0);
  out.TRAIT.push_back(0.0f);
  out.trait_text.emplace_back();
  out.ids.emplace_back();
  out.covariate_names = data.covariate_names;
  out.covariate_text.emplace_back();
  out.has_proband = data.proband_column > 0;
  out.proband.push_back(0);
  const std::vector<std::string> no_covariates(data.covariate_names.size(), "NA");

  int32_t global = 0;
  int32_t nuc = 0;
  for (int f = 1; f <= nfam; ++f) {
    const PedFamily& fam = data.families[f - 1];
    out.PED_START[f] = global;
    out.PED_NUC[f] = nuc;
    const int n = static_cast<int>(fam.people.size());

    std::vector<int> order = local_order(fam);
    std::vector<int32_t> local(n, 0);
    for (int i = 0; i < n; ++i) local[order[i]] = i + 1;

    bool any_measured = false, any_proband = false;
    for (int idx : order) {
      const PedPerson& p = fam.people[idx];
      ++global;
      out.IND_CODE.push_back(p.sex);
      out.covariate_text.push_back(p.covariate_text.size() == no_covariates.size()
                                       ? p.covariate_text
                                       : no_covariates);
      out.proband.push_back(p.proband ? 1 : 0);
      any_proband |= p.proband;
      if (p.copy_of >= 0) {
        out.TRAIT.push_back(-999.0f);
        out.trait_text.emplace_back("-999");
        out.loops.push_back({f, out.PED_START[f] + local[p.copy_of], global});
      } else if (p.measured) {
        any_measured = true;
        out.TRAIT.push_back(p.value);
        out.trait_text.push_back(p.value_text);
        ++out.measured;
        if (trait_in_spike(p.value)) ++out.spike;
      } else {
        out.TRAIT.push_back(-999.0f);
        out.trait_text.emplace_back("-999");
        ++out.missing;
      }
      out.ids.push_back(IwayOutput::Ident{fam.id, p.id, local[idx], p.added, p.copy_of >= 0});
    }
    if (!any_measured) ++out.unmeasured_families;
    if (out.has_proband && !any_proband) out.no_proband.push_back(fam.id);

    MatingGraph g = make_matings(fam, order);
    for (int i = 0; i < n; ++i)
      if (g.parent_of[i].empty() && g.child_of[i] < 0) ++out.loose;

    // Each connected part is a tree of matings joined through shared people.
    // Walk it from its first mating, recording through whom each mating was
    // reached; the reverse of the visiting order puts every mating before the
    // one it passes its information to.
    const int m = static_cast<int>(g.matings.size());
    std::vector<char> seen(m, 0);
    std::vector<int> connector(m, -1);
    int parts = 0;
    std::vector<std::pair<int, int>> stack;
    std::vector<int> visit;
    for (int r = 0; r < m; ++r) {
      if (seen[r]) continue;
      ++parts;
      visit.clear();
      stack.assign(1, {r, -1});
      seen[r] = 1;
      while (!stack.empty()) {
        // Plain variables, not a structured binding: the lambda below
        // captures them, which clang before 16 does not allow for bindings.
        const int k = stack.back().first;
        const int via = stack.back().second;
        stack.pop_back();
        connector[k] = via;
        visit.push_back(k);
        const Mating& mt = g.matings[k];
        auto reach = [&](int y) {
          if (y == via) return;
          for (int nb : g.parent_of[y])
            if (!seen[nb]) {
              seen[nb] = 1;
              stack.emplace_back(nb, y);
            }
          int up = g.child_of[y];
          if (up >= 0 && !seen[up]) {
            seen[up] = 1;
            stack.emplace_back(up, y);
          }
        };
        reach(mt.father);
        reach(mt.mother);
        for (int c : mt.children) reach(c);
      }
      for (auto it = visit.rbegin(); it != visit.rend(); ++it) {
        const Mating& mt = g.matings[*it];
        const int via = connector[*it];
        ++nuc;
        out.NUC_START.push_back(static_cast<int32_t>(out.NUC_MEMBERS.size()));
        out.NUC_MEMBERS.push_back(local[mt.father]);
        out.NUC_MEMBERS.push_back(local[mt.mother]);
        if (via >= 0 && via != mt.father && via != mt.mother) {
          out.NUC_MEMBERS.push_back(local[via]);  // a child pivot stands first
          for (int c : mt.children)
            if (c != via) out.NUC_MEMBERS.push_back(local[c]);
        } else {
          for (int c : mt.children) out.NUC_MEMBERS.push_back(local[c]);
        }
        out.NUC_PIVOT.push_back(via >= 0 ? local[via] : 0);
      }
    }
    if (parts > 1) ++out.split_families;
  }
  out.PED_START[nfam + 1] = global;
  out.PED_NUC[nfam + 1] = nuc;
  out.NUC_START.push_back(static_cast<int32_t>(out.NUC_MEMBERS.size()));
  out.nuclear = nuc;
  return out;
}

std::string iway_text(const IwayOutput& out) {
  std::string s;
  const int32_t nfam = static_cast<int32_t>(out.PED_START.size()) - 2;
  std::vector<int32_t> r1{nfam};
  r1.insert(r1.end(), out.PED_START.begin(), out.PED_START.end());
  append_record(s, r1);
  append_record(s, out.PED_NUC);
  std::vector<int32_t> r3{static_cast<int32_t>(out.NUC_START.size())};
  r3.insert(r3.end(), out.NUC_START.begin(), out.NUC_START.end());
  append_record(s, r3);
  std::vector<int32_t> r4{static_cast<int32_t>(out.NUC_MEMBERS.size())};
  r4.insert(r4.end(), out.NUC_MEMBERS.begin(), out.NUC_MEMBERS.end());
  append_record(s, r4);
  append_record(s, out.NUC_PIVOT, 1);  // an empty line when there is none
  std::vector<int32_t> r6{static_cast<int32_t>(out.IND_CODE.size()) - 1};
  r6.insert(r6.end(), out.IND_CODE.begin() + 1, out.IND_CODE.end());
  append_record(s, r6);
  return s;
}

std::string trait_text(const IwayOutput& out) {
  std::string s;
  for (size_t i = 1; i < out.trait_text.size(); ++i) {
    s += out.trait_text[i];
    s += '\n';
  }
  return s;
}

std::string idmap_text(const IwayOutput& out) {
  std::string s = "# global number, family id, individual id (order of iway.dat and the trait file)\n";
  if (!out.loops.empty()) s += "# a fourth field, copy, marks the copy of a loop breaker\n";
  for (size_t i = 1; i < out.ids.size(); ++i)
    s += std::to_string(i) + ' ' + out.ids[i].family + ' ' + out.ids[i].individual +
         (out.ids[i].copy ? " copy\n" : "\n");
  return s;
}

std::string covariates_text(const IwayOutput& out) {
  std::string s;
  for (size_t j = 0; j < out.covariate_names.size(); ++j)
    s += (j ? " " : "") + out.covariate_names[j];
  s += '\n';
  for (size_t i = 1; i < out.covariate_text.size(); ++i) {
    for (size_t j = 0; j < out.covariate_text[i].size(); ++j)
      s += (j ? " " : "") + out.covariate_text[i][j];
    s += '\n';
  }
  return s;
}

std::string proband_text(const IwayOutput& out) {
  std::string s;
  for (size_t i = 1; i < out.proband.size(); ++i) s += out.proband[i] ? "1\n" : "0\n";
  return s;
}

std::string loops_text(const IwayOutput& out) {
  std::string s = "# family, loop breaker, its copy (global numbers of iway.dat)\n";
  for (const auto& l : out.loops)
    s += std::to_string(l.family) + ' ' + std::to_string(l.person) + ' ' +
         std::to_string(l.copy) + '\n';
  return s;
}

std::string par_template_text(const IwayOutput& out, const std::string& trait_file) {
  // Moments of the measured values outside the spike.
  long count = 0, spikes = 0;
  double sum = 0.0;
  for (size_t i = 1; i < out.TRAIT.size(); ++i) {
    const float y = out.TRAIT[i];
    if (trait_missing(y)) continue;
    if (trait_in_spike(y)) {
      ++spikes;
      continue;
    }
    ++count;
    sum += static_cast<double>(y);
  }
  double mean = count > 0 ? sum / static_cast<double>(count) : 0.0;
  double ss = 0.0;
  for (size_t i = 1; i < out.TRAIT.size(); ++i) {
    const float y = out.TRAIT[i];
    if (trait_missing(y) || trait_in_spike(y)) continue;
    const double d = static_cast<double>(y) - mean;
    ss += d * d;
  }
  double var = count > 1 ? ss / static_cast<double>(count - 1) : 0.0;
  const bool guessed = !(var > 0.0);
  if (guessed) var = 1.0;
  const double sd = std::sqrt(var);

  std::string s = trait_file + "    trait file\n";
  auto rec = [&](int i, int est, double val, double step, double lo, double hi,
                 const std::string& what) {
    s += std::to_string(i) + ' ' + std::to_string(est) + ' ' + num(val) + ' ' + num(step) + ' ' +
         num(lo) + ' ' + num(hi) + "    " + what + '\n';
  };
  rec(SLOT_Q, 1, 0.2, 0.05, 0.0, 1.0, "q: frequency of the allele carried twice by genotype 1");
  const long measured = count + spikes;
  double p = 0.0;  // the spike probabilities' start: the share of the spike
  if (spikes > 0)
    p = std::clamp(static_cast<double>(spikes) / static_cast<double>(measured), 0.01, 0.5);
  const double lo = mean - 10.0 * sd, hi = mean + 10.0 * sd;
  const double means[4] = {0.0, mean + sd, mean, mean - sd};
  const std::string genotype[4] = {"", "genotype 1", "genotype 2", "genotype 3"};
  for (int g = 1; g <= 3; ++g)
    rec(spike_slot(g), spikes > 0 ? 1 : 0, p, 0.1 * p, 0.0, 1.0,
        "spike probability of " + genotype[g] + (spikes > 0 ? "" : " (no spike values)"));
  for (int g = 1; g <= 3; ++g)
    rec(mean_slot(g), 1, means[g], 0.5 * sd, lo, hi, "mean of " + genotype[g]);
  for (int g = 1; g <= 3; ++g)
    rec(tau_slot(g), 0, MENDELIAN_TAU[g], 0.0, 0.0, 1.0,
        "transmission probability of " + genotype[g] + " (Mendelian)");
  rec(SLOT_POLY_EFFECT, 1, 0.1 * sd, 0.05 * sd, -sd, sd, "polygenic effect per class");
  rec(SLOT_RES_VAR, 1, var, 0.1 * var, 0.001 * var, 10.0 * var, "residual variance");
  s += "\n";
  s += "Each parameter line: link (its own number: not linked), free (1) or fixed (0),\n";
  s += "value, step, lower bound, upper bound.  A free value must lie strictly inside its bounds.\n";
  s += "Starting values from " + std::to_string(count) + " measured values outside the spike: mean " +
       num(mean) + ", variance " + (guessed ? std::string("unknown (1 assumed)") : num(var)) +
       "; values in the spike: " + std::to_string(spikes) + ".\n";
  return s;
}

}  // namespace pedseg::tools
