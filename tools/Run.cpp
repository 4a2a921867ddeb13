// One run of the analysis: read the scan, analyse it into a RunOutcome, render
// the outcome as console lines, reports and figures.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/RunOutcome.h"
#include "tools/gapohm.h"

namespace {

// ------------------------------------------------------------------- reading

// Reads the whole file into `content`; false with a message when it cannot.
bool readWholeFile(const std::string& file, std::string& content, tk::Console& console) {
  struct stat info {};
  const bool known = stat(file.c_str(), &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    console.error("cannot read scan file " + file + ": it is a directory");
    return false;
  }
  // A device such as /dev/zero never ends; a pipe does, and is read once.
  if (known && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
    console.error("cannot read scan file " + file + ": it is a device");
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    console.error("cannot open scan file " + file + ": " + std::strerror(errno));
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    console.error("cannot read scan file " + file + ": read error");
    return false;
  }
  content = buffer.str();
  return true;
}

// ------------------------------------------------------------------- analysis

std::vector<LineNote> mergeNotes(const std::vector<LineNote>& a, const std::vector<LineNote>& b) {
  std::vector<LineNote> all;
  std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(all),
             [](const LineNote& x, const LineNote& y) { return x.line < y.line; });
  return all;
}

// The first gap that holds points tells the scan's kind.
bool isArgonScan(const std::vector<GapResult>& gaps) {
  for (const GapResult& g : gaps) {
    if (g.graph.GetN() > 0) return g.graph.xAxis().high < kArgonScanLimit;
  }
  return false;
}

GapResult gapFrom(const std::string& name, int position, GapPoints points) {
  GapResult g;
  g.name = name;
  g.profile.chambername = name;
  g.profile.color = getcolor(name, position);
  g.profile.marker = getmarker(name, position);
  g.area = getarea(name);
  g.areaSource = g.area == 1.0 ? "unknown" : "type word";
  for (std::size_t p = 0; p < points.hv.size(); ++p) g.graph.AddPoint(points.hv[p], points.current[p]);
  g.points = std::move(points);
  if (g.graph.GetN() == 0) g.noResult = NoResult::NoMeasurement;
  return g;
}

// Searches an argon scan's gap, or says why it is not searched.
void analyseGap(GapResult& g) {
  if (g.noResult != NoResult::None) return;
  if (g.points.notAscendingLine != 0) {
    g.noResult = NoResult::NotAscending;
    return;
  }
  g.searched = true;
  g.search = searchOhmicWindow(g.graph);
  if (g.search.statFit) {
    g.values = gapValues(g.area, g.search.resistivity, g.search.offset, g.search.onset);
  } else {
    g.noResult = g.graph.GetN() < kFewestSearchPoints ? NoResult::TooFewPoints
                                                      : NoResult::NoWindowPassed;
  }
}

}  // namespace

std::string GapResult::why() const {
  switch (noResult) {
    case NoResult::None: return "";
    case NoResult::NoMeasurement: return "no usable measurement";
    case NoResult::NotArgon: return "not an argon scan (HV axis ends at or above 2500 V): not searched";
    case NoResult::NotAscending:
      return "HV comes down at line " + std::to_string(points.notAscendingLine) + ": not searched";
    case NoResult::TooFewPoints:
      return "only " + std::to_string(graph.GetN()) + " points (the search needs " +
             std::to_string(kFewestSearchPoints) + ")";
    case NoResult::NoWindowPassed: return "no ohmic region found";
  }
  return "";
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

RunOutcome analyseScan(const std::string& file, const std::string& legendTitle,
                       std::string content) {
  RunOutcome run;
  run.file = file;
  run.legendTitle = legendTitle;
  if (content.find('\n') == std::string::npos && content.find('\r') != std::string::npos) {
    // Saved with carriage returns alone (old Mac spreadsheets): one line otherwise.
    std::replace(content.begin(), content.end(), '\r', '\n');
    run.crOnly = true;
  }
  {
    std::istringstream scan(content);
    std::ostringstream listing;
    getChambers(scan, run.gapList, listing);
    run.listing = listing.str();
  }
  std::istringstream scan(content);
  run.reading = readScan(scan);
  run.readError = run.reading.readError;
  CollectedPoints points = collectPoints(run.reading.measurements, run.gapList);
  run.notes = mergeNotes(run.reading.refused, points.notes);
  run.usedLines = points.usedLines;
  run.maxcurrentindex = points.maxcurrentindex;
  for (std::size_t k = 0; k < run.gapList.size(); ++k) {
    run.gaps.push_back(gapFrom(run.gapList[k].first, static_cast<int>(k), std::move(points.gaps[k])));
  }
  run.argon = isArgonScan(run.gaps);
  for (GapResult& g : run.gaps) {
    if (!run.argon && g.noResult == NoResult::None) g.noResult = NoResult::NotArgon;
    if (run.argon) analyseGap(g);
  }
  return run;
}

namespace {

// ------------------------------------------------------------------ rendering

// What the reading stage tells: the warnings of lines passed over, a read error,
// and the gaps left without any measurement.
void logReading(const RunOutcome& run, tk::Console& console) {
  if (run.crOnly) console.warning(run.file + ": lines end in carriage returns alone; read as line ends");
  console.out << run.listing << std::flush;
  for (const LineNote& note : run.notes) {
    console.warning(run.file + ":" + std::to_string(note.line) + ": " + note.reason);
  }
  if (run.readError) {
    console.error(run.file + ": read error after line " + std::to_string(run.reading.lines));
  }
}

void warnEmptyGaps(const RunOutcome& run, tk::Console& console) {
  for (const GapResult& g : run.gaps) {
    if (g.noResult != NoResult::NoMeasurement) continue;
    console.warning(run.file + ": gap \"" + excerpt(g.name) +
                    "\" has no usable measurement; it is not drawn or searched");
  }
}

void drawCombinedFigure(const RunOutcome& run, const FigureContext& figures) {
  // The combined figure draws the graphs as they are after it; copies keep the outcome as it is.
  std::vector<tk::Graph> graphs;
  std::vector<plotprofile> profiles;
  for (const GapResult& g : run.gaps) {
    graphs.push_back(g.graph);
    profiles.push_back(g.profile);
  }
  std::vector<tk::Graph*> Currents;
  for (tk::Graph& g : graphs) Currents.push_back(&g);
  DrawingVectorTogether(Currents, profiles, run.gapList, run.maxcurrentindex, run.file,
                        run.legendTitle, figures);
}

// The warning that tells why a searched gap has no line in Resistance.csv.
void warnNoResult(const RunOutcome& run, const GapResult& g, tk::Console& console) {
  const std::string gap = run.file + ": gap \"" + excerpt(g.name) + "\": ";
  if (g.noResult == NoResult::TooFewPoints) {
    console.warning(gap + "only " + std::to_string(g.graph.GetN()) +
                    " points, too few for the ohmic-region search (it needs " +
                    std::to_string(kFewestSearchPoints) + "); it has no line in Resistance.csv");
  } else if (g.noResult == NoResult::NoWindowPassed) {
    console.warning(gap + "no ohmic region found (no window from point 16 to the last point "
                          "passed the line-fit test); it has no line in Resistance.csv");
  } else if (g.fitted() && !(g.search.resistivity.first > 0.0)) {
    // A current that falls as the HV rises (reversed polarity, a drifting
    // offset) gives a negative resistivity: reported as fitted, its magnitude
    // may still be the gap's, but never without a word.
    std::ostringstream message;
    message << gap << "the ohmic-region fit gives a negative resistivity, "
            << g.search.resistivity.first
            << " Ohm*cm (the current falls as the HV rises: reversed polarity?)";
    console.warning(message.str());
  }
}

// Gap names that differ only in characters unsafe in file names ("a/b" and
// "a_b"), or a gap named like the combined figure, share one figure file.
void warnFigureClash(const std::string& gap, const std::string& name,
                     std::map<std::string, std::string>& figureOwner, const std::string& extension,
                     tk::Console& console) {
  const std::string figure = safeFileName(name) + extension;
  const auto [owner, mine] = figureOwner.emplace(figure, name);
  if (mine) return;
  console.warning(gap + "its figure " + excerpt(figure) + " replaces the one of " +
                  (owner->second.empty() ? std::string("the combined figure")
                                         : "gap \"" + excerpt(owner->second) + "\""));
  owner->second = name;
}

// The per-gap figures and lines of an argon scan, and Resistance.csv after them.
void renderSearches(const RunOutcome& run, const RunOptions& options, const FigureContext& figures,
                    tk::FigureQueue& queue) {
  tk::Console& console = figures.console;
  ResistanceReport report;
  report.Open();
  std::map<std::string, std::string> figureOwner{{getName() + options.extension, ""}};
  for (const GapResult& g : run.gaps) {
    if (g.noResult == NoResult::NoMeasurement) continue;
    const std::string gap = run.file + ": gap \"" + excerpt(g.name) + "\": ";
    if (g.noResult == NoResult::NotAscending) {
      console.warning(gap + "not searched (its HV comes down at line " +
                      std::to_string(g.points.notAscendingLine) + "); it has no line in Resistance.csv");
      continue;
    }
    warnFigureClash(gap, g.name, figureOwner, options.extension, console);
    drawGapFigure(g.graph, g.profile, g.search, run.file, options.verbose, figures);
    warnNoResult(run, g, console);
    if (g.fitted()) report.AddGap(g.name, g.values);
  }
  // The figures are written first, as the report always followed them.
  queue.finish();
  report.Save(getPathToSave(run.file, figures.place, console) + "Resistance.csv", console);
}

}  // namespace

std::vector<GapOutcome> gapOutcomes(const RunOutcome& run) {
  std::vector<GapOutcome> outcomes;
  for (const GapResult& g : run.gaps) outcomes.push_back({g.name, g.fitted(), g.values, g.why()});
  return outcomes;
}

int readFiles_KVT(const std::string& file, const std::string& legendtitle,
                  const RunOptions& options, const OutputPlace& place, tk::Console& console,
                  std::vector<GapOutcome>* outcomes) {
  printINFO(file, console.out);
  if (!place.outputDir && !place.env("HOME")) {
    // Without a home directory the dated layout would land at the file-system root.
    std::string home;
    GetEnviroment(home, "HOME", place.env, console.out);
    console.error("HOME is not set: no output directory; give one with --output-dir");
    return 1;
  }
  std::string content;
  if (!readWholeFile(file, content, console)) {
    console.out << analyseScan(file, legendtitle, "").listing << std::flush;
    return 1;
  }
  const RunOutcome run = analyseScan(file, legendtitle, std::move(content));
  logReading(run, console);
  if (run.usedLines == 0) {
    console.error(file + ": no measurement lines");
    return 1;
  }
  warnEmptyGaps(run, console);
  tk::FigureQueue queue(options.jobs, console);
  const FigureContext figures{place, console, options.extension, &queue};
  drawCombinedFigure(run, figures);
  if (options.entries) writeEntries(run, place, console);
  if (run.argon) renderSearches(run, options, figures, queue);
  queue.finish();
  if (outcomes != nullptr) {
    const std::vector<GapOutcome> found = gapOutcomes(run);
    outcomes->insert(outcomes->end(), found.begin(), found.end());
  }
  return console.failed() ? 1 : 0;
}
