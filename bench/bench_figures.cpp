// Time to draw and save the figures of one scan: the combined figure of six gaps
// and a per-gap figure with its two fits and legend, and the PNG encoding alone
// at several compression levels, with the file size each gives.
#include <benchmark/benchmark.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Png.h"

namespace {

// A scratch directory for the saved figures, removed at the end.
struct Scratch {
  std::string path;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gapohm-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// An argon-like curve: flat leakage, then an ohmic rise, 65 points from 400 V.
tk::Graph gapCurve(int gap) {
  tk::Graph g;
  for (int i = 0; i < 65; ++i) {
    const double hv = 400 + 30.0 * i;
    const double ohmic = hv > 1800 ? (hv - 1800) * 0.02 * (gap + 1) : 0.0;
    g.AddPoint(hv, 0.3 + 0.05 * std::sin(i) + ohmic);
  }
  g.markerColor = gap < 3 ? 4 : 2;
  g.markerStyle = (gap % 3 == 0) ? 8 : (gap % 3 == 1) ? 33 : 22;
  g.markerSize = 2.0;
  return g;
}

tk::Legend legendBox(const std::string& header) {
  tk::Legend legend;
  legend.x1 = 0.15;
  legend.y1 = 0.6;
  legend.x2 = 0.45;
  legend.y2 = 0.8;
  legend.header = header;
  return legend;
}

void saveOrFail(benchmark::State& state, const tk::Canvas& canvas, const std::string& path) {
  std::string error;
  if (!canvas.SaveAs(path, error)) state.SkipWithError(error.c_str());
}

// The combined figure of six gaps; the canvas holds copies of the graphs.
tk::Canvas combinedFigure(std::vector<tk::Graph>& graphs, tk::Legend& legend) {
  graphs.clear();
  for (int gap = 0; gap < 6; ++gap) graphs.push_back(gapCurve(gap));
  graphs[5].xTitle = "HV [V]";
  graphs[5].yTitle = "J  [nA/cm^{2}]";
  tk::Canvas canvas("KVT Measurements", "KVT Measurements", 2000, 1000, tk::Style{});
  legend = legendBox("Argon scan");
  canvas.DrawGraph(&graphs[5], true);
  for (int gap = 0; gap < 6; ++gap) {
    legend.AddEntry(&graphs[gap], "RE3-PK-154-GAP" + std::to_string(gap), "p");
    canvas.DrawGraph(&graphs[gap], false);
  }
  canvas.DrawLegend(legend);
  return canvas;
}

void BM_CombinedFigure(benchmark::State& state, const std::string& extension) {
  Scratch dir;
  std::vector<tk::Graph> graphs;
  tk::Legend legend;
  for (auto _ : state) {
    const tk::Canvas canvas = combinedFigure(graphs, legend);
    saveOrFail(state, canvas, dir.path + "/ALLcurrents" + extension);
  }
  std::error_code ec;
  state.counters["kB"] = static_cast<double>(std::filesystem::file_size(dir.path + "/ALLcurrents" + extension, ec)) / 1000.0;
}

// The same figure written by libpng with zlib at `level` and row-filter mask
// `filters`, for comparison with the ISA-L encoder the figures use.
bool writeWithZlib(const std::string& path, const tk::Image& image, int level, int filters) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  std::vector<unsigned char> row(static_cast<std::size_t>(image.width()) * 3);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const unsigned long rgb = image.pixel(x, y);
      row[3 * x] = static_cast<unsigned char>(rgb >> 16);
      row[3 * x + 1] = static_cast<unsigned char>(rgb >> 8);
      row[3 * x + 2] = static_cast<unsigned char>(rgb);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// Encoding alone of the painted combined figure. range(0): 0 ISA-L, 1 zlib;
// range(1): level; range(2): zlib row-filter mask (0x08 none, 0x20 up, 0xf8 all).
void BM_PngEncoding(benchmark::State& state) {
  Scratch dir;
  std::vector<tk::Graph> graphs;
  tk::Legend legend;
  const tk::Canvas canvas = combinedFigure(graphs, legend);
  tk::Image image(canvas.width(), canvas.height());
  std::string error;
  if (!canvas.Paint(image, error)) state.SkipWithError(error.c_str());
  const std::string path = dir.path + "/encoded.png";
  const int level = static_cast<int>(state.range(1));
  for (auto _ : state) {
    const bool written = state.range(0) == 0 ? tk::writePng(path, image, level, error)
                                             : writeWithZlib(path, image, level, static_cast<int>(state.range(2)));
    if (!written) state.SkipWithError("cannot write the figure");
  }
  std::error_code ec;
  state.counters["kB"] = static_cast<double>(std::filesystem::file_size(path, ec)) / 1000.0;
}

void BM_GapFigure(benchmark::State& state, const std::string& extension) {
  Scratch dir;
  tk::Graph graph = gapCurve(2);
  graph.xTitle = "HV [V]";
  graph.yTitle = "J  [nA/cm^{2}]";
  tk::Function line;
  line.npar = 2;
  line.par[0] = -108;
  line.par[1] = 0.06;
  line.xmin = 1850;
  line.xmax = 2320;
  line.lineColor = 600;
  tk::Function level = line;
  level.npar = 1;
  level.par[0] = 0.3;
  level.xmin = 400;
  level.xmax = 1850;
  level.lineColor = 632;
  graph.function = level;  // the latest fit, painted with the graph
  for (auto _ : state) {
    tk::Canvas canvas("KVT MeasurementsG", "KVT Measurements G", 2000, 1000, tk::Style{});
    tk::Legend legend = legendBox("");
    legend.AddEntry(&graph, "RE3-PK-154-BOTTOM", "p");
    canvas.DrawGraph(&graph, true);
    canvas.DrawFunction(line);
    canvas.DrawFunction(level);
    canvas.DrawLegend(legend);
    saveOrFail(state, canvas, dir.path + "/RE3-PK-154-BOTTOM" + extension);
  }
}

BENCHMARK_CAPTURE(BM_CombinedFigure, png, std::string(".png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GapFigure, png, std::string(".png"))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngEncoding)
    ->ArgsProduct({{0}, {0, 1, 2, 3}, {0x08}})
    ->ArgsProduct({{1}, {1, 3, 6, 9}, {0x08, 0x20, 0xf8}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CombinedFigure, svg, std::string(".svg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CombinedFigure, pdf, std::string(".pdf"))->Unit(benchmark::kMillisecond);

}  // namespace
