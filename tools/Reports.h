// The two classic reports of a run: Resistance.csv (a CSV line and a LaTeX
// row per fitted gap) and Entries.csv (each gap's measurements per HV step, with
// a verdict). Defined in tools/gapohm.cpp.
#pragma once

#include <istream>
#include <string>
#include <utility>
#include <vector>

#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "toolkit/Console.h"
#include "toolkit/Status.h"
#include "tools/RunOutcome.h"

// Resistance.csv: header, then per successful gap a CSV line and a LaTeX row.
struct ResistanceReport {
  std::string text;  // the report so far, written in one piece by Save

  // Starts the report with its header line.
  void Open();
  // Adds the gap's CSV line and LaTeX row from its values.
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

// Writes Entries.csv for the scan file into its output directory; errors are
// printed through `console`. True when the file was read and written.
bool ValidatingStepsHVscan(const std::string& file, ChamberIndexList ChamberIndex,
                           const OutputPlace& place, tk::Console& console);

// Writes Entries.csv, the measurements of each gap per HV step, into the run's
// output directory (a directory that cannot be made is added to `failures`);
// the status of the write.
tk::Status writeEntries(const RunOutcome& run, const OutputPlace& place, tk::Console& console,
                        tk::Failures& failures);
