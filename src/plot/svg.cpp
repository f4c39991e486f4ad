// The SVG writer.

#include "plot/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pedseg {

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

Ticks nice_ticks(double lo, double hi, int target) {
  Ticks t;
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = hi = 0.0;
  if (lo > hi) std::swap(lo, hi);
  if (hi - lo <= 1e-12 * std::max(1.0, std::fabs(lo))) {
    const double pad = std::max(0.5, 0.1 * std::fabs(lo));
    lo -= pad;
    hi += pad;
  }
  const double raw = (hi - lo) / std::max(1, target);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double frac = raw / power;
  t.step = (frac <= 1.0 ? 1.0 : frac <= 2.0 ? 2.0 : frac <= 5.0 ? 5.0 : 10.0) * power;
  // A tolerance keeps a bound that is a multiple of the step from moving out.
  t.lo = std::floor(lo / t.step + 1e-9) * t.step;
  t.hi = std::ceil(hi / t.step - 1e-9) * t.step;
  const long n = std::lround((t.hi - t.lo) / t.step);
  for (long i = 0; i <= n; ++i) {
    double v = t.lo + static_cast<double>(i) * t.step;
    if (std::fabs(v) < 1e-9 * t.step) v = 0.0;
    t.values.push_back(v);
  }
  return t;
}

std::string tick_label(double value, double step) {
  char buf[40];
  const double a = std::fabs(step);
  if (a >= 1e6 || (a < 1e-4 && a > 0.0)) {
    std::snprintf(buf, sizeof buf, "%g", value);
  } else {
    int decimals = 0;
    while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                     std::round(step * std::pow(10.0, decimals))) > 1e-6)
      ++decimals;
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  }
  return buf;
}

std::string svg_number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", std::fabs(v) < 1e-9 ? 0.0 : v);
  return buf;
}

namespace {

// Whether the segment from (x0, y0) to (x1, y1) meets the rectangle
// [bx, bx + bw] x [by, by + bh] (Liang-Barsky clipping).
bool segment_meets(double bx, double by, double bw, double bh, double x0, double y0, double x1,
                   double y1) {
  const double p[4] = {-(x1 - x0), x1 - x0, -(y1 - y0), y1 - y0};
  const double q[4] = {x0 - bx, bx + bw - x0, y0 - by, by + bh - y0};
  double t0 = 0.0, t1 = 1.0;
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0.0) {
      if (q[k] < 0.0) return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0.0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

std::string stroke_attrs(const Stroke& s) {
  std::string a = " stroke=\"" + xml_escape(s.colour) + "\" stroke-width=\"" +
                  svg_number(s.width) + "\"";
  if (!s.dash.empty()) a += " stroke-dasharray=\"" + xml_escape(s.dash) + "\"";
  return a;
}

}  // namespace

SvgDocument::SvgDocument(double width, double height) : width_(width), height_(height) {}

void SvgDocument::line(double x1, double y1, double x2, double y2, const Stroke& s) {
  body_ += "<line x1=\"" + svg_number(x1) + "\" y1=\"" + svg_number(y1) + "\" x2=\"" +
           svg_number(x2) + "\" y2=\"" + svg_number(y2) + "\"" + stroke_attrs(s) + "/>\n";
}

void SvgDocument::polyline(const std::vector<std::pair<double, double>>& points,
                           const Stroke& s) {
  body_ += "<polyline fill=\"none\"" + stroke_attrs(s) + " points=\"";
  for (size_t i = 0; i < points.size(); ++i) {
    if (i > 0) body_ += ' ';
    body_ += svg_number(points[i].first) + ',' + svg_number(points[i].second);
  }
  body_ += "\"/>\n";
}

void SvgDocument::rect(double x, double y, double w, double h, const std::string& fill,
                       const std::string& stroke) {
  body_ += "<rect x=\"" + svg_number(x) + "\" y=\"" + svg_number(y) + "\" width=\"" +
           svg_number(std::max(0.0, w)) + "\" height=\"" + svg_number(std::max(0.0, h)) +
           "\" fill=\"" + xml_escape(fill) + "\" stroke=\"" + xml_escape(stroke) + "\"/>\n";
}

void SvgDocument::circle(double cx, double cy, double r, const std::string& fill,
                         double opacity) {
  body_ += "<circle cx=\"" + svg_number(cx) + "\" cy=\"" + svg_number(cy) + "\" r=\"" +
           svg_number(r) + "\" fill=\"" + xml_escape(fill) + "\" fill-opacity=\"" +
           svg_number(opacity) + "\"/>\n";
}

void SvgDocument::text(double x, double y, std::string_view content, double size,
                       const std::string& anchor, double rotate) {
  body_ += "<text x=\"" + svg_number(x) + "\" y=\"" + svg_number(y) + "\" font-size=\"" +
           svg_number(size) + "\" text-anchor=\"" + xml_escape(anchor) + "\"";
  if (rotate != 0.0) {
    body_ += " transform=\"rotate(";
    body_ += svg_number(rotate);
    body_ += ' ';
    body_ += svg_number(x);
    body_ += ' ';
    body_ += svg_number(y);
    body_ += ")\"";
  }
  body_ += '>';
  body_ += xml_escape(content);
  body_ += "</text>\n";
}

std::string SvgDocument::str() const {
  const std::string w = svg_number(width_), h = svg_number(height_);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
         "\" viewBox=\"0 0 " + w + ' ' + h + "\" font-family=\"sans-serif\">\n"
         "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"#ffffff\"/>\n" +
         body_ + "</svg>\n";
}

Chart::Chart(SvgDocument& doc, double left, double top, double width, double height,
             double xlo, double xhi, double ylo, double yhi)
    : doc_(doc), left_(left), top_(top), width_(width), height_(height),
      xt_(nice_ticks(xlo, xhi)), yt_(nice_ticks(ylo, yhi)) {}

double Chart::px(double x) const { return left_ + (x - xt_.lo) / (xt_.hi - xt_.lo) * width_; }

double Chart::py(double y) const {
  return top_ + height_ - (y - yt_.lo) / (yt_.hi - yt_.lo) * height_;
}

void Chart::axes(std::string_view xlabel, std::string_view ylabel, std::string_view title,
                 bool x_ticks) {
  const Stroke frame{"#000000", 1.0, ""}, grid{"#dddddd", 1.0, ""};
  for (double v : yt_.values) {
    doc_.line(left_, py(v), left_ + width_, py(v), grid);
    doc_.line(left_ - 5, py(v), left_, py(v), frame);
    doc_.text(left_ - 8, py(v) + 4, tick_label(v, yt_.step), 11, "end");
  }
  for (double v : xt_.values) {
    if (!x_ticks) break;
    doc_.line(px(v), top_ + height_, px(v), top_ + height_ + 5, frame);
    doc_.text(px(v), top_ + height_ + 18, tick_label(v, xt_.step), 11, "middle");
  }
  doc_.rect(left_, top_, width_, height_, "none", "#000000");
  doc_.text(left_ + width_ / 2, top_ + height_ + 38, xlabel, 13, "middle");
  doc_.text(left_ - 52, top_ + height_ / 2, ylabel, 13, "middle", -90);
  if (!title.empty()) doc_.text(left_ + width_ / 2, top_ - 12, title, 14, "middle");
}

void Chart::curve(const std::vector<std::pair<double, double>>& points, const Stroke& s) {
  std::vector<std::pair<double, double>> pix;
  for (const auto& [x, y] : points) {
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    pix.push_back({px(x), py(std::clamp(y, yt_.lo, yt_.hi))});
  }
  for (size_t i = 1; i < pix.size(); ++i) drawn_lines_.push_back({pix[i - 1], pix[i]});
  if (pix.size() == 1) drawn_lines_.push_back({pix[0], pix[0]});
  doc_.polyline(pix, s);
}

void Chart::hline(double y, const Stroke& s) {
  drawn_lines_.push_back({{left_, py(y)}, {left_ + width_, py(y)}});
  doc_.line(left_, py(y), left_ + width_, py(y), s);
}

void Chart::vline(double x, const Stroke& s) {
  drawn_lines_.push_back({{px(x), top_}, {px(x), top_ + height_}});
  doc_.line(px(x), top_, px(x), top_ + height_, s);
}

void Chart::segment(double x0, double y0, double x1, double y1, const Stroke& s) {
  const double a = py(std::clamp(y0, yt_.lo, yt_.hi)), b = py(std::clamp(y1, yt_.lo, yt_.hi));
  drawn_lines_.push_back({{px(x0), a}, {px(x1), b}});
  doc_.line(px(x0), a, px(x1), b, s);
}

void Chart::bar(double x0, double x1, double y, const std::string& fill,
                const std::string& stroke) {
  const double base = std::clamp(0.0, yt_.lo, yt_.hi);
  const double top = std::clamp(y, yt_.lo, yt_.hi);
  const Box b{px(x0), py(std::max(base, top)), px(x1) - px(x0), std::fabs(py(base) - py(top))};
  if (b.w > 0.0 && b.h > 0.0) drawn_boxes_.push_back(b);
  doc_.rect(b.x, b.y, b.w, b.h, fill, stroke);
}

void Chart::point(double x, double y, const std::string& fill, double r, double opacity) {
  drawn_boxes_.push_back({px(x) - r, py(y) - r, 2.0 * r, 2.0 * r});
  doc_.circle(px(x), py(y), r, fill, opacity);
}

std::pair<double, double> Chart::legend_size(const std::vector<LegendEntry>& entries) {
  double longest = 0.0;
  for (const auto& e : entries) longest = std::max(longest, static_cast<double>(e.label.size()));
  return {40 + 6.5 * longest, 8 + 18 * static_cast<double>(entries.size())};
}

bool Chart::covers_drawn(const Box& b) const {
  for (const auto& [p, q] : drawn_lines_)
    if (segment_meets(b.x, b.y, b.w, b.h, p.first, p.second, q.first, q.second)) return true;
  for (const Box& d : drawn_boxes_)
    if (d.x < b.x + b.w && b.x < d.x + d.w && d.y < b.y + b.h && b.y < d.y + d.h) return true;
  return false;
}

bool Chart::legend(const std::vector<LegendEntry>& entries) {
  const auto [w, h] = legend_size(entries);
  const double right = left_ + width_ - w - 8, bottom = top_ + height_ - h - 8;
  const Box corners[4] = {{right, top_ + 8, w, h},
                          {left_ + 8, top_ + 8, w, h},
                          {right, bottom, w, h},
                          {left_ + 8, bottom, w, h}};
  const Box* place = std::find_if(std::begin(corners), std::end(corners),
                                  [&](const Box& b) { return !covers_drawn(b); });
  const bool free = place != std::end(corners);
  if (!free) place = &corners[0];
  const double x = place->x, y = place->y;
  doc_.rect(x, y, w, h, "#ffffff", "#999999");
  for (size_t i = 0; i < entries.size(); ++i) {
    const double yy = y + 14 + 18 * static_cast<double>(i);
    const auto& e = entries[i];
    if (e.box) {
      doc_.rect(x + 8, yy - 6, 20, 10, e.stroke.colour, "none");
    } else {
      doc_.line(x + 8, yy - 1, x + 28, yy - 1, e.stroke);
    }
    doc_.text(x + 34, yy + 3, e.label, 11);
  }
  return free;
}

}  // namespace pedseg
