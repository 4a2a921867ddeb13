// The scan file: a comma-separated text file, one measurement of one gas gap a line:
//   gap name, effective HV, applied HV, current, pressure, temperature, humidity
// (fields 8 and later ignored). A line whose first field is exactly "DETECTOR" is a
// header, not a gap. No quoting, no trimming: blanks belong to their field.
//
// This module lists and numbers the gaps of a file, splits lines into fields and
// owns every rule about which line is a measurement: readScan returns the
// measurements and the refused lines as data and prints nothing; collectPoints
// turns measurements into each gap's pressure-corrected points. It keeps no
// state; the streams it reads are owned by the caller.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Console.h"

// The gap list: (gap name, index) pairs, ascending by byte-wise name order, the
// k-th entry with index k. Every per-gap array is sized and addressed by it.
using ChamberIndexList = std::vector<std::pair<std::string, int>>;

// The first field of a scan's header line.
inline constexpr const char* kHeaderName = "DETECTOR";

// Splits a line into fields at commas: an empty field between commas or before a
// leading comma is kept, a comma at the very end opens no further field, and an
// empty line has no field at all.
std::vector<std::string> splitFields(const std::string& line);

// Stores field 1 into chambern and converts fields 2 to 7 as atof does (0.0 for a
// field with no leading number) into HVeff, HVapp, current, presure (field 5),
// temp (field 6) and humidity (field 7). An output whose field is absent keeps the
// value it had: callers give their variables a value before the first line.
void getParameters(std::string line, std::string& chambern, double& HVeff, double& HVapp,
                   double& current, double& temp, double& presure, double& humidity);

// Stores field 1 of the line into chambern; an empty line leaves it untouched.
void getChamber(std::string line, std::string& chambern);

// Reads the scan from `scan` and appends, behind what ChamberIndex holds, one
// (name, k) pair per distinct gap name (k from 0, ascending byte-wise order), then
// writes the listing lines to `log` (control bytes escaped). An empty name (a line
// starting with a comma), a blank line ended by a carriage return and a name
// holding ';' (a spreadsheet export the reader refuses) are never listed. A UTF-8 byte-order mark at the very start is dropped.
void getChambers(std::istream& scan, ChamberIndexList& ChamberIndex, std::ostream& log);

// The same on the file at `file`. A file that cannot be opened lists nothing (the
// "running on chambers" line is still written) and returns false.
bool getChambers(const std::string& file, ChamberIndexList& ChamberIndex, std::ostream& log);

// Converts a numeric field strictly enough for the driver to trust it: true when,
// after leading blanks, the field starts with a decimal number (trailing text such
// as a unit or a carriage return allowed) whose value is finite.
bool readNumber(const std::string& field, double& value);

// A field that is one finite decimal number and nothing else: optional blanks
// (spaces, tabs), a sign, digits with at most one point, an exponent, blanks.
// No other byte (a NUL, a unit, a second number), no hexadecimal, "nan" or
// "inf" spelling, no overflow; an underflow reads as the tiny number written.
// For the small files a user writes (areas, limits) and results tables.
bool readWholeNumber(const std::string& field, double& value);

// Removes a UTF-8 byte-order mark from the start of `text`, if there is one.
void dropByteOrderMark(std::string& text);

// A text as it is quoted in a message: cut to 64 bytes with a note of its length,
// control bytes written as \xNN so that binary garbage cannot garble a terminal.
std::string excerpt(const std::string& field);

// The text with control bytes written as \xNN, whole: for names on a terminal
// (the printer's own rule, toolkit/Console.h).
using tk::escapeControls;

// The length of the well-formed UTF-8 sequence of two to four bytes that starts at
// text[at], or 0 when none does (an ASCII byte, a stray or cut sequence).
std::size_t utf8Length(const std::string& text, std::size_t at);

// True when the start of a file (its first 4 KiB) is not text: it holds a NUL
// byte, or more than half of its bytes are control bytes or not UTF-8.
bool looksBinary(const std::string& content);

// One usable measurement line of a scan.
struct Measurement {
  long lineNumber = 0;
  std::string chambern;
  double HVeff = 0.0;
  double HVapp = 0.0;
  double current = 0.0;
  double temp = 0.0;
  double presure = 0.0;
  double humidity = 0.0;
};

// A line of the scan that a reader passed over, and why, in the words the
// warning gives after "file:line: ".
struct LineNote {
  long line = 0;
  std::string reason;
  // What kind of fault, in a few words ("fields separated by ';'"), the same for
  // every line refused for one cause; empty for a note that refuses nothing.
  std::string kind;
};

// The kinds of refused lines that a whole file can show, each with its own advice.
inline constexpr const char* kSemicolon = "fields separated by ';'";
inline constexpr const char* kTooFewFields = "too few fields";
inline constexpr const char* kNotANumber = "a field that is not a number";

// Everything read from one scan text: its measurements in file order and the
// lines refused, in file order.
struct ScanReading {
  std::vector<Measurement> measurements;
  std::vector<LineNote> refused;
  long lines = 0;          // lines read
  bool readError = false;  // the stream failed before its end
};

// Reads the scan line by line. Blank lines are passed over silently, a header
// line after the first line, and every line that cannot be a measurement, with a
// note: too few fields, no gap name, ';' separators, an HV, current or pressure
// that is not a finite decimal number, a pressure that is not positive, a last
// line cut short by the end of the file, a line repeating an earlier one exactly.
// Nothing is carried over from one line to the next.
ScanReading readScan(std::istream& scan);

// The notes of two readers of one scan, in file order (the first's first on a line).
std::vector<LineNote> notesInFileOrder(const std::vector<LineNote>& a, const std::vector<LineNote>& b);

// The pressure correction of the applied HV: HV / (0.2 + 0.8 P / 990), the gas
// gain following the gas density. Single-point gaps ("OnePoint" in the name) are
// measured at their effective HV, which is returned as read.
double correctedHV(const Measurement& m);

// One gap's points, in file order, with the conditions each was taken at.
struct GapPoints {
  std::vector<double> hv;  // pressure-corrected
  std::vector<double> current;
  std::vector<double> pressure;
  std::vector<double> temperature;
  std::vector<double> humidity;
  long notAscendingLine = 0;  // the line at which its effective HV first came down; 0: never
  // Points whose conditions no test stand has (plausibleConditions), by index,
  // with their lines: kept for the plot and the window search, left out of the
  // knee fit and the mean conditions.
  std::vector<std::size_t> implausible;
  std::vector<long> implausibleLines;

  // The points without the implausible ones (a copy; the same points when none).
  GapPoints plausible() const;
};

// The indices 0 .. n-1 but those in `left` (ascending): the points kept when
// `left` are left out.
std::vector<std::size_t> keptIndices(std::size_t n, const std::vector<std::size_t>& left);

// The conditions a gas-gap test stand works in: 500-1100 mbar, -30 to 70 degrees C,
// 0-100 % humidity. A line outside them is most often a shifted column (pressure
// 1 mbar, temperature 990 degrees C).
bool plausibleConditions(double pressure, double temperature, double humidity);

// The points of a scan, one entry per gap-list position.
struct CollectedPoints {
  std::vector<GapPoints> gaps;
  int maxcurrentindex = 0;  // the gap in which the largest current was stored
  long usedLines = 0;       // measurements stored in a gap
  std::vector<LineNote> notes;  // lines passed over or warned about, in file order
};

// Assigns each measurement to the gap of exactly its name. A measurement of a gap
// not in the list, or whose corrected HV is not finite, is passed over with a
// note; a gap whose effective HV comes down gets one note at that line.
CollectedPoints collectPoints(const std::vector<Measurement>& measurements,
                              const ChamberIndexList& ChamberIndex);
