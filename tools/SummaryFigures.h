// The summary figures of the campaign report, for a campaign of any size:
// resistivity and onset per gap in panels of one gap type (tools/SummaryPanels),
// both methods side by side, a gap's repeated results told apart by scan date,
// its limits drawn, and a histogram of the knee-fit resistivity per gap type,
// painted from every scan's results.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/Limits.h"
#include "tools/ReportInputs.h"
#include "tools/ReportPage.h"

// The width in pixels of a summary panel, and the widest the page shows a
// figure (its style sheet): a label must stay legible at that scale.
inline constexpr int kPanelWidth = 1600;
inline constexpr int kShownFigureWidth = 1100;
// The smallest text a reader is asked to read on the page, in CSS pixels.
inline constexpr double kLegibleTextPx = 10.0;

// One summary figure and what the page says of it.
struct SummaryFigure {
  std::string name;     // file name inside the figures directory
  std::string group;    // the heading it stands under
  std::string caption;
  bool painted = false;  // a figure was drawn (false: nothing to show, or stopped)
  bool small = false;    // a per-type histogram, shown a third of the page wide
  std::string note;      // what the figure leaves out; "" for nothing
  std::string error;     // why the file could not be written; "" when it was
  // A panel of gaps: its gaps, the gap labels its layout holds and their size
  // (text height in the figure's pixels, the smallest); 0 for other figures.
  std::size_t gaps = 0, gapLabels = 0;
  double labelPx = 0.0;
};

// Paints the figures into figuresDir (ending in "/", existing): per quantity
// (resistivity as log10 of rho, results not positive left out and counted in
// the note; onset) one panel per page of a gap type, <quantity>_<type>_<page>.png
// (type "other" for untyped gaps), and knee_rho_<type>.png for each type with a
// positive knee-fit resistivity. With `limits`, each gap's limits of the
// quantity are drawn. A quantity without any result gives one figure, not
// painted, with a note. Once `stopAsked` says so, no further figure is painted:
// the last one listed is not painted and its note says so.
std::vector<SummaryFigure> paintSummaryFigures(const std::vector<ScanTable>& scans, const Limits* limits,
                                               const std::string& figuresDir, const StopAsked& stopAsked = {});
