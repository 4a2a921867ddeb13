// results.csv: the tidy table of a run's outcome, one row per gap, and its
// renderings. This module is the one place that knows the table's columns, writes
// its text, reads it back (the campaign report gathers the tables of many runs,
// made on other machines too) and turns it into a LaTeX table (results.tex).
//
// Cells are text: numbers as "%.10g", "" where there is no value. The status
// columns hold "fitted" or the reason a method has no result.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The columns, in the order the file has them.
const std::vector<std::string>& resultsColumns();

// The position of `column` in resultsColumns(), or -1 for a name not among them.
int resultsColumnIndex(const std::string& column);

// True for the columns that hold numbers (every column but scan, gap, the two
// status columns, area_source and fit_test).
bool isNumericResultsColumn(const std::string& column);

// One gap's row; cells in the order of resultsColumns().
struct ResultsRow {
  std::vector<std::string> cells;

  // The cell of `column` ("" when the row is short of it). Throws
  // std::invalid_argument for a name that is not a column: a misspelt name must
  // not read as "no value".
  const std::string& get(const std::string& column) const;
  // Sets the cell of `column`, growing a short row. Throws std::invalid_argument
  // for a name that is not a column.
  void set(const std::string& column, std::string value);
};

// A row with every cell "".
ResultsRow emptyResultsRow();

// A number as the table keeps it: "%.10g"; "" for NaN and infinities.
std::string formatResultsNumber(double v);

// A field as CSV keeps it: quoted, quotes doubled, when it holds , " CR or LF.
std::string resultsCsvField(const std::string& text);

// One CSV record and the line it starts on.
struct CsvRecord {
  std::vector<std::string> fields;
  long line = 0;
};

// Splits a CSV text into records: a byte-order mark, CRLF line ends, quoted fields
// (quotes doubled inside, line ends allowed) are understood, blank lines skipped.
// False, with "file:line: what is wrong" in `error`, for an unterminated quote or
// text between a closing quote and the next comma; `records` then holds the
// records before it.
bool readCsvRecords(const std::string& text, const std::string& file,
                    std::vector<CsvRecord>& records, std::string& error);

// The whole file: header line, then one line per row; every line ends in "\n".
std::string resultsCsvText(const std::vector<ResultsRow>& rows);

// Reads a results table. Columns are found by their header name: unknown columns
// are ignored, missing ones stay "". A byte-order mark, CRLF line ends, quoted
// fields (also spanning lines) and blank lines are fine. Appends the rows to
// `rows` and returns true; on the first malformed line (no header, a header
// without "gap" or with a column twice, an unterminated or misplaced quote, a
// line with another number of fields than the header, a numeric cell that is not
// a finite number) returns false with "file:line: what is wrong" in `error`, and
// `rows` is left as it was.
bool parseResultsCsv(const std::string& text, const std::string& file,
                     std::vector<ResultsRow>& rows, std::string& error);

// Escapes the characters LaTeX treats specially (_ & % # $ { } ~ ^ \).
std::string latexEscape(const std::string& text);

// A value and its error rounded for people: the error to two significant digits,
// the value to the same decimal place, both divided by 10^exponent (a multiple of
// three, 0 unless the larger of the two is at least 1e4 or below 1e-2). Without a
// usable error (empty, not a number, zero) the value keeps four significant
// digits and `error` stays "". `present` is false when the value is no number.
struct RoundedValue {
  bool present = false;
  std::string value;
  std::string error;
  int exponent = 0;
};
RoundedValue roundValueWithError(const std::string& value, const std::string& error);

// A rounded value in some markup: the value, `plusMinus` and the error, and for
// an exponent n the two in brackets (the value alone without) followed by
// timesTenTo(n). "" when the value is no number.
std::string markedValueWithError(const RoundedValue& r, const std::string& plusMinus,
                                 const std::function<std::string(int)>& timesTenTo);

// "value $\pm$ error" for a table of people: the error rounded to two significant
// digits, the value to the same decimal place, a shared power of ten for large or
// small values. Just the value when the error is empty or zero, "--" for an
// empty value. Both are cells of the table (text that parses as a number).
std::string texValueWithError(const std::string& value, const std::string& error);

// results.tex: one LaTeX tabular per scan, every gap with the window search and
// the knee fit (resistivity, resistance, resistance x area, offset, onset, each
// with its error), a method without a result showing its status. It needs no
// package: \input in a bare article document compiles with pdflatex.
std::string resultsTex(const std::vector<ResultsRow>& rows);
