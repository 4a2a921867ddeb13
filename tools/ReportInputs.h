// What the campaign report reads: the results.csv files that runs left in a
// folder tree (made here or gathered from other machines and array jobs), each
// read and parsed once, a failure kept with its file so that the page names it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "aux/ResultsTable.h"
#include "toolkit/Console.h"

// One results.csv and what it holds, or why it could not be read.
struct ScanTable {
  std::string file;
  std::vector<ResultsRow> rows;
  std::string error;  // "file:line: what" or "file: cannot read: why"; "" when read
  // The file has a "figure" column naming each gap's figure; files written before
  // that column have none, and the figure's name is then guessed from the gap's.
  bool figureColumn = false;
};

// The results.csv files under `paths`: a file as given, every file named
// "results.csv" below a directory (symbolic links to directories not followed),
// each directory's in sorted path order. A path that does not exist or cannot be
// listed is printed through `console` and added to `failures`.
std::vector<std::string> findResultsFiles(const std::vector<std::string>& paths, tk::Console& console,
                                          tk::Failures& failures);

// The largest results.csv read: a campaign's tables are a few hundred bytes a gap.
constexpr std::size_t kLargestResultsFile = std::size_t{64} << 20;

// Reads and parses each file, in the order given. A file that is a symbolic link
// is skipped with a warning naming it (what it points at is not a run's table);
// one that cannot be read (not a regular file, larger than kLargestResultsFile)
// or parsed is printed through `console`, added to `failures` and kept with its
// error and no rows; figureColumn tells whether its header has a "figure" column.
std::vector<ScanTable> readScanTables(const std::vector<std::string>& files, tk::Console& console,
                                      tk::Failures& failures);
