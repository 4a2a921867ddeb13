// Generated gap curves with known truth for the knee fit's tests, benchmark and
// comparison table: a dark level c, then an ohmic rise of slope s reached through
// a knee at V0, with Gaussian scatter proportional to the top current.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "aux/GapRules.h"
#include "aux/KneeFit.h"

namespace kneecurves {

enum class Shape {
  Softplus,     // c + s w ln(1 + exp((V - V0) / w)): the knee fit's own model
  Hinge,        // c + s max(V - V0, 0): a sharp corner
  GaussKnee,    // the hinge smoothed by a Gaussian of standard deviation w
  Exponential,  // c + s w exp((V - V0) / w): no ohmic stretch at all
};

struct Gap {
  Shape shape = Shape::Softplus;
  double c = 0.2, s = 0.05, v0 = 1700, w = 10;  // nA/cm^2, nA/cm^2 per V, V, V
  double low = 1000, high = 2300;               // HV range, V
  int points = 66;
  double noise = 0.02;  // Gaussian scatter, fraction of the noiseless top current
  // The scatter grows with the current instead, from a fifth of its top value
  // at no current to all of it at the top: the points that pin the slope
  // scatter most.
  bool scatterGrows = false;
  // The scan warms from t0 by `rise` degrees C, evenly over its points; the ohmic
  // rise carries exp(alpha (T - 20)), so s is the slope at 20 C.
  double t0 = 20, rise = 0, alpha = 0;
  // A non-ohmic leakage added on top: `leak` of the top current at the top HV,
  // growing e-fold every leakScale V.
  double leak = 0, leakScale = 100;
};

struct Scan {
  std::vector<double> hv, j, t;  // HV, current density, temperature (degrees C)
};

inline double rhoOf(const Gap& g) { return 1e9 / (kGapLength * g.s); }

inline double shapeAt(const Gap& g, double v) {
  const double x = v - g.v0;
  switch (g.shape) {
    case Shape::Softplus:
      return kneeCurrent(g.c, g.s, g.v0, g.w, v);
    case Shape::Hinge:
      return g.c + g.s * std::max(x, 0.0);
    case Shape::GaussKnee: {  // E[max(x + e, 0)], e ~ N(0, w^2)
      const double u = x / g.w;
      const double pdf = std::exp(-0.5 * u * u) / std::sqrt(2 * std::acos(-1.0));
      return g.c + g.s * (x * 0.5 * std::erfc(-u / std::sqrt(2.0)) + g.w * pdf);
    }
    case Shape::Exponential:
      return g.c + g.s * g.w * std::exp(x / g.w);
  }
  return 0;
}

// The points in ascending HV, equally spaced from low to high, with scatter.
inline Scan generate(const Gap& g, std::mt19937& rng) {
  std::normal_distribution<double> unit(0.0, 1.0);
  const double sigma = g.noise * shapeAt(g, g.high);
  const double top = shapeAt(g, g.high);
  Scan s;
  for (int i = 0; i < g.points; ++i) {
    const double v = g.low + (g.high - g.low) * i / (g.points - 1);
    s.hv.push_back(v);
    s.t.push_back(g.t0 + g.rise * i / (g.points - 1));
    const double warm = std::exp(g.alpha * (s.t.back() - 20));
    double mean = warm == 1 ? shapeAt(g, v) : g.c + warm * (shapeAt(g, v) - g.c);
    if (g.leak > 0) mean += g.leak * top * std::exp((v - g.high) / g.leakScale);
    const double sd = g.scatterGrows ? sigma * (0.2 + 0.8 * std::fabs(mean / top)) : sigma;
    s.j.push_back(mean + sd * unit(rng));
  }
  return s;
}

// A realistic argon gap: HV from about 1000 to 2300 V in 45-80 steps, onset
// 1500-1900 V, resistivity 1e10-5e11 Ohm*cm (log-uniform), offset 0-0.5 nA/cm^2,
// knee 2-40 V, scatter 1-3 % of the top current, and at least 8 points past
// V0 + 2w.
inline Gap randomGap(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (;;) {
    Gap g;
    g.low = 950 + 150 * u(rng);
    g.high = 2150 + 150 * u(rng);
    g.points = 45 + static_cast<int>(36 * u(rng));
    g.v0 = 1500 + 400 * u(rng);
    g.s = 1e9 / (0.4 * std::pow(10.0, 10 + std::log10(50.0) * u(rng)));
    g.c = 0.5 * u(rng);
    g.w = 2 + 38 * u(rng);
    g.noise = 0.01 + 0.02 * u(rng);
    const double step = (g.high - g.low) / (g.points - 1);
    if ((g.high - g.v0 - 2 * g.w) / step >= 8) return g;
  }
}

// A realistic gap whose scan stops 3-12 points after V0 + w, its knee 5-40 V wide.
inline Gap cutShortGap(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Gap g = randomGap(rng);
  g.w = 5 + 35 * u(rng);
  const double step = (g.high - g.low) / (g.points - 1);
  const int above = 3 + static_cast<int>(10 * u(rng));
  g.points = static_cast<int>(std::floor((g.v0 + g.w - g.low) / step)) + 1 + above;
  g.high = g.low + step * (g.points - 1);
  return g;
}

}  // namespace kneecurves
