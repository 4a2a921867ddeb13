// gapohm: analysis of high-voltage scans of resistive-plate gas gaps.
//
// The run driver reads a scan file, fills one pressure-corrected graph of current
// density against HV per gap, draws all gaps together and, for argon scans (HV
// axis ending below 2500 V), searches every gap's ohmic region and reports its
// resistivity, resistance, resistance x area, offset and onset in Resistance.csv.
// Also here: the catalogue of known gaps (areas, plot styles) and the two reports.
#pragma once

#include <ctime>
#include <memory>
#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "aux/Drawing.h"
#include "aux/OutputPlaces.h"
#include "aux/ResultsTable.h"
#include "aux/ScanInput.h"
#include "toolkit/Console.h"
#include "toolkit/Graph.h"
#include "toolkit/Types.h"
#include "tools/BatchOutcome.h"
#include "tools/Report.h"
#include "tools/Results.h"
#include "tools/RunOutcome.h"

// ---------------------------------------------------------------- catalogue

// Empties chambersname and fills it with the eight catalogued gap names.
void init_chambersnames(std::vector<std::string>& chambersname);

// Active area in cm^2 of the gap's type, recognised by substring: bottom ("-B",
// "-BOTTOM") 19660, top-narrow ("TOPNARROW") 5550, top-wide ("TOPWIDE") 13130,
// else 1. The last matching test decides.
double getarea(const std::string& chambername);
// 1000 / area for the same types ("_BOT" also marks a bottom gap); 1 otherwise.
double getareafactor(const std::string& chambername);
// Marker colour and style: the catalogue's for a name containing a catalogued
// name (the last one that matches), else i + 1 and i + 19 (i: gap-list position).
int getcolor(const std::string& chambername, Int_t i);
int getmarker(const std::string& chambername, Int_t i);
// Appends one profile per gap-list entry, in list order.
void init_plotprofile(std::vector<plotprofile>& plottingprofile, ChamberIndexList ChamberIndex);

// ---------------------------------------------------------------- run driver

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
  bool defaultScan = false;        // no scan was named: the historical default path is read
  TemperatureReference temperature;  // the rho_ref columns of results.csv
  // The program itself, started once for each scan of a batch; empty: the running
  // executable (/proc/self/exe). Callers that are not the program (tests) name it.
  std::string executable;
};


// The values of a fitted gap from its resistivity, offset and onset pairs: the
// resistance is resistivity x 0.4 cm / area, the resistance x area resistivity
// x 0.4 cm (the area from getarea).
GapValues gapValues(const std::string& name, const std::pair<double, double>& Resistance,
                    const std::pair<double, double>& OffSet, const std::pair<double, double>& Onset);


// Writes the four lines that announce the scan file.
void printINFO(const std::string& filename, std::ostream& out);

// The points of one scan: one graph per gap, by gap index, and the gap in which the
// largest current was stored.
struct ScanPoints {
  std::vector<tk::Graph> graphs;
  int maxcurrentindex = 0;
  long usedLines = 0;  // measurement lines stored in at least one graph
  // Per gap: the line at which its effective HV first came down (0: ascending).
  std::vector<long> notAscendingLine;
};

// Reads the scan's lines from `scan` (named `file` in messages) into graphs: HV
// corrected for pressure (applied HV / (0.2 + 0.8 P / 990), kept as read for
// "OnePoint" gaps), stored in the graph of the gap whose name equals the line's
// gap name. Lines that cannot be used are skipped with a warning naming the file
// and line; blank lines silently. So are a last line cut short by the end of
// the file (fewer fields than the measurement before), a line repeating an
// earlier one exactly, and a reading whose corrected HV is not finite. A gap
// whose effective HV comes down is warned about once and marked in
// notAscendingLine.
ScanPoints readScanPoints(std::istream& scan, const std::string& file,
                          const ChamberIndexList& ChamberIndex, tk::Console& console);


// Writes Entries.csv, the measurements of each gap per HV step, into the run's
// output directory (a directory that cannot be made is added to `failures`);
// the status of the write.
tk::Status writeEntries(const RunOutcome& run, const OutputPlace& place, tk::Console& console,
                        tk::Failures& failures);

// Runs the whole analysis of one scan file: reads it, analyses it into a
// RunOutcome and renders that as log lines, figures and reports. Returns the exit status: 0 on
// success, 1 when the file cannot be read, holds no measurement, or an output
// could not be written.
// Figures are painted one after another in this process (options.jobs is for
// the batch); the run returns once all are written. With `rows`, the run's rows
// of the results table are appended to it; with `failures`, every failure of
// the run (what the exit status is made from), in order.
int readFiles_KVT(const std::string& file, const std::string& legendtitle,
                  const RunOptions& options, const OutputPlace& place, tk::Console& console,
                  std::vector<ResultsRow>* rows = nullptr, tk::Failures* failures = nullptr);

// Analyses many scans, each as a single run with `options` into the directory a
// single run would use (with place.outputDir D: D/<scan name>/), options.jobs at
// once, each by a process of the program (options.executable) started with
// --outcome-file. `paths` are scan files or directories (their regular ".csv"
// files, in name order; a ".csv" entry that is not a regular file fails, other
// entries that are not regular files are skipped with a warning). Writes a
// progress line per scan to console.out, forwards each scan's standard error to
// console.err as one block, and writes the summary of every gap of every scan to
// `summaryPath` (empty: the batch's output root, "BatchSummary.csv"). A scan
// that fails does not stop the others. SIGINT or SIGTERM stops the scans running
// (passed on to their processes, which remove their temporary files), waits for
// them and writes the summary with an "interrupted" row for every scan not
// finished. Returns 0 when every scan and the summary succeeded, 128 + the
// signal when interrupted, else 1.
int runBatch(const std::vector<std::string>& paths, const RunOptions& options,
             const OutputPlace& place, const std::string& summaryPath, tk::Console& console);


// ScanOutcome, the outcome file and the batch summary: tools/BatchOutcome.h.

// The body of a batch's scan process (gapohm --outcome-file FILE): the single
// run of `file` into `place`, then its outcome written atomically to
// `outcomeFile`. Lets no exception out. Returns the run's exit status (1 also
// when the outcome file cannot be written).
int runBatchScan(const std::string& file, const RunOptions& options, const OutputPlace& place,
                 const std::string& outcomeFile, tk::Console& console);

// The program: parses the command line and runs. Exit status 0 on success, 1 on a
// failed run or when `out` could not be written (said once on `err`), 2 on a
// usage error, 128 + signal for a batch stopped by SIGINT/SIGTERM. Options the
// chosen mode does not use are named in a warning and the run goes on; --quiet
// silences a single run's progress lines (tk::Console). Defined in
// tools/CommandLine.cpp. `env` and `now` stand for the environment and the
// clock, so that tests can fix them.
int gapohmMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const EnvLookup& env, std::time_t now);

// ---------------------------------------------------------------- reports

// Resistance.csv: header, then per successful gap a CSV line and a LaTeX row.
struct ResistanceReport {
  std::string text;  // the report so far, written in one piece by Save

  // Starts the report with its header line.
  void Open();
  // Adds the gap's CSV line and LaTeX row from its resistivity, offset and onset.
  void AddGap(const std::string& name, const std::pair<double, double>& Resistance,
              const std::pair<double, double>& OffSet, const std::pair<double, double>& Onset);
  // The same from the gap's values.
  void AddGap(const std::string& name, const GapValues& values);
  // Writes the report to `path` atomically; what came of it.
  tk::Status Save(const std::string& path) const;
};

// latexEscape, which escapes the characters LaTeX treats specially, comes with the
// results table (aux/ResultsTable.h), which renders results.tex.

// Replaces status by six verdicts, "OK" when a count equals its planned count
// (14, 31, 20 argon; 8, 1, 11 standard), else "NOT OK".
void CheckingEntries(int ChamberEntryStep1argon, int ChamberEntryStep2argon,
                     int ChamberEntryStep3argon, int ChamberEntryStep1, int ChamberEntryStep2,
                     int ChamberEntryStep3, std::vector<std::string>& status);

// Counts every gap's measurements per HV step of both schemes and returns the
// text of Entries.csv. The lines the graphs skip are not counted either.
std::string entriesReport(std::istream& scan, const std::string& file,
                          const ChamberIndexList& ChamberIndex, tk::Console& console);

// Writes Entries.csv for the scan file into its output directory; errors are
// printed through `console`. True when the file was read and written.
bool ValidatingStepsHVscan(const std::string& file, ChamberIndexList ChamberIndex,
                           const OutputPlace& place, tk::Console& console);
