// Where the knee fit's results beyond three errors come from on scans cut short
// 3-12 points after the knee. For each such result the same gap is scanned again
// (fresh scatter, same truth) and fitted `replicas` times; the spread of those
// resistivities is the error the result should have quoted. A result whose fit is
// sound but whose quoted error is small by chance shows a bias near 0, a quoted
// error well below the spread, and a median quoted error near it: its scan's few
// top points happen to scatter little, and no error computed from that scan alone
// can know. A fit that is off shows a bias of its own.
//
//   knee_tails [gaps] [growing 0|1] [replicas] [seed ...]   (default 600 1 400 2026)
//
// Prints a Markdown table, a row per result beyond 3 errors, then the number of
// results, their pull width and how many of those beyond 3 errors are of the
// first kind.
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

struct Spread {
  double mean = NAN, sd = NAN, medianQuoted = NAN;  // NaN with fewer than two refits fitted
  int fitted = 0;
};

// The resistivity of `g` over `replicas` fresh scans: mean, sd, median quoted error.
Spread spreadOf(const kneecurves::Gap& g, int replicas, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<double> rho, quoted;
  for (int k = 0; k < replicas; ++k) {
    const kneecurves::Scan s = kneecurves::generate(g, rng);
    const KneeFit f = fitKnee(s.hv, s.j);
    if (f.fitted) rho.push_back(f.resistivity), quoted.push_back(f.resistivityError);
  }
  Spread out;
  out.fitted = static_cast<int>(rho.size());
  if (rho.size() < 2) return out;
  out.mean = out.sd = 0;
  for (double r : rho) out.mean += r / static_cast<double>(rho.size());
  for (double r : rho) out.sd += (r - out.mean) * (r - out.mean) / static_cast<double>(rho.size() - 1);
  out.sd = std::sqrt(out.sd);
  std::nth_element(quoted.begin(), quoted.begin() + static_cast<std::ptrdiff_t>(quoted.size() / 2), quoted.end());
  out.medianQuoted = quoted[quoted.size() / 2];
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int gaps = argc > 1 ? std::atoi(argv[1]) : 600;
  const bool growing = argc > 2 ? std::atoi(argv[2]) == 1 : true;
  const int replicas = argc > 3 ? std::atoi(argv[3]) : 400;
  std::vector<unsigned> seeds;
  for (int a = 4; a < argc; ++a) seeds.push_back(static_cast<unsigned>(std::strtoul(argv[a], nullptr, 10)));
  if (seeds.empty()) seeds.push_back(2026u);
  std::printf("| seed | gap | pull | pull against the true spread | bias / spread | quoted / spread | median quoted / spread "
              "| replicas fitted %% | points above V0 + w |\n|---|---|---|---|---|---|---|---|---|\n");
  std::vector<double> pulls;
  int wide = 0, smallByChance = 0;
  for (const unsigned seed : seeds) {
    std::mt19937 rng(seed);
    for (int k = 0; k < gaps; ++k) {
      kneecurves::Gap g = kneecurves::cutShortGap(rng);
      g.scatterGrows = growing;
      const kneecurves::Scan s = kneecurves::generate(g, rng);
      const KneeFit f = fitKnee(s.hv, s.j);
      if (!f.fitted) continue;
      const double truth = kneecurves::rhoOf(g), pull = (f.resistivity - truth) / f.resistivityError;
      pulls.push_back(pull);
      if (std::fabs(pull) <= 3) continue;
      ++wide;
      const Spread sp = spreadOf(g, replicas, seed * 7919u + static_cast<unsigned>(k));
      const int above = static_cast<int>(std::count_if(s.hv.begin(), s.hv.end(), [&](double v) { return v > g.v0 + g.w; }));
      const double bias = (sp.mean - truth) / sp.sd, quoted = f.resistivityError / sp.sd;
      smallByChance += std::fabs(bias) < 0.5 && quoted < 0.75 && sp.medianQuoted / sp.sd > 0.75 ? 1 : 0;
      std::printf("| %u | %d | %+.2f | %+.2f | %+.2f | %.2f | %.2f | %.0f | %d |\n", seed, k, pull, (f.resistivity - truth) / sp.sd,
                  bias, quoted, sp.medianQuoted / sp.sd, 100.0 * sp.fitted / replicas, above);
    }
  }
  std::sort(pulls.begin(), pulls.end());
  const double width = 0.5 * (gsl_stats_quantile_from_sorted_data(pulls.data(), 1, pulls.size(), 0.84) -
                              gsl_stats_quantile_from_sorted_data(pulls.data(), 1, pulls.size(), 0.16));
  std::printf("\n%zu results, pull width %.3f (half the 16-84 %% range), %d beyond 3 errors; of those, %d with "
              "|bias| < 0.5 spread and a quoted error below 0.75 of the spread, while the median quoted error is above that\n",
              pulls.size(), width, wide, smallByChance);
  return 0;
}
