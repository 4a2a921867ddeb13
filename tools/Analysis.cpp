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

// The first gap that holds points tells the scan's kind.
bool isArgonScan(const std::vector<GapResult>& gaps) {
  for (const GapResult& g : gaps) {
    if (g.graph.GetN() > 0) return g.graph.xAxis().high < kArgonScanLimit;
  }
  return false;
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

// Searches an argon scan's gap, or says why it is not searched. With a
// temperature coefficient the knee fit carries each point's temperature.
void analyseGap(GapResult& g, bool everyWindowExact, const TemperatureReference& temperature) {
  if (g.noResult != NoResult::None) return;
  if (g.points.notAscendingLine != 0) {
    g.noResult = NoResult::NotAscending;
    return;
  }
  g.search = searchOhmicWindow(g.graph, everyWindowExact);
  g.searched = g.search.searched;
  if (g.searched) {
    g.kneeRun = true;
    if (temperature.coefficient) {
      const KneeTemperature model{*temperature.coefficient, temperature.reference, g.points.temperature};
      g.knee = fitKnee(g.points.hv, g.points.current, &model);
    } else {
      g.knee = fitKnee(g.points.hv, g.points.current);
    }
  }
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
// The later gap in list order gets "-2" (then "-3", ...). A gap without
// measurements gets no figure and takes no name.
void nameFigures(std::vector<GapResult>& gaps) {
  std::map<std::string, std::string> owners{{getName(), ""}};
  for (GapResult& g : gaps) {
    if (g.noResult == NoResult::NoMeasurement) continue;
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
    const bool drawn = run.argon && !g.figureBase.empty();
    g.result = resultsRowOf(g, run.file, settings.temperature, drawn ? g.figureBase + settings.extension : "");
  }
}

}  // namespace

std::string argonScanLimitText() {
  std::ostringstream text;
  text << kArgonScanLimit << " V";
  return text.str();
}

NoResultText noResultText(const GapResult& g) {
  const std::string noLine = "; it has no line in Resistance.csv";
  std::ostringstream axisEnd;
  axisEnd << g.graph.xAxis().high << " V";
  switch (g.noResult) {
    case NoResult::None: return {"", ""};
    case NoResult::NoMeasurement: return {"no usable measurement", ""};
    case NoResult::NotArgon:
      return {"not an argon scan (HV axis ends at or above " + argonScanLimitText() + "): not searched", ""};
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
  run.argon = isArgonScan(run.gaps);
  for (GapResult& g : run.gaps) {
    if (!run.argon && g.noResult == NoResult::None) g.noResult = NoResult::NotArgon;
    if (run.argon) analyseGap(g, settings.everyWindowExact, settings.temperature);
  }
  nameFigures(run.gaps);
  fillResults(run, settings);
  return run;
}
