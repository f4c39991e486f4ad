// Helpers of the tools tests: converting pedigree text, loading the result
// through the program's own readers, an independent check of the peeling
// structure against the pedigree it came from, and random loop-free
// pedigrees.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "pedigree/pedigree.h"
#include "textio/textio.h"
#include "tools/ped2iway.h"

namespace toolstest {

using pedseg::tools::IwayOutput;
using pedseg::tools::PedData;
using pedseg::tools::PedOptions;
using pedseg::tools::Problem;

struct Converted {
  PedData data;
  IwayOutput out;
  std::vector<Problem> problems;
};

inline Converted convert(const std::string& text, PedOptions opt = {}) {
  Converted c;
  c.data = pedseg::tools::parse_pedfile(text, opt, c.problems);
  if (c.problems.empty()) c.out = pedseg::tools::build_iway(c.data);
  return c;
}

inline std::string all_problems(const std::vector<Problem>& ps) {
  std::string s;
  for (const auto& p : ps) s += pedseg::tools::format_problem(p) + "\n";
  return s;
}

// The written files read back by the program's readers.
inline std::unique_ptr<pedseg::PedigreeTables> load(const IwayOutput& out) {
  auto ped = std::make_unique<pedseg::PedigreeTables>();
  auto iway = pedseg::input_from_string("iway.dat", pedseg::tools::iway_text(out));
  pedseg::read_structure(iway, *ped);
  auto traits = pedseg::input_from_string("trait.dat", pedseg::tools::trait_text(out));
  pedseg::read_traits(traits, *ped);
  pedseg::derive_weights(*ped);
  return ped;
}

// Checks the tables against the requirements of nuclear-family peeling and
// against the pedigree they were built from; returns what is wrong.
inline std::vector<std::string> check_structure(const PedData& data, const IwayOutput& out) {
  std::vector<std::string> bad;
  auto fail = [&](int f, const std::string& what) {
    bad.push_back("family " + std::to_string(f) + ": " + what);
  };
  const int nfam = out.PED_START[0];
  if (nfam != static_cast<int>(data.families.size())) bad.push_back("wrong number of families");
  if (out.NUC_START.size() != out.NUC_PIVOT.size() + 1) bad.push_back("NSTART and pivots disagree");
  for (int f = 1; f <= nfam; ++f) {
    const auto& fam = data.families[f - 1];
    const int n = out.PED_START[f + 1] - out.PED_START[f];
    if (n != static_cast<int>(fam.people.size())) fail(f, "wrong size");
    // Local number of every id of the family, from the id map.
    std::map<std::string, int> local;
    for (int p = 1; p <= n; ++p) {
      const auto& id = out.ids[out.PED_START[f] + p];
      if (id.family != fam.id) fail(f, "id map names another family");
      local[id.individual] = p;
    }
    std::vector<int> parent1(n + 1, 0), parent2(n + 1, 0);
    for (const auto& person : fam.people) {
      if (person.father >= 0) {
        parent1[local[person.id]] = local[fam.people[person.father].id];
        parent2[local[person.id]] = local[fam.people[person.mother].id];
      }
    }
    const int j0 = out.PED_NUC[f] + 1, j1 = out.PED_NUC[f + 1];
    std::vector<int> target(j1 + 1, 0);
    std::vector<int> consumed_in(n + 1, 0);  // list in which a person is a non-target member
    std::vector<int> child_in(n + 1, 0);
    std::vector<int> in_any(n + 1, 0);
    for (int j = j0; j <= j1; ++j) {
      std::vector<int> list(out.NUC_MEMBERS.begin() + out.NUC_START[j],
                            out.NUC_MEMBERS.begin() + out.NUC_START[j + 1]);
      if (list.size() < 3) {
        fail(f, "list " + std::to_string(j) + " has no child");
        continue;
      }
      for (int x : list)
        if (x < 1 || x > n) fail(f, "member outside the family");
      std::set<int> distinct(list.begin(), list.end());
      if (distinct.size() != list.size()) fail(f, "a member listed twice in one list");
      for (size_t pos = 2; pos < list.size(); ++pos) {
        const int c = list[pos];
        if (parent1[c] != list[0] || parent2[c] != list[1])
          fail(f, "list " + std::to_string(j) + " holds a child of other parents");
        if (child_in[c]) fail(f, "a child in two lists");
        child_in[c] = j;
      }
      for (int x : list) in_any[x] = 1;
      const int pivot = out.NUC_PIVOT[j];
      if (pivot != 0 && std::find(list.begin(), list.end(), pivot) == list.end())
        fail(f, "pivot not a member");
      if (pivot != 0 && pivot != list[0] && pivot != list[1] && pivot != list[2])
        fail(f, "child pivot not at position 3");
      target[j] = pivot != 0 ? pivot : list[0];
      for (int x : list) {
        if (x == target[j]) continue;
        if (consumed_in[x]) fail(f, "person " + std::to_string(x) + " consumed by two lists");
        consumed_in[x] = j;
      }
    }
    for (int p = 1; p <= n; ++p)
      if (parent1[p] && !child_in[p]) fail(f, "a child with parents in no list");
    // Every array is final when consumed: no list targets a person after the
    // list that consumes them.  What a list passes to its pivot is taken up
    // by a later list (which consumes the pivot or adds to it); a closing
    // list's target appears in no later list.
    std::vector<int> last_in(n + 1, 0);
    for (int j = j0; j <= j1; ++j)
      for (int a = out.NUC_START[j]; a < out.NUC_START[j + 1]; ++a)
        last_in[out.NUC_MEMBERS[a]] = j;
    for (int j = j0; j <= j1; ++j) {
      const int t = target[j];
      if (consumed_in[t] && consumed_in[t] < j)
        fail(f, "list " + std::to_string(j) + " targets a person consumed earlier");
      if (out.NUC_PIVOT[j] != 0 && last_in[t] <= j)
        fail(f, "list " + std::to_string(j) + " passes to nobody");
      if (out.NUC_PIVOT[j] == 0 && last_in[t] != j)
        fail(f, "a closing list's target appears in a later list");
    }
    // Exactly one closing list per connected part of the lists.
    std::vector<int> comp(j1 + 1, 0);
    int parts = 0;
    for (int j = j0; j <= j1; ++j) {
      if (comp[j]) continue;
      ++parts;
      std::vector<int> stack{j};
      comp[j] = parts;
      while (!stack.empty()) {
        int k = stack.back();
        stack.pop_back();
        for (int l = j0; l <= j1; ++l) {
          if (comp[l]) continue;
          bool share = false;
          for (int a = out.NUC_START[k]; a < out.NUC_START[k + 1] && !share; ++a)
            for (int b = out.NUC_START[l]; b < out.NUC_START[l + 1]; ++b)
              if (out.NUC_MEMBERS[a] == out.NUC_MEMBERS[b]) share = true;
          if (share) {
            comp[l] = parts;
            stack.push_back(l);
          }
        }
      }
    }
    std::vector<int> closing(parts + 1, 0);
    for (int j = j0; j <= j1; ++j)
      if (out.NUC_PIVOT[j] == 0) ++closing[comp[j]];
    for (int c = 1; c <= parts; ++c)
      if (closing[c] != 1) fail(f, "a connected part without exactly one closing list");
    // Loose individuals last.
    int last_listed = 0, first_loose = n + 1;
    for (int p = 1; p <= n; ++p) {
      if (in_any[p]) last_listed = p;
      else first_loose = std::min(first_loose, p);
    }
    if (first_loose < last_listed) fail(f, "a loose individual before a listed one");
  }
  return bad;
}

// ---------------------------------------------------------------------------
// Random loop-free pedigrees in the one-line-per-person layout: couples with
// children, further marriages, parents given to founders, separate parts and
// loose individuals, with string ids and the lines shuffled.

struct RandPerson {
  int father = -1, mother = -1, sex = 1;
  std::string trait;
};

struct RandOptions {
  int max_people = 12;
  double missing = 0.2;
  double spike = 0.05;
};

inline std::vector<RandPerson> random_family(std::mt19937& rng, const RandOptions& o) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<RandPerson> ps;
  auto add = [&](int fa, int mo, int sex) {
    ps.push_back(RandPerson{fa, mo, sex, ""});
    return static_cast<int>(ps.size()) - 1;
  };
  auto kids = [&](int fa, int mo) {
    int k = pick(1, 3);
    for (int i = 0; i < k; ++i) add(fa, mo, pick(1, 2));
  };
  const int target = pick(1, o.max_people);
  int fa = add(-1, -1, 1), mo = add(-1, -1, 2);
  kids(fa, mo);
  while (static_cast<int>(ps.size()) < target) {
    const int action = pick(0, 5);
    const int p = pick(0, static_cast<int>(ps.size()) - 1);
    if (action <= 1) {  // p marries someone new
      int spouse = add(-1, -1, ps[p].sex == 1 ? 2 : 1);
      if (ps[p].sex == 1) kids(p, spouse);
      else kids(spouse, p);
    } else if (action == 2) {  // a founder with children receives parents
      std::vector<int> founders;
      for (int i = 0; i < static_cast<int>(ps.size()); ++i) {
        bool parent = false;
        for (const auto& c : ps) parent |= c.father == i || c.mother == i;
        if (ps[i].father < 0 && parent) founders.push_back(i);
      }
      if (founders.empty()) continue;
      int f0 = founders[pick(0, static_cast<int>(founders.size()) - 1)];
      int gf = add(-1, -1, 1), gm = add(-1, -1, 2);
      ps[f0].father = gf;
      ps[f0].mother = gm;
      if (pick(0, 1)) add(gf, gm, pick(1, 2));
    } else if (action == 3) {  // a separate part
      int a = add(-1, -1, 1), b = add(-1, -1, 2);
      kids(a, b);
    } else if (action == 4) {  // a loose relative
      add(-1, -1, pick(0, 2));
    } else {  // another child of an existing couple
      if (ps[p].father >= 0) add(ps[p].father, ps[p].mother, pick(1, 2));
    }
  }
  std::normal_distribution<double> val(10.0, 2.0);
  for (auto& p : ps) {
    double r = u(rng);
    if (r < o.missing) p.trait = pick(0, 1) ? "-999" : "NA";
    else if (r < o.missing + o.spike) p.trait = "1000";
    else p.trait = std::to_string(val(rng)).substr(0, 7);
  }
  return ps;
}

// Lines of families built by random_family, ids "i<n>" shifted by `offset`
// so they differ from the positions, in a random order when `shuffle`.
inline std::string random_pedfile(std::mt19937& rng, int families, const RandOptions& o,
                                  bool shuffle = true) {
  std::vector<std::string> lines;
  for (int f = 1; f <= families; ++f) {
    auto ps = random_family(rng, o);
    const int offset = std::uniform_int_distribution<int>(0, 50)(rng);
    auto id = [&](int i) { return i < 0 ? std::string("0") : "i" + std::to_string(i + offset); };
    for (int i = 0; i < static_cast<int>(ps.size()); ++i)
      lines.push_back("fam" + std::to_string(f) + " " + id(i) + " " + id(ps[i].father) + " " +
                      id(ps[i].mother) + " " + std::to_string(ps[i].sex) + " " + ps[i].trait);
  }
  if (shuffle) std::shuffle(lines.begin(), lines.end(), rng);
  std::string s;
  for (auto& l : lines) s += l + "\n";
  return s;
}

}  // namespace toolstest
