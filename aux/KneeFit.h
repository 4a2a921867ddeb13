// The smooth-knee fit: a second analysis of a gap's ohmic region that needs no
// choice of window. A gap conducts above an onset V0 spread over its area, so the
// ohmic line joins the dark level through a rounded knee of width w:
//
//   J(V) = c + s w softplus((V - V0) / w),   softplus(t) = ln(1 + e^t)
//
// c the offset (nA/cm^2), s the ohmic slope (nA/cm^2 per V), V0 the onset (the HV
// where the ohmic asymptote meets c), w the knee width (V). All points of the gap
// take part, so the slope is not biased by where a window happens to start.
//
// Bakelite conducts more when warm. When the scan's temperature drifts, the
// ohmic term of each point carries its own factor f_i = exp(alpha (T_i - T0)):
//
//   J_i = c + s_ref f_i w softplus((V_i - V0) / w)
//
// s_ref the slope at the reference temperature T0.
//
// A pure function: points in, one value out. Nothing is printed, written or drawn;
// the lines a verbose run shows come back in KneeFit::trace.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

// Fewest points of a gap the knee fit looks at.
inline constexpr std::size_t kKneeFewestPoints = 10;
// The range a fitted knee width may take (V); outside it the width is held.
inline constexpr double kKneeNarrowestWidth = 0.5;
inline constexpr double kKneeWidestWidth = 300.0;
// Widths up to this many HV steps bend between a few points: not resolved.
inline constexpr double kKneeResolvedSteps = 2.0;

// The temperature model of a fit: alpha per degree C, T0 in degrees C and each
// point's temperature, in the order of the fit's HV.
struct KneeTemperature {
  double alpha = 0.0;
  double reference = 20.0;
  std::vector<double> celsius;
};

// The result of fitKnee. Without a result (fitted false) the model numbers
// (offset to resistivityError) are NaN and usedAboveOnset is empty; the
// diagnostics (points, dropped, noise, durbinWatson, widthHeld) keep what was
// measured before the failing test (NaN or 0 where nothing was).
struct KneeFit {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  bool fitted = false;
  std::string reason;  // "" when fitted, else the first failed test, lowercase
  double offset = kNaN, offsetError = kNaN;  // c, nA/cm^2
  double slope = kNaN, slopeError = kNaN;    // s, nA/cm^2 per V
  double onset = kNaN, onsetError = kNaN;    // V0, V
  double width = kNaN, widthError = kNaN;    // w, V; the error NaN when w was held or w <= 1 V
  double resistivity = kNaN, resistivityError = kNaN;  // 1e9 / (0.4 s), Ohm*cm
  // The widths the points allow (68 %): those whose best (c, s, V0) raises the
  // residual sum by at most one estimated variance per point over the best fit.
  // The errors of c, s (so rho) and V0 include how far each reaches over them
  // from the optimum, on the set's longer side (half its spread when symmetric).
  double widthLow = kNaN, widthHigh = kNaN;  // V
  bool widthAtBound = false;  // w at its narrowest bound or held: the set tells what is known
  // At the bound with a set reaching wider than kKneeResolvedSteps median HV
  // steps: the points allow a bend they should show, yet prefer none, so V0 and
  // rho lean on the model's shape. A set within that only says the knee is
  // sharper than the scan's steps resolve (its bend falls between a few points).
  bool widthUnresolved = false;
  // With a temperature model: s, rho and their errors hold at meanTemperature,
  // the mean temperature of the kept points above V0; the reference values at T0.
  double meanTemperature = kNaN;  // degrees C
  double referenceResistivity = kNaN, referenceResistivityError = kNaN;  // Ohm*cm at T0
  // Curvature of the ohmic stretch: the t statistic of the quadratic term when
  // the residuals above V0 + widthHigh are regressed on (1, F, F^2), F the ohmic
  // term; curved when it is significant (two-sided 1 % of Student's t). A flag,
  // not a refusal.
  double curvature = kNaN;
  bool curved = false;
  double noise = kNaN;          // sqrt(SSR / (points - parameters)) of the kept points, nA/cm^2
  int points = 0;               // points kept for the final fit
  int dropped = 0;              // outliers dropped (0 or more, from one pass)
  double durbinWatson = kNaN;   // of the kept residuals in HV order
  bool widthHeld = false;       // the width was held at its grid value, not fitted
  // Indices into the caller's input order of the kept points with HV > V0
  // (ascending HV), e.g. to average their temperature.
  std::vector<std::size_t> usedAboveOnset;
  // Verbose lines without prefix or line feed: start values, polish, outlier pass,
  // each acceptance test with its numbers.
  std::vector<std::string> trace;
};

// The knee model J(V) = c + s f w softplus((V - V0) / w) for the given parameters,
// computed without overflow for any V; f the point's temperature factor (1: at the
// temperature the slope is given for). The fit, the figures that draw the fitted
// curve and the tests that make knee-shaped gaps all evaluate it here.
double kneeCurrent(double offset, double slope, double onset, double width, double hv,
                   double temperatureFactor = 1.0);
// The same for a fit's parameters (NaN for a fit without a result).
inline double kneeCurrent(const KneeFit& k, double hv) { return kneeCurrent(k.offset, k.slope, k.onset, k.width, hv); }

// Fits the knee to the gap's points (hv[i], current[i]), given in any order.
// Needs: two vectors of the same length, HV in V and current density in nA/cm^2.
// Guarantees: a result only when every acceptance test passes (a positive slope
// at least 5 of its errors, 5 points above V0 + widthHigh, 3 below V0 - w, Durbin-Watson
// of at least 1); else fitted is false and reason names the first failure (too
// few points, one HV only, a value that is not finite, no start value, singular
// fit, or a failed test). Errors are heteroscedasticity-robust (HC3) with the
// width held, widened by the width's 68 % set; the test of points above the knee
// counts above V0 + widthHigh. With `temperature` (its celsius as long as hv, all
// finite) the ohmic term carries each point's temperature factor. The same
// points in any order give the same result.
KneeFit fitKnee(const std::vector<double>& hv, const std::vector<double>& current,
                const KneeTemperature* temperature = nullptr);
