// The campaign's own temperature coefficient and the gaps' drifts, measured on
// generated campaigns: realistic knee-shaped argon gaps (tests/KneeCurves.h)
// whose resistivity follows rho_ref exp(-0.10 (T - 20)), each scan fitted by the
// knee fit (its own errors, as a run gives them), the knee results (rho at the
// mean temperature of the points above the knee) fitted by fitCampaign.
//
//   campaign_alpha [seeds] [first seed]      (default 100 seeds from 1)
//
// Campaigns:
//   alpha   30 gaps x 6 monthly scans, each scan at 16-28 C (uniform), no drift;
//           the knee fit without a temperature model, the scan's temperature
//           steady (+-0.1 C).
//   warming the same, each scan warming by 0-2 C while it runs, the knee fit with
//           a coefficient 30 % off (0.07) in its model.
//   drift   30 gaps x 4 monthly scans while the season warms (16 C in the first
//           month to 28 C in the fourth, +-2 C), 5 gaps ageing +10 % a month.
// Prints one Markdown table of the campaigns' numbers over the seeds.
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "aux/CampaignFit.h"
#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

constexpr double kAlpha = 0.10;
constexpr double kPerMonth = 10.0;  // the ageing gaps' drift, percent

struct Kind {
  const char* name;
  int scans;
  bool warming;   // scans warm 0-2 C, fitted with the coefficient 0.07 in the model
  bool seasonal;  // the season warms with the months, 5 gaps age
};

struct Totals {
  std::vector<double> alpha, pull, chi2ndf, agreement;
  int withinTolerance = 0, within3Sigma = 0, scaled = 0, fits = 0, seeds = 0;
  int knee = 0, scansTried = 0;
  int steady = 0, falseAlarms = 0, ageing = 0, found = 0;
  std::vector<double> driftPull;
};

// GSL's quantile, interpolated between the sorted values.
double quantile(std::vector<double> v, double q) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  return gsl_stats_quantile_from_sorted_data(v.data(), 1, v.size(), q);
}

double halfSpread(const std::vector<double>& v) { return 0.5 * (quantile(v, 0.84) - quantile(v, 0.16)); }

// One scan of `gap` on `day` at `celsius`; its knee result as a record, or false.
bool scanRecord(kneecurves::Gap gap, int gapIndex, double day, double celsius, const Kind& kind, std::mt19937& rng,
                CampaignRecord& out) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  gap.alpha = kAlpha;
  gap.rise = kind.warming ? 2.0 * u(rng) : 0.0;
  gap.t0 = celsius - gap.rise / 2;
  kneecurves::Scan scan = kneecurves::generate(gap, rng);
  if (!kind.warming) {
    for (double& t : scan.t) t += 0.1 * (2 * u(rng) - 1);
  }
  const KneeTemperature guess{0.07, 20.0, scan.t};
  const KneeFit k = fitKnee(scan.hv, scan.j, kind.warming ? &guess : nullptr);
  if (!k.fitted || k.usedAboveOnset.empty()) return false;
  double sum = 0;
  for (const std::size_t i : k.usedAboveOnset) sum += scan.t[i];
  out = {"GAP-" + std::to_string(gapIndex), "d" + std::to_string(day), day,
         sum / static_cast<double>(k.usedAboveOnset.size()), std::log(k.resistivity),
         k.resistivityError / k.resistivity};
  return true;
}

void campaign(const Kind& kind, unsigned seed, Totals& t) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<CampaignRecord> records;
  const int gaps = 30, ageing = kind.seasonal ? 5 : 0;
  for (int g = 0; g < gaps; ++g) {
    const kneecurves::Gap gap = kneecurves::randomGap(rng);
    for (int s = 0; s < kind.scans; ++s) {
      const double day = kDaysPerMonth * s + 6 * u(rng) - 3;
      const double celsius = kind.seasonal ? std::clamp(16 + 4.0 * s + 4 * u(rng) - 2, 16.0, 28.0) : 16 + 12 * u(rng);
      kneecurves::Gap aged = gap;
      if (g < ageing) aged.s /= std::pow(1 + kPerMonth / 100, day / kDaysPerMonth);  // rho grows
      CampaignRecord r;
      ++t.scansTried;
      if (scanRecord(aged, g, day, celsius, kind, rng, r)) records.push_back(r), ++t.knee;
    }
  }
  const CampaignFit fit = fitCampaign(records, {});
  ++t.seeds;
  const AlphaFit& a = fit.alphaFit;
  if (a.state == AlphaState::fitted) {
    ++t.fits;
    t.alpha.push_back(a.alpha);
    t.pull.push_back((a.alpha - kAlpha) / a.error);
    t.chi2ndf.push_back(a.chi2 / static_cast<double>(a.ndf));
    t.withinTolerance += std::fabs(a.alpha - kAlpha) <= 0.005;
    t.within3Sigma += std::fabs(a.alpha - kAlpha) <= 3 * a.error;
    t.scaled += a.errorScaled;
  }
  double chi2 = 0, ndf = 0;
  for (const GapDrift& d : fit.drifts) {
    const bool aged = std::stoi(d.gap.substr(4)) < ageing;
    if (!aged) chi2 += d.constantChi2, ndf += d.constantNdf;
    if (!d.fitted) continue;
    if (aged) {
      ++t.ageing, t.found += d.drifting;
      t.driftPull.push_back((d.perMonth - kPerMonth) / d.perMonthError);
    } else {
      ++t.steady, t.falseAlarms += d.drifting;
    }
  }
  t.agreement.push_back(chi2 / ndf);
}

void print(const Kind& kind, const Totals& t) {
  const double fits = std::max(t.fits, 1);
  std::printf("| %s | %d | %.1f %% | %d/%d | %+.5f | %.5f | %.5f | %.1f %% | %.1f %% | %.2f | %.2f | %.0f %% | %.2f / %.2f | %d/%d | ",
              kind.name, t.seeds, 100.0 * t.knee / t.scansTried, t.fits, t.seeds, quantile(t.alpha, 0.5) - kAlpha,
              halfSpread(t.alpha), std::max(std::fabs(quantile(t.alpha, 0) - kAlpha), std::fabs(quantile(t.alpha, 1) - kAlpha)),
              100.0 * t.withinTolerance / fits, 100.0 * t.within3Sigma / fits, halfSpread(t.pull),
              quantile(t.chi2ndf, 0.5), 100.0 * t.scaled / fits, quantile(t.agreement, 0.5), quantile(t.agreement, 1),
              t.falseAlarms, t.steady);
  if (t.ageing > 0) {
    std::printf("%d/%d | %.2f |\n", t.found, t.ageing, halfSpread(t.driftPull));
  } else {
    std::printf("- | - |\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 100;
  const unsigned first = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  const Kind kinds[] = {{"alpha", 6, false, false}, {"warming", 6, true, false}, {"drift", 4, false, true}};
  std::printf("| campaign | seeds | knee results | alpha fitted | median alpha - 0.10 | 68 %% half-spread | "
              "worst abs(alpha - 0.10) | within 0.005 | within 3 sigma | alpha pull width | median chi2/ndf | "
              "sigma scaled | rho_ref agreement chi2/ndf median / worst | false DRIFT | ageing gaps DRIFT | "
              "drift pull width |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Kind& kind : kinds) {
    Totals t;
    for (int s = 0; s < seeds; ++s) campaign(kind, first + static_cast<unsigned>(s), t);
    print(kind, t);
  }
  return 0;
}
