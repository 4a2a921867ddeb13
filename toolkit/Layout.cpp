#include "toolkit/Layout.h"

#include <algorithm>
#include <cmath>

#include "toolkit/Canvas.h"

namespace tk {

double advancePerSize(const std::string& font) {
  if (font == "serif") return 0.70;
  if (font == "mono") return 0.66;
  return 0.62;
}

double FigureLayout::pxOfX(double v) const {
  return frame.x1 + (v - x.range.low) / (x.range.high - x.range.low) * (frame.x2 - frame.x1);
}
double FigureLayout::pxOfY(double v) const {
  return frame.y1 + (v - y.range.low) / (y.range.high - y.range.low) * (frame.y2 - frame.y1);
}
int FigureLayout::columnOf(double v) const { return static_cast<int>(std::floor(pxOfX(v))); }
int FigureLayout::rowOf(double v) const { return static_cast<int>(std::floor(height - pxOfY(v))); }

namespace {

// The frame's ranges: those of the first graph drawn with axes, else of the
// first histogram (its edges, and 0 to 5% above its fullest bin).
bool findFrame(const std::vector<Canvas::Item>& items, AxisRange& x, AxisRange& y, std::string& xTitle,
               std::string& yTitle, std::vector<std::pair<double, std::string>>& categories) {
  for (const auto& item : items) {
    if (item.kind == Canvas::Item::Kind::Graph && item.withAxes) {
      x = item.xRange;
      y = item.yRange;
      xTitle = item.graph.front().xTitle;
      yTitle = item.graph.front().yTitle;
      categories = item.graph.front().xCategoryLabels;
      return true;
    }
  }
  for (const auto& item : items) {
    if (item.kind == Canvas::Item::Kind::Histogram) {
      const Histogram& h = item.histogram.front();
      double top = 0.0;
      for (int b = 0; b < h.bins(); ++b) top = std::max(top, h.content(b));
      x = {h.low(), h.high()};
      y = {0.0, top > 0.0 ? top * 1.05 : 1.0};
      if (!(x.high > x.low)) x = {x.low - 1.0, x.low + 1.0};
      return true;
    }
  }
  return false;
}

// A range that is empty or not finite (points at infinity) still gets a frame.
AxisRange drawable(AxisRange r) {
  if (!std::isfinite(r.low)) r.low = 0.0;
  if (!(r.high > r.low) || !std::isfinite(r.high - r.low)) r.high = r.low + 1.0;
  return r;
}

void layoutAxes(const Style& style, const std::string& xTitle, const std::string& yTitle, FigureLayout& f) {
  const double H = f.height;
  const PixelBox& fr = f.frame;
  // Primary ticks 0.03 of the other axis's length, secondary half of that, inward.
  f.x.primaryLength = 0.03 * (fr.y2 - fr.y1);
  f.y.primaryLength = 0.03 * (fr.x2 - fr.x1);
  f.x.secondaryLength = f.x.primaryLength / 2;
  f.y.secondaryLength = f.y.primaryLength / 2;
  f.x.ticks = chooseTicks(f.x.range.low, f.x.range.high);
  f.y.ticks = chooseTicks(f.y.range.low, f.y.range.high);
  for (double v : f.x.ticks.primary) f.x.primaryPx.push_back(f.pxOfX(v));
  for (double v : f.x.ticks.secondary) f.x.secondaryPx.push_back(f.pxOfX(v));
  for (double v : f.y.ticks.primary) f.y.primaryPx.push_back(f.pxOfY(v));
  for (double v : f.y.ticks.secondary) f.y.secondaryPx.push_back(f.pxOfY(v));

  const double labelPx = style.labelSize * H;
  const double titlePx = style.titleSize * H;
  const double gap = style.labelOffset * H;
  const double labelCap = labelPx * kCapitalPerSize;
  // x labels centred under their ticks, y labels right-aligned left of theirs.
  const double xLabelY = fr.y1 - gap - labelCap * 0.5 - labelPx * 0.15;
  for (std::size_t k = 0; k < f.x.ticks.primary.size(); ++k) {
    f.xLabels.push_back({f.x.ticks.labels[k], f.x.primaryPx[k], xLabelY, 0.5, false, labelPx});
  }
  std::size_t widest = 1;
  for (std::size_t k = 0; k < f.y.ticks.primary.size(); ++k) {
    f.yLabels.push_back({f.y.ticks.labels[k], fr.x1 - gap - labelPx * 0.2, f.y.primaryPx[k], 1.0, false, labelPx});
    widest = std::max(widest, f.y.ticks.labels[k].size());
  }
  if (f.x.ticks.exponent != 0) {
    f.xExponent = PlacedText{"#times10^{" + std::to_string(f.x.ticks.exponent) + "}", fr.x2 + labelPx * 0.3, xLabelY,
                              0.0, false, labelPx};
  }
  if (f.y.ticks.exponent != 0) {
    f.yExponent = PlacedText{"#times10^{" + std::to_string(f.y.ticks.exponent) + "}", fr.x1, fr.y2 + labelPx * 0.6, 0.0,
                             false, labelPx};
  }
  // Titles at the far ends of the axes: right end of x, top end of y.
  if (!xTitle.empty()) {
    const double below = (gap + labelPx * 1.25 + titlePx * 0.5) * style.titleOffsetX;
    f.titles.push_back({xTitle, fr.x2, fr.y1 - below, 1.0, false, titlePx});
  }
  if (!yTitle.empty()) {
    const double aside =
        (gap + labelPx * 0.2 + static_cast<double>(widest) * labelPx * advancePerSize(style.font) + titlePx * 1.0) *
        style.titleOffsetY;
    f.titles.push_back({yTitle, fr.x1 - aside, fr.y2, 1.0, true, titlePx});
  }
}

// Category labels in place of the x axis's numbers: a tick each and the label
// under it, reading upwards and ending at the axis. Labels are left out when
// their spacing cannot hold readable text, ticks too when they would merge.
void layoutCategories(const std::vector<std::pair<double, std::string>>& labels, const Style& style,
                      FigureLayout& f) {
  f.x.primaryPx.clear();
  f.x.secondaryPx.clear();
  f.xLabels.clear();
  f.xExponent = PlacedText{};
  const PixelBox& fr = f.frame;
  double spacing = fr.x2 - fr.x1;
  for (std::size_t k = 1; k < labels.size(); ++k) {
    spacing = std::min(spacing, std::fabs(f.pxOfX(labels[k].first) - f.pxOfX(labels[k - 1].first)));
  }
  if (spacing < 3.0) return;
  std::size_t longest = 1;
  for (const auto& label : labels) longest = std::max(longest, label.second.size());
  const double gap = style.labelOffset * f.height;
  const double room = (fr.y1 - 2 * gap) / (advancePerSize(style.font) * static_cast<double>(longest));
  const double size = std::min({style.labelSize * f.height, 0.9 * spacing, room});
  for (const auto& label : labels) {
    if (label.first < f.x.range.low || label.first > f.x.range.high) continue;
    f.x.primaryPx.push_back(f.pxOfX(label.first));
    if (size >= 6.0) f.xLabels.push_back({label.second, f.pxOfX(label.first), fr.y1 - gap, 1.0, true, size});
  }
}

LegendLayout layoutLegend(const Legend& legend, const Style& style, double W, double H) {
  LegendLayout out;
  out.box = {legend.x1 * W, legend.y1 * H, legend.x2 * W, legend.y2 * H};
  const std::size_t rows = legend.entries.size() + (legend.header.empty() ? 0 : 1);
  if (rows == 0) return out;
  const double x1 = out.box.x1;
  const double x2 = out.box.x2;
  const double boxW = x2 - x1;
  const double rowH = (out.box.y2 - out.box.y1) / static_cast<double>(rows);
  // Text fills about 0.9 of a row, but never runs out of the box, and a box of
  // one or two rows does not shout over the axes: at most 1.25 label sizes.
  std::size_t longest = 0;
  for (const auto& e : legend.entries) longest = std::max(longest, e.label.size());
  double size = std::min(0.9 * rowH, 1.25 * style.labelSize * H);
  // Labels have the right three quarters of the box, the header all of it.
  if (longest > 0) size = std::min(size, 0.70 * boxW / (advancePerSize(style.font) * static_cast<double>(longest)));
  if (!legend.header.empty()) {
    size = std::min(size, 0.95 * boxW / (advancePerSize(style.font) * static_cast<double>(legend.header.size())));
  }
  out.textSizePx = size;
  double rowTop = out.box.y2;
  if (!legend.header.empty()) {
    LegendRowLayout row;
    row.box = {x1, rowTop - rowH, x2, rowTop};
    row.header = true;
    row.label = legend.header;
    row.text = {legend.header, x1 + boxW / 2, rowTop - rowH / 2, 0.5, false, size};
    out.rows.push_back(row);
    rowTop -= rowH;
  }
  for (const auto& e : legend.entries) {
    LegendRowLayout row;
    row.box = {x1, rowTop - rowH, x2, rowTop};
    row.label = e.label;
    row.option = e.option;
    row.sampleX = x1 + boxW * 0.125;
    row.sampleY = rowTop - rowH / 2;
    row.text = {e.label, x1 + boxW * 0.25 + size * 0.2, row.sampleY, 0.0, false, size};
    out.rows.push_back(row);
    rowTop -= rowH;
  }
  return out;
}

TextBoxLayout layoutTextBox(const NdcBox& ndc, const std::vector<std::string>& lines, const Style& style, double W,
                            double H) {
  TextBoxLayout out;
  out.box = {ndc.x1 * W, ndc.y1 * H, ndc.x2 * W, ndc.y2 * H};
  if (lines.empty()) return out;
  const double boxW = out.box.x2 - out.box.x1;
  const double rowH = (out.box.y2 - out.box.y1) / static_cast<double>(lines.size());
  std::size_t longest = 1;
  for (const auto& line : lines) longest = std::max(longest, line.size());
  // As legend text: about 0.9 of a row, at most 1.25 label sizes, within the box.
  const double size = std::min({0.9 * rowH, 1.25 * style.labelSize * H,
                                0.92 * boxW / (advancePerSize(style.font) * static_cast<double>(longest))});
  out.textSizePx = size;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const double y = out.box.y2 - (static_cast<double>(k) + 0.5) * rowH;
    out.rows.push_back({lines[k], out.box.x1 + 0.04 * boxW, y, 0.0, false, size});
  }
  return out;
}

PlacedText placeText(const Text& t, double W, double H) {
  const double size = t.size * H;
  const int horizontal = std::clamp(t.align / 10, 1, 3);
  const int vertical = std::clamp(t.align % 10, 1, 3);
  // The reference point is the middle of the capitals: bottom- and top-aligned
  // texts move by half a capital height.
  const double half = 0.5 * size * kCapitalPerSize;
  const double y = t.y * H + (vertical == 1 ? half : vertical == 3 ? -half : 0.0);
  return {t.text, t.x * W, y, 0.5 * (horizontal - 1), false, size};
}

}  // namespace

FigureLayout layoutFigure(const Canvas& canvas) {
  FigureLayout f;
  f.width = canvas.width();
  f.height = canvas.height();
  const Style& style = canvas.style();
  const double W = f.width;
  const double H = f.height;
  f.frame = {style.padLeftMargin * W, style.padBottomMargin * H, (1.0 - style.padRightMargin) * W,
             (1.0 - style.padTopMargin) * H};
  if (f.frame.x2 <= f.frame.x1 + 1) f.frame.x2 = f.frame.x1 + 1;
  if (f.frame.y2 <= f.frame.y1 + 1) f.frame.y2 = f.frame.y1 + 1;
  std::string xTitle;
  std::string yTitle;
  std::vector<std::pair<double, std::string>> categories;
  f.x.range = {0.0, 1.0};
  f.y.range = {0.0, 1.0};
  f.hasFrame = findFrame(canvas.items(), f.x.range, f.y.range, xTitle, yTitle, categories);
  f.x.range = drawable(f.x.range);
  f.y.range = drawable(f.y.range);
  if (f.hasFrame) layoutAxes(style, xTitle, yTitle, f);
  if (f.hasFrame && !categories.empty()) layoutCategories(categories, style, f);
  for (const auto& item : canvas.items()) {
    if (item.kind == Canvas::Item::Kind::Legend) f.legends.push_back(layoutLegend(item.legend.front(), style, W, H));
    if (item.kind == Canvas::Item::Kind::TextBox) {
      f.textBoxes.push_back(layoutTextBox(item.box.front(), item.lines, style, W, H));
    }
    if (item.kind == Canvas::Item::Kind::Text) f.texts.push_back(placeText(item.text.front(), W, H));
  }
  return f;
}

}  // namespace tk
