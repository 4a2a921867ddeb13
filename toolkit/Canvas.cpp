// Painting of a canvas with PLplot's cairo devices. All geometry is worked out in
// page pixels (origin bottom-left) so that marker sizes, tick lengths and text
// sizes come out as users know them whatever the axis ranges are.
#include "toolkit/Canvas.h"

#include <cairo.h>
#include <plplot.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "toolkit/Layout.h"
#include "toolkit/Look.h"
#include "toolkit/MarkerStamps.h"
#include "toolkit/PageText.h"
#include "toolkit/Png.h"
#include "toolkit/SafeFile.h"

namespace tk {

Canvas::Canvas(std::string name, std::string title, int width, int height, Style style)
    : name_(std::move(name)), title_(std::move(title)), width_(width), height_(height), style_(std::move(style)) {}

void Canvas::DrawGraph(const Graph* graph, bool withAxes) {
  if (graph == nullptr) return;
  Item item;
  item.kind = Item::Kind::Graph;
  item.graph.push_back(*graph);
  item.withAxes = withAxes;
  if (withAxes) {
    item.xRange = graph->xAxis();
    item.yRange = graph->yAxis();
  }
  items_.push_back(std::move(item));
}

void Canvas::DrawFunction(const Function& function) {
  Item item;
  item.kind = Item::Kind::Function;
  item.function.push_back(function);
  items_.push_back(std::move(item));
}

void Canvas::DrawLegend(const Legend& legend) {
  Item item;
  item.kind = Item::Kind::Legend;
  item.legend.push_back(legend);
  for (Legend::Entry& entry : item.legend.front().entries) {
    LegendSample sample;
    if (entry.graph != nullptr) {
      sample.present = true;
      sample.markerColor = entry.graph->markerColor;
      sample.markerStyle = entry.graph->markerStyle;
      sample.markerSize = entry.graph->markerSize;
      sample.lineColor = entry.graph->function ? entry.graph->function->lineColor : 1;
    }
    item.samples.push_back(sample);
    entry.graph = nullptr;  // the caller's graph is not ours to keep
  }
  items_.push_back(std::move(item));
}

void Canvas::DrawLine(double x1, double y1, double x2, double y2, int colour, int width, int style) {
  Item item;
  item.kind = Item::Kind::Line;
  item.line.push_back({x1, y1, x2, y2, colour, width, style});
  items_.push_back(std::move(item));
}

void Canvas::DrawTextBox(const NdcBox& box, std::vector<std::string> lines) {
  Item item;
  item.kind = Item::Kind::TextBox;
  item.box.push_back(box);
  item.lines = std::move(lines);
  items_.push_back(std::move(item));
}

void Canvas::DrawText(double x, double y, std::string text, double size, int align) {
  Item item;
  item.kind = Item::Kind::Text;
  item.text.push_back({x, y, std::move(text), size, align});
  items_.push_back(std::move(item));
}

void Canvas::DrawHistogram(const Histogram& histogram) {
  Item item;
  item.kind = Item::Kind::Histogram;
  item.histogram.push_back(histogram);
  items_.push_back(std::move(item));
}

void Canvas::Clear() { items_.clear(); }

namespace {

// PLplot keeps its streams in global tables and is not re-entrant.
std::mutex& plplotLock() {
  static std::mutex lock;
  return lock;
}

constexpr double kPxPerMm = 72.0 / 25.4;  // the cairo devices' resolution
// PLplot's character height is about the height of a capital letter, so text is
// sized by its capitals (kCapitalPerSize of the line's full height).
// The colour index reserved for the colour being drawn in.
constexpr int kScratchColour = 1;

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// PNG figures are painted by the cairo device into pixels of our own
// ("extcairo") and encoded here: the cairo PNG device compresses at a level that
// costs about 60 ms per 2000 x 1000 figure, several times the painting itself,
// and the memory device copies the page in and out of a buffer of its own.
const char* deviceFor(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (endsWith(lower, ".png")) return "extcairo";
  if (endsWith(lower, ".svg")) return "svgcairo";
  if (endsWith(lower, ".pdf")) return "pdfcairo";
  return nullptr;
}

class Painter {
 public:
  // `raster` is the context of a PNG page (markers are then stamped), null for
  // vector figures (every marker stays a path of its own).
  // `stamps` gives the markers stamped on a raster page, `texts` its strings.
  Painter(const FigureLayout& layout, const Style& style, cairo_t* raster, MarkerStampBook* stamps,
          PageTextBook* texts)
      : W_(layout.width),
        H_(layout.height),
        style_(style),
        layout_(layout),
        raster_(raster),
        stamps_(stamps),
        texts_(texts) {
    left_ = layout.frame.x1;
    right_ = layout.frame.x2;
    bottom_ = layout.frame.y1;
    top_ = layout.frame.y2;
    xlo_ = layout.x.range.low;
    xhi_ = layout.x.range.high;
    ylo_ = layout.y.range.low;
    yhi_ = layout.y.range.high;
  }

  void paint(const std::vector<Canvas::Item>& items) {
    const bool frame = layout_.hasFrame;
    if (frame) paintFrameBackground();
    if (frame && (style_.gridX || style_.gridY)) paintGrid();
    for (const auto& item : items) {
      switch (item.kind) {
        case Canvas::Item::Kind::Graph:
          if (frame) paintGraph(item.graph.front());
          break;
        case Canvas::Item::Kind::Function:
          if (frame) paintFunction(item.function.front());
          break;
        case Canvas::Item::Kind::Histogram:
          if (frame) paintHistogram(item.histogram.front());
          break;
        case Canvas::Item::Kind::Line:
          if (frame) paintLine(item.line.front());
          break;
        case Canvas::Item::Kind::Legend:
        case Canvas::Item::Kind::TextBox:
        case Canvas::Item::Kind::Text:
          break;  // on top of everything, below
      }
    }
    if (frame) paintAxes();
    std::size_t legend = 0;
    std::size_t box = 0;
    std::size_t text = 0;
    for (const auto& item : items) {
      if (item.kind == Canvas::Item::Kind::Legend) paintLegend(layout_.legends[legend++], item.samples);
      if (item.kind == Canvas::Item::Kind::TextBox) paintTextBox(layout_.textBoxes[box++]);
      if (item.kind == Canvas::Item::Kind::Text) {
        pageCoordinates();
        colour(1);
        place(layout_.texts[text++]);
      }
    }
  }

 private:
  // --- coordinates
  double pxOfX(double x) const { return left_ + (x - xlo_) / (xhi_ - xlo_) * (right_ - left_); }
  double pxOfY(double y) const { return bottom_ + (y - ylo_) / (yhi_ - ylo_) * (top_ - bottom_); }

  // Drawing in data coordinates, clipped to the frame.
  void frameCoordinates() {
    plvpor(left_ / W_, right_ / W_, bottom_ / H_, top_ / H_);
    plwind(xlo_, xhi_, ylo_, yhi_);
  }
  // Drawing in page pixels, over the whole canvas.
  void pageCoordinates() {
    plvpor(0.0, 1.0, 0.0, 1.0);
    plwind(0.0, W_, 0.0, H_);
  }

  static void colour(int index) {
    const Rgb c = colourOf(index);
    plscol0(kScratchColour, c.r, c.g, c.b);
    plcol0(kScratchColour);
  }

  // Text of the given size (full line height in pixels) in the style's font.
  void textSize(double sizePx) {
    plschr(sizePx * kCapitalPerSize / kPxPerMm, 1.0);
    const PLINT family = style_.font == "serif" ? PL_FCI_SERIF : style_.font == "mono" ? PL_FCI_MONO : PL_FCI_SANS;
    plsfont(family, PL_FCI_UPRIGHT, style_.bold ? PL_FCI_BOLD : PL_FCI_MEDIUM);
  }
  // Text with its reference point vertically centred on the capitals, in page
  // pixels; `just` 0 left, 0.5 centre, 1 right; `vertical` reads upwards. On a
  // raster page the text book draws it as the library would, at less cost.
  void text(double x, double y, double just, const std::string& markup, bool vertical = false) {
    const std::string converted = toPlplotText(markup);
    const double dx = vertical ? 0.0 : 1.0;
    const double dy = vertical ? 1.0 : 0.0;
    if (raster_ != nullptr && texts_ != nullptr && texts_->draw(raster_, x, y, dx, dy, just, converted)) return;
    plptex(x, y, dx, dy, just, converted.c_str());
  }

  void place(const PlacedText& t) {
    textSize(t.sizePx);
    text(t.x, t.y, t.just, t.text, t.vertical);
  }

  // Segments joined as pljoin joins them; on a raster page, ticks and the like
  // that lie apart from each other in one stroke.
  void joinAll(const std::vector<std::array<double, 4>>& segments) {
    if (raster_ != nullptr && joinApart(raster_, segments)) return;
    for (const auto& s : segments) pljoin(s[0], s[1], s[2], s[3]);
  }

  void fillRect(double x1, double y1, double x2, double y2, int colourIndex) {
    colour(colourIndex);
    PLFLT xs[4] = {x1, x2, x2, x1};
    PLFLT ys[4] = {y1, y1, y2, y2};
    plfill(4, xs, ys);
  }
  void rect(double x1, double y1, double x2, double y2) {
    PLFLT xs[5] = {x1, x2, x2, x1, x1};
    PLFLT ys[5] = {y1, y1, y2, y2, y1};
    plline(5, xs, ys);
  }

  // --- frame and axes
  void paintFrameBackground() {
    pageCoordinates();
    if (style_.frameFillColor != style_.canvasColor) fillRect(left_, bottom_, right_, top_, style_.frameFillColor);
  }

  void paintGrid() {
    pageCoordinates();
    colour(1);
    plwidth(1.0);
    PLINT mark = 400;
    PLINT space = 400;
    plstyl(1, &mark, &space);  // dotted
    if (style_.gridX) {
      for (double px : layout_.x.primaryPx) pljoin(px, bottom_, px, top_);
    }
    if (style_.gridY) {
      for (double px : layout_.y.primaryPx) pljoin(left_, px, right_, px);
    }
    plstyl(0, nullptr, nullptr);
  }

  void paintAxes() {
    pageCoordinates();
    colour(1);
    plwidth(std::max(1, style_.lineWidth));
    rect(left_, bottom_, right_, top_);
    const AxisLayout& x = layout_.x;
    const AxisLayout& y = layout_.y;
    auto xTicks = [&](double base, double direction) {
      std::vector<std::array<double, 4>> ticks;
      for (double px : x.primaryPx) ticks.push_back({px, base, px, base + direction * x.primaryLength});
      for (double px : x.secondaryPx) ticks.push_back({px, base, px, base + direction * x.secondaryLength});
      joinAll(ticks);
    };
    auto yTicks = [&](double base, double direction) {
      std::vector<std::array<double, 4>> ticks;
      for (double px : y.primaryPx) ticks.push_back({base, px, base + direction * y.primaryLength, px});
      for (double px : y.secondaryPx) ticks.push_back({base, px, base + direction * y.secondaryLength, px});
      joinAll(ticks);
    };
    xTicks(bottom_, 1.0);
    yTicks(left_, 1.0);
    if (style_.tickX) xTicks(top_, -1.0);
    if (style_.tickY) yTicks(right_, -1.0);
    for (const PlacedText& t : layout_.xLabels) place(t);
    if (!layout_.xExponent.text.empty()) place(layout_.xExponent);
    for (const PlacedText& t : layout_.yLabels) place(t);
    if (!layout_.yExponent.text.empty()) place(layout_.yExponent);
    for (const PlacedText& t : layout_.titles) place(t);
  }

  // --- data
  void marker(double cx, double cy, const MarkerLook& look,
              const std::vector<std::vector<std::pair<double, double>>>& outline) {
    // Offsets are in pixels; the frame's window converts pixels back to data units.
    const double sx = (xhi_ - xlo_) / (right_ - left_);
    const double sy = (yhi_ - ylo_) / (top_ - bottom_);
    if (look.shape == MarkerShape::Dot) {
      PLFLT xs[4] = {cx - 0.5 * sx, cx + 0.5 * sx, cx + 0.5 * sx, cx - 0.5 * sx};
      PLFLT ys[4] = {cy - 0.5 * sy, cy - 0.5 * sy, cy + 0.5 * sy, cy + 0.5 * sy};
      plfill(4, xs, ys);
      return;
    }
    PLFLT xs[64];
    PLFLT ys[64];
    for (std::size_t k = 0; k < outline.size(); ++k) {
      const auto& line = outline[k];
      const PLINT n = static_cast<PLINT>(std::min<std::size_t>(line.size(), 64));
      for (PLINT i = 0; i < n; ++i) {
        xs[i] = cx + line[static_cast<std::size_t>(i)].first * sx;
        ys[i] = cy + line[static_cast<std::size_t>(i)].second * sy;
      }
      if (look.filled && k == 0) {
        plfill(n, xs, ys);
      } else {
        plline(n, xs, ys);
      }
    }
  }

  void paintGraph(const Graph& graph) {
    frameCoordinates();
    const MarkerLook look = markerLook(graph.markerStyle, graph.markerSize);
    if (look.sizePx <= 0.0) {
      if (graph.function) paintFunction(*graph.function);
      return;
    }
    const auto outline = markerOutline(look);
    colour(graph.markerColor);
    plwidth(1.0);
    const auto& xs = graph.GetX();
    const auto& ys = graph.GetY();
    RasterPage page = stamps_ != nullptr ? rasterPage(look) : RasterPage{};
    MarkerStamps* stamps = page.data != nullptr ? &stamps_->stampsFor(look, colourOf(graph.markerColor)) : nullptr;
    // Markers whose centre lies outside the frame are not drawn, the part of a
    // marker at the frame's edge is clipped. Stamped markers are written into
    // the pixels behind cairo's back, so they all go first and cairo is told
    // before it paints the rest.
    std::vector<std::size_t> drawn;
    for (std::size_t i = 0; i < xs.size(); ++i) {
      if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
      if (xs[i] < xlo_ || xs[i] > xhi_ || ys[i] < ylo_ || ys[i] > yhi_) continue;
      if (stamps != nullptr) {
        stamp(*stamps, page, pxOfX(xs[i]), H_ - pxOfY(ys[i]));
      } else {
        drawn.push_back(i);
      }
    }
    if (page.data != nullptr) cairo_surface_mark_dirty(cairo_get_target(raster_));
    for (std::size_t i : drawn) marker(xs[i], ys[i], look, outline);
    if (graph.errorY.size() == xs.size()) paintErrorBars(graph, look);
    if (graph.function) paintFunction(*graph.function);
  }

  // The pixels of a PNG page, when a graph's markers may be stamped onto them;
  // data is null otherwise.
  struct RasterPage {
    std::uint8_t* data = nullptr;
    int stride = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the frame's inside, whole pixels from the top-left
  };
  RasterPage rasterPage(const MarkerLook& look) const {
    RasterPage page;
    if (raster_ == nullptr || look.sizePx > MarkerStamps::kMaxSizePx) return page;
    cairo_surface_t* target = cairo_get_target(raster_);
    if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(target) != CAIRO_FORMAT_RGB24) {
      return page;
    }
    cairo_surface_flush(target);  // what the library has painted so far is in the pixels
    page.data = cairo_image_surface_get_data(target);
    page.stride = cairo_image_surface_get_stride(target);
    // The stamps may touch a pixel beyond the box: it keeps one inside the image.
    page.x0 = std::max(1, static_cast<int>(std::ceil(left_)));
    page.x1 = std::min(static_cast<int>(std::floor(right_)), cairo_image_surface_get_width(target) - 1);
    page.y0 = std::max(1, static_cast<int>(std::ceil(H_ - top_)));
    page.y1 = std::min(static_cast<int>(std::floor(H_ - bottom_)), cairo_image_surface_get_height(target) - 1);
    return page;
  }
  // Stamps the marker at (x, y), data units, clipped to the frame as the
  // library clips a marker it draws (the half-pixel stroke it lays along the
  // frame's edge, under the frame line, is left out).
  static void stamp(MarkerStamps& stamps, const RasterPage& page, double px, double py) {
    stamps.paint(px, py, page.data, page.stride, page.x0, page.y0, page.x1, page.y1);
  }

  // Bars from y - e to y + e with caps half a marker wide, in the current colour.
  void paintErrorBars(const Graph& graph, const MarkerLook& look) {
    const double sx = (xhi_ - xlo_) / (right_ - left_);
    const double cap = std::max(3.0, look.sizePx / 2) * sx;
    const auto& xs = graph.GetX();
    const auto& ys = graph.GetY();
    for (std::size_t i = 0; i < xs.size(); ++i) {
      const double e = std::fabs(graph.errorY[i]);
      if (!std::isfinite(xs[i]) || !std::isfinite(ys[i]) || !std::isfinite(e) || e == 0.0) continue;
      pljoin(xs[i], ys[i] - e, xs[i], ys[i] + e);
      pljoin(xs[i] - cap, ys[i] - e, xs[i] + cap, ys[i] - e);
      pljoin(xs[i] - cap, ys[i] + e, xs[i] + cap, ys[i] + e);
    }
  }

  void paintFunction(const Function& f) {
    frameCoordinates();
    colour(f.lineColor);
    plwidth(std::max(1, f.lineWidth));
    const double a = std::max(f.xmin, xlo_);
    const double b = std::min(f.xmax, xhi_);
    if (!(b >= a)) return;
    const double ya = f.eval(a);
    const double yb = f.eval(b);
    if (!std::isfinite(ya) || !std::isfinite(yb)) return;
    lineStyle(f.lineStyle);
    pljoin(a, ya, b, yb);
    lineStyle(1);
  }

  void paintLine(const Line& line) {
    if (!std::isfinite(line.x1) || !std::isfinite(line.y1) || !std::isfinite(line.x2) || !std::isfinite(line.y2)) {
      return;
    }
    // Cut to the frame here: the painter's own clipping goes wrong for ends far
    // outside it (its device coordinates are integers).
    double t0 = 0.0;
    double t1 = 1.0;
    const double dx = line.x2 - line.x1;
    const double dy = line.y2 - line.y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {line.x1 - xlo_, xhi_ - line.x1, line.y1 - ylo_, yhi_ - line.y1};
    for (int k = 0; k < 4; ++k) {
      if (p[k] == 0.0) {
        if (q[k] < 0.0) return;  // parallel to this edge and outside it
        continue;
      }
      const double t = q[k] / p[k];
      if (p[k] < 0.0) t0 = std::max(t0, t);
      else t1 = std::min(t1, t);
    }
    if (t0 > t1) return;
    frameCoordinates();
    colour(line.colour);
    plwidth(std::max(1, line.width));
    lineStyle(line.style);
    pljoin(line.x1 + t0 * dx, line.y1 + t0 * dy, line.x1 + t1 * dx, line.y1 + t1 * dy);
    lineStyle(1);
  }

  // Style 2: dashes and gaps of 12 pixels (PLplot counts micrometres).
  static void lineStyle(int style) {
    if (style == 2) {
      PLINT mark = static_cast<PLINT>(12 * 1000 / kPxPerMm);
      PLINT space = mark;
      plstyl(1, &mark, &space);
    } else {
      plstyl(0, nullptr, nullptr);
    }
  }

  void paintTextBox(const TextBoxLayout& box) {
    pageCoordinates();
    fillRect(box.box.x1, box.box.y1, box.box.x2, box.box.y2, 0);
    colour(1);
    plwidth(1.0);
    rect(box.box.x1, box.box.y1, box.box.x2, box.box.y2);
    for (const PlacedText& t : box.rows) place(t);
  }

  void paintHistogram(const Histogram& h) {
    frameCoordinates();
    colour(602);
    plwidth(std::max(1, style_.lineWidth));
    const int n = h.bins();
    const double width = (h.high() - h.low()) / n;
    std::vector<PLFLT> xs;
    std::vector<PLFLT> ys;
    xs.reserve(2 * static_cast<std::size_t>(n) + 2);
    ys.reserve(2 * static_cast<std::size_t>(n) + 2);
    xs.push_back(h.low());
    ys.push_back(ylo_);
    for (int b = 0; b < n; ++b) {
      const double c = h.content(b);
      xs.push_back(h.low() + b * width);
      ys.push_back(c);
      xs.push_back(h.low() + (b + 1) * width);
      ys.push_back(c);
    }
    xs.push_back(h.high());
    ys.push_back(ylo_);
    plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
  }

  // --- legend
  void paintLegend(const LegendLayout& legend, const std::vector<Canvas::LegendSample>& samples) {
    pageCoordinates();
    const PixelBox& box = legend.box;
    fillRect(box.x1, box.y1, box.x2, box.y2, style_.legendFillColor);
    if (style_.legendBorderSize > 0) {
      colour(1);
      plwidth(style_.legendBorderSize);
      rect(box.x1, box.y1, box.x2, box.y2);
    }
    if (legend.rows.empty()) return;
    const double boxW = box.x2 - box.x1;
    textSize(legend.textSizePx);
    std::size_t entry = 0;
    for (const LegendRowLayout& row : legend.rows) {
      if (row.header) {
        colour(1);
        text(row.text.x, row.text.y, row.text.just, row.text.text);
        continue;
      }
      const Canvas::LegendSample sample = entry < samples.size() ? samples[entry] : Canvas::LegendSample{};
      ++entry;
      if (sample.present && row.option.find_first_of("pP") != std::string::npos) {
        const MarkerLook look = markerLook(sample.markerStyle, sample.markerSize);
        colour(sample.markerColor);
        plwidth(1.0);
        legendMarker(row.sampleX, row.sampleY, look);
      }
      if (sample.present && row.option.find_first_of("lL") != std::string::npos) {
        colour(sample.lineColor);
        plwidth(2.0);
        pljoin(box.x1 + boxW * 0.03, row.sampleY, box.x1 + boxW * 0.22, row.sampleY);
      }
      colour(1);
      text(row.text.x, row.text.y, row.text.just, row.text.text);
    }
  }

  // A marker in page pixels (the page window is one unit per pixel).
  void legendMarker(double cx, double cy, const MarkerLook& look) {
    const auto outline = markerOutline(look);
    if (look.shape == MarkerShape::Dot) {
      // In the colour already chosen, the entry's marker colour, as every other
      // shape is drawn.
      PLFLT xs[4] = {cx - 0.5, cx + 0.5, cx + 0.5, cx - 0.5};
      PLFLT ys[4] = {cy - 0.5, cy - 0.5, cy + 0.5, cy + 0.5};
      plfill(4, xs, ys);
      return;
    }
    for (std::size_t k = 0; k < outline.size(); ++k) {
      std::vector<PLFLT> xs;
      std::vector<PLFLT> ys;
      for (const auto& p : outline[k]) {
        xs.push_back(cx + p.first);
        ys.push_back(cy + p.second);
      }
      if (look.filled && k == 0) {
        plfill(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
      } else {
        plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
      }
    }
  }

  double W_;
  double H_;
  const Style& style_;
  const FigureLayout& layout_;
  cairo_t* raster_;
  MarkerStampBook* stamps_;
  PageTextBook* texts_;
  double left_ = 0, right_ = 0, bottom_ = 0, top_ = 0;  // frame edges, page pixels
  double xlo_ = 0, xhi_ = 1, ylo_ = 0, yhi_ = 1;        // frame ranges, data units
};

// True when the painted file ends as a complete file of its format does.
bool endsComplete(const std::string& file, const char* device) {
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return false;
  char tail[32] = {};
  std::size_t got = 0;
  if (std::fseek(f, -static_cast<long>(sizeof tail), SEEK_END) == 0 || std::fseek(f, 0, SEEK_SET) == 0) {
    got = std::fread(tail, 1, sizeof tail, f);
  }
  std::fclose(f);
  const std::string end(tail, got);
  if (std::strcmp(device, "svgcairo") == 0) return end.find("</svg>") != std::string::npos;
  if (std::strcmp(device, "pdfcairo") == 0) return end.find("%%EOF") != std::string::npos;
  return got > 0;
}

// What cairo writes into a vector figure that is not a function of the figure:
// SVG surface ids numbered by every surface the process has made (so a figure's
// bytes depend on the figures painted before it), and the PDF's creation time.
// Ids are renumbered in order of appearance; the PDF dates are blanked with as
// many spaces, so every byte offset in the file's cross-reference table holds.
std::string reproducible(std::string text, const char* device) {
  if (std::strcmp(device, "svgcairo") == 0) {
    std::map<std::string, std::string> renamed;
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    for (std::size_t hit = text.find("surface", at); hit != std::string::npos; hit = text.find("surface", at)) {
      std::size_t end = hit + 7;
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
      const bool id = end > hit + 7 && hit > 0 && (text[hit - 1] == '"' || text[hit - 1] == '#');
      out.append(text, at, hit - at);
      if (id) {
        const auto [it, fresh] = renamed.emplace(text.substr(hit, end - hit), "");
        if (fresh) it->second = "surface" + std::to_string(renamed.size());
        out += it->second;
      } else {
        out.append(text, hit, end - hit);
      }
      at = end;
    }
    out.append(text, at, std::string::npos);
    return out;
  }
  if (std::strcmp(device, "pdfcairo") == 0) {
    for (const char* key : {"/CreationDate (", "/ModDate ("}) {
      for (std::size_t hit = text.find(key); hit != std::string::npos; hit = text.find(key, hit)) {
        const std::size_t close = text.find(')', hit);
        if (close == std::string::npos) break;
        std::fill(text.begin() + static_cast<std::ptrdiff_t>(hit), text.begin() + static_cast<std::ptrdiff_t>(close + 1), ' ');
      }
    }
  }
  return text;
}

// Rewrites the painted vector file as reproducible() has it.
bool makeReproducible(const std::string& file, const char* device, std::string& reason) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
  const bool read = std::ferror(in) == 0;
  std::fclose(in);
  if (!read) {
    reason = "the painted file cannot be read back";
    return false;
  }
  const std::string fixed = reproducible(text, device);
  if (fixed == text) return true;
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  errno = 0;
  const bool written = std::fwrite(fixed.data(), 1, fixed.size(), out) == fixed.size();
  const int writeError = errno;
  if (std::fclose(out) != 0 || !written) {
    reason = std::strerror(writeError != 0 ? writeError : errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}


// Paints the canvas's page with the PLplot device, into `output` (vector
// devices) or onto `context` (extcairo).
void paintPage(const Canvas& canvas, const char* device, std::FILE* output, cairo_t* context,
               MarkerStampBook* stamps, PageTextBook* texts) {
  const Rgb background = colourOf(canvas.style().canvasColor);
  std::lock_guard<std::mutex> guard(plplotLock());
  PLINT previous = 0;
  plgstrm(&previous);
  PLINT stream = 0;
  plmkstrm(&stream);
  plsdev(device);
  plspage(0.0, 0.0, canvas.width(), canvas.height(), 0, 0);
  if (output != nullptr) plsfile(output);
  plscolbg(background.r, background.g, background.b);
  plinit();
  if (context != nullptr) pl_cmd(PLESC_DEVINIT, context);
  pladv(0);
  const FigureLayout layout = layoutFigure(canvas);
  Painter painter(layout, canvas.style(), context, stamps, texts);
  painter.paint(canvas.items());
  plend1();
  plsstrm(previous);
}

}  // namespace

bool Canvas::Paint(Image& image, std::string& error, MarkerStampBook* stamps, bool blank,
                   PageTextBook* texts) const {
  if (image.data() == nullptr || image.width() != width_ || image.height() != height_) {
    error = "no room for a " + std::to_string(width_) + "x" + std::to_string(height_) + " image";
    return false;
  }
  // The page is painted straight into the image, over the canvas colour.
  const Rgb background = colourOf(style_.canvasColor);
  if (!blank) image.fill(background.r, background.g, background.b);
  cairo_surface_t* surface = cairo_image_surface_create_for_data(image.data(), CAIRO_FORMAT_RGB24, width_,
                                                                 height_, image.stride());
  cairo_t* context = cairo_create(surface);
  const bool ready = cairo_status(context) == CAIRO_STATUS_SUCCESS;
  MarkerStampBook own;
  PageTextBook ownTexts;
  if (ready) {
    paintPage(*this, "extcairo", nullptr, context, stamps != nullptr ? stamps : &own,
              texts != nullptr ? texts : &ownTexts);
  }
  cairo_destroy(context);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  if (!ready) error = "cairo cannot paint the image";
  return ready;
}

namespace {

// The shrunk image written to `path` through a temporary file.
bool saveThumbnail(const Image& small, const std::string& path, std::string& error) {
  std::string temporary;
  std::string reason = "no memory for it";
  const int fd = small.data() == nullptr ? -1 : createTempFile(path, temporary, reason);
  if (fd >= 0) {
    ::close(fd);
    if (!writePng(temporary, small, Canvas::kPngLevel, reason)) {
      discardTempFile(-1, temporary);
    } else if (commitTempFile(-1, temporary, path, false, reason)) {
      return true;
    }
  }
  error = "cannot write thumbnail " + path + ": " + reason;
  return false;
}

}  // namespace

bool Canvas::SaveAs(const std::string& path, std::string& error, const std::string& thumbnail,
                    int thumbnailWidth, Easel* easel) const {
  const char* device = deviceFor(path);
  if (device == nullptr) {
    error = "cannot save figure " + path + ": unknown format (use .png, .svg or .pdf)";
    return false;
  }
  if (width_ < 1 || height_ < 1) {
    error = "cannot save figure " + path + ": canvas size " + std::to_string(width_) + "x" +
            std::to_string(height_) + " is empty";
    return false;
  }
  // PLplot ends the whole process when it cannot open its output file, so the
  // file is opened here first; painting into a temporary file keeps a complete
  // older figure in place until the new one is done.
  std::string temporary;
  std::string reason;
  const int fd = createTempFile(path, temporary, reason);
  // Vector figures are written by PLplot into this handle, which it closes; PLplot
  // is never given the name, since it would expand "%n" and the like in it.
  std::FILE* output = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (output == nullptr) {
    if (fd >= 0) reason = std::strerror(errno);
    discardTempFile(fd, temporary);
    error = "cannot write figure " + path + ": " + reason;
    return false;
  }

  // A device without room must be found out before PLplot is touched: the first
  // use in a process writes PLplot's driver list to a temporary file, and PLplot
  // ends the process when that fails. The probe is about the size of the
  // smallest figure.
  {
    static const std::vector<char> zeros(std::size_t{64} * 1024, '\0');
    errno = 0;
    const bool written = std::fwrite(zeros.data(), 1, zeros.size(), output) == zeros.size() &&
                         std::fflush(output) == 0;
    const int probeError = errno;
    if (!written || ::ftruncate(::fileno(output), 0) != 0 || std::fseek(output, 0, SEEK_SET) != 0) {
      std::fclose(output);
      discardTempFile(-1, temporary);
      error = "cannot write figure " + path + ": " + std::strerror(probeError != 0 ? probeError : EIO);
      return false;
    }
  }

  const bool inMemory = std::strcmp(device, "extcairo") == 0;
  if (inMemory) {
    std::fclose(output);  // encoded and written after painting
    Easel own;
    if (easel == nullptr) easel = &own;
    Image& pixels = easel->pixels;
    if (pixels.width() != width_ || pixels.height() != height_) {
      pixels = Image(width_, height_);
      easel->blankPixel.reset();
    }
    // The thumbnail is shrunk from the pixels as they are encoded.
    const int factor = thumbnail.empty() ? 1 : shrinkFactor(width_, thumbnailWidth);
    Image& small = easel->thumbnail;
    const int smallWidth = (width_ + factor - 1) / factor;
    const int smallHeight = (height_ + factor - 1) / factor;
    if (!thumbnail.empty() && (small.width() != smallWidth || small.height() != smallHeight)) {
      small = Image(smallWidth, smallHeight);
    }
    PngPass pass;
    pass.shrunk = thumbnail.empty() || small.data() == nullptr ? nullptr : &small;
    pass.factor = factor;
    // The page is left blank in the canvas colour for the next figure.
    const Rgb background = colourOf(style_.canvasColor);
    pass.blank = true;
    pass.blankPixel = static_cast<std::uint32_t>((background.r & 0xff) << 16 | (background.g & 0xff) << 8 | (background.b & 0xff));
    const bool blank = easel->blankPixel == pass.blankPixel;
    easel->blankPixel.reset();  // until the pass has gone through
    if (!Paint(pixels, reason, &easel->stamps, blank, &easel->texts) || !writePng(temporary, pixels, kPngLevel, reason, pass)) {
      discardTempFile(-1, temporary);
      error = "cannot write figure " + path + ": " + reason;
      return false;
    }
    easel->blankPixel = pass.blankPixel;
    if (!commitTempFile(-1, temporary, path, false, reason)) {
      error = "cannot write figure " + path + ": " + reason;
      return false;
    }
    return thumbnail.empty() || saveThumbnail(small, thumbnail, error);
  }
  paintPage(*this, device, output, nullptr, nullptr, nullptr);

  // PLplot does not report a vector file it could not finish; a complete one
  // ends in its format's closing mark.
  if (!inMemory && !endsComplete(temporary, device)) {
    discardTempFile(-1, temporary);
    error = "cannot write figure " + path + ": the file could not be written completely";
    return false;
  }
  if (!inMemory && !makeReproducible(temporary, device, reason)) {
    discardTempFile(-1, temporary);
    error = "cannot write figure " + path + ": " + reason;
    return false;
  }
  if (!commitTempFile(-1, temporary, path, false, reason)) {
    error = "cannot write figure " + path + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace tk
