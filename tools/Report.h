// The campaign report: one self-contained page (index.html) over the results.csv
// of many runs, made on this machine or elsewhere (other machines, array jobs of a
// cluster's batch system) and gathered in one folder tree.
//
// This module is the command (--report, --limits) and the order of its steps; the
// parts are ReportInputs (finding and reading the results files), Limits (the
// limits file), Verdicts and CampaignVerdicts (verdicts.csv, the page's verdicts
// and provenance), SummaryFigures, Thumbnail and ReportPage (the page's text).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "toolkit/Console.h"
#include "tools/Baseline.h"
#include "tools/CampaignHistory.h"
#include "tools/Limits.h"
#include "tools/ReportPage.h"

// What a report is made with besides its tables.
struct ReportSettings {
  const Limits* limits = nullptr;  // none: no gap is judged (each is NO RESULT)
  ReportProvenance provenance;
  StopAsked stopAsked;             // empty: never stopped
  // Scans that left no table to read (a batch's failed scans), each with its
  // file and the reason as `error`: named on the page and in verdicts.csv.
  std::vector<ScanTable> unread;
  HistoryOptions history;  // the history's reference values and largest drift
  const BaselineCampaign* baseline = nullptr;  // an earlier campaign to compare with (none: no comparison)
};

// Writes the report of the given results.csv files into outputDir (created if
// missing; figures/ or thumbs/ that is a symbolic link is refused): index.html,
// verdicts.csv, campaign.tex, figures/ and thumbs/, with the history of the gaps
// measured more than once, their DRIFT rows and the campaign's own temperature
// coefficient (tools/CampaignHistory.h), and with a baseline baseline.csv and
// the page's comparison with it (tools/Baseline.h). Once settings.stopAsked says so, the
// figures and thumbnails not yet made are left out and the page says so.
// A file that cannot be read or parsed is reported ("file:line: what") and named
// on the page; the others are still reported. Limits lines that hold for no gap
// are named in one warning. Every failure is added to `failures`. With `counts`,
// the gaps' verdicts are counted into it once they are judged (it stays empty
// when the output directory cannot be made). Returns 0, or 1 when a file failed
// or an output could not be written.
int writeCampaignReport(const std::vector<std::string>& resultsFiles, const std::string& outputDir,
                        const ReportSettings& settings, tk::Console& console, tk::Failures& failures,
                        std::optional<VerdictCounts>* counts = nullptr);

// `gapohm --report`: reads the limits file and the baseline (when not empty; a
// malformed limits file or an unusable baseline is a usage error, reported
// before anything is written), finds the results.csv files
// under `paths` and writes the report. Returns 0, 1 (a file failed, none found,
// or an output failed) or 2 (usage error).
int runReport(const std::vector<std::string>& paths, const std::string& outputDir,
              const std::string& limitsFile, const ReportProvenance& provenance, const HistoryOptions& history,
              const std::optional<std::string>& baseline, tk::Console& console);

// The command-line dispatch of the report options: checks that --limits comes
// with --report, that --report is not given with --batch and has a path, then
// runs it (outputDir "" meaning the working directory). Usage errors go to
// console.err and return 2.
int reportCommand(bool report, bool batch, const std::vector<std::string>& paths, const std::string& outputDir,
                  const std::string& limitsFile, const ReportProvenance& provenance, const HistoryOptions& history,
                  const std::optional<std::string>& baseline, tk::Console& console);
