// results.csv and results.tex of a run: the tidy table of every gap, both
// methods, rendered from the run's outcome. The batch summary is the same rows.
#pragma once

#include <optional>
#include <vector>

#include "aux/OutputPlaces.h"
#include "aux/ResultsTable.h"
#include "toolkit/Console.h"
#include "tools/RunOutcome.h"

// Resistivity of bakelite falls steeply with temperature; comparing gaps needs a
// reference: rho_ref = rho exp(alpha (T - T0)), T the mean temperature of the
// points a method used above its onset.
struct TemperatureReference {
  std::optional<double> coefficient;  // alpha, per degree C; none: no rho_ref columns
  double reference = 20.0;            // T0, degrees C
};

// One row per gap of the run, in gap-list order; `scan` names the scan in the
// rows. Empty cells where a value does not exist.
std::vector<ResultsRow> resultsRows(const RunOutcome& run, const std::string& scan,
                                    const TemperatureReference& temperature);

// Writes results.csv (every run) and, for an argon scan, results.tex into the
// run's output directory, atomically; a failed write is reported through console.
void writeResults(const std::vector<ResultsRow>& rows, bool argon, const std::string& file,
                  const OutputPlace& place, tk::Console& console);
