// libFuzzer target over the scan reader: the gap listing, the driver's reading of
// the lines into graphs, the Entries.csv counts, and the line splitter on every
// line. Beyond the sanitizers' own checks it traps when the reader breaks a
// promise the rest of the program builds on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/gapohm.h"

using fuzzsupport::NullBuffer;
using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  NullBuffer sink;
  std::ostream null(&sink);

  ChamberIndexList ChamberIndex;
  {
    std::istringstream scan(text);
    getChambers(scan, ChamberIndex, null);
  }
  // Distinct, non-empty, non-header names in ascending byte order, index = position.
  for (std::size_t k = 0; k < ChamberIndex.size(); ++k) {
    require(ChamberIndex[k].second == static_cast<int>(k));
    require(!ChamberIndex[k].first.empty() && ChamberIndex[k].first != kHeaderName);
    if (k > 0) require(ChamberIndex[k - 1].first < ChamberIndex[k].first);
  }

  tk::Console console(null, null);
  {
    std::istringstream scan(text);
    const ScanPoints points = readScanPoints(scan, "fuzz.csv", ChamberIndex, console);
    require(points.graphs.size() == ChamberIndex.size());
    long stored = 0;
    for (const tk::Graph& g : points.graphs) {
      stored += g.GetN();
      for (int i = 0; i < g.GetN(); ++i) {
        // Only finite readings with a positive pressure reach a graph.
        require(std::isfinite(g.GetX()[static_cast<std::size_t>(i)]));
        require(std::isfinite(g.GetY()[static_cast<std::size_t>(i)]));
      }
      const tk::AxisRange x = g.xAxis();
      require(!(x.high < x.low));
    }
    require(stored == points.usedLines);
    require(points.maxcurrentindex >= 0);
    require(ChamberIndex.empty() ? points.maxcurrentindex == 0
                                 : points.maxcurrentindex < static_cast<int>(ChamberIndex.size()));
  }
  {
    std::istringstream scan(text);
    const std::string report = entriesReport(scan, "fuzz.csv", ChamberIndex, console);
    require(!report.empty());
  }

  std::istringstream lines(text);
  std::string chambern;
  double HVeff = 0, HVapp = 0, current = 0, temp = 0, presure = 0, humidity = 0;
  for (std::string line; std::getline(lines, line);) {
    getParameters(line, chambern, HVeff, HVapp, current, temp, presure, humidity);
    double value = 0.0;
    for (const std::string& field : splitFields(line)) {
      if (readNumber(field, value)) require(std::isfinite(value));
    }
  }
  return 0;
}
