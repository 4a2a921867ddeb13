// Two campaigns compared gap by gap: how far each gap's resistivity at the
// reference temperature moved between an earlier campaign (the baseline) and
// this one, with the error of both sides, and which moves are beyond chance.
//
// Each side's results of one gap are combined into one ln rho_ref: the weighted
// mean (weights 1 / sigma(ln rho_ref)^2), its error scaled by sqrt(chi2 / ndf)
// when the results scatter more than their errors allow. Repeats within one
// campaign measure the same state of the gap; their mean uses all of them, and
// the scaling keeps its error honest when they disagree (a gap that moved within
// the campaign gets a wider error, never a false precision).
//
// The change is taken on ln rho_ref: d = ln rho_now - ln rho_base, its error the
// two sides' errors in quadrature (and, with a coefficient alpha that carries an
// error, sigma_alpha times the difference of the sides' mean temperatures: both
// sides are referred to T0 with the same alpha). The change in percent is
// 100 (e^d - 1) with the error 100 e^d sigma_d; its significance d / sigma_d,
// a symmetric test for a rise and a fall alike.
//
// A pure module: records in, one value out. Nothing is printed or written.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// A change further than this many errors from zero is flagged.
inline constexpr double kBaselineSignificance = 3.0;

// One result of one gap in one campaign. A gap that is in the campaign without a
// usable rho_ref (no knee result, no temperature to refer it to T0) has a result
// without lnRhoRef: it is present, but has nothing to compare.
struct GapReference {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::string gap;
  std::optional<double> lnRhoRef;   // ln of rho_ref, Ohm cm
  double lnError = kNaN;            // sigma(ln rho_ref) = sigma_rho / rho, positive
  double temperature = kNaN;        // the T its rho was measured at, C (NaN: not known)
};

// One side's results of a gap, combined.
struct CombinedReference {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  double lnRhoRef = kNaN, lnError = kNaN;
  double temperature = kNaN;  // the weighted mean T (NaN when one result has none)
  std::size_t results = 0;
  double chi2 = 0.0;          // of the results about their mean, ndf = results - 1
  bool errorScaled = false;   // the error scaled by sqrt(chi2 / ndf), which exceeds 1
};

struct BaselineChange {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::string gap;
  CombinedReference baseline, now;
  double lnChange = kNaN, lnChangeError = kNaN;
  double percent = kNaN, percentError = kNaN;  // 100 (e^d - 1), 100 e^d sigma_d
  double sigma = kNaN;                          // d / sigma_d
  bool flagged = false;                         // |sigma| > kBaselineSignificance
};

struct BaselineComparison {
  // The gaps with a rho_ref on both sides: flagged first, the larger |sigma|
  // first, then the others by name.
  std::vector<BaselineChange> changes;
  std::size_t flagged = 0;
  // Gaps by name: in one campaign only, and in both but without a rho_ref on one
  // side or both (each list sorted, each gap once).
  std::vector<std::string> baselineOnly, nowOnly, noReference;
};

// Compares the campaigns. Results whose numbers are not finite or whose error is
// not positive count as results without a rho_ref. alphaError is the error of
// the coefficient both sides were referred to T0 with (0 for one taken as exact).
BaselineComparison compareCampaigns(const std::vector<GapReference>& baseline, const std::vector<GapReference>& now,
                                    double alphaError = 0.0);

// The weighted mean of the usable results among `results` (none: results 0).
CombinedReference combineReferences(const std::vector<const GapReference*>& results);
