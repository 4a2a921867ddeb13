// libFuzzer target over the scan reader: the gap listing, the reading of lines
// into each gap's points and the whole analysis of a scan. Traps when the reader breaks a promise
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
  std::istringstream listing(text), reading(text);
  getChambers(listing, gaps, null);
  // Distinct, non-empty, non-header names in ascending byte order, index = position.
  for (std::size_t k = 0; k < gaps.size(); ++k) {
    require(gaps[k].second == static_cast<int>(k) && !gaps[k].first.empty() && gaps[k].first != kHeaderName);
    require(k == 0 || gaps[k - 1].first < gaps[k].first);
  }
  const ScanReading read = readScan(reading);
  const CollectedPoints points = collectPoints(read.measurements, gaps);
  require(points.gaps.size() == gaps.size());
  long stored = 0;
  for (const GapPoints& g : points.gaps) {
    stored += static_cast<long>(g.hv.size());
    for (std::size_t i = 0; i < g.hv.size(); ++i) require(std::isfinite(g.hv[i]) && std::isfinite(g.current[i]));
  }
  require(stored == points.usedLines);
  require(points.maxcurrentindex == 0 || (points.maxcurrentindex > 0 && points.maxcurrentindex < static_cast<int>(gaps.size())));
  // The whole analysis, as a run does it: every gap a row, every row its gap.
  const RunOutcome run = analyseScan("fuzz.csv", "", text, AnalysisSettings{});
  require(run.gaps.size() == run.gapList.size());
  for (const GapResult& g : run.gaps) require(g.result.gap == g.name);
  return 0;
}
