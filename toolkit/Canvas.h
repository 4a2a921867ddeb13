// A figure in the making: a canvas of a given pixel size onto which graphs,
// fitted functions, a legend and histograms are drawn, and which is then saved as
// a PNG, SVG or PDF file. Drawing only records what to paint; painting happens in
// SaveAs, so a graph's latest fit function is painted with it even when the fit
// came after the graph was drawn, as users expect.
//
// The plotting library behind it is not thread-safe and keeps global state: SaveAs
// paints on a library stream of its own and serialises all painting through one
// process-wide lock, so canvases may be saved from several threads.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "toolkit/Graph.h"
#include "toolkit/Histogram.h"
#include "toolkit/Png.h"
#include "toolkit/Style.h"

namespace tk {

// A legend box at normalised pad coordinates (x1, y1) lower-left, (x2, y2)
// upper-right, with an optional header row and one row per entry.
struct Legend {
  struct Entry {
    const Graph* graph;  // not owned; must outlive the canvas the legend is drawn on
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

class Canvas {
 public:
  Canvas(std::string name, std::string title, int width, int height, Style style);

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const Style& style() const { return style_; }

  // Draws the graph's markers ("AP" when withAxes, else "same P"). The first
  // graph drawn with axes sets the frame: its axis ranges as they are now, and
  // its axis titles. Everything is clipped to the frame; markers whose centre
  // lies outside it are not drawn. The graph is referenced, not copied, and must
  // outlive every later SaveAs; its marker attributes, titles and attached
  // function are read when painting. A null graph is ignored.
  void DrawGraph(const Graph* graph, bool withAxes);
  // Draws a copy of the function as a line over its range ("same").
  void DrawFunction(const Function& function);
  // Draws a copy of the legend box ("same").
  void DrawLegend(const Legend& legend);
  // Draws a copy of the histogram; it sets the frame when nothing else has.
  void DrawHistogram(const Histogram& histogram);
  // Removes everything drawn so far.
  void Clear();
  // Points every graph the canvas refers to (graphs drawn, legend samples) at
  // replace(graph) instead; a canvas can so be made to paint copies of its graphs.
  void RebindGraphs(const std::function<const Graph*(const Graph*)>& replace);

  // Paints everything drawn so far into `path`; the format follows the extension
  // (".png", ".svg", ".pdf"). The figure is painted into a temporary file next to
  // `path` and renamed into place, so an existing figure is only replaced by a
  // complete one. Returns false, with a reason in `error`, when the file cannot
  // be written or the extension is unknown; `path` is then left as it was.
  bool SaveAs(const std::string& path, std::string& error) const;
  // Paints everything drawn so far into `image`, which must have the canvas's
  // size; every pixel is set. Returns false, with a reason in `error`, when the
  // image has no pixels or another size.
  bool Paint(Image& image, std::string& error) const;
  // ISA-L deflate level of PNG figures: level 1 is as small as zlib's level 3 on
  // figures and several times faster (bench_figures).
  static constexpr int kPngLevel = 1;

  // What has been drawn, in order (for inspection and tests).
  struct Item {
    enum class Kind { Graph, Function, Legend, Histogram } kind = Kind::Graph;
    const Graph* graph = nullptr;
    bool withAxes = false;
    // For a graph drawn with axes: its axis ranges when it was drawn, which stay
    // the frame whatever points it gets later.
    AxisRange xRange;
    AxisRange yRange;
    std::vector<Function> function;    // one element for Kind::Function
    std::vector<Legend> legend;        // one element for Kind::Legend
    std::vector<Histogram> histogram;  // one element for Kind::Histogram
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
