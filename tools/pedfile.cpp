// Reading a pedigree file in the one-line-per-person layout (records,
// separators, the header line, fields), and parse_pedfile, which takes the
// checker's steps in order (pedgraph.h).

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
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
// tab-separated fields and either nothing after the sixth or no empty cell
// before its last (a file aligned with several tabs a gap is read by blanks);
// blanks otherwise.
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
    const bool gaps = std::any_of(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(used),
                                  [](const std::string& c) { return c.empty(); });
    if (f.size() >= 6 && (used <= 6 || !gaps)) return '\t';
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
  std::string_view text;
  std::vector<std::string> fields;
  bool bad_quote = false;
};

// The record lines of the file (comments and blank lines aside), split by
// the separator the first of them shows, which `separator` receives.  In a
// comma- or tab-separated file a row of empty cells is a blank line.
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
    r.text = line;
    if (sep == ' ') {
      for (auto f : split_fields(line)) r.fields.emplace_back(f);
    } else {
      r.bad_quote = !split_delimited(line, sep, r.fields);
      if (!r.bad_quote && std::all_of(r.fields.begin(), r.fields.end(),
                                      [](const std::string& f) { return f.empty(); }))
        continue;
    }
    records.push_back(std::move(r));
  }
  separator = sep;
  return records;
}

// Drops empty cells after the first `width` of a comma- or tab-separated
// line: they carry nothing.
void trim_empty_cells(std::vector<std::string>& f, size_t width) {
  while (f.size() > width && f.back().empty()) f.pop_back();
}

// A tab file aligned with several tabs a gap on some lines: when a six-column
// file's line has too many cells but its blanks give exactly six fields, the
// line is read by blanks, as it was before tab files were known.
bool aligned_by_tabs(const Record& r, std::vector<std::string>& words) {
  if (r.fields.size() <= 6 || r.text.find('"') != std::string_view::npos) return false;
  std::vector<std::string_view> w = split_fields(r.text);
  if (w.size() != 6) return false;
  words.assign(w.begin(), w.end());
  return true;
}

// Whether the first record is a header: `forced`, or its sex field and both
// parent fields hold no value the layout allows (a sex code; 0, empty or
// the id of an individual of the file for a parent).  Returns the number of
// leading fields to drop on every line: 1 for a column of row names (a
// header of seven fields or more, the first empty, as R's write.csv writes
// it).
bool is_header(const std::vector<Record>& records, bool forced, size_t& offset) {
  offset = 0;
  if (records.empty()) return false;
  std::vector<std::string> h = records[0].fields;
  if (records[0].bad_quote) return forced;
  trim_empty_cells(h, 6);
  if (h.size() >= 7 && h[0].empty()) offset = 1;
  if (forced) return true;
  if (h.size() < 6 + offset) {
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

// The number of columns of the file's records: the header's (its empty
// cells at the end aside), else the count most record lines have (the first
// line's on a tie), at least six; in a comma- or tab-separated file, columns
// at the end that are empty on every line do not count.
size_t table_width(const std::vector<Record>& records, size_t start, size_t offset,
                   char separator) {
  const bool delimited = separator != ' ';
  auto natural = [&](const Record& r) {
    std::vector<std::string> words;
    if (separator == '\t' && aligned_by_tabs(r, words)) return size_t{6};
    return r.fields.size() > offset ? r.fields.size() - offset : size_t{0};
  };
  size_t width = 0;
  if (start == 1) {
    std::vector<std::string> h = records[0].fields;
    trim_empty_cells(h, 0);
    width = h.size() > offset ? h.size() - offset : 0;
  } else {
    std::unordered_map<size_t, size_t> count;
    size_t best = 0;
    for (size_t k = start; k < records.size(); ++k) {
      if (records[k].bad_quote) continue;
      const size_t c = natural(records[k]);
      const size_t n = ++count[c];
      if (n > best || (n == best && c == natural(records[start]))) {
        best = n;
        width = c;
      }
    }
    if (delimited) {
      while (width > 6) {
        bool empty = true;
        for (size_t k = start; k < records.size() && empty; ++k) {
          const auto& f = records[k].fields;
          empty = f.size() <= offset + width - 1 || f[offset + width - 1].empty();
        }
        if (!empty) break;
        --width;
      }
    }
  }
  return std::max(width, size_t{6});
}

// A name for covariates.dat: a letter, then letters, digits or underscores.
bool covariate_name(std::string_view s) {
  if (s.empty() || s.size() > 64 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// A covariate value as covariates.dat gets it: the text of a plain decimal,
// else the shortest text that reads back as the same double; false when the
// text is not a finite number.
bool covariate_value(const std::string& t, std::string& text) {
  if (t.empty() || t.size() > 200) return false;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
  if (plain_decimal(t)) {
    text = t;
    return true;
  }
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  text.assign(buf, res.ptr);
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
    data.header = records[0].fields;
    if (offset > 0 && !data.header.empty()) data.header.erase(data.header.begin());
    trim_empty_cells(data.header, 0);
  }
  const size_t width = records.size() > start ? table_width(records, start, offset, data.separator)
                                              : size_t{6};
  data.columns = static_cast<int>(width);
  if (!resolve_columns()) return;
  const size_t trait_at = static_cast<size_t>(data.trait_column - 1);
  for (size_t k = start; k < records.size(); ++k) {
    const int lineno = records[k].line;
    std::vector<std::string>& f = records[k].fields;
    if (delimited && !records[k].bad_quote) {
      std::vector<std::string> words;
      if (width == 6 && data.separator == '\t' && aligned_by_tabs(records[k], words)) {
        f = std::move(words);
      } else {
        if (offset > 0 && !f.empty()) f.erase(f.begin());
        trim_empty_cells(f, width);
      }
    } else if (offset > 0 && !f.empty()) {
      f.erase(f.begin());
    }
    const std::string fam = f.empty() ? std::string() : f[0];
    if (records[k].bad_quote) {
      problem(lineno, fam, "",
              "a quoted field has no closing quote, or text after its closing quote");
      continue;
    }
    if (f.size() != width) {
      problem(lineno, fam, f.size() > 1 ? f[1] : std::string(),
              width == 6 ? "expected 6 fields (family, individual, father, mother, sex, trait), "
                           "found " + std::to_string(f.size())
                         : "expected " + std::to_string(width) + " fields (family, individual, "
                           "father, mother, sex and " + std::to_string(width - 5) +
                           " more columns), found " + std::to_string(f.size()));
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
    const std::string& t = f[trait_at];
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
    read_extra_columns(f, lineno, fam, p);

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

// The columns of the trait, the covariates and the probands, by header name
// or by number.
bool PedChecker::resolve_columns() {
  const int at = data.header_line;
  const int width = data.columns;
  bool ok = true;
  auto fail = [&](std::string msg) {
    problem(at, "", "", std::move(msg));
    ok = false;
  };
  auto find = [&](const std::string& what, const std::string& name, int& col) {
    int count = 0;
    for (size_t j = 0; j < data.header.size(); ++j)
      if (data.header[j] == name && count++ == 0) col = static_cast<int>(j) + 1;
    if (count > 1) {
      fail(what + " " + name + ": " + std::to_string(count) +
           " columns of the header have that name");
      return false;
    }
    if (count == 1) return true;
    long n = 0;
    if (!name.empty() && name.size() < 10 &&
        std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      n = std::strtol(name.c_str(), nullptr, 10);
      if (n < 1 || n > width) {
        fail(what + " " + name + ": the file has " + std::to_string(width) + " columns");
        return false;
      }
      col = static_cast<int>(n);
      return true;
    }
    fail(what + " " + name + ": " +
         (data.header.empty()
              ? std::string("the file has no header line; give the column by its number (1 to ") +
                    std::to_string(width) + ")"
              : std::string("no column of the header has that name")));
    return false;
  };
  auto column_name = [&](int col) {
    return col <= static_cast<int>(data.header.size()) ? data.header[col - 1] : std::string();
  };
  const std::string fixed = "columns 1 to 5 are the family, individual, father, mother and sex";
  if (!opt.trait.empty()) {
    int col = 0;
    if (find("--trait", opt.trait, col)) {
      if (col <= FIXED_COLUMNS) fail("--trait " + opt.trait + ": " + fixed);
      else data.trait_column = col;
    }
  }
  if (!opt.proband.empty()) {
    int col = 0;
    if (find("--proband", opt.proband, col)) {
      if (col <= FIXED_COLUMNS) fail("--proband " + opt.proband + ": " + fixed);
      else if (col == data.trait_column) fail("--proband " + opt.proband + ": is the trait column");
      else data.proband_column = col;
    }
  }
  for (const std::string& name : opt.covariates) {
    int col = 0;
    std::string written = name;
    if (name == SEX_COVARIATE) {
      col = FIXED_COLUMNS;
    } else if (!find("--covariates", name, col)) {
      continue;
    } else if (col < FIXED_COLUMNS) {
      fail("--covariates " + name + ": " + fixed);
      continue;
    } else if (col == data.trait_column || col == data.proband_column) {
      fail("--covariates " + name + ": is the " +
           (col == data.trait_column ? "trait" : "proband") + " column");
      continue;
    } else if (col == FIXED_COLUMNS) {
      written = SEX_COVARIATE;
    } else if (name != column_name(col)) {
      // Given by number: the header's name, else the column's number.
      written = data.header.empty() ? "column" + name : column_name(col);
    }
    if (!covariate_name(written)) {
      fail("--covariates " + name + ": '" + written +
           "' cannot name a covariate (a letter, then letters, digits or underscores); rename "
           "the column in the header");
      continue;
    }
    if (std::find(data.covariate_names.begin(), data.covariate_names.end(), written) !=
        data.covariate_names.end()) {
      fail("--covariates " + name + ": covariate " + written + " is given twice");
      continue;
    }
    data.covariate_names.push_back(written);
    data.covariate_columns.push_back(col);
  }
  return ok;
}

// The covariates and the proband status of one record line.
void PedChecker::read_extra_columns(const std::vector<std::string>& f, int line,
                                    const std::string& fam, PedPerson& p) {
  char* end = nullptr;
  const double code = std::strtod(opt.missing_code.c_str(), &end);
  const bool code_numeric = end == opt.missing_code.c_str() + opt.missing_code.size() &&
                            !opt.missing_code.empty();
  for (size_t j = 0; j < data.covariate_columns.size(); ++j) {
    const int col = data.covariate_columns[j];
    std::string text = "NA";
    if (col == FIXED_COLUMNS) {
      if (p.sex != 0) text = p.sex == 1 ? "1" : "0";
    } else {
      const std::string& t = f[static_cast<size_t>(col) - 1];
      const bool missing = t.empty() || always_missing(t) || t == opt.missing_code;
      if (!missing && !covariate_value(t, text)) {
        problem(line, fam, p.id,
                "covariate " + data.covariate_names[j] + " (column " + std::to_string(col) +
                    "): " + t + " is not a number (use NA, . or an empty cell for a missing "
                    "value)");
        text = "NA";
      } else if (!missing && code_numeric && std::strtod(t.c_str(), nullptr) == code) {
        text = "NA";
      }
    }
    p.covariate_text.push_back(std::move(text));
  }
  if (data.proband_column > 0) {
    const std::string& t = f[static_cast<size_t>(data.proband_column) - 1];
    if (t == "1") p.proband = true;
    else if (!(t == "0" || t.empty() || always_missing(t)))
      problem(line, fam, p.id,
              "proband (column " + std::to_string(data.proband_column) + "): " + t +
                  " is not 1 (a proband) or 0");
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
