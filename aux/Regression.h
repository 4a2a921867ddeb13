// Line fitting for the ohmic-region search: the straight-line fit of one HV window
// with its goodness test, the constant-level fit of the region in front of it, and
// the diagnostic histograms over all windows tried for a gap.
//
// Goodness options (both bounds exclusive):
//   1: NDF / chi2 in (0.8, 2.0)   2: chi2 in (0.07, 0.12)   3: chi2 in (0.007, 0.02)
//   any other option: test value 300000, never good.
// Progress lines go to the `log` stream passed in, only when INFO is true.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Log.h"
#include "toolkit/Graph.h"
#include "toolkit/Types.h"

// The result of one straight-line fit J = ParameterA * HV + ParameterB.
struct fitstatus {
  Int_t NDF;            // degrees of freedom
  Double_t ChiSquared;  // sum of squared residuals
  Double_t Goodness;    // test value under the option used
  Double_t ErrorA;      // uncertainty of the slope
  Double_t ErrorB;      // uncertainty of the intercept
  Double_t ParameterA;  // slope, nA/cm^2 per V
  Double_t ParameterB;  // intercept, nA/cm^2
};

// The test value of a fit under option `test`.
Double_t TestValue(Double_t Chisquared, Int_t DegreesOfFreedom, Int_t test, Bool_t INFO,
                   std::ostream& log);

// True when the test value lies strictly inside the option's bounds; always
// writes the test value into Goodness.
bool goodFit(Double_t Chisquared, Int_t DegreesOfFreedom, Double_t& Goodness, Int_t test,
             Bool_t INFO, std::ostream& log);

// One window's straight-line fit and its verdict: `values` as fit() fills them,
// the fitted line (blue 600, width 2) when the window determines one, and
// whether it passes the option's test (never without a line).
struct WindowFit {
  fitstatus values{};
  std::optional<tk::Function> line;
  bool good = false;
};
// Fits the window [StartFit, EndFit] of the graph's points and judges it under
// FitTest. Touches nothing: the graph keeps its function, nothing is drawn.
WindowFit fitWindow(const tk::Graph& Current, Double_t StartFit, Double_t EndFit, Int_t FitTest);
// The verbose lines fit() writes for this window (its fit values and goodFit's lines).
void logWindowFit(const WindowFit& window, Int_t FitTest, std::ostream& log);

// The constant level in front of an ohmic window: (level, error), the fit's
// chi2 and NDF, NDF / chi2 as fitleft returns it, and the level (in the default
// look of a function) when the window holds a point; (NaN, NaN) otherwise.
struct LevelFit {
  std::pair<double, double> ParameterC{0.0, 0.0};
  Double_t Chisquared = 0.0;
  Double_t DegreesOfFreedom = 0.0;
  Double_t StatusFit = 0.0;
  std::optional<tk::Function> level;
};
// Fits the level over [StartFit, EndFit]; touches nothing, as fitWindow.
LevelFit fitLevel(const tk::Graph& Current, Double_t StartFit, Double_t EndFit);
// The level as the graph carries it after fitleft: colour 632, width 2.
tk::Function attachedLevel(const tk::Function& level);
// The verbose lines fitleft() writes for this level.
void logLevelFit(const LevelFit& level, std::ostream& log);

// Fits the line over [StartFit, EndFit] of *Current, fills every field of
// fitvalues and returns the verdict under FitTest. The graph then carries the
// fit as its function "f2" (colour 600, width 2). When good, the line is drawn
// on `pad` in blue (600). A window that cannot determine a line (fewer than two
// points, or one HV only) is judged not good: fitvalues gets NDF 0, chi2 0, NaN
// parameters and errors, and the graph keeps its previous function.
Bool_t fit(tk::Graph* Current, Double_t StartFit, Double_t EndFit, fitstatus& fitvalues,
           Int_t FitTest, Bool_t INFO, tk::Canvas& pad, std::ostream& log);

// Fits a constant level over [StartFit, EndFit] of *Current, writes (level, error)
// into ParameterC and returns NDF / chi2. The graph then carries the level as its
// function "f2" (colour 632, width 2), and the level is drawn on `pad` (red).
// A window with no point gives ParameterC = (NaN, NaN) and draws nothing.
Double_t fitleft(tk::Graph* Current, Double_t StartFit, Double_t EndFit,
                 std::pair<double, double>& ParameterC, Bool_t INFO, tk::Canvas& pad,
                 std::ostream& log);

// Saves the distributions of chi-square, degrees of freedom and test value of
// the fits tried for a gap, as Path + chambername + "_ChiS", "_NDf" and
// "_GoodNessOfFitH", each followed by `extension` (".png" by default). Needs at
// least one record; an empty list draws nothing. The chi-square and test-value
// histograms span the smallest to the largest value (the largest thus in the
// overflow, a single value giving an automatic range); NaN values are counted in
// the overflow but set no edge. A file that cannot be written is said as an error in
// `log`, as are the progress lines (INFO). Always returns false.
Bool_t plottingChiSquared(std::vector<fitstatus> fitvaluesvector, std::string chambername,
                          Int_t FitTest, std::string Path, Bool_t INFO, const tk::Style& style,
                          const std::string& extension, tk::Log& log);

// Strict orderings that sort the largest value first.
bool descending_on_chisquared(fitstatus a, fitstatus b);
bool descending_on_value(Double_t a, Double_t b);
