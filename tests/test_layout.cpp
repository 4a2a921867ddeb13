// The geometry of a figure without its pixels: frame, axis ranges and ticks,
// labels, titles and legend rows, against the look users know.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "toolkit/Canvas.h"
#include "toolkit/Layout.h"

namespace {

tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

tk::FigureLayout layoutOf(const tk::Graph& g, int width = 2000, int height = 1000, tk::Style style = {}) {
  tk::Canvas c("c", "c", width, height, style);
  c.DrawGraph(&g, true);
  return tk::layoutFigure(c);
}

// The frame is the graph's axis range as first drawn, whatever comes later.
TEST(Layout, AxisRangesFollowTheToolkitExamples) {
  struct Case {
    const char* what;
    std::vector<double> x, y;
    double xlo, xhi, ylo, yhi;
  };
  const Case cases[] = {
      {"one point", {0.5}, {0.25}, 0.4, 1.6, 0.15, 1.35},
      {"all y equal to 5", {1, 2, 3}, {5, 5, 5}, 0.8, 3.2, 4.9, 6.1},
      {"all y equal to 0", {1, 2}, {0, 0}, 0.9, 2.1, 0.0, 1.1},
      {"y from -10 to -0.5", {1, 2}, {-10, -0.5}, 0.9, 2.1, -10.95, 0.45},
      {"x from 400 to 2400", {400, 2400}, {1, 2}, 200, 2600, 0.9, 2.1},
      {"non-negative x clamped", {0.05, 1}, {1, 2}, 0.0, 1.095, 0.9, 2.1},
      {"non-positive x clamped above", {-1, -0.05}, {1, 2}, -1.095, 0.0, 0.9, 2.1},
  };
  for (const auto& c : cases) {
    const tk::FigureLayout f = layoutOf(graphOf(c.x, c.y));
    const double got[] = {f.x.range.low, f.x.range.high, f.y.range.low, f.y.range.high}, want[] = {c.xlo, c.xhi, c.ylo, c.yhi};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << c.what << ", end " << k;
    EXPECT_TRUE(f.hasFrame) << c.what;
  }
}

TEST(Layout, FrameTicksTitlesAndTheUserToPixelMap) {
  tk::Graph g = graphOf({400, 2400}, {0, 10});
  g.xTitle = "HV [V]";
  g.yTitle = "J  [nA/cm^{2}]";
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  g.AddPoint(5000, 50);  // later points do not move the frame
  const tk::FigureLayout f = tk::layoutFigure(c);
  // Margins 0.1 of the canvas on each side; the user-to-pixel map is checked on
  // real figures in test_pixels.
  EXPECT_EQ(std::vector<double>({f.frame.x1, f.frame.y1, f.frame.x2, f.frame.y2}), std::vector<double>({200, 100, 1800, 900}));
  // Primary ticks 0.03 of the other axis's length, secondary half of that.
  EXPECT_TRUE(f.x.primaryLength == 24 && f.x.secondaryLength == 12 && f.y.primaryLength == 48);
  // 200 V steps over 200-2600 V, labels without trailing zeros; 5 secondary a step.
  ASSERT_EQ(f.xLabels.size(), 13u);
  EXPECT_EQ(f.xLabels.front().text + " " + f.xLabels[1].text + " " + f.xLabels.back().text, "200 400 2600");
  EXPECT_DOUBLE_EQ(f.xLabels[1].x, 200 + 1600.0 / 12);
  EXPECT_EQ(f.x.secondaryPx.size(), 61u);
  EXPECT_EQ(f.yLabels.front().text + " " + f.yLabels.back().text, "0 11");
  EXPECT_DOUBLE_EQ(f.yLabels.back().y, 900);
  EXPECT_TRUE(f.xExponent.text.empty() && f.yExponent.text.empty());
  // Titles at the far ends of the axes, outside their labels, 0.035 of the pad height.
  ASSERT_EQ(f.titles.size(), 2u);
  EXPECT_EQ(f.titles[0].text + " / " + f.titles[1].text, "HV [V] / J  [nA/cm^{2}]");
  EXPECT_TRUE(f.titles[0].x == f.frame.x2 && f.titles[0].just == 1.0 && !f.titles[0].vertical && f.titles[0].sizePx == 35);
  EXPECT_TRUE(f.titles[1].y == f.frame.y2 && f.titles[1].vertical);
  EXPECT_TRUE(f.titles[0].y < f.xLabels.front().y && f.titles[1].x < f.yLabels.front().x - f.titles[1].sizePx);
}

TEST(Layout, TickLabelsAndThePowerOfTen) {
  struct Case {
    double low, high;
    std::vector<std::string> first3;
    std::string last;
    int exponent;
  };
  const Case cases[] = {
      {0, 1.1, {"0", "0.1", "0.2"}, "1.1", 0},
      {-10.95, 0.45, {"-10", "-9", "-8"}, "0", 0},
      {0, 2.4e6, {"0", "0.2", "0.4"}, "2.4", 6},
      {0, 2e5, {"0", "20", "40"}, "200", 3},  // six digits: already x10^3
      {895, 2155, {"1000", "1200", "1400"}, "2000", 0},
      {0, 3e-5, {"0", "5", "10"}, "30", -6},
  };
  for (const auto& c : cases) {
    const tk::Ticks t = tk::chooseTicks(c.low, c.high);
    ASSERT_GE(t.labels.size(), 3u) << c.low;
    EXPECT_EQ(std::vector<std::string>(t.labels.begin(), t.labels.begin() + 3), c.first3) << c.low;
    EXPECT_EQ(t.labels.back(), c.last) << c.low;
    EXPECT_EQ(t.exponent, c.exponent) << c.low;
  }
  EXPECT_TRUE(tk::chooseTicks(5, std::nan("")).primary.empty());
  // On a figure: the power of ten stands once, at the top of the y axis.
  const tk::FigureLayout f = layoutOf(graphOf({0, 1}, {0, 2e6}));
  EXPECT_TRUE(f.yExponent.text == "#times10^{6}" && f.yExponent.x == f.frame.x1 && f.yExponent.y > f.frame.y2);
}

TEST(Layout, LegendRowsHeaderFirstThenOneAnEntry) {
  struct Case {
    std::string header;
    std::vector<std::string> labels;
    std::vector<std::string> rows;
    double rowHeight;
  };
  const Case cases[] = {
      {"Argon", {"GAP-A", "GAP-B"}, {"Argon", "GAP-A", "GAP-B"}, 200.0 / 3},
      {"", {"RE3-PK-154-BOTTOM"}, {"RE3-PK-154-BOTTOM"}, 200.0},
      {"", {}, {}, 0.0},
  };
  tk::Graph g = graphOf({1, 2}, {1, 2});
  for (const auto& c : cases) {
    tk::Legend legend;
    legend.x1 = 0.15, legend.y1 = 0.6, legend.x2 = 0.45, legend.y2 = 0.8;
    legend.header = c.header;
    for (const auto& label : c.labels) legend.AddEntry(&g, label, "p");
    tk::Canvas canvas("c", "c", 2000, 1000, tk::Style{});
    canvas.DrawLegend(legend);  // no frame needed for a legend
    const tk::FigureLayout f = tk::layoutFigure(canvas);
    ASSERT_TRUE(!f.hasFrame && f.legends.size() == 1u);
    const tk::LegendLayout& l = f.legends.front();
    EXPECT_EQ(std::vector<double>({l.box.x1, l.box.y1, l.box.x2, l.box.y2}), std::vector<double>({300, 600, 900, 800}));
    std::vector<std::string> rows;
    for (const auto& r : l.rows) rows.push_back(r.label);
    EXPECT_EQ(rows, c.rows);
    for (std::size_t k = 0; k < l.rows.size(); ++k) {
      const auto& r = l.rows[k];
      EXPECT_TRUE(std::fabs(r.box.y2 - (800 - k * c.rowHeight)) < 1e-9 && std::fabs(r.box.y1 - (800 - (k + 1) * c.rowHeight)) < 1e-9);
      EXPECT_EQ(r.header, !c.header.empty() && k == 0);
      EXPECT_TRUE(r.header || (r.sampleX == 375 && std::fabs(r.sampleY - (r.box.y1 + r.box.y2) / 2) < 1e-9 && r.text.x > 450));
      // Text about 0.9 of a row, but never above 1.25 label sizes or out of the box.
      EXPECT_LE(l.textSizePx, std::min(0.9 * c.rowHeight, 43.75) + 1e-9);
    }
  }
}

TEST(Layout, HistogramFrameAndRangesThatAreNotFinite) {
  tk::Histogram h("h", "h", 10, 0, 10);
  for (double v : {1.5, 1.5, 1.5, 1.5, 7.0}) h.Fill(v);
  tk::Canvas c("c", "c", 400, 200, tk::Style{});
  c.DrawHistogram(h);
  const tk::FigureLayout f = tk::layoutFigure(c);
  EXPECT_TRUE(f.hasFrame && f.x.range.high == 10);
  EXPECT_DOUBLE_EQ(f.y.range.high, 4.2);  // 5% above the fullest bin
  const double inf = std::numeric_limits<double>::infinity();
  const tk::FigureLayout g = layoutOf(graphOf({1, inf}, {2, 3}));
  EXPECT_TRUE(std::isfinite(g.x.range.low) && g.x.range.high == g.x.range.low + 1.0);
  const tk::FigureLayout empty = tk::layoutFigure(tk::Canvas("e", "e", 400, 200, tk::Style{}));
  EXPECT_TRUE(!empty.hasFrame && empty.xLabels.empty());
}

}  // namespace
