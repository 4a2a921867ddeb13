// One run of the analysis: read the scan, analyse it into a RunOutcome, render
// the outcome as console lines, reports and figures.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "tools/RunOutcome.h"
#include "tools/gapohm.h"

namespace {

// ------------------------------------------------------------------- reading

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

// Searches an argon scan's gap, or says why it is not searched.
void analyseGap(GapResult& g, bool everyWindowExact) {
  if (g.noResult != NoResult::None) return;
  if (g.points.notAscendingLine != 0) {
    g.noResult = NoResult::NotAscending;
    return;
  }
  g.search = searchOhmicWindow(g.graph, everyWindowExact);
  g.searched = g.search.searched;
  if (g.searched) {
    g.kneeRun = true;
    g.knee = fitKnee(g.points.hv, g.points.current);
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

std::string GapResult::why() const {
  switch (noResult) {
    case NoResult::None: return "";
    case NoResult::NoMeasurement: return "no usable measurement";
    case NoResult::NotArgon: return "not an argon scan (HV axis ends at or above 2500 V): not searched";
    case NoResult::NotAscending:
      return "HV comes down at line " + std::to_string(points.notAscendingLine) + ": not searched";
    case NoResult::AxisTooHigh: {
      std::ostringstream why;
      why << "HV axis ends at " << graph.xAxis().high << " V (argon scans end below 2500 V): not searched";
      return why.str();
    }
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
    if (run.argon) analyseGap(g, settings.everyWindowExact);
  }
  nameFigures(run.gaps);
  fillResults(run, settings);
  return run;
}

namespace {

// ------------------------------------------------------------------ rendering

// What the reading stage tells: the warnings of lines passed over, a read error,
// and the gaps left without any measurement.
// Lines refused for one cause are named one by one up to this many; the rest counted.
constexpr std::size_t kNotesShown = 5;

// What to do when every line of a scan is refused for the same cause.
std::string adviceFor(const std::string& kind) {
  if (kind == kSemicolon) {
    return "export the scan with ',' as separator and '.' as decimal point";
  }
  if (kind == kTooFewFields) {
    return "each line needs gap name, effective HV, applied HV, current and pressure, "
           "separated by commas";
  }
  if (kind == kNotANumber) {
    return "HV, current and pressure must be decimal numbers with '.' as decimal point";
  }
  return "check that the file is an HV scan of gas gaps";
}

// The notes of refused lines, at most kNotesShown of each kind, then a count.
void logNotes(const RunOutcome& run, tk::Console& console) {
  std::map<std::string, std::size_t> seen;
  for (const LineNote& note : run.notes) {
    if (!note.kind.empty() && ++seen[note.kind] > kNotesShown) continue;
    console.warning(run.file + ":" + std::to_string(note.line) + ": " + note.reason);
  }
  for (const auto& [kind, count] : seen) {
    if (count <= kNotesShown) continue;
    console.warning(run.file + ": " + std::to_string(count - kNotesShown) + " more lines skipped (" +
                    kind + ")");
  }
  const bool oneCause = seen.size() == 1 && run.usedLines == 0 &&
                        seen.begin()->second == run.notes.size();
  if (oneCause) {
    console.warning(run.file + ": every line was skipped for " + seen.begin()->first + ": " +
                    adviceFor(seen.begin()->first));
  }
}

// What the reading stage tells: the warnings of lines passed over, a read error,
// and the gaps left without any measurement.
void logReading(const RunOutcome& run, tk::Console& console) {
  if (run.crOnly) console.warning(run.file + ": lines end in carriage returns alone; read as line ends");
  console.out << run.listing << std::flush;
  logNotes(run, console);
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
  Currents.reserve(graphs.size());
  for (tk::Graph& g : graphs) Currents.push_back(&g);
  DrawingVectorTogether(Currents, profiles, run.gapList, run.maxcurrentindex, run.file,
                        run.legendTitle, figures);
}

// The warning that tells why a searched gap has no line in Resistance.csv.
void warnNoResult(const RunOutcome& run, const GapResult& g, tk::Console& console) {
  const std::string gap = run.file + ": gap \"" + excerpt(g.name) + "\": ";
  if (g.noResult == NoResult::AxisTooHigh) {
    std::ostringstream message;
    message << gap << "its HV axis ends at " << g.graph.xAxis().high
            << " V, at or above the 2500 V limit of the ohmic-region search: not searched; it "
               "has no line in Resistance.csv";
    console.warning(message.str());
  } else if (g.noResult == NoResult::TooFewPoints) {
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
  if (g.fitted() && g.areaSource == "unknown") {
    console.warning(gap + "its area is not known (no type word in its name, not in an areas "
                          "file): its resistance is given for 1 cm2; give its area with --areas FILE");
  }
}

// The knee fit's verbose lines: start values, polish, outlier pass, acceptance tests.
void logKneeFit(const GapResult& g, std::ostream& log) {
  const std::string prefix = "INFO :: KneeFit : fitKnee : " + escapeControls(g.name) + " : ";
  for (const std::string& line : g.knee.trace) log << prefix << line << std::endl;
  log << prefix << "verdict    : " << g.knee.reason << std::endl;
}

void warnRenamedFigure(const std::string& gap, const GapResult& g, const std::string& extension,
                       tk::Console& console) {
  if (!g.figureTakenBy) return;
  const std::string& owner = *g.figureTakenBy;
  console.warning(gap + "its figure would be " + excerpt(safeFileName(g.name) + extension) + ", as that of " +
                  (owner.empty() ? std::string("the combined figure") : "gap \"" + excerpt(owner) + "\"") +
                  "; it is written as " + excerpt(g.figureBase + extension));
}

// The per-gap figures and lines of an argon scan, and Resistance.csv after them.
void renderSearches(const RunOutcome& run, const RunOptions& options, const FigureContext& figures) {
  tk::Console& console = figures.console;
  ResistanceReport report;
  report.Open();
  for (const GapResult& g : run.gaps) {
    if (g.noResult == NoResult::NoMeasurement) continue;
    const std::string gap = run.file + ": gap \"" + excerpt(g.name) + "\": ";
    if (g.noResult == NoResult::NotAscending) {
      console.warning(gap + "not searched (its HV comes down at line " +
                      std::to_string(g.points.notAscendingLine) + "); it has no line in Resistance.csv");
    }
    warnRenamedFigure(gap, g, options.extension, console);
    plotprofile profile = g.profile;
    profile.fileBase = g.figureBase;
    drawGapFigure(g.graph, profile, g.search, run.file, options.verbose, figures,
                  g.kneeRun ? &g.knee : nullptr, g.why());
    if (options.verbose && g.kneeRun) logKneeFit(g, console.out);
    warnNoResult(run, g, console);
    if (g.fitted()) report.AddGap(g.name, g.values);
  }
  report.Save(getPathToSave(run.file, figures.place, console) + "Resistance.csv", console);
}


AnalysisSettings analysisSettings(const RunOptions& options) {
  return {options.areas, options.verbose, options.temperature, options.extension};
}

bool homeKnown(const OutputPlace& place, tk::Console& console) {
  if (place.outputDir || place.env("HOME")) return true;
  // Without a home directory the dated layout would land at the file-system root.
  std::string home;
  GetEnviroment(home, "HOME", place.env, console.out);
  console.error("HOME is not set: no output directory; give one with --output-dir");
  return false;
}

// Reads the scan's text, refusing what is no text file; false with a message.
bool readScanText(const std::string& file, std::string& content, const RunOptions& options,
                  tk::Console& console) {
  if (!readWholeFile(file, content, console)) {
    console.out << analyseScan(file, "", "", AnalysisSettings{}).listing << std::flush;
    if (options.defaultScan) {
      console.err << "usage: gapohm [options] SCAN.csv [legend title]   (gapohm --help tells more)"
                  << std::endl;
    }
    return false;
  }
  if (looksBinary(content)) {
    console.error(file + ": not a text file (binary bytes at its start): not a scan");
    return false;
  }
  return true;
}

// Says once why a standard scan is not searched and has no Resistance.csv.
void tellNotArgon(const RunOutcome& run, tk::Console& console) {
  for (const GapResult& g : run.gaps) {
    if (g.graph.GetN() == 0) continue;
    console.out << "gapohm: " << run.file << ": not an argon scan: the HV axis of its first gap, \""
                << excerpt(g.name) << "\", ends at " << g.graph.xAxis().high
                << " V, not below the 2500 V limit of the ohmic-region search; no gap is searched "
                   "and no Resistance.csv is written"
                << std::endl;
    return;
  }
}

// The files this run writes into its output directory (figures, reports).
std::set<std::string> filesOfRun(const RunOutcome& run, const RunOptions& options) {
  std::set<std::string> mine{getName() + options.extension, "Resistance.csv", "Entries.csv",
                             "results.csv", "results.tex"};
  if (!run.argon) mine.erase("Resistance.csv");
  if (!options.entries) mine.erase("Entries.csv");
  for (const GapResult& g : run.gaps) {
    if (g.figureBase.empty()) continue;
    mine.insert(g.figureBase + options.extension);
    for (const char* diagnostic : {"_ChiS", "_NDf", "_GoodNessOfFitH"}) {
      mine.insert(g.figureBase + diagnostic + options.extension);
    }
  }
  return mine;
}

// Outputs of gapohm runs found in the run's directory before it writes anything.
std::set<std::string> earlierOutputs(const RunOutcome& run, const OutputPlace& place) {
  std::set<std::string> found;
  const std::string dir = outputDirectory(run.file, place);
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return found;
  for (const dirent* entry = ::readdir(listing); entry != nullptr; entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    const auto endsWith = [&](const std::string& tail) {
      return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    const bool report = name == "Resistance.csv" || name == "Entries.csv" ||
                        name == "results.csv" || name == "results.tex";
    if (name[0] != '.' && (report || endsWith(".png") || endsWith(".svg") || endsWith(".pdf"))) {
      found.insert(name);
    }
  }
  ::closedir(listing);
  return found;
}

// One warning naming the outputs of earlier runs that this run left in place.
void warnStaleOutputs(const RunOutcome& run, const RunOptions& options, const OutputPlace& place,
                      const std::set<std::string>& before, tk::Console& console) {
  const std::set<std::string> mine = filesOfRun(run, options);
  std::string stale;
  std::size_t count = 0;
  for (const std::string& name : before) {
    if (mine.count(name) != 0) continue;
    if (count++ < 10) stale += (stale.empty() ? "" : ", ") + excerpt(name);
  }
  if (count == 0) return;
  if (count > 10) stale += " and " + std::to_string(count - 10) + " more";
  console.warning(outputDirectory(run.file, place) + " holds outputs of an earlier run that this "
                  "run did not replace (left as they are): " + stale);
}

}  // namespace

int readFiles_KVT(const std::string& file, const std::string& legendtitle,
                  const RunOptions& options, const OutputPlace& place, tk::Console& console,
                  std::vector<ResultsRow>* rows) {
  printINFO(file, console.out);
  std::string content;
  if (!homeKnown(place, console) || !readScanText(file, content, options, console)) return 1;
  const RunOutcome run = analyseScan(file, legendtitle, std::move(content), analysisSettings(options));
  logReading(run, console);
  if (run.usedLines == 0) {
    console.error(file + ": no measurement lines");
    return 1;
  }
  warnEmptyGaps(run, console);
  const std::set<std::string> before = earlierOutputs(run, place);
  const FigureContext figures{place, console, options.extension, options.annotate};
  drawCombinedFigure(run, figures);
  if (options.entries) writeEntries(run, place, console);
  if (run.argon) renderSearches(run, options, figures);
  if (!run.argon) tellNotArgon(run, console);
  const std::vector<ResultsRow> results = resultsRows(run);
  writeResults(results, run.argon, file, place, console);
  warnStaleOutputs(run, options, place, before, console);
  if (rows != nullptr) rows->insert(rows->end(), results.begin(), results.end());
  console.out << "gapohm: outputs in " << outputDirectory(file, place) << std::endl;
  return console.failed() ? 1 : 0;
}
