#include "tools/SummaryFigures.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "aux/GapRules.h"
#include "toolkit/Canvas.h"
#include "tools/ReportFigures.h"
#include "tools/SummaryPanels.h"

namespace {

// A quantity shown per gap, both methods side by side.
struct Quantity {
  const char* key;      // its figures' file names start with it
  const char* heading;  // on the page
  const char* yTitle;
  bool logScale;        // log10 of the value, values not positive left out
  Measured MethodResult::*member;
  const char* limited[2];  // the results.csv columns its limits name: window search, knee fit
};
const Quantity kQuantities[] = {
    {"resistivity", "Resistivity per gap", "log_{10}(#rho [#Omega cm])", true, &MethodResult::rho,
     {"rho_ohm_cm", "knee_rho_ohm_cm"}},
    {"onset", "Onset per gap", "onset [V]", false, &MethodResult::onset, {"onset_v", "knee_onset_v"}}};

constexpr MethodResult ResultsRow::*kMethods[2] = {&ResultsRow::window, &ResultsRow::knee};
const char* const kMethodWords[2] = {"window search", "knee fit"};
constexpr int kMethodMarkers[2] = {20, 21};            // filled circle, filled square
constexpr int kDateColours[kDateClasses] = {602, 861, 418, 797, 633, 616};  // oldest to newest
constexpr int kNoDateColour = 15;
constexpr int kLimitColours[2] = {14, 1};             // dashed, as the methods' limits
constexpr int kClipUp = 26, kClipDown = 32;           // open triangles at the frame's edge

// One result of a gap: where its points stand in the gap's category, its date's colour.
struct Placed {
  const ResultsRow* row;
  double offset[2];  // per method
  int colour;
};

// Every gap's results, ranked by scan date within the gap, coloured by date class.
std::map<std::string, std::vector<Placed>> placeResults(const std::vector<ScanTable>& scans,
                                                        const DateClasses& classes) {
  std::map<std::string, std::vector<const ResultsRow*>> byGap;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) byGap[row.gap].push_back(&row);
  }
  std::map<std::string, std::vector<Placed>> placed;
  for (const auto& [gap, rows] : byGap) {
    std::vector<std::string> dates;
    for (const ResultsRow* row : rows) dates.push_back(row->scanDate);
    const std::vector<std::size_t> ranks = dateRanks(dates);
    std::vector<Placed>& out = placed[gap];
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const int c = classes.classOf(dates[k]);
      out.push_back({rows[k],
                     {offsetInCategory(ranks[k], rows.size(), 0), offsetInCategory(ranks[k], rows.size(), 1)},
                     c < 0 ? kNoDateColour : kDateColours[c]});
    }
  }
  return placed;
}

// A result's value and error as drawn (log10 with logScale, its error
// propagated); false when it has none to draw, counting a value that is not
// positive on a log scale in `omitted`.
bool drawnValue(const ResultsRow& row, int method, const Quantity& q, double& v, double& e, long& omitted) {
  const MethodResult& result = row.*kMethods[method];
  const Measured& m = result.*q.member;
  if (!result.status.fitted() || !m.value || !std::isfinite(*m.value)) return false;
  v = *m.value;
  e = std::isfinite(m.error.value_or(0.0)) ? std::fabs(m.error.value_or(0.0)) : 0.0;
  if (!q.logScale) return true;
  if (!(v > 0.0)) {
    ++omitted;
    return false;
  }
  e /= v * std::log(10.0);
  v = std::log10(v);
  return true;
}

// The y range of all panels of a quantity, so that panels compare: robust to a
// wild value or error bar, holding every limit drawn; empty when nothing is shown.
tk::AxisRange quantityFrame(const std::map<std::string, std::vector<Placed>>& placed, const Quantity& q,
                            const Limits* limits) {
  std::vector<double> values, errors, bounds;
  long omitted = 0;
  for (const auto& [gap, results] : placed) {
    for (const Placed& p : results) {
      for (int m = 0; m < 2; ++m) {
        double v = 0.0, e = 0.0;
        if (drawnValue(*p.row, m, q, v, e, omitted)) values.push_back(v), errors.push_back(e);
      }
    }
    for (int m = 0; m < 2; ++m) {
      for (const double b : limitBounds(gap, q.limited[m], limits, q.logScale)) bounds.push_back(b);
    }
  }
  if (values.empty()) return {1.0, 0.0};  // nothing to show
  const ValueRange r = robustRange(values, errors, bounds);
  return {r.low, r.high};
}

// The markers of one panel: a series per method and date colour, the edge
// marks of what reaches beyond the frame, and their counts.
struct PanelPoints {
  std::map<std::pair<int, int>, tk::Graph> series;  // (method, colour)
  tk::Graph clipUp = markerSeries(1, kClipUp, 1.6), clipDown = markerSeries(1, kClipDown, 1.6);
  long clipped = 0, outside = 0, omitted = 0;  // beyond the frame (of them values), not positive
};

void addPoint(PanelPoints& points, double x, double v, double e, int method, int colour, const tk::AxisRange& y) {
  auto found = points.series.find({method, colour});
  if (found == points.series.end()) {
    found = points.series.emplace(std::make_pair(method, colour), markerSeries(colour, kMethodMarkers[method], 1.5)).first;
  }
  addPointWithError(found->second, x, v, e);
  const double inset = 0.015 * (y.high - y.low);  // the mark's centre stays inside the frame
  const bool above = v + e > y.high, below = v - e < y.low;
  if (above) points.clipUp.AddPoint(x, y.high - inset);
  if (below) points.clipDown.AddPoint(x, y.low + inset);
  points.clipped += above || below ? 1 : 0;
  points.outside += v > y.high || v < y.low ? 1 : 0;
}

PanelPoints panelPoints(const SummaryPanel& panel, const std::map<std::string, std::vector<Placed>>& placed,
                        const Quantity& q, const tk::AxisRange& y) {
  PanelPoints points;
  for (std::size_t k = 0; k < panel.gaps.size(); ++k) {
    for (const Placed& p : placed.at(panel.gaps[k])) {
      for (int m = 0; m < 2; ++m) {
        double v = 0.0, e = 0.0;
        if (drawnValue(*p.row, m, q, v, e, points.omitted)) {
          addPoint(points, static_cast<double>(k + 1) + p.offset[m], v, e, m, p.colour, y);
        }
      }
    }
  }
  return points;
}

// Each method's limits as dashed lines over the categories of the gaps they
// hold for, a line over a run of neighbours with the same bound; whether any was drawn.
bool drawLimits(tk::Canvas& canvas, const SummaryPanel& panel, const Quantity& q, const Limits* limits, int method) {
  bool drawn = false;
  const Limit* run = nullptr;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= panel.gaps.size(); ++k) {
    const Limit* limit = k < panel.gaps.size() && limits != nullptr
                             ? limitFor(panel.gaps[k], q.limited[method], *limits) : nullptr;
    if (limit == run) continue;
    if (run != nullptr) {
      for (const double b : limitBounds(panel.gaps[start], q.limited[method], limits, q.logScale)) {
        canvas.DrawLine(static_cast<double>(start) + 0.5, b, static_cast<double>(k) + 0.5, b, kLimitColours[method], 2, 2);
        drawn = true;
      }
    }
    run = limit, start = k;
  }
  return drawn;
}

// The canvas of a panel of `gaps` gaps whose longest name has `longest`
// characters: a frame of fixed height, the bottom margin tall enough for the
// names to read upwards at the size their spacing allows.
tk::Canvas panelCanvas(const std::string& name, std::size_t gaps, std::size_t longest) {
  tk::Style style = sideLegendStyle();
  style.padLeftMargin = 0.1;
  const double frameWidth = kPanelWidth * (1.0 - style.padLeftMargin - style.padRightMargin);
  const double top = 50.0, frameHeight = 520.0;
  const double bottom = gapNameMarginPx(style, frameWidth, gaps, longest);
  const double height = std::ceil(top + frameHeight + bottom);
  style.padTopMargin = top / height;
  style.padBottomMargin = bottom / height;
  return tk::Canvas(name, name, kPanelWidth, static_cast<int>(height), style);
}

}  // namespace

namespace {

// What a panel's legend tells, beside the frame: the methods' markers, the
// date colours, the limits drawn and the marks of what reaches beyond the frame.
struct PanelLegend {
  const DateClasses& classes;
  bool undated = false;     // some result of the panel has no date
  bool limitsDrawn[2] = {false, false};
  bool clipped = false;
};

tk::Graph lineSample(int colour) {
  tk::Graph g;
  tk::Function f;
  f.lineColor = colour;
  g.function = f;
  return g;
}

void drawPanelLegend(tk::Canvas& canvas, const PanelLegend& what) {
  std::vector<tk::Graph> samples;  // kept until the legend is drawn
  std::vector<std::pair<std::string, std::string>> rows;  // label, option
  samples.reserve(16);
  for (int m = 0; m < 2; ++m) samples.push_back(markerSeries(1, kMethodMarkers[m], 1.5)), rows.emplace_back(kMethodWords[m], "p");
  for (std::size_t c = 0; c < what.classes.first.size(); ++c) {
    const std::string& first = what.classes.first[c];
    const std::string& last = what.classes.last[c];
    samples.push_back(lineSample(kDateColours[c]));
    rows.emplace_back(first == last ? first : first + " to " + last, "l");
  }
  if (what.undated) samples.push_back(lineSample(kNoDateColour)), rows.emplace_back("no scan date", "l");
  for (int m = 0; m < 2; ++m) {
    if (what.limitsDrawn[m]) samples.push_back(lineSample(kLimitColours[m])), rows.emplace_back(std::string("limits, ") + kMethodWords[m], "l");
  }
  if (what.clipped) samples.push_back(markerSeries(1, kClipUp, 1.5)), rows.emplace_back("beyond the axis", "p");
  tk::Legend legend;
  const double rowHeight = 34.0 / canvas.height();
  legend.x1 = kSideLegendX, legend.x2 = 0.99;
  legend.y2 = 1.0 - canvas.style().padTopMargin;
  legend.y1 = legend.y2 - rowHeight * static_cast<double>(rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) legend.AddEntry(&samples[k], rows[k].first, rows[k].second);
  canvas.DrawLegend(legend);
}

// What the panels of one quantity share.
struct QuantityPanels {
  const Quantity& q;
  const std::map<std::string, std::vector<Placed>>& placed;
  const DateClasses& classes;
  const Limits* limits;
  tk::AxisRange y;
};

std::string panelCaption(const SummaryPanel& panel, const QuantityPanels& qp) {
  std::string text = std::string(qp.q.heading) + ", " + (panel.type.empty() ? "untyped" : panel.type) + " gaps";
  if (panel.pages > 1) {
    text += " " + std::to_string(panel.first + 1) + " to " + std::to_string(panel.first + panel.gaps.size()) + " of " +
            std::to_string(panel.ofType);
  }
  return text + " (" + panel.gaps.front() + (panel.gaps.size() > 1 ? " to " + panel.gaps.back() : "") + ")";
}

std::string clippedNote(const PanelPoints& points, const Quantity& q) {
  std::string note;
  if (points.clipped > 0) {
    note += std::to_string(points.clipped) + (points.clipped == 1 ? " point reaches" : " points reach") +
            " beyond the axis range (" +
            (points.outside == 0 ? std::string("error bars only")
                                 : std::to_string(points.outside) + " with the value itself") +
            "), marked by open triangles at the frame's edge. ";
  }
  if (points.omitted > 0) {
    note += std::to_string(points.omitted) + (points.omitted == 1 ? " result with a " : " results with a ") + q.key +
            (points.omitted == 1 ? " that is not positive is not shown. " : " that is not positive are not shown. ");
  }
  if (!note.empty()) note.pop_back();
  return note;
}

SummaryFigure paintPanel(const SummaryPanel& panel, const QuantityPanels& qp, const std::string& dir) {
  SummaryFigure figure;
  figure.name = std::string(qp.q.key) + "_" + (panel.type.empty() ? "other" : panel.type) + "_" +
                std::to_string(panel.page) + ".png";
  figure.group = qp.q.heading;
  figure.caption = panelCaption(panel, qp);
  figure.gaps = panel.gaps.size();
  std::size_t longest = 1;
  std::vector<std::pair<double, std::string>> labels;
  for (const std::string& gap : panel.gaps) {
    longest = std::max(longest, gap.size());
    labels.emplace_back(static_cast<double>(labels.size() + 1), gap);
  }
  tk::Canvas canvas = panelCanvas(figure.name, panel.gaps.size(), longest);
  // Categories at 1..n, the frame exactly over [0.5, n + 0.5]: frameGraph widens
  // a span by a tenth each side (a twelfth of the whole), and clamps at 0 only
  // a range that would cross it.
  const double n = static_cast<double>(panel.gaps.size());
  tk::Graph frame = tk::frameGraph(0.5 + n / 12.0, n + 0.5 - n / 12.0, qp.y.low, qp.y.high, "", qp.q.yTitle);
  frame.xCategoryLabels = std::move(labels);
  const tk::AxisRange y = frame.yAxis();
  canvas.DrawGraph(&frame, true);
  PanelLegend legend{qp.classes};
  PanelPoints points = panelPoints(panel, qp.placed, qp.q, y);
  for (const auto& [key, graph] : points.series) {
    canvas.DrawGraph(&graph, false);
    legend.undated = legend.undated || key.second == kNoDateColour;
  }
  // Over the points, so that a column crowded with results still shows its limits.
  for (int m = 0; m < 2; ++m) legend.limitsDrawn[m] = drawLimits(canvas, panel, qp.q, qp.limits, m);
  canvas.DrawGraph(&points.clipUp, false);
  canvas.DrawGraph(&points.clipDown, false);
  legend.clipped = points.clipped > 0;
  drawPanelLegend(canvas, legend);
  const GapLabels shown = gapLabelsOf(canvas, figure.gaps);
  figure.gapLabels = shown.written;
  figure.labelPx = shown.smallestPx;
  figure.note = clippedNote(points, qp.q);
  figure.painted = canvas.SaveAs(dir + figure.name, figure.error);
  return figure;
}

// A histogram of log10 of the knee-fit resistivity of the results of one gap
// type, its count axis ticking whole results.
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
  const tk::Graph frame = tk::frameGraph(histogram.low(), histogram.high(), 0.0, countAxisTop(top),
                                         "log_{10}(#rho_{knee} [#Omega cm])", "results");
  tk::Canvas canvas("knee_rho_" + type, type, 1000, 600, tk::Style{});
  canvas.DrawGraph(&frame, true);
  canvas.DrawHistogram(histogram);
  return canvas.SaveAs(path, error);
}

std::vector<std::string> campaignDates(const std::vector<ScanTable>& scans, std::vector<std::string>& gaps) {
  std::vector<std::string> dates;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) dates.push_back(row.scanDate), gaps.push_back(row.gap);
  }
  return dates;
}

// Whether the report is to stop; if so the last figure listed says so under `group`.
bool stopHere(const StopAsked& stopAsked, const std::string& group, std::vector<SummaryFigure>& figures) {
  if (!stopAsked || !stopAsked()) return false;
  SummaryFigure stopped;
  stopped.group = stopped.caption = group;
  stopped.note = "The report was stopped before all summary figures were painted.";
  figures.push_back(std::move(stopped));
  return true;
}

// The panels of every quantity; false once `stopAsked` said to stop.
bool paintPanels(const std::vector<ScanTable>& scans, const Limits* limits, const std::string& dir,
                 const StopAsked& stopAsked, std::vector<SummaryFigure>& figures) {
  std::vector<std::string> gaps;
  const DateClasses classes = dateClasses(campaignDates(scans, gaps));
  const std::map<std::string, std::vector<Placed>> placed = placeResults(scans, classes);
  const std::vector<SummaryPanel> panels = summaryPanels(gaps);
  for (const Quantity& q : kQuantities) {
    const QuantityPanels qp{q, placed, classes, limits, quantityFrame(placed, q, limits)};
    if (!(qp.y.high > qp.y.low)) {
      SummaryFigure none;
      none.group = none.caption = q.heading;
      none.note = "No gap has a result to show.";
      figures.push_back(std::move(none));
      continue;
    }
    for (const SummaryPanel& panel : panels) {
      if (stopHere(stopAsked, q.heading, figures)) return false;
      figures.push_back(paintPanel(panel, qp, dir));
    }
  }
  return true;
}

}  // namespace

std::vector<SummaryFigure> paintSummaryFigures(const std::vector<ScanTable>& scans, const Limits* limits,
                                               const std::string& figuresDir, const StopAsked& stopAsked) {
  std::vector<SummaryFigure> figures;
  if (!paintPanels(scans, limits, figuresDir, stopAsked, figures)) return figures;
  const std::string group = "Knee-fit resistivity per gap type";
  for (const char* type : {"bottom", "top-narrow", "top-wide", ""}) {
    if (stopHere(stopAsked, group, figures)) break;
    SummaryFigure figure;
    figure.name = std::string("knee_rho_") + (*type != 0 ? type : "other") + ".png";
    figure.group = group;
    figure.small = true;
    long entries = 0;
    figure.painted = paintKneeHistogram(scans, type, figuresDir + figure.name, entries, figure.error);
    figure.caption = "Knee-fit resistivity of the " + std::string(*type != 0 ? type : "untyped") +
                     " gaps (log10 of rho in Ohm cm), " + std::to_string(entries) + " results";
    if (entries > 0) figures.push_back(std::move(figure));
  }
  return figures;
}
