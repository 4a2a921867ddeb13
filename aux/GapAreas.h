// Active areas of gaps given by the user, for gaps the catalogue's type words
// do not tell (and to correct those it tells wrongly). The file is CSV text:
//   # comment
//   gap name,area in cm2
// one gap a line, the name matched exactly (no trimming: blanks belong to it),
// blank lines and lines starting with '#' ignored.
#pragma once

#include <cstddef>
#include <map>
#include <string>

using GapAreas = std::map<std::string, double>;

// The largest areas file read: a line a gap fits thousands of gaps.
constexpr std::size_t kLargestAreasFile = std::size_t{1} << 20;

// Reads the areas file text `text` (named `file` in messages) into `areas`.
// Returns false, with "file:line: what is wrong" in `error`, on the first line
// that is not a name and one decimal number of 1 to 100000 cm^2 (1 cm2 to 10 m2;
// an area with text or a NUL after it, a hexadecimal one, a third field, an empty
// name) or that names a gap a second time;
// `areas` is then left empty.
bool parseGapAreas(const std::string& text, const std::string& file, GapAreas& areas,
                   std::string& error);
