// The smooth-knee fit on generated gaps of known resistivity: which curves give a
// result and how close it is, why the others give none, and whether the quoted
// errors are honest over many gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
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

bool hasLine(const KneeFit& f, const std::string& start) {
  return std::any_of(f.trace.begin(), f.trace.end(),
                     [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const auto i = static_cast<std::size_t>(at);
  return i + 1 < v.size() ? v[i] + (at - static_cast<double>(i)) * (v[i + 1] - v[i]) : v[i];
}

}  // namespace

// Curves with an ohmic stretch, of the model's own shape and of two others, give
// the resistivity within its error, whatever order the points come in.
TEST(KneeFit, FindsTheResistivityOfOhmicCurves) {
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Scan s = scanOf(c.g, c.seed, c.descending, c.outlier,
                          20 * c.g.noise * kneecurves::shapeAt(c.g, c.g.high));
    const KneeFit f = fitKnee(s.hv, s.j);
    ASSERT_TRUE(f.fitted) << f.reason;
    EXPECT_EQ(f.reason, "fitted");
    const double rho = kneecurves::rhoOf(c.g);
    EXPECT_LT(std::fabs(f.resistivity - rho), 3.5 * f.resistivityError);
    EXPECT_LT(f.resistivityError, 0.05 * rho);
    EXPECT_NEAR(f.resistivity, 2.5e9 / f.slope, 1e-9 * rho);
    EXPECT_NEAR(f.resistivityError, 2.5e9 * f.slopeError / (f.slope * f.slope), 1e-9 * rho);
    EXPECT_LT(std::fabs(f.onset - c.g.v0), 4 * f.onsetError + 10);
    EXPECT_EQ(f.dropped, c.outlier >= 0 ? 1 : 0);
    EXPECT_EQ(f.points, c.g.points - f.dropped);
    const double sigma = c.g.noise * kneecurves::shapeAt(c.g, c.g.high);
    EXPECT_NEAR(f.noise, sigma, 0.3 * sigma);
    EXPECT_GE(f.durbinWatson, 1.0);
    if (c.held >= 0) {
      EXPECT_EQ(f.widthHeld, c.held == 1);
    }
    EXPECT_EQ(std::isnan(f.widthError), f.widthHeld || f.width <= 1.0);
    EXPECT_TRUE(hasLine(f, "grid start: ") && hasLine(f, "test residuals: "));
    if (c.outlier >= 0) {  // the trace names the point dropped, then shows the refit
      EXPECT_TRUE(std::any_of(f.trace.begin(), f.trace.end(), [](const std::string& l) {
        return l.find("; dropped HV 2000 V (residual ") != std::string::npos;
      }));
      EXPECT_EQ(std::count_if(f.trace.begin(), f.trace.end(),
                              [](const std::string& l) { return l.rfind("grid start: ", 0) == 0; }), 2);
    }

    // The indices point into the input as given: the kept points above the onset.
    std::set<std::size_t> above(f.usedAboveOnset.begin(), f.usedAboveOnset.end());
    EXPECT_EQ(above.size(), f.usedAboveOnset.size());
    for (std::size_t i = 0; i < s.hv.size(); ++i) {
      const bool outlier = c.outlier >= 0 && s.hv[i] == c.g.low + (c.g.high - c.g.low) * c.outlier / (c.g.points - 1);
      EXPECT_EQ(above.count(i) == 1, s.hv[i] > f.onset && !outlier) << i;
    }
  }
}

// Curves without an ohmic stretch, or with too little of one, give no result and
// name the first test they fail.
TEST(KneeFit, RefusesCurvesWithoutAnOhmicStretch) {
  Gap cut = gap(Shape::Softplus, 0.05, 1700, 10, 0.01);  // ends three 20 V steps past V0 + w
  cut.points = 39, cut.high = 1000 + 20 * 38;
  Gap late = gap(Shape::Softplus, 0.05, 1700, 10, 0.01);  // two points before V0 - w
  late.low = 1670, late.points = 32, late.high = 1670 + 20 * 31;
  struct Case {
    const char* name;
    Gap g;
    std::string reason;  // expected reason, up to its end or an ellipsis
  };
  const Case cases[] = {
      {"flat", gap(Shape::Softplus, 1e-9, 1700, 10, 0.02), "slope not significant (s/sigma "},
      {"cut after the knee", cut, "too few points above the knee (3, needs 5)"},
      {"starts at the knee", late, "too few points below the knee (2, needs 3)"},
      {"exponential", gap(Shape::Exponential, 0.05, 1800, 600, 0.01),
       "residuals not random (Durbin-Watson 0."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Scan s = scanOf(c.g, 21, true);
    const KneeFit f = fitKnee(s.hv, s.j);
    EXPECT_FALSE(f.fitted);
    EXPECT_EQ(f.reason.substr(0, c.reason.size()), c.reason) << f.reason;
    for (double v : {f.offset, f.slope, f.slopeError, f.onset, f.width, f.resistivity, f.resistivityError}) {
      EXPECT_TRUE(std::isnan(v));
    }
    EXPECT_TRUE(f.usedAboveOnset.empty());
    EXPECT_EQ(f.points, c.g.points);  // the diagnostics stay
    EXPECT_TRUE(hasLine(f, "test slope: "));
  }
  const Scan s = scanOf(cut, 21, true);
  EXPECT_LT(fitKnee(s.hv, s.j).durbinWatson, 3.0);
}

// Input the fit cannot look at is refused before any fitting, with a reason.
TEST(KneeFit, RefusesInputItCannotFit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> ten(10), tenJ(10, 1.0);
  for (int i = 0; i < 10; ++i) ten[static_cast<std::size_t>(i)] = 1000 + 100 * i;
  std::vector<double> withNan = tenJ;
  withNan[3] = nan;
  struct Case {
    std::vector<double> hv, j;
    std::string reason;
  };
  const Case cases[] = {
      {std::vector<double>(ten.begin(), ten.begin() + 9), std::vector<double>(9, 1.0), "too few points (9, needs 10)"},
      {{}, {}, "too few points (0, needs 10)"},
      {std::vector<double>(12, 1500.0), std::vector<double>(12, 1.0), "all points at one HV"},
      {ten, withNan, "point 3 has a value that is not a finite number"},
      {ten, std::vector<double>(11, 1.0), "hv and current differ in length (10 and 11)"},
      {{1000, 1000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000}, tenJ,
       "no start value (HV range too narrow for a knee)"},
  };
  for (const auto& c : cases) {
    const KneeFit f = fitKnee(c.hv, c.j);
    EXPECT_FALSE(f.fitted);
    EXPECT_EQ(f.reason, c.reason);
    EXPECT_TRUE(std::isnan(f.resistivity));
  }
}

// The points' order changes nothing, not even the last bit.
TEST(KneeFit, SameResultInAnyOrder) {
  const Scan s = scanOf(gap(Shape::GaussKnee, 0.03, 1750, 15, 0.02), 31, false, 40, 5.0);
  const KneeFit a = fitKnee(s.hv, s.j);
  ASSERT_TRUE(a.fitted) << a.reason;
  std::vector<std::size_t> order(s.hv.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  Scan t;
  for (std::size_t i : order) t.hv.push_back(s.hv[i]), t.j.push_back(s.j[i]);
  const KneeFit b = fitKnee(t.hv, t.j);
  EXPECT_EQ(a.resistivity, b.resistivity);
  EXPECT_EQ(a.resistivityError, b.resistivityError);
  EXPECT_EQ(a.onset, b.onset);
  EXPECT_EQ(a.durbinWatson, b.durbinWatson);
  EXPECT_EQ(a.trace, b.trace);
  std::vector<std::size_t> mapped;
  for (std::size_t i : b.usedAboveOnset) mapped.push_back(order[i]);
  std::sort(mapped.begin(), mapped.end());
  EXPECT_EQ(mapped, a.usedAboveOnset);
}

// With ten points an outlier cannot be dropped: nine would not make a fit.
TEST(KneeFit, KeepsAnOutlierWhenTooFewPointsWouldRemain) {
  const std::vector<double> hv{1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900};
  const std::vector<double> j{0.2, 0.21, 0.19, 0.2, 30, 0.2, 5.2, 10.1, 15.2, 19.9};
  const KneeFit f = fitKnee(hv, j);
  EXPECT_EQ(f.dropped, 0);
  EXPECT_EQ(f.points, 10);
  EXPECT_TRUE(hasLine(f, "outlier pass: ")) << f.reason;
  EXPECT_NE(f.trace.end(), std::find_if(f.trace.begin(), f.trace.end(), [](const std::string& l) {
              return l.find("none dropped (too few would remain)") != std::string::npos;
            }));
}

// Over 200 realistic gaps the fit almost always gives a result, its resistivity
// is unbiased and its errors are the spread it shows.
TEST(KneeFit, ErrorsAreHonestOverManyGaps) {
  std::mt19937 rng(2026);
  std::vector<double> ratio, pull;
  int fitted = 0;
  for (int k = 0; k < 200; ++k) {
    const Gap g = kneecurves::randomGap(rng);
    const Scan s = kneecurves::generate(g, rng);
    const KneeFit f = fitKnee(s.hv, s.j);
    if (!f.fitted) continue;
    ++fitted;
    const double rho = kneecurves::rhoOf(g);
    ratio.push_back(f.resistivity / rho - 1);
    pull.push_back((f.resistivity - rho) / f.resistivityError);
  }
  EXPECT_GE(fitted, 196);
  EXPECT_LT(std::fabs(quantile(ratio, 0.5)), 0.005);
  const double spread = 0.5 * (quantile(pull, 0.84) - quantile(pull, 0.16));
  EXPECT_GT(spread, 0.8);
  EXPECT_LT(spread, 1.2);
}
