#include "tools/SummaryFigures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "aux/GapRules.h"
#include "toolkit/Canvas.h"
#include "tools/Limits.h"

namespace {

// One method's values of a quantity, drawn as one series.
struct Series {
  const char* label;
  MethodResult ResultsRow::*method;
  Measured MethodResult::*quantity;
  int color;
  int marker;
  double shift;  // from the gap's category position
};

// The gaps of every scan as categories: by chamber, then by name.
std::map<std::string, int> gapCategories(const std::vector<ScanTable>& scans,
                                         std::vector<std::pair<double, std::string>>& labels,
                                         std::vector<double>& chamberEnds) {
  std::set<std::pair<std::string, std::string>> ordered;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) ordered.emplace(chamberOf(row.gap), row.gap);
  }
  std::map<std::string, int> index;
  std::string chamber;
  for (const auto& [ofChamber, gap] : ordered) {
    const int k = static_cast<int>(index.size());
    if (k > 0 && ofChamber != chamber) chamberEnds.push_back(k - 0.5);
    chamber = ofChamber;
    index.emplace(gap, k);
    labels.emplace_back(k, gap);
  }
  return index;
}

// Fills the series' graph; with `logScale`, log10 of the values (errors
// propagated), values that are not positive left out and counted in `omitted`.
void fillSeries(const std::vector<ScanTable>& scans, const std::map<std::string, int>& category,
                const Series& series, bool logScale, tk::Graph& graph, long& omitted) {
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) {
      const MethodResult& method = row.*series.method;
      const Measured& m = method.*series.quantity;
      if (!method.status.fitted() || !m.value) continue;
      const double v = *m.value;
      const double e = m.error.value_or(0.0);
      if (logScale && !(v > 0.0)) {
        ++omitted;
        continue;
      }
      const double x = category.at(row.gap) + series.shift;
      graph.AddPoint(x, logScale ? std::log10(v) : v);
      graph.errorY.push_back(logScale ? e / (v * std::log(10.0)) : e);
    }
  }
  graph.markerColor = series.color;
  graph.markerStyle = series.marker;
  graph.markerSize = 1.5;
}

// The y span of the graphs' points with their error bars.
std::pair<double, double> ySpan(const std::vector<const tk::Graph*>& graphs) {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  for (const tk::Graph* g : graphs) {
    for (int i = 0; i < g->GetN(); ++i) {
      const double e = std::fabs(g->errorY[static_cast<std::size_t>(i)]);
      low = std::min(low, g->GetY()[static_cast<std::size_t>(i)] - e);
      high = std::max(high, g->GetY()[static_cast<std::size_t>(i)] + e);
    }
  }
  return {low, high};
}

const Series kRhoSeries[] = {{"window search", &ResultsRow::window, &MethodResult::rho, 4, 20, -0.15},
                             {"knee fit", &ResultsRow::knee, &MethodResult::rho, 2, 21, 0.15}};
const Series kOnsetSeries[] = {{"window search", &ResultsRow::window, &MethodResult::onset, 4, 20, -0.15},
                               {"knee fit", &ResultsRow::knee, &MethodResult::onset, 2, 21, 0.15}};

// A figure of both methods' values per gap, gaps grouped by chamber (grey lines
// between chambers). False with `error` when it cannot be written; `note` tells
// what is not shown.
bool paintPerGap(const std::vector<ScanTable>& scans, const Series (&series)[2], bool logScale,
                 const std::string& yTitle, const std::string& path, std::string& note, std::string& error) {
  std::vector<std::pair<double, std::string>> labels;
  std::vector<double> chamberEnds;
  const std::map<std::string, int> category = gapCategories(scans, labels, chamberEnds);
  tk::Graph graphs[2];
  long omitted = 0;
  for (int m = 0; m < 2; ++m) fillSeries(scans, category, series[m], logScale, graphs[m], omitted);
  if (omitted > 0) note = std::to_string(omitted) + " results with a resistivity that is not positive are not shown. ";
  const auto [low, high] = ySpan({&graphs[0], &graphs[1]});
  if (!(low <= high)) {
    note += "No gap has a result to show.";
    return true;
  }
  const double n = static_cast<double>(category.size());
  tk::Graph frame = tk::frameGraph(-0.5, n - 0.5, low, high, "gap", yTitle);
  frame.xCategoryLabels = labels;
  const tk::AxisRange yRange = frame.yAxis();
  tk::Graph separators;
  separators.markerStyle = 1;
  separators.markerColor = 16;
  for (double x : chamberEnds) {
    separators.AddPoint(x, yRange.high + (yRange.high - yRange.low));  // the bar alone shows
    separators.errorY.push_back(4.0 * (yRange.high - yRange.low));
  }
  tk::Style style;
  style.padBottomMargin = 0.3;
  style.padRightMargin = 0.04;
  tk::Canvas canvas("pergap", yTitle, 1600, 900, style);
  canvas.DrawGraph(&frame, true);
  canvas.DrawGraph(&separators, false);
  tk::Legend legend;
  legend.x1 = 0.78, legend.y1 = 0.79, legend.x2 = 0.95, legend.y2 = 0.89;
  for (int m = 0; m < 2; ++m) {
    canvas.DrawGraph(&graphs[m], false);
    legend.AddEntry(&graphs[m], series[m].label, "p");
  }
  canvas.DrawLegend(legend);
  return canvas.SaveAs(path, error);
}

// A histogram of log10 of the knee-fit resistivity of the gaps of one type.
bool paintKneeHistogram(const std::vector<ScanTable>& scans, const std::string& type,
                        const std::string& path, long& entries, std::string& error) {
  tk::Histogram histogram("knee_rho_" + type, type, 20, 0.0, 0.0);
  entries = 0;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) {
      const Measured& rho = row.knee.rho;
      if (!row.knee.status.fitted() || gapTypeWord(gapTypeOf(row.gap)) != type) continue;
      if (!rho.value || !(*rho.value > 0.0)) continue;
      histogram.Fill(std::log10(*rho.value));
      ++entries;
    }
  }
  if (entries == 0) return true;
  double top = 0.0;
  for (int b = 0; b < histogram.bins(); ++b) top = std::max(top, histogram.content(b));
  const tk::Graph frame = tk::frameGraph(histogram.low(), histogram.high(), 0.0, top,
                                     "log_{10}(#rho_{knee} [#Omega cm])", "gaps");
  tk::Canvas canvas("knee_rho_" + type, type, 1000, 600, tk::Style{});
  canvas.DrawGraph(&frame, true);
  canvas.DrawHistogram(histogram);
  return canvas.SaveAs(path, error);
}

}  // namespace

std::vector<SummaryFigure> paintSummaryFigures(const std::vector<ScanTable>& scans, const std::string& figuresDir) {
  std::vector<SummaryFigure> figures;
  const std::pair<const Series(*)[2], const char*> perGap[] = {
      {&kRhoSeries, "resistivity.png"}, {&kOnsetSeries, "onset.png"}};
  for (const auto& [series, name] : perGap) {
    const bool rho = series == &kRhoSeries;
    SummaryFigure figure;
    figure.name = name;
    paintPerGap(scans, *series, rho, rho ? "log_{10}(#rho [#Omega cm])" : "onset [V]", figuresDir + name,
                figure.note, figure.error);
    figure.caption = rho ? "Resistivity per gap (log10 of rho in Ohm cm), window search and knee fit"
                         : "Onset per gap, window search and knee fit";
    figure.painted = figure.note.find("No gap") == std::string::npos;
    figures.push_back(std::move(figure));
  }
  for (const char* type : {"bottom", "top-narrow", "top-wide", ""}) {
    SummaryFigure figure;
    figure.name = std::string("knee_rho_") + (*type != 0 ? type : "other") + ".png";
    figure.small = true;
    long entries = 0;
    paintKneeHistogram(scans, type, figuresDir + figure.name, entries, figure.error);
    figure.caption = "Knee-fit resistivity of the " + std::string(*type != 0 ? type : "untyped") +
                     " gaps (log10 of rho in Ohm cm), " + std::to_string(entries) + " gaps";
    figure.painted = true;
    if (entries > 0) figures.push_back(std::move(figure));
  }
  return figures;
}
