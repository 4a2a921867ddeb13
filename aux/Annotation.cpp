#include "aux/Annotation.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "aux/ResultsTable.h"
#include "toolkit/Layout.h"

namespace {

constexpr int kWindowColour = 600;  // the passing line's blue
// The knee curve's colours, first choice first, with the names the key gives them.
struct KneeColour {
  int index;
  const char* name;
};
constexpr KneeColour kKneeColours[] = {{6, "magenta"}, {28, "brown"}, {9, "violet"}};
constexpr double kDashPx = 12.0;    // dash and gap of the knee curve

std::string number(double v) { return formatResultsNumber(v); }

// An exponent in superscript digits: one text run, where the markup's ^{} would
// cost the painter a run per piece (the box's text is most of its cost).
std::string superscript(int exponent) {
  static const char* const kDigits[] = {"\u2070", "\u00b9", "\u00b2", "\u00b3", "\u2074",
                                        "\u2075", "\u2076", "\u2077", "\u2078", "\u2079"};
  std::string out = exponent < 0 ? "\u207b" : "";
  for (const char d : std::to_string(std::abs(exponent))) out += kDigits[d - '0'];
  return out;
}

// "(9.994 ± 0.048)×10¹⁰" or "1950 ± 20", as people round them.
std::string withError(double value, double error, const std::string& unit) {
  const RoundedValue r = roundValueWithError(number(value), number(error));
  if (!r.present) return "--";
  return markedValueWithError(r, " \u00b1 ", [](int n) { return "\u00d710" + superscript(n); }) + " " + unit;
}

// The HVs at which the knee curve is drawn: evenly across the frame, where it
// is all but straight, and densely through the knee itself.
std::vector<double> curveSamples(const KneeFit& k, double lo, double hi) {
  constexpr int kAcross = 160;
  constexpr int kThroughKnee = 48;
  std::vector<double> v;
  for (int i = 0; i <= kAcross; ++i) v.push_back(lo + (hi - lo) * i / kAcross);
  const double from = std::max(lo, k.onset - 5 * k.width), to = std::min(hi, k.onset + 5 * k.width);
  for (int i = 0; from < to && i <= kThroughKnee; ++i) v.push_back(from + (to - from) * i / kThroughKnee);
  std::sort(v.begin(), v.end());
  return v;
}

// The knee curve as dashes of kDashPx along the curve in pixels. Outside the
// knee (beyond 5 widths of the onset) the curve is straight to a fraction of a
// pixel, so a dash there is one line from its start to its end; through the
// knee it follows every sample.
void drawKneeCurve(tk::Canvas& pad, const KneeFit& k, int colour) {
  const tk::FigureLayout layout = tk::layoutFigure(pad);
  const std::vector<double> v = curveSamples(k, layout.x.range.low, layout.x.range.high);
  const auto inKnee = [&](double x) { return std::fabs(x - k.onset) < 5 * k.width; };
  double travelled = 0.0;
  double startV = v.front();  // where the dash being drawn starts
  bool on = true;
  for (std::size_t i = 1; i < v.size(); ++i) {
    const double j0 = kneeCurrent(k, v[i - 1]), j1 = kneeCurrent(k, v[i]);
    const double length = std::hypot(layout.pxOfX(v[i]) - layout.pxOfX(v[i - 1]),
                                      layout.pxOfY(j1) - layout.pxOfY(j0));
    // Every dash or gap edge inside this piece, at its place along the piece.
    double at = travelled;
    while (length > 0 && std::floor(at / kDashPx) < std::floor((travelled + length) / kDashPx)) {
      at = (std::floor(at / kDashPx) + 1) * kDashPx;
      const double edge = v[i - 1] + (v[i] - v[i - 1]) * (at - travelled) / length;
      if (on) pad.DrawLine(startV, kneeCurrent(k, startV), edge, kneeCurrent(k, edge), colour, 2);
      on = !on;
      startV = edge;
    }
    travelled += length;
    if (on && (inKnee(v[i]) || i + 1 == v.size())) {
      pad.DrawLine(startV, kneeCurrent(k, startV), v[i], j1, colour, 2);
      startV = v[i];
    }
  }
}

void markOnset(tk::Canvas& pad, double onset, int colour) {
  const tk::FigureLayout layout = tk::layoutFigure(pad);
  if (!(onset > layout.x.range.low && onset < layout.x.range.high)) return;
  pad.DrawLine(onset, layout.y.range.low, onset, layout.y.range.high, colour, 1, 2);
}

// Open circles around the passing window's first and last points.
void markWindow(tk::Canvas& pad, const tk::Graph& gap, const WindowTry& pass) {
  tk::Graph ends;
  for (int i = 0; i < gap.GetN(); ++i) {
    const double x = gap.GetX()[static_cast<std::size_t>(i)];
    if (x == pass.from || x == pass.to) ends.AddPoint(x, gap.GetY()[static_cast<std::size_t>(i)]);
  }
  ends.markerColor = 1;
  ends.markerStyle = 24;
  ends.markerSize = 3.5;
  pad.DrawGraph(&ends, false);
}

}  // namespace

namespace {

// "12.5 V (68 %: 4.1-30 V)", or the bound and how far the set reaches.
std::string widthLine(const KneeFit& k) {
  std::ostringstream line;
  line.precision(3);
  if (k.widthAtBound) {
    line << "  width at its bound (68 %: up to " << k.widthHigh << " V)";
  } else {
    line << "  width = " << k.width << " V (68 %: " << k.widthLow << "\u2013" << k.widthHigh << " V)";
  }
  return line.str();
}

}  // namespace

std::vector<std::string> resultsBoxLines(const OhmicSearch& search, const KneeFit* knee,
                                         const std::string& kneeWhy, const std::vector<std::string>& flags) {
  std::vector<std::string> lines;
  if (search.statFit) {
    const fitstatus& f = search.pass()->fit.values;
    lines.push_back("window: \u03c1 = " + withError(search.resistivity.first, search.resistivity.second, "\u03a9 cm"));
    lines.push_back("  onset = " + withError(search.onset.first, search.onset.second, "V"));
    lines.push_back("  offset = " + withError(search.offset.first, search.offset.second, "nA/cm\u00b2"));
    std::ostringstream chi;
    chi.precision(4);
    chi << "  \u03c7\u00b2/NDF = " << f.ChiSquared << "/" << f.NDF << ", test " << search.fitTest;
    lines.push_back(chi.str());
  } else {
    lines.push_back(search.searched ? "window: no ohmic region found" : "window: not searched");
  }
  if (knee != nullptr && knee->fitted) {
    lines.push_back("knee: \u03c1 = " + withError(knee->resistivity, knee->resistivityError, "\u03a9 cm"));
    lines.push_back("  onset = " + withError(knee->onset, knee->onsetError, "V"));
    lines.push_back(widthLine(*knee));
  } else {
    lines.push_back("knee: " + (knee != nullptr ? knee->reason : kneeWhy));
  }
  std::string flagged;
  for (const std::string& f : flags) flagged += (flagged.empty() ? "flags: " : "; ") + f;
  if (!flagged.empty()) lines.push_back(flagged);
  return lines;
}

std::vector<std::string> lineKeyLines(int kneeColour) {
  std::string knee = kKneeColours[0].name;
  for (const KneeColour& c : kKneeColours) {
    if (c.index == kneeColour) knee = c.name;
  }
  return {"red: level before the window", "blue: window line, dashed: its onset",
          knee + " dashed: knee curve and its onset", "open circles: the window's ends"};
}

int kneeCurveColour(int markerColour) {
  for (const KneeColour& c : kKneeColours) {
    if (c.index != markerColour) return c.index;
  }
  return kKneeColours[0].index;
}

void annotateGapFigure(tk::Canvas& pad, const tk::Graph& gap, int markerColour, const OhmicSearch& search,
                       const KneeFit* knee, const std::string& kneeWhy, const std::vector<std::string>& flags) {
  const int kneeColour = kneeCurveColour(markerColour);
  if (knee != nullptr && knee->fitted) {
    drawKneeCurve(pad, *knee, kneeColour);
    markOnset(pad, knee->onset, kneeColour);
  }
  if (search.statFit) markOnset(pad, search.onset.first, kWindowColour);
  if (search.passed) markWindow(pad, gap, *search.pass());
  // Under the legend, where a rising curve leaves room; a row of 0.04 of the height each.
  const std::vector<std::string> lines = resultsBoxLines(search, knee, kneeWhy, flags);
  pad.DrawTextBox(tk::NdcBox{0.15, 0.58 - 0.04 * static_cast<double>(lines.size()), 0.58, 0.58}, lines);
  // Above the frame, where it hides no point or line.
  std::string key;
  for (const std::string& part : lineKeyLines(kneeColour)) key += (key.empty() ? "" : "  \u00b7  ") + part;
  pad.DrawText(0.1, 0.985, key, 0.022, 13);
}
