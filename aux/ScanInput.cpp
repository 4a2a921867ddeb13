#include "aux/ScanInput.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

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
