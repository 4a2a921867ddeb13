// One run of the analysis as a value: what was read from the scan, every gap's
// points, search and values, and why a gap has none. The console lines, the
// reports, the figures and the batch summary are renderings of this value;
// analyseScan computes it without printing, drawing or writing anything.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "aux/Drawing.h"
#include "aux/GapAreas.h"
#include "aux/KneeFit.h"
#include "aux/OhmicSearch.h"
#include "aux/ResultsTable.h"
#include "aux/ScanDate.h"
#include "aux/ScanInput.h"
#include "toolkit/Graph.h"

// Resistivity of bakelite falls steeply with temperature; comparing gaps needs a
// reference. The window search gives rho_ref = rho exp(alpha (T - T0)), T the
// mean temperature of its points above its onset; the knee fit carries each
// point's temperature in its model and fits rho_ref itself.
struct TemperatureReference {
  std::optional<double> coefficient;  // alpha, per degree C; none: no rho_ref values
  double reference = 20.0;            // T0, degrees C
};

// Which analyses a scan gets. Told by the data unless the user says
// (--scan-type): the window search by where the HV axis of the scan's first gap
// ends, the knee fit by each gap's highest measured HV (see analyseScan).
enum class ScanType { told, argon, standard };
// The words --scan-type takes; "" for told (the option not given).
std::string scanTypeWord(ScanType type);

// What the analysis of a run needs besides the scan's text.
struct AnalysisSettings {
  GapAreas areas;                    // gap areas by exact name (--areas), cm^2
  bool everyWindowExact = false;     // the verbose run shows every window's exact fit
  TemperatureReference temperature;  // for the resistivities at a reference temperature
  std::string extension = ".png";    // of the figure files, which the analysis names
  ScanType scanType = ScanType::told;
  std::optional<ScanDate> scanDate;  // when the scan was taken, for every gap's row
};

// A gap's values as the report gives them, each with its uncertainty.
struct GapValues {
  double resistivity = 0, resistivityError = 0;        // Ohm*cm
  double resistance = 0, resistanceError = 0;          // Ohm
  double resistanceArea = 0, resistanceAreaError = 0;  // Ohm*cm^2
  double offset = 0, offsetError = 0;                  // nA/cm^2
  double onset = 0, onsetError = 0;                    // V
};

// Why a gap has no values, in the order the run finds out.
enum class NoResult {
  None,            // fitted
  NoMeasurement,   // no usable line of the gap
  NotArgon,        // the scan's HV axis ends at or above 2500 V: nothing searched
  StandardByUser,  // --scan-type standard: nothing searched
  NotAscending,    // its effective HV comes down: not searched
  AxisTooHigh,     // its own HV axis ends at or above 2500 V: not searched
  TooFewPoints,    // fewer than the search needs
  NoWindowPassed,  // windows were tried; none passed, or the pass gave no values
};

struct GapResult {
  std::string name;
  GapPoints points;         // its measurements, in file order
  tk::Graph graph;          // (corrected HV, current) with its profile, as the figures draw it
  plotprofile profile;      // marker colour and style
  double area = 1.0;        // cm^2, for the resistance
  // "type word" (catalogue word in the name), "areas file" (--areas) or "unknown" (1 cm^2)
  std::string areaSource;
  bool searched = false;    // the ohmic-region search ran on it
  OhmicSearch search;       // when searched
  NoResult noResult = NoResult::None;
  GapValues values;         // when fitted
  // The smooth-knee fit, run on every gap the window search runs on, whatever the
  // search found; its own reason when it has no result.
  bool kneeRun = false;
  KneeFit knee;
  // Why the knee fit did not run (kneeRun false): the gap's highest HV is at or
  // above the argon limit, or the user called the scan standard.
  enum class KneeSkip { noPoints, highHv, standardByUser } kneeSkip = KneeSkip::noPoints;
  // The HV axis end that classified the scan (NotArgon), for the words.
  double scanAxisEnd = 0.0;
  // Its figure's file name without extension ("" for a gap without measurements)
  // and, when an earlier gap or the combined figure took the name it wanted
  // (the latter told as ""), who took it.
  std::string figureBase;
  std::optional<std::string> figureTakenBy;
  // Its row of the results table: every value the outputs show, derived ones included.
  ResultsRow result;
  bool fitted() const { return noResult == NoResult::None; }
  // noResultText(*this).status: "" when fitted.
  std::string why() const;
  // The status of the knee method when it did not run.
  std::string kneeNotRun() const;
  // Whether the gap has a figure of its own: it has points and one of the methods looked at it.
  bool drawn() const { return !figureBase.empty(); }
};

// Why a gap has no result, in the two wordings the outputs use: `status`, the
// short words of the tables, the figures and the batch summary; `warning`, the
// log's warning after the gap's name ("" where the log tells it otherwise: a
// standard scan is told once, a gap without measurements with the reading).
struct NoResultText {
  std::string status, warning;
};
NoResultText noResultText(const GapResult& g);

// The ohmic-region search's HV limit as messages give it ("2500 V").
std::string argonScanLimitText();

struct RunOutcome {
  std::string file;           // the scan as named
  std::string legendTitle;    // header of the combined figure's legend
  bool crOnly = false;        // lines ended in carriage returns alone (read as line ends)
  ChamberIndexList gapList;   // every gap named in the scan
  std::string listing;        // the gap-listing log lines
  std::vector<LineNote> notes;  // lines passed over or warned about, in file order
  bool readError = false;     // the scan could not be read to its end
  long usedLines = 0;         // measurements stored in a gap
  int maxcurrentindex = 0;    // the gap of the largest current: the combined figure's frame
  // The window search ran: the first gap with points has its HV axis end below
  // 2500 V, or the user called the scan argon; Resistance.csv is written.
  bool argon = false;
  std::vector<GapResult> gaps;  // in gap-list order
  ScanReading reading;        // the measurements as read (for Entries.csv)
};

// Analyses the scan text `content` of `file`: lists its gaps, reads its lines,
// collects each gap's points and, for an argon scan, searches each gap with
// rising HV and enough points, names each gap's figure and fills its row of the
// results table. A gap's area comes from settings.areas (exact name), else from
// the type word in its name, else it is 1 cm^2. Pure: prints, draws and writes
// nothing.
RunOutcome analyseScan(const std::string& file, const std::string& legendTitle, std::string content,
                       const AnalysisSettings& settings);

// The values of a fitted gap from its resistivity, offset and onset pairs: the
// resistance is resistivity x 0.4 cm / area, the resistance x area resistivity x 0.4 cm.
GapValues gapValues(double area, const std::pair<double, double>& Resistance,
                    const std::pair<double, double>& OffSet, const std::pair<double, double>& Onset);
