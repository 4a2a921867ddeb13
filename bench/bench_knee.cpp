// Cost of the knee fit of one gap (target: at most 2 ms in a Release build).
//
// "Realistic" cycles through 200 generated argon gaps (45-80 points, the mix the
// tests and compare_knee use), one gap per iteration. "Points" fits one
// model-shaped gap of N points from 1000 to 2300 V: the start grid's cost grows
// with N times the number of onsets tried. "Outlier" adds one point far off the
// line, so the grid and the polish run twice.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

std::vector<kneecurves::Scan> realisticGaps() {
  std::mt19937 rng(2026);
  std::vector<kneecurves::Scan> scans;
  for (int k = 0; k < 200; ++k) {
    const kneecurves::Gap g = kneecurves::randomGap(rng);
    scans.push_back(kneecurves::generate(g, rng));
  }
  return scans;
}

void BM_KneeFitRealistic(benchmark::State& state) {
  const std::vector<kneecurves::Scan> scans = realisticGaps();
  std::size_t k = 0;
  int fitted = 0;
  for (auto _ : state) {
    const kneecurves::Scan& s = scans[k++ % scans.size()];
    const KneeFit f = fitKnee(s.hv, s.j);
    fitted += f.fitted ? 1 : 0;
    benchmark::DoNotOptimize(f.resistivity);
  }
  state.counters["fitted"] = benchmark::Counter(fitted, benchmark::Counter::kAvgIterations);
}

void fitOne(benchmark::State& state, bool outlier) {
  kneecurves::Gap g;
  g.points = static_cast<int>(state.range(0));
  std::mt19937 rng(7);
  kneecurves::Scan s = kneecurves::generate(g, rng);
  if (outlier) s.j[s.j.size() * 3 / 4] += 20 * g.noise * kneecurves::shapeAt(g, g.high);
  for (auto _ : state) {
    const KneeFit f = fitKnee(s.hv, s.j);
    benchmark::DoNotOptimize(f.resistivity);
  }
  state.SetComplexityN(state.range(0));
}

void BM_KneeFitPoints(benchmark::State& state) { fitOne(state, false); }
void BM_KneeFitOutlier(benchmark::State& state) { fitOne(state, true); }

}  // namespace

BENCHMARK(BM_KneeFitRealistic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KneeFitPoints)->Arg(30)->Arg(80)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KneeFitOutlier)->Arg(80)->Unit(benchmark::kMillisecond);
