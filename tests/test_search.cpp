// The ohmic-region search on constructed curves: which windows are tried, which
// one is taken, the result lines, and the three pairs the report is made from.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "aux/Drawing.h"
#include "aux/Regression.h"
#include "tests/TestSupport.h"

namespace {

using Pair = std::pair<double, double>;
const Pair kStart{3000, 0};

// A search with its console captured and outputs kept in a scratch directory.
struct Search {
  testsupport::ScratchDir dir;
  std::ostringstream out, err;
  tk::Console console{out, err};
  tk::Failures failures;
  tk::Log said;
  OutputPlace place{processEnvironment(), "20260101", dir.path()};
  FigureContext context{place, said, ".png"};
  tk::Canvas pad{"KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{}};
  Pair resistance = kStart, offset = kStart, onset = kStart;

  bool run(tk::Graph& g, bool info) {
    const bool fitted = searchOhmicRegion(g, "GAP", "/data/scan.csv", pad, tk::Style{}, resistance, offset, onset, info, context);
    console.print(said, failures);
    return fitted;
  }
  int count(const std::string& needle) const {
    int n = 0;
    const std::string s = out.str();
    for (std::size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
    return n;
  }
  bool untouched() const { return resistance == kStart && offset == kStart && onset == kStart; }
};

// Ordinary least squares over points [from, to) from its closed-form sums, apart
// from the library; errors from the residual variance.
struct Ols {
  double slope, intercept, chi2, errSlope, errIntercept;
};
Ols ols(const std::vector<double>& x, const std::vector<double>& y, std::size_t from, std::size_t to) {
  const double n = static_cast<double>(to - from);
  long double mx = 0, my = 0, sxx = 0, sxy = 0, chi2 = 0;
  for (std::size_t i = from; i < to; ++i) mx += x[i] / n, my += y[i] / n;
  for (std::size_t i = from; i < to; ++i) sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my);
  Ols r{};
  r.slope = static_cast<double>(sxy / sxx);
  r.intercept = static_cast<double>(my - r.slope * mx);
  for (std::size_t i = from; i < to; ++i) chi2 += std::pow(y[i] - r.slope * x[i] - r.intercept, 2);
  r.chi2 = static_cast<double>(chi2);
  r.errSlope = static_cast<double>(std::sqrt(chi2 / (n - 2) / sxx));
  r.errIntercept = static_cast<double>(std::sqrt(chi2 / (n - 2) * (1 / n + mx * mx / sxx)));
  return r;
}

// 15 dark points at 0.5 nA/cm^2 from 1000 V in 20 V steps, then `knee` points
// 6 above the ohmic line, then `ohmic` points on 0.05 (HV - 1300) with
// alternating +-1 scatter: reduced chi-square near 1, a pass under option 1.
tk::Graph kneeCurve(int knee, int ohmic) {
  tk::Graph g;
  int i = 0;
  for (; i < 15; ++i) g.AddPoint(1000 + 20.0 * i, 0.5);
  for (int k = 0; k < knee; ++k, ++i) g.AddPoint(1000 + 20.0 * i, 0.05 * (20.0 * i - 300) + 6);
  for (int k = 0; k < ohmic; ++k, ++i) g.AddPoint(1000 + 20.0 * i, 0.05 * (20.0 * i - 300) + (k % 2 ? -1 : 1));
  return g;
}

// n points from 500 V in 10 V steps, y = `low` and `high` alternately.
tk::Graph flatCurve(int n, double low, double high) {
  tk::Graph g;
  for (int i = 0; i < n; ++i) g.AddPoint(500 + 10.0 * i, i % 2 == 0 ? low : high);
  return g;
}

}  // namespace

TEST(Search, TakesTheWidestPassingWindowPrintsItAndFillsThePairs) {
  tk::Graph g = kneeCurve(5, 25);  // N = 45, the ohmic stretch from point 20
  Search s;
  ASSERT_TRUE(s.run(g, false));
  const auto line = ols(g.GetX(), g.GetY(), 20, 45);
  std::ostringstream want;  // the result lines, the only output of a quiet search
  const std::string p = "INFO :: Drawing : PlottingEachAndDoLinearFit :  ";
  want << p << "Chamber    : GAP\n" << p << "Fit Test   : 1\n"
       << p << "ParameterA : " << line.slope << " +/- " << line.errSlope << "\n"
       << p << "ParameterB : " << line.intercept << " +/- " << line.errIntercept << "\n"
       << p << "ratioA [%] : " << line.errSlope / line.slope * 100 << "\n"
       << p << "ratioB [%] : " << line.errIntercept / line.intercept * 100 << "\n"
       << p << "ChiSquared : " << line.chi2 << "\n" << p << "NDF        : 23\n"
       << p << "Goodness   : " << 23 / line.chi2 << "\n";
  EXPECT_EQ(s.out.str(), want.str());
  EXPECT_EQ(s.err.str(), "");
  EXPECT_TRUE(testsupport::listDir(s.dir.path()).empty());  // no diagnostics when quiet

  // The level in front: points 0 to 20, the window's first point included.
  double L = 0, chi2 = 0;
  for (int i = 0; i <= 20; ++i) L += g.GetY()[i] / 21;
  for (int i = 0; i <= 20; ++i) chi2 += std::pow(g.GetY()[i] - L, 2);
  const double sL = std::sqrt(chi2 / 20) / std::sqrt(21.0);
  const double U = (L - line.intercept) / line.slope;
  const double sU = std::fabs(U) * ((sL + line.errIntercept) / std::fabs(L - line.intercept) +
                                    line.errSlope / std::fabs(line.slope));
  EXPECT_NEAR(s.resistance.first, 1e9 / (line.slope * 0.4), 1e-9 * std::fabs(s.resistance.first));
  EXPECT_NEAR(s.resistance.second, line.errSlope * 2.5e9 / (line.slope * line.slope), 1e-9 * s.resistance.second);
  EXPECT_NEAR(s.offset.first, L, 1e-12);
  EXPECT_NEAR(s.offset.second, sL, 1e-12);
  EXPECT_NEAR(s.onset.first, U, 1e-9 * std::fabs(U));
  EXPECT_NEAR(s.onset.second, sU, 1e-9 * sU);  // in volts

}

// The option follows the y axis's upper end: 1 from 15 up, 2 from 3 up, else 3;
// each window judged is one "Fit Number" and one verdict. 18 points: windows 15,
// 16 and 17, the last a single point. 15 points: nothing to try. 16: the one
// window is X[15], no line. A line 6 above the level: chi2 0, never good. A pass
// with a slope of exactly 0 (a symmetric +-9/64 pattern, chi2 in option 2's
// band) makes no number either, and says why. No pass leaves the pairs alone.
TEST(Search, GoodnessOptionFollowsTheYAxisAndNoWindowNoPassOrAFlatPassLeavesThePairsAlone) {
  tk::Graph flat = flatCurve(15, 0.5, 0.5);
  for (double d : {9.0 / 64, -9.0 / 64, -9.0 / 64, 9.0 / 64}) flat.AddPoint(500 + 10.0 * flat.GetN(), 5 + d);
  struct Case {
    tk::Graph g;
    double top;  // the y axis upper end, 0: not checked
    int option, fits;
  };
  const Case cases[] = {{flatCurve(18, 4, 14), 15, 1, 3},      {flatCurve(18, 4, 13.9), 14.89, 2, 3},
                        {flatCurve(18, -2.5, 2.5), 3, 2, 3},   {flatCurve(18, -2.4, 2.5), 2.99, 3, 3},
                        {flatCurve(15, 1, 2), 0, 3, 0},        {flatCurve(16, 1, 2), 0, 3, 1},
                        {kneeCurve(30, 0), 0, 1, 30},          {flat, 0, 2, 1}};
  for (auto c : cases) {
    ASSERT_TRUE(c.top == 0 || std::fabs(c.g.yAxis().high - c.top) < 1e-12) << c.top;
    Search s;
    EXPECT_FALSE(s.run(c.g, true));
    EXPECT_EQ(s.count("Fit Number"), c.fits) << c.g.GetN() << " " << c.top;
    EXPECT_EQ(s.count("goodFit : Option " + std::to_string(c.option) + " : is the fit good? "), c.fits) << c.top;
    EXPECT_EQ(s.count("Option "), s.count("Option " + std::to_string(c.option))) << c.top;
    EXPECT_TRUE(s.untouched()) << c.g.GetN();
    EXPECT_EQ(s.err.str().empty(), c.g.GetN() != 19) << s.err.str();
  }
}

// The narrowest window that can pass holds three points; the wider ones fail on
// two outliers and the pass at j = N - 3 is a result like any other.
TEST(Search, APassAtTheLastPossibleWindowIsAFullResult) {
  tk::Graph g = flatCurve(15, 0.25, 0.75);
  const double d = 0.125;  // three points off a 0.1 / V line by (+d, -2d, +d): chi2 6 d^2
  for (double y : {3.0, 3.0, 1 + d, 2 - 2 * d, 3 + d}) g.AddPoint(500 + 10.0 * g.GetN(), y);
  Search s;
  ASSERT_TRUE(s.run(g, true));
  EXPECT_EQ(s.count("Fit Number   : "), 3);
  EXPECT_EQ(s.count("NDF        : 1\n"), 1);
  EXPECT_EQ(g.function->npoints, 18);  // the level over points 0 to 17
  EXPECT_NEAR(s.resistance.first, 1e9 / (0.1 * 0.4), 1e-9 * 2.5e10);
  EXPECT_NEAR(s.offset.first, (8 * 0.25 + 7 * 0.75 + 3 + 3 + 1 + d) / 18, 1e-12);
  EXPECT_GT(s.onset.second, 0);
}
