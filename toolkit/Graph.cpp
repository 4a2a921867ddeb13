#include "toolkit/Graph.h"

#include <algorithm>
#include <stdexcept>

namespace tk {

void Graph::SetPoint(int i, double x, double y) {
  if (i < 0) throw std::out_of_range("Graph::SetPoint: negative position");
  const auto pos = static_cast<std::size_t>(i);
  if (pos >= x_.size()) {
    x_.resize(pos + 1, 0.0);
    y_.resize(pos + 1, 0.0);
  }
  x_[pos] = x;
  y_[pos] = y;
}

AxisRange layoutRange(const std::vector<double>& values, bool clampUpper) {
  double vmin = 0.0;
  double vmax = 0.0;
  if (!values.empty()) {
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    vmin = *lo;
    vmax = *hi;
  }
  double top = vmax;
  if (vmin == top) top += 1.0;
  const double margin = 0.1 * (top - vmin);
  AxisRange r{vmin - margin, top + margin};
  if (r.low < 0.0 && vmin >= 0.0) r.low = 0.0;
  if (clampUpper && r.high > 0.0 && top <= 0.0) r.high = 0.0;
  return r;
}

AxisRange Graph::xAxis() const { return layoutRange(x_, true); }
AxisRange Graph::yAxis() const { return layoutRange(y_, false); }

Graph frameGraph(double x0, double x1, double y0, double y1, const std::string& xTitle, const std::string& yTitle) {
  Graph frame;
  frame.AddPoint(x0, y0);
  frame.AddPoint(x1, y1);
  frame.markerStyle = 20;
  frame.markerSize = 0.0;
  frame.xTitle = xTitle;
  frame.yTitle = yTitle;
  return frame;
}

}  // namespace tk
