// results.csv: the tidy table of a run's outcome, one row per gap, and its
// renderings. This module is the one place that knows the table's columns, writes
// its text, reads it back (the campaign report gathers the tables of many runs,
// made on other machines too); aux/TexTables turns it into LaTeX tables.
//
// Rows are typed values; cells are their text: numbers as "%.10g", "" where
// there is no value. The status columns hold kFittedWord or the reason a method
// has no result.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One value and its uncertainty; either may be missing (no result, or a table
// made by another tool that leaves a cell empty).
struct Measured {
  std::optional<double> value, error;
};

// Whether a method gave a result. The table writes a fitted method as the one
// word kFittedWord and any other as the reason it has none.
// A method that did not run at all (the scan or gap is not one it looks at)
// says so with the method's words first, so a table read back tells it apart.
enum class MethodState { fitted, noResult, notRun };
extern const char* const kFittedWord;
inline constexpr const char* kWindowNotRun = "window search not run";
inline constexpr const char* kKneeNotRun = "knee fit not run";
struct MethodStatus {
  MethodState state = MethodState::noResult;
  std::string reason;  // why there is no result, in words; "" when fitted or not told

  bool fitted() const { return state == MethodState::fitted; }
  // The status cell: kFittedWord or the reason.
  std::string word() const;
  // The status a cell tells.
  static MethodStatus of(const std::string& word);
  static MethodStatus fittedStatus() { return {MethodState::fitted, ""}; }
  static MethodStatus noResult(std::string why) { return {MethodState::noResult, std::move(why)}; }
  // `why` starts with kWindowNotRun or kKneeNotRun.
  static MethodStatus notRun(std::string why) { return {MethodState::notRun, std::move(why)}; }
};

// The numbers one method gives a gap. rhoArea of the knee fit has no column of
// its own: the reader derives it from the resistivity.
struct MethodResult {
  MethodStatus status;
  Measured rho;         // resistivity, Ohm cm
  Measured resistance;  // Ohm
  Measured rhoArea;     // resistance x area, Ohm cm^2
  Measured offset;      // current density below the onset, nA/cm^2
  Measured onset;       // V
  Measured rhoRef;      // resistivity at the reference temperature, Ohm cm
};

// A mark on a result a QC cut should look at twice (aux/ResultFlags.h says
// when each is set). The table writes them as words joined by ";".
// Each belongs to one method's result (the window search's flags start with
// "window" or say that the methods disagree, the knee fit's with "knee"), but
// implausibleLines, which is the gap's.
enum class ResultFlag {
  methodsDisagree,       // the window search's resistivity more than 3 combined errors from the knee fit's
  windowOnly,            // the window search has a result, the knee fit none
  windowRhoNotPositive,  // the window search's resistivity is zero or negative
  windowRhoUncertain,    // its error is above 20 %
  windowNarrow,          // its passing window has fewer than 10 points
  windowOnsetUncertain,  // its onset error is above 100 V
  kneeRhoUncertain,      // the knee fit's resistivity error is above 20 %
  kneeOnsetUncertain,    // the knee fit's onset error is above 100 V
  kneeWidthAtBound,      // the knee width held or at its bound, its 68 % set wider than two HV steps
  kneeCurved,            // the knee fit's residuals above the knee bend
  implausibleLines,      // lines with implausible conditions left out of the knee fit and the means
};
// The flag's word in the table ("methods-disagree", ...).
const char* flagWord(ResultFlag flag);
// The words of `flags`, in their order.
std::vector<std::string> flagWords(const std::vector<ResultFlag>& flags);
// Every flag, in enum order (the order a cell lists them).
const std::vector<ResultFlag>& allResultFlags();

// One gap's row of the table: typed values, filled by the analysis of a run or
// read back from a results.csv. Counts are kept as numbers too (a table written
// elsewhere may hold "12.0").
struct ResultsRow {
  std::string scan, gap;
  std::optional<double> area;   // cm^2
  std::string areaSource;       // "type word", "areas file" or "unknown"
  std::optional<double> points;
  MethodResult window;          // the window search
  std::optional<double> chi2, ndf, fitTest, windowStart, windowPoints;
  std::optional<double> pressureMean, temperatureMean, humidityMean;
  MethodResult knee;            // the smooth-knee fit
  std::optional<double> kneeWidth, kneeNoise, kneePoints, kneeDropped, kneeDurbinWatson;
  std::string figure;           // the gap's figure, relative to the scan's output directory
  std::string thumbnail;        // its thumbnail, likewise ("" when it has none)
  std::vector<ResultFlag> flags;  // in enum order, each once
  std::optional<double> kneeWidthLow, kneeWidthHigh;  // the knee width's 68 % set, V
  // The temperature coefficient (per degree C) and reference temperature (C) of
  // the rho_ref columns; none without --temperature-coefficient.
  std::optional<double> alpha, referenceTemperature;
  // When the scan was taken (aux/ScanDate.h): YYYY-MM-DD and the words of its
  // source; "" in tables written before these columns.
  std::string scanDate, scanDateSource;
  // The mean temperature (C) of the points the knee fit used above its onset:
  // the temperature its knee_rho holds at, and the campaign's temperature fit's T.
  std::optional<double> kneeTemperatureMean;

  // The cell of `column` as the file holds it. Throws std::invalid_argument for
  // a name that is not a column: a misspelt name must not read as "no value".
  std::string get(const std::string& column) const;
  // Sets the cell of `column` from its text ("" clears it; a numeric column
  // takes a finite number, else throws std::invalid_argument, as for an unknown
  // column). Values without a column of their own follow, as the reader derives them.
  void set(const std::string& column, const std::string& text);
};

// One column of the table: its name, its unit ("" for text), and how a row's
// value is written to and read from its cell. Adding a column is one entry in
// the table behind resultsColumns().
struct ResultsColumn {
  std::string name;
  std::string unit;
  bool numeric = false;
  std::function<std::string(const ResultsRow&)> cell;             // the cell's text
  std::function<void(ResultsRow&, const std::string&)> read;      // a checked cell into the row
  std::function<std::optional<double>(const ResultsRow&)> number; // numeric columns only
  std::string error;  // the column holding this value's uncertainty; "" when none
};

// The columns, in the order the file has them.
const std::vector<ResultsColumn>& resultsColumns();

// The column named `name`, or nullptr for a name not among them.
const ResultsColumn* findResultsColumn(const std::string& name);

// The uncertainty of a numeric column's value in `row`, from the column its
// entry names (rho_ohm_cm: rho_err); nullopt when it has none or it is empty.
std::optional<double> resultsError(const ResultsColumn& column, const ResultsRow& row);

// True for the columns that hold numbers (every column but scan, gap, the two
// status columns, area_source, figure and thumbnail).
bool isNumericResultsColumn(const std::string& column);

// True when every cell of the two rows reads the same.
bool sameResultsRow(const ResultsRow& a, const ResultsRow& b);

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

// Any text (a gap or scan name) as LaTeX text that pdflatex compiles with its
// default fonts and that shows every byte: the special characters escaped
// (_ & % # $ { } ~ ^ \, and < > | as themselves), control bytes and bytes of no
// well-formed UTF-8 character written out as \xNN, and characters beyond those
// fonts as "[U+XXXX]", in which case `placeholders` (when given) is set true.
std::string latexEscape(const std::string& text, bool* placeholders = nullptr);

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
RoundedValue roundValueWithError(std::optional<double> value, std::optional<double> error);
// The same in a power of ten chosen by the caller (a table column's).
RoundedValue roundAtExponent(std::optional<double> value, std::optional<double> error, int exponent);
// The power of ten, a multiple of three, numbers of this magnitude are written
// in: 0 for magnitudes in [1e-2, 1e4), and for 0 or no finite number.
int sharedExponent(double magnitude);
// The same from cells of the table ("" or text that is no finite number: none).
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

