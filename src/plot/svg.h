// A small SVG writer for the program's figures: a document of lines,
// polylines, rectangles, circles and text, and a chart that maps data
// coordinates into a plot area with axes, tick labels and a legend placed
// where it covers nothing drawn.  Text is XML-escaped; numbers are written in
// the C locale.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pedseg {

// Text with & < > " ' replaced by their entities.
std::string xml_escape(std::string_view text);

// Ticks at multiples of a "nice" step (1, 2 or 5 times a power of ten) that
// cover [lo, hi] with about `target` intervals: `lo` and `hi` widened to
// multiples of the step, `values` the ticks from lo to hi.  An empty or
// non-finite range is widened around its value.
struct Ticks {
  double lo = 0.0;
  double hi = 1.0;
  double step = 0.2;
  std::vector<double> values;
};
Ticks nice_ticks(double lo, double hi, int target = 5);

// A tick value with as many decimals as the step needs ("0.25", "-3", "1e+06").
std::string tick_label(double value, double step);

struct Stroke {
  std::string colour = "#000000";
  double width = 1.0;
  std::string dash;  // SVG stroke-dasharray, empty for solid
};

class SvgDocument {
 public:
  SvgDocument(double width, double height);
  void line(double x1, double y1, double x2, double y2, const Stroke& s);
  void polyline(const std::vector<std::pair<double, double>>& points, const Stroke& s);
  void rect(double x, double y, double w, double h, const std::string& fill,
            const std::string& stroke = "none");
  void circle(double cx, double cy, double r, const std::string& fill, double opacity = 1.0);
  // anchor: "start", "middle" or "end"; rotate: degrees about (x, y).
  void text(double x, double y, std::string_view content, double size = 12.0,
            const std::string& anchor = "start", double rotate = 0.0);
  // The whole document, with its XML declaration.
  std::string str() const;

 private:
  double width_, height_;
  std::string body_;
};

// Number in SVG attributes: up to 6 significant digits, C locale.
std::string svg_number(double v);

// A plot area of a document (pixels: left, top, width, height) showing data
// ranges that are widened to nice ticks.
class Chart {
 public:
  Chart(SvgDocument& doc, double left, double top, double width, double height, double xlo,
        double xhi, double ylo, double yhi);
  double px(double x) const;
  double py(double y) const;
  const Ticks& xticks() const { return xt_; }
  const Ticks& yticks() const { return yt_; }
  // Frame, ticks with labels, axis titles and a title above the area; no x
  // ticks when `x_ticks` is false (an axis of categories).
  void axes(std::string_view xlabel, std::string_view ylabel, std::string_view title = "",
            bool x_ticks = true);
  // Data polyline; points outside the y range are clipped to it.
  void curve(const std::vector<std::pair<double, double>>& points, const Stroke& s);
  void hline(double y, const Stroke& s);
  void vline(double x, const Stroke& s);
  // A line between two data points, clipped to the y range.
  void segment(double x0, double y0, double x1, double y1, const Stroke& s);
  void bar(double x0, double x1, double y, const std::string& fill,
           const std::string& stroke = "none");
  void point(double x, double y, const std::string& fill, double r = 3.0, double opacity = 0.7);
  // A legend box: a line sample (or a filled box when `box`) and the label
  // for each entry.  It goes in the first corner of the plot area (upper
  // right, upper left, lower right, lower left) where it covers nothing drawn
  // so far (curves, lines, bars, points); when every corner would, in the
  // upper right, and the result is false.
  struct LegendEntry {
    std::string label;
    Stroke stroke;
    bool box = false;
  };
  bool legend(const std::vector<LegendEntry>& entries);
  // The legend's width and height in pixels.
  static std::pair<double, double> legend_size(const std::vector<LegendEntry>& entries);

 private:
  struct Box {
    double x, y, w, h;
  };
  bool covers_drawn(const Box& b) const;

  SvgDocument& doc_;
  double left_, top_, width_, height_;
  Ticks xt_, yt_;
  // What the data drawn so far occupies, in pixels.
  std::vector<std::pair<std::pair<double, double>, std::pair<double, double>>> drawn_lines_;
  std::vector<Box> drawn_boxes_;
};

}  // namespace pedseg
