// The ohmic-region search: windows from point 15 to the last point, the widest
// passing one, the level in front of it, and the values they give.
#include "aux/OhmicSearch.h"

#include <cmath>

#include "aux/WindowScan.h"

Int_t fittingTestFor(double top) {
  // The chi-square per degree of freedom for well-lit curves, fixed chi-square
  // bands for faint ones, whose scatter the unit point errors overstate.
  Int_t test = 1;
  if (top < 15) test = 2;
  if (top < 3) test = 3;
  return test;
}

namespace {

// The gap's values from the passing line (slope A, intercept B) and the level L.
// The onset U = (L - B) / A, where the line meets the level, with its error in
// volts: |U| ((sL + sB) / |L - B| + sA / |A|). Where the level meets the line at
// its intercept the first term is written as (sL + sB) / |A|, its limit.
void fillValues(const fitstatus& line, const std::pair<double, double>& level, OhmicSearch& s) {
  const double A = line.ParameterA;
  const double B = line.ParameterB;
  const double sA = line.ErrorA;
  const double sB = line.ErrorB;
  const double L = level.first;
  const double sL = level.second;
  // A flat or undefined slope has no resistivity, and a level that could not be
  // fitted no onset: reporting them would hand on numbers no fit of this gap made.
  if (A == 0 || !std::isfinite(A) || !std::isfinite(B) || !std::isfinite(L)) return;
  const double U = (L - B) / A;
  const double sU = (L == B) ? (sL + sB) / std::fabs(A)
                             : std::fabs(U) * ((sL + sB) / std::fabs(L - B) + sA / std::fabs(A));
  s.onset = {U, sU};
  s.resistivity = {1e9 / (A * kGapLength), sA * (1e9 / kGapLength) / (A * A)};
  s.offset = {L, sL};
  s.statFit = true;
}

}  // namespace

namespace {

// A window's record from its judgement: the numbers agree with its exact fit to rounding.
WindowTry fromJudgement(const WindowJudgement& judged, double from, double to) {
  WindowTry window{judged.first, from, to, {}};
  fitstatus& f = window.fit.values;
  f.NDF = judged.ndf;
  f.ChiSquared = judged.chi2;
  f.Goodness = judged.goodness;
  f.ErrorA = judged.slopeError;
  f.ErrorB = judged.interceptError;
  f.ParameterA = judged.slope;
  f.ParameterB = judged.intercept;
  window.fit.good = judged.good;
  return window;
}

// Every window fitted in full, for the records the verbose log and the fit-scan
// figures show; the windows the search keeps are the same.
void fitEveryWindow(const tk::Graph& gap, OhmicSearch& s) {
  const std::vector<double>& X = gap.GetX();
  const double last = X.back();
  for (int j = kFirstWindowPoint; j < gap.GetN() && !s.passed; ++j) {
    const double from = X[static_cast<std::size_t>(j)];
    WindowTry window{j, from, last, fitWindow(gap, from, last, s.fitTest)};
    if (window.fit.line) s.attached = window.fit.line;
    s.passed = window.fit.good;
    s.windows.push_back(std::move(window));
  }
}

// The windows judged from running moments in linear time; only the window whose
// line the graph keeps (the passing one, or the last with a line) is refitted,
// so the numbers reported are those of its exact fit.
void judgeEveryWindow(const tk::Graph& gap, OhmicSearch& s) {
  const std::vector<double>& X = gap.GetX();
  const double last = X.back();
  const std::vector<WindowJudgement> judged =
      judgeWindows(X, gap.GetY(), kFirstWindowPoint, s.fitTest);
  const int kept = lastFittedWindow(judged);
  s.windows.reserve(judged.size());  // a window record is some 200 bytes: no slack
  for (const WindowJudgement& w : judged) {
    s.windows.push_back(fromJudgement(w, X[static_cast<std::size_t>(w.first)], last));
    if (w.first != kept) continue;
    s.windows.back().fit = fitWindow(gap, s.windows.back().from, last, s.fitTest);
    s.attached = s.windows.back().fit.line;
  }
  s.passed = !s.windows.empty() && s.windows.back().fit.good;
}

}  // namespace

OhmicSearch searchOhmicWindow(const tk::Graph& gap, bool everyWindowExact, bool anyAxis) {
  OhmicSearch s;
  s.fitTest = fittingTestFor(gap.yAxis().high);
  s.points = gap.GetN();
  s.attached = gap.function;
  s.searched = anyAxis || gap.xAxis().high < kArgonScanLimit;
  if (!s.searched || gap.GetN() <= kFirstWindowPoint) return s;
  if (everyWindowExact) {
    fitEveryWindow(gap, s);
  } else {
    judgeEveryWindow(gap, s);
  }
  if (!s.passed) return s;
  const std::vector<double>& X = gap.GetX();
  s.level = fitLevel(gap, X[0], s.windows.back().from);
  if (s.level.level) s.attached = attachedLevel(*s.level.level);
  fillValues(s.windows.back().fit.values, s.level.ParameterC, s);
  return s;
}
