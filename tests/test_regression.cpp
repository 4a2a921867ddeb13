// Goodness bands, the fits' log lines and drawings, the fit-scan histograms and
// their figures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "aux/Regression.h"
#include "tests/TestSupport.h"
#include "toolkit/Histogram.h"
#include "toolkit/Look.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool good(double chi2, int ndf, int test, double* goodness = nullptr) {
  std::ostringstream log;
  double g = -1;
  const bool verdict = goodFit(chi2, ndf, g, test, false, log);
  if (goodness) *goodness = g;
  EXPECT_EQ(log.str(), "");
  return verdict;
}

tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

std::vector<const tk::Function*> functionsOn(const tk::Canvas& pad) {
  std::vector<const tk::Function*> out;
  for (const auto& item : pad.items()) {
    if (item.kind == tk::Canvas::Item::Kind::Function) out.push_back(&item.function.front());
  }
  return out;
}

}  // namespace

TEST(Goodness, OptionOneIsNdfPerChiSquareStrictlyInsideItsBand) {
  EXPECT_TRUE(good(10, 10, 1));
  EXPECT_FALSE(good(5, 10, 1));     // 2.0 exactly
  EXPECT_FALSE(good(12.5, 10, 1));  // 0.8 exactly
  EXPECT_TRUE(good(5.0001, 10, 1));
  EXPECT_TRUE(good(12.4999, 10, 1));
  double g = 0;
  EXPECT_FALSE(good(10, -10, 1, &g));  // negative NDF: negative value
  EXPECT_EQ(g, -1.0);
  EXPECT_FALSE(good(0, 0, 1, &g));     // 0 / 0
  EXPECT_TRUE(std::isnan(g));
  EXPECT_FALSE(good(0, 5, 1, &g));     // + infinity
  EXPECT_TRUE(std::isinf(g));
}

TEST(Goodness, OptionsTwoAndThreeBandTheRawChiSquare) {
  EXPECT_FALSE(good(0.07, 3, 2));
  EXPECT_FALSE(good(0.12, 3, 2));
  EXPECT_TRUE(good(0.1, 3, 2));
  EXPECT_TRUE(good(0.0701, 300, 2));  // NDF plays no part
  EXPECT_FALSE(good(0.007, 3, 3));
  EXPECT_FALSE(good(0.02, 3, 3));
  EXPECT_TRUE(good(0.01, 3, 3));
  EXPECT_FALSE(good(kNaN, 3, 2));
  EXPECT_FALSE(good(kNaN, 3, 3));
}

TEST(Goodness, UnknownOptionsAreNeverGoodAndSilent) {
  for (int option : {0, 4, -1}) {
    std::ostringstream log;
    double g = 0;
    EXPECT_FALSE(goodFit(0.1, 10, g, option, true, log));
    EXPECT_EQ(g, 300000);
    EXPECT_EQ(TestValue(0.1, 10, option, true, log), 300000);
    EXPECT_EQ(log.str(), "");
  }
}

TEST(GoodnessLog, LinesAreByteExact) {
  std::ostringstream log;
  double g = 0;
  EXPECT_FALSE(goodFit(0.12, 3, g, 2, true, log));
  EXPECT_EQ(log.str(),
            "INFO :: Regression : goodFit : Option 2 : is the fit good right \n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good?  no \n");
  log.str("");
  EXPECT_TRUE(goodFit(0.01, 3, g, 3, true, log));
  EXPECT_EQ(log.str(),
            "INFO :: Regression : goodFit : Option 3 : is the fit good left \n"
            "INFO :: Regression : goodFit : Option 3 : is the fit good right \n"
            "INFO :: Regression : goodFit : Option 3 : is the fit good?  yes \n");
  log.str("");
  EXPECT_FALSE(goodFit(kNaN, 3, g, 3, true, log));  // NaN: neither side
  EXPECT_EQ(log.str(), "INFO :: Regression : goodFit : Option 3 : is the fit good?  no \n");
  log.str("");
  EXPECT_TRUE(goodFit(10, 10, g, 1, true, log));
  EXPECT_EQ(log.str(), "INFO :: Regression : goodFit : Option 1 : is the fit good?  yes \n");
  log.str("");
  EXPECT_EQ(TestValue(8, 10, 1, true, log), 1.25);
  EXPECT_EQ(TestValue(0.25, 10, 2, true, log), 0.25);
  EXPECT_EQ(TestValue(1.0 / 3, 10, 3, true, log), 1.0 / 3);
  EXPECT_EQ(log.str(),
            "INFO :: Regression : TestValue : Option 1 : TestValue : 1.25\n"
            "INFO :: Regression : TestValue : Option 2 : TestValue : 0.25\n"
            "INFO :: Regression : TestValue : Option 3 : TestValue : 0.333333\n");
}

// Four points whose line is 0.2 a (x + 1) and whose chi-square is 0.8 a^2.
TEST(Fit, GoodWindowIsRecordedLoggedAndDrawnInBlue) {
  const double a = 0.35;  // chi2 0.098: inside option 2's band
  tk::Graph g = graphOf({0, 1, 2, 3}, {0, a, 0, a});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  fitstatus f{};
  std::ostringstream log;
  EXPECT_TRUE(fit(&g, 0, 3, f, 2, true, pad, log));
  EXPECT_EQ(log.str(),
            "INFO :: Regression : fit : ChiSquared       : 0.098\n"
            "INFO :: Regression : fit : DegreesOfFreedom : 2\n"
            "INFO :: Regression : fit : TestValue        : 0.098\n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good left \n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good right \n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good?  yes \n");
  EXPECT_EQ(f.NDF, 2);
  EXPECT_NEAR(f.ChiSquared, 0.098, 1e-15);
  EXPECT_NEAR(f.Goodness, 0.098, 1e-15);
  EXPECT_NEAR(f.ParameterA, 0.2 * a, 1e-15);
  EXPECT_NEAR(f.ParameterB, 0.2 * a, 1e-15);
  // Errors: unit-error covariance (Sxx = 5) scaled by sqrt(chi2 / NDF).
  EXPECT_NEAR(f.ErrorA, std::sqrt(0.049 / 5), 1e-15);
  EXPECT_NEAR(f.ErrorB, std::sqrt(0.049 * (0.25 + 2.25 / 5)), 1e-15);
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->name, "f2");
  EXPECT_EQ(g.function->lineColor, 600);
  EXPECT_EQ(g.function->lineWidth, 2);
  const auto drawn = functionsOn(pad);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0]->lineColor, 600);
  EXPECT_EQ(drawn[0]->lineWidth, 2);
  EXPECT_EQ(drawn[0]->xmin, 0);
  EXPECT_EQ(drawn[0]->xmax, 3);
}

TEST(Fit, BadWindowIsRecordedButNotDrawn) {
  tk::Graph g = graphOf({0, 1, 2, 3}, {0, 1, 0, 1});  // chi2 0.8, NDF 2: 2.5
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  fitstatus f{};
  std::ostringstream log;
  EXPECT_FALSE(fit(&g, 3, 0, f, 1, true, pad, log));
  EXPECT_EQ(log.str(),
            "INFO :: Regression : fit : ChiSquared       : 0.8\n"
            "INFO :: Regression : fit : DegreesOfFreedom : 2\n"
            "INFO :: Regression : fit : TestValue        : 2.5\n"
            "INFO :: Regression : goodFit : Option 1 : is the fit good?  no \n");
  EXPECT_DOUBLE_EQ(f.Goodness, 2.5);
  EXPECT_TRUE(functionsOn(pad).empty());
  ASSERT_TRUE(g.function);  // the fit is attached all the same
  EXPECT_EQ(g.function->lineColor, 600);

  std::ostringstream quiet;
  EXPECT_FALSE(fit(&g, 0, 3, f, 1, false, pad, quiet));
  EXPECT_EQ(quiet.str(), "");
}

TEST(Fit, UndeterminedWindowIsNotGoodAndOverwritesEveryField) {
  tk::Graph g = graphOf({0, 1, 2, 3, 3}, {0, 1, 2, 3, 4});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  fitstatus f{};
  std::ostringstream log;
  fit(&g, 0, 2, f, 1, false, pad, log);
  const double slope = g.function->par[1];
  for (auto [start, end] : {std::pair{3.0, 3.0}, {5.0, 9.0}, {2.5, 2.6}, {kNaN, 3.0}}) {
    f = fitstatus{7, 7, 7, 7, 7, 7, 7};
    for (int option : {1, 2, 3}) {
      EXPECT_FALSE(fit(&g, start, end, f, option, false, pad, log));
      EXPECT_EQ(f.NDF, 0);
      EXPECT_EQ(f.ChiSquared, 0);
      EXPECT_TRUE(std::isnan(f.ParameterA));
      EXPECT_TRUE(std::isnan(f.ParameterB));
      EXPECT_TRUE(std::isnan(f.ErrorA));
      EXPECT_TRUE(std::isnan(f.ErrorB));
      EXPECT_NE(f.Goodness, 7);
    }
  }
  EXPECT_EQ(g.function->par[1], slope);  // the graph keeps its last real fit
  EXPECT_TRUE(functionsOn(pad).empty());
}

TEST(FitLeft, LevelLoggedAttachedInRedAndDrawnWithDefaultLook) {
  tk::Graph g = graphOf({100, 200, 300, 400}, {1, 2, 3, 50});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  std::pair<double, double> c{0, 0};
  std::ostringstream log;
  const double status = fitleft(&g, 300, 100, c, true, pad, log);
  EXPECT_EQ(log.str(),
            "INFO :: LinearFit: fitleft: degrees  2  Chisquare 2\n"
            "INFO :: LinearFit: fitleft: status   1\n");
  EXPECT_EQ(status, 1.0);
  EXPECT_DOUBLE_EQ(c.first, 2.0);
  EXPECT_DOUBLE_EQ(c.second, 1.0 / std::sqrt(3.0));
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->npar, 1);
  EXPECT_EQ(g.function->lineColor, 632);
  EXPECT_EQ(g.function->lineWidth, 2);
  const auto drawn = functionsOn(pad);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0]->lineColor, 2);
  EXPECT_EQ(drawn[0]->lineWidth, 2);
  EXPECT_EQ(drawn[0]->xmin, 100);
  EXPECT_EQ(drawn[0]->xmax, 300);

  std::ostringstream quiet;
  fitleft(&g, 100, 400, c, false, pad, quiet);
  EXPECT_EQ(quiet.str(), "");
  EXPECT_EQ(functionsOn(pad).size(), 2u);  // drawn whatever its quality
}

TEST(FitLeft, EmptyWindowGivesNaNAndDrawsNothing) {
  tk::Graph g = graphOf({100, 200}, {1, 2});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  std::pair<double, double> c{5, 5};
  std::ostringstream log;
  fitleft(&g, 300, 400, c, false, pad, log);
  EXPECT_TRUE(std::isnan(c.first));
  EXPECT_TRUE(std::isnan(c.second));
  EXPECT_TRUE(functionsOn(pad).empty());
  EXPECT_FALSE(g.function);
}

TEST(Histogram, BinsAreHalfOpenWithUnderAndOverflow) {
  tk::Histogram h("h", "t", 10, 0, 10);
  for (double x : {0.0, 0.999, 1.0, 9.999, 10.0, -1e-12, kNaN,
                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    h.Fill(x);
  }
  EXPECT_EQ(h.entries(), 9);
  EXPECT_EQ(h.content(0), 2);
  EXPECT_EQ(h.content(1), 1);
  EXPECT_EQ(h.content(9), 1);
  EXPECT_EQ(h.underflow(), 2);
  EXPECT_EQ(h.overflow(), 3);  // the upper edge, NaN, + infinity
  EXPECT_EQ(h.low(), 0);
  EXPECT_EQ(h.high(), 10);
  const tk::Histogram copy = h;
  EXPECT_EQ(copy.content(0), 2);
  EXPECT_EQ(copy.overflow(), 3);
}

// The range taken from the data covers the data's span widened by 10% each side
// (2 wide around a single value), keeps 0 as its floor for non-negative data,
// and ends on multiples of the step the axis ticks would take for it.
TEST(Histogram, CoincidingEdgesTakeARoundRangeFromTheData) {
  struct Case {
    std::vector<double> data;
    double low, high;  // the widened span before rounding
  };
  const std::vector<Case> cases = {
      {{0.2, 0.5, 0.8}, 0.14, 0.86},
      {{5.0}, 3.8, 6.2},
      {{0.0, 0.0}, 0.0, 1.2},  // -1..1, widened, clamped at 0 for data >= 0
      {{-3.0, 7.0}, -4.0, 8.0},
      {{1e-3, 2.7e-3}, 0.83e-3, 2.87e-3},
      {{}, 0.0, 1.2},          // nothing filled: as a single 0
  };
  for (const auto& c : cases) {
    tk::Histogram h("h", "t", 500, 7, 7);
    for (double x : c.data) h.Fill(x);
    const double step = tk::niceStep(c.high - c.low, 10);
    ASSERT_GT(step, 0);
    const double eps = 1e-9 * step;
    EXPECT_LE(h.low(), c.low + eps);
    EXPECT_GE(h.high(), c.high - eps);
    EXPECT_GT(h.low(), c.low - step);
    EXPECT_LT(h.high(), c.high + step);
    EXPECT_NEAR(h.low() / step, std::round(h.low() / step), 1e-6);
    EXPECT_NEAR(h.high() / step, std::round(h.high() / step), 1e-6);
    if (c.low == 0) {
      EXPECT_EQ(h.low(), 0.0);
    }
    EXPECT_EQ(h.bins(), 500);
    double inside = 0;
    for (int b = 0; b < h.bins(); ++b) inside += h.content(b);
    EXPECT_EQ(inside, static_cast<double>(c.data.size()));
    EXPECT_EQ(h.overflow() + h.underflow(), 0);
  }
  // Edges that are not numbers also leave the range to the data; the NaN
  // filled goes to the overflow, the number inside.
  tk::Histogram h("h", "t", 5, kNaN, 1);
  h.Fill(kNaN);
  h.Fill(2);
  EXPECT_LE(h.low(), 1.8);
  EXPECT_GE(h.high(), 2.2);
  EXPECT_EQ(h.overflow(), 1);
  EXPECT_EQ(h.content(0) + h.content(1) + h.content(2) + h.content(3) + h.content(4), 1);
  // So do edges too far apart to split into bins, and data spanning all doubles.
  tk::Histogram wide("w", "t", 5, -1e308, 1e308);
  wide.Fill(1e308);
  wide.Fill(-1e308);
  wide.Fill(std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isfinite(wide.high() - wide.low()));
  EXPECT_EQ(wide.entries(), 3);
}

TEST(PlottingChiSquared, SavesThreeFiguresUnderTheSafeGapName) {
  testsupport::ScratchDir dir;
  std::ostringstream out, err;
  tk::Console console(out, err);
  const std::vector<fitstatus> fits = {{10, 3.5, 0, 0, 0, 0, 0}, {9, 1.25, 0, 0, 0, 0, 0}};
  EXPECT_FALSE(plottingChiSquared(fits, "RE3/B", 1, dir.path() + "/", true, tk::Style{}, ".png",
                                  console));
  EXPECT_EQ(out.str(),
            "INFO :: Regression : plottingChiSquared : ChiSquaredH    :\t 1.25\n"
            "INFO :: Regression : plottingChiSquared : NdFH           :\t 9\n"
            "INFO :: Regression : plottingChiSquared : TestValue      :\t 7.2\n");
  EXPECT_EQ(testsupport::listDir(dir.path()),
            (std::vector<std::string>{"RE3_B_ChiS.png", "RE3_B_GoodNessOfFitH.png", "RE3_B_NDf.png"}));
  EXPECT_FALSE(console.failed());
  EXPECT_EQ(err.str(), "");
}

TEST(PlottingChiSquared, EmptyListNaNsAndUnwritableDirectory) {
  testsupport::ScratchDir dir;
  std::ostringstream out, err;
  tk::Console console(out, err);
  plottingChiSquared({}, "GAP", 1, dir.path() + "/", true, tk::Style{}, ".png", console);
  EXPECT_TRUE(testsupport::listDir(dir.path()).empty());
  EXPECT_EQ(out.str(), "");

  // Degenerate windows (0 / 0 goodness) and NaN chi-squares neither crash the
  // sorting nor spoil the ranges.
  std::vector<fitstatus> fits;
  for (int i = 0; i < 40; ++i) {
    fits.push_back({i % 3 == 0 ? 0 : 5, i % 7 == 0 ? kNaN : (i % 3 == 0 ? 0.0 : 0.1 * i), 0, 0, 0, 0, 0});
  }
  plottingChiSquared(fits, "GAP", 1, dir.path() + "/", false, tk::Style{}, ".png", console);
  EXPECT_EQ(testsupport::listDir(dir.path()).size(), 3u);
  EXPECT_FALSE(console.failed());

  const std::string missing = dir.path() + "/no/such/";
  plottingChiSquared(fits, "GAP", 2, missing, false, tk::Style{}, ".png", console);
  EXPECT_TRUE(console.failed());
  EXPECT_NE(err.str().find(missing + "GAP_ChiS.png"), std::string::npos);
  EXPECT_NE(err.str().find(missing + "GAP_NDf.png"), std::string::npos);
  EXPECT_NE(err.str().find(missing + "GAP_GoodNessOfFitH.png"), std::string::npos);
}
