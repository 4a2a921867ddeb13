// The knee fit against the window search on the same generated gaps: how often
// each gives a resistivity, its bias, and whether its quoted error is the spread
// it shows. Prints a Markdown table on standard output.
//
//   compare_knee [gaps] [seed]      (default 200 gaps, seed 2026, as the tests)
//
// The window search runs quiet, as in a run without --verbose: what it says is
// dropped and it writes no file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "aux/Drawing.h"
#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

struct Tally {
  int gaps = 0;
  std::vector<double> ratio, pull;  // rho / rho_true - 1, (rho - rho_true) / sigma_rho
  void add(double rho, double sigma, double truth) {
    ratio.push_back(rho / truth - 1);
    pull.push_back((rho - truth) / sigma);
  }
};

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const auto i = static_cast<std::size_t>(at);
  return i + 1 < v.size() ? v[i] + (at - static_cast<double>(i)) * (v[i + 1] - v[i]) : v[i];
}

void row(const char* method, const Tally& t) {
  const auto wide = std::count_if(t.pull.begin(), t.pull.end(), [](double p) { return !(std::fabs(p) <= 3); });
  std::printf("| %-13s | %6.1f | %+8.4f %% | %6.3f | %6.3f |\n", method,
              100.0 * static_cast<double>(t.ratio.size()) / t.gaps, 100 * quantile(t.ratio, 0.5),
              0.5 * (quantile(t.pull, 0.84) - quantile(t.pull, 0.16)),
              t.pull.empty() ? std::nan("") : static_cast<double>(wide) / static_cast<double>(t.pull.size()));
}

// The window search of one gap, quiet; true with (rho, sigma_rho) when it passed.
bool windowSearch(const kneecurves::Scan& s, const FigureContext& context, std::pair<double, double>& rho) {
  tk::Graph g;
  for (std::size_t i = 0; i < s.hv.size(); ++i) g.AddPoint(s.hv[i], s.j[i]);
  tk::Canvas pad("KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{});
  std::pair<double, double> offset{0, 0}, onset{0, 0};
  return searchOhmicRegion(g, "GAP", "scan.csv", pad, tk::Style{}, rho, offset, onset, false, context);
}

}  // namespace

int main(int argc, char** argv) {
  const int gaps = argc > 1 ? std::atoi(argv[1]) : 200;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 2026u;
  const OutputPlace place{processEnvironment(), "20260101", std::string("/tmp")};
  tk::Log said;  // what the search says is never printed here
  const FigureContext context{place, said, ".png"};

  std::mt19937 rng(seed);
  Tally knee, window;
  knee.gaps = window.gaps = gaps;
  for (int k = 0; k < gaps; ++k) {
    const kneecurves::Gap g = kneecurves::randomGap(rng);
    const kneecurves::Scan s = kneecurves::generate(g, rng);
    const double truth = kneecurves::rhoOf(g);
    const KneeFit f = fitKnee(s.hv, s.j);
    if (f.fitted) knee.add(f.resistivity, f.resistivityError, truth);
    std::pair<double, double> rho{0, 0};
    if (windowSearch(s, context, rho)) window.add(rho.first, rho.second, truth);
    said.take();
  }
  std::printf("%d generated gaps, seed %u\n\n", gaps, seed);
  std::printf("| method        | results %% | median rho/rho_true-1 | 16-84%% half-spread of pull | fraction |pull|>3 |\n");
  std::printf("|---|---|---|---|---|\n");
  row("knee fit", knee);
  row("window search", window);
  return 0;
}
