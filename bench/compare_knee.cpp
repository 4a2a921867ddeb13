// The knee fit against the window search on the same generated gaps: how often
// each gives a resistivity, its bias, and whether its quoted error is the spread
// it shows. Then the knee fit alone on classes of gaps that strain it: scans cut
// short after the knee, a scan warming during the run (fitted with the
// temperature in the model, and with the old correction after the fit to the
// mean temperature), one gap scanned again at 16-28 C, a small exponential
// leakage on top, and pure exponentials. Prints Markdown tables.
//
//   compare_knee [gaps] [seed]      (default 200 gaps, seed 2026, as the tests)
//
// The window search runs quiet, as in a run without --verbose: what it says is
// dropped and it writes no file.
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "aux/Drawing.h"
#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

bool g_reasons = std::getenv("COMPARE_KNEE_REASONS") != nullptr;  // also list why gaps were refused

using kneecurves::Gap;
using kneecurves::Scan;

struct Tally {
  int gaps = 0;
  std::vector<double> ratio, pull;  // rho / rho_true - 1, (rho - rho_true) / sigma_rho
  void add(double rho, double sigma, double truth) {
    ratio.push_back(rho / truth - 1);
    pull.push_back((rho - truth) / sigma);
  }
};

// GSL's quantile, interpolated between the sorted values.
double quantile(std::vector<double> v, double q) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  return gsl_stats_quantile_from_sorted_data(v.data(), 1, v.size(), q);
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

// The knee fit's numbers over one class of gaps.
struct KneeTally {
  int gaps = 0;
  std::vector<double> ratio, pull, onsetPull, boundPull, dw;
  int curved = 0;
  std::map<std::string, int> reasons;  // the first words of the refusals
  void add(const KneeFit& f, double rho, double sigma, double truth, double onset) {
    dw.push_back(f.durbinWatson);
    if (!f.fitted) {
      ++reasons[f.reason.substr(0, f.reason.find_first_of("(:"))];
      return;
    }
    ratio.push_back(rho / truth - 1);
    pull.push_back((rho - truth) / sigma);
    if (std::isfinite(onset)) onsetPull.push_back((f.onset - onset) / f.onsetError);
    if (f.widthAtBound) boundPull.push_back(pull.back());
    curved += f.curved ? 1 : 0;
  }
};

double halfSpread(const std::vector<double>& v) { return 0.5 * (quantile(v, 0.84) - quantile(v, 0.16)); }

double beyond3(const std::vector<double>& v) {
  const auto n = std::count_if(v.begin(), v.end(), [](double p) { return !(std::fabs(p) <= 3); });
  return v.empty() ? std::nan("") : static_cast<double>(n) / static_cast<double>(v.size());
}

void kneeRow(const char* name, const KneeTally& t) {
  std::printf("| %-44s | %5d | %6.1f | %+8.3f %% | %6.3f | %6.3f | %6.3f | %5.1f | %4zu | %6.3f | %5.2f |\n", name,
              t.gaps, 100.0 * static_cast<double>(t.ratio.size()) / t.gaps, 100 * quantile(t.ratio, 0.5),
              halfSpread(t.pull), beyond3(t.pull), halfSpread(t.onsetPull),
              t.ratio.empty() ? 0.0 : 100.0 * t.curved / static_cast<double>(t.ratio.size()), t.boundPull.size(),
              halfSpread(t.boundPull), quantile(t.dw, 0.5));
}

KneeFit fitWithTemperature(const Scan& s, double alpha) {
  const KneeTemperature t{alpha, 20.0, s.t};
  return fitKnee(s.hv, s.j, &t);
}

// The classes of gaps, each fitted as a run would fit it.
void classTable(int gaps, unsigned seed) {
  struct Class {
    const char* name;
    Gap (*make)(std::mt19937&, int);
    int mode;  // 0 plain fit, 1 temperature in the model, 2 correction after the fit
  };
  const auto inModel = [](std::mt19937& r, int grows) { Gap g = kneecurves::randomGap(r); g.scatterGrows = grows == 1; return g; };
  const auto cutShort = [](std::mt19937& r, int grows) { Gap g = kneecurves::cutShortGap(r); g.scatterGrows = grows == 1; return g; };
  const auto warming = [](std::mt19937& r, int grows) {
    Gap g = kneecurves::randomGap(r);
    g.scatterGrows = grows == 1;
    g.t0 = 16 + 12 * std::uniform_real_distribution<double>(0, 1)(r), g.rise = 2, g.alpha = 0.1;
    return g;
  };
  const auto leaking = [](std::mt19937& r, int grows) {
    Gap g = kneecurves::randomGap(r);
    g.scatterGrows = grows == 1;
    std::uniform_real_distribution<double> u(0, 1);
    g.leak = 0.02 + 0.03 * u(r), g.leakScale = 50 + 100 * u(r);
    return g;
  };
  const auto exponential = [](std::mt19937& r, int grows) {
    Gap g = kneecurves::randomGap(r);
    g.scatterGrows = grows == 1;
    g.shape = kneecurves::Shape::Exponential;
    g.w = 30 + 570 * std::uniform_real_distribution<double>(0, 1)(r);
    return g;
  };
  const Class classes[] = {{"in model", inModel, 0},
                           {"cut short 3-12 points after V0 + w", cutShort, 0},
                           {"warming 2 C, temperature in model", warming, 1},
                           {"warming 2 C, corrected after fit", warming, 2},
                           {"leakage 2-5 % of the top current", leaking, 0},
                           {"pure exponential, scale 30-600 V", exponential, 0}};
  std::printf("\n| class | gaps | results %% | median rho/rho_true-1 | pull half-spread | |pull|>3 | onset pull half-spread | curved %% | at bound | their pull half-spread | median DW |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Class& c : classes) {
   for (int grows = 0; grows < 2; ++grows) {
    std::mt19937 rng(seed);
    KneeTally t;
    t.gaps = gaps;
    for (int k = 0; k < gaps; ++k) {
      const Gap g = c.make(rng, grows);
      const Scan s = kneecurves::generate(g, rng);
      const KneeFit f = c.mode == 1 ? fitWithTemperature(s, g.alpha) : fitKnee(s.hv, s.j);
      double rho = f.resistivity, sigma = f.resistivityError;
      if (c.mode == 1) rho = f.referenceResistivity, sigma = f.referenceResistivityError;
      if (c.mode == 2 && f.fitted) {  // rho exp(alpha (T - T0)), T the mean above the onset
        double sum = 0;
        for (std::size_t i : f.usedAboveOnset) sum += s.t[i];
        const double factor = std::exp(g.alpha * (sum / static_cast<double>(f.usedAboveOnset.size()) - 20));
        rho *= factor, sigma *= factor;
      }
      const bool ohmic = g.shape != kneecurves::Shape::Exponential;
      t.add(f, rho, sigma, ohmic ? kneecurves::rhoOf(g) : 1.0, ohmic ? g.v0 : std::nan(""));
    }
    kneeRow((std::string(c.name) + (grows == 1 ? ", growing" : ", even")).c_str(), t);
    if (g_reasons) for (const auto& [why, n] : t.reasons) std::printf("|   refused: %s | %d |\n", why.c_str(), n);
   }
  }
}

// One gap scanned again at 16, 18, ..., 28 C (each scan warming 2 C): do its
// knee_rho_ref values agree within their errors? chi2 of the seven around their
// weighted mean, per gap.
void repeatTable(int gaps, unsigned seed, int grows) {
  std::mt19937 rng(seed);
  std::vector<double> chi2PerDof, spread;
  int complete = 0, rejected = 0;
  for (int k = 0; k < gaps; ++k) {
    Gap g = kneecurves::randomGap(rng);
    g.scatterGrows = grows == 1;
    g.rise = 2, g.alpha = 0.1;
    std::vector<double> rho, err;
    for (int c = 16; c <= 28; c += 2) {
      g.t0 = c;
      const KneeFit f = fitWithTemperature(kneecurves::generate(g, rng), g.alpha);
      if (!f.fitted) continue;
      rho.push_back(f.referenceResistivity), err.push_back(f.referenceResistivityError);
    }
    if (rho.size() < 2) continue;
    complete += rho.size() == 7 ? 1 : 0;
    double sw = 0, swx = 0;
    for (std::size_t i = 0; i < rho.size(); ++i) sw += 1 / (err[i] * err[i]), swx += rho[i] / (err[i] * err[i]);
    double chi2 = 0;
    for (std::size_t i = 0; i < rho.size(); ++i) chi2 += std::pow((rho[i] - swx / sw) / err[i], 2);
    const double dof = static_cast<double>(rho.size() - 1);
    chi2PerDof.push_back(chi2 / dof);
    rejected += chi2 > dof + 3 * std::sqrt(2 * dof) ? 1 : 0;
    const auto [lo, hi] = std::minmax_element(rho.begin(), rho.end());
    spread.push_back((*hi - *lo) / kneecurves::rhoOf(g));
  }
  std::printf("\nOne gap scanned at 16, 18, ..., 28 C (warming 2 C each), %s scatter, %d gaps: all seven fitted for %d; "
              "chi2/dof of knee_rho_ref around the weighted mean: median %.3f, mean %.3f; beyond dof + 3 sd: %d; "
              "median (max - min) / rho_true %.4f\n", grows == 1 ? "growing" : "even", gaps, complete, quantile(chi2PerDof, 0.5),
              std::accumulate(chi2PerDof.begin(), chi2PerDof.end(), 0.0) / static_cast<double>(chi2PerDof.size()),
              rejected, quantile(spread, 0.5));
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
  classTable(gaps, seed);
  repeatTable(gaps / 4, seed, 0);
  repeatTable(gaps / 4, seed, 1);
  return 0;
}
