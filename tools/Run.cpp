// One run of the program on a scan: read the file, analyse it into a RunOutcome
// (tools/Analysis.cpp), render the outcome as console lines, reports and figures.
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

// Reads the whole file into `content`; what came of it.
tk::Status readWholeFile(const std::string& file, std::string& content) {
  struct stat info {};
  const bool known = stat(file.c_str(), &info) == 0;
  if (known && S_ISDIR(info.st_mode)) return tk::Status::IOError("cannot read scan file " + file + ": it is a directory");
  // A device such as /dev/zero never ends; a pipe does, and is read once.
  if (known && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
    return tk::Status::IOError("cannot read scan file " + file + ": it is a device");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return tk::Status::IOError("cannot open scan file " + file + ": " + std::strerror(errno));
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return tk::Status::IOError("cannot read scan file " + file + ": read error");
  content = buffer.str();
  return tk::Status::OK();
}

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
void logReading(const RunOutcome& run, tk::Console& console, tk::Failures& failures) {
  if (run.crOnly) console.warning(run.file + ": lines end in carriage returns alone; read as line ends");
  console.out << run.listing << std::flush;
  logNotes(run, console);
  if (run.readError) {
    console.error(tk::Status::IOError(run.file + ": read error after line " + std::to_string(run.reading.lines)),
                  failures);
  }
}

// One warning a gap with lines of implausible conditions, naming the first few.
void warnImplausible(const RunOutcome& run, tk::Console& console) {
  for (const GapResult& g : run.gaps) {
    const std::vector<long>& lines = g.points.implausibleLines;
    if (lines.empty()) continue;
    std::string named;
    for (std::size_t k = 0; k < std::min(lines.size(), kNotesShown); ++k) named += (k ? ", " : "") + std::to_string(lines[k]);
    if (lines.size() > kNotesShown) named += " and " + std::to_string(lines.size() - kNotesShown) + " more";
    console.warning(run.file + ": gap \"" + excerpt(g.name) + "\": line" + (lines.size() > 1 ? "s " : " ") + named +
                    ": pressure, temperature or humidity outside 500-1100 mbar, -30-70 C, 0-100 %: kept in the "
                    "figures, Resistance.csv and the window search, left out of the knee fit and the mean conditions");
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
  // A gap whose HV comes down was told about before its figure.
  const std::string warning = noResultText(g).warning;
  if (!warning.empty() && g.noResult != NoResult::NotAscending) {
    console.warning(gap + warning);
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
  // Said once for the run, at its first such gap, naming them (ten at most).
  std::vector<const GapResult*> unknown;
  for (const GapResult& u : run.gaps) if (u.fitted() && u.areaSource == "unknown") unknown.push_back(&u);
  if (unknown.empty() || unknown[0] != &g) return;
  std::string names = "\"" + excerpt(g.name) + "\"";
  for (std::size_t k = 1; k < std::min<std::size_t>(unknown.size(), 10); ++k) names += ", \"" + excerpt(unknown[k]->name) + "\"";
  if (unknown.size() > 10) names += " and " + std::to_string(unknown.size() - 10) + " more";
  console.warning(unknown.size() == 1
                      ? gap + "its area is not known (no type word in its name, not in an areas file): its resistance "
                              "is given for 1 cm2; give its area with --areas FILE"
                      : run.file + ": gaps " + names + ": their areas are not known (no type word in their names, not "
                              "in an areas file): their resistances are given for 1 cm2; give their areas with --areas FILE");
}

// The knee fit's verbose lines: start values, polish, outlier pass, acceptance tests.
void logKneeFit(const GapResult& g, std::ostream& log) {
  const std::string prefix = "INFO :: KneeFit : fitKnee : " + escapeControls(g.name) + " : ";
  for (const std::string& line : g.knee.trace) log << prefix << line << std::endl;
  log << prefix << "verdict    : " << (g.knee.fitted ? kFittedWord : g.knee.reason) << std::endl;
}

void warnRenamedFigure(const std::string& gap, const GapResult& g, const std::string& extension,
                       tk::Console& console) {
  if (!g.figureTakenBy) return;
  const std::string& owner = *g.figureTakenBy;
  console.warning(gap + "its figure would be " + excerpt(safeFileName(g.name) + extension) + ", as that of " +
                  (owner.empty() ? std::string("the combined figure") : "gap \"" + excerpt(owner) + "\"") +
                  "; it is written as " + excerpt(g.figureBase + extension));
}

// The per-gap figures and lines, and, when the window search ran,
// Resistance.csv after them. What each figure says is printed before the next
// line of the run.
void renderSearches(const RunOutcome& run, const RunOptions& options, const FigureContext& figures,
                    tk::Console& console, tk::Failures& failures) {
  ResistanceReport report;
  report.Open();
  for (const GapResult& g : run.gaps) {
    if (!g.drawn()) continue;
    const std::string gap = run.file + ": gap \"" + excerpt(g.name) + "\": ";
    if (g.noResult == NoResult::NotAscending) console.warning(gap + noResultText(g).warning);
    warnRenamedFigure(gap, g, options.extension, console);
    plotprofile profile = g.profile;
    profile.fileBase = g.figureBase;
    drawGapFigure(g.graph, profile, g.search, run.file, options.verbose, figures,
                  g.kneeRun ? &g.knee : nullptr, g.kneeNotRun(), flagWords(g.result.flags));
    console.print(figures.log, failures);
    if (options.verbose && g.kneeRun) logKneeFit(g, console.out);
    if (run.argon) warnNoResult(run, g, console);
    if (g.fitted()) report.AddGap(g.name, g.values);
  }
  if (!run.argon) return;
  const tk::Status saved = report.Save(getPathToSave(run.file, figures.place, console, failures) + "Resistance.csv");
  if (!saved.ok()) console.error(saved, failures);
}


// The day the scan file was last changed, when it can be told.
std::optional<std::time_t> modificationTime(const std::string& file) {
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) return std::nullopt;
  return info.st_mtime;
}

AnalysisSettings analysisSettings(const std::string& file, const RunOptions& options) {
  return {options.areas, options.verbose, options.temperature, options.extension, options.scanType,
          scanDateOf(file, options.scanDate, modificationTime(file))};
}

// Whether the run has a place for its outputs; the HOME log line when it looks.
tk::Status homeKnown(const OutputPlace& place, tk::Console& console) {
  if (place.outputDir || place.env("HOME")) return tk::Status::OK();
  // Without a home directory the dated layout would land at the file-system root.
  std::string home;
  GetEnviroment(home, "HOME", place.env, console.out);
  return tk::Status::InvalidArgument("HOME is not set: no output directory; give one with --output-dir");
}

// Refuses a scan whose text is no text.
tk::Status refuseBinary(const std::string& file, const std::string& content, tk::Console& console,
                        tk::Failures& failures) {
  if (!looksBinary(content)) return tk::Status::OK();
  tk::Status binary = tk::Status::Corruption(file + ": not a text file (binary bytes at its start): not a scan");
  console.error(binary, failures);
  return binary;
}

// Reads the scan's text, refusing what is no text file.
tk::Status readScanText(const std::string& file, std::string& content, const RunOptions& options,
                        tk::Console& console, tk::Failures& failures) {
  tk::Status read = readWholeFile(file, content);
  if (!read.ok()) {
    console.error(read, failures);
    console.out << analyseScan(file, "", "", AnalysisSettings{}).listing << std::flush;
    if (options.defaultScan) {
      console.err << "gapohm: usage: gapohm [OPTIONS] SCAN [TITLE]   (gapohm --help tells more)" << std::endl;
    }
    return read;
  }
  return refuseBinary(file, content, console, failures);
}

// Says once why a standard scan is not searched and has no Resistance.csv, and
// which of its gaps the knee fit takes all the same.
void tellNotArgon(const RunOutcome& run, ScanType type, tk::Console& console) {
  const auto knee = std::count_if(run.gaps.begin(), run.gaps.end(), [](const GapResult& g) { return g.kneeRun; });
  const std::string kneeWords = knee == 0 ? std::string()
                                          : "; the knee fit takes the " + std::to_string(knee) +
                                                " gaps whose highest HV is below " + argonScanLimitText();
  if (type == ScanType::standard) {
    console.out << "gapohm: " << run.file << ": a standard scan (--scan-type standard): no gap is fitted "
                   "and no Resistance.csv is written" << std::endl;
    return;
  }
  for (const GapResult& g : run.gaps) {
    if (g.graph.GetN() == 0) continue;
    console.out << "gapohm: " << escapeControls(run.file) << ": not an argon scan: the HV axis of its first gap, \""
                << excerpt(g.name) << "\", ends at " << g.graph.xAxis().high
                << " V, not below the " << argonScanLimitText() << " limit of the ohmic-region search; no gap is searched "
                   "and no Resistance.csv is written"
                << kneeWords << std::endl;
    return;
  }
}

// The files this run writes into its output directory (figures, reports).
std::set<std::string> filesOfRun(const RunOutcome& run, const RunOptions& options) {
  std::set<std::string> mine{getName() + options.extension, "Resistance.csv", "Entries.csv",
                             "results.csv", "results.tex"};
  if (!run.argon) {
    mine.erase("Resistance.csv");
    mine.erase("results.tex");
  }
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

// The names that results.tex and Resistance.csv show with "[U+XXXX]" in place of
// characters pdflatex cannot set with its default fonts, each said once.
void warnLatexPlaceholders(const RunOutcome& run, tk::Console& console) {
  const std::string shown = " that pdflatex cannot set with its default fonts are shown as [U+XXXX] in results.tex";
  bool inScan = false;
  latexEscape(run.file, &inScan);
  if (inScan) console.warning(run.file + ": characters of the scan's name" + shown);
  for (const GapResult& g : run.gaps) {
    bool inGap = false;
    latexEscape(g.name, &inGap);
    if (inGap) console.warning(run.file + ": gap \"" + excerpt(g.name) + "\": characters of its name" + shown + " and Resistance.csv");
  }
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

namespace {

// The run of one scan: reads, analyses and renders it; every failure is printed
// and added to `failures`, which decide how the run ends.
// `text`: the scan's bytes as already read (the watch mode); null: read from `file`.
void runScan(const std::string& file, const std::string& legendtitle, const RunOptions& options,
             const OutputPlace& place, tk::Console& console, std::vector<ResultsRow>* rows, tk::Failures& failures,
             tk::Easel& easel, std::string* text, RunRecord* record) {
  printINFO(file, console.out);
  std::string content;
  const tk::Status home = homeKnown(place, console);
  if (!home.ok()) return console.error(home, failures);
  if (text != nullptr) {
    content = std::move(*text);
    if (!refuseBinary(file, content, console, failures).ok()) return;
  } else if (!readScanText(file, content, options, console, failures).ok()) {
    return;
  }
  RunOutcome run = analyseScan(file, legendtitle, std::move(content), analysisSettings(file, options));
  if (record != nullptr) record->files = filesOfRun(run, options);
  logReading(run, console, failures);
  if (run.usedLines == 0) return console.error(tk::Status::Corruption(file + ": no measurement lines"), failures);
  warnEmptyGaps(run, console);
  warnImplausible(run, console);
  const std::set<std::string> before = earlierOutputs(run, place);
  tk::Log figureLog;
  const FigureContext figures{place, figureLog, options.extension, options.annotate, &easel};
  drawCombinedFigure(run, figures);
  console.print(figureLog, failures);
  if (options.entries) {
    const tk::Status entries = writeEntries(run, place, console, failures);
    if (!entries.ok()) console.error(entries, failures);
  }
  if (!run.argon) tellNotArgon(run, options.scanType, console);
  renderSearches(run, options, figures, console, failures);
  const std::vector<ResultsRow> results = resultsRows(run);
  const tk::Failures written = writeResults(results, run.argon, file, place);
  for (const tk::Status& failure : written.all()) console.error(failure, failures);
  if (run.argon) warnLatexPlaceholders(run, console);
  warnStaleOutputs(run, options, place, before, console);
  if (rows != nullptr) rows->insert(rows->end(), results.begin(), results.end());
  console.result("gapohm: outputs in " + outputDirectory(file, place));
  if (record != nullptr) record->outcome = std::move(run);
}

}  // namespace

int readFiles_KVT(const std::string& file, const std::string& legendtitle, const RunOptions& options,
                  const OutputPlace& place, tk::Console& console, std::vector<ResultsRow>* rows,
                  tk::Failures* failures, tk::Easel* easel) {
  tk::Failures own;
  tk::Failures& kept = failures != nullptr ? *failures : own;
  tk::Easel ownEasel;
  runScan(file, legendtitle, options, place, console, rows, kept, easel != nullptr ? *easel : ownEasel, nullptr, nullptr);
  return kept.any() ? 1 : 0;
}

int runScanText(const std::string& file, const std::string& legendtitle, std::string text, const RunOptions& options,
                const OutputPlace& place, tk::Console& console, RunRecord& record) {
  tk::Failures failures;
  record = RunRecord{};
  tk::Easel easel;
  runScan(file, legendtitle, options, place, console, nullptr, failures, easel, &text, &record);
  return failures.any() ? 1 : 0;
}
