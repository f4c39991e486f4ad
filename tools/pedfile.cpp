// Reading and checking a pedigree file in the one-line-per-person layout.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_map>
#include <unordered_set>
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

// The fields of a line of a comma- or tab-separated file: blanks around a
// field dropped, "..." quotes removed ("" inside stands for one ").  False
// for a quote left open or text after a closing quote; the fields are then
// still split as well as they can be.
bool split_delimited(std::string_view line, char sep, std::vector<std::string>& out) {
  out.clear();
  bool ok = true;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && line[i] != sep && is_blank(line[i])) ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size() && !closed) {
        if (line[i] != '"') field += line[i++];
        else if (i + 1 < line.size() && line[i + 1] == '"') field += '"', i += 2;
        else closed = true, ++i;
      }
      while (i < line.size() && line[i] != sep && is_blank(line[i])) ++i;
      if (!closed || (i < line.size() && line[i] != sep)) ok = false;
      while (i < line.size() && line[i] != sep) field += line[i++];
    } else {
      size_t j = i;
      while (j < line.size() && line[j] != sep) ++j;
      size_t k = j;
      while (k > i && is_blank(line[k - 1])) --k;
      field.assign(line.substr(i, k - i));
      i = j;
    }
    out.push_back(std::move(field));
    if (i >= line.size()) return ok;
    ++i;  // the separator
  }
}

// The separator of a file, from its first record line: a comma when the line
// holds at least six comma-separated fields; a tab when it holds at least six
// tab-separated fields and nothing after the sixth (a file aligned with
// several tabs a gap is read by blanks); blanks otherwise.
char separator_of(std::string_view line) {
  std::vector<std::string> f;
  if (line.find(',') != std::string_view::npos) {
    split_delimited(line, ',', f);
    if (f.size() >= 6) return ',';
  }
  if (line.find('\t') != std::string_view::npos) {
    split_delimited(line, '\t', f);
    size_t used = f.size();
    while (used > 0 && f[used - 1].empty()) --used;
    if (f.size() >= 6 && used <= 6) return '\t';
  }
  return ' ';
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
  std::vector<std::string> note_family;  // the family of each note

  void note(const std::string& fam, std::string text) {
    data.notes.push_back(std::move(text));
    note_family.push_back(fam);
  }

  void problem(int line, const std::string& fam, const std::string& ind, std::string msg) {
    problems.push_back(Problem{line, fam, ind, std::move(msg)});
  }

  // ---- reading ------------------------------------------------------------
  struct Record {
    int line = 0;
    std::vector<std::string> fields;
    bool bad_quote = false;
  };

  // The record lines of the file (comments and blank lines aside), split by
  // the separator the first of them shows.
  std::vector<Record> split_records(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      lines.push_back(text.substr(pos, nl - pos));
      pos = nl + 1;
    }
    if (!lines.empty() && lines[0].substr(0, 3) == "\xEF\xBB\xBF") lines[0].remove_prefix(3);
    std::vector<Record> records;
    bool decided = false;
    char sep = ' ';
    for (size_t k = 0; k < lines.size(); ++k) {
      std::string_view line = lines[k];
      size_t first = 0;
      while (first < line.size() && is_blank(line[first])) ++first;
      if (first == line.size() || line[first] == '#') continue;
      if (!decided) {
        decided = true;
        sep = separator_of(line);
      }
      Record r;
      r.line = static_cast<int>(k) + 1;
      if (sep == ' ') {
        for (auto f : split_fields(line)) r.fields.emplace_back(f);
      } else {
        r.bad_quote = !split_delimited(line, sep, r.fields);
        // Empty cells after the sixth field carry nothing; a row of empty
        // cells is a blank line.
        while (r.fields.size() > 6 && r.fields.back().empty()) r.fields.pop_back();
        // A tab file aligned with several tabs a gap on some lines: when the
        // cells are too many but the blanks give exactly six fields, the
        // line is read by blanks, as it was before tab files were known.
        if (sep == '\t' && r.fields.size() > 6 && line.find('"') == std::string_view::npos) {
          std::vector<std::string_view> words = split_fields(line);
          if (words.size() == 6) {
            r.fields.assign(words.begin(), words.end());
            r.bad_quote = false;
          }
        }
        if (!r.bad_quote && std::all_of(r.fields.begin(), r.fields.end(),
                                        [](const std::string& f) { return f.empty(); }))
          continue;
      }
      records.push_back(std::move(r));
    }
    data.separator = sep;
    return records;
  }

  // Whether the first record is a header: forced, or its sex field and both
  // parent fields hold no value the layout allows (a sex code; 0, empty or
  // the id of an individual of the file for a parent).  Returns the number of
  // leading fields to drop on every line: 1 for a column of row names (a
  // header of seven fields, the first empty, as R's write.csv writes it).
  bool is_header(const std::vector<Record>& records, size_t& offset) {
    offset = 0;
    if (records.empty()) return false;
    const auto& h = records[0].fields;
    if (records[0].bad_quote) return opt.header;
    if (h.size() == 7 && h[0].empty()) offset = 1;
    if (opt.header) return true;
    if (h.size() != 6 + offset) {
      offset = 0;
      return false;
    }
    const std::string& sex = h[offset + 4];
    if (sex.empty() || sex == "0" || sex == "1" || sex == "2") return false;
    std::unordered_set<std::string_view> ids;
    for (size_t k = 1; k < records.size(); ++k)
      if (records[k].fields.size() > offset + 1) ids.insert(records[k].fields[offset + 1]);
    for (size_t j : {offset + 2, offset + 3}) {
      const std::string& parent = h[j];
      if (parent.empty() || parent == "0" || ids.count(parent)) return false;
    }
    return true;
  }

  void read(std::string_view text) {
    std::unordered_map<std::string, size_t> fam_index;
    std::vector<std::unordered_map<std::string, int>> ind_line;
    float code_value = 0.0f;
    bool code_numeric = parse_float(opt.missing_code, code_value);
    std::vector<Record> records = split_records(text);
    const bool delimited = data.separator != ' ';
    size_t offset = 0;
    size_t start = 0;
    if (is_header(records, offset)) {
      data.header_line = records[0].line;
      data.row_names = offset == 1;
      start = 1;
    }
    for (size_t k = start; k < records.size(); ++k) {
      const int lineno = records[k].line;
      std::vector<std::string>& f = records[k].fields;
      if (offset > 0 && !f.empty()) f.erase(f.begin());
      const std::string fam = f.empty() ? std::string() : f[0];
      if (records[k].bad_quote) {
        problem(lineno, fam, "",
                "a quoted field has no closing quote, or text after its closing quote");
        continue;
      }
      if (f.size() != 6) {
        problem(lineno, fam, f.size() > 1 ? f[1] : std::string(),
                "expected 6 fields (family, individual, father, mother, sex, trait), found " +
                    std::to_string(f.size()));
        continue;
      }
      PedPerson p;
      p.id = f[1];
      // In a comma- or tab-separated file an empty cell is unknown.
      p.father_id = delimited && f[2].empty() ? "0" : f[2];
      p.mother_id = delimited && f[3].empty() ? "0" : f[3];
      p.line = lineno;
      bool ok = true;
      if (fam.empty() || p.id.empty()) {
        problem(lineno, fam, p.id,
                fam.empty() ? "the family id is empty" : "the individual id is empty");
        ok = false;
      } else if (std::any_of(fam.begin(), fam.end(), is_blank) ||
                 std::any_of(p.id.begin(), p.id.end(), is_blank)) {
        problem(lineno, fam, p.id,
                "an id holds a blank (the id map separates its fields by blanks)");
        ok = false;
      }
      if (p.id == "0") {
        problem(lineno, fam, p.id, "individual id 0 is reserved for an unknown parent");
        ok = false;
      }
      if (f[4] == "1") p.sex = 1;
      else if (f[4] == "2") p.sex = 2;
      else if (f[4] == "0" || (delimited && f[4].empty())) p.sex = 0;
      else  // reported; the person still takes part in the later checks
        problem(lineno, fam, p.id,
                "sex must be 1 (male), 2 (female) or 0 (unknown), not " + f[4]);
      const std::string& t = f[5];
      float v = 0.0f;
      bool numeric = parse_float(t, v);
      if (always_missing(t) || t == opt.missing_code ||
          (numeric && code_numeric && v == code_value) || (delimited && t.empty())) {
        p.measured = false;
      } else if (!numeric) {
        problem(lineno, fam, p.id,
                "trait value " + t + " is not a finite number (use " +
                    opt.missing_code + ", NA or . for a missing value)");
      } else if (trait_missing(v)) {
        // The program reads such values as missing: say so in the trait file.
        p.measured = false;
        p.low = true;
      } else {
        p.measured = true;
        p.value = v;
        if (plain_decimal(t)) {
          p.value_text = t;
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
          note(fam.id, "family " + fam.id + ": added " + what + " " + pid +
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
            note(fam.id, "family " + fam.id + ": added dummy " + (fk ? "mother " : "father ") +
                             name + " as the unknown second parent of the children of " +
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

  // Moves the problems of each family (those from `from` on) into
  // data.skipped and drops the family with its notes.
  void leave_out_bad_families(size_t from) {
    std::unordered_map<std::string, size_t> index;
    std::vector<Problem> kept;
    for (size_t k = from; k < problems.size(); ++k) {
      Problem& p = problems[k];
      if (p.family.empty()) {
        kept.push_back(std::move(p));
        continue;
      }
      auto [it, fresh] = index.try_emplace(p.family, data.skipped.size());
      if (fresh) data.skipped.push_back(SkippedFamily{p.family, {}});
      data.skipped[it->second].problems.push_back(std::move(p));
    }
    problems.resize(from);
    for (auto& p : kept) problems.push_back(std::move(p));
    if (data.skipped.empty()) return;
    auto bad = [&](const std::string& fam) { return index.count(fam) > 0; };
    std::erase_if(data.families, [&](const PedFamily& f) { return bad(f.id); });
    std::vector<std::string> notes;
    for (size_t k = 0; k < data.notes.size(); ++k)
      if (!bad(note_family[k])) notes.push_back(std::move(data.notes[k]));
    data.notes = std::move(notes);
    auto by_line = [](const Problem& a, const Problem& b) { return a.line < b.line; };
    for (auto& sf : data.skipped) std::stable_sort(sf.problems.begin(), sf.problems.end(), by_line);
    std::stable_sort(data.skipped.begin(), data.skipped.end(),
                     [](const SkippedFamily& a, const SkippedFamily& b) {
                       return a.problems.front().line < b.problems.front().line;
                     });
    if (data.families.empty() && problems.size() == from)
      problem(0, "", "", "every family has a problem and was left out; nothing to write");
  }

  // Values written as missing for being -998 or below, and measured values
  // that other programs use as missing codes, over the families kept.
  void count_values() {
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
  Checker ck{options, problems, {}, {}};
  ck.read(text);
  ck.resolve_parents();
  ck.check_roles();
  ck.check_structure();
  if (options.skip_bad_families) ck.leave_out_bad_families(before);
  ck.check_limits();
  ck.count_values();
  std::stable_sort(problems.begin() + static_cast<std::ptrdiff_t>(before), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  return std::move(ck.data);
}

}  // namespace pedseg::tools
