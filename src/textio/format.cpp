// Formatted output: a small interpreter of the format strings the program
// uses (nX, quoted texts, "/", Iw, Aw, Ew.d with an optional repeat count),
// and free-format console lines.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "textio/textio.h"

namespace pedseg {

namespace {

[[noreturn]] void bad_format(std::string_view format, const char* why) {
  throw std::invalid_argument("format " + std::string(format) + ": " + why);
}

bool is_ignorable(char c) { return c == ' ' || c == '\t'; }

// Reads an unsigned decimal number at format[pos], skipping blanks and tabs
// inside it.  Returns -1 when there is no digit.
int read_number(std::string_view format, size_t& pos) {
  int value = -1;
  while (pos < format.size()) {
    char c = format[pos];
    if (is_ignorable(c)) {
      ++pos;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (value > 100000) bad_format(format, "number too large");
    value = (value < 0 ? 0 : value * 10) + (c - '0');
    ++pos;
  }
  return value;
}

// A line being built: blanks from nX are held back until something follows
// them, so that they never end a line.
struct LineBuilder {
  std::string out;
  size_t pending_blanks = 0;

  void put(std::string_view s) {
    out.append(pending_blanks, ' ');
    pending_blanks = 0;
    out.append(s);
  }
  void end_line() {
    pending_blanks = 0;
    out.push_back('\n');
  }
};

std::string non_finite(double value, int w) {
  // Infinities and NaN have no E form: written by name when it fits.
  std::string text;
  if (std::isnan(value)) {
    text = "NaN";
  } else if (value > 0) {
    text = w >= 8 ? "Infinity" : "Inf";
  } else {
    text = w >= 9 ? "-Infinity" : "-Inf";
  }
  if (static_cast<int>(text.size()) > w) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w) - text.size(), ' ') + text;
}

}  // namespace

std::string edit_I(int64_t value, int w) {
  if (w <= 0) throw std::invalid_argument("I edit with a width below 1");
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%" PRId64, value);
  if (n > w) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w - n), ' ') + buf;
}

std::string edit_E(double value, int w, int d) {
  if (w <= 0 || d <= 0) throw std::invalid_argument("E edit with a width or digit count below 1");
  if (!std::isfinite(value)) return non_finite(value, w);

  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);

  // The d significant digits and the exponent of the form 0.ddd x 10^exp.
  std::string digits;
  int exp = 0;
  if (magnitude == 0.0) {
    digits.assign(static_cast<size_t>(d), '0');
  } else {
    // "%.*E" rounds correctly to d digits: D.DDDDE+XX, re-scaled by one.
    std::string buf(static_cast<size_t>(d) + 16, '\0');
    int n = std::snprintf(buf.data(), buf.size(), "%.*E", d - 1, magnitude);
    buf.resize(static_cast<size_t>(n));
    size_t epos = buf.find('E');
    digits.push_back(buf[0]);
    if (d > 1) digits.append(buf, 2, static_cast<size_t>(d - 1));
    exp = std::atoi(buf.c_str() + epos + 1) + 1;
  }

  char expbuf[8];
  int aexp = exp < 0 ? -exp : exp;
  if (aexp <= 99) {
    std::snprintf(expbuf, sizeof expbuf, "E%c%02d", exp < 0 ? '-' : '+', aexp);
  } else if (aexp <= 999) {
    std::snprintf(expbuf, sizeof expbuf, "%c%03d", exp < 0 ? '-' : '+', aexp);
  } else {
    return std::string(static_cast<size_t>(w), '*');
  }

  std::string field;
  if (negative) field.push_back('-');
  field += "0.";
  field += digits;
  field += expbuf;
  if (static_cast<int>(field.size()) == w + 1) {
    // One column short: the leading 0 goes.
    field.erase(negative ? 1 : 0, 1);
  }
  if (static_cast<int>(field.size()) > w) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w) - field.size(), ' ') + field;
}

std::string format_lines(std::string_view format, std::initializer_list<FmtItem> items) {
  size_t open = format.find('(');
  size_t close = format.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    bad_format(format, "not enclosed in parentheses");
  }
  for (size_t k = 0; k < open; ++k) {
    if (!is_ignorable(format[k])) bad_format(format, "text before the opening parenthesis");
  }

  LineBuilder line;
  const FmtItem* item = items.begin();
  const FmtItem* const items_end = items.end();

  for (;;) {
    bool took_item = false;
    size_t pos = open + 1;
    while (pos < close) {
      char c = format[pos];
      if (is_ignorable(c) || c == ',') {
        ++pos;
        continue;
      }
      if (c == '/') {
        line.end_line();
        ++pos;
        continue;
      }
      if (c == '\'') {
        // Quoted text; a doubled apostrophe stands for one.
        std::string text;
        ++pos;
        for (;;) {
          if (pos >= close) bad_format(format, "quoted text not closed");
          if (format[pos] == '\'') {
            if (pos + 1 < close && format[pos + 1] == '\'') {
              text.push_back('\'');
              pos += 2;
              continue;
            }
            ++pos;
            break;
          }
          text.push_back(format[pos++]);
        }
        line.put(text);
        continue;
      }

      int count = read_number(format, pos);
      if (pos >= close) bad_format(format, "descriptor missing after a number");
      char letter = format[pos++];
      if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');

      if (letter == 'X') {
        line.pending_blanks += static_cast<size_t>(count < 0 ? 1 : count);
        continue;
      }
      if (letter != 'I' && letter != 'A' && letter != 'E') {
        bad_format(format, "unknown edit descriptor");
      }
      int repeat = count < 0 ? 1 : count;
      if (repeat == 0) bad_format(format, "repeat count of 0");
      if (letter != 'E' && count >= 0) bad_format(format, "repeat count before I or A");
      int w = read_number(format, pos);
      int d = 0;
      if (letter == 'E') {
        while (pos < close && is_ignorable(format[pos])) ++pos;
        if (pos >= close || format[pos] != '.') bad_format(format, "E without .d");
        ++pos;
        d = read_number(format, pos);
        if (w <= 0 || d <= 0) bad_format(format, "E needs a width and digits");
      } else if (letter == 'I' && w <= 0) {
        bad_format(format, "I needs a width");
      }

      for (int r = 0; r < repeat; ++r) {
        if (item == items_end) {
          // No item left for this data descriptor: the write ends here.
          line.end_line();
          return line.out;
        }
        const FmtItem& it = *item++;
        took_item = true;
        switch (letter) {
          case 'I':
            if (it.kind != FmtItem::Int) bad_format(format, "I edit of an item that is not an integer");
            line.put(edit_I(it.i, w));
            break;
          case 'E':
            if (it.kind != FmtItem::Real) bad_format(format, "E edit of an item that is not a real");
            line.put(edit_E(it.d, w, d));
            break;
          default:  // 'A'
            if (it.kind != FmtItem::Text) bad_format(format, "A edit of an item that is not a text");
            if (w <= 0 || static_cast<size_t>(w) == it.s.size()) {
              line.put(it.s);
            } else if (static_cast<size_t>(w) < it.s.size()) {
              line.put(it.s.substr(0, static_cast<size_t>(w)));
            } else {
              line.put(std::string(static_cast<size_t>(w) - it.s.size(), ' ') + std::string(it.s));
            }
            break;
        }
      }
    }
    // End of the format: done when no item is left, otherwise a new line
    // and the format again.
    line.end_line();
    if (item == items_end) return line.out;
    if (!took_item) bad_format(format, "items left over for a format without data descriptors");
  }
}

void write_formatted(OutputFile& out, std::string_view format,
                     std::initializer_list<FmtItem> items) {
  write_text(out, format_lines(format, items));
}

std::string free_line(std::initializer_list<FmtItem> items) {
  std::string line = " ";
  bool first = true;
  char buf[64];
  for (const FmtItem& it : items) {
    switch (it.kind) {
      case FmtItem::Text:
        line.append(it.s);
        break;
      case FmtItem::Int:
        if (!first) line.push_back(' ');
        std::snprintf(buf, sizeof buf, "%11" PRId64, it.i);
        line += buf;
        break;
      case FmtItem::Real:
        if (!first) line.push_back(' ');
        std::snprintf(buf, sizeof buf, "%24.16E", it.d);
        line += buf;
        break;
    }
    first = false;
  }
  line.push_back('\n');
  return line;
}

void write_free(OutputFile& out, std::initializer_list<FmtItem> items) {
  write_text(out, free_line(items));
}

std::string shortest_text(double value) {
  char buf[40];
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

std::string real17(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

std::string shortest_text(float value) {
  char buf[40];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(buf, nullptr) == value) break;
  }
  return buf;
}

}  // namespace pedseg
