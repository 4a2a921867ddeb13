// The campaign report's history: every gap found in two or more results files,
// its knee resistivity against the scan date, its drift, and the temperature
// coefficient the campaign itself holds (aux/CampaignFit), all from the results
// tables alone; then that part of the page and its figures.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "aux/CampaignFit.h"
#include "toolkit/Console.h"
#include "tools/Limits.h"
#include "tools/CampaignVerdicts.h"
#include "tools/ReportInputs.h"
#include "tools/ReportPage.h"

// What the report is told about temperature and drift.
struct HistoryOptions {
  std::optional<double> alpha;      // --temperature-coefficient ALPHA: used as given
  bool fitAlpha = false;            // --temperature-coefficient fit: the campaign's own
  std::optional<double> reference;  // --reference-temperature T0
  double maxDriftPercent = kDefaultMaxDriftPercent;  // --max-drift
};

// One knee result in the history and the row it comes from.
struct HistoryPoint {
  std::size_t scan = 0, row = 0;  // indices into the scans and their rows
  std::string date;  // the scan's date as results.csv gives it
};

struct CampaignHistory {
  std::vector<CampaignRecord> records;  // knee results with a date and a temperature
  std::vector<HistoryPoint> points;     // one a record
  CampaignFit fit;
  double reference = 20.0;  // T0 of the reference values
  double maxDriftPercent = kDefaultMaxDriftPercent;
  std::string alphaText;    // where alpha for the reference values comes from, in words
  long undated = 0;         // knee results without a scan date, left out
  long noTemperature = 0;   // ... without a temperature, left out
};

// The history of the campaign's knee results. alpha for the reference values:
// as given, or fitted with fitAlpha (none when the campaign holds none), else
// the alpha_per_c the results files were made with when they all agree, else
// none (rho as measured). T0 likewise: as given, else the files', else 20 C.
CampaignHistory campaignHistory(const std::vector<ScanTable>& scans, const HistoryOptions& options);

// The page's history and temperature-coefficient sections, painting their
// figures into figuresDir (ending in "/", existing): history_<n>.png per gap,
// drift.png, alpha_residuals.png and alpha_partial.png. With `limits`, each
// history figure draws the gap's knee_rho_ohm_cm limits as a band. A figure that
// cannot be written is printed through `console`, added to `failures` and left
// off the page. Once `stopAsked` says so, no further figure is painted.
std::string historySections(const CampaignHistory& history, const Limits* limits, const std::string& figuresDir,
                            tk::Console& console, tk::Failures& failures, const StopAsked& stopAsked = {});

// The DRIFT verdicts: a row (quantity drift_percent_per_month, the drift and its
// error, -max and max as its limits) added to each drifting gap's latest scan,
// its verdict and the counts updated.
void addDriftVerdicts(const std::vector<ScanTable>& scans, const CampaignHistory& history, CampaignVerdicts& verdicts);

// verdicts.csv's comment line of the campaign's own alpha: alpha_fit_per_c,
// alpha_fit_err (none when it has none), its gaps, results and chi2/ndf.
std::vector<std::string> historyComments(const CampaignHistory& history);

// The provenance with the alpha and T0 of the reference values, when the report
// gives them (as given, or the campaign's own).
ReportProvenance withHistory(ReportProvenance provenance, const CampaignHistory& history);
