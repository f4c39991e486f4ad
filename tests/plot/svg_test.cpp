// The SVG writer: nice tick steps, and a document that parses as XML with the
// elements drawn, whatever characters its text holds.
#include <gtest/gtest.h>

#include "plot/svg.h"
#include "plot/xml_check.h"

namespace {

TEST(Svg, NiceTicks) {
  struct Row {
    double lo, hi;
    double step, tlo, thi;
    const char* first_label;
  } rows[] = {
      {0.0, 1.0, 0.2, 0.0, 1.0, "0.0"},
      {0.13, 0.97, 0.2, 0.0, 1.0, "0.0"},
      {-3.2, 4.1, 2.0, -4.0, 6.0, "-4"},
      {0.0, 97.0, 20.0, 0.0, 100.0, "0"},
      {-45321.7, -45313.2, 2.0, -45322.0, -45312.0, "-45322"},
      {0.0012, 0.0049, 0.001, 0.001, 0.005, "0.001"},
      {2.0, 2.0, 0.2, 1.4, 2.6, "1.4"},  // an empty range is widened
  };
  for (const Row& r : rows) {
    const pedseg::Ticks t = pedseg::nice_ticks(r.lo, r.hi);
    EXPECT_DOUBLE_EQ(t.step, r.step) << r.lo << " " << r.hi;
    EXPECT_NEAR(t.lo, r.tlo, 1e-9 * r.step);
    EXPECT_NEAR(t.hi, r.thi, 1e-9 * r.step);
    ASSERT_FALSE(t.values.empty());
    EXPECT_LE(t.lo, r.lo);
    EXPECT_GE(t.hi, r.hi);
    EXPECT_EQ(pedseg::tick_label(t.values.front(), t.step), r.first_label);
  }
}

TEST(Svg, DocumentIsWellFormedXml) {
  pedseg::SvgDocument doc(400, 300);
  pedseg::Chart c(doc, 60, 30, 300, 200, -1.0, 1.0, 0.0, 5.0);
  c.axes("x <value> & \"more\"", "y 'count'", "a title with <tags> & ampersands");
  c.curve({{-1.0, 0.0}, {0.0, 9.0}, {1.0, 1.0}}, pedseg::Stroke{"#ff0000", 1.5, "4 2"});
  c.bar(-0.5, 0.0, 2.0, "#cccccc");
  c.hline(4.0, pedseg::Stroke{});
  c.point(0.2, 3.0, "#0000ff");
  c.legend({{"curve & <b>", pedseg::Stroke{"#ff0000", 1.5, "4 2"}},
            {"bars", pedseg::Stroke{"#cccccc", 1, ""}, true}});
  const std::string svg = doc.str();
  std::map<std::string, int> n;
  EXPECT_EQ(xmltest::check(svg, n), "") << svg;
  EXPECT_EQ(n["svg"], 1);
  EXPECT_EQ(n["polyline"], 1);
  EXPECT_EQ(n["circle"], 1);
  EXPECT_EQ(n["text"], 3 + 5 + 6 + 2);  // titles, x and y tick labels, legend
  EXPECT_NE(svg.find("viewBox=\"0 0 400 300\""), std::string::npos);
  EXPECT_NE(svg.find("a title with &lt;tags&gt; &amp; ampersands"), std::string::npos);
  // The checker itself rejects what it must.
  for (const char* bad : {"<svg><text>a & b</text></svg>", "<svg><g></svg>",
                          "<svg x=1></svg>", "<svg><text>a</txt></svg>"})
    EXPECT_NE(xmltest::check(bad, n), "") << bad;
}

// The legend takes the first corner where it covers nothing drawn, and says
// when there is none.
TEST(Svg, LegendAvoidsTheData) {
  const std::vector<pedseg::Chart::LegendEntry> entries = {
      {"rising curve", pedseg::Stroke{}}, {"bars", pedseg::Stroke{"#cccccc", 1, ""}, true}};
  pedseg::SvgDocument doc(400, 300);
  pedseg::Chart c(doc, 60, 30, 300, 200, 0.0, 1.0, 0.0, 1.0);
  c.curve({{0.0, 0.0}, {1.0, 1.0}}, pedseg::Stroke{});  // through the upper right
  c.bar(0.0, 0.1, 0.3, "#cccccc");                      // in the lower left
  EXPECT_TRUE(c.legend(entries));
  const std::string svg = doc.str();
  EXPECT_EQ(xmltest::legend_covers(svg), "") << svg;
  EXPECT_NE(svg.find("<rect x=\"68\" y=\"38\""), std::string::npos) << svg;  // upper left

  pedseg::SvgDocument full(400, 300);
  pedseg::Chart d(full, 60, 30, 300, 200, 0.0, 1.0, 0.0, 1.0);
  d.curve({{0.0, 0.0}, {1.0, 1.0}}, pedseg::Stroke{});
  d.curve({{0.0, 1.0}, {1.0, 0.0}}, pedseg::Stroke{});
  d.hline(0.05, pedseg::Stroke{"#ff0000", 1, ""});
  d.hline(0.95, pedseg::Stroke{"#ff0000", 1, ""});
  EXPECT_FALSE(d.legend(entries));
  EXPECT_NE(xmltest::legend_covers(full.str()), "");
}

}  // namespace
