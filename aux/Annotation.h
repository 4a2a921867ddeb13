// What an annotated figure adds to the plain one (--annotate): the numbers a
// gap's figure was made for, drawn on it, and the scan's name on the combined
// figure. Built from the search and knee-fit results; nothing is fitted here.
#pragma once

#include <string>
#include <vector>

#include "aux/KneeFit.h"
#include "aux/OhmicSearch.h"
#include "toolkit/Canvas.h"
#include "toolkit/Graph.h"

// The rows of a gap's results box: the window search's resistivity, onset,
// offset (each with its error), chi2/NDF and test option, then the knee fit's
// resistivity, onset and width (its 68 % set, or that it went to its bound);
// or for each method the reason it has none; then the result's flags, if any.
// `knee` may be null (the knee fit did not run: `kneeWhy` says why).
std::vector<std::string> resultsBoxLines(const OhmicSearch& search, const KneeFit* knee,
                                         const std::string& kneeWhy, const std::vector<std::string>& flags = {});

// The parts of the key to the line styles an annotated figure uses (one line
// above its frame), with the knee curve's colour.
std::vector<std::string> lineKeyLines(int kneeColour);

// The colour of the knee-fit curve: one that is neither the gap's marker colour
// nor the blue (600) and red (632, 2) of the window search's lines.
int kneeCurveColour(int markerColour);

// Draws on `pad` (whose frame the gap's graph has set) the annotations of a
// gap: the knee-fit curve, dashed; a dashed vertical mark at each method's
// onset inside the frame; open circles on the passing window's first and last
// points; the results box with the result's `flags` (words); the key to the
// lines. `gap` holds the gap's points.
void annotateGapFigure(tk::Canvas& pad, const tk::Graph& gap, int markerColour, const OhmicSearch& search,
                       const KneeFit* knee, const std::string& kneeWhy, const std::vector<std::string>& flags = {});
