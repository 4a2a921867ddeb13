// The line and level fits the resistivities rest on, checked against the
// closed-form least-squares sums computed here, apart from the library.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "toolkit/Fit.h"

namespace {

struct Ols {
  double slope, intercept, chi2, errSlope, errIntercept;
};

// Ordinary least squares from its sums; errors from the residual variance.
Ols ols(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = static_cast<double>(x.size());
  long double sx = 0, sy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
  }
  const long double mx = sx / n, my = sy / n;
  long double sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  Ols r{};
  r.slope = static_cast<double>(sxy / sxx);
  r.intercept = static_cast<double>(my - r.slope * mx);
  long double chi2 = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double d = y[i] - (r.slope * x[i] + r.intercept);
    chi2 += d * d;
  }
  r.chi2 = static_cast<double>(chi2);
  const long double s2 = chi2 / (n - 2);
  r.errSlope = static_cast<double>(std::sqrt(s2 / sxx));
  r.errIntercept = static_cast<double>(std::sqrt(s2 * (1 / n + mx * mx / sxx)));
  return r;
}

tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

// An ohmic stretch: 0.02 nA/cm^2 per V on an offset, with unit-sized noise.
void noisyLine(std::vector<double>& x, std::vector<double>& y, int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.8);
  for (int i = 0; i < n; ++i) {
    x.push_back(1200.0 + 25.0 * i);
    y.push_back(0.02 * x.back() - 11.0 + noise(rng));
  }
}

}  // namespace

TEST(FitLine, MatchesClosedFormLeastSquaresOnNoisyPoints) {
  for (unsigned seed : {1u, 7u, 42u}) {
    std::vector<double> x, y;
    noisyLine(x, y, 40, seed);
    tk::Graph g = graphOf(x, y);
    const auto f = tk::fitLine(g, x.front(), x.back(), "f2");
    ASSERT_TRUE(f);
    const Ols want = ols(x, y);
    EXPECT_NEAR(f->par[1], want.slope, 1e-12 * std::fabs(want.slope));
    EXPECT_NEAR(f->par[0], want.intercept, 1e-9 * std::fabs(want.intercept));
    EXPECT_NEAR(f->chi2, want.chi2, 1e-9 * want.chi2);
    EXPECT_NEAR(f->err[1], want.errSlope, 1e-9 * want.errSlope);
    EXPECT_NEAR(f->err[0], want.errIntercept, 1e-9 * want.errIntercept);
    EXPECT_EQ(f->ndf, 38);
    EXPECT_EQ(f->npoints, 40);
    // The known slope is recovered within a few standard errors.
    EXPECT_NEAR(f->par[1], 0.02, 4 * f->err[1]);
  }
}

TEST(FitLine, AttachesTheFunctionOverTheOrderedWindow) {
  std::vector<double> x, y;
  noisyLine(x, y, 10, 3);
  tk::Graph g = graphOf(x, y);
  const auto f = tk::fitLine(g, x[8], x[2], "f2");  // ends given in reverse
  ASSERT_TRUE(f);
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->name, "f2");
  EXPECT_EQ(g.function->npar, 2);
  EXPECT_EQ(g.function->xmin, x[2]);
  EXPECT_EQ(g.function->xmax, x[8]);
  EXPECT_EQ(g.function->lineColor, 2);
  EXPECT_EQ(g.function->lineWidth, 2);
  EXPECT_EQ(g.function->par[1], f->par[1]);
  // The swapped window is the same window.
  const auto forward = tk::fitLine(g, x[2], x[8], "f2");
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->par[1], f->par[1]);
  EXPECT_EQ(forward->chi2, f->chi2);
}

TEST(FitLine, WindowEndsAreInclusive) {
  const std::vector<double> x = {100, 200, 300, 400, 500, 600};
  const std::vector<double> y = {1, 2.5, 2.9, 4.2, 5.1, 9};
  tk::Graph g = graphOf(x, y);
  const auto f = tk::fitLine(g, 200, 500, "f2");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->npoints, 4);
  const Ols want = ols({200, 300, 400, 500}, {2.5, 2.9, 4.2, 5.1});
  EXPECT_NEAR(f->par[1], want.slope, 1e-12);
  // Ends between points take only the points inside.
  const auto inner = tk::fitLine(g, 199.5, 500.5, "f2");
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->npoints, 4);
  const auto narrower = tk::fitLine(g, 200.5, 499.5, "f2");
  ASSERT_TRUE(narrower);
  EXPECT_EQ(narrower->npoints, 2);
}

TEST(FitLine, ErrorsStayUnscaledWithoutScatter) {
  // Two points: NDF 0, the line is exact; the errors are those of unit point
  // errors, (X^T X)^-1: 1 / Sxx for the slope, 1/n + mean^2 / Sxx for the intercept.
  tk::Graph two = graphOf({1, 3}, {5, 9});
  const auto f = tk::fitLine(two, 1, 3, "f2");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ndf, 0);
  EXPECT_NEAR(f->par[1], 2.0, 1e-12);
  EXPECT_NEAR(f->par[0], 3.0, 1e-12);
  EXPECT_NEAR(f->err[1], std::sqrt(1.0 / 2.0), 1e-12);
  EXPECT_NEAR(f->err[0], std::sqrt(0.5 + 4.0 / 2.0), 1e-12);
  EXPECT_TRUE(std::isfinite(f->err[0]));

  // A perfect line through four points: chi2 0, again unscaled errors.
  tk::Graph exact = graphOf({0, 1, 2, 3}, {1, 3, 5, 7});
  const auto e = tk::fitLine(exact, 0, 3, "f2");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ndf, 2);
  ASSERT_EQ(e->chi2, 0.0);
  EXPECT_NEAR(e->err[1], std::sqrt(1.0 / 5.0), 1e-12);
  EXPECT_NEAR(e->err[0], std::sqrt(0.25 + 2.25 / 5.0), 1e-12);
}

TEST(FitLine, EqualEndsTakeOnlyThePointsAtThatHv) {
  tk::Graph g = graphOf({100, 200, 200, 300}, {1, 2, 3, 4});
  // Both points at 200 V share one HV: no line can be determined.
  EXPECT_FALSE(tk::fitLine(g, 200, 200, "f2"));
  const auto level = tk::fitConstant(g, 200, 200, "f2");
  ASSERT_TRUE(level);
  EXPECT_EQ(level->npoints, 2);
  EXPECT_DOUBLE_EQ(level->par[0], 2.5);
}

TEST(FitLine, UndeterminedWindowsLeaveTheGraphAlone) {
  tk::Graph g = graphOf({100, 200, 300, 300, 300}, {1, 2, 3, 4, 5});
  const auto first = tk::fitLine(g, 100, 300, "f2");
  ASSERT_TRUE(first);
  const double slope = g.function->par[1];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(tk::fitLine(g, 400, 500, "f2"));   // no point
  EXPECT_FALSE(tk::fitLine(g, 150, 250, "f2"));   // one point
  EXPECT_FALSE(tk::fitLine(g, 300, 300, "f2"));   // three points, one HV
  EXPECT_FALSE(tk::fitLine(g, 250, 1000, "f2"));  // the same, by range
  EXPECT_FALSE(tk::fitLine(g, nan, 300, "f2"));   // no usable window
  EXPECT_FALSE(tk::fitConstant(g, 400, 500, "f2"));
  tk::Graph empty;
  EXPECT_FALSE(tk::fitLine(empty, 0, 1, "f2"));
  EXPECT_FALSE(tk::fitConstant(empty, 0, 1, "f2"));
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->par[1], slope);
}

TEST(FitConstant, MeanWithScatterScaledError) {
  const std::vector<double> y = {0.11, 0.13, 0.08, 0.12, 0.10, 0.09};
  std::vector<double> x;
  for (std::size_t i = 0; i < y.size(); ++i) x.push_back(500.0 + 50.0 * i);
  tk::Graph g = graphOf(x, y);
  const auto f = tk::fitConstant(g, x.front(), x.back(), "f2");
  ASSERT_TRUE(f);
  double mean = 0;
  for (double v : y) mean += v;
  mean /= y.size();
  double chi2 = 0;
  for (double v : y) chi2 += (v - mean) * (v - mean);
  EXPECT_NEAR(f->par[0], mean, 1e-15);
  EXPECT_NEAR(f->chi2, chi2, 1e-15);
  EXPECT_EQ(f->ndf, 5);
  EXPECT_NEAR(f->err[0], std::sqrt(chi2 / 5) / std::sqrt(6.0), 1e-15);
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->npar, 1);
  EXPECT_EQ(g.function->eval(1e6), f->par[0]);
}

TEST(FitConstant, NoScatterGivesTheUnitError) {
  tk::Graph one = graphOf({700}, {0.4});
  const auto f = tk::fitConstant(one, 700, 700, "f2");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ndf, 0);
  EXPECT_EQ(f->par[0], 0.4);
  EXPECT_EQ(f->err[0], 1.0);

  tk::Graph flat = graphOf({1, 2, 3, 4}, {2, 2, 2, 2});
  const auto c = tk::fitConstant(flat, 1, 4, "f2");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->chi2, 0.0);
  EXPECT_EQ(c->ndf, 3);
  EXPECT_DOUBLE_EQ(c->err[0], 0.5);
}

TEST(FitNdf, NeverNegative) {
  tk::Graph g = graphOf({1, 2}, {1, 2});
  const auto line = tk::fitLine(g, 1, 2, "f2");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->ndf, 0);
  const auto level = tk::fitConstant(g, 1, 1, "f2");
  ASSERT_TRUE(level);
  EXPECT_EQ(level->ndf, 0);
}
