// A figure in the making: a canvas of a given pixel size onto which graphs,
// fitted functions, a legend and histograms are drawn, and which is then saved as
// a PNG, SVG or PDF file. A canvas is a value: drawing records a copy of what is
// drawn, as it is at that moment (a graph with its attached function, a legend's
// marker samples), so a canvas may be kept, copied or painted anywhere whatever
// becomes of the graphs afterwards. Painting happens in SaveAs and Paint.
//
// The plotting library behind it is not thread-safe and keeps global state: SaveAs
// paints on a library stream of its own and serialises all painting through one
// process-wide lock, so canvases may be saved from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Graph.h"
#include "toolkit/Histogram.h"
#include "toolkit/MarkerStamps.h"
#include "toolkit/PageText.h"
#include "toolkit/Png.h"
#include "toolkit/Style.h"

namespace tk {

// A legend box at normalised pad coordinates (x1, y1) lower-left, (x2, y2)
// upper-right, with an optional header row and one row per entry.
struct Legend {
  struct Entry {
    const Graph* graph;  // not owned; read when the legend is drawn (Canvas::DrawLegend)
    std::string label;
    std::string option;  // "p": a marker sample
  };
  double x1 = 0.0, y1 = 0.0, x2 = 1.0, y2 = 1.0;
  std::string header;
  std::vector<Entry> entries;

  void AddEntry(const Graph* graph, std::string label, std::string option) {
    entries.push_back({graph, std::move(label), std::move(option)});
  }
};

// A straight line between two points in user (axis) coordinates, clipped to
// the frame: colour index, width in pixels, style 1 solid or 2 dashed.
struct Line {
  double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
  int colour = 1;
  int width = 1;
  int style = 1;
};

// A box in normalised pad coordinates, (x1, y1) lower-left, (x2, y2)
// upper-right. The default is where a fit box goes: the top-right of the pad.
struct NdcBox {
  double x1 = 0.78, y1 = 0.775, x2 = 0.98, y2 = 0.935;
};

// A text at normalised pad coordinates: its size as a fraction of the pad
// height, and its alignment as 10 x horizontal + vertical, each 1 (left,
// bottom), 2 (centre) or 3 (right, top); 11 puts the text's lower-left corner on
// the point, 33 its upper-right corner.
struct Text {
  double x = 0.0, y = 0.0;
  std::string text;
  double size = 0.035;
  int align = 11;
};

// What painting keeps from one PNG figure to the next, for a caller that saves
// many (a run, a batch worker): the block of pixels the figures are painted in
// (mapping, and the kernel zeroing, 8 MB afresh for each costs more than
// painting it), the one their thumbnails are shrunk into, the marker stamps
// made so far and the strings laid out so far. None of it shows in a figure: a
// figure painted on a used easel has the bytes it has on a fresh one.
struct Easel {
  Image pixels{0, 0};
  Image thumbnail{0, 0};
  MarkerStampBook stamps;
  PageTextBook texts;
  // Set when every one of `pixels` holds this (0xRRGGBB): the PNG pass blanks
  // the page for the next figure, which then needs no clearing pass.
  std::optional<std::uint32_t> blankPixel;
};

class Canvas {
 public:
  Canvas(std::string name, std::string title, int width, int height, Style style);

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const Style& style() const { return style_; }

  // Draws a copy of the graph as it is now: its markers ("AP" when withAxes, else
  // "same P") and its attached function, if any. The first graph drawn with axes
  // sets the frame: its axis ranges and axis titles. Everything is clipped to the
  // frame; markers whose centre lies outside it are not drawn. The graph may
  // change or go as soon as this returns. A null graph is ignored.
  void DrawGraph(const Graph* graph, bool withAxes);
  // Draws a copy of the function as a line over its range ("same").
  void DrawFunction(const Function& function);
  // Draws a copy of the legend box ("same"), its marker samples copied from the
  // entries' graphs as they are now.
  void DrawLegend(const Legend& legend);
  // Draws the line ("same"), clipped to the frame; nothing without a frame.
  void DrawLine(double x1, double y1, double x2, double y2, int colour, int width = 1, int style = 1);
  // Draws a fit box on top: a white box with a 1-pixel black border at `box`,
  // one row per line of text, in the figure markup ("p_{1} = 0.08 #pm 0.01"),
  // left-aligned, sized to fit the box as legend text is.
  void DrawTextBox(const NdcBox& box, std::vector<std::string> lines);
  // Draws a text on top, anywhere on the canvas (a corner label).
  void DrawText(double x, double y, std::string text, double size = 0.035, int align = 11);
  // Draws a copy of the histogram; it sets the frame when nothing else has.
  void DrawHistogram(const Histogram& histogram);
  // Removes everything drawn so far.
  void Clear();

  // Paints everything drawn so far into `path`; the format follows the extension
  // (".png", ".svg", ".pdf"). The figure is painted into a temporary file next to
  // `path` and renamed into place, so an existing figure is only replaced by a
  // complete one. Returns false, with a reason in `error`, when the file cannot
  // be written or the extension is unknown; `path` is then left as it was.
  // With a `thumbnail` path, a PNG figure also leaves there, from the same
  // pixels, a copy box-filtered down by a whole factor to at most
  // thumbnailWidth pixels wide (written as the figure is; other formats leave
  // none). Its directory must exist. A thumbnail that cannot be written is an
  // error too; the figure is then in place.
  // With an `easel`, a PNG figure is painted on it (its pixels made the
  // canvas's size first if they are not) instead of on a fresh one.
  bool SaveAs(const std::string& path, std::string& error, const std::string& thumbnail = "",
              int thumbnailWidth = 0, Easel* easel = nullptr) const;
  // Paints everything drawn so far into `image`, which must have the canvas's
  // size; every pixel is set. Markers are stamped from `stamps`, strings laid
  // out from `texts` (fresh books when null). `blank`: every pixel already
  // holds the canvas colour, so the page is not cleared first. Returns false,
  // with a reason in `error`, when the image has no pixels or another size.
  bool Paint(Image& image, std::string& error, MarkerStampBook* stamps = nullptr, bool blank = false,
             PageTextBook* texts = nullptr) const;
  // ISA-L deflate level of PNG figures. Level 0 is as fast as level 1 on figures
  // (bench_figures) but its files are about 30 % larger. Levels 1 and 2 are not
  // used because their assembly matchers are not repeatable: in about one figure
  // in a hundred they pick an equivalent but different match (a distance 2 bytes
  // off) depending on where in memory the encoder's state lies, so the same
  // pixels gave other bytes in another process. Level 0 gave the same bytes in
  // 1500 processes and at 1500 placements of that state; level 3 did too, but at
  // five times the cost. bench/png_repeat.sh checks a level (or a new ISA-L).
  static constexpr int kPngLevel = 0;

  // How a legend row's sample looks: the marker and line attributes of the
  // entry's graph when the legend was drawn (present false: the entry had none).
  struct LegendSample {
    bool present = false;
    int markerColor = 1;
    int markerStyle = 1;
    double markerSize = 1.0;
    int lineColor = 1;  // of the graph's attached function; 1 without one
  };
  // What has been drawn, in order (for inspection and tests).
  struct Item {
    enum class Kind { Graph, Function, Legend, Histogram, Line, TextBox, Text } kind = Kind::Graph;
    std::vector<Graph> graph;  // one element for Kind::Graph: the copy drawn
    bool withAxes = false;
    // For a graph drawn with axes: its axis ranges when it was drawn, which stay
    // the frame whatever points it gets later.
    AxisRange xRange;
    AxisRange yRange;
    std::vector<Function> function;    // one element for Kind::Function
    // One element for Kind::Legend, its entries' graph pointers cleared; the
    // samples, one per entry, say how their rows' samples look.
    std::vector<Legend> legend;
    std::vector<LegendSample> samples;
    std::vector<Histogram> histogram;  // one element for Kind::Histogram
    std::vector<Line> line;            // one element for Kind::Line
    std::vector<NdcBox> box;           // one element for Kind::TextBox, with its lines:
    std::vector<std::string> lines;
    std::vector<Text> text;            // one element for Kind::Text
  };
  const std::vector<Item>& items() const { return items_; }

 private:
  std::string name_;
  std::string title_;
  int width_;
  int height_;
  Style style_;
  std::vector<Item> items_;
};

}  // namespace tk
