// Figure style set-up, combined figure, per-gap figure and ohmic-region search.
#include "aux/Drawing.h"

#include "aux/Regression.h"

// ===================================================================== figures
// (figure style set-up, DrawingVectorTogether, PlottingEachAndDoLinearFit)

// ============================================================ ohmic-region search
// (searchOhmicRegion)
//
// Windows X[j]..X[N-1] for j = 15, 16, ... are fitted in turn and the first good
// one, the widest, is taken. The pass is then reported and the level in front of
// it fitted over X[0]..X[j] (the two regions share the window's first point) for
// a pass at any j, the last one included.

#include <cmath>
#include <sstream>

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

  if (Current.xAxis().high < 2500) {
    const std::vector<double>& X = Current.GetX();
    if (INFO) {
      log << "INFO :: Drawing : PlottingEachAndDoLinearFit : Total Point : " << Current.GetN()
          << std::endl;
    }
    Int_t j = 15;
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
                       context.extension, context.console);
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
  Resistance = {1e9 / (A * 0.4), sA * 2.5e9 / (A * A)};
  Offset = {L, sL};
  return true;
}
