// The campaign's view of its gaps over time and temperature, from the knee fit's
// results of many scans: how each gap measured more than once drifts, and the
// temperature coefficient the campaign itself holds when its gaps were measured at
// several temperatures.
//
// Bakelite's resistivity falls with temperature and may age, so each result is
//
//   ln rho_i = a_g + b_g t_i - alpha (T_i - T0)
//
// a_g a gap's intercept, b_g its drift (none for a gap measured on one date), t_i
// the scan's date in days, T_i the mean temperature of the points the knee fit
// used above the knee, weights 1 / sigma(ln rho_i)^2 (sigma(ln rho) = sigma_rho /
// rho). Fitting the drifts together with alpha keeps an ageing gap from passing
// its trend on to alpha. The intercepts and drifts are profiled out exactly, gap
// by gap (each gap's ln rho and T are replaced by their residuals from its own
// weighted line in time), leaving a one-parameter fit of alpha; the same alpha,
// errors and chi-square as the full fit, in time linear in the results.
//
// A pure module: records in, one value out. Nothing is printed, drawn or written.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// A month in drifts, days (the mean Gregorian month).
inline constexpr double kDaysPerMonth = 30.44;
// A drift is DRIFT when it is further than this many errors from zero ...
inline constexpr double kDriftSignificance = 3.0;
// ... and larger than --max-drift, percent per month (this by default).
inline constexpr double kDefaultMaxDriftPercent = 5.0;
// The temperature spread (C) a campaign needs for its own alpha.
inline constexpr double kLeastTemperatureSpread = 2.0;

// One knee result of one gap in one scan.
struct CampaignRecord {
  std::string gap, scan;
  double days = 0.0;         // the scan's date, days from any fixed origin
  double temperature = 0.0;  // T, C
  double lnRho = 0.0;        // ln of the knee resistivity at T (Ohm cm)
  double lnRhoError = 0.0;   // its error: sigma_rho / rho
};

// A gap found in two or more records, and its drift: a weighted straight line
// of ln rho_ref = ln rho + alpha (T - T0) against time.
struct GapDrift {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::string gap;
  std::vector<std::size_t> records;  // its records, indices into the input
  std::size_t dates = 0;             // distinct dates among them
  bool fitted = false;               // two dates or more
  double perMonth = kNaN, perMonthError = kNaN;  // percent per month, 100 (exp(30.44 b) - 1)
  double chi2 = kNaN, ndf = kNaN;    // of the line
  bool errorScaled = false;          // the error scaled by sqrt(chi2 / ndf) (above 1)
  bool drifting = false;             // DRIFT: beyond 3 errors and above the largest drift allowed
  // The line itself: ln rho_ref = lnAtFirst + lnPerDay (t - firstDay).
  double firstDay = kNaN, lnAtFirst = kNaN, lnPerDay = kNaN;
  // The repeated rho_ref against their weighted mean (do they agree?).
  double constantChi2 = kNaN, constantNdf = kNaN;
};

// Why a campaign has no alpha of its own.
enum class AlphaState { fitted, tooLittleSpread, undetermined };

// One record in the alpha fit: its residual from the full model, and its partial
// residual ln rho - a_g - b_g t = -alpha (T - T0) + residual, which a figure
// draws against T beside the line -alpha (T - T0).
struct AlphaResidual {
  std::size_t record = 0;  // index into the input
  double temperature = 0.0, residual = 0.0, partial = 0.0, error = 0.0;
};

struct AlphaFit {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  AlphaState state = AlphaState::undetermined;
  std::string why;  // one sentence when there is no alpha, else ""
  double alpha = kNaN, error = kNaN;  // per degree C
  bool errorScaled = false;           // error scaled by sqrt(chi2 / ndf), which is above 1
  std::size_t gaps = 0, points = 0;   // the gaps and results that hold information on alpha
  double chi2 = kNaN;
  long ndf = 0;
  double spread = kNaN;  // highest minus lowest T of those results, C
  std::vector<AlphaResidual> residuals;
};

// Where the coefficient of the reference values comes from.
enum class AlphaSource { given, fitted, none };

struct CampaignSettings {
  std::optional<double> alpha;   // a coefficient to use as given; none: the campaign's own
  double reference = 20.0;       // T0, C
  double maxDriftPercent = kDefaultMaxDriftPercent;
};

struct CampaignFit {
  AlphaFit alphaFit;                     // the campaign's own alpha (always tried)
  AlphaSource source = AlphaSource::none;
  double alphaUsed = 0.0;                // for rho_ref and the drifts (0 for none)
  std::vector<GapDrift> drifts;          // gaps with two records or more, by name
};

// Fits the campaign. Records whose numbers are not finite or whose error is not
// positive take no part. alpha is fitted when the results of the gaps that hold
// information on it span at least kLeastTemperatureSpread with two distinct
// temperatures; its error is scaled by sqrt(chi2 / ndf) when that exceeds 1.
// The drifts use the given alpha, else the fitted one (their errors then include
// its error), else none (ln rho as measured). A drift's error is scaled like
// alpha's by its own line's chi-square.
CampaignFit fitCampaign(const std::vector<CampaignRecord>& records, const CampaignSettings& settings);

// ln rho_ref of a record at alpha and T0.
inline double lnRhoReference(const CampaignRecord& r, double alpha, double reference) {
  return r.lnRho + alpha * (r.temperature - reference);
}
