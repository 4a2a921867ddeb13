#include "tools/SummaryPanels.h"

#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

#include "aux/GapRules.h"
#include "aux/ScanDate.h"
#include "toolkit/Graph.h"
#include "toolkit/Look.h"
#include "tools/Limits.h"

std::vector<SummaryPanel> summaryPanels(const std::vector<std::string>& gaps, std::size_t perPanel) {
  const GapType order[] = {GapType::bottom, GapType::topNarrow, GapType::topWide, GapType::unknown};
  std::vector<SummaryPanel> panels;
  for (const GapType type : order) {
    std::set<std::pair<std::string, std::string>> ofType;  // chamber, gap
    for (const std::string& gap : gaps) {
      if (gapTypeOf(gap) == type) ofType.emplace(chamberOf(gap), gap);
    }
    if (ofType.empty()) continue;
    const std::size_t n = ofType.size();
    const std::size_t pages = (n + perPanel - 1) / perPanel;
    auto at = ofType.begin();
    for (std::size_t p = 0; p < pages; ++p) {
      SummaryPanel panel;
      panel.type = gapTypeWord(type);
      panel.page = p + 1, panel.pages = pages, panel.ofType = n;
      panel.first = p * n / pages;
      for (std::size_t k = panel.first; k < (p + 1) * n / pages; ++k, ++at) panel.gaps.push_back(at->second);
      panels.push_back(std::move(panel));
    }
  }
  return panels;
}

std::vector<std::size_t> dateRanks(const std::vector<std::string>& dates) {
  std::vector<std::size_t> order(dates.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<bool> dated(dates.size());
  for (std::size_t k = 0; k < dates.size(); ++k) dated[k] = isoDate(dates[k]).has_value();
  // ISO dates sort as text; a result without one goes after every dated one.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return dated[a] != dated[b] ? dated[a] : dated[a] && dates[a] < dates[b];
  });
  std::vector<std::size_t> ranks(dates.size());
  for (std::size_t r = 0; r < order.size(); ++r) ranks[order[r]] = r;
  return ranks;
}

double offsetInCategory(std::size_t rank, std::size_t results, int method) {
  // Each method has 0.4 of the category, 0.1 apart at its middle.
  const double left = method == 0 ? -0.45 : 0.05, width = 0.4;
  if (results < 2) return left + width / 2;
  return left + width * static_cast<double>(rank) / static_cast<double>(results - 1);
}

int DateClasses::classOf(const std::string& date) const {
  if (!isoDate(date) || first.empty()) return -1;
  const auto after = std::upper_bound(first.begin(), first.end(), date);
  return after == first.begin() ? 0 : static_cast<int>(after - first.begin()) - 1;
}

DateClasses dateClasses(const std::vector<std::string>& dates, std::size_t most) {
  std::set<std::string> distinct;
  for (const std::string& date : dates) {
    if (isoDate(date)) distinct.insert(date);
  }
  const std::vector<std::string> sorted(distinct.begin(), distinct.end());
  const std::size_t n = sorted.size(), classes = std::min(n, std::max<std::size_t>(most, 1));
  DateClasses out;
  for (std::size_t c = 0; c < classes; ++c) {
    out.first.push_back(sorted[c * n / classes]);
    out.last.push_back(sorted[(c + 1) * n / classes - 1]);
  }
  return out;
}

namespace {

double sortedMedian(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : gsl_stats_median_from_sorted_data(v.data(), 1, v.size());
}

}  // namespace

ValueRange robustRange(const std::vector<double>& values, const std::vector<double>& errors,
                       const std::vector<double>& extra) {
  std::vector<double> finite, spread;
  for (const double v : values) {
    if (std::isfinite(v)) finite.push_back(v);
  }
  for (const double e : errors) {
    if (std::isfinite(e)) spread.push_back(std::fabs(e));
  }
  if (finite.empty()) return {};
  std::sort(finite.begin(), finite.end());
  const double q1 = gsl_stats_quantile_from_sorted_data(finite.data(), 1, finite.size(), 0.25);
  const double q3 = gsl_stats_quantile_from_sorted_data(finite.data(), 1, finite.size(), 0.75);
  const double medianError = sortedMedian(spread);
  const double fence = 3.0 * std::max(q3 - q1, medianError);
  ValueRange range{HUGE_VAL, -HUGE_VAL};
  for (const double v : finite) {
    if (v < q1 - fence || v > q3 + fence) continue;
    range.low = std::min(range.low, v - 2.0 * medianError);
    range.high = std::max(range.high, v + 2.0 * medianError);
  }
  for (const double v : extra) {
    if (std::isfinite(v)) range.low = std::min(range.low, v), range.high = std::max(range.high, v);
  }
  if (!(range.high > range.low)) {
    // One value, or all alike without errors: a span about it that still reads.
    const double half = std::max(0.5, 0.05 * std::fabs(range.low));
    range = {range.low - half, range.low + half};
  }
  return range;
}

double countAxisTop(double top) {
  double n = std::max(1.0, std::ceil(top));
  for (;; n += 1.0) {
    const tk::AxisRange axis = tk::layoutRange({0.0, n}, false);
    if (tk::chooseTicks(axis.low, axis.high).step >= 1.0) return n;
  }
}
