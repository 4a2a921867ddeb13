#include "aux/ScanInput.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
    if (line == "\r") continue;  // a blank line of a file with CRLF line ends
    getChamber(line, name);
    // An empty name is no gap, nor a line split at ';': the reader refuses their lines.
    if (name == kHeaderName || name.empty() || name.find(';') != std::string::npos) continue;
    names.insert(name);
  }
  log << "INFO :: ScanInput: getChambers : running on chambers: " << std::endl;
  int k = 0;
  for (const std::string& n : names) {
    ChamberIndex.emplace_back(n, k++);
    log << "INFO :: ScanInput: getChambers :  \t " << escapeControls(n) << std::endl;
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

bool readWholeNumber(const std::string& field, double& value) {
  std::size_t at = 0;
  const std::size_t size = field.size();
  const auto blank = [&](std::size_t k) { return k < size && (field[k] == ' ' || field[k] == '\t'); };
  const auto digits = [&](std::size_t& k) {
    const std::size_t from = k;
    while (k < size && field[k] >= '0' && field[k] <= '9') ++k;
    return k - from;
  };
  while (blank(at)) ++at;
  const std::size_t begin = at;
  if (at < size && (field[at] == '+' || field[at] == '-')) ++at;
  std::size_t mantissa = digits(at);
  if (at < size && field[at] == '.') mantissa += digits(++at);
  if (mantissa == 0) return false;
  if (at < size && (field[at] == 'e' || field[at] == 'E')) {
    if (++at < size && (field[at] == '+' || field[at] == '-')) ++at;
    if (digits(at) == 0) return false;
  }
  const std::size_t end = at;
  while (blank(at)) ++at;
  if (at != size) return false;
  const std::string number = field.substr(begin, end - begin);
  const double v = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string excerpt(const std::string& field) {
  constexpr std::size_t kShown = 64;
  std::string out = escapeControls(field.substr(0, kShown));
  if (field.size() > kShown) out += "... (" + std::to_string(field.size()) + " bytes)";
  return out;
}

std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (n == 0 || lead > 0xF4 || at + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

bool looksBinary(const std::string& content) {
  const std::string head = content.substr(0, 4096);
  if (head.find('\0') != std::string::npos) return true;
  std::size_t odd = 0;
  for (std::size_t at = 0; at < head.size();) {
    const auto c = static_cast<unsigned char>(head[at]);
    if (c >= 0x80) {
      const std::size_t n = utf8Length(head, at);
      // A sequence cut by the 4 KiB edge is text all the same.
      if (n == 0 && head.size() - at >= 4) ++odd;
      at += n == 0 ? 1 : n;
      continue;
    }
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) ++odd;
    ++at;
  }
  return odd * 2 > head.size();
}

namespace {

// Digits before and after the decimal point of a number as written ("977.5": 3, 1).
std::pair<std::size_t, std::size_t> numberShape(std::string text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const auto digits = [](const std::string& t) {
    return static_cast<std::size_t>(std::count_if(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }));
  };
  return {digits(whole), point == std::string::npos ? 0 : digits(text.substr(point + 1))};
}

// True when the whole field is one finite decimal number (a line end allowed).
bool wholeNumber(std::string text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
  double value = 0.0;
  char* end = nullptr;
  return readNumber(text, value) && (std::strtod(text.c_str(), &end), *end == '\0');
}

// Why a last line that the file ends inside is taken for cut short, or "": a
// line is cut inside a field when it has fewer fields than the measurement
// before, a field that is not a whole number, or a last number written shorter
// than the same field of the line before (fewer decimals, or two or more digits
// fewer before the point: "977.5" cut to "97").
std::string cutShort(const std::vector<std::string>& fields, const std::vector<std::string>& previous) {
  if (fields.size() < previous.size() || fields.size() < 5) {
    return std::to_string(fields.size()) + " fields, the measurement before has " +
           std::to_string(previous.size());
  }
  for (std::size_t k = 1; k < fields.size() && k <= 6; ++k) {
    // A unit after a number is no cut where the line before writes one too.
    const bool usual = k >= previous.size() || wholeNumber(previous[k]);
    if (usual && !wholeNumber(fields[k])) return "its field " + std::to_string(k + 1) + " \"" + excerpt(fields[k]) + "\" is no whole number";
  }
  if (previous.size() != fields.size()) return "";
  const auto now = numberShape(fields.back());
  const auto before = numberShape(previous.back());
  if (now.second < before.second || now.first + 2 <= before.first) {
    return "its last field \"" + excerpt(fields.back()) + "\" is written shorter than the line before's \"" +
           excerpt(previous.back()) + "\"";
  }
  return "";
}

// Why the line is not a measurement (reason and kind, without a line number), or
// an empty note when it is one. `previous` holds the fields of the last
// measurement; `unterminated` says the file ended inside this line.
LineNote refusal(const std::vector<std::string>& fields, bool unterminated,
                 const std::vector<std::string>& previous) {
  if (fields[0].empty()) return {0, "line without a gap name skipped", "no gap name"};
  if (fields[0].find(';') != std::string::npos) {
    // Spreadsheets set to a decimal comma export "G;1850,0;1846,1;...": split
    // at commas, its pieces would read as numbers of the wrong columns.
    return {0, "fields separated by ';' (a spreadsheet export with decimal commas?); line skipped",
            kSemicolon};
  }
  // A file cut in the middle of its last line: a number cut short ("985.2"
  // read as "98") would pass for a reading.
  const std::string cut = unterminated ? cutShort(fields, previous) : "";
  if (!cut.empty()) return {0, "the file ends inside this line (" + cut + "); line skipped", "cut short"};
  if (fields.size() < 5) {
    return {0, "line with " + std::to_string(fields.size()) +
                " fields skipped (needs gap name, HV, applied HV, current, pressure)",
            kTooFewFields};
  }
  static const char* const kFieldNames[] = {"", "effective HV", "applied HV", "current",
                                            "pressure"};
  double value = 0.0;
  for (std::size_t k = 1; k <= 4; ++k) {
    if (!readNumber(fields[k], value)) {
      return {0, std::string(kFieldNames[k]) + " field \"" + excerpt(fields[k]) +
                  "\" is not a finite number; line skipped",
              kNotANumber};
    }
  }
  if (!(value > 0.0)) {
    return {0, "pressure " + excerpt(fields[4]) + " is not positive; line skipped", "pressure not positive"};
  }
  return {};
}

}  // namespace

ScanReading readScan(std::istream& scan) {
  ScanReading reading;
  std::string line;
  bool seenContent = false;
  std::vector<std::string> previous;  // the fields of the last measurement line
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
      if (!firstContent) {
        reading.refused.push_back({number, "header line inside the scan skipped", "header inside"});
      }
      continue;
    }
    LineNote why = refusal(fields, unterminated, previous);
    if (why.reason.empty()) {
      const auto [earlier, first] = seenLines.emplace(line, number);
      if (!first) {
        why = {0, "line repeats line " + std::to_string(earlier->second) + " exactly; skipped",
               "repeated line"};
      }
    }
    if (!why.reason.empty()) {
      why.line = number;
      reading.refused.push_back(std::move(why));
      continue;
    }
    previous = fields;
    Measurement m;
    m.lineNumber = number;
    getParameters(line, m.chambern, m.HVeff, m.HVapp, m.current, m.temp, m.presure, m.humidity);
    reading.measurements.push_back(std::move(m));
  }
  reading.readError = scan.bad();
  return reading;
}

std::vector<LineNote> notesInFileOrder(const std::vector<LineNote>& a, const std::vector<LineNote>& b) {
  std::vector<LineNote> all;
  std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(all),
             [](const LineNote& x, const LineNote& y) { return x.line < y.line; });
  return all;
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
  notes.push_back({m.lineNumber, message.str(), ""});
}

}  // namespace

bool plausibleConditions(double pressure, double temperature, double humidity) {
  return pressure >= 500.0 && pressure <= 1100.0 && temperature >= -30.0 && temperature <= 70.0 && humidity >= 0.0 &&
         humidity <= 100.0;
}

std::vector<std::size_t> keptIndices(std::size_t n, const std::vector<std::size_t>& left) {
  std::vector<std::size_t> kept;
  kept.reserve(n - std::min(n, left.size()));
  for (std::size_t k = 0, next = 0; k < n; ++k) {
    if (next < left.size() && left[next] == k) {
      ++next;
    } else {
      kept.push_back(k);
    }
  }
  return kept;
}

GapPoints GapPoints::plausible() const {
  GapPoints kept;
  kept.notAscendingLine = notAscendingLine;
  for (const std::size_t k : keptIndices(hv.size(), implausible)) {
    kept.hv.push_back(hv[k]);
    kept.current.push_back(current[k]);
    kept.pressure.push_back(pressure[k]);
    kept.temperature.push_back(temperature[k]);
    kept.humidity.push_back(humidity[k]);
  }
  return kept;
}

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
          {m.lineNumber, "gap \"" + excerpt(m.chambern) + "\" is not in the gap list; line skipped",
           "gap not listed"});
      continue;
    }
    const double HV = correctedHV(m);
    if (!std::isfinite(HV)) {
      std::ostringstream message;
      message << "applied HV " << m.HVapp << " at pressure " << m.presure
              << " gives a corrected HV that is not finite; line skipped";
      points.notes.push_back({m.lineNumber, message.str(), "corrected HV not finite"});
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
    if (!plausibleConditions(m.presure, m.temp, m.humidity)) {
      gap.implausible.push_back(gap.hv.size() - 1);
      gap.implausibleLines.push_back(m.lineNumber);
    }
    ++points.usedLines;
    if (m.current > largest) {
      largest = m.current;
      points.maxcurrentindex = static_cast<int>(slot);
    }
  }
  return points;
}
