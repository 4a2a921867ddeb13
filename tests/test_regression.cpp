// Goodness bands, the fits' log lines and drawings, the fit-scan histograms and
// their figures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "aux/Regression.h"
#include "tests/FitSupport.h"
#include "tests/TestSupport.h"
#include "toolkit/Histogram.h"
#include "toolkit/Look.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

using fitsupport::graphOf;

std::vector<const tk::Function*> functionsOn(const tk::Canvas& pad) {
  std::vector<const tk::Function*> out;
  for (const auto& item : pad.items()) {
    if (item.kind == tk::Canvas::Item::Kind::Function) out.push_back(&item.function.front());
  }
  return out;
}

}  // namespace

// Both bounds of every band are exclusive; NDF counts only under option 1.
TEST(Goodness, BandsAtTheirBounds) {
  struct Case {
    double chi2;
    int ndf, option;
    bool good;
    double value;  // the test value written back
  };
  const Case cases[] = {
      {10, 10, 1, true, 1},          {5, 10, 1, false, 2},         {12.5, 10, 1, false, 0.8},
      {5.0001, 10, 1, true, 10 / 5.0001}, {12.4999, 10, 1, true, 10 / 12.4999},
      {10, -10, 1, false, -1},       {0, 0, 1, false, kNaN},       {0, 5, 1, false, kInf},
      {0.07, 3, 2, false, 0.07},     {0.12, 3, 2, false, 0.12},    {0.0701, 300, 2, true, 0.0701},
      {kNaN, 3, 2, false, kNaN},     {0.007, 3, 3, false, 0.007},  {0.02, 3, 3, false, 0.02},
      {0.01, 3, 3, true, 0.01},      {kNaN, 3, 3, false, kNaN},    {0.1, 10, 0, false, 300000},
      {0.1, 10, 4, false, 300000},   {0.1, 10, -1, false, 300000},
  };
  for (const auto& c : cases) {
    std::ostringstream log;
    double g = -7;
    EXPECT_EQ(goodFit(c.chi2, c.ndf, g, c.option, false, log), c.good) << c.chi2 << " " << c.option;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(g));
    } else {
      EXPECT_EQ(g, c.value) << c.chi2 << " " << c.option;
    }
    EXPECT_EQ(log.str(), "");
  }
}

// Four points whose line is 0.2 a (x + 1) and whose chi-square is 0.8 a^2.
TEST(Fit, GoodWindowIsRecordedLoggedAndDrawnInBlue) {
  const double a = 0.35;  // chi2 0.098: inside option 2's band
  tk::Graph g = graphOf({0, 1, 2, 3}, {0, a, 0, a});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  fitstatus f{};
  std::ostringstream log;
  EXPECT_TRUE(fit(&g, 3, 0, f, 2, true, pad, log));
  EXPECT_EQ(log.str(),
            "INFO :: Regression : fit : ChiSquared       : 0.098\n"
            "INFO :: Regression : fit : DegreesOfFreedom : 2\n"
            "INFO :: Regression : fit : TestValue        : 0.098\n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good left \n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good right \n"
            "INFO :: Regression : goodFit : Option 2 : is the fit good?  yes \n");
  EXPECT_NEAR(f.Goodness, 0.098, 1e-15);
  EXPECT_NEAR(f.ParameterA, 0.2 * a, 1e-15);
  EXPECT_NEAR(f.ParameterB, 0.2 * a, 1e-15);
  // Errors: unit-error covariance (Sxx = 5) scaled by sqrt(chi2 / NDF).
  EXPECT_NEAR(f.ErrorA, std::sqrt(0.049 / 5), 1e-15);
  EXPECT_NEAR(f.ErrorB, std::sqrt(0.049 * (0.25 + 2.25 / 5)), 1e-15);
  auto drawn = functionsOn(pad);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0]->lineColor, 600);
  // A bad window (2 / 0.098 under option 1) is recorded, logged, but not drawn.
  log.str("");
  EXPECT_FALSE(fit(&g, 0, 3, f, 1, true, pad, log));
  const std::string no = "INFO :: Regression : goodFit : Option 1 : is the fit good?  no \n";
  EXPECT_EQ(log.str().substr(log.str().size() - no.size()), no);
  EXPECT_EQ(functionsOn(pad).size(), 1u);
}

TEST(Fit, UndeterminedWindowIsNotGoodAndOverwritesEveryField) {
  tk::Graph g = graphOf({0, 1, 2, 3, 3}, {0, 1, 2, 3, 4});
  tk::Canvas pad("pad", "pad", 200, 100, tk::Style{});
  fitstatus f{};
  std::ostringstream log;
  fit(&g, 0, 2, f, 1, false, pad, log);
  const double slope = g.function->par[1];
  for (auto [start, end] : {std::pair{3.0, 3.0}, {5.0, 9.0}, {2.5, 2.6}, {kNaN, 3.0}}) {
    for (int option : {1, 2, 3}) {
      f = fitstatus{7, 7, 7, 7, 7, 7, 7};
      EXPECT_FALSE(fit(&g, start, end, f, option, false, pad, log));
      EXPECT_EQ(f.NDF, 0);
      EXPECT_EQ(f.ChiSquared, 0);
      EXPECT_TRUE(std::isnan(f.ParameterA) && std::isnan(f.ParameterB));
      EXPECT_TRUE(std::isnan(f.ErrorA) && std::isnan(f.ErrorB));
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
  EXPECT_EQ(fitleft(&g, 300, 100, c, true, pad, log), 1.0);
  EXPECT_EQ(log.str(),
            "INFO :: LinearFit: fitleft: degrees  2  Chisquare 2\n"
            "INFO :: LinearFit: fitleft: status   1\n");
  EXPECT_DOUBLE_EQ(c.first, 2.0);
  EXPECT_DOUBLE_EQ(c.second, 1.0 / std::sqrt(3.0));
  EXPECT_EQ(g.function->lineColor, 632);
  const auto drawn = functionsOn(pad);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0]->lineColor, 2);
  EXPECT_EQ(drawn[0]->xmin, 100);
  EXPECT_EQ(drawn[0]->xmax, 300);
  // An empty window gives NaN and draws nothing.
  fitleft(&g, 500, 600, c, false, pad, log);
  EXPECT_TRUE(std::isnan(c.first) && std::isnan(c.second));
  EXPECT_EQ(functionsOn(pad).size(), 1u);
}

TEST(Histogram, BinsAreHalfOpenWithUnderAndOverflow) {
  tk::Histogram h("h", "t", 10, 0, 10);
  for (double x : {0.0, 0.999, 1.0, 9.999, 10.0, -1e-12, kNaN, kInf, -kInf}) h.Fill(x);
  EXPECT_EQ(h.entries(), 9);
  EXPECT_EQ(h.content(0), 2);
  EXPECT_EQ(h.content(1), 1);
  EXPECT_EQ(h.content(9), 1);
  EXPECT_EQ(h.underflow(), 2);
  EXPECT_EQ(h.overflow(), 3);  // the upper edge, NaN, + infinity
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
      {{0.2, 0.5, 0.8}, 0.14, 0.86}, {{5.0}, 3.8, 6.2},        {{0.0, 0.0}, 0.0, 1.2},
      {{1e-3, 2.7e-3}, 0.83e-3, 2.87e-3},
  };
  for (const auto& c : cases) {
    tk::Histogram h("h", "t", 500, 7, 7);
    for (double x : c.data) h.Fill(x);
    const double step = tk::niceStep(c.high - c.low, 10);
    EXPECT_LE(h.low(), c.low + 1e-9 * step);
    EXPECT_GE(h.high(), c.high - 1e-9 * step);
    EXPECT_NEAR(h.low() / step, std::round(h.low() / step), 1e-6);
    EXPECT_NEAR(h.high() / step, std::round(h.high() / step), 1e-6);
    if (c.low == 0) {
      EXPECT_EQ(h.low(), 0.0);
    }
    EXPECT_EQ(h.overflow() + h.underflow(), 0);
  }
  // Edges that are not numbers also leave the range to the data; NaN overflows.
  tk::Histogram h("h", "t", 5, kNaN, 1);
  h.Fill(kNaN);
  h.Fill(2);
  EXPECT_LE(h.low(), 1.8);
  EXPECT_GE(h.high(), 2.2);
  EXPECT_EQ(h.overflow(), 1);
}

TEST(PlottingChiSquared, SavesThreeFiguresUnderTheSafeGapName) {
  testsupport::ScratchDir dir;
  std::ostringstream out, err;
  tk::Console console(out, err);
  std::vector<fitstatus> fits = {{10, 3.5, 0, 0, 0, 0, 0}, {9, 1.25, 0, 0, 0, 0, 0}};
  for (int i = 0; i < 40; ++i) fits.push_back({i % 3 ? 5 : 0, i % 7 ? 0.1 * i : kNaN, 0, 0, 0, 0, 0});
  EXPECT_FALSE(plottingChiSquared(fits, "RE3/B", 1, dir.path() + "/", false, tk::Style{}, ".png",
                                  console));
  EXPECT_EQ(testsupport::listDir(dir.path()),
            (std::vector<std::string>{"RE3_B_ChiS.png", "RE3_B_GoodNessOfFitH.png", "RE3_B_NDf.png"}));
  EXPECT_FALSE(console.failed());
  // The caller's list is left in its order.
  EXPECT_EQ(fits.size(), 42u);
  EXPECT_EQ(fits[0].ChiSquared, 3.5);
  EXPECT_EQ(fits[1].ChiSquared, 1.25);
  EXPECT_TRUE(std::isnan(fits[2].ChiSquared));

  testsupport::ScratchDir empty;
  plottingChiSquared({}, "GAP", 1, empty.path() + "/", true, tk::Style{}, ".png", console);
  EXPECT_TRUE(testsupport::listDir(empty.path()).empty());
  EXPECT_EQ(out.str(), "");

  const std::string missing = dir.path() + "/no/such/";
  plottingChiSquared(fits, "GAP", 2, missing, false, tk::Style{}, ".png", console);
  EXPECT_TRUE(console.failed());
  EXPECT_NE(err.str().find(missing + "GAP_GoodNessOfFitH.png"), std::string::npos);
}
