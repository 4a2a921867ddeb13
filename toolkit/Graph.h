// A graph of (x, y) points with the axis layout and the attached fit function
// that the figures and the ohmic-region search rely on.
//
// The axis ranges reproduce the layout users know from their old plots: the data
// span widened by 10% on each side, clamped at zero for non-negative data. The
// per-gap search chooses its goodness test and decides whether to run from these
// upper ends, so they are part of the program's numbers, not only of its look.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk {

// A closed range [low, high] of an axis.
struct AxisRange {
  double low = 0.0;
  double high = 0.0;
};

// A function attached to a graph by a fit: a straight line y = p1 * x + p0
// (two parameters) or a constant y = p0 (one parameter), over [xmin, xmax].
struct Function {
  std::string name;          // the fit's function name ("f2" throughout the program)
  int npar = 2;              // 1: constant, 2: straight line
  double par[2] = {0.0, 0.0};    // par[0] intercept or level, par[1] slope
  double err[2] = {0.0, 0.0};    // parameter uncertainties
  double chi2 = 0.0;         // sum of squared residuals (unit point errors)
  int ndf = 0;               // points minus parameters, never negative
  int npoints = 0;           // points inside the window
  double xmin = 0.0;
  double xmax = 0.0;
  int lineColor = 2;         // colour index; a function without one is drawn red
  int lineWidth = 2;
  int lineStyle = 1;         // 1 solid, 2 dashed (12 px dashes and gaps)

  // Value of the function at x (the line or the constant level).
  double eval(double x) const { return npar >= 2 ? par[1] * x + par[0] : par[0]; }
};

// Points, marker attributes, axis titles and the function of the latest fit.
// Owns its points; copying a Graph copies everything.
class Graph {
 public:
  Graph() = default;

  // Stores (x, y) at position i. Positions beyond the current end grow the graph,
  // the gap filled with (0, 0) points, as the driver relies on storing point p of
  // a gap at position p.  Requires i >= 0.
  void SetPoint(int i, double x, double y);
  // Appends a point at the end.
  void AddPoint(double x, double y) { SetPoint(GetN(), x, y); }

  int GetN() const { return static_cast<int>(x_.size()); }
  const std::vector<double>& GetX() const { return x_; }
  const std::vector<double>& GetY() const { return y_; }

  // Axis layout of all points held now (0..1.1 style defaults for an empty graph).
  AxisRange xAxis() const;
  AxisRange yAxis() const;

  // Axis titles, in the figures' markup ("J  [nA/cm^{2}]").
  std::string xTitle;
  std::string yTitle;

  // Marker attributes: colour index, marker style, size (2.0 draws 16 px).
  int markerColor = 1;
  int markerStyle = 1;
  double markerSize = 1.0;

  // The function of the latest fit, replaced by every fit; painted with the graph.
  std::optional<Function> function;

  // Optional y uncertainties, one per point: painted as vertical bars with short
  // caps in the marker colour, clipped to the frame, also for a point whose
  // marker lies outside it. Ignored when empty or not one per point.
  std::vector<double> errorY;
  // Optional, read from the graph that sets the frame: labels written under the
  // x axis at the given x values, reading upwards, with a tick each, in place of
  // the numbered ticks. Labels that would not fit their spacing are left out.
  std::vector<std::pair<double, std::string>> xCategoryLabels;

 private:
  std::vector<double> x_;
  std::vector<double> y_;
};

// The layout rule behind Graph::xAxis/yAxis, for any set of values:
// [min - 10% span, max + 10% span] with a degenerate span widened by 1 at the top,
// the lower end clamped at 0 when all values are non-negative and, when
// clampUpper is set, the upper end clamped at 0 when all values are non-positive.
AxisRange layoutRange(const std::vector<double>& values, bool clampUpper);

// An invisible graph that sets a frame over [x0, x1] x [y0, y1] with its axis
// titles: drawn first, it fixes the axes the graphs drawn on it share.
Graph frameGraph(double x0, double x1, double y0, double y1, const std::string& xTitle, const std::string& yTitle);

}  // namespace tk
