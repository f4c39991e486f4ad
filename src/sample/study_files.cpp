// The files a study adds beside iway.dat: covariates.dat and proband.dat.

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "sample/sample.h"

namespace pedseg {

namespace {

// The lines of a file: "\n" ends a line, a CR before it is dropped, and a
// final line without "\n" still counts; nothing after the last "\n" is no
// line.
std::vector<std::string_view> lines_of(const std::string& data) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string_view line(data.data() + pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

bool is_name(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// Shows a field in a diagnostic, cut when long and with control bytes as '?'.
std::string shown(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 40)) out += static_cast<unsigned char>(c) < 32 ? '?' : c;
  if (s.size() > 40) out += "...";
  return "'" + out + "'";
}

[[noreturn]] void fail(const InputFile& file, size_t line, const std::string& what) {
  throw InputError{file.name + ", line " + std::to_string(line) + ": " + what};
}

// The line count check shared by both files: `lines` holds a line per
// individual after `first` header lines.
void check_line_count(const InputFile& file, size_t lines, size_t first, int32_t nind) {
  const size_t want = first + static_cast<size_t>(nind);
  if (lines < want)
    fail(file, lines + 1,
         "the file ends after " + std::to_string(lines - std::min(lines, first)) +
             " individuals; iway.dat has " + std::to_string(nind));
  if (lines > want)
    fail(file, want + 1,
         "more lines than the " + std::to_string(nind) + " individuals of iway.dat");
}

}  // namespace

CovariateTable read_covariates(InputFile& file, int32_t nind) {
  const std::vector<std::string_view> lines = lines_of(file.data);
  CovariateTable t;
  if (lines.empty()) fail(file, 1, "no covariate names (the file is empty)");
  for (std::string_view name : fields_of(lines[0])) {
    if (!is_name(name))
      fail(file, 1, shown(name) + " is not a covariate name (a letter, then letters, digits "
                                  "or underscores)");
    for (const std::string& other : t.names)
      if (other == name) fail(file, 1, "covariate " + other + " is named twice");
    t.names.emplace_back(name);
  }
  if (t.names.empty()) fail(file, 1, "no covariate names");
  check_line_count(file, lines.size(), 1, nind);
  const size_t k = t.names.size();
  t.values.assign((static_cast<size_t>(nind) + 1) * k, std::numeric_limits<double>::quiet_NaN());
  std::string text;
  for (size_t l = 1; l < lines.size(); ++l) {
    const std::vector<std::string_view> f = fields_of(lines[l]);
    if (f.size() != k)
      fail(file, l + 1,
           "expected " + std::to_string(k) + (k == 1 ? " value" : " values") + ", found " +
               std::to_string(f.size()));
    for (size_t j = 0; j < k; ++j) {
      if (f[j] == "NA") continue;
      text.assign(f[j]);
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size() || !std::isfinite(v))
        fail(file, l + 1,
             "column " + std::to_string(j + 1) + " (" + t.names[j] + "): " + shown(f[j]) +
                 " is not a finite number or NA");
      t.values[l * k + j] = v;
    }
  }
  return t;
}

std::vector<uint8_t> read_probands(InputFile& file, int32_t nind) {
  const std::vector<std::string_view> lines = lines_of(file.data);
  check_line_count(file, lines.size(), 0, nind);
  std::vector<uint8_t> proband(static_cast<size_t>(nind) + 1, 0);
  for (size_t l = 0; l < lines.size(); ++l) {
    const std::vector<std::string_view> f = fields_of(lines[l]);
    if (f.size() != 1 || (f[0] != "0" && f[0] != "1"))
      fail(file, l + 1,
           "expected 1 (a proband) or 0, found " +
               (f.empty() ? std::string("an empty line") : shown(lines[l])));
    proband[l + 1] = f[0] == "1" ? 1 : 0;
  }
  return proband;
}

}  // namespace pedseg
