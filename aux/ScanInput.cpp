#include "aux/ScanInput.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t comma = line.find(',', start);
    if (comma == std::string::npos) {
      fields.push_back(line.substr(start));
      break;
    }
    fields.push_back(line.substr(start, comma - start));
    start = comma + 1;
  }
  return fields;
}

void getParameters(std::string line, std::string& chambern, double& HVeff, double& HVapp,
                   double& current, double& temp, double& presure, double& humidity) {
  const std::vector<std::string> fields = splitFields(line);
  // Field positions in the file: pressure (5) comes before temperature (6).
  double* const numbers[] = {&HVeff, &HVapp, &current, &presure, &temp, &humidity};
  if (!fields.empty()) chambern = fields[0];
  for (std::size_t k = 1; k < fields.size() && k <= 6; ++k) {
    *numbers[k - 1] = std::atof(fields[k].c_str());
  }
}

void getChamber(std::string line, std::string& chambern) {
  const std::vector<std::string> fields = splitFields(line);
  if (!fields.empty()) chambern = fields[0];
}

void dropByteOrderMark(std::string& text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
}

void getChambers(std::istream& scan, ChamberIndexList& ChamberIndex, std::ostream& log) {
  std::set<std::string> names;  // std::string's ordering is the byte-wise order
  std::string name;
  std::string line;
  bool first = true;
  while (std::getline(scan, line)) {
    if (first) {
      dropByteOrderMark(line);
      first = false;
    }
    getChamber(line, name);
    // An empty name is no gap: its lines are refused by every reader.
    if (name == kHeaderName || name.empty()) continue;
    names.insert(name);
  }
  log << "INFO :: ScanInput: getChambers : running on chambers: " << std::endl;
  int k = 0;
  for (const std::string& n : names) {
    ChamberIndex.emplace_back(n, k++);
    log << "INFO :: ScanInput: getChambers :  \t " << n << std::endl;
  }
}

bool getChambers(const std::string& file, ChamberIndexList& ChamberIndex, std::ostream& log) {
  std::ifstream scan(file);
  if (!scan) {
    std::istringstream none;
    getChambers(none, ChamberIndex, log);
    return false;
  }
  getChambers(scan, ChamberIndex, log);
  return true;
}

bool readNumber(const std::string& field, double& value) {
  const char* begin = field.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  // Only decimal numbers: hexadecimal, "nan" and "inf" spellings are not readings.
  const char* p = begin;
  if (*p == '+' || *p == '-') ++p;
  if (!((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9'))) return false;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  // Overflow gives an infinite value and is refused; underflow towards 0 is kept.
  if (end == begin || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string excerpt(const std::string& field) {
  constexpr std::size_t kShown = 64;
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (std::size_t k = 0; k < field.size() && k < kShown; ++k) {
    const auto c = static_cast<unsigned char>(field[k]);
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (field.size() > kShown) out += "... (" + std::to_string(field.size()) + " bytes)";
  return out;
}

namespace {

// Why the line is not a measurement, or "" when it is one. `previousFields`
// is the field count of the last measurement; `unterminated` says the file
// ended inside this line.
std::string refusal(const std::vector<std::string>& fields, bool unterminated,
                    std::size_t previousFields) {
  if (fields[0].empty()) return "line without a gap name skipped";
  if (fields[0].find(';') != std::string::npos) {
    // Spreadsheets set to a decimal comma export "G;1850,0;1846,1;...": split
    // at commas, its pieces would read as numbers of the wrong columns.
    return "fields separated by ';' (a spreadsheet export with decimal commas?); line skipped";
  }
  if (unterminated && fields.size() < previousFields) {
    // A file cut in the middle of its last line: a number cut short ("985.2"
    // read as "98") would pass for a reading.
    return "the file ends inside this line (" + std::to_string(fields.size()) +
           " fields, the measurement before has " + std::to_string(previousFields) +
           "); line skipped";
  }
  if (fields.size() < 5) {
    return "line with " + std::to_string(fields.size()) +
           " fields skipped (needs gap name, HV, applied HV, current, pressure)";
  }
  static const char* const kFieldNames[] = {"", "effective HV", "applied HV", "current",
                                            "pressure"};
  double value = 0.0;
  for (std::size_t k = 1; k <= 4; ++k) {
    if (!readNumber(fields[k], value)) {
      return std::string(kFieldNames[k]) + " field \"" + excerpt(fields[k]) +
             "\" is not a finite number; line skipped";
    }
  }
  if (!(value > 0.0)) return "pressure " + excerpt(fields[4]) + " is not positive; line skipped";
  return "";
}

}  // namespace

ScanReading readScan(std::istream& scan) {
  ScanReading reading;
  std::string line;
  bool seenContent = false;
  std::size_t previousFields = 0;  // of the last measurement line
  // Every measurement line, by its text: a repeated line is the same reading
  // written twice (a copy-paste, a logger that did not refresh), not a second
  // measurement; it would weigh its point twice in the fits and count twice in
  // the HV steps.
  std::unordered_map<std::string, long> seenLines;
  while (std::getline(scan, line)) {
    const long number = ++reading.lines;
    if (number == 1) dropByteOrderMark(line);
    // getline stops at the end of the stream without a line feed only on the last line.
    const bool unterminated = scan.eof();
    if (line.empty() || line == "\r") continue;
    const bool firstContent = !seenContent;
    seenContent = true;
    const std::vector<std::string> fields = splitFields(line);
    if (fields[0] == kHeaderName) {
      if (!firstContent) reading.refused.push_back({number, "header line inside the scan skipped"});
      continue;
    }
    std::string why = refusal(fields, unterminated, previousFields);
    if (why.empty()) {
      const auto [earlier, first] = seenLines.emplace(line, number);
      if (!first) why = "line repeats line " + std::to_string(earlier->second) + " exactly; skipped";
    }
    if (!why.empty()) {
      reading.refused.push_back({number, std::move(why)});
      continue;
    }
    previousFields = fields.size();
    Measurement m;
    m.lineNumber = number;
    getParameters(line, m.chambern, m.HVeff, m.HVapp, m.current, m.temp, m.presure, m.humidity);
    reading.measurements.push_back(std::move(m));
  }
  reading.readError = scan.bad();
  return reading;
}

double correctedHV(const Measurement& m) {
  // HV / ((1 - alpha) + alpha * P / P0): alpha 0.8, P0 990 mbar the scans' reference.
  constexpr double kPressureWeight = 0.8;
  constexpr double kReferencePressure = 990.0;
  if (m.chambern.find("OnePoint") != std::string::npos) return m.HVeff;
  return m.HVapp / ((1.0 - kPressureWeight) + kPressureWeight * (m.presure / kReferencePressure));
}

namespace {

// Notes the first time a gap's effective HV comes down: a scan steps its HV
// upwards, and one that comes down again (a ramp back, two scans in one file)
// has no single ohmic region at its end.
void noteDescent(const Measurement& m, double lastHVeff, GapPoints& gap,
                 std::vector<LineNote>& notes) {
  if (gap.hv.empty() || !(m.HVeff < lastHVeff) || gap.notAscendingLine != 0) return;
  gap.notAscendingLine = m.lineNumber;
  std::ostringstream message;
  message << "gap \"" << excerpt(m.chambern) << "\": effective HV " << m.HVeff
          << " V comes after " << lastHVeff
          << " V: the scan is not ascending; the gap's ohmic region is not searched";
  notes.push_back({m.lineNumber, message.str()});
}

}  // namespace

CollectedPoints collectPoints(const std::vector<Measurement>& measurements,
                              const ChamberIndexList& ChamberIndex) {
  CollectedPoints points;
  points.gaps.resize(ChamberIndex.size());
  std::map<std::string, std::size_t> index;
  for (const auto& [name, k] : ChamberIndex) index.emplace(name, static_cast<std::size_t>(k));
  std::vector<double> lastHVeff(ChamberIndex.size(), 0.0);
  double largest = 0.0;
  for (const Measurement& m : measurements) {
    const auto found = index.find(m.chambern);
    if (found == index.end()) {
      points.notes.push_back(
          {m.lineNumber, "gap \"" + excerpt(m.chambern) + "\" is not in the gap list; line skipped"});
      continue;
    }
    const double HV = correctedHV(m);
    if (!std::isfinite(HV)) {
      std::ostringstream message;
      message << "applied HV " << m.HVapp << " at pressure " << m.presure
              << " gives a corrected HV that is not finite; line skipped";
      points.notes.push_back({m.lineNumber, message.str()});
      continue;
    }
    const std::size_t slot = found->second;
    GapPoints& gap = points.gaps[slot];
    noteDescent(m, lastHVeff[slot], gap, points.notes);
    lastHVeff[slot] = m.HVeff;
    gap.hv.push_back(HV);
    gap.current.push_back(m.current);
    gap.pressure.push_back(m.presure);
    gap.temperature.push_back(m.temp);
    gap.humidity.push_back(m.humidity);
    ++points.usedLines;
    if (m.current > largest) {
      largest = m.current;
      points.maxcurrentindex = static_cast<int>(slot);
    }
  }
  return points;
}
