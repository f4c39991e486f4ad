// Free-format input: whole files in memory, read record by record.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "textio/textio.h"

namespace pedseg {

namespace {

constexpr char BOM[] = "\xEF\xBB\xBF";

void skip_bom(InputFile& file) {
  if (file.data.compare(0, 3, BOM) == 0) file.pos = 3;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_separator(char c) { return is_blank(c) || c == '\n' || c == ',' || c == '/'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An item as it appears in a diagnostic: in quotes, unprintable bytes
// shown as \xNN, very long items cut.
std::string shown(std::string_view item) {
  constexpr size_t LIMIT = 40;
  std::string out = "\"";
  for (size_t k = 0; k < item.size() && k < LIMIT; ++k) {
    unsigned char c = static_cast<unsigned char>(item[k]);
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (item.size() > LIMIT) out += "...";
  out.push_back('"');
  return out;
}

[[noreturn]] void fail(const RecordReader& rec, const std::string& problem) {
  throw InputError{record_diagnostic(rec, problem)};
}

[[noreturn]] void fail_end_of_file(const RecordReader& rec) {
  std::string message = rec.file->name + ": the file ends ";
  if (rec.items == 0) {
    message += "before " + rec.what;
  } else {
    message += "inside " + rec.what + ", after " + std::to_string(rec.items) +
               (rec.items == 1 ? " item" : " items");
  }
  throw InputError{message};
}

enum class ItemKind { Value, Empty, Ended };

struct Item {
  ItemKind kind;
  std::string_view text;  // raw item, quotes included
};

// Takes the next item of the record: a value, an empty item (two commas, a
// leading comma, r*), or the end of the record by a slash.
Item next_item(RecordReader& rec) {
  if (rec.ended) return {ItemKind::Ended, {}};
  if (rec.repeat_left > 0) {
    --rec.repeat_left;
    ++rec.items;
    if (rec.repeat_text.empty()) return {ItemKind::Empty, {}};
    return {ItemKind::Value, rec.repeat_text};
  }

  InputFile& f = *rec.file;
  const std::string& d = f.data;
  const size_t n = d.size();
  for (;;) {
    if (f.pos >= n) fail_end_of_file(rec);
    char c = d[f.pos];
    if (is_blank(c)) {
      ++f.pos;
    } else if (c == '\n') {
      ++f.pos;
      ++f.line;
    } else if (c == ',') {
      ++f.pos;
      if (rec.after_comma) {
        ++rec.items;
        rec.item_line = f.line;
        return {ItemKind::Empty, {}};
      }
      rec.after_comma = true;
    } else if (c == '/') {
      ++f.pos;
      rec.ended = true;
      rec.item_line = f.line;
      return {ItemKind::Ended, {}};
    } else {
      break;
    }
  }

  rec.item_line = f.line;
  rec.after_comma = false;
  size_t p = f.pos;

  // Repeat count: digits and a star in front of the value.
  int32_t repeat = 1;
  size_t q = p;
  while (q < n && is_digit(d[q])) ++q;
  if (q > p && q < n && d[q] == '*') {
    auto [end, ec] = std::from_chars(d.data() + p, d.data() + q, repeat);
    (void)end;
    if (ec != std::errc() || repeat < 1) {
      fail(rec, "the repeat count " + shown(std::string_view(d).substr(p, q - p)) +
                    " is not a number from 1 to 2147483647");
    }
    p = q + 1;
    if (p >= n || is_separator(d[p])) {
      // r* alone: r empty items.
      f.pos = p;
      ++rec.items;
      rec.repeat_left = repeat - 1;
      rec.repeat_text.clear();
      return {ItemKind::Empty, {}};
    }
  }

  const size_t start = p;
  if (d[p] == '\'' || d[p] == '"') {
    const char quote = d[p++];
    for (;;) {
      if (p >= n || d[p] == '\n') fail(rec, "a quoted text is not closed on its line");
      if (d[p] == quote) {
        if (p + 1 < n && d[p + 1] == quote) {
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      ++p;
    }
  } else {
    while (p < n && !is_separator(d[p])) ++p;
  }
  f.pos = p;
  std::string_view text = std::string_view(d).substr(start, p - start);
  ++rec.items;
  if (repeat > 1) {
    rec.repeat_left = repeat - 1;
    rec.repeat_text.assign(text);
    return {ItemKind::Value, rec.repeat_text};
  }
  return {ItemKind::Value, text};
}

// Checks the form of a real: [sign] digits [. digits] or [sign] . digits,
// then optionally E or D, [sign], digits.
bool is_real_form(std::string_view t) {
  size_t i = 0;
  const size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  size_t mantissa_digits = 0;
  while (i < n && is_digit(t[i])) ++i, ++mantissa_digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && is_digit(t[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < n && (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < n && is_digit(t[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

// Converts a checked real item with strtod or strtof (per target type), the
// D exponent letter turned into E first.  Returns false on overflow.
template <typename T>
bool convert_real(std::string_view t, T& value) {
  char small[128];
  std::string large;
  char* buf = small;
  if (t.size() >= sizeof small) {
    large.resize(t.size() + 1);
    buf = large.data();
  }
  for (size_t k = 0; k < t.size(); ++k) {
    char c = t[k];
    buf[k] = (c == 'D' || c == 'd') ? 'E' : c;
  }
  buf[t.size()] = '\0';
  if constexpr (std::is_same_v<T, float>) {
    value = std::strtof(buf, nullptr);
  } else {
    value = std::strtod(buf, nullptr);
  }
  return std::isfinite(value);
}

template <typename T>
bool read_real_item(RecordReader& rec, T& target) {
  Item item = next_item(rec);
  if (item.kind != ItemKind::Value) return false;
  if (!is_real_form(item.text)) fail(rec, shown(item.text) + " is not a valid number");
  T value;
  if (!convert_real(item.text, value)) {
    fail(rec, shown(item.text) +
                  (std::is_same_v<T, float> ? " is too large for a single-precision number"
                                            : " is too large for a number"));
  }
  target = value;
  return true;
}

}  // namespace

std::string path_in(std::string_view dir, std::string_view name) {
  if (dir.empty() || dir == ".") return std::string(name);
  std::string path(dir);
  if (path.back() != '/') path += '/';
  return path + std::string(name);
}

InputFile open_input(const std::string& name) {
  InputFile file;
  file.name = name;
  errno = 0;
  FILE* fp = std::fopen(name.c_str(), "rb");
  if (fp == nullptr) {
    int err = errno;
    if (err == ENOENT) throw InputError{name + ": the file does not exist"};
    throw InputError{name + ": the file cannot be opened (" + std::strerror(err) + ")"};
  }
  char chunk[65536];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, fp);
    file.data.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  int err = errno;
  bool failed = std::ferror(fp) != 0;
  std::fclose(fp);
  if (failed) {
    throw InputError{name + ": the file cannot be read (" + std::strerror(err) + ")"};
  }
  skip_bom(file);
  return file;
}

InputFile input_from_string(const std::string& name, std::string text) {
  InputFile file;
  file.name = name;
  file.data = std::move(text);
  skip_bom(file);
  return file;
}

RecordReader begin_record(InputFile& file, std::string what) {
  RecordReader rec;
  rec.file = &file;
  rec.what = std::move(what);
  rec.start_line = file.line;
  return rec;
}

std::string record_diagnostic(const RecordReader& rec, std::string_view problem) {
  int line = rec.item_line > 0 ? rec.item_line : rec.file->line;
  std::string message = rec.file->name + ", line " + std::to_string(line) + " (" + rec.what + "): ";
  message.append(problem);
  return message;
}

bool read_int(RecordReader& rec, int32_t& target) {
  Item item = next_item(rec);
  if (item.kind != ItemKind::Value) return false;
  std::string_view t = item.text;
  size_t i = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    i = 1;
  }
  bool digits_only = i < t.size();
  for (size_t k = i; k < t.size(); ++k) digits_only = digits_only && is_digit(t[k]);
  if (!digits_only) fail(rec, shown(t) + " is not a valid integer");
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(t.data() + i, t.data() + t.size(), magnitude);
  (void)end;
  const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
  if (ec != std::errc() || magnitude > limit) {
    fail(rec, shown(t) + " is outside the range of integers (-2147483648 to 2147483647)");
  }
  target = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
  return true;
}

bool read_real(RecordReader& rec, double& target) { return read_real_item(rec, target); }

bool read_real(RecordReader& rec, float& target) { return read_real_item(rec, target); }

bool read_text(RecordReader& rec, char* field, int width) {
  Item item = next_item(rec);
  if (item.kind != ItemKind::Value) return false;
  std::string_view t = item.text;
  int filled = 0;
  if (t.size() >= 2 && (t[0] == '\'' || t[0] == '"')) {
    // Quoted: without the quotes, a doubled quote standing for one.
    const char quote = t[0];
    for (size_t k = 1; k + 1 < t.size() && filled < width; ++k) {
      field[filled++] = t[k];
      if (t[k] == quote) ++k;
    }
  } else {
    for (size_t k = 0; k < t.size() && filled < width; ++k) field[filled++] = t[k];
  }
  for (; filled < width; ++filled) field[filled] = ' ';
  return true;
}

void end_record(RecordReader& rec) {
  InputFile& f = *rec.file;
  const size_t n = f.data.size();
  if (rec.items == 0 && !rec.ended && f.pos >= n) fail_end_of_file(rec);
  if (f.pos >= n) return;
  const void* lf = std::memchr(f.data.data() + f.pos, '\n', n - f.pos);
  if (lf == nullptr) {
    f.pos = n;
  } else {
    f.pos = static_cast<size_t>(static_cast<const char*>(lf) - f.data.data()) + 1;
    ++f.line;
  }
}

}  // namespace pedseg
