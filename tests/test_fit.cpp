// The line and level fits the resistivities rest on, checked against the
// closed-form least-squares sums computed here, apart from the library.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/FitSupport.h"
#include "toolkit/Fit.h"

using fitsupport::graphOf;
using fitsupport::ols;
using fitsupport::Ols;

// An ohmic stretch: 0.02 nA/cm^2 per V on an offset, with unit-sized noise.
TEST(FitLine, MatchesClosedFormLeastSquaresOnNoisyPoints) {
  for (unsigned seed : {1u, 42u}) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.8);
    std::vector<double> x, y;
    for (int i = 0; i < 40; ++i) {
      x.push_back(1200.0 + 25.0 * i);
      y.push_back(0.02 * x.back() - 11.0 + noise(rng));
    }
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
    EXPECT_NEAR(f->par[1], 0.02, 4 * f->err[1]);  // the known slope, within errors
  }
}

TEST(FitLine, WindowEndsAreInclusiveInEitherOrder) {
  tk::Graph g = graphOf({100, 200, 300, 400, 500, 600}, {1, 2.5, 2.9, 4.2, 5.1, 9});
  const auto f = tk::fitLine(g, 500, 200, "f2");  // ends given in reverse
  ASSERT_TRUE(f);
  EXPECT_EQ(f->npoints, 4);
  EXPECT_NEAR(f->par[1], ols({200, 300, 400, 500}, {2.5, 2.9, 4.2, 5.1}).slope, 1e-12);
  ASSERT_TRUE(g.function);
  EXPECT_EQ(g.function->xmin, 200);
  EXPECT_EQ(g.function->xmax, 500);
  EXPECT_EQ(g.function->par[1], f->par[1]);
  EXPECT_EQ(tk::fitLine(g, 200, 500, "f2")->chi2, f->chi2);
  EXPECT_EQ(tk::fitLine(g, 199.5, 500.5, "f2")->npoints, 4);
  EXPECT_EQ(tk::fitLine(g, 200.5, 499.5, "f2")->npoints, 2);
  // Equal ends take only the points at that HV: a level, but no line.
  tk::Graph twin = graphOf({100, 200, 200, 300}, {1, 2, 3, 4});
  EXPECT_FALSE(tk::fitLine(twin, 200, 200, "f2"));
  const auto level = tk::fitConstant(twin, 200, 200, "f2");
  ASSERT_TRUE(level);
  EXPECT_EQ(level->npoints, 2);
  EXPECT_DOUBLE_EQ(level->par[0], 2.5);
}

// Errors are those of unit point errors, scaled by sqrt(chi2 / NDF) only when
// there is scatter and NDF > 0; NDF never goes below 0.
TEST(FitErrors, ScaledOnlyWithScatterAndPositiveNdf) {
  tk::Graph g = graphOf({1, 3}, {5, 9});  // exact, NDF 0
  const auto f = tk::fitLine(g, 1, 3, "f2");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ndf, 0);
  EXPECT_NEAR(f->par[1], 2.0, 1e-12);
  EXPECT_NEAR(f->err[1], std::sqrt(1.0 / 2.0), 1e-12);
  EXPECT_NEAR(f->err[0], std::sqrt(0.5 + 4.0 / 2.0), 1e-12);
  EXPECT_EQ(tk::fitConstant(g, 1, 1, "f2")->ndf, 0);

  tk::Graph exact = graphOf({0, 1, 2, 3}, {1, 3, 5, 7});  // chi2 0, NDF 2
  const auto e = tk::fitLine(exact, 0, 3, "f2");
  ASSERT_TRUE(e);
  ASSERT_EQ(e->chi2, 0.0);
  EXPECT_NEAR(e->err[1], std::sqrt(1.0 / 5.0), 1e-12);
  EXPECT_NEAR(e->err[0], std::sqrt(0.25 + 2.25 / 5.0), 1e-12);

  tk::Graph one = graphOf({700}, {0.4});
  EXPECT_EQ(tk::fitConstant(one, 700, 700, "f2")->err[0], 1.0);
  tk::Graph flat = graphOf({1, 2, 3, 4}, {2, 2, 2, 2});
  EXPECT_DOUBLE_EQ(tk::fitConstant(flat, 1, 4, "f2")->err[0], 0.5);
}

TEST(FitLine, UndeterminedWindowsLeaveTheGraphAlone) {
  tk::Graph g = graphOf({100, 200, 300, 300, 300}, {1, 2, 3, 4, 5});
  ASSERT_TRUE(tk::fitLine(g, 100, 300, "f2"));
  const double slope = g.function->par[1];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // No point, one point, one HV, the same by range, no usable window.
  for (auto [a, b] :
       {std::pair{400.0, 500.0}, {150.0, 250.0}, {300.0, 300.0}, {250.0, 1e3}, {nan, 300.0}}) {
    EXPECT_FALSE(tk::fitLine(g, a, b, "f2")) << a << " " << b;
  }
  EXPECT_FALSE(tk::fitConstant(g, 400, 500, "f2"));
  tk::Graph empty;
  EXPECT_FALSE(tk::fitLine(empty, 0, 1, "f2"));
  EXPECT_FALSE(tk::fitConstant(empty, 0, 1, "f2"));
  EXPECT_EQ(g.function->par[1], slope);
}
