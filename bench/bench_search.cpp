// Cost of the ohmic-region search of one gap, quiet as in a run.
//
// Every window ends at the last point and starts one point later than the one
// before, and each window's fit reads all its points, so a search that finds no
// window fits ~N^2/2 points: the "Scatter" curves show that worst case, the
// "Ohmic" curves a gap whose ohmic stretch starts at a fifth of its points.
#include <benchmark/benchmark.h>

#include <random>
#include <sstream>

#include "aux/Drawing.h"

namespace {

// N points from 1000 V to 2200 V: a dark current of 0.5 nA/cm^2 up to 1240 V
// then 0.05 nA/cm^2 per V, with Gaussian scatter of `sigma` (1: a reduced
// chi-square near 1, which passes; 3: never passes).
tk::Graph curve(int n, double sigma) {
  std::mt19937 rng(12345);
  std::normal_distribution<double> noise(0.0, sigma);
  tk::Graph g;
  for (int i = 0; i < n; ++i) {
    const double hv = 1000.0 + 1200.0 * i / (n - 1);
    const double j = hv < 1240.0 ? 0.5 : 0.5 + 0.05 * (hv - 1240.0);
    g.AddPoint(hv, j + noise(rng));
  }
  return g;
}

void runSearch(benchmark::State& state, double sigma) {
  const tk::Graph shape = curve(static_cast<int>(state.range(0)), sigma);
  const OutputPlace place{processEnvironment(), "20260101", std::string("/tmp")};
  tk::Log said;  // what the search says is never printed here
  const FigureContext context{place, said, ".png"};
  bool passed = false;
  for (auto _ : state) {
    tk::Graph g = shape;
    tk::Canvas pad("KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{});
    std::pair<double, double> resistance{3000, 0}, offset{3000, 0}, onset{3000, 0};
    passed = searchOhmicRegion(g, "GAP", "scan.csv", pad, tk::Style{}, resistance, offset, onset,
                               false, context);
    benchmark::DoNotOptimize(resistance);
    said.take();
  }
  state.counters["passed"] = passed ? 1 : 0;
  state.SetComplexityN(state.range(0));
}

void BM_SearchOhmic(benchmark::State& state) { runSearch(state, 1.0); }
void BM_SearchScatter(benchmark::State& state) { runSearch(state, 3.0); }

}  // namespace

BENCHMARK(BM_SearchOhmic)->Arg(65)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_SearchScatter)->Arg(65)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
