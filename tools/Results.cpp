#include "tools/Results.h"

#include <cmath>
#include <numeric>


namespace {

std::string number(double v) { return formatResultsNumber(v); }

double mean(const std::vector<double>& values) {
  if (values.empty()) return std::nan("");
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double meanOf(const std::vector<double>& values, const std::vector<std::size_t>& at) {
  if (at.empty()) return std::nan("");
  double sum = 0.0;
  for (const std::size_t k : at) sum += values[k];
  return sum / static_cast<double>(at.size());
}

// The points of the passing window above the window search's onset.
std::vector<std::size_t> windowAboveOnset(const GapResult& g) {
  std::vector<std::size_t> used;
  const WindowTry* pass = g.search.pass();
  if (pass == nullptr) return used;
  for (std::size_t k = 0; k < g.points.hv.size(); ++k) {
    const double v = g.points.hv[k];
    if (v >= pass->from && v <= pass->to && v > g.values.onset) used.push_back(k);
  }
  return used;
}

void setPair(ResultsRow& row, const char* value, const char* error, double v, double e) {
  row.set(value, number(v));
  row.set(error, number(e));
}

void windowColumns(const GapResult& g, ResultsRow& row) {
  if (g.searched) row.set("fit_test", std::to_string(g.search.fitTest));
  if (!g.fitted()) return;
  const GapValues& v = g.values;
  setPair(row, "rho_ohm_cm", "rho_err", v.resistivity, v.resistivityError);
  setPair(row, "resistance_ohm", "resistance_err", v.resistance, v.resistanceError);
  setPair(row, "rho_area_ohm_cm2", "rho_area_err", v.resistanceArea, v.resistanceAreaError);
  setPair(row, "offset_na_cm2", "offset_err", v.offset, v.offsetError);
  setPair(row, "onset_v", "onset_err", v.onset, v.onsetError);
  const WindowTry* pass = g.search.pass();
  row.set("chi2", number(pass->fit.values.ChiSquared));
  row.set("ndf", std::to_string(pass->fit.values.NDF));
  row.set("window_start_v", number(pass->from));
  if (pass->fit.line) row.set("window_points", std::to_string(pass->fit.line->npoints));
}

void kneeColumns(const GapResult& g, ResultsRow& row) {
  if (!g.kneeRun) {
    row.set("knee_status", g.why());
    return;
  }
  const KneeFit& k = g.knee;
  row.set("knee_status", k.fitted ? "fitted" : k.reason);
  row.set("knee_noise", number(k.noise));
  row.set("knee_points", std::to_string(k.points));
  row.set("knee_dropped", std::to_string(k.dropped));
  row.set("knee_durbin_watson", number(k.durbinWatson));
  if (!k.fitted) return;
  setPair(row, "knee_rho_ohm_cm", "knee_rho_err", k.resistivity, k.resistivityError);
  setPair(row, "knee_resistance_ohm", "knee_resistance_err", k.resistivity * kGapLength / g.area,
          k.resistivityError * kGapLength / g.area);
  setPair(row, "knee_onset_v", "knee_onset_err", k.onset, k.onsetError);
  setPair(row, "knee_offset_na_cm2", "knee_offset_err", k.offset, k.offsetError);
  row.set("knee_width_v", number(k.width));
}

void referenceColumns(const GapResult& g, const TemperatureReference& t, ResultsRow& row) {
  if (!t.coefficient) return;
  const double alpha = *t.coefficient;
  if (g.fitted()) {
    const double factor = std::exp(alpha * (meanOf(g.points.temperature, windowAboveOnset(g)) - t.reference));
    setPair(row, "rho_ref_ohm_cm", "rho_ref_err", g.values.resistivity * factor,
            g.values.resistivityError * factor);
  }
  if (g.kneeRun && g.knee.fitted) {
    const double factor =
        std::exp(alpha * (meanOf(g.points.temperature, g.knee.usedAboveOnset) - t.reference));
    setPair(row, "knee_rho_ref_ohm_cm", "knee_rho_ref_err", g.knee.resistivity * factor,
            g.knee.resistivityError * factor);
  }
}

}  // namespace

std::vector<ResultsRow> resultsRows(const RunOutcome& run, const std::string& scan,
                                    const TemperatureReference& temperature) {
  std::vector<ResultsRow> rows;
  for (const GapResult& g : run.gaps) {
    ResultsRow row = emptyResultsRow();
    row.set("scan", scan);
    row.set("gap", g.name);
    row.set("status", g.fitted() ? "fitted" : g.why());
    row.set("area_cm2", number(g.area));
    row.set("area_source", g.areaSource);
    row.set("points", std::to_string(g.points.hv.size()));
    row.set("pressure_mean", number(mean(g.points.pressure)));
    row.set("temperature_mean", number(mean(g.points.temperature)));
    row.set("humidity_mean", number(mean(g.points.humidity)));
    windowColumns(g, row);
    kneeColumns(g, row);
    referenceColumns(g, temperature, row);
    rows.push_back(std::move(row));
  }
  return rows;
}

void writeResults(const std::vector<ResultsRow>& rows, bool argon, const std::string& file,
                  const OutputPlace& place, tk::Console& console) {
  // Where the figures went: created and named by them already, so not logged again.
  const std::string dir = outputDirectory(file, place);
  std::string error;
  if (!makeDirectories(dir, error)) {
    console.error(error);
    return;
  }
  if (!writeFileAtomically(dir + "results.csv", resultsCsvText(rows), error)) console.error(error);
  if (argon && !writeFileAtomically(dir + "results.tex", resultsTex(rows), error)) {
    console.error(error);
  }
}
