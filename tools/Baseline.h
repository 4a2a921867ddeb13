// The campaign report against an earlier campaign (--baseline PATH): each gap's
// resistivity at the reference temperature now and then, the change in percent
// with its error, flagged beyond 3 sigma (aux/BaselineCompare), written as
// baseline.csv and as the page's "Baseline" section with its figures.
//
// Both campaigns' rho_ref are made alike, with the alpha and T0 of the report's
// history (tools/CampaignHistory.h): knee_rho_ref where results.csv holds it
// for that alpha and T0, else knee_rho exp(alpha (T - T0)) with T the mean
// temperature of the points the knee fit used above the knee (the same number),
// or knee_rho as measured when the report has no alpha.
#pragma once

#include <string>
#include <vector>

#include "aux/BaselineCompare.h"
#include "toolkit/Console.h"
#include "tools/CampaignHistory.h"
#include "tools/ReportInputs.h"
#include "tools/ReportPage.h"

// The earlier campaign as read.
struct BaselineCampaign {
  std::string path;               // as given
  std::vector<ScanTable> tables;  // its results files, a failed one with its error
};

// Reads the baseline: PATH is a results file (any name) or a directory tree of
// results.csv files, read as the report reads its own (tools/ReportInputs: no
// link followed, size bounds). A usage error (no path, a path missing, a link,
// neither a regular file nor a directory, no results.csv under it, no gap read
// from any) is written to console.err as "gapohm: --baseline PATH: what" with the
// help hint, and returns 2 before anything is written; a file that fails among
// others is printed, added to `failures` and kept with its error. Else 0.
int readBaseline(const std::string& path, BaselineCampaign& out, tk::Console& console, tk::Failures& failures);

// A warning when files of the baseline are also among the campaign's own (their
// results would be compared with themselves); "" when none are.
std::string baselineOverlapWarning(const BaselineCampaign& baseline, const std::vector<std::string>& resultsFiles);

// The comparison and how its rho_ref were made.
struct BaselineReport {
  const BaselineCampaign* campaign = nullptr;
  BaselineComparison comparison;
  double alpha = 0.0, alphaError = 0.0, reference = 20.0;
  std::string alphaText;  // where alpha comes from, in words (the history's)
};

// Compares the campaign's tables with the baseline's, rho_ref made with the
// history's alpha and T0 (its error passed on when alpha is the campaign's own fit).
BaselineReport compareWithBaseline(const std::vector<ScanTable>& scans, const BaselineCampaign& baseline,
                                   const CampaignHistory& history);

// baseline.csv: the header
// gap,baseline_rho_ref,baseline_err,rho_ref,err,change_pct,change_err_pct,sigma,flag
// then one row per gap in both (the table's order; flag CHANGED or empty), then
// the gaps without a comparison, numbers empty and flag ONLY BASELINE, ONLY NOW
// or NO RHO_REF.
std::string baselineCsv(const BaselineReport& report);

// The closing line's words: "N gaps compared with the baseline, F changed beyond 3 sigma".
std::string baselineSummary(const BaselineReport& report);

// The page's Baseline section, painting its figure into figuresDir (ending in
// "/", existing) as baseline_1.png, baseline_2.png, ... (kBaselineGapsPerFigure
// gaps each, in the table's order, one y range for all). A figure that cannot be
// written is printed, added to `failures` and left off the page; once
// `stopAsked` says so none is painted and the page says so.
inline constexpr std::size_t kBaselineGapsPerFigure = 40;
std::string baselineSection(const BaselineReport& report, const std::string& figuresDir, tk::Console& console,
                            tk::Failures& failures, const StopAsked& stopAsked = {});
