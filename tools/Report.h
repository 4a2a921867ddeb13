// The campaign report: one self-contained page (index.html) over the results.csv
// of many runs, made on this machine or elsewhere (other machines, array jobs of a
// cluster's batch system) and gathered in one folder tree.
//
// The page has summary figures (resistivity and onset per gap, both methods side
// by side, gaps grouped by chamber; a histogram of the knee-fit resistivity per
// gap type), and a table per scan with a thumbnail of each gap's figure linked to
// the full figure, and, with a limits file, a verdict per gap. Everything it shows
// is in the report's folder or reached by a relative link; no script, nothing
// fetched from a network.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "aux/ResultsTable.h"
#include "toolkit/Console.h"

// One row of a limits file: a quantity (a numeric column of results.csv) of the
// gaps selected by `gap` (an exact gap name, a gap type, or "*") must lie in
// [min, max]; an absent bound does not limit.
struct Limit {
  std::string gap;
  std::string quantity;
  std::optional<double> min;
  std::optional<double> max;
  long line = 0;  // in the limits file
};
struct Limits {
  std::string file;
  std::vector<Limit> rows;
};

// Reads a limits file (header "gap,quantity,min,max", then one limit a line).
// False, with "file:line: what is wrong" in `error`, for a bad header, a line with
// another number of fields, an empty gap, a quantity that is not a numeric column,
// a bound that is not a finite number, min > max, a line with neither bound, or a
// gap and quantity given twice.
bool parseLimits(const std::string& text, const std::string& file, Limits& limits, std::string& error);

// The type of a gap as the catalogue tells it from its name (the areas of
// getarea): "bottom" ("-B", "-BOTTOM"), "top-narrow" ("TOPNARROW"), "top-wide"
// ("TOPWIDE"), the last matching test deciding; "" for none.
std::string gapType(const std::string& gap);

// The chamber a gap belongs to: its name without the last "-" part when the gap
// has a type (RE3-PK-154-BOTTOM: RE3-PK-154), else the whole name.
std::string chamberOf(const std::string& gap);

// A gap's verdict under the limits. For each quantity the limits name, the limit
// for this gap is the one naming it exactly, else its type, else "*". FAIL when a
// value lies outside its limit (`text` names each broken limit), else NO RESULT
// when a limited value is missing or no limit applies (`text` says which), else
// PASS.
struct Verdict {
  enum class Kind { Pass, Fail, NoResult } kind = Kind::NoResult;
  std::string text;  // "PASS", "FAIL: ...", "NO RESULT: ..."
};
Verdict judgeGap(const ResultsRow& row, const Limits& limits);

// Escapes & < > " ' for HTML text and attribute values.
std::string htmlEscape(const std::string& text);
// A relative path as a URL path: bytes other than letters, digits, "-._~/"
// percent-encoded.
std::string urlPath(const std::string& path);

// Reads `figure` (a PNG file) and writes `thumb`, a PNG at most maxWidth pixels
// wide (box-filtered down, aspect kept; never enlarged), through a temporary file
// in thumb's directory. False with the reason in `error`.
bool writeThumbnail(const std::string& figure, const std::string& thumb, int maxWidth, std::string& error);

// The results.csv files under `paths`: a file as given, every file named
// "results.csv" below a directory (symbolic links to directories not followed),
// each directory's in sorted path order. A path that does not exist or cannot be
// listed is reported through `console` (which marks the run failed).
std::vector<std::string> findResultsFiles(const std::vector<std::string>& paths, tk::Console& console);

// Writes the report of the given results.csv files into outputDir (created if
// missing): index.html, figures/ and thumbs/. With `limits`, a verdict column.
// A file that cannot be read or parsed is reported ("file:line: what") and named
// on the page; the others are still reported. Returns 0, or 1 when a file failed
// or an output could not be written.
int writeCampaignReport(const std::vector<std::string>& resultsFiles, const std::string& outputDir,
                        const Limits* limits, tk::Console& console);

// Reads and checks the limits file; false with the message written to `err`
// (a usage error: the caller has written nothing yet).
bool loadLimits(const std::string& limitsFile, Limits& limits, std::ostream& err);

// `gapohm --report`: reads the limits file (when not empty; a malformed one is a
// usage error, reported before anything is written), finds the results.csv files
// under `paths` and writes the report. Returns 0, 1 (a file failed, none found,
// or an output failed) or 2 (usage error).
int runReport(const std::vector<std::string>& paths, const std::string& outputDir,
              const std::string& limitsFile, tk::Console& console);

// The command-line dispatch of the report options: checks that --limits comes
// with --report, that --report is not given with --batch and has a path, then
// runs it (outputDir "" meaning the working directory). Usage errors go to
// console.err and return 2.
int reportCommand(bool report, bool batch, const std::vector<std::string>& paths,
                  const std::string& outputDir, const std::string& limitsFile, tk::Console& console);
