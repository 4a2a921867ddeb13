// Time to draw and save the figures of one scan: the combined figure of six gaps
// and a per-gap figure with its two fits and legend. Target: under 60 ms each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"

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

void BM_CombinedFigure(benchmark::State& state, const std::string& extension) {
  Scratch dir;
  std::vector<tk::Graph> graphs;
  for (int gap = 0; gap < 6; ++gap) graphs.push_back(gapCurve(gap));
  graphs[5].xTitle = "HV [V]";
  graphs[5].yTitle = "J  [nA/cm^{2}]";
  for (auto _ : state) {
    tk::Canvas canvas("KVT Measurements", "KVT Measurements", 2000, 1000, tk::Style{});
    tk::Legend legend = legendBox("Argon scan");
    canvas.DrawGraph(&graphs[5], true);
    for (int gap = 0; gap < 6; ++gap) {
      legend.AddEntry(&graphs[gap], "RE3-PK-154-GAP" + std::to_string(gap), "p");
      canvas.DrawGraph(&graphs[gap], false);
    }
    canvas.DrawLegend(legend);
    saveOrFail(state, canvas, dir.path + "/ALLcurrents" + extension);
  }
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
BENCHMARK_CAPTURE(BM_CombinedFigure, svg, std::string(".svg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CombinedFigure, pdf, std::string(".pdf"))->Unit(benchmark::kMillisecond);

}  // namespace
