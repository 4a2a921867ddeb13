// What a batch learns of each scan and what it writes of it: the outcome text a
// scan's process sends the batch (the one thing between them besides its
// messages, read back as data rather than parsed from log text), and the batch summary, which is the
// results table of every scan with one row more for a scan that failed or was
// interrupted.
#pragma once

#include <string>
#include <vector>

#include "aux/ResultsTable.h"

// What came of one scan of a batch, as its process told it.
struct ScanOutcome {
  enum class State { finished, failed, interrupted };
  std::string scan;
  State state = State::finished;
  std::string why;   // failed: the reason, may be empty
  int gaps = 0, fitted = 0;
  int notSearched = 0;  // gaps the window search did not run on (not an argon scan)
  std::string rows;  // its gaps' rows of the results table, CSV lines, also of a failed scan
};

// Rows of the results table as CSV lines, without the header.
std::string rowLines(const std::vector<ResultsRow>& rows);

// The whole summary: the header, then per scan its rows and, for a failed scan,
// a row "scan failed: <why>", for an interrupted one a row "interrupted".
std::string batchSummary(const std::vector<ScanOutcome>& scans);

// The outcome text a batch's scan process sends, one item a line:
//   gapohm-outcome 1
//   status <exit status>
//   failure <the first error message, line ends as spaces; empty when none>
//   gaps <number of gaps>
//   fitted <number of fitted gaps>
//   notsearched <number of gaps the window search did not run on>
//   rows
//   <the scan's rows of the results table, CSV lines without the header, to the end>
std::string outcomeText(int status, const std::vector<std::string>& errors,
                        const std::vector<ResultsRow>& rows);
// Reads an outcome text into `status` and outcome's why, gaps, fitted and rows.
// False (outcome unchanged) when the text is not a whole outcome.
bool readOutcomeText(const std::string& text, int& status, ScanOutcome& outcome);
