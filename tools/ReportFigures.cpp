#include "tools/ReportFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "toolkit/Layout.h"

tk::Graph markerSeries(int colour, int marker, double size) {
  tk::Graph g;
  g.markerColor = colour;
  g.markerStyle = marker;
  g.markerSize = size;
  return g;
}

void addPointWithError(tk::Graph& g, double x, double y, double error) {
  g.AddPoint(x, y);
  g.errorY.push_back(error);
}

std::pair<double, double> spanWithErrors(const std::vector<const tk::Graph*>& graphs, const std::vector<double>& extra) {
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (const tk::Graph* g : graphs) {
    for (std::size_t i = 0; i < g->GetY().size(); ++i) {
      low = std::min(low, g->GetY()[i] - g->errorY[i]);
      high = std::max(high, g->GetY()[i] + g->errorY[i]);
    }
  }
  for (const double v : extra) low = std::min(low, v), high = std::max(high, v);
  if (!(high > low)) low -= 0.5, high += 0.5;
  return {low, high};
}

tk::Style sideLegendStyle() {
  tk::Style style;
  style.padRightMargin = 1.0 - kSideLegendX + 0.01;
  style.padBottomMargin = 0.2;
  style.padLeftMargin = 0.12;
  return style;
}

std::vector<double> limitBounds(const std::string& gap, const std::string& quantity, const Limits* limits,
                                bool logScale) {
  std::vector<double> bounds;
  const Limit* limit = limits != nullptr ? limitFor(gap, quantity, *limits) : nullptr;
  if (limit == nullptr) return bounds;
  for (const std::optional<double>& bound : {limit->min, limit->max}) {
    if (!bound) continue;
    if (!logScale) {
      bounds.push_back(*bound);
    } else if (*bound > 0) {
      bounds.push_back(std::log10(*bound));
    }
  }
  return bounds;
}

std::string figureHtml(const std::string& name, const std::string& caption, bool small, const std::string& attributes) {
  return std::string(small ? "<figure class=\"small\">" : "<figure>") + "<img src=\"figures/" + name + "\" alt=\"" +
         htmlEscape(caption) + "\"" + attributes + "><figcaption>" + htmlEscape(caption) + "</figcaption></figure>\n";
}

double gapNameMarginPx(const tk::Style& style, double frameWidthPx, std::size_t gaps, std::size_t longest) {
  const double spacing = frameWidthPx / static_cast<double>(std::max<std::size_t>(gaps, 1));
  const double label = std::min(0.9 * spacing, 32.0);
  return std::clamp(20.0 + label * tk::advancePerSize(style.font) * static_cast<double>(longest), 60.0, 900.0);
}

GapLabels gapLabelsOf(const tk::Canvas& canvas, std::size_t gaps) {
  const tk::FigureLayout layout = tk::layoutFigure(canvas);
  GapLabels shown{gaps, layout.xLabels.size(), layout.xLabels.empty() ? 0.0 : HUGE_VAL};
  for (const tk::PlacedText& label : layout.xLabels) shown.smallestPx = std::min(shown.smallestPx, label.sizePx);
  return shown;
}

std::string gapLabelAttributes(const std::string& id, const GapLabels& labels) {
  char size[32];
  std::snprintf(size, sizeof size, "%.1f", std::floor(labels.smallestPx * 10.0) / 10.0);
  return " id=\"fig-" + htmlEscape(id) + "\" data-gaps=\"" + std::to_string(labels.gaps) + "\" data-gap-labels=\"" +
         std::to_string(labels.written) + "\" data-label-px=\"" + size + "\"";
}
