// The smooth-knee fit on generated gaps of known resistivity: which curves give a
// result and how close it is, why the others give none, and whether the quoted
// errors are honest over many gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "aux/KneeFit.h"
#include "tests/KneeCurves.h"

namespace {

using kneecurves::Gap;
using kneecurves::Scan;
using kneecurves::Shape;

Gap gap(Shape shape, double s, double v0, double w, double noise) {
  Gap g;
  g.shape = shape, g.s = s, g.v0 = v0, g.w = w, g.noise = noise;
  return g;
}

Gap many(Gap g, int points) {
  g.points = points;
  return g;
}

// The scan of `g` from `seed`, highest HV first when `descending`, with the point
// `outlier` (if >= 0) raised by `jump` nA/cm^2.
Scan scanOf(const Gap& g, unsigned seed, bool descending, int outlier = -1, double jump = 0) {
  std::mt19937 rng(seed);
  Scan s = kneecurves::generate(g, rng);
  if (outlier >= 0) s.j[static_cast<std::size_t>(outlier)] += jump;
  if (descending) {
    std::reverse(s.hv.begin(), s.hv.end());
    std::reverse(s.j.begin(), s.j.end());
  }
  return s;
}

int linesWith(const KneeFit& f, const std::string& part, bool atStart) {
  return static_cast<int>(std::count_if(f.trace.begin(), f.trace.end(), [&](const std::string& l) {
    return atStart ? l.rfind(part, 0) == 0 : l.find(part) != std::string::npos;
  }));
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const auto i = static_cast<std::size_t>(at);
  return i + 1 < v.size() ? v[i] + (at - static_cast<double>(i)) * (v[i + 1] - v[i]) : v[i];
}

}  // namespace

// Curves with an ohmic stretch, of the model's own shape and of two others, give
// the resistivity within its error, and the same result to the last bit whatever
// order the points come in.
TEST(KneeFit, FindsTheResistivityOfOhmicCurvesInAnyOrder) {
  struct Case {
    const char* name;
    Gap g;
    unsigned seed;
    bool descending;
    int outlier;  // index of a point raised by 20 noise widths, or -1
    int held;     // expected widthHeld: 0, 1, or -1 for either
  };
  const Case cases[] = {
      {"softplus", gap(Shape::Softplus, 0.05, 1700, 10, 0.02), 11, true, -1, 0},
      {"softplus wide knee, 1e10", gap(Shape::Softplus, 0.25, 1600, 40, 0.01), 12, false, -1, 0},
      {"softplus faint, 5e11", gap(Shape::Softplus, 0.005, 1850, 15, 0.03), 13, true, -1, -1},
      {"sharp hinge", gap(Shape::Hinge, 0.02, 1750, 0, 0.02), 14, true, -1, -1},
      {"gaussian knee", gap(Shape::GaussKnee, 0.08, 1650, 25, 0.02), 15, true, -1, 0},
      {"outlier", gap(Shape::Softplus, 0.05, 1700, 10, 0.02), 16, true, 50, -1},
      // Beyond 20000 points the start grid runs on a thinning of them.
      {"many points", many(gap(Shape::Softplus, 0.05, 1703, 7, 0.02), 45001), 17, true, -1, 0},
      {"many points, outlier", many(gap(Shape::GaussKnee, 0.08, 1648, 25, 0.02), 26001), 18, false, 20000, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double sigma = c.g.noise * kneecurves::shapeAt(c.g, c.g.high), rho = kneecurves::rhoOf(c.g);
    const Scan s = scanOf(c.g, c.seed, c.descending, c.outlier, 20 * sigma);
    const KneeFit f = fitKnee(s.hv, s.j);
    ASSERT_TRUE(f.fitted) << f.reason;
    EXPECT_TRUE(f.reason.empty()) << f.reason;
    EXPECT_LT(std::fabs(f.resistivity - rho), 3.5 * f.resistivityError);
    EXPECT_LT(f.resistivityError, 0.05 * rho);
    EXPECT_LT(std::fabs(f.onset - c.g.v0), 4 * f.onsetError + 10);
    EXPECT_EQ(f.dropped, c.outlier >= 0 ? 1 : 0);
    EXPECT_EQ(f.points, c.g.points - f.dropped);
    EXPECT_NEAR(f.noise, sigma, 0.3 * sigma);
    EXPECT_GE(f.durbinWatson, 1.0);
    EXPECT_TRUE(c.held < 0 || f.widthHeld == (c.held == 1));
    EXPECT_TRUE(f.widthLow <= f.width && f.width <= f.widthHigh) << f.widthLow << " " << f.widthHigh;
    EXPECT_FALSE(f.curved) << f.curvature;
    // The trace names the point dropped, then shows the refit.
    EXPECT_EQ(linesWith(f, "; dropped HV 2000 V (residual ", false), c.outlier >= 0 ? 1 : 0);
    EXPECT_EQ(linesWith(f, "grid start: ", true), c.outlier >= 0 ? 2 : 1);

    std::vector<std::size_t> order(s.hv.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(c.seed));
    Scan t;
    for (std::size_t i : order) t.hv.push_back(s.hv[i]), t.j.push_back(s.j[i]);
    const KneeFit b = fitKnee(t.hv, t.j);
    EXPECT_TRUE(f.resistivity == b.resistivity && f.resistivityError == b.resistivityError && f.onset == b.onset &&
                f.durbinWatson == b.durbinWatson && f.trace == b.trace);
    // The indices point into the input as given: the kept points above the onset.
    using Fitted = std::pair<const Scan*, const KneeFit*>;
    for (const auto& [scan, fit] : {Fitted{&s, &f}, Fitted{&t, &b}}) {
      const std::set<std::size_t> above(fit->usedAboveOnset.begin(), fit->usedAboveOnset.end());
      EXPECT_EQ(above.size(), fit->usedAboveOnset.size());
      for (std::size_t i = 0; i < scan->hv.size(); ++i) {
        const bool outlier =
            c.outlier >= 0 && scan->hv[i] == c.g.low + (c.g.high - c.g.low) * c.outlier / (c.g.points - 1);
        EXPECT_EQ(above.count(i) == 1, scan->hv[i] > f.onset && !outlier) << i;
      }
    }
  }
}

// Curves without an ohmic stretch, or with too little of one, give no result and
// name the first test they fail; so does input the fit cannot look at, before any fitting.
TEST(KneeFit, RefusesCurvesWithoutAnOhmicStretch) {
  Gap cut = gap(Shape::Softplus, 0.05, 1700, 10, 0.01);  // ends three 20 V steps past V0 + w
  cut.points = 39, cut.high = 1000 + 20 * 38;
  Gap late = gap(Shape::Softplus, 0.05, 1700, 10, 0.01);  // two points before V0 - w
  late.low = 1670, late.points = 32, late.high = 1670 + 20 * 31;
  const std::pair<Gap, std::string> cases[] = {  // the reason up to its end or an ellipsis
      {gap(Shape::Softplus, 1e-9, 1700, 10, 0.02), "slope not significant (s/sigma "},
      {cut, "too few points above the knee (3, needs 5)"},
      {late, "too few points below the knee (2, needs 3)"},
      {gap(Shape::Exponential, 0.05, 1800, 800, 0.01), "residuals not random (Durbin-Watson 0."},
  };
  for (const auto& [g, reason] : cases) {
    const Scan s = scanOf(g, 21, true);
    const KneeFit f = fitKnee(s.hv, s.j);
    EXPECT_FALSE(f.fitted);
    EXPECT_EQ(f.reason.substr(0, reason.size()), reason) << f.reason;
    for (double v : {f.offset, f.slope, f.slopeError, f.onset, f.width, f.resistivity, f.resistivityError}) {
      EXPECT_TRUE(std::isnan(v)) << reason;
    }
    EXPECT_TRUE(f.usedAboveOnset.empty());
    EXPECT_EQ(f.points, g.points);  // the diagnostics stay
    EXPECT_EQ(linesWith(f, "test slope: ", true), 1);
    EXPECT_TRUE(&g != &cases[1].first || f.durbinWatson < 3.0) << f.durbinWatson;
  }

  std::vector<double> ten(10), tenJ(10, 1.0);
  for (int i = 0; i < 10; ++i) ten[static_cast<std::size_t>(i)] = 1000 + 100 * i;
  std::vector<double> withNan = tenJ;
  withNan[3] = std::nan("");
  const std::tuple<std::vector<double>, std::vector<double>, std::string> bad[] = {
      {std::vector<double>(ten.begin(), ten.begin() + 9), std::vector<double>(9, 1.0), "too few points (9, needs 10)"},
      {{}, {}, "too few points (0, needs 10)"},
      {std::vector<double>(12, 1500.0), std::vector<double>(12, 1.0), "all points at one HV"},
      {ten, withNan, "point 3 has a value that is not a finite number"},
      {ten, std::vector<double>(11, 1.0), "hv and current differ in length (10 and 11)"},
      {{1000, 1000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000}, tenJ,
       "no start value (HV range too narrow for a knee)"},
  };
  for (const auto& [hv, j, reason] : bad) {
    const KneeFit f = fitKnee(hv, j);
    EXPECT_FALSE(f.fitted);
    EXPECT_EQ(f.reason, reason);
    EXPECT_TRUE(std::isnan(f.resistivity));
  }
}

// With ten points an outlier cannot be dropped: nine would not make a fit.
TEST(KneeFit, KeepsAnOutlierWhenTooFewPointsWouldRemain) {
  const KneeFit f = fitKnee({1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900},
                            {0.2, 0.21, 0.19, 0.2, 30, 0.2, 5.2, 10.1, 15.2, 19.9});
  EXPECT_EQ(f.dropped, 0);
  EXPECT_EQ(f.points, 10);
  EXPECT_EQ(linesWith(f, "outlier pass: ", true), 1) << f.reason;
  EXPECT_EQ(linesWith(f, "none dropped (too few would remain)", false), 1);
}

// Over 200 realistic gaps the fit almost always gives a result, its resistivity
// is unbiased and its errors are the spread it shows, also when the scatter
// grows with the current (errors from one residual variance would be too small).
TEST(KneeFit, ErrorsAreHonestOverManyGaps) {
  for (const bool grows : {false, true}) {
    SCOPED_TRACE(grows ? "scatter growing with the current" : "even scatter");
    std::mt19937 rng(2026);
    std::vector<double> ratio, pull;
    int curved = 0;
    for (int k = 0; k < 200; ++k) {
      Gap g = kneecurves::randomGap(rng);
      g.scatterGrows = grows;
      const Scan s = kneecurves::generate(g, rng);
      const KneeFit f = fitKnee(s.hv, s.j);
      if (!f.fitted) continue;
      curved += f.curved ? 1 : 0;
      ratio.push_back(f.resistivity / kneecurves::rhoOf(g) - 1);
      pull.push_back((f.resistivity - kneecurves::rhoOf(g)) / f.resistivityError);
    }
    EXPECT_GE(ratio.size(), 196u);
    EXPECT_LT(std::fabs(quantile(ratio, 0.5)), 0.005);
    const double spread = 0.5 * (quantile(pull, 0.84) - quantile(pull, 0.16));
    EXPECT_GT(spread, 0.8);
    // Growing scatter: errors from one residual variance give 2.1; dropping the
    // top points as outliers against the level's scatter gave 1.34.
    EXPECT_LT(spread, 1.2);
    EXPECT_LE(curved, 6);  // the curvature flag on at most 3 %
  }
}

// Scans that stop a few points after the knee, whose width collapses to its
// bound: the width's set widens the errors or the knee has too few points
// above it. Without the set these were 3.3 and 4.2 errors off.
TEST(KneeFit, ACollapsedWidthIsNotTrustedMoreThanThePointsAllow) {
  for (const unsigned seed : {1118u, 1228u}) {
    std::mt19937 rng(seed);
    const Gap g = kneecurves::cutShortGap(rng);
    const Scan s = kneecurves::generate(g, rng);
    const KneeFit f = fitKnee(s.hv, s.j);
    SCOPED_TRACE(seed);
    EXPECT_TRUE(f.fitted || f.reason.rfind("too few points above the knee", 0) == 0) << f.reason;
    if (!f.fitted) continue;
    EXPECT_TRUE(f.widthAtBound);
    EXPECT_GT(f.widthHigh, 3.0);
    EXPECT_LT(std::fabs(f.resistivity - kneecurves::rhoOf(g)), 3 * f.resistivityError);
  }
}

// Scans cut short after the knee with scatter that grows with the current: the
// width's set must come from the residual sum weighted by that scatter. Counted
// in the low points' small scatter, a change at the top points looked large and
// the "68 %" set held the true width for 50 % of these gaps (now 58 %), with
// 4.8 % of the results beyond 3 errors (now 3.5 %).
TEST(KneeFit, TheWidthsSetWeighsScatterThatGrowsWithTheCurrent) {
  std::mt19937 rng(2026);
  int results = 0, covered = 0, wide = 0;
  for (int k = 0; k < 300; ++k) {
    Gap g = kneecurves::cutShortGap(rng);
    g.scatterGrows = true;
    const Scan s = kneecurves::generate(g, rng);
    const KneeFit f = fitKnee(s.hv, s.j);
    if (!f.fitted) continue;
    ++results;
    covered += f.widthLow <= g.w && g.w <= f.widthHigh ? 1 : 0;
    wide += std::fabs(f.resistivity - kneecurves::rhoOf(g)) > 3 * f.resistivityError ? 1 : 0;
  }
  ASSERT_GE(results, 200);
  EXPECT_GE(covered, 0.55 * results) << covered << " of " << results;
  EXPECT_LE(wide, 0.04 * results) << wide << " of " << results;
}

// A scan warming (or cooling) while it runs, fitted with the temperature in the
// model: rho at the reference temperature is unbiased with honest errors, and
// rho is the same resistivity at the mean temperature of the points above V0.
TEST(KneeFit, TemperatureInTheModelFollowsADriftingScan) {
  struct Case {
    double t0, rise, alpha;
  };
  for (const Case& c : {Case{16, 2, 0.1}, Case{28, 2, 0.1}, Case{22, -2, 0.1}, Case{20, 3, 0.05}}) {
    SCOPED_TRACE(std::to_string(c.t0) + " C, rise " + std::to_string(c.rise));
    std::mt19937 rng(7);
    std::vector<double> ratio, pull;
    for (int k = 0; k < 40; ++k) {
      Gap g = kneecurves::randomGap(rng);
      g.t0 = c.t0, g.rise = c.rise, g.alpha = c.alpha;
      const Scan s = kneecurves::generate(g, rng);
      const KneeTemperature t{c.alpha, 20.0, s.t};
      const KneeFit f = fitKnee(s.hv, s.j, &t);
      ASSERT_TRUE(f.fitted) << f.reason;
      ratio.push_back(f.referenceResistivity / kneecurves::rhoOf(g) - 1);
      pull.push_back((f.referenceResistivity - kneecurves::rhoOf(g)) / f.referenceResistivityError);
      EXPECT_NEAR(f.resistivity, f.referenceResistivity * std::exp(-c.alpha * (f.meanTemperature - 20)),
                  1e-9 * f.resistivity);
    }
    // 40 gaps: the median pull scatters by 0.2; a correction after the fit is 4 errors off.
    EXPECT_LT(std::fabs(quantile(pull, 0.5)), 0.6);
    EXPECT_LT(std::fabs(quantile(ratio, 0.5)), 0.02);
    EXPECT_LT(0.5 * (quantile(pull, 0.84) - quantile(pull, 0.16)), 1.3);
  }
}
