// One run of the program on one scan: its settings, the scan's announcement and
// readFiles_KVT, which reads, analyses and renders the scan (tools/Run.cpp).
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "aux/CampaignFit.h"
#include "aux/GapAreas.h"
#include "aux/OutputPlaces.h"
#include "aux/ResultsTable.h"
#include "toolkit/Console.h"
#include "toolkit/Graph.h"
#include "toolkit/Canvas.h"
#include "toolkit/Status.h"
#include "tools/CampaignVerdicts.h"
#include "tools/Limits.h"
#include "tools/RunOutcome.h"

// Settings a run takes from the command line beyond the scan file and title.
struct RunOptions {
  bool verbose = false;            // verbose lines and diagnostic figures of the fits
  bool entries = false;            // also write Entries.csv
  bool annotate = false;           // results drawn on the figures
  std::string extension = ".png";  // figure file format
  int jobs = 1;                    // batch: scans analysed at once (a single run paints in turn)
  GapAreas areas;                  // --areas: gap areas by exact name, in cm^2
  std::string areasFile;           // where they were read (a batch's scans read it again)
  std::shared_ptr<Limits> limits;  // --limits with --batch: verdicts on the batch's report page
  ReportProvenance provenance;     // --batch: what its report page was made with
  bool defaultScan = false;        // no scan was named: the historical default path is read
  TemperatureReference temperature;  // the rho_ref columns of results.csv
  double maxDriftPercent = kDefaultMaxDriftPercent;  // --max-drift: DRIFT on a batch's report page
  ScanType scanType = ScanType::told;  // --scan-type: which analyses run, if not told by the data
  std::optional<std::string> scanDate;  // --scan-date, YYYY-MM-DD: when the file name tells none
  // The program itself, started once for each scan of a batch; empty: the running
  // executable (/proc/self/exe). Callers that are not the program (tests) name it.
  std::string executable;
};


// Writes the four lines that announce the scan file.
void printINFO(const std::string& filename, std::ostream& out);

// Runs the whole analysis of one scan file: reads it, analyses it into a
// RunOutcome and renders that as log lines, figures and reports. Returns the exit status: 0 on
// success, 1 when the file cannot be read, holds no measurement, or an output
// could not be written.
// Figures are painted one after another in this process (options.jobs is for
// the batch); the run returns once all are written. With `rows`, the run's rows
// of the results table are appended to it; with `failures`, every failure of
// the run (what the exit status is made from), in order. With an `easel`, the
// PNG figures are painted on it (tk::Easel): a batch's worker keeps one for all
// its scans.
int readFiles_KVT(const std::string& file, const std::string& legendtitle,
                  const RunOptions& options, const OutputPlace& place, tk::Console& console,
                  std::vector<ResultsRow>* rows = nullptr, tk::Failures* failures = nullptr,
                  tk::Easel* easel = nullptr);

// What a run on a scan's text left for its caller (the watch mode): the outcome
// it rendered (none when it ended before analysing) and the names of the files
// a run of that outcome may write into its output directory.
struct RunRecord {
  std::optional<RunOutcome> outcome;
  std::set<std::string> files;
};

// readFiles_KVT on `text`, the scan's bytes as read already, instead of the file
// `file` names (which still names the outputs): the same lines, outputs and
// exit status as a plain run on a file of those bytes. Fills `record`.
int runScanText(const std::string& file, const std::string& legendtitle, std::string text, const RunOptions& options,
                const OutputPlace& place, tk::Console& console, RunRecord& record);
