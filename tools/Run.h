// One run of the program on one scan: its settings, the scan's announcement and
// readFiles_KVT, which reads, analyses and renders the scan (tools/Run.cpp).
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "aux/GapAreas.h"
#include "aux/OutputPlaces.h"
#include "aux/ResultsTable.h"
#include "toolkit/Console.h"
#include "toolkit/Graph.h"
#include "toolkit/Status.h"
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
