// Acceptance limits of the campaign report: the limits file (--limits), which
// limit holds for a gap (by name, by the type the catalogue tells from its name,
// or for every gap), and the chamber a gap belongs to. The verdicts they give
// are tools/Verdicts.h.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "aux/ResultsTable.h"

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

// The largest limits file read: a line a limit fits thousands of limits.
constexpr std::size_t kLargestLimitsFile = std::size_t{1} << 20;

// Reads and checks the limits file (a regular file of at most
// kLargestLimitsFile bytes, links followed: the user names it); false with the message written to `err`
// (a usage error: the caller has written nothing yet).
bool loadLimits(const std::string& limitsFile, Limits& limits, std::ostream& err);

// The chamber a gap belongs to: its name without the last "-" part when the gap
// has a type (RE3-PK-154-BOTTOM: RE3-PK-154), else the whole name.
std::string chamberOf(const std::string& gap);

// The limit that holds for the gap's quantity: the one naming the gap exactly,
// else its type, else "*"; nullptr when none does.
const Limit* limitFor(const std::string& gap, const std::string& quantity, const Limits& limits);

// The quantities the limits name, each once, in the order of their first line.
std::vector<std::string> limitedQuantities(const Limits& limits);
