// Figures of a run: the figure style set-up, the combined current-density figure
// of all gaps, and the per-gap figure with the search for the gap's ohmic region.
// Declares plotprofile, the colour and marker a gap is drawn with.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "aux/KneeFit.h"
#include "aux/OhmicSearch.h"
#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "toolkit/Canvas.h"
#include "toolkit/Log.h"
#include "toolkit/Graph.h"
#include "toolkit/Style.h"
#include "toolkit/Types.h"

// A gap's name with its marker colour and marker style (toolkit indices).
struct plotprofile {
  plotprofile() = default;
  plotprofile(std::string name, Int_t colour, Int_t style)
      : chambername(std::move(name)), color(colour), marker(style) {}
  std::string chambername;
  Int_t color = 1;
  Int_t marker = 1;
  // The gap's figure files are named by this (without extension) when it is
  // set, else by safeFileName(chambername): two gaps never share a file.
  std::string fileBase;
};

// What the figures need from the run. References must outlive the calls.
struct FigureContext {
  const OutputPlace& place;     // where outputs go
  tk::Log& log;                 // what the figures say: progress lines, warnings, failures
  std::string extension = ".png";  // figure file format: ".png", ".svg" or ".pdf"
  bool annotate = false;  // --annotate: results drawn on the figures (see aux/Annotation.h)
  // Where PNG figures are painted (tk::Canvas::SaveAs): one easel for all of a
  // run's figures, and a batch worker's scans; null: a fresh one each.
  tk::Easel* easel = nullptr;
};

// Says `failure` as an error in the context's log.
void figureFailed(const FigureContext& context, const tk::Status& failure);

// Saves the canvas as `path`; a figure that cannot be written is a failure of
// the context (figureFailed). A run saves its figures one after another in
// its own process: on two cores, painting the seven figures of a six-gap argon
// scan in two processes cost 19-25% more processor time and saved at most a
// fifth of the wall time, often none. Parallel painting pays only across scans
// (--batch).
// With a `thumbnail` path, a PNG figure leaves its thumbnail there too
// (tk::Canvas::SaveAs), its folder created as needed.
void saveFigure(const tk::Canvas& canvas, const std::string& path, const FigureContext& context,
                const std::string& thumbnail = "");

// The figure style set-up made at the start of each figure: the default look,
// then the user's style macro ($HOME/.root/rootstyle.C, settings made on the style
// "uLm"), then no statistics box, white canvas and frame, no title box. Writes the
// HOME log line; lists ignored macro settings when INFO is true.
tk::Style figureStyle(const FigureContext& context, Bool_t INFO);

// Draws every gap's graph on one canvas, the frame taken from the graph at
// maxcurrentindex, legend entries in gap-list order under the header legendtitle,
// and saves it as "ALLcurrents" + extension in the scan's output directory.
// Currents[k] belongs to ChamberIndex[k] and profileparameters[k]. An empty gap
// list or a maxcurrentindex outside it draws nothing and says so. Leaves every
// graph with its profile's marker colour and style and size 2.0.
void DrawingVectorTogether(const std::vector<tk::Graph*>& Currents,
                           std::vector<plotprofile> profileparameters,
                           ChamberIndexList ChamberIndex, int maxcurrentindex, std::string file,
                           std::string legendtitle, const FigureContext& context);

// The gap's own figure from its points and its search: the points in the
// profile's marker with the function of the latest fit, the passing line and the
// level, and a legend row; saved as the gap's (file-name safe) name + extension.
// Writes the search's log lines first (see logOhmicSearch) and, with INFO, the
// fit-scan diagnostic figures. The search is not run again.
// With context.annotate the figure also shows the results (annotateGapFigure),
// among them the knee fit (`knee`, or null with `kneeWhy`) and the result's
// flags (words), with the scan's name in the corner; a window line that did not
// pass is not painted.
void drawGapFigure(const tk::Graph& points, const plotprofile& profile, const OhmicSearch& search,
                   const std::string& file, bool INFO, const FigureContext& context,
                   const KneeFit* knee = nullptr, const std::string& kneeWhy = "",
                   const std::vector<std::string>& flags = {});

// The search's log lines: with INFO the point count and every window tried; the
// result lines of a pass always; with INFO the level fit's lines.
void logOhmicSearch(const OhmicSearch& search, const std::string& chambername, bool INFO,
                    std::ostream& log);
// Draws the passing line (blue) and the level (red) on `pad`; nothing without a pass.
void drawOhmicSearch(const OhmicSearch& search, tk::Canvas& pad);
// Everything a search shows: its log lines, its lines on `pad`, with INFO the
// diagnostic figures, and the warning for a pass that gives no resistivity.
// The fit-scan figures are named by `diagnostics` (default: the gap's name).
void renderSearch(const OhmicSearch& search, const std::string& chambername,
                  const std::string& file, bool INFO, const tk::Style& style, tk::Canvas& pad,
                  const FigureContext& context, const std::string& diagnostics = "");

// Draws the gap's graph on its own canvas, searches its ohmic region (the widest
// window from point 15 on, ending at the last point, whose line fit passes the
// goodness test), fits the level in front of it and saves the figure as the gap's
// (file-name safe) name + extension. StatFit ends true only for a pass whose slope
// is finite and not zero; only then are Resistance (resistivity, Ohm*cm), Offset
// (nA/cm^2) and Onset (V) written. With INFO, verbose lines and the fit-scan
// diagnostic figures.
// The ohmic-region search of one gap, on its graph already drawn on `pad`:
// chooses the goodness option from the y axis's upper end (1 from 15 up, 2 from 3
// up, else 3), fits windows X[j]..X[N-1] for j = 15, 16, ... while the HV axis
// ends below 2500 V and stops at the first good one (the widest), prints the
// result lines, fits the level over X[0]..X[j] and fills the three pairs. Returns
// StatFit: true only when a window passed with a finite, non-zero slope; the pairs
// are written only then. With INFO, the verbose lines and the diagnostic figures.
bool searchOhmicRegion(tk::Graph& Current, const std::string& chambername, const std::string& file,
                       tk::Canvas& pad, const tk::Style& style,
                       std::pair<double, double>& Resistance, std::pair<double, double>& Offset,
                       std::pair<double, double>& Onset, bool INFO, const FigureContext& context);

void PlottingEachAndDoLinearFit(tk::Graph* Current, plotprofile profileparameters, std::string file,
                                std::pair<double, double>& Resistance,
                                std::pair<double, double>& Offset,
                                std::pair<double, double>& Onset, bool& StatFit, bool INFO,
                                const FigureContext& context);
