#include "tools/Results.h"

#include <cmath>
#include <optional>

#include "aux/GapRules.h"
#include "aux/ResultFlags.h"
#include "aux/TexTables.h"


namespace {

double meanOf(const std::vector<double>& values, const std::vector<std::size_t>& at) {
  if (at.empty()) return std::nan("");
  double sum = 0.0;
  for (const std::size_t k : at) sum += values[k];
  return sum / static_cast<double>(at.size());
}

// The mean of a gap's values over its plausible points (see plausibleConditions).
double mean(const std::vector<double>& values, const std::vector<std::size_t>& implausible) {
  return meanOf(values, keptIndices(values.size(), implausible));
}

// A number the table shows; none for NaN and infinities.
std::optional<double> shown(double v) { return std::isfinite(v) ? std::optional<double>(v) : std::nullopt; }
Measured measured(double v, double e) { return {shown(v), shown(e)}; }

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

// rho at the reference temperature: rho exp(alpha (T - T0)), T the mean
// temperature of the points the method used above its onset.
Measured atReference(double rho, double error, double temperature, const TemperatureReference& t) {
  const double factor = std::exp(*t.coefficient * (temperature - t.reference));
  return measured(rho * factor, error * factor);
}

void windowResult(const GapResult& g, const TemperatureReference& t, ResultsRow& row) {
  if (g.searched) row.fitTest = g.search.fitTest;
  const bool ran = g.noResult != NoResult::NotArgon && g.noResult != NoResult::StandardByUser;
  row.window.status = g.fitted() ? MethodStatus::fittedStatus()
                      : ran      ? MethodStatus::noResult(g.why())
                                 : MethodStatus::notRun(g.why());
  if (!g.fitted()) return;
  const GapValues& v = g.values;
  MethodResult& w = row.window;
  w.rho = measured(v.resistivity, v.resistivityError);
  w.resistance = measured(v.resistance, v.resistanceError);
  w.rhoArea = measured(v.resistanceArea, v.resistanceAreaError);
  w.offset = measured(v.offset, v.offsetError);
  w.onset = measured(v.onset, v.onsetError);
  const WindowTry* pass = g.search.pass();
  row.chi2 = shown(pass->fit.values.ChiSquared);
  row.ndf = pass->fit.values.NDF;
  row.windowStart = shown(pass->from);
  if (pass->fit.line) row.windowPoints = pass->fit.line->npoints;
  if (t.coefficient) w.rhoRef = atReference(v.resistivity, v.resistivityError, meanOf(g.points.temperature, windowAboveOnset(g)), t);
}

void kneeResult(const GapResult& g, const TemperatureReference& t, ResultsRow& row) {
  if (!g.kneeRun) {
    const bool noPoints = g.kneeSkip == GapResult::KneeSkip::noPoints;
    row.knee.status = noPoints ? MethodStatus::noResult(g.kneeNotRun()) : MethodStatus::notRun(g.kneeNotRun());
    return;
  }
  const KneeFit& k = g.knee;
  row.knee.status = k.fitted ? MethodStatus::fittedStatus() : MethodStatus::noResult(k.reason);
  row.kneeNoise = shown(k.noise);
  row.kneePoints = k.points;
  row.kneeDropped = k.dropped;
  row.kneeDurbinWatson = shown(k.durbinWatson);
  if (!k.fitted) return;
  MethodResult& m = row.knee;
  m.rho = measured(k.resistivity, k.resistivityError);
  m.resistance = measured(resistanceOf(k.resistivity, g.area), resistanceOf(k.resistivityError, g.area));
  m.rhoArea = measured(resistanceAreaOf(k.resistivity), resistanceAreaOf(k.resistivityError));
  m.onset = measured(k.onset, k.onsetError);
  m.offset = measured(k.offset, k.offsetError);
  row.kneeWidth = shown(k.width);
  row.kneeWidthLow = shown(k.widthLow);
  row.kneeWidthHigh = shown(k.widthHigh);
  row.kneeTemperatureMean = shown(meanOf(g.points.temperature, k.usedAboveOnset));
  // The knee fit carries the temperature in its model: rho_ref is its own parameter.
  if (t.coefficient) m.rhoRef = measured(k.referenceResistivity, k.referenceResistivityError);
}

}  // namespace

ResultsRow resultsRowOf(const GapResult& g, const std::string& scan, const TemperatureReference& temperature,
                        const std::string& figure) {
  ResultsRow row;
  row.scan = scan;
  row.gap = g.name;
  row.area = shown(g.area);
  row.areaSource = g.areaSource;
  row.points = static_cast<double>(g.points.hv.size());
  row.pressureMean = shown(mean(g.points.pressure, g.points.implausible));
  row.temperatureMean = shown(mean(g.points.temperature, g.points.implausible));
  row.humidityMean = shown(mean(g.points.humidity, g.points.implausible));
  if (temperature.coefficient) row.alpha = *temperature.coefficient, row.referenceTemperature = temperature.reference;
  windowResult(g, temperature, row);
  kneeResult(g, temperature, row);
  row.figure = figure;
  FlagFacts facts;
  facts.kneeWidthAtBound = g.kneeRun && g.knee.widthUnresolved;
  facts.kneeCurved = g.kneeRun && g.knee.curved;
  facts.implausibleLines = static_cast<long>(g.points.implausible.size());
  row.flags = resultFlags(row, facts);
  return row;
}

std::vector<ResultsRow> resultsRows(const RunOutcome& run) {
  std::vector<ResultsRow> rows;
  rows.reserve(run.gaps.size());
  for (const GapResult& g : run.gaps) rows.push_back(g.result);
  return rows;
}

tk::Failures writeResults(const std::vector<ResultsRow>& rows, bool argon, const std::string& file,
                          const OutputPlace& place) {
  tk::Failures failures;
  // Where the figures went: created and named by them already, so not logged again.
  const std::string dir = outputDirectory(file, place);
  std::string error;
  if (!makeDirectories(dir, error)) {
    failures.add(tk::Status::IOError(error));
    return failures;
  }
  if (!writeFileAtomically(dir + "results.csv", resultsCsvText(rows), error)) failures.add(tk::Status::IOError(error));
  if (argon && !writeFileAtomically(dir + "results.tex", resultsTex(rows), error)) {
    failures.add(tk::Status::IOError(error));
  }
  return failures;
}
