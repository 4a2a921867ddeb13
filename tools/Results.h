// results.csv and results.tex of a run: the tidy table of every gap, both
// methods, rendered from the run's outcome. The batch summary is the same rows.
#pragma once

#include <optional>
#include <vector>

#include "aux/OutputPlaces.h"
#include "aux/ResultsTable.h"
#include "toolkit/Console.h"
#include "toolkit/Status.h"
#include "tools/RunOutcome.h"

// The gap's row of the results table from its analysis: every value the
// outputs show, derived ones included (resistances, resistance x area, the
// resistivities at the reference temperature when temperature has a
// coefficient); `scan` names the scan, `figure` the gap's figure file ("" when
// none was drawn). Values that are not finite are left empty.
ResultsRow resultsRowOf(const GapResult& g, const std::string& scan, const TemperatureReference& temperature,
                        const std::string& figure);

// The run's rows, one per gap in gap-list order, as its analysis filled them.
std::vector<ResultsRow> resultsRows(const RunOutcome& run);

// Writes results.csv (every run) and, for an argon scan, results.tex into the
// run's output directory, atomically; each write that failed, in order (none:
// both written). Prints nothing.
tk::Failures writeResults(const std::vector<ResultsRow>& rows, bool argon, const std::string& file,
                          const OutputPlace& place);
