// Two campaigns compared against each other (compareCampaigns), measured on
// generated campaigns: realistic knee-shaped argon gaps (tests/KneeCurves.h)
// whose resistivity follows rho_ref exp(-0.10 (T - 20)), each scan fitted by the
// knee fit (its own errors, as a run gives them) and referred to 20 C, some gaps
// changed by a known amount between the baseline and now.
//
//   baseline_rates [seeds] [first seed]      (default 200 seeds from 1)
//
// Each seed: 60 gaps, 40 unchanged, 5 each changed by -20, -5, +5 and +20 %;
// every scan at 18-26 C (uniform). Cases:
//   one each     one scan a gap on each side, alpha 0.10 as given (exact)
//   three each   three scans a gap on each side, combined by their weighted mean
//   alpha fitted one scan each, alpha drawn from N(0.10, 0.005) once a seed (a
//                campaign's own alpha and its error), the error passed on
//   alpha 30 % off  one scan each, alpha 0.07 given as if exact: what a wrong
//                coefficient does to the false flags
// Prints one Markdown table: false flags among unchanged gaps, the width of their
// pulls (sigma; 1 for honest errors) and the share of each real change flagged.
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "aux/BaselineCompare.h"
#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

constexpr double kAlpha = 0.10;
constexpr int kGaps = 60;
const double kChanges[] = {-20, -5, 5, 20};  // percent, five gaps each after the unchanged ones

struct Case {
  const char* name;
  int scans;         // a gap's scans on each side
  double alphaSpread;  // sigma of the alpha used about the true one, passed on as its error
  double alphaUsed;  // 0: the true one (or drawn); else this one, taken as exact
};

struct Totals {
  long unchanged = 0, falseFlags = 0, fits = 0, tried = 0;
  std::vector<double> pulls;
  long changed[4] = {}, found[4] = {};
};

// The true change of gap g, percent.
double trueChange(int g) { return g < 40 ? 0.0 : kChanges[(g - 40) / 5]; }

// One scan of `gap` at a random temperature, referred to 20 C with `alpha`; false
// when the knee fit has no result.
bool scanReference(const kneecurves::Gap& gap, double alpha, std::mt19937& rng, GapReference& out) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  kneecurves::Gap g = gap;
  g.alpha = kAlpha;
  g.t0 = 18 + 8 * u(rng);
  kneecurves::Scan scan = kneecurves::generate(g, rng);
  for (double& t : scan.t) t += 0.1 * (2 * u(rng) - 1);
  const KneeFit k = fitKnee(scan.hv, scan.j, nullptr);
  if (!k.fitted || k.usedAboveOnset.empty() || !(k.resistivity > 0)) return false;
  double sum = 0;
  for (const std::size_t i : k.usedAboveOnset) sum += scan.t[i];
  const double celsius = sum / static_cast<double>(k.usedAboveOnset.size());
  out.lnRhoRef = std::log(k.resistivity) + alpha * (celsius - 20);
  out.lnError = k.resistivityError / k.resistivity;
  out.temperature = celsius;
  return true;
}

void campaign(const Case& c, unsigned seed, Totals& t) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> unit(0.0, 1.0);
  const double alpha = c.alphaUsed > 0 ? c.alphaUsed : kAlpha + c.alphaSpread * unit(rng);
  std::vector<GapReference> before, now;
  for (int g = 0; g < kGaps; ++g) {
    kneecurves::Gap gap = kneecurves::randomGap(rng);
    for (int side = 0; side < 2; ++side) {
      if (side == 1) gap.s /= 1 + trueChange(g) / 100;  // rho = 1 / (length s)
      for (int s = 0; s < c.scans; ++s) {
        GapReference r;
        r.gap = "GAP-" + std::to_string(g);
        ++t.tried;
        if (!scanReference(gap, alpha, rng, r)) continue;
        ++t.fits;
        (side == 0 ? before : now).push_back(r);
      }
    }
  }
  const BaselineComparison cmp = compareCampaigns(before, now, c.alphaSpread);
  for (const BaselineChange& ch : cmp.changes) {
    const int g = std::stoi(ch.gap.substr(4));
    if (g < 40) {
      ++t.unchanged, t.falseFlags += ch.flagged;
      t.pulls.push_back(ch.sigma);
    } else {
      const int k = (g - 40) / 5;
      ++t.changed[k], t.found[k] += ch.flagged;
    }
  }
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  return gsl_stats_quantile_from_sorted_data(v.data(), 1, v.size(), q);
}

void print(const Case& c, int seeds, const Totals& t) {
  const double width = 0.5 * (quantile(t.pulls, 0.84) - quantile(t.pulls, 0.16));
  std::printf("| %s | %d | %.1f %% | %ld | %ld (%.2f %%) | %.2f | %.2f |", c.name, seeds, 100.0 * t.fits / t.tried,
              t.unchanged, t.falseFlags, 100.0 * t.falseFlags / std::max(t.unchanged, 1L), width,
              gsl_stats_sd(t.pulls.data(), 1, t.pulls.size()));
  for (int k = 0; k < 4; ++k) std::printf(" %.1f %% |", 100.0 * t.found[k] / std::max(t.changed[k], 1L));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 200;
  const unsigned first = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  const Case cases[] = {{"one each", 1, 0.0, 0.0}, {"three each", 3, 0.0, 0.0}, {"alpha fitted (+-0.005)", 1, 0.005, 0.0},
                        {"alpha 30 % off (0.07)", 1, 0.0, 0.07}};
  std::printf("| case | seeds | knee results | unchanged gaps | false flags | pull 68 %% half-width | pull sd | "
              "-20 %% flagged | -5 %% flagged | +5 %% flagged | +20 %% flagged |\n"
              "|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Case& c : cases) {
    Totals t;
    for (int s = 0; s < seeds; ++s) campaign(c, first + static_cast<unsigned>(s), t);
    print(c, seeds, t);
  }
  return 0;
}
