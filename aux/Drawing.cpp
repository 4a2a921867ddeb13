// Figure style set-up, combined figure, per-gap figure and ohmic-region search.
#include "aux/Drawing.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "aux/Regression.h"

// ===================================================================== figures
// (figure style set-up, DrawingVectorTogether, PlottingEachAndDoLinearFit)

namespace {

// Both figures share one canvas size and legend box, so the gap figures and the
// combined figure line up when put side by side in a report.
constexpr int kFigureWidth = 2000;
constexpr int kFigureHeight = 1000;
constexpr double kMarkerSize = 2.0;  // 16 px across
const char* const kCurrentTitle = "J  [nA/cm^{2}]";
const char* const kVoltageTitle = "HV [V]";

tk::Legend legendBox(const std::string& header) {
  tk::Legend legend;
  legend.x1 = 0.15;
  legend.y1 = 0.6;
  legend.x2 = 0.45;
  legend.y2 = 0.8;
  legend.header = header;
  return legend;
}

void applyProfile(tk::Graph& graph, const plotprofile& profile) {
  // The toolkit keeps colour and style in 16-bit fields; narrow the same way.
  graph.markerColor = static_cast<std::int16_t>(profile.color);
  graph.markerStyle = static_cast<std::int16_t>(profile.marker);
  graph.markerSize = kMarkerSize;
}

}  // namespace

void saveFigure(const tk::Canvas& canvas, const std::string& path, const FigureContext& context) {
  if (context.queue != nullptr) {
    context.queue->save(canvas, path);
    return;
  }
  std::string error;
  if (!canvas.SaveAs(path, error)) context.console.error(error);
}

tk::Style figureStyle(const FigureContext& context, Bool_t INFO) {
  std::string HOMEPATH;
  GetEnviroment(HOMEPATH, "HOME", context.place.env, context.console.out);
  tk::Style style;
  // Without a home directory there is no user macro to read; a file of that name
  // at the root of the file system is not the user's.
  if (!HOMEPATH.empty()) {
    const std::string macro = HOMEPATH + "/.root/rootstyle.C";
    std::ifstream in(macro);
    if (in) {
      std::vector<std::string> ignored;
      tk::readStyleMacro(in, "uLm", style, ignored);
      if (INFO) {
        for (const std::string& statement : ignored) {
          context.console.out << "INFO :: Drawing : figureStyle : not applied from " << macro
                              << " : " << statement << std::endl;
        }
      }
    }
  }
  // These win over the macro: no statistics box, white canvas and frame, no title.
  style.optStat = 0;
  style.canvasColor = 0;
  style.frameFillColor = 0;
  style.optTitle = 0;
  return style;
}

void DrawingVectorTogether(const std::vector<tk::Graph*>& Currents,
                           std::vector<plotprofile> profileparameters,
                           ChamberIndexList ChamberIndex, int maxcurrentindex, std::string file,
                           std::string legendtitle, const FigureContext& context) {
  const tk::Style style = figureStyle(context, false);
  const std::string output = getPathToSave(file, context.place, context.console) + getName() +
                             context.extension;
  const std::size_t gaps = ChamberIndex.size();
  if (gaps == 0) {
    context.console.warning(file + ": no gap in the scan; " + output + " is not drawn");
    return;
  }
  if (Currents.size() < gaps || profileparameters.size() < gaps) {
    context.console.error(file + ": " + std::to_string(gaps) + " gaps but " +
                          std::to_string(Currents.size()) + " graphs and " +
                          std::to_string(profileparameters.size()) + " plot profiles; " + output +
                          " is not drawn");
    return;
  }
  if (maxcurrentindex < 0 || static_cast<std::size_t>(maxcurrentindex) >= gaps) {
    context.console.error(file + ": the gap of the largest current (position " +
                          std::to_string(maxcurrentindex) + ") is not one of the " +
                          std::to_string(gaps) + " gaps; " + output + " is not drawn");
    return;
  }
  auto drawable = [&](std::size_t i) { return Currents[i] != nullptr && Currents[i]->GetN() > 0; };
  // The frame comes from the gap with the largest current; should that graph be
  // empty, from the first gap that has points, so no frame is made up.
  std::size_t frame = gaps;
  if (drawable(static_cast<std::size_t>(maxcurrentindex))) {
    frame = static_cast<std::size_t>(maxcurrentindex);
  } else {
    for (std::size_t i = 0; i < gaps && frame == gaps; ++i) {
      if (drawable(i)) frame = i;
    }
    if (frame == gaps) {
      context.console.warning(file + ": no gap has points; no figure drawn from a missing graph, " +
                              output + " is not written");
      return;
    }
    context.console.warning(file + ": the graph of the largest current (gap " +
                            ChamberIndex[static_cast<std::size_t>(maxcurrentindex)].first +
                            ") has no points; the frame of " + output + " is taken from gap " +
                            ChamberIndex[frame].first);
  }

  tk::Canvas c1("KVT Measurements", "KVT Measurements", kFigureWidth, kFigureHeight, style);
  tk::Legend legend = legendBox(legendtitle);
  tk::Graph& framed = *Currents[frame];
  framed.yTitle = kCurrentTitle;
  framed.xTitle = kVoltageTitle;
  applyProfile(framed, profileparameters[frame]);
  c1.DrawGraph(&framed, true);
  for (std::size_t i = 0; i < gaps; ++i) {
    // An empty gap has been reported by the caller; it gets neither markers nor
    // a legend row that would promise some.
    if (!drawable(i)) continue;
    legend.AddEntry(Currents[i], ChamberIndex[i].first, "p");
    applyProfile(*Currents[i], profileparameters[i]);
    c1.DrawGraph(Currents[i], false);
  }
  c1.DrawLegend(legend);
  saveFigure(c1, output, context);
}

void PlottingEachAndDoLinearFit(tk::Graph* Current, plotprofile profileparameters, std::string file,
                                std::pair<double, double>& Resistance,
                                std::pair<double, double>& Offset,
                                std::pair<double, double>& Onset, bool& StatFit, bool INFO,
                                const FigureContext& context) {
  StatFit = false;
  const tk::Style style = figureStyle(context, INFO);
  const std::string& chambername = profileparameters.chambername;
  if (Current == nullptr || Current->GetN() == 0) {
    context.console.warning(file + ": gap " + chambername +
                            " has no points; no figure drawn from a missing graph");
    return;
  }
  tk::Canvas c1("KVT Measurements" + chambername, "KVT Measurements " + chambername, kFigureWidth,
                kFigureHeight, style);
  tk::Legend legend = legendBox("");
  legend.AddEntry(Current, chambername, "p");
  Current->yTitle = kCurrentTitle;
  Current->xTitle = kVoltageTitle;
  applyProfile(*Current, profileparameters);
  c1.DrawGraph(Current, true);

  StatFit = searchOhmicRegion(*Current, chambername, file, c1, style, Resistance, Offset, Onset,
                              INFO, context);
  // The canvas drew a copy of the graph before the search fitted it; the copy
  // is brought up to date, in its place below the fitted lines, so the figure
  // shows the function of the latest fit with the graph.
  c1.UpdateGraph(0, *Current);

  c1.DrawLegend(legend);
  const std::string output = getPathToSave(file, context.place, context.console) +
                             safeFileName(chambername) + context.extension;
  saveFigure(c1, output, context);
}

// ============================================================ ohmic-region search
// (searchOhmicRegion)
//
// Windows X[j]..X[N-1] for j = 15, 16, ... are fitted in turn and the first good
// one, the widest, is taken. The pass is then reported and the level in front of
// it fitted over X[0]..X[j] (the two regions share the window's first point) for
// a pass at any j, the last one included.

namespace {

// The goodness option for a curve whose y axis ends at `top` (nA/cm^2): the
// chi-square per degree of freedom for well-lit curves, fixed chi-square bands
// for faint ones, whose scatter the unit point errors overstate.
Int_t fittingTestFor(double top) {
  Int_t test = 1;
  if (top < 15) test = 2;
  if (top < 3) test = 3;
  return test;
}

void printPass(std::ostream& log, const std::string& chambername, Int_t FittingTest,
               const fitstatus& f) {
  const char* prefix = "INFO :: Drawing : PlottingEachAndDoLinearFit :  ";
  log << prefix << "Chamber    : " << chambername << std::endl;
  log << prefix << "Fit Test   : " << FittingTest << std::endl;
  log << prefix << "ParameterA : " << f.ParameterA << " +/- " << f.ErrorA << std::endl;
  log << prefix << "ParameterB : " << f.ParameterB << " +/- " << f.ErrorB << std::endl;
  log << prefix << "ratioA [%] : " << f.ErrorA / f.ParameterA * 100 << std::endl;
  log << prefix << "ratioB [%] : " << f.ErrorB / f.ParameterB * 100 << std::endl;
  log << prefix << "ChiSquared : " << f.ChiSquared << std::endl;
  log << prefix << "NDF        : " << f.NDF << std::endl;
  log << prefix << "Goodness   : " << f.Goodness << std::endl;
}

}  // namespace

bool searchOhmicRegion(tk::Graph& Current, const std::string& chambername, const std::string& file,
                       tk::Canvas& pad, const tk::Style& style,
                       std::pair<double, double>& Resistance, std::pair<double, double>& Offset,
                       std::pair<double, double>& Onset, bool INFO, const FigureContext& context) {
  std::ostream& log = context.console.out;
  const Int_t FittingTest = fittingTestFor(Current.yAxis().high);
  bool StatFit = false;
  std::pair<double, double> ParameterC(0, 0);
  fitstatus fitvalues{};
  std::vector<fitstatus> fitvaluesvector;

  if (Current.xAxis().high < kArgonScanLimit) {
    const std::vector<double>& X = Current.GetX();
    if (INFO) {
      log << "INFO :: Drawing : PlottingEachAndDoLinearFit : Total Point : " << Current.GetN()
          << std::endl;
    }
    Int_t j = kFirstWindowPoint;
    while (j < Current.GetN()) {
      const Int_t last = Current.GetN() - 1;
      if (INFO) {
        log << "INFO :: Drawing : PlottingEachAndDoLinearFit : Fit Number   : " << j
            << "--------------------------------------------" << std::endl;
        log << "INFO :: Drawing : PlottingEachAndDoLinearFit : Fitting From : " << X[j] << " to "
            << X[last] << std::endl;
      }
      StatFit = fit(&Current, X[j], X[last], fitvalues, FittingTest, INFO, pad, log);
      fitvaluesvector.push_back(fitvalues);
      ++j;
      if (StatFit) break;
    }
    if (StatFit) {
      printPass(log, chambername, FittingTest, fitvalues);
      fitleft(&Current, X[0], X[j - 1], ParameterC, INFO, pad, log);
    }
  }

  if (INFO) {
    plottingChiSquared(fitvaluesvector, chambername, FittingTest,
                       getPathToSave(file, context.place, context.console), INFO, style,
                       context.extension, context.console, context.queue);
  }

  if (!StatFit) return false;
  const double A = fitvalues.ParameterA;
  const double B = fitvalues.ParameterB;
  const double sA = fitvalues.ErrorA;
  const double sB = fitvalues.ErrorB;
  const double L = ParameterC.first;
  const double sL = ParameterC.second;
  // A flat or undefined slope has no resistivity, and a level that could not be
  // fitted no onset: reporting them would hand on numbers no fit of this gap made.
  if (A == 0 || !std::isfinite(A) || !std::isfinite(B) || !std::isfinite(L)) {
    std::ostringstream why;
    why << chambername << ": the accepted ohmic window gives slope " << A << " and level " << L
        << "; no resistivity is reported for this gap";
    context.console.warning(why.str());
    return false;
  }

  // The onset U = (L - B) / A, where the line meets the level, with its error in
  // volts: |U| ((sL + sB) / |L - B| + sA / |A|). Where the level meets the line at
  // its intercept the first term is written as (sL + sB) / |A|, its limit.
  const double U = (L - B) / A;
  const double sU = (L == B) ? (sL + sB) / std::fabs(A)
                             : std::fabs(U) * ((sL + sB) / std::fabs(L - B) + sA / std::fabs(A));
  Onset = {U, sU};
  Resistance = {1e9 / (A * kGapLength), sA * (1e9 / kGapLength) / (A * A)};
  Offset = {L, sL};
  return true;
}
