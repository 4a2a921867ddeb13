// The verdicts of the ohmic-region search's windows, in time linear in a gap's points.
//
// The search tries the HV windows [x[j], x[N-1]] for j = firstPoint, firstPoint + 1, ...
// (x in stored order; a window holds every point whose HV lies in it, both ends
// inclusive, whatever the point's position, and its ends are swapped when x[j] is
// above x[N-1]), fits a straight line with unit point errors to each and stops at
// the first window goodFit passes under the option. Refitting each window reads all
// its points, about N^2/2 in all. Here every window's line comes from centred moments
// grown once over the points in HV order; a window whose chi-square lies so close to
// a band edge that the rounding of either computation could tip it is refitted with
// tk::fitLine, so every verdict is the one the full refit gives.
#pragma once

#include <vector>

// What the search learns of one window.
struct WindowJudgement {
  int first = 0;                 // j: the window is [x[j], x[N-1]]
  int points = 0;                // points inside the window
  int ndf = 0;                   // points - 2; 0 when the line is undetermined
  double chi2 = 0.0;             // sum of squared residuals; 0 when undetermined
  double goodness = 0.0;         // goodFit's test value under the option
  double slope = 0.0;            // nA/cm^2 per V; NaN when undetermined
  double intercept = 0.0;        // nA/cm^2; NaN when undetermined
  double slopeError = 0.0;       // tk::fitLine's convention; NaN when undetermined
  double interceptError = 0.0;   // likewise
  bool determined = false;       // at least two points and more than one HV
  bool good = false;             // the verdict: always that of the exact fit
  bool exact = false;            // numbers from tk::fitLine, not from the moments
};

// Judges the windows j = firstPoint, firstPoint + 1, ..., N - 1 in order and stops
// after the first good one, as the search does; returns every window judged (the
// first good one, if any, last). An undetermined window is never good.
// Needs x and y of the gap's graph in stored order, of equal length, firstPoint >= 0
// (std::invalid_argument otherwise) and the goodness option (1, 2, 3; any other is
// never good). Guarantees: the verdicts, hence the index of the good window, points
// and ndf are those of tk::fitLine + goodFit per window; chi2, goodness, the line and
// its errors agree with them to rounding (exact when `exact`), so a caller that
// reports numbers refits the chosen window. Time O(N) when x is non-decreasing,
// O(N log N) otherwise, plus one O(N) refit per window within rounding of a band
// edge (rare: none in 100000 generated scans not built to sit on one); memory
// O(N). A gap holding a non-finite value is judged by full refits throughout.
std::vector<WindowJudgement> judgeWindows(const std::vector<double>& x, const std::vector<double>& y,
                                          int firstPoint, int fitTest);

// The same judgements from a full tk::fitLine + goodFit of every window (all `exact`):
// the search as it always was, O(N^2). Same needs.
std::vector<WindowJudgement> judgeWindowsExact(const std::vector<double>& x,
                                               const std::vector<double>& y, int firstPoint,
                                               int fitTest);

// The window whose line the gap's graph carries after the search: the last
// determined window judged (the good one when there is one), as each determined
// window's fit replaced the graph's function and an undetermined one left it.
// Returns its j, or -1 when no window judged held a line. The caller refits that
// one window exactly (fit() on the graph), which restores the graph's function,
// the printed numbers and the verdict the window-by-window search left.
int lastFittedWindow(const std::vector<WindowJudgement>& judged);
