// The window verdicts of the ohmic-region search from moments (judgeWindows) against
// the full refit of every window (judgeWindowsExact, the search as it was).
//
// BM_JudgeWindows/N: a gap of N points whose scatter never passes, so every window
// is judged: the cost grows linearly (O(N log N) for the shuffled HV order).
// BM_JudgeWindowsExact/N: the same with a refit per window, ~N^2/2 points read.
// BM_SameChoiceAsFullRefit: 100000 generated scans (18 to 200 points, scatter
// 1e-3 to 3, options 1 to 3, every HV order, a tenth scaled to put one window's
// chi-square on a band edge); counters: scans, differences (scans whose chosen
// window, or any verdict, differs from the full refit's; must be 0), passes,
// confirmed / confirmedOnEdge (windows near a band edge that judgeWindows refitted,
// in the ordinary / the edge-scaled scans).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "aux/WindowScan.h"

namespace {

struct Points {
  std::vector<double> x, y;
};

enum Order { kAscending, kRepeated, kJittered, kEndInside, kShuffled, kOrders };

// n points from 1000 V to 2200 V: a dark level up to the knee, then a line, with
// Gaussian scatter `sigma`, stored in the given HV order.
Points curve(std::mt19937& rng, int n, double sigma, Order order, double knee, double slope) {
  std::normal_distribution<double> noise(0.0, sigma);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Points p;
  int repeat = 0;
  double hv = 1000;
  for (int i = 0; i < n; ++i) {
    if (order != kRepeated || repeat-- <= 0) {
      hv = 1000 + 1200.0 * i / (n - 1);
      repeat = static_cast<int>(3 * unit(rng));
    }
    const double x = hv + (order == kJittered ? 2400.0 / (n - 1) * (unit(rng) - 0.5) : 0.0);
    p.x.push_back(x);
    p.y.push_back((x < knee ? 0.5 : 0.5 + slope * (x - knee)) + noise(rng));
  }
  if (order == kShuffled) {
    std::vector<std::size_t> perm(p.x.size());
    for (std::size_t i = 0; i < perm.size(); ++i) perm[i] = i;
    std::shuffle(perm.begin(), perm.end(), rng);
    Points q;
    for (std::size_t i : perm) q.x.push_back(p.x[i]), q.y.push_back(p.y[i]);
    return q;
  }
  if (order == kEndInside) {
    const std::size_t k = p.x.size() / 2 + rng() % (p.x.size() / 3);
    std::swap(p.x.back(), p.x[k]);
    std::swap(p.y.back(), p.y[k]);
  }
  return p;
}

void runJudge(benchmark::State& state, bool exact, Order order) {
  std::mt19937 rng(12345);
  const Points p = curve(rng, static_cast<int>(state.range(0)), 3.0, order, 1240.0, 0.05);
  std::size_t judged = 0;
  for (auto _ : state) {
    const auto w = exact ? judgeWindowsExact(p.x, p.y, 15, 1) : judgeWindows(p.x, p.y, 15, 1);
    judged = w.size();
    benchmark::DoNotOptimize(judged);
  }
  state.counters["windows"] = static_cast<double>(judged);
  state.SetComplexityN(state.range(0));
}

void BM_JudgeWindows(benchmark::State& state) { runJudge(state, false, kAscending); }
void BM_JudgeWindowsShuffled(benchmark::State& state) { runJudge(state, false, kShuffled); }
void BM_JudgeWindowsExact(benchmark::State& state) { runJudge(state, true, kAscending); }

// The scatter that puts the full refit's chi-square of window j on `edge`: the
// residuals of a scan scale with its scatter, the chi-square with its square.
Points onEdge(std::mt19937& rng, int n, Order order, int option, double knee, double slope) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const unsigned seed = static_cast<unsigned>(rng());
  std::mt19937 a(seed), b(seed);
  const Points probe = curve(a, n, 1.0, order, knee, slope);
  const int j = 15 + static_cast<int>(unit(rng) * (n - 18));
  const auto w = judgeWindowsExact(probe.x, probe.y, j, option);
  if (w.empty() || !w.front().determined || w.front().chi2 <= 0) return probe;
  const double ndf = w.front().ndf;
  const double edges[3][2] = {{ndf / 2.0, ndf / 0.8}, {0.07, 0.12}, {0.007, 0.02}};
  const double edge = edges[option - 1][unit(rng) < 0.5 ? 0 : 1];
  const double nudge = 1 + (unit(rng) - 0.5) * 4e-15;
  Points p = curve(b, n, std::sqrt(edge / w.front().chi2) * nudge, order, knee, slope);
  return p;
}

void BM_SameChoiceAsFullRefit(benchmark::State& state) {
  const int scans = static_cast<int>(state.range(0));
  int differences = 0, passes = 0;
  std::size_t confirmed = 0, confirmedOnEdge = 0;
  for (auto _ : state) {
    std::mt19937 rng(2026);
    std::uniform_int_distribution<int> size(18, 200);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    differences = passes = 0;
    confirmed = confirmedOnEdge = 0;
    for (int s = 0; s < scans; ++s) {
      const int n = size(rng), option = 1 + s % 3;
      const auto order = static_cast<Order>(rng() % kOrders);
      const double knee = 1100 + 600 * unit(rng), slope = 0.01 + 0.1 * unit(rng);
      const Points p = s % 10 == 0 ? onEdge(rng, n, order, option, knee, slope)
                                   : curve(rng, n, std::pow(10.0, -3 + 3.5 * unit(rng)), order, knee, slope);
      const auto fast = judgeWindows(p.x, p.y, 15, option);
      const auto full = judgeWindowsExact(p.x, p.y, 15, option);
      bool same = fast.size() == full.size();
      for (std::size_t k = 0; same && k < fast.size(); ++k) same = fast[k].good == full[k].good;
      differences += same ? 0 : 1;
      passes += !full.empty() && full.back().good;
      const auto refitted = static_cast<std::size_t>(
          std::count_if(fast.begin(), fast.end(), [](const WindowJudgement& w) { return w.exact; }));
      (s % 10 == 0 ? confirmedOnEdge : confirmed) += refitted;
    }
  }
  state.counters["scans"] = scans;
  state.counters["differences"] = differences;
  state.counters["passes"] = passes;
  state.counters["confirmed"] = static_cast<double>(confirmed);
  state.counters["confirmedOnEdge"] = static_cast<double>(confirmedOnEdge);
}

}  // namespace

BENCHMARK(BM_JudgeWindows)
    ->Arg(10000)->Arg(30000)->Arg(100000)->Arg(300000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_JudgeWindowsShuffled)
    ->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNLogN);
BENCHMARK(BM_JudgeWindowsExact)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNSquared);
BENCHMARK(BM_SameChoiceAsFullRefit)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond);
