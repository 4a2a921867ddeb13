// The summary figures of the campaign report: resistivity and onset per gap,
// both methods side by side and gaps grouped by chamber, and a histogram of the
// knee-fit resistivity per gap type, painted from every scan's results.
#pragma once

#include <string>
#include <vector>

#include "tools/ReportInputs.h"

// One summary figure and what the page says of it.
struct SummaryFigure {
  std::string name;     // file name inside the figures directory
  std::string caption;
  bool painted = false;  // a figure was drawn (false: no gap had a value to show)
  bool small = false;    // a per-type histogram, shown a third of the page wide
  std::string note;      // what the figure leaves out; "" for nothing
  std::string error;     // why the file could not be written; "" when it was
};

// Paints the figures into figuresDir (ending in "/", existing): resistivity.png
// (log10 of rho; results that are not positive are left out and counted in its
// note) and onset.png, always listed, then knee_rho_<type>.png for bottom,
// top-narrow, top-wide and "other" (untyped) gaps, listed and written only when
// that type has a positive knee-fit resistivity. Only fitted values are drawn.
std::vector<SummaryFigure> paintSummaryFigures(const std::vector<ScanTable>& scans, const std::string& figuresDir);
