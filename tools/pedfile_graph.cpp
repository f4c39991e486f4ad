// Checks of the family graphs: parents' roles, ancestry cycles, pedigree
// loops (with --no-loops), the program's limits, and the counts of suspect
// missing codes.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <unordered_map>

#include "params/codes.h"
#include "pedgraph.h"
#include "pedigree/pedigree.h"

namespace pedseg::tools {

namespace {

constexpr int MAX_CYCLE_REPORTS = 10;  // per family and kind

std::string join_names(const std::vector<std::string>& names) {
  std::string s;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) s += ", ";
    s += names[i];
  }
  return s;
}

}  // namespace

MatingGraph make_matings(const PedFamily& fam, const std::vector<int>& order) {
  MatingGraph g;
  const size_t n = fam.people.size();
  g.parent_of.assign(n, {});
  g.child_of.assign(n, -1);
  std::unordered_map<long long, int> pair_index;
  for (int i : order) {
    const auto& p = fam.people[i];
    if (p.father < 0 || p.mother < 0 || p.father == p.mother) continue;
    long long key = static_cast<long long>(p.father) * static_cast<long long>(n + 1) + p.mother;
    auto [it, fresh] = pair_index.try_emplace(key, static_cast<int>(g.matings.size()));
    if (fresh) {
      g.matings.push_back(Mating{p.father, p.mother, {}});
      g.parent_of[p.father].push_back(it->second);
      g.parent_of[p.mother].push_back(it->second);
    }
    g.matings[it->second].children.push_back(i);
    g.child_of[i] = it->second;
  }
  return g;
}

// A parent's sex must fit the role; nobody is both a father and a mother.
void PedChecker::check_roles() {
  for (const auto& fam : data.families) {
    const size_t n = fam.people.size();
    std::vector<int> as_father(n, -1), as_mother(n, -1);  // first child
    for (size_t i = 0; i < n; ++i) {
      const auto& c = fam.people[i];
      if (c.father >= 0 && as_father[c.father] < 0) as_father[c.father] = static_cast<int>(i);
      if (c.mother >= 0 && as_mother[c.mother] < 0) as_mother[c.mother] = static_cast<int>(i);
    }
    auto child = [&](int c) {
      return fam.people[c].id + " (line " + std::to_string(fam.people[c].line) + ")";
    };
    for (size_t i = 0; i < n; ++i) {
      const auto& p = fam.people[i];
      if (as_father[i] >= 0 && as_mother[i] >= 0) {
        problem(p.line, fam.id, p.id,
                "is the father of " + child(as_father[i]) + " and the mother of " +
                    child(as_mother[i]));
      } else if (as_father[i] >= 0 && p.sex == 2) {
        problem(p.line, fam.id, p.id,
                "is coded female (sex 2) but is the father of " + child(as_father[i]));
      } else if (as_mother[i] >= 0 && p.sex == 1) {
        problem(p.line, fam.id, p.id,
                "is coded male (sex 1) but is the mother of " + child(as_mother[i]));
      }
    }
  }
}

// Ancestry cycles: following parent links from a person leads back to them.
// Returns true when the family has one.
bool PedChecker::check_ancestry(const PedFamily& fam) {
  const int n = static_cast<int>(fam.people.size());
  std::vector<char> color(n, 0);  // 0 new, 1 on the path, 2 done
  std::vector<int> path;
  std::vector<int> next_edge(n, 0);
  int reports = 0;
  bool found = false;
  for (int s = 0; s < n; ++s) {
    if (color[s]) continue;
    path.push_back(s);
    color[s] = 1;
    while (!path.empty()) {
      int v = path.back();
      int e = next_edge[v]++;
      if (e < 2) {
        int w = e == 0 ? fam.people[v].father : fam.people[v].mother;
        if (w < 0) continue;
        if (color[w] == 0) {
          color[w] = 1;
          path.push_back(w);
        } else if (color[w] == 1) {
          found = true;
          if (reports++ < MAX_CYCLE_REPORTS) {
            auto at = std::find(path.begin(), path.end(), w);
            std::string msg = "is their own ancestor (";
            for (auto it = at; it != path.end(); ++it) {
              msg += fam.people[*it].id + " is a child of ";
              msg += fam.people[(it + 1 == path.end()) ? w : *(it + 1)].id;
              msg += (it + 1 == path.end()) ? ")" : ", ";
            }
            problem(fam.people[w].line, fam.id, fam.people[w].id, msg);
          }
        }
      } else {
        color[v] = 2;
        path.pop_back();
      }
    }
  }
  return found;
}

// Loops of the pedigree (marriage rings, inbreeding): cycles of the graph
// that joins every mating to its two parents and its children.
void PedChecker::check_loops(const PedFamily& fam) {
  const int n = static_cast<int>(fam.people.size());
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  MatingGraph g = make_matings(fam, order);
  const int nodes = n + static_cast<int>(g.matings.size());
  std::vector<int> up(nodes);
  std::iota(up.begin(), up.end(), 0);
  auto root = [&](int x) {
    while (up[x] != x) x = up[x] = up[up[x]];
    return x;
  };
  std::vector<std::vector<int>> tree(nodes);
  int loops = 0;
  auto edge = [&](int person, int mating) {
    int a = person, b = n + mating;
    int ra = root(a), rb = root(b);
    if (ra != rb) {
      up[ra] = rb;
      tree[a].push_back(b);
      tree[b].push_back(a);
      return;
    }
    if (loops++ >= MAX_CYCLE_REPORTS) return;
    // The tree path from a to b closes the loop with this edge.
    std::vector<int> prev(nodes, -2);
    std::vector<int> queue{a};
    prev[a] = -1;
    for (size_t q = 0; q < queue.size() && prev[b] == -2; ++q)
      for (int w : tree[queue[q]])
        if (prev[w] == -2) {
          prev[w] = queue[q];
          queue.push_back(w);
        }
    std::vector<std::string> names;
    for (int x = b; x >= 0; x = prev[x])
      if (x < n) names.push_back(fam.people[x].id);
    const auto& lp = fam.people[person];
    problem(lp.line, fam.id, lp.id,
            "pedigree loop (marriage ring or inbreeding) through " + join_names(names) +
                "; nuclear-family peeling cannot handle loops");
  };
  for (size_t m = 0; m < g.matings.size(); ++m) {
    const auto& mt = g.matings[m];
    edge(mt.father, static_cast<int>(m));
    edge(mt.mother, static_cast<int>(m));
    for (int c : mt.children) edge(c, static_cast<int>(m));
  }
  if (loops > MAX_CYCLE_REPORTS) {
    problem(fam.line, fam.id, "",
            "and " + std::to_string(loops - MAX_CYCLE_REPORTS) + " more pedigree loops");
  }
}

void PedChecker::check_structure() {
  for (auto& fam : data.families) {
    if (check_ancestry(fam)) continue;
    if (opt.no_loops) check_loops(fam);
    else break_loops(fam);
  }
}

// Values written as missing for being -998 or below, and measured values
// that other programs use as missing codes, over the families kept.
void PedChecker::count_values() {
  int minus9 = 0, minus99 = 0, zeros = 0;
  std::vector<double> others;
  for (const auto& fam : data.families)
    for (const auto& p : fam.people) {
      if (p.low) ++data.low_values;
      if (!p.measured) continue;
      if (p.value == -9.0f) ++minus9;
      else if (p.value == -99.0f) ++minus99;
      else if (p.value == 0.0f) ++zeros;
      else if (!trait_in_spike(p.value)) others.push_back(p.value);
    }
  if (opt.missing_code_given) return;
  if (minus9 > 0) data.suspects.push_back({"-9", minus9, "PLINK's missing-value code"});
  if (minus99 > 0) data.suspects.push_back({"-99", minus99, "a common missing-value code"});
  if (zeros == 0 || static_cast<int>(others.size()) < ZERO_RULE_MIN) return;
  const bool positive = others[0] > 0.0;
  for (double x : others)
    if ((x > 0.0) != positive) return;
  const double n = static_cast<double>(others.size());
  double mean = 0.0;
  for (double x : others) mean += x;
  mean /= n;
  double ss = 0.0;
  for (double x : others) ss += (x - mean) * (x - mean);
  const double sd = std::sqrt(ss / (n - 1.0));
  if (std::fabs(mean) < ZERO_RULE_SDS * sd) return;
  char why[160];
  std::snprintf(why, sizeof why,
                "a common missing-value code, and every other measured value is %s (mean %.6G, "
                "standard deviation %.3G)",
                positive ? "positive" : "negative", mean, sd);
  data.suspects.push_back({"0", zeros, why});
}

// The program's fixed capacities.
void PedChecker::check_limits() {
  if (static_cast<int>(data.families.size()) > N_FAM) {
    const auto& fam = data.families[N_FAM];
    problem(fam.line, fam.id, "",
            "more than " + std::to_string(N_FAM) +
                " families, the program's limit (N_FAM); this is family " +
                std::to_string(N_FAM + 1));
  }
  long people = 0, nstart = 2, nmember = 0;
  bool size_told = false, way_told = false;
  for (const auto& fam : data.families) {
    for (const auto& p : fam.people) {
      if (++people == N_SIZE + 1 && !size_told) {
        size_told = true;
        problem(p.line, fam.id, p.id,
                "more than " + std::to_string(N_SIZE) +
                    " individuals, the program's limit (N_SIZE)");
      }
    }
    std::vector<int> order(fam.people.size());
    std::iota(order.begin(), order.end(), 0);
    MatingGraph g = make_matings(fam, order);
    nstart += static_cast<long>(g.matings.size());
    for (const auto& m : g.matings) nmember += 2 + static_cast<long>(m.children.size());
    if ((nstart > N_WAY || nmember > N_WAY) && !way_told) {
      way_told = true;
      problem(fam.line, fam.id, "",
              "more than " + std::to_string(N_WAY) +
                  " entries in the nuclear-family tables, the program's limit (N_WAY)");
    }
  }
}

}  // namespace pedseg::tools
