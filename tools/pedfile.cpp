// Reading and checking a pedigree file in the one-line-per-person layout.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "params/codes.h"
#include "pedgraph.h"
#include "pedigree/pedigree.h"
#include "ped2iway.h"

namespace pedseg::tools {

namespace {

constexpr int MAX_CYCLE_REPORTS = 10;  // per family and kind

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !is_blank(line[j])) ++j;
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

// A number as strtof reads it, the whole token and finite; false otherwise.
bool parse_float(std::string_view tok, float& value) {
  if (tok.empty() || tok.size() > 200) return false;
  std::string s(tok);
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return false;
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

// A plain decimal that every free-format reader takes as it stands: an
// optional minus, digits with an optional point, an optional E exponent.
bool plain_decimal(std::string_view t) {
  if (t.empty() || t.size() > 40) return false;
  size_t i = 0;
  if (t[i] == '-') ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && t[i] == 'E') {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t e = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++e;
    if (e == 0) return false;
  }
  return i == t.size();
}

bool always_missing(std::string_view t) { return t == "NA" || t == "na" || t == "." ; }

std::string join_names(const std::vector<std::string>& names) {
  std::string s;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) s += ", ";
    s += names[i];
  }
  return s;
}

struct Checker {
  const PedOptions& opt;
  std::vector<Problem>& problems;
  PedData data;

  void problem(int line, const std::string& fam, const std::string& ind, std::string msg) {
    problems.push_back(Problem{line, fam, ind, std::move(msg)});
  }

  // ---- reading ------------------------------------------------------------
  void read(std::string_view text) {
    std::unordered_map<std::string, size_t> fam_index;
    std::vector<std::unordered_map<std::string, int>> ind_line;
    float code_value = 0.0f;
    bool code_numeric = parse_float(opt.missing_code, code_value);

    size_t pos = 0;
    int lineno = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      std::string_view line = text.substr(pos, nl - pos);
      pos = nl + 1;
      ++lineno;
      if (lineno == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
      auto f = split_fields(line);
      if (f.empty() || f[0][0] == '#') continue;
      if (f.size() != 6) {
        problem(lineno, std::string(f[0]), f.size() > 1 ? std::string(f[1]) : std::string(),
                "expected 6 fields (family, individual, father, mother, sex, trait), found " +
                    std::to_string(f.size()));
        continue;
      }
      PedPerson p;
      std::string fam(f[0]);
      p.id = std::string(f[1]);
      p.father_id = std::string(f[2]);
      p.mother_id = std::string(f[3]);
      p.line = lineno;
      bool ok = true;
      if (p.id == "0") {
        problem(lineno, fam, p.id, "individual id 0 is reserved for an unknown parent");
        ok = false;
      }
      if (f[4] == "1") p.sex = 1;
      else if (f[4] == "2") p.sex = 2;
      else if (f[4] == "0") p.sex = 0;
      else  // reported; the person still takes part in the later checks
        problem(lineno, fam, p.id,
                "sex must be 1 (male), 2 (female) or 0 (unknown), not " + std::string(f[4]));
      std::string_view t = f[5];
      float v = 0.0f;
      bool numeric = parse_float(t, v);
      if (always_missing(t) || t == opt.missing_code || (numeric && code_numeric && v == code_value)) {
        p.measured = false;
      } else if (!numeric) {
        problem(lineno, fam, p.id,
                "trait value " + std::string(t) + " is not a finite number (use " +
                    opt.missing_code + ", NA or . for a missing value)");
      } else if (trait_missing(v)) {
        // The program reads such values as missing: say so in the trait file.
        p.measured = false;
        ++data.low_values;
      } else {
        p.measured = true;
        p.value = v;
        if (plain_decimal(t)) {
          p.value_text = std::string(t);
        } else {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.9G", static_cast<double>(v));
          p.value_text = buf;
        }
      }

      auto [it, fresh] = fam_index.try_emplace(fam, data.families.size());
      if (fresh) {
        data.families.push_back(PedFamily{fam, lineno, {}});
        ind_line.emplace_back();
      }
      size_t fi = it->second;
      auto dup = ind_line[fi].find(p.id);
      if (dup != ind_line[fi].end()) {
        problem(lineno, fam, p.id,
                "duplicate individual id in the family (first on line " +
                    std::to_string(dup->second) + ")");
        continue;
      }
      ind_line[fi].emplace(p.id, lineno);
      if (!ok) continue;
      data.families[fi].people.push_back(std::move(p));
    }
    if (data.families.empty() && problems.empty()) {
      problem(0, "", "", "the file holds no individuals");
    }
  }

  // ---- parents ------------------------------------------------------------
  void resolve_parents() {
    // Where each id stands first, over all families, to point at a parent
    // given in the wrong family.
    std::unordered_map<std::string, std::pair<std::string, int>> anywhere;
    for (const auto& fam : data.families)
      for (const auto& p : fam.people) anywhere.try_emplace(p.id, fam.id, p.line);

    for (auto& fam : data.families) {
      std::unordered_map<std::string, int> index;
      for (size_t i = 0; i < fam.people.size(); ++i)
        index.emplace(fam.people[i].id, static_cast<int>(i));
      // Every id the family mentions, so that a dummy's name is new.
      std::unordered_map<std::string, int> mentioned;
      for (const auto& p : fam.people) {
        mentioned.emplace(p.id, 0);
        mentioned.emplace(p.father_id, 0);
        mentioned.emplace(p.mother_id, 0);
      }
      std::unordered_map<std::string, int> added_role;  // id -> 1 father, 2 mother
      std::unordered_map<int, int> dummy_for;           // known parent -> dummy
      int dummies = 0;
      const size_t original = fam.people.size();

      auto add_person = [&](PedPerson q) {
        fam.people.push_back(std::move(q));
        int idx = static_cast<int>(fam.people.size()) - 1;
        index.emplace(fam.people.back().id, idx);
        return idx;
      };

      for (size_t i = 0; i < original; ++i) {
        // Copies: add_person may move the vector.
        const std::string self = fam.people[i].id;
        const std::string fid = fam.people[i].father_id;
        const std::string mid = fam.people[i].mother_id;
        const int line = fam.people[i].line;
        const bool fk = fid != "0";
        const bool mk = mid != "0";
        if (!fk && !mk) continue;
        if (fk && mk && fid == mid) {
          problem(line, fam.id, self, "the same person " + fid + " is given as father and mother");
          continue;
        }
        bool failed = false;
        auto resolve = [&](const std::string& pid, int role) -> int {
          const char* what = role == 1 ? "father" : "mother";
          auto it = index.find(pid);
          if (it != index.end()) {
            auto ar = added_role.find(pid);
            if (ar != added_role.end() && ar->second != role) {
              problem(line, fam.id, self,
                      std::string(what) + " " + pid +
                          " has no line of their own and is also given as " +
                          (role == 1 ? "mother" : "father") + " of another individual");
              failed = true;
              return -1;
            }
            return it->second;
          }
          auto other = anywhere.find(pid);
          if (other != anywhere.end()) {
            problem(line, fam.id, self,
                    std::string(what) + " " + pid + " is not in family " + fam.id +
                        " (an individual " + pid + " is in family " + other->second.first +
                        ", line " + std::to_string(other->second.second) + ")");
            failed = true;
            return -1;
          }
          if (!opt.fix_parents) {
            problem(line, fam.id, self,
                    std::string(what) + " " + pid + " is not in the family (no line of their own)");
            failed = true;
            return -1;
          }
          PedPerson q;
          q.id = pid;
          q.sex = role;
          q.line = line;
          q.added = true;
          added_role.emplace(pid, role);
          data.notes.push_back("family " + fam.id + ": added " + what + " " + pid +
                               " (no line of their own; first needed on line " +
                               std::to_string(line) + ") as an unmeasured founder");
          return add_person(std::move(q));
        };
        int fa = fk ? resolve(fid, 1) : -1;
        int mo = mk ? resolve(mid, 2) : -1;
        if (failed) continue;
        if (fk != mk) {
          if (!opt.fix_parents) {
            problem(line, fam.id, self,
                    fk ? "only the father is known (mother is 0): give both parents or neither"
                       : "only the mother is known (father is 0): give both parents or neither");
            continue;
          }
          int known = fk ? fa : mo;
          auto d = dummy_for.find(known);
          int dummy;
          if (d != dummy_for.end()) {
            dummy = d->second;
          } else {
            std::string name;
            do {
              name = "dummy_" + std::to_string(++dummies);
            } while (mentioned.count(name));
            PedPerson q;
            q.id = name;
            q.sex = fk ? 2 : 1;
            q.line = line;
            q.added = true;
            dummy = add_person(std::move(q));
            dummy_for.emplace(known, dummy);
            data.notes.push_back("family " + fam.id + ": added dummy " +
                                 (fk ? "mother " : "father ") + name +
                                 " as the unknown second parent of the children of " +
                                 fam.people[known].id + " (first needed on line " +
                                 std::to_string(line) + ")");
          }
          if (fk) mo = dummy;
          else fa = dummy;
        }
        fam.people[i].father = fa;
        fam.people[i].mother = mo;
      }
    }
  }

  // A parent's sex must fit the role; nobody is both a father and a mother.
  void check_roles() {
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
  bool check_ancestry(const PedFamily& fam) {
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
  void check_loops(const PedFamily& fam) {
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

  void check_structure() {
    for (const auto& fam : data.families) {
      if (!check_ancestry(fam)) check_loops(fam);
    }
  }

  // The program's fixed capacities.
  void check_limits() {
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
};

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

std::string format_problem(const Problem& p) {
  std::string s;
  if (p.line > 0) s += "line " + std::to_string(p.line) + ": ";
  if (!p.family.empty()) {
    s += "family " + p.family;
    if (!p.individual.empty()) s += ", individual " + p.individual;
    s += ": ";
  }
  return s + p.message;
}

PedData parse_pedfile(std::string_view text, const PedOptions& options,
                      std::vector<Problem>& problems) {
  const size_t before = problems.size();
  Checker ck{options, problems, {}};
  ck.read(text);
  ck.resolve_parents();
  ck.check_roles();
  ck.check_structure();
  ck.check_limits();
  std::stable_sort(problems.begin() + static_cast<std::ptrdiff_t>(before), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  return std::move(ck.data);
}

}  // namespace pedseg::tools
