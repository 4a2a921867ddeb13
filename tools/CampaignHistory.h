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
  const ResultsRow* row = nullptr;
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

// The days since 1970-01-01 of an ISO 8601 date ("2026-03-14", a time after it
// ignored), or none for text that is no calendar date.
std::optional<double> isoDays(const std::string& text);

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

// What verdicts.csv takes from the history: one entry per DRIFT gap (named with
// the scan of its latest result) and the campaign's own alpha and its error as
// text ("" when it has none).
struct HistoryVerdicts {
  struct Drift {
    std::string scan, gap;  // scan: the gap's latest
    double perMonth = 0.0, error = 0.0, limit = 0.0;
  };
  std::vector<Drift> drifting;
  std::string alphaFit, alphaFitError;
};
HistoryVerdicts historyVerdicts(const CampaignHistory& history);
