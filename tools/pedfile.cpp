// Reading a pedigree file in the one-line-per-person layout (records,
// separators, the header line, fields), and parse_pedfile, which takes the
// checker's steps in order (pedgraph.h).

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "params/codes.h"
#include "pedgraph.h"

namespace pedseg::tools {

namespace {

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

struct Record {
  int line = 0;
  std::vector<std::string> fields;
  bool bad_quote = false;
};

// The record lines of the file (comments and blank lines aside), split by
// the separator the first of them shows, which `separator` receives.
std::vector<Record> split_records(std::string_view text, char& separator) {
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
  separator = sep;
  return records;
}

// Whether the first record is a header: `forced`, or its sex field and both
// parent fields hold no value the layout allows (a sex code; 0, empty or
// the id of an individual of the file for a parent).  Returns the number of
// leading fields to drop on every line: 1 for a column of row names (a
// header of seven fields, the first empty, as R's write.csv writes it).
bool is_header(const std::vector<Record>& records, bool forced, size_t& offset) {
  offset = 0;
  if (records.empty()) return false;
  const auto& h = records[0].fields;
  if (records[0].bad_quote) return forced;
  if (h.size() == 7 && h[0].empty()) offset = 1;
  if (forced) return true;
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

}  // namespace

void PedChecker::read(std::string_view text) {
  std::unordered_map<std::string, size_t> fam_index;
  std::vector<std::unordered_map<std::string, int>> ind_line;
  float code_value = 0.0f;
  bool code_numeric = parse_float(opt.missing_code, code_value);
  std::vector<Record> records = split_records(text, data.separator);
  const bool delimited = data.separator != ' ';
  size_t offset = 0;
  size_t start = 0;
  if (is_header(records, opt.header, offset)) {
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

// Moves the problems of each family (those from `from` on) into
// data.skipped and drops the family with its notes.
void PedChecker::leave_out_bad_families(size_t from) {
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
  PedChecker ck{options, problems, {}, {}};
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
