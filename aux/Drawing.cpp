// Figure style set-up, combined figure, per-gap figure and ohmic-region search.
#include "aux/Drawing.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "aux/Annotation.h"
#include "aux/OhmicSearch.h"
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

namespace {

std::string pathToSave(const std::string& file, const FigureContext& context) {
  return getPathToSave(file, context.place, context.log);
}

}  // namespace

namespace {

// Whether the combined figure's lists fit together: a graph and a profile per
// gap, and the gap of the largest current among them.
tk::Status combinedInputsFit(std::size_t gaps, std::size_t graphs, std::size_t profiles, int maxcurrentindex,
                             const std::string& before, const std::string& after) {
  if (graphs < gaps || profiles < gaps) {
    return tk::Status::InvalidArgument(before + std::to_string(gaps) + " gaps but " + std::to_string(graphs) +
                                       " graphs and " + std::to_string(profiles) + " plot profiles" + after);
  }
  if (maxcurrentindex < 0 || static_cast<std::size_t>(maxcurrentindex) >= gaps) {
    return tk::Status::InvalidArgument(before + "the gap of the largest current (position " +
                                       std::to_string(maxcurrentindex) + ") is not one of the " +
                                       std::to_string(gaps) + " gaps" + after);
  }
  return tk::Status::OK();
}

}  // namespace

void figureFailed(const FigureContext& context, const tk::Status& failure) {
  context.log.error(failure);
}

void saveFigure(const tk::Canvas& canvas, const std::string& path, const FigureContext& context,
                const std::string& thumbnail) {
  // A figure that cannot be written is the one error; its thumbnail's folder
  // would fail for the same reason.
  std::string error;
  std::string folderError;
  const bool folder = thumbnail.empty() || makeDirectories(ExtractDirectory(thumbnail), folderError);
  if (!canvas.SaveAs(path, error, folder ? thumbnail : "", kThumbnailWidth, context.easel)) {
    figureFailed(context, tk::Status::IOError(error));
  } else if (!folder) {
    figureFailed(context, tk::Status::IOError("cannot write the thumbnail of " + path + ": " + folderError));
  }
}

tk::Style figureStyle(const FigureContext& context, Bool_t INFO) {
  std::string HOMEPATH;
  GetEnviroment(HOMEPATH, "HOME", context.place.env, context.log.out());
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
          context.log.out() << "INFO :: Drawing : figureStyle : not applied from " << macro
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
  const std::string output = pathToSave(file, context) + getName() +
                             context.extension;
  const std::size_t gaps = ChamberIndex.size();
  if (gaps == 0) {
    context.log.warning(file + ": no gap in the scan; " + output + " is not drawn");
    return;
  }
  const tk::Status fits = combinedInputsFit(gaps, Currents.size(), profileparameters.size(), maxcurrentindex,
                                            file + ": ", "; " + output + " is not drawn");
  if (!fits.ok()) return figureFailed(context, fits);
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
      context.log.warning(file + ": no gap has points; no figure drawn from a missing graph, " +
                              output + " is not written");
      return;
    }
    context.log.warning(file + ": the graph of the largest current (gap " +
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
  if (context.annotate) c1.DrawText(0.99, 0.985, ExtractFilename(file), 0.025, 33);
  saveFigure(c1, output, context);
}

void PlottingEachAndDoLinearFit(tk::Graph* Current, plotprofile profileparameters, std::string file,
                                std::pair<double, double>& Resistance,
                                std::pair<double, double>& Offset,
                                std::pair<double, double>& Onset, bool& StatFit, bool INFO,
                                const FigureContext& context) {
  StatFit = false;
  if (Current == nullptr || Current->GetN() == 0) {
    figureStyle(context, INFO);  // its log line, as for every figure
    context.log.warning(file + ": gap " + profileparameters.chambername +
                            " has no points; no figure drawn from a missing graph");
    return;
  }
  const OhmicSearch search = searchOhmicWindow(*Current, INFO);
  Current->function = search.attached;
  applyProfile(*Current, profileparameters);
  drawGapFigure(*Current, profileparameters, search, file, INFO, context);
  StatFit = search.statFit;
  if (!StatFit) return;
  Resistance = search.resistivity;
  Offset = search.offset;
  Onset = search.onset;
}

void drawGapFigure(const tk::Graph& points, const plotprofile& profile, const OhmicSearch& search,
                   const std::string& file, bool INFO, const FigureContext& context,
                   const KneeFit* knee, const std::string& kneeWhy, const std::vector<std::string>& flags) {
  const tk::Style style = figureStyle(context, INFO);
  const std::string& chambername = profile.chambername;
  tk::Canvas c1("KVT Measurements" + chambername, "KVT Measurements " + chambername, kFigureWidth,
                kFigureHeight, style);
  // The gap as the search leaves it: its points with the function of the latest fit.
  tk::Graph gap = points;
  gap.function = search.attached;
  // The last window tried carries its line even when it did not pass: a stray
  // short line over the last points, which an annotated figure leaves out.
  if (context.annotate && !search.passed) gap.function.reset();
  gap.yTitle = kCurrentTitle;
  gap.xTitle = kVoltageTitle;
  applyProfile(gap, profile);
  tk::Legend legend = legendBox("");
  legend.AddEntry(&gap, chambername, "p");
  c1.DrawGraph(&gap, true);
  renderSearch(search, chambername, file, INFO, style, c1, context, profile.fileBase);
  if (context.annotate) {
    annotateGapFigure(c1, gap, profile.color, search, knee, kneeWhy, flags);
    // A figure pasted into slides can still be traced to its scan.
    c1.DrawText(0.99, 0.985, ExtractFilename(file), 0.025, 33);
  }
  c1.DrawLegend(legend);
  const std::string base = profile.fileBase.empty() ? safeFileName(chambername) : profile.fileBase;
  const std::string thumbnail = thumbnailName(base, context.extension);
  saveFigure(c1, pathToSave(file, context) + base + context.extension, context,
             thumbnail.empty() ? "" : pathToSave(file, context) + thumbnail);
}

// ============================================================ ohmic-region search
// (its log lines and its lines on a figure)

namespace {

void printPass(std::ostream& log, const std::string& chambername, Int_t FittingTest,
               const fitstatus& f) {
  const char* prefix = "INFO :: Drawing : PlottingEachAndDoLinearFit :  ";
  log << prefix << "Chamber    : " << escapeControls(chambername) << std::endl;
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

void logOhmicSearch(const OhmicSearch& search, const std::string& chambername, bool INFO,
                    std::ostream& log) {
  if (!search.searched) return;
  const char* prefix = "INFO :: Drawing : PlottingEachAndDoLinearFit : ";
  if (INFO) {
    log << prefix << "Total Point : " << search.points << std::endl;
    for (const WindowTry& w : search.windows) {
      log << prefix << "Fit Number   : " << w.first << "--------------------------------------------"
          << std::endl;
      log << prefix << "Fitting From : " << w.from << " to " << w.to << std::endl;
      logWindowFit(w.fit, search.fitTest, log);
    }
  }
  if (!search.passed) return;
  printPass(log, chambername, search.fitTest, search.pass()->fit.values);
  if (INFO) logLevelFit(search.level, log);
}

void drawOhmicSearch(const OhmicSearch& search, tk::Canvas& pad) {
  if (!search.passed) return;
  pad.DrawFunction(*search.pass()->fit.line);
  // Drawn with the default look of a function: red, width 2.
  if (search.level.level) pad.DrawFunction(*search.level.level);
}

void renderSearch(const OhmicSearch& search, const std::string& chambername,
                  const std::string& file, bool INFO, const tk::Style& style, tk::Canvas& pad,
                  const FigureContext& context, const std::string& diagnostics) {
  logOhmicSearch(search, chambername, INFO, context.log.out());
  drawOhmicSearch(search, pad);
  if (INFO) {
    std::vector<fitstatus> tried;
    for (const WindowTry& w : search.windows) tried.push_back(w.fit.values);
    plottingChiSquared(tried, diagnostics.empty() ? chambername : diagnostics, search.fitTest,
                       pathToSave(file, context), INFO, style,
                       context.extension, context.log);
  }
  if (search.passed && !search.statFit) {
    std::ostringstream why;
    why << chambername << ": the accepted ohmic window gives slope "
        << search.pass()->fit.values.ParameterA << " and level " << search.level.ParameterC.first
        << "; no resistivity is reported for this gap";
    context.log.warning(why.str());
  }
}

bool searchOhmicRegion(tk::Graph& Current, const std::string& chambername, const std::string& file,
                       tk::Canvas& pad, const tk::Style& style,
                       std::pair<double, double>& Resistance, std::pair<double, double>& Offset,
                       std::pair<double, double>& Onset, bool INFO, const FigureContext& context) {
  const OhmicSearch search = searchOhmicWindow(Current, INFO);
  Current.function = search.attached;
  renderSearch(search, chambername, file, INFO, style, pad, context);
  if (!search.statFit) return false;
  Resistance = search.resistivity;
  Offset = search.offset;
  Onset = search.onset;
  return true;
}
