// Goodness bands, and the window and level fits with their log lines and drawings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "aux/Regression.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

std::vector<int> coloursDrawnOn(const tk::Canvas& pad) {
  std::vector<int> out;
  for (const auto& item : pad.items()) {
    if (item.kind == tk::Canvas::Item::Kind::Function) out.push_back(item.function.front().lineColor);
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
      {0, 0, 1, false, kNaN},        {0, 5, 1, false, kInf},       {0.07, 3, 2, false, 0.07},
      {0.12, 3, 2, false, 0.12},     {0.0701, 300, 2, true, 0.0701}, {0.1199, 3, 2, true, 0.1199},
      {0.007, 3, 3, false, 0.007},   {0.02, 3, 3, false, 0.02},    {0.0199, 3, 3, true, 0.0199},
      {kNaN, 3, 3, false, kNaN},     {0.1, 10, 0, false, 300000},  {0.1, 10, 4, false, 300000},
  };
  for (const auto& c : cases) {
    std::ostringstream log;
    double g = -7;
    EXPECT_EQ(goodFit(c.chi2, c.ndf, g, c.option, false, log), c.good) << c.chi2 << " " << c.option;
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(g) : g == c.value) << c.chi2 << " " << c.option;
    EXPECT_EQ(log.str(), "");
  }
}

// Four points whose line is 0.2 a (x + 1) and whose chi-square is 0.8 a^2.
TEST(Fit, GoodWindowIsRecordedLoggedAndDrawnInBlueABadOneOnlyRecorded) {
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
  EXPECT_NEAR(f.ParameterA, 0.2 * a, 1e-15);
  EXPECT_NEAR(f.ParameterB, 0.2 * a, 1e-15);
  EXPECT_NEAR(f.ErrorA, std::sqrt(0.049 / 5), 1e-15);  // Sxx = 5, scaled by sqrt(chi2 / NDF)
  EXPECT_EQ(g.function->lineColor, 600);
  EXPECT_EQ(coloursDrawnOn(pad), std::vector<int>{600});
  EXPECT_FALSE(fit(&g, 0, 3, f, 1, false, pad, log));  // 2 / 0.098 under option 1
  EXPECT_EQ(coloursDrawnOn(pad), std::vector<int>{600});

  // A window without a line is never good and overwrites every field.
  for (int option : {1, 2, 3}) {
    f = fitstatus{7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(fit(&g, 2.5, 2.6, f, option, false, pad, log));
    EXPECT_TRUE(f.NDF == 0 && f.ChiSquared == 0 && f.Goodness != 7);
    EXPECT_TRUE(std::isnan(f.ParameterA) && std::isnan(f.ParameterB) && std::isnan(f.ErrorA) && std::isnan(f.ErrorB));
  }
}

TEST(FitLeft, LevelLoggedAttachedInRedAndDrawn) {
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
  EXPECT_EQ(coloursDrawnOn(pad), std::vector<int>{2});
  fitleft(&g, 500, 600, c, false, pad, log);  // no point: NaN, nothing drawn
  EXPECT_TRUE(std::isnan(c.first) && std::isnan(c.second));
  EXPECT_EQ(coloursDrawnOn(pad).size(), 1u);
}
