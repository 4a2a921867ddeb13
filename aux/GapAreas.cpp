#include "aux/GapAreas.h"

#include <sstream>

#include "aux/ScanInput.h"

namespace {

constexpr double kSmallestArea = 1.0;       // cm2
constexpr double kLargestArea = 100000.0;   // cm2: 10 m2

// The area of one line, or "" with the area set.
std::string lineError(const std::string& line, std::string& name, double& area) {
  const std::size_t comma = line.find(',');
  if (comma == std::string::npos) return "expected \"gap name,area in cm2\"";
  name = line.substr(0, comma);
  if (name.empty()) return "no gap name before the comma";
  std::string number = line.substr(comma + 1);
  if (!number.empty() && number.back() == '\r') number.pop_back();
  if (number.find(',') != std::string::npos) return "more than two fields";
  if (!readWholeNumber(number, area)) return "area \"" + excerpt(number) + "\" is not a number";
  if (!(area > 0.0)) return "area " + excerpt(number) + " is not positive";
  // Outside this span an area is a typing mistake (a missing or an extra factor
  // of a thousand), and a tiny one would give resistances near infinity.
  if (area < kSmallestArea || area > kLargestArea) {
    return "area " + excerpt(number) + " cm2 is outside 1 cm2 to 10 m2 (100000 cm2)";
  }
  return "";
}

}  // namespace

bool parseGapAreas(const std::string& text, const std::string& file, GapAreas& areas,
                   std::string& error) {
  areas.clear();
  std::istringstream in(text);
  std::string line;
  long number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1) dropByteOrderMark(line);
    if (line.empty() || line == "\r" || line[0] == '#') continue;
    std::string name;
    double area = 0.0;
    std::string why = lineError(line, name, area);
    if (why.empty() && !areas.emplace(name, area).second) {
      why = "gap \"" + excerpt(name) + "\" has an area already";
    }
    if (!why.empty()) {
      error = file + ":" + std::to_string(number) + ": " + why;
      areas.clear();
      return false;
    }
  }
  return true;
}
