#include "toolkit/Fit.h"

#include <gsl/gsl_fit.h>
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tk {

namespace {

// The points of the graph inside [low, high], both ends inclusive, in stored order.
struct Window {
  double low;
  double high;
  std::vector<double> x;
  std::vector<double> y;
};

Window selectWindow(const Graph& graph, double start, double end) {
  if (start > end) std::swap(start, end);
  Window w{start, end, {}, {}};
  const auto& gx = graph.GetX();
  const auto& gy = graph.GetY();
  w.x.reserve(gx.size());
  w.y.reserve(gx.size());
  for (std::size_t i = 0; i < gx.size(); ++i) {
    if (start <= gx[i] && gx[i] <= end) {
      w.x.push_back(gx[i]);
      w.y.push_back(gy[i]);
    }
  }
  return w;
}

// The parabolic errors are those of unit point errors; scaling them by the
// residual scatter only makes sense when there is scatter to measure.
bool scaleByScatter(double chi2, int ndf) { return ndf > 0 && chi2 > 0.0; }

Function baseFunction(const std::string& name, int npar, const Window& w) {
  Function f;
  f.name = name;
  f.npar = npar;
  f.npoints = static_cast<int>(w.x.size());
  f.ndf = std::max(0, f.npoints - npar);
  f.xmin = w.low;
  f.xmax = w.high;
  return f;
}

}  // namespace

std::optional<Function> lineFit(const Graph& graph, double start, double end, const std::string& name) {
  const Window w = selectWindow(graph, start, end);
  const std::size_t n = w.x.size();
  if (n < 2) return std::nullopt;
  // One HV only: the slope is undetermined (the normal equations are singular).
  if (std::all_of(w.x.begin(), w.x.end(), [&](double v) { return v == w.x.front(); })) {
    return std::nullopt;
  }

  Function f = baseFunction(name, 2, w);
  double c0 = 0.0, c1 = 0.0, cov00 = 0.0, cov01 = 0.0, cov11 = 0.0, sumsq = 0.0;
  gsl_fit_linear(w.x.data(), 1, w.y.data(), 1, n, &c0, &c1, &cov00, &cov01, &cov11, &sumsq);
  f.par[0] = c0;
  f.par[1] = c1;
  f.chi2 = sumsq;
  if (scaleByScatter(f.chi2, f.ndf)) {
    // For an unweighted fit GSL estimates the covariance from the residual
    // variance sumsq / (n - 2): exactly the unit-error covariance times chi2/NDF.
    f.err[0] = std::sqrt(cov00);
    f.err[1] = std::sqrt(cov11);
  } else {
    // No scatter to scale by (two points, or a perfect line): the unit-error
    // covariance (X^T X)^-1, which the weighted fit with weights 1 returns as is.
    const std::vector<double> ones(n, 1.0);
    double u0 = 0.0, u1 = 0.0, chisq = 0.0;
    gsl_fit_wlinear(w.x.data(), 1, ones.data(), 1, w.y.data(), 1, n, &u0, &u1, &cov00, &cov01,
                    &cov11, &chisq);
    f.err[0] = std::sqrt(cov00);
    f.err[1] = std::sqrt(cov11);
  }
  return f;
}

std::optional<Function> constantFit(const Graph& graph, double start, double end,
                                    const std::string& name) {
  const Window w = selectWindow(graph, start, end);
  const std::size_t n = w.y.size();
  if (n < 1) return std::nullopt;

  Function f = baseFunction(name, 1, w);
  const double mean = gsl_stats_mean(w.y.data(), 1, n);
  f.par[0] = mean;
  f.chi2 = gsl_stats_tss_m(w.y.data(), 1, n, mean);
  const double unitError = 1.0 / std::sqrt(static_cast<double>(n));
  f.err[0] = scaleByScatter(f.chi2, f.ndf) ? std::sqrt(f.chi2 / f.ndf) * unitError : unitError;
  return f;
}

std::optional<Function> fitLine(Graph& graph, double start, double end, const std::string& name) {
  std::optional<Function> f = lineFit(graph, start, end, name);
  if (f) graph.function = f;
  return f;
}

std::optional<Function> fitConstant(Graph& graph, double start, double end, const std::string& name) {
  std::optional<Function> f = constantFit(graph, start, end, name);
  if (f) graph.function = f;
  return f;
}

}  // namespace tk
