// The scan file: a comma-separated text file, one measurement of one gas gap a line:
//   gap name, effective HV, applied HV, current, pressure, temperature, humidity
// (fields 8 and later ignored). A line whose first field is exactly "DETECTOR" is a
// header, not a gap. No quoting, no trimming: blanks belong to their field.
//
// This module lists and numbers the gaps of a file and splits lines into fields.
// It keeps no state; the streams it reads are owned by the caller.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

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
// writes the listing lines to `log`. An empty name (a line starting with a comma)
// is never listed. A UTF-8 byte-order mark at the very start is dropped.
void getChambers(std::istream& scan, ChamberIndexList& ChamberIndex, std::ostream& log);

// The same on the file at `file`. A file that cannot be opened lists nothing (the
// "running on chambers" line is still written) and returns false.
bool getChambers(const std::string& file, ChamberIndexList& ChamberIndex, std::ostream& log);

// Converts a numeric field strictly enough for the driver to trust it: true when,
// after leading blanks, the field starts with a decimal number (trailing text such
// as a unit or a carriage return allowed) whose value is finite.
bool readNumber(const std::string& field, double& value);

// Removes a UTF-8 byte-order mark from the start of `text`, if there is one.
void dropByteOrderMark(std::string& text);
