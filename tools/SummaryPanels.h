// How the campaign's summary figures hold any number of gaps: the gaps grouped
// by type and paged into panels few enough for every label to stay legible, a
// gap's repeated results told apart by scan date, and axis ranges that one wild
// value or error bar does not set. Pure rules; tools/SummaryFigures paints with
// them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The most gaps a summary panel holds: at the page's figure width their labels
// stay at least 10 px high (tests/test_report.cpp checks the layout,
// tests/browser_report600.sh the browser).
inline constexpr std::size_t kGapsPerPanel = 40;

// One panel: gaps of one type, a page of them.
struct SummaryPanel {
  std::string type;              // gapTypeWord of its gaps; "" for untyped gaps
  std::size_t page = 1, pages = 1;
  std::size_t first = 0;         // the type's gaps before this panel's
  std::size_t ofType = 0;        // the type's gaps in all
  std::vector<std::string> gaps;  // by chamber, then by name
};

// The gaps (each once, whatever `gaps` repeats) in panels: by type (bottom,
// top-narrow, top-wide, untyped), a type's gaps in the fewest panels of at most
// `perPanel` gaps (perPanel >= 1), as evenly filled as they divide, in chamber
// order so that a chamber's gaps stay together.
std::vector<SummaryPanel> summaryPanels(const std::vector<std::string>& gaps, std::size_t perPanel = kGapsPerPanel);

// Each result's rank among one gap's results by scan date (ISO text): 0 the
// oldest, equal dates in the order given, results without a date after all
// dated ones.
std::vector<std::size_t> dateRanks(const std::vector<std::string>& dates);

// The x offset, from its gap's category, of the result of rank `rank` out of
// `results`: the window search's results (method 0) spread over the category's
// left part, the knee fit's (method 1) over its right part, oldest to newest from
// left to right; a single result at its part's centre.
double offsetInCategory(std::size_t rank, std::size_t results, int method);

// The campaign's scan dates in at most `most` classes of consecutive dates, one
// colour each on the figures: every distinct date its own class when there are
// few enough, else the dates in `most` runs of about as many dates each.
struct DateClasses {
  std::vector<std::string> first, last;  // each class's first and last date

  // The class of an ISO date; -1 for text that is not one (no date known).
  int classOf(const std::string& date) const;
};
inline constexpr std::size_t kDateClasses = 6;
DateClasses dateClasses(const std::vector<std::string>& dates, std::size_t most = kDateClasses);

// The range the values of a summary figure are shown over: the values inside
// the far fences of their quartiles (Q1 - 3 s, Q3 + 3 s, s the interquartile
// range or the median error, whichever is larger), widened by twice the median
// error, and `extra` (the limits drawn). A value or error bar beyond it is
// clipped and counted, never left out. {0, 1} when there is no finite value.
struct ValueRange {
  double low = 0.0, high = 1.0;
};
ValueRange robustRange(const std::vector<double>& values, const std::vector<double>& errors,
                       const std::vector<double>& extra);

// The top to frame a count axis with (tk::frameGraph from 0) for a fullest bin
// of `top`: the smallest whole number at or above it at which the toolkit's
// ticks fall on whole counts, never at 0.2 "gaps".
double countAxisTop(double top);
