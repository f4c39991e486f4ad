// A small well-formedness check of XML text: declarations skipped, tags
// balanced, attribute values quoted without raw < or &, and only the five
// predefined entities.  Returns "" when well-formed (with the count of each
// element name in `counts`), else what is wrong.
#pragma once

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace xmltest {

inline bool entity_at(const std::string& s, size_t i) {
  for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
    if (s.compare(i, std::string(e).size(), e) == 0) return true;
  return false;
}

inline std::string check(const std::string& s, std::map<std::string, int>& counts) {
  std::vector<std::string> open;
  size_t i = 0;
  auto name_at = [&](size_t& j) {
    const size_t b = j;
    while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '-' ||
                            s[j] == ':' || s[j] == '_'))
      ++j;
    return s.substr(b, j - b);
  };
  while (i < s.size()) {
    if (s[i] == '&') {
      if (!entity_at(s, i)) return "bad entity at " + std::to_string(i);
      ++i;
    } else if (s[i] == '>') {
      return "raw > in text at " + std::to_string(i);
    } else if (s[i] != '<') {
      ++i;
    } else if (s.compare(i, 2, "<?") == 0) {
      const size_t e = s.find("?>", i);
      if (e == std::string::npos) return "unclosed declaration";
      i = e + 2;
    } else if (s.compare(i, 2, "</") == 0) {
      size_t j = i + 2;
      const std::string n = name_at(j);
      if (open.empty() || open.back() != n || j >= s.size() || s[j] != '>')
        return "unbalanced </" + n + "> at " + std::to_string(i);
      open.pop_back();
      i = j + 1;
    } else {
      size_t j = i + 1;
      const std::string n = name_at(j);
      if (n.empty()) return "bad tag at " + std::to_string(i);
      ++counts[n];
      for (;;) {
        while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
        if (j >= s.size()) return "unclosed tag " + n;
        if (s[j] == '>') {
          open.push_back(n);
          ++j;
          break;
        }
        if (s.compare(j, 2, "/>") == 0) {
          j += 2;
          break;
        }
        const std::string a = name_at(j);
        if (a.empty() || j + 1 >= s.size() || s[j] != '=' || s[j + 1] != '"')
          return "unquoted or bad attribute in " + n;
        j += 2;
        for (; j < s.size() && s[j] != '"'; ++j) {
          if (s[j] == '<') return "raw < in attribute of " + n;
          if (s[j] == '&' && !entity_at(s, j)) return "bad entity in attribute of " + n;
        }
        ++j;
      }
      i = j;
    }
  }
  if (!open.empty()) return "unclosed <" + open.back() + ">";
  return "";
}

}  // namespace xmltest
