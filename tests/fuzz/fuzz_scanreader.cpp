// libFuzzer target over the scan reader: the gap listing, the reading of lines
// into graphs and the Entries.csv counts. Traps when the reader breaks a promise
// the rest of the program builds on.
#include <cmath>
#include <cstdint>
#include <sstream>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/gapohm.h"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzzsupport::NullBuffer sink;
  std::ostream null(&sink);
  ChamberIndexList gaps;
  std::istringstream listing(text), reading(text), counting(text);
  getChambers(listing, gaps, null);
  // Distinct, non-empty, non-header names in ascending byte order, index = position.
  for (std::size_t k = 0; k < gaps.size(); ++k) {
    require(gaps[k].second == static_cast<int>(k) && !gaps[k].first.empty() && gaps[k].first != kHeaderName);
    require(k == 0 || gaps[k - 1].first < gaps[k].first);
  }
  tk::Console console(null, null);
  const ScanPoints points = readScanPoints(reading, "fuzz.csv", gaps, console);
  require(points.graphs.size() == gaps.size());
  long stored = 0;
  for (const tk::Graph& g : points.graphs) {
    stored += g.GetN();
    for (std::size_t i = 0; i < g.GetX().size(); ++i) require(std::isfinite(g.GetX()[i]) && std::isfinite(g.GetY()[i]));
  }
  require(stored == points.usedLines);
  require(points.maxcurrentindex == 0 || (points.maxcurrentindex > 0 && points.maxcurrentindex < static_cast<int>(gaps.size())));
  require(!entriesReport(counting, "fuzz.csv", gaps, console).empty());
  return 0;
}
