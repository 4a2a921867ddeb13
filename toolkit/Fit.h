// Least-squares fits of a straight line and of a constant level to the points of
// a graph inside an HV window, with the conventions the program's numbers rest on:
// both window ends inclusive (swapped when given in reverse), every point of
// error 1 (chi-square = sum of squared residuals), NDF = n - parameters but never
// negative, parameter errors scaled by sqrt(chi2 / NDF) unless NDF == 0 or
// chi2 <= 0.
#pragma once

#include <optional>
#include <string>

#include "toolkit/Graph.h"

namespace tk {

// Fits y = p1 * x + p0 to the points with start <= x <= end. On success the
// function (named `name`, range [start, end] after ordering, colour 2, width 2)
// replaces the graph's attached function and a copy is returned. A window with
// fewer than 2 points or whose points share one x cannot determine a line: the
// graph is left as it was and nothing is returned.
std::optional<Function> fitLine(Graph& graph, double start, double end, const std::string& name);

// Fits the constant y = p0 (the mean) to the points with start <= x <= end; same
// contract as fitLine, needing at least one point.
std::optional<Function> fitConstant(Graph& graph, double start, double end, const std::string& name);

// The same fits without touching the graph: the function is only returned.
std::optional<Function> lineFit(const Graph& graph, double start, double end, const std::string& name);
std::optional<Function> constantFit(const Graph& graph, double start, double end,
                                    const std::string& name);

}  // namespace tk
