// Helpers shared by the fit and search tests: a graph from point lists, and the
// closed-form least-squares line computed apart from the library.
#pragma once

#include <cmath>
#include <vector>

#include "toolkit/Graph.h"

namespace fitsupport {

inline tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

struct Ols {
  double slope, intercept, chi2, errSlope, errIntercept;
};

// Ordinary least squares of points [from, to) from its sums (all when to is 0);
// errors from the residual variance.
inline Ols ols(const std::vector<double>& x, const std::vector<double>& y, std::size_t from = 0,
               std::size_t to = 0) {
  if (to == 0) to = x.size();
  const double n = static_cast<double>(to - from);
  long double mx = 0, my = 0, sxx = 0, sxy = 0, chi2 = 0;
  for (std::size_t i = from; i < to; ++i) mx += x[i] / n, my += y[i] / n;
  for (std::size_t i = from; i < to; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  Ols r{};
  r.slope = static_cast<double>(sxy / sxx);
  r.intercept = static_cast<double>(my - r.slope * mx);
  for (std::size_t i = from; i < to; ++i) chi2 += std::pow(y[i] - r.slope * x[i] - r.intercept, 2);
  r.chi2 = static_cast<double>(chi2);
  r.errSlope = static_cast<double>(std::sqrt(chi2 / (n - 2) / sxx));
  r.errIntercept = static_cast<double>(std::sqrt(chi2 / (n - 2) * (1 / n + mx * mx / sxx)));
  return r;
}

}  // namespace fitsupport
