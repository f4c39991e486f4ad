// Breaking pedigree loops: a loop breaker's copy, a founder with a missing
// trait, takes the breaker's place as a parent in the matings on the far side
// of each cut, so that people and matings form a forest that peels as one.

#include <algorithm>
#include <numeric>

#include "pedgraph.h"

namespace pedseg::tools {

namespace {

// Sets of breakers tried before the search turns greedy.
constexpr long LOOP_SEARCH_BUDGET = 20000;

struct Edge {
  int person = 0;
  int mating = 0;  // node number: people first, then matings
  bool parent = false;
};

struct Forest {
  std::vector<int> up;
  explicit Forest(int nodes) : up(static_cast<size_t>(nodes)) {
    std::iota(up.begin(), up.end(), 0);
  }
  int root(int x) {
    while (up[x] != x) x = up[x] = up[up[x]];
    return x;
  }
  // False when a and b are joined already (the edge closes a cycle).
  bool join(int a, int b) {
    const int ra = root(a), rb = root(b);
    if (ra == rb) return false;
    up[ra] = rb;
    return true;
  }
};

// The edges that close cycles when `edges` are added in order, leaving out
// those of people marked in `removed`.
int cycle_rank(int nodes, const std::vector<Edge>& edges, const std::vector<char>& removed) {
  Forest forest(nodes);
  int rank = 0;
  for (const Edge& e : edges)
    if (!removed[e.person] && !forest.join(e.person, e.mating)) ++rank;
  return rank;
}

// Tries every set of k of the candidates (lexicographic order); true with
// `chosen` marked for the first that leaves no cycle.  `budget` counts down.
bool search_sets(int nodes, const std::vector<Edge>& core, const std::vector<int>& cand, int k,
                 std::vector<char>& chosen, long& budget) {
  std::vector<int> pick(static_cast<size_t>(k));
  std::iota(pick.begin(), pick.end(), 0);
  const int c = static_cast<int>(cand.size());
  for (;;) {
    if (--budget < 0) return false;
    for (int i : pick) chosen[cand[i]] = 1;
    if (cycle_rank(nodes, core, chosen) == 0) return true;
    for (int i : pick) chosen[cand[i]] = 0;
    int j = k - 1;
    while (j >= 0 && pick[j] == c - k + j) --j;
    if (j < 0) return false;
    ++pick[j];
    for (int l = j + 1; l < k; ++l) pick[l] = pick[l - 1] + 1;
  }
}

// Number of k-sets of c, capped above `cap`.
long sets_of(int c, int k, long cap) {
  long n = 1;
  for (int i = 1; i <= k; ++i) {
    n = n * (c - k + i) / i;
    if (n > cap) return cap + 1;
  }
  return n;
}

}  // namespace

std::vector<LoopCut> choose_loop_cuts(int people, const MatingGraph& g) {
  const int nodes = people + static_cast<int>(g.matings.size());
  std::vector<Edge> edges;
  for (size_t m = 0; m < g.matings.size(); ++m) {
    const int node = people + static_cast<int>(m);
    edges.push_back({g.matings[m].father, node, true});
    edges.push_back({g.matings[m].mother, node, true});
    for (int c : g.matings[m].children) edges.push_back({c, node, false});
  }
  const std::vector<char> none(static_cast<size_t>(people), 0);
  const int rank = cycle_rank(nodes, edges, none);
  if (rank == 0) return {};

  // The 2-core: what is left once nodes of one edge or none are pruned.
  std::vector<int> degree(static_cast<size_t>(nodes), 0);
  std::vector<std::vector<int>> at(static_cast<size_t>(nodes));
  for (size_t e = 0; e < edges.size(); ++e) {
    for (int x : {edges[e].person, edges[e].mating}) {
      ++degree[x];
      at[x].push_back(static_cast<int>(e));
    }
  }
  std::vector<char> pruned(static_cast<size_t>(nodes), 0), dead(edges.size(), 0);
  std::vector<int> queue;
  for (int x = 0; x < nodes; ++x)
    if (degree[x] <= 1) queue.push_back(x), pruned[x] = 1;
  for (size_t q = 0; q < queue.size(); ++q)
    for (int e : at[queue[q]]) {
      if (dead[e]) continue;
      dead[e] = 1;
      for (int y : {edges[e].person, edges[e].mating})
        if (!pruned[y] && --degree[y] <= 1) pruned[y] = 1, queue.push_back(y);
    }
  std::vector<Edge> core;
  for (size_t e = 0; e < edges.size(); ++e)
    if (!dead[e]) core.push_back(edges[e]);

  // Candidates: the people of the core, most edges first, then file order.
  std::vector<int> cand;
  for (int p = 0; p < people; ++p)
    if (!pruned[p]) cand.push_back(p);
  std::stable_sort(cand.begin(), cand.end(),
                   [&](int a, int b) { return degree[a] > degree[b]; });

  std::vector<char> chosen(static_cast<size_t>(people), 0);
  long budget = LOOP_SEARCH_BUDGET;
  bool found = false;
  const int c = static_cast<int>(cand.size());
  for (int k = 1; k <= c && !found; ++k) {
    // A person removed takes at most (its core edges - 1) cycles away.
    int reach = 0;
    for (int i = 0; i < k; ++i) reach += degree[cand[i]] - 1;
    if (reach < rank) continue;
    if (sets_of(c, k, budget) > budget) break;
    found = search_sets(nodes, core, cand, k, chosen, budget);
  }
  if (!found) {
    // Greedy: the candidate whose removal leaves the fewest cycles, until
    // none is left.
    std::fill(chosen.begin(), chosen.end(), 0);
    int left = rank;
    while (left > 0) {
      int best = -1, best_left = left;
      for (int p : cand) {
        if (chosen[p]) continue;
        chosen[p] = 1;
        const int r = cycle_rank(nodes, core, chosen);
        chosen[p] = 0;
        if (r < best_left) best = p, best_left = r;
      }
      if (best < 0) break;  // cannot happen: every cycle passes through a candidate
      chosen[best] = 1;
      left = best_left;
    }
  }

  // Every edge but the breakers' parent edges, then those in order: an edge
  // that would close a cycle is cut.
  Forest forest(nodes);
  for (const Edge& e : edges)
    if (!(e.parent && chosen[e.person])) forest.join(e.person, e.mating);
  std::vector<LoopCut> cuts;
  for (int p : cand) {
    if (!chosen[p]) continue;
    for (int m : g.parent_of[p])
      if (!forest.join(p, people + m)) cuts.push_back({p, m});
  }
  std::stable_sort(cuts.begin(), cuts.end(),
                   [](const LoopCut& a, const LoopCut& b) { return a.person < b.person; });
  return cuts;
}

// Adds a copy per cut: a founder of the person's sex, without a trait, that
// becomes the parent of the cut mating's children in the person's place.
void PedChecker::break_loops(PedFamily& fam) {
  const int n = static_cast<int>(fam.people.size());
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  const MatingGraph g = make_matings(fam, order);
  const std::vector<LoopCut> cuts = choose_loop_cuts(n, g);
  for (const LoopCut& cut : cuts) {
    const PedPerson& p = fam.people[cut.person];
    PedPerson copy;
    copy.id = p.id;
    copy.sex = p.sex;
    copy.line = p.line;
    copy.added = p.added;
    copy.copy_of = cut.person;
    copy.covariate_text.assign(p.covariate_text.size(), "NA");
    fam.people.push_back(std::move(copy));
    const int k = static_cast<int>(fam.people.size()) - 1;
    for (int child : g.matings[cut.mating].children) {
      PedPerson& c = fam.people[child];
      if (c.father == cut.person) c.father = k;
      else c.mother = k;
    }
  }
}

}  // namespace pedseg::tools
