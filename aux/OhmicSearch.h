// The ohmic-region search of one gap, as a pure function: the gap's points in,
// everything the search tried and found out. The figures, the log lines and the
// reports are rendered from its result; nothing here draws, prints or writes.
//
// The search tries the windows X[j]..X[N-1] for j = 15, 16, ... (X the HV of the
// points in stored order, a window holding every point whose HV lies in it) and
// takes the first whose straight-line fit passes the goodness test, the widest.
// The level in front of it is fitted over X[0]..X[j]: the two regions share the
// window's first point. The search runs only on argon scans, whose HV axis ends
// below 2500 V.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "aux/GapRules.h"
#include "aux/Regression.h"
#include "toolkit/Graph.h"

// The ohmic-region search runs only on argon scans, whose HV axis ends below this (V).
inline constexpr double kArgonScanLimit = 2500.0;
// First point of every window the search tries; every window ends at the last point.
inline constexpr int kFirstWindowPoint = 15;
// A window keeps a degree of freedom from three points on, so a gap needs this many
// points for any window to be able to pass.
inline constexpr int kFewestSearchPoints = kFirstWindowPoint + 3;

// The goodness option for a curve whose y axis ends at `top` (nA/cm^2): 1 from
// 15 up, 2 from 3 up, else 3.
Int_t fittingTestFor(double top);

// One window tried: its first point's position and HV range, and its fit.
struct WindowTry {
  int first = 0;
  double from = 0.0, to = 0.0;
  WindowFit fit;
};

struct OhmicSearch {
  Int_t fitTest = 1;              // the goodness option used
  bool searched = false;          // the HV axis ends below 2500 V
  int points = 0;                 // points of the gap
  std::vector<WindowTry> windows;  // every window tried, in order
  bool passed = false;            // a window passed the test: the last one tried
  LevelFit level;                 // the level in front of the passing window
  // The function the gap's graph carries when the search is over (the latest
  // fit: the level after a pass, else the last window's line), as figures paint it.
  std::optional<tk::Function> attached;
  // A pass whose slope is finite and not zero, and whose level could be fitted:
  // only then are the three pairs below the gap's results.
  bool statFit = false;
  std::pair<double, double> resistivity{0.0, 0.0};  // Ohm*cm
  std::pair<double, double> offset{0.0, 0.0};       // nA/cm^2
  std::pair<double, double> onset{0.0, 0.0};        // V
  // The passing window's fit (the last window tried), when passed.
  const WindowTry* pass() const { return passed ? &windows.back() : nullptr; }
};

// Searches the gap's ohmic region. The graph is only read: its points, its axis
// ranges (which choose the option and whether the search runs) and the function
// it carries before the search. The windows are judged in time linear in the
// points, with the verdicts of their full fits; the window the graph keeps is
// refitted, so the result is that of the window-by-window search. With
// everyWindowExact every window tried is fitted in full (quadratic), so that each
// record in `windows` holds its exact fit, as the verbose log and the fit-scan
// figures show them; otherwise the records hold numbers equal to rounding.
// With anyAxis the search runs whatever the HV axis (a scan declared argon).
OhmicSearch searchOhmicWindow(const tk::Graph& gap, bool everyWindowExact = false, bool anyAxis = false);
