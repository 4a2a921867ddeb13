// The analysis of one scan as a value: lists its gaps, reads its lines, collects
// each gap's points, searches and fits each gap of an argon scan, names the
// figures and fills every gap's row of the results table. Nothing here prints,
// draws or writes; the run renders what comes out (tools/Run.cpp).
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "tools/RunOutcome.h"
#include "tools/gapohm.h"

namespace {

// The get area of a string that is only ever read (streambuf spells it char*).
struct TextBuffer : std::streambuf {
  explicit TextBuffer(const std::string& text) {
    char* begin = const_cast<char*>(text.data());
    setg(begin, begin, begin + text.size());
  }
};

// Reads a string in place: an istringstream would copy it, and a scan of a
// million lines is some 60 MB of text. The buffer is a base, so it is built
// before the stream that reads it.
class TextStream : private TextBuffer, public std::istream {
 public:
  explicit TextStream(const std::string& text) : TextBuffer(text), std::istream(this) {}
};

// ------------------------------------------------------------------- analysis

// The HV axis end of the first gap that holds points, which tells whether the
// window search runs (NaN without points).
double scanAxisEnd(const std::vector<GapResult>& gaps) {
  for (const GapResult& g : gaps) {
    if (g.graph.GetN() > 0) return g.graph.xAxis().high;
  }
  return std::nan("");
}

bool searchesWindows(double axisEnd, ScanType type) {
  return type == ScanType::argon || (type == ScanType::told && axisEnd < kArgonScanLimit);
}

// The axis of a gap reaches some 10% beyond its highest HV, so an argon scan
// stopped at 2330 V ends its axis above the limit; the knee fit goes by the
// highest HV measured on a plausible line (a shifted pressure column makes the
// corrected HV of its line huge).
double highestHv(const GapPoints& points) {
  double highest = std::nan("");
  for (const std::size_t k : keptIndices(points.hv.size(), points.implausible)) {
    if (!(points.hv[k] <= highest)) highest = points.hv[k];
  }
  return highest;
}

// The knee fit of `points`; with a temperature coefficient each point's
// temperature is in the model.
KneeFit kneeOf(const GapPoints& points, const TemperatureReference& temperature) {
  if (!temperature.coefficient) return fitKnee(points.hv, points.current);
  const KneeTemperature model{*temperature.coefficient, temperature.reference, points.temperature};
  return fitKnee(points.hv, points.current, &model);
}

// The knee fit of a gap with points, whatever order its HV comes in, or why it
// is not run. Lines of implausible conditions take no part.
void fitKneeOf(GapResult& g, ScanType type, const TemperatureReference& temperature) {
  if (g.noResult == NoResult::NoMeasurement) return;
  if (type == ScanType::standard) {
    g.kneeSkip = GapResult::KneeSkip::standardByUser;
    return;
  }
  if (type == ScanType::told && !(highestHv(g.points) < kArgonScanLimit)) {
    g.kneeSkip = GapResult::KneeSkip::highHv;
    return;
  }
  g.kneeRun = true;
  if (g.points.implausible.empty()) {
    g.knee = kneeOf(g.points, temperature);
    return;
  }
  g.knee = kneeOf(g.points.plausible(), temperature);
  // Its indices back into the gap's own points.
  const std::vector<std::size_t> original = keptIndices(g.points.hv.size(), g.points.implausible);
  for (std::size_t& k : g.knee.usedAboveOnset) k = original[k];
}

GapResult gapFrom(const std::string& name, int position, GapPoints points, const GapAreas& areas) {
  GapResult g;
  g.name = name;
  g.profile.chambername = name;
  g.profile.color = getcolor(name, position);
  g.profile.marker = getmarker(name, position);
  const auto given = areas.find(name);
  g.area = given != areas.end() ? given->second : getarea(name);
  g.areaSource = given != areas.end() ? "areas file" : g.area == 1.0 ? "unknown" : "type word";
  for (std::size_t p = 0; p < points.hv.size(); ++p) g.graph.AddPoint(points.hv[p], points.current[p]);
  g.points = std::move(points);
  if (g.graph.GetN() == 0) g.noResult = NoResult::NoMeasurement;
  return g;
}

// Searches an argon scan's gap, or says why it is not searched.
void searchGap(GapResult& g, bool everyWindowExact, bool anyAxis) {
  if (g.noResult != NoResult::None) return;
  if (g.points.notAscendingLine != 0) {
    g.noResult = NoResult::NotAscending;
    return;
  }
  g.search = searchOhmicWindow(g.graph, everyWindowExact, anyAxis);
  g.searched = g.search.searched;
  if (!g.searched) {
    // The scan's kind is told by its first gap; this one's own axis ends higher.
    g.noResult = NoResult::AxisTooHigh;
  } else if (g.search.statFit) {
    g.values = gapValues(g.area, g.search.resistivity, g.search.offset, g.search.onset);
  } else {
    g.noResult = g.graph.GetN() < kFewestSearchPoints ? NoResult::TooFewPoints
                                                      : NoResult::NoWindowPassed;
  }
}

// Gap names that differ only in characters unsafe in file names ("a/b" and
// "a_b"), or a gap named like the combined figure, would share one figure file.
// The later gap in list order gets "-2" (then "-3", ...). A gap gets a figure
// when it has points and either method looked at it.
void nameFigures(RunOutcome& run) {
  std::map<std::string, std::string> owners{{getName(), ""}};
  for (GapResult& g : run.gaps) {
    if (g.noResult == NoResult::NoMeasurement || !(run.argon || g.kneeRun)) continue;
    const std::string wanted = safeFileName(g.name);
    std::string base = wanted;
    for (int n = 2; owners.count(base) != 0; ++n) base = wanted + "-" + std::to_string(n);
    if (base != wanted) g.figureTakenBy = owners.at(wanted);
    g.figureBase = base;
    owners.emplace(base, g.name);
  }
}

// Every gap's row of the results table; a gap has a figure of its own in an argon scan.
void fillResults(RunOutcome& run, const AnalysisSettings& settings) {
  for (GapResult& g : run.gaps) {
    g.result = resultsRowOf(g, run.file, settings.temperature, g.drawn() ? g.figureBase + settings.extension : "");
    if (g.drawn()) g.result.thumbnail = thumbnailName(g.figureBase, settings.extension);
    if (settings.scanDate) {
      g.result.scanDate = settings.scanDate->date;
      g.result.scanDateSource = scanDateSourceWord(settings.scanDate->source);
    }
  }
}

}  // namespace

std::string scanTypeWord(ScanType type) {
  switch (type) {
    case ScanType::told: break;
    case ScanType::argon: return "argon";
    case ScanType::standard: return "standard";
  }
  return "";
}

std::string argonScanLimitText() {
  std::ostringstream text;
  text << kArgonScanLimit << " V";
  return text.str();
}

namespace {

// A HV in whole volts, as the status words give it ("2516 V").
std::string volts(double hv) {
  std::ostringstream text;
  text << std::lround(hv) << " V";
  return text.str();
}

}  // namespace

NoResultText noResultText(const GapResult& g) {
  const std::string noLine = "; it has no line in Resistance.csv";
  std::ostringstream axisEnd;
  axisEnd << g.graph.xAxis().high << " V";
  switch (g.noResult) {
    case NoResult::None: return {"", ""};
    case NoResult::NoMeasurement: return {"no usable measurement", ""};
    case NoResult::NotArgon:
      return {std::string(kWindowNotRun) + ": HV axis ends at " + volts(g.scanAxisEnd) + ", at or above " +
                  argonScanLimitText() + "; highest HV " + volts(highestHv(g.points)),
              ""};
    case NoResult::StandardByUser: return {std::string(kWindowNotRun) + ": --scan-type standard", ""};
    case NoResult::NotAscending: {
      const std::string line = std::to_string(g.points.notAscendingLine);
      return {"HV comes down at line " + line + ": not searched",
              "not searched (its HV comes down at line " + line + ")" + noLine};
    }
    case NoResult::AxisTooHigh:
      return {"HV axis ends at " + axisEnd.str() + " (argon scans end below " + argonScanLimitText() + "): not searched",
              "its HV axis ends at " + axisEnd.str() + ", at or above the " + argonScanLimitText() +
                  " limit of the ohmic-region search: not searched" + noLine};
    case NoResult::TooFewPoints: {
      const std::string points = std::to_string(g.graph.GetN()), needs = std::to_string(kFewestSearchPoints);
      return {"only " + points + " points (the search needs " + needs + ")",
              "only " + points + " points, too few for the ohmic-region search (it needs " + needs + ")" + noLine};
    }
    case NoResult::NoWindowPassed:
      return {"no ohmic region found", "no ohmic region found (no window from point " +
                                           std::to_string(kFirstWindowPoint + 1) +
                                           " to the last point passed the line-fit test)" + noLine};
  }
  return {"", ""};
}

std::string GapResult::why() const { return noResultText(*this).status; }

std::string GapResult::kneeNotRun() const {
  switch (kneeSkip) {
    case KneeSkip::noPoints: break;
    case KneeSkip::highHv:
      return std::string(kKneeNotRun) + ": highest HV " + volts(highestHv(points)) + ", at or above " + argonScanLimitText();
    case KneeSkip::standardByUser: return std::string(kKneeNotRun) + ": --scan-type standard";
  }
  return noResultText(*this).status;
}

GapValues gapValues(double area, const std::pair<double, double>& Resistance,
                    const std::pair<double, double>& OffSet, const std::pair<double, double>& Onset) {
  GapValues v;
  v.resistivity = Resistance.first;
  v.resistivityError = Resistance.second;
  v.resistance = Resistance.first * kGapLength / area;
  v.resistanceError = Resistance.second * std::fabs(kGapLength / area);
  v.resistanceArea = Resistance.first * kGapLength;
  v.resistanceAreaError = Resistance.second * kGapLength;
  v.offset = OffSet.first;
  v.offsetError = OffSet.second;
  v.onset = Onset.first;
  v.onsetError = Onset.second;
  return v;
}

RunOutcome analyseScan(const std::string& file, const std::string& legendTitle, std::string content,
                       const AnalysisSettings& settings) {
  RunOutcome run;
  run.file = file;
  run.legendTitle = legendTitle;
  if (content.find('\n') == std::string::npos && content.find('\r') != std::string::npos) {
    // Saved with carriage returns alone (old Mac spreadsheets): one line otherwise.
    std::replace(content.begin(), content.end(), '\r', '\n');
    run.crOnly = true;
  }
  {
    TextStream scan(content);
    std::ostringstream listing;
    getChambers(scan, run.gapList, listing);
    run.listing = listing.str();
  }
  {
    TextStream scan(content);
    run.reading = readScan(scan);
  }
  std::string().swap(content);  // the search that follows needs no text
  // Kept for Entries.csv; without the slack of its growth (a quarter, on average).
  run.reading.measurements.shrink_to_fit();
  run.readError = run.reading.readError;
  CollectedPoints points = collectPoints(run.reading.measurements, run.gapList);
  run.notes = notesInFileOrder(run.reading.refused, points.notes);
  run.usedLines = points.usedLines;
  run.maxcurrentindex = points.maxcurrentindex;
  for (std::size_t k = 0; k < run.gapList.size(); ++k) {
    run.gaps.push_back(
        gapFrom(run.gapList[k].first, static_cast<int>(k), std::move(points.gaps[k]), settings.areas));
  }
  const double axisEnd = scanAxisEnd(run.gaps);
  run.argon = searchesWindows(axisEnd, settings.scanType);
  for (GapResult& g : run.gaps) {
    if (!run.argon && g.noResult == NoResult::None) {
      g.noResult = settings.scanType == ScanType::standard ? NoResult::StandardByUser : NoResult::NotArgon;
      g.scanAxisEnd = axisEnd;
    }
    if (run.argon) searchGap(g, settings.everyWindowExact, settings.scanType == ScanType::argon);
    fitKneeOf(g, settings.scanType, settings.temperature);
  }
  nameFigures(run);
  fillResults(run, settings);
  return run;
}
