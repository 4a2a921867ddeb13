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
  OutputPlace place{processEnvironment(), "20260101", dir.path()};
  FigureContext context{place, console, ".png"};
  tk::Canvas pad{"KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{}};
  Pair resistance = kStart, offset = kStart, onset = kStart;

  bool run(tk::Graph& g, bool info) {
    return searchOhmicRegion(g, "GAP", "/data/scan.csv", pad, tk::Style{}, resistance, offset,
                             onset, info, context);
  }
  int count(const std::string& needle) const {
    int n = 0;
    const std::string s = out.str();
    for (std::size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
    return n;
  }
};

struct Ols {
  double A, B, sA, sB, chi2;
};

// Closed-form least squares with errors from the residual variance.
Ols ols(const tk::Graph& g, int from, int to) {
  const auto& x = g.GetX();
  const auto& y = g.GetY();
  const double n = to - from + 1;
  double mx = 0, my = 0;
  for (int i = from; i <= to; ++i) {
    mx += x[i] / n;
    my += y[i] / n;
  }
  double sxx = 0, sxy = 0;
  for (int i = from; i <= to; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  Ols r{};
  r.A = sxy / sxx;
  r.B = my - r.A * mx;
  for (int i = from; i <= to; ++i) r.chi2 += std::pow(y[i] - r.A * x[i] - r.B, 2);
  const double s2 = r.chi2 / (n - 2);
  r.sA = std::sqrt(s2 / sxx);
  r.sB = std::sqrt(s2 * (1 / n + mx * mx / sxx));
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
  for (int k = 0; k < ohmic; ++k, ++i) {
    g.AddPoint(1000 + 20.0 * i, 0.05 * (20.0 * i - 300) + (k % 2 == 0 ? 1 : -1));
  }
  return g;
}

// 15 points with y = `low` and `high` alternately from 500 V, then the rest.
tk::Graph flatCurve(int n, double low, double high) {
  tk::Graph g;
  for (int i = 0; i < n; ++i) g.AddPoint(500 + 10.0 * i, i % 2 == 0 ? low : high);
  return g;
}

}  // namespace

TEST(Search, TakesTheWidestPassingWindowAndFillsThePairs) {
  tk::Graph g = kneeCurve(5, 25);  // N = 45, the ohmic stretch from point 20
  ASSERT_EQ(g.GetN(), 45);
  Search s;
  ASSERT_TRUE(s.run(g, true));
  for (int j = 15; j <= 20; ++j) {
    EXPECT_EQ(s.count("Fit Number   : " + std::to_string(j) + "-----"), 1) << j;
  }
  EXPECT_EQ(s.count("Fit Number   : 21"), 0);  // nothing is fitted after the pass
  EXPECT_EQ(s.count("Fit Number   : "), 6);

  const Ols line = ols(g, 20, 44);
  // The level in front: points 0 to 20, the window's first point included.
  double L = 0, chi2 = 0;
  for (int i = 0; i <= 20; ++i) L += g.GetY()[i] / 21;
  for (int i = 0; i <= 20; ++i) chi2 += std::pow(g.GetY()[i] - L, 2);
  const double sL = std::sqrt(chi2 / 20) / std::sqrt(21.0);
  const double U = (L - line.B) / line.A;
  const double sU = std::fabs(U) * ((sL + line.sB) / std::fabs(L - line.B) + line.sA / std::fabs(line.A));

  EXPECT_NEAR(s.resistance.first, 1e9 / (line.A * 0.4), 1e-9 * std::fabs(s.resistance.first));
  EXPECT_NEAR(s.resistance.second, line.sA * 2.5e9 / (line.A * line.A), 1e-9 * s.resistance.second);
  EXPECT_NEAR(s.offset.first, L, 1e-12);
  EXPECT_NEAR(s.offset.second, sL, 1e-12);
  EXPECT_NEAR(s.onset.first, U, 1e-9 * std::fabs(U));
  EXPECT_NEAR(s.onset.second, sU, 1e-9 * sU);  // in volts
  EXPECT_NEAR(line.A, 0.05, 3 * line.sA);

  // The passing line drawn in blue, then the level in its default red; the
  // graph ends carrying the level.
  std::vector<int> colours;
  for (const auto& item : s.pad.items()) {
    if (item.kind == tk::Canvas::Item::Kind::Function) colours.push_back(item.function[0].lineColor);
  }
  EXPECT_EQ(colours, (std::vector<int>{600, 2}));
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->npar, 1);
  EXPECT_EQ(g.function->lineColor, 632);
  EXPECT_EQ(g.function->xmax, g.GetX()[20]);
  // The diagnostic figures of the windows tried.
  EXPECT_EQ(testsupport::listDir(s.dir.path()),
            (std::vector<std::string>{"GAP_ChiS.png", "GAP_GoodNessOfFitH.png", "GAP_NDf.png"}));
}

TEST(Search, ResultLinesAreByteExactAndTheOnlyQuietOutput) {
  tk::Graph g = kneeCurve(5, 25);
  Search s;
  ASSERT_TRUE(s.run(g, false));
  const Ols line = ols(g, 20, 44);
  std::ostringstream want;
  const std::string p = "INFO :: Drawing : PlottingEachAndDoLinearFit :  ";
  want << p << "Chamber    : GAP\n"
       << p << "Fit Test   : 1\n"
       << p << "ParameterA : " << line.A << " +/- " << line.sA << "\n"
       << p << "ParameterB : " << line.B << " +/- " << line.sB << "\n"
       << p << "ratioA [%] : " << line.sA / line.A * 100 << "\n"
       << p << "ratioB [%] : " << line.sB / line.B * 100 << "\n"
       << p << "ChiSquared : " << line.chi2 << "\n"
       << p << "NDF        : 23\n"
       << p << "Goodness   : " << 23 / line.chi2 << "\n";
  EXPECT_EQ(s.out.str(), want.str());
  EXPECT_EQ(s.err.str(), "");
  EXPECT_TRUE(testsupport::listDir(s.dir.path()).empty());  // no diagnostics when quiet
}

TEST(Search, GoodnessOptionFollowsTheYAxisUpperEnd) {
  struct Case {
    double low, high;  // alternating y values of the curve
    double top;        // its y axis upper end
    int option;
  };
  const Case cases[] = {
      {4, 14, 15, 1},        // 14 + 10% of 10: exactly 15
      {4, 13.9, 14.89, 2},
      {-2.5, 2.5, 3, 2},     // exactly 3
      {-2.4, 2.5, 2.99, 3},
  };
  for (const auto& c : cases) {
    tk::Graph g = flatCurve(17, c.low, c.high);
    ASSERT_NEAR(g.yAxis().high, c.top, 1e-12);
    if (c.top == 15 || c.top == 3) {
      ASSERT_EQ(g.yAxis().high, c.top);
    }
    Search s;
    EXPECT_FALSE(s.run(g, true));
    const std::string option = "goodFit : Option " + std::to_string(c.option) + " : is the fit good? ";
    EXPECT_EQ(s.count(option), 2) << c.top;  // windows 15 and 16
    for (int other = 1; other <= 3; ++other) {
      if (other != c.option) {
        EXPECT_EQ(s.count("Option " + std::to_string(other)), 0);
      }
    }
  }
}

TEST(Search, TooFewPointsOrTooHighAScanTriesNothing) {
  {
    tk::Graph g = flatCurve(15, 1, 2);
    Search s;
    EXPECT_FALSE(s.run(g, true));
    EXPECT_EQ(s.out.str(), "INFO :: Drawing : PlottingEachAndDoLinearFit : Total Point : 15\n");
    EXPECT_TRUE(testsupport::listDir(s.dir.path()).empty());  // no fits, no figures
    EXPECT_EQ(s.resistance, kStart);
  }
  {
    // N = 16: the one window is the one point X[15]; it cannot make a line.
    tk::Graph g = flatCurve(16, 1, 2);
    Search s;
    EXPECT_FALSE(s.run(g, true));
    EXPECT_EQ(s.count("Fit Number   : 15--------------------------------------------\n"), 1);
    EXPECT_EQ(s.count("Fitting From : 650 to 650\n"), 1);
    EXPECT_EQ(s.count("Fit Number"), 1);
    EXPECT_EQ(s.resistance, kStart);
    EXPECT_EQ(s.offset, kStart);
    EXPECT_EQ(s.onset, kStart);
  }
  {
    // HV axis ending exactly at 2500 V: no search at all.
    tk::Graph g;
    for (int i = 0; i <= 40; ++i) g.AddPoint(300 + 50.0 * i, 0.05 * i);
    ASSERT_EQ(g.xAxis().high, 2500);
    Search s;
    EXPECT_FALSE(s.run(g, false));
    EXPECT_EQ(s.out.str(), "");
    EXPECT_FALSE(g.function);
  }
}

TEST(Search, NoPassingWindowLeavesThePairsAlone) {
  tk::Graph g = kneeCurve(30, 0);  // a straight line 6 above: chi2 0, never good
  Search s;
  EXPECT_FALSE(s.run(g, false));
  EXPECT_EQ(s.out.str(), "");
  EXPECT_EQ(s.resistance, kStart);
  EXPECT_EQ(s.offset, kStart);
  EXPECT_EQ(s.onset, kStart);
}

// Window points around 5 nA/cm^2 with a symmetric +-9/64 pattern: slope exactly
// 0 and chi-square 4 (9/64)^2 = 0.0791, inside option 2's band.
TEST(Search, APassWithAFlatSlopeIsNoResult) {
  tk::Graph g;
  for (int i = 0; i < 15; ++i) g.AddPoint(1000 + 10.0 * i, 0.5);
  const double a = 9.0 / 64;
  for (double d : {a, -a, -a, a}) g.AddPoint(1000 + 10.0 * g.GetN(), 5 + d);
  Search s;
  EXPECT_FALSE(s.run(g, false));
  // The pass itself is reported as it was found...
  EXPECT_EQ(s.count("ParameterA : 0 +/- "), 1);
  // ...but no number is made from it, and the user is told why.
  EXPECT_EQ(s.resistance, kStart);
  EXPECT_EQ(s.offset, kStart);
  EXPECT_EQ(s.onset, kStart);
  EXPECT_NE(s.err.str().find("GAP"), std::string::npos);
  EXPECT_FALSE(s.console.failed());
}

// The narrowest window that can pass holds three points (two points or one HV
// cannot judge a line). Here the wider windows fail on two outliers and the
// pass comes at j = N - 3: it gets its result lines, its level over
// X[0]..X[N-3] and its pairs like any other.
TEST(Search, APassAtTheLastPossibleWindowIsAFullResult) {
  tk::Graph g;
  for (int i = 0; i < 15; ++i) g.AddPoint(1000 + 10.0 * i, 0.25 + (i % 2) * 0.5);
  g.AddPoint(1150, 3);
  g.AddPoint(1160, 3);
  // Three points off a 0.1 / V line by (+d, -2d, +d): chi2 6 d^2 = 0.09375.
  const double d = 0.125;
  g.AddPoint(1170, 1 + d);
  g.AddPoint(1180, 2 - 2 * d);
  g.AddPoint(1190, 3 + d);
  Search s;
  ASSERT_TRUE(s.run(g, true));
  EXPECT_EQ(s.count("Fit Number   : "), 3);
  EXPECT_EQ(s.count("Chamber    : GAP\n"), 1);
  EXPECT_EQ(s.count("Fit Test   : 2\n"), 1);
  EXPECT_EQ(s.count("NDF        : 1\n"), 1);
  EXPECT_EQ(s.count("INFO :: LinearFit: fitleft: degrees  17  Chisquare "), 1);
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->npoints, 18);  // points 0 to 17
  EXPECT_NEAR(s.resistance.first, 1e9 / (0.1 * 0.4), 1e-9 * 2.5e10);
  EXPECT_NEAR(s.offset.first, (8 * 0.25 + 7 * 0.75 + 3 + 3 + 1 + d) / 18, 1e-12);
  EXPECT_TRUE(std::isfinite(s.onset.second));
  EXPECT_GT(s.onset.second, 0);
}

TEST(Search, NegativeSlopeKeepsPositiveErrors) {
  tk::Graph g = kneeCurve(0, 20);
  for (int i = 15; i < g.GetN(); ++i) g.SetPoint(i, g.GetX()[i], 40 - g.GetY()[i]);
  Search s;
  ASSERT_TRUE(s.run(g, false));
  EXPECT_LT(s.resistance.first, 0);
  EXPECT_GT(s.resistance.second, 0);
  EXPECT_GT(s.onset.second, 0);
  EXPECT_GT(s.offset.second, 0);
}
