// Straight-line and constant-level fits, goodness tests, fit-scan histograms.
#include "aux/Regression.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "aux/OutputPlaces.h"
#include "toolkit/Fit.h"
#include "toolkit/Histogram.h"

namespace {

constexpr Double_t kNoOption = 300000;
constexpr const char* kFunctionName = "f2";
constexpr int kBlue = 600;
constexpr int kRed = 632;

}  // namespace

Double_t TestValue(Double_t Chisquared, Int_t DegreesOfFreedom, Int_t test, Bool_t INFO,
                   std::ostream& log) {
  Double_t value = kNoOption;
  switch (test) {
    case 1:
      value = static_cast<Double_t>(DegreesOfFreedom) / Chisquared;
      break;
    case 2:
    case 3:
      value = Chisquared;
      break;
    default:
      return kNoOption;
  }
  if (INFO) {
    log << "INFO :: Regression : TestValue : Option " << test << " : TestValue : " << value
        << std::endl;
  }
  return value;
}

bool goodFit(Double_t Chisquared, Int_t DegreesOfFreedom, Double_t& Goodness, Int_t test,
             Bool_t INFO, std::ostream& log) {
  bool good = false;
  const std::vector<std::pair<double, double>> limitsgoodfit = {
      {0.8, 2}, {0.07, 0.12}, {0.007, 0.02}};
  Goodness = TestValue(Chisquared, DegreesOfFreedom, test, false, log);
  if (test < 1 || test > 3) return good;

  const auto& [lower, upper] = limitsgoodfit[static_cast<std::size_t>(test - 1)];
  const std::string prefix = "INFO :: Regression : goodFit : Option " + std::to_string(test) + " : ";
  if (test != 1 && INFO) {
    if (upper > Goodness) log << prefix << "is the fit good left " << std::endl;
    if (Goodness > lower) log << prefix << "is the fit good right " << std::endl;
  }
  good = (upper > Goodness) && (Goodness > lower);
  if (INFO) log << prefix << "is the fit good? " << (good ? " yes " : " no ") << std::endl;
  return good;
}

WindowFit fitWindow(const tk::Graph& Current, Double_t StartFit, Double_t EndFit, Int_t FitTest) {
  WindowFit result;
  fitstatus& fitvalues = result.values;
  result.line = tk::lineFit(Current, StartFit, EndFit, kFunctionName);
  if (result.line) {
    result.line->lineColor = kBlue;
    result.line->lineWidth = 2;
    fitvalues.ChiSquared = result.line->chi2;
    fitvalues.NDF = result.line->ndf;
    fitvalues.ErrorA = result.line->err[1];
    fitvalues.ErrorB = result.line->err[0];
    fitvalues.ParameterA = result.line->par[1];
    fitvalues.ParameterB = result.line->par[0];
  } else {
    // Too few points or a single HV: no line, nothing to judge but the window's
    // emptiness. The record still says so, so the fit scan shows every window.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    fitvalues.ChiSquared = 0.0;
    fitvalues.NDF = 0;
    fitvalues.ErrorA = nan;
    fitvalues.ErrorB = nan;
    fitvalues.ParameterA = nan;
    fitvalues.ParameterB = nan;
  }
  std::ostringstream quiet;
  result.good = goodFit(fitvalues.ChiSquared, fitvalues.NDF, fitvalues.Goodness, FitTest, false, quiet);
  if (!result.line) result.good = false;  // an undetermined line is never good, whatever its numbers
  return result;
}

void logWindowFit(const WindowFit& window, Int_t FitTest, std::ostream& log) {
  const fitstatus& f = window.values;
  log << "INFO :: Regression : fit : ChiSquared       : " << f.ChiSquared << std::endl;
  log << "INFO :: Regression : fit : DegreesOfFreedom : " << f.NDF << std::endl;
  log << "INFO :: Regression : fit : TestValue        : "
      << TestValue(f.ChiSquared, f.NDF, FitTest, false, log) << std::endl;
  Double_t goodness = 0.0;
  goodFit(f.ChiSquared, f.NDF, goodness, FitTest, true, log);
}

Bool_t fit(tk::Graph* Current, Double_t StartFit, Double_t EndFit, fitstatus& fitvalues,
           Int_t FitTest, Bool_t INFO, tk::Canvas& pad, std::ostream& log) {
  const WindowFit window = fitWindow(*Current, StartFit, EndFit, FitTest);
  fitvalues = window.values;
  if (window.line) Current->function = window.line;
  if (INFO) logWindowFit(window, FitTest, log);
  if (window.good) pad.DrawFunction(*window.line);
  return window.good;
}

tk::Function attachedLevel(const tk::Function& level) {
  tk::Function attached = level;
  attached.lineColor = kRed;
  attached.lineWidth = 2;
  return attached;
}

LevelFit fitLevel(const tk::Graph& Current, Double_t StartFit, Double_t EndFit) {
  LevelFit result;
  result.level = tk::constantFit(Current, StartFit, EndFit, kFunctionName);
  if (result.level) {
    result.Chisquared = result.level->chi2;
    result.DegreesOfFreedom = static_cast<Double_t>(result.level->ndf);
    result.ParameterC = {result.level->par[0], result.level->err[0]};
  } else {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result.ParameterC = {nan, nan};
  }
  result.StatusFit = result.DegreesOfFreedom / result.Chisquared;
  return result;
}

void logLevelFit(const LevelFit& level, std::ostream& log) {
  log << "INFO :: LinearFit: fitleft: degrees  " << level.DegreesOfFreedom << "  Chisquare "
      << level.Chisquared << std::endl;
  log << "INFO :: LinearFit: fitleft: status   " << level.StatusFit << std::endl;
}

Double_t fitleft(tk::Graph* Current, Double_t StartFit, Double_t EndFit,
                 std::pair<double, double>& ParameterC, Bool_t INFO, tk::Canvas& pad,
                 std::ostream& log) {
  const LevelFit level = fitLevel(*Current, StartFit, EndFit);
  if (level.level) Current->function = attachedLevel(*level.level);
  ParameterC = level.ParameterC;
  if (INFO) logLevelFit(level, log);
  // Drawn with the default look of a function: red, width 2.
  if (level.level) pad.DrawFunction(*level.level);
  return level.StatusFit;
}

namespace {

// Saves each histogram as `base` + its suffix + extension, one after another on one canvas.
void saveFitHistograms(const std::vector<std::pair<const tk::Histogram*, std::string>>& figures,
                       const std::string& name, const std::string& base, const std::string& extension,
                       const tk::Style& style, tk::Log& log) {
  tk::Canvas c2(name, name, 2000, 1000, style);
  for (const auto& [histogram, suffix] : figures) {
    c2.DrawHistogram(*histogram);
    std::string error;
    if (!c2.SaveAs(base + suffix + extension, error)) log.error(tk::Status::IOError(error));
    c2.Clear();
  }
}

}  // namespace

bool descending_on_chisquared(fitstatus a, fitstatus b) { return a.ChiSquared > b.ChiSquared; }
bool descending_on_value(Double_t a, Double_t b) { return a > b; }

Bool_t plottingChiSquared(std::vector<fitstatus> fitvaluesvector, std::string chambername,
                          Int_t FitTest, std::string Path, Bool_t INFO, const tk::Style& style,
                          const std::string& extension, tk::Log& log) {
  const std::size_t entries = fitvaluesvector.size();
  if (entries == 0) return false;  // no window was fitted: nothing to show

  std::vector<Double_t> goodnessOfFit;
  goodnessOfFit.reserve(entries);
  for (const auto& f : fitvaluesvector) {
    goodnessOfFit.push_back(TestValue(f.ChiSquared, f.NDF, FitTest, false, log.out()));
  }
  if (INFO) {
    const fitstatus& last = fitvaluesvector[entries - 1];
    log.out() << "INFO :: Regression : plottingChiSquared : ChiSquaredH    :\t " << last.ChiSquared
                << std::endl;
    log.out() << "INFO :: Regression : plottingChiSquared : NdFH           :\t " << last.NDF
                << std::endl;
    log.out() << "INFO :: Regression : plottingChiSquared : TestValue      :\t "
                << goodnessOfFit.back() << std::endl;
  }

  // A NaN breaks the strict ordering the sort needs (and would pick the edges),
  // so NaNs are kept apart at the end and the edges come from the numbers only.
  const auto numbers = std::stable_partition(goodnessOfFit.begin(), goodnessOfFit.end(),
                                             [](double v) { return !std::isnan(v); });
  std::sort(goodnessOfFit.begin(), numbers, descending_on_value);
  const auto records = std::stable_partition(fitvaluesvector.begin(), fitvaluesvector.end(),
                                             [](const fitstatus& f) { return !std::isnan(f.ChiSquared); });
  std::sort(fitvaluesvector.begin(), records, descending_on_chisquared);

  // (largest, smallest); (0, 0) without numbers lets the histogram choose its range.
  std::vector<std::pair<double, double>> limitvalues(2, {0.0, 0.0});
  if (records != fitvaluesvector.begin()) {
    limitvalues[0] = {fitvaluesvector.front().ChiSquared, std::prev(records)->ChiSquared};
  }
  if (numbers != goodnessOfFit.begin()) {
    limitvalues[1] = {goodnessOfFit.front(), *std::prev(numbers)};
  }

  tk::Histogram ChiSquaredH("ChiSquared" + chambername, "ChiSquared" + chambername, 500,
                            limitvalues[0].second, limitvalues[0].first);
  tk::Histogram GoodNessOfFitH("GoodNessOfFitH" + chambername, "GoodNessOfFitH" + chambername, 500,
                               limitvalues[1].second, limitvalues[1].first);
  tk::Histogram NdFH("DegreesOfFreedom" + chambername, "DegreesOfFreedom" + chambername, 50, 0, 100);
  for (const auto& f : fitvaluesvector) {
    ChiSquaredH.Fill(f.ChiSquared);
    NdFH.Fill(static_cast<double>(f.NDF));
    GoodNessOfFitH.Fill(TestValue(f.ChiSquared, f.NDF, FitTest, false, log.out()));
  }

  saveFitHistograms({{&ChiSquaredH, "_ChiS"}, {&NdFH, "_NDf"}, {&GoodNessOfFitH, "_GoodNessOfFitH"}},
                    "FitVariables" + chambername, Path + safeFileName(chambername), extension, style, log);
  return false;
}
