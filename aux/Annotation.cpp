#include "aux/Annotation.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "aux/ResultsTable.h"
#include "toolkit/Layout.h"

namespace {

constexpr int kWindowColour = 600;  // the passing line's blue
constexpr double kDashPx = 12.0;    // dash and gap of the knee curve

std::string number(double v) { return formatResultsNumber(v); }

// "(9.994 #pm 0.048) #times10^{10}" or "1950 #pm 20", as people round them.
std::string withError(double value, double error, const std::string& unit) {
  const RoundedValue r = roundValueWithError(number(value), number(error));
  if (!r.present) return "--";
  std::string text = r.error.empty() ? r.value : r.value + " #pm " + r.error;
  if (r.exponent != 0) text = "(" + text + ") #times10^{" + std::to_string(r.exponent) + "}";
  return text + " " + unit;
}

double softplus(double t) { return std::max(t, 0.0) + std::log1p(std::exp(-std::fabs(t))); }

double kneeModel(const KneeFit& k, double v) {
  return k.offset + k.slope * k.width * softplus((v - k.onset) / k.width);
}

// The knee curve as dashes: the model sampled densely across the frame, its
// points kept on or off by their length along the curve in pixels.
void drawKneeCurve(tk::Canvas& pad, const KneeFit& k, int colour) {
  const tk::FigureLayout layout = tk::layoutFigure(pad);
  const double lo = layout.x.range.low, hi = layout.x.range.high;
  constexpr int kSamples = 800;
  double travelled = 0.0;
  double px0 = layout.pxOfX(lo), py0 = layout.pxOfY(kneeModel(k, lo));
  for (int i = 1; i <= kSamples; ++i) {
    const double v0 = lo + (hi - lo) * (i - 1) / kSamples, v1 = lo + (hi - lo) * i / kSamples;
    const double px1 = layout.pxOfX(v1), py1 = layout.pxOfY(kneeModel(k, v1));
    const bool on = std::fmod(travelled, 2 * kDashPx) < kDashPx;
    if (on) pad.DrawLine(v0, kneeModel(k, v0), v1, kneeModel(k, v1), colour, 2);
    travelled += std::hypot(px1 - px0, py1 - py0);
    px0 = px1;
    py0 = py1;
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

std::vector<std::string> resultsBoxLines(const OhmicSearch& search, const KneeFit* knee,
                                         const std::string& kneeWhy) {
  std::vector<std::string> lines;
  if (search.statFit) {
    const fitstatus& f = search.pass()->fit.values;
    lines.push_back("window: #rho = " + withError(search.resistivity.first, search.resistivity.second, "#Omega cm"));
    lines.push_back("  onset = " + withError(search.onset.first, search.onset.second, "V"));
    lines.push_back("  offset = " + withError(search.offset.first, search.offset.second, "nA/cm^{2}"));
    std::ostringstream chi;
    chi.precision(4);
    chi << "  #chi^{2}/NDF = " << f.ChiSquared << "/" << f.NDF << ", test " << search.fitTest;
    lines.push_back(chi.str());
  } else {
    lines.push_back(search.searched ? "window: no ohmic region found" : "window: not searched");
  }
  if (knee != nullptr && knee->fitted) {
    lines.push_back("knee: #rho = " + withError(knee->resistivity, knee->resistivityError, "#Omega cm"));
    lines.push_back("  onset = " + withError(knee->onset, knee->onsetError, "V"));
    lines.push_back("  width = " + withError(knee->width, knee->widthError, "V"));
  } else {
    lines.push_back("knee: " + (knee != nullptr ? knee->reason : kneeWhy));
  }
  return lines;
}

int kneeCurveColour(int markerColour) {
  for (const int colour : {6, 28, 9}) {
    if (colour != markerColour) return colour;
  }
  return 6;
}

void annotateGapFigure(tk::Canvas& pad, const tk::Graph& gap, int markerColour,
                       const OhmicSearch& search, const KneeFit* knee, const std::string& kneeWhy) {
  const int kneeColour = kneeCurveColour(markerColour);
  if (knee != nullptr && knee->fitted) {
    drawKneeCurve(pad, *knee, kneeColour);
    markOnset(pad, knee->onset, kneeColour);
  }
  if (search.statFit) markOnset(pad, search.onset.first, kWindowColour);
  if (search.passed) markWindow(pad, gap, *search.pass());
  // Under the legend, where a rising curve leaves room; a row of 0.04 of the height each.
  const std::vector<std::string> lines = resultsBoxLines(search, knee, kneeWhy);
  pad.DrawTextBox(tk::NdcBox{0.15, 0.58 - 0.04 * static_cast<double>(lines.size()), 0.58, 0.58}, lines);
}
