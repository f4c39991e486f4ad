// A small well-formedness check of XML text: declarations skipped, tags
// balanced, attribute values quoted without raw < or &, and only the five
// predefined entities.  Returns "" when well-formed (with the count of each
// element name in `counts`), else what is wrong.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
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

// The value of attribute `name` in the element text `tag` ("" if none).
inline std::string attribute(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t b = tag.find(key);
  if (b == std::string::npos) return "";
  const size_t e = tag.find('"', b + key.size());
  return tag.substr(b + key.size(), e - b - key.size());
}

// What the legend box of a figure (the white rectangle with a grey border)
// covers of the data drawn: polylines and data lines (sampled densely),
// circles and bars (filled rectangles).  Grid lines, ticks and the legend's
// own samples do not count.  "" when it covers nothing; "no legend" when
// there is none.
inline std::string legend_covers(const std::string& svg) {
  struct Box {
    double x, y, w, h;
    bool inside(double px, double py) const { return px > x && px < x + w && py > y && py < y + h; }
  };
  std::vector<std::string> tags;
  for (size_t i = svg.find('<'); i != std::string::npos; i = svg.find('<', i + 1))
    tags.push_back(svg.substr(i, svg.find('>', i) - i));
  auto num = [](const std::string& t, const char* a) { return std::stod(attribute(t, a)); };
  std::vector<Box> legends;
  for (const std::string& t : tags)
    if (t.rfind("<rect", 0) == 0 && attribute(t, "fill") == "#ffffff" &&
        attribute(t, "stroke") == "#999999")
      legends.push_back({num(t, "x"), num(t, "y"), num(t, "width"), num(t, "height")});
  if (legends.empty()) return "no legend";
  const Box L = legends.back();
  auto within = [&](double x0, double y0, double x1, double y1) {
    return x0 >= L.x && x1 <= L.x + L.w && y0 >= L.y && y1 <= L.y + L.h;
  };
  auto segment_covered = [&](double x0, double y0, double x1, double y1) {
    for (int k = 0; k <= 200; ++k)
      if (L.inside(x0 + (x1 - x0) * k / 200.0, y0 + (y1 - y0) * k / 200.0)) return true;
    return false;
  };
  for (const std::string& t : tags) {
    if (t.rfind("<polyline", 0) == 0) {
      std::istringstream in(attribute(t, "points"));
      std::vector<std::pair<double, double>> p;
      for (std::string xy; in >> xy;) {
        const size_t c = xy.find(',');
        p.push_back({std::stod(xy.substr(0, c)), std::stod(xy.substr(c + 1))});
      }
      for (size_t k = 1; k < p.size(); ++k)
        if (segment_covered(p[k - 1].first, p[k - 1].second, p[k].first, p[k].second))
          return "a polyline at " + std::to_string(p[k].first) + "," + std::to_string(p[k].second);
    } else if (t.rfind("<line", 0) == 0) {
      const std::string colour = attribute(t, "stroke");
      const double x1 = num(t, "x1"), y1 = num(t, "y1"), x2 = num(t, "x2"), y2 = num(t, "y2");
      if (colour == "#dddddd" || colour == "#000000" ||
          within(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)))
        continue;  // grid, ticks, the legend's samples
      if (segment_covered(x1, y1, x2, y2)) return "a line of colour " + colour;
    } else if (t.rfind("<circle", 0) == 0) {
      const double r = num(t, "r");
      const Box around{L.x - r, L.y - r, L.w + 2 * r, L.h + 2 * r};
      if (around.inside(num(t, "cx"), num(t, "cy"))) return "a circle";
    } else if (t.rfind("<rect", 0) == 0 && attribute(t, "fill") != "none" &&
               attribute(t, "fill") != "#ffffff") {
      const double x = num(t, "x"), y = num(t, "y"), w = num(t, "width"), h = num(t, "height");
      if (within(x, y, x + w, y + h)) continue;  // the legend's own sample box
      if (x < L.x + L.w && L.x < x + w && y < L.y + L.h && L.y < y + h && w > 0 && h > 0)
        return "a bar at " + std::to_string(x);
    }
  }
  return "";
}

}  // namespace xmltest
