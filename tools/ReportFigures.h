// What the campaign report's figures share: marker series with error bars, the
// span of what they show, the look that keeps a legend beside the data, the
// bounds a limit draws, and a painted figure's place on the page.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Console.h"
#include "tools/Limits.h"
#include "tools/ReportPage.h"

// An empty series drawn as markers of one colour and style, with error bars.
tk::Graph markerSeries(int colour, int marker, double size = 1.3);

// Appends (x, y) to the series with its error bar.
void addPointWithError(tk::Graph& g, double x, double y, double error);

// Lowest and highest y of the series with their error bars, and of `extra`; a
// span that is empty or a single value is widened to one unit about it.
std::pair<double, double> spanWithErrors(const std::vector<const tk::Graph*>& graphs, const std::vector<double>& extra);

// The look of a report figure whose legend stands in the right margin, beside
// the data, never on it: legends go at x from kSideLegendX to 0.99.
tk::Style sideLegendStyle();
inline constexpr double kSideLegendX = 0.77;

// The bounds of the limit that holds for the gap's quantity (none, or no
// limits: empty); with `logScale` their log10, a bound that is not positive
// left out.
std::vector<double> limitBounds(const std::string& gap, const std::string& quantity, const Limits* limits,
                                bool logScale);

// The page's HTML of figures/<name> with its caption, a third of the page wide
// when `small`; `attributes` (already escaped, each starting with a space) are
// added to its image.
std::string figureHtml(const std::string& name, const std::string& caption, bool small,
                       const std::string& attributes = "");

// The bottom margin (px) of a figure whose `gaps` gap names, the longest
// `longest` characters, read upwards under a frame `frameWidthPx` wide: tall
// enough for the names at the size their spacing allows (at most 32 px), within
// 60 to 900 px.
double gapNameMarginPx(const tk::Style& style, double frameWidthPx, std::size_t gaps, std::size_t longest);

// The gap labels a painted figure holds, as its layout places them: how many
// of its gaps got one, and the smallest text height in the figure's pixels (0
// without labels).
struct GapLabels {
  std::size_t gaps = 0, written = 0;
  double smallestPx = 0.0;
};
GapLabels gapLabelsOf(const tk::Canvas& canvas, std::size_t gaps);

// The image attributes (each starting with a space, for figureHtml) that tell a
// reader or a browser check what the figure shows: id "fig-<id>", data-gaps,
// data-gap-labels and data-label-px (rounded down to a tenth).
std::string gapLabelAttributes(const std::string& id, const GapLabels& labels);

// Paints figures into `dir` (ending in "/") for the page: a figure that cannot
// be written is printed through `console`, added to `failures` and left off;
// once `stopAsked` says so, no further figure is painted (`stopped` tells).
struct FigurePlace {
  const std::string& dir;
  tk::Console& console;
  tk::Failures& failures;
  const StopAsked& stopAsked;
  bool stopped = false;

  // The figure's HTML, or "" when it was not painted. `paint(path, error)`
  // returns false with the reason when the file cannot be written.
  template <class Paint>
  std::string figure(const std::string& name, const std::string& caption, bool small, Paint paint) {
    if (stopped || (stopAsked && stopAsked())) {
      stopped = true;
      return "";
    }
    std::string error;
    if (!paint(dir + name, error)) {
      console.error(tk::Status::IOError(error), failures);
      return "";
    }
    return figureHtml(name, caption, small);
  }
};
