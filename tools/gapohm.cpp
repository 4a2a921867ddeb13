#include "tools/gapohm.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "aux/Drawing.h"
#include "aux/GapAreas.h"
#include "aux/GapRules.h"
#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "tools/Report.h"

namespace {

// The number of processors this process may run on (at least 1): --batch's
// default number of scans analysed side by side.
int availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ------------------------------------------------------------------ catalogue

struct CatalogueStyle {
  int color;
  int marker;
};
// Colour tells the chamber, marker the gap type (bottom 8, top-narrow 33, top-wide 22).
constexpr CatalogueStyle kCatalogueStyles[] = {{3, 8}, {7, 8},  {4, 8},  {4, 33},
                                               {4, 22}, {2, 8}, {2, 22}, {2, 33}};

// Looks up a catalogued style field; the last catalogued name the gap name
// contains decides.
int catalogueStyle(const std::string& chambername, int fallback, int CatalogueStyle::*field) {
  std::vector<std::string> chambersname;
  init_chambersnames(chambersname);
  int value = fallback;
  for (std::size_t k = 0; k < chambersname.size(); ++k) {
    if (contains(chambername, chambersname[k])) value = kCatalogueStyles[k].*field;
  }
  return value;
}

// Index of each gap name, for matching a line to its own gap only.
std::map<std::string, int> gapIndexByName(const ChamberIndexList& ChamberIndex) {
  std::map<std::string, int> index;
  for (const auto& [name, k] : ChamberIndex) index.emplace(name, k);
  return index;
}

// The Entries.csv text from the measurements of a scan.
std::string entriesText(const std::vector<Measurement>& measurements,
                        const ChamberIndexList& ChamberIndex);

// The run's status once its standard output is flushed: a line that could not be
// written (a closed pipe, a full device) fails the run, said once; the files
// the run wrote are not touched by it.
int checkedOutput(int status, std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return status;
  err << "gapohm: error: standard output could not be written (closed, or its device is full): "
         "its lines are lost; the files written are complete" << std::endl;
  return status == 0 ? 1 : status;
}

std::ostream& printPair(std::ostream& out, double value, double error) {
  return out << value << " \\pm " << error;
}

}  // namespace

// ==================================================================== catalogue

void init_chambersnames(std::vector<std::string>& chambersname) {
  chambersname = {"KODEL-HXD-RE4-3-B002", "KODEL-HXD-RE4-3-B009", "RE3-PK-154-BOTTOM",
                  "RE3-PK-154-TOPNARROW", "RE3-PK-154-TOPWIDE",   "RE3-PK-065-BOTTOM",
                  "RE3-PK-065-TOPWIDE",   "RE3-PK-065-TOPNARROW"};
}

double getarea(const std::string& chambername) { return gapTypeArea(gapTypeOf(chambername)); }

double getareafactor(const std::string& chambername) {
  const GapType type = gapTypeOf(chambername, BottomWords::withUnderscoreBot);
  return type == GapType::unknown ? 1.0 : 1000.0 / gapTypeArea(type);
}

int getcolor(const std::string& chambername, Int_t i) {
  return catalogueStyle(chambername, i + 1, &CatalogueStyle::color);
}

int getmarker(const std::string& chambername, Int_t i) {
  return catalogueStyle(chambername, i + 19, &CatalogueStyle::marker);
}

void init_plotprofile(std::vector<plotprofile>& plottingprofile, ChamberIndexList ChamberIndex) {
  for (std::size_t i = 0; i < ChamberIndex.size(); ++i) {
    plotprofile profile;
    profile.chambername = ChamberIndex[i].first;
    profile.color = getcolor(profile.chambername, static_cast<Int_t>(i));
    profile.marker = getmarker(profile.chambername, static_cast<Int_t>(i));
    plottingprofile.push_back(profile);
  }
}

// =================================================================== run driver

void printINFO(const std::string& filename, std::ostream& out) {
  out << "INFO :: gapohm : printINFO " << std::string(29, '#') << std::endl;
  out << "INFO :: processing files : " << std::endl;
  out << "INFO :: \t " << filename << std::endl;
  out << "INFO :: " << std::string(56, '#') << std::endl;
}

ScanPoints readScanPoints(std::istream& scan, const std::string& file,
                          const ChamberIndexList& ChamberIndex, tk::Console& console) {
  const ScanReading reading = readScan(scan);
  const CollectedPoints collected = collectPoints(reading.measurements, ChamberIndex);
  for (const LineNote& note : notesInFileOrder(reading.refused, collected.notes)) {
    console.warning(file + ":" + std::to_string(note.line) + ": " + note.reason);
  }
  if (reading.readError) console.error(file + ": read error after line " + std::to_string(reading.lines));
  ScanPoints points;
  points.maxcurrentindex = collected.maxcurrentindex;
  points.usedLines = collected.usedLines;
  for (const GapPoints& gap : collected.gaps) {
    points.graphs.emplace_back();
    for (std::size_t p = 0; p < gap.hv.size(); ++p) points.graphs.back().AddPoint(gap.hv[p], gap.current[p]);
    points.notAscendingLine.push_back(gap.notAscendingLine);
  }
  return points;
}

namespace {

// Reads the --areas file; false with a usage message on `err`.
bool readAreas(const std::string& path, GapAreas& areas, std::ostream& err) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  std::string error;
  if (!in || in.bad()) {
    error = "cannot read areas file " + path + ": " + std::strerror(errno);
  } else if (parseGapAreas(text.str(), path, areas, error)) {
    return true;
  }
  err << "gapohm: " << error << "\nRun with --help for more information.\n";
  return false;
}

bool isExistingCsv(const std::string& path) {
  struct stat info {};
  const bool csv = path.size() > 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
  return csv && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A single run takes one scan and a legend title: a second scan is a mistake
// that would otherwise become a title; anything further is ignored with a word.
bool checkPositionals(const std::vector<std::string>& positional, std::ostream& err) {
  if (positional.size() > 1 && isExistingCsv(positional[1])) {
    err << "gapohm: " << excerpt(positional[1])
        << " is a second scan file; a run analyses one scan: give several with --batch\n"
           "Run with --help for more information.\n";
    return false;
  }
  if (positional.size() > 2) {
    std::string ignored;
    for (std::size_t k = 2; k < positional.size(); ++k) ignored += " \"" + excerpt(positional[k]) + "\"";
    err << "gapohm: warning: arguments after the legend title are ignored:" << ignored << std::endl;
  }
  return true;
}

}  // namespace

namespace {

// Everything the command line says, as parsed.
struct CommandLine {
  std::vector<std::string> positional;
  std::string outputDir;
  CLI::Option* outputDirOption = nullptr;
  RunOptions options;
  std::string format = "png";
  int jobs = 0;
  bool batch = false;
  std::string summary;
  std::string areasFile;
  bool report = false;
  std::string limits;
  double alpha = 0.0;
  CLI::Option* alphaOption = nullptr;
  std::string outcomeFile;  // a batch's scan process: where it tells what it found
};

void defineRunOptions(CLI::App& app, CommandLine& c) {
  app.add_option("file_and_title", c.positional,
                 "scan file (default: the historical scan path) and the legend title of the "
                 "combined figure; further arguments are ignored. With --batch: the scans");
  c.outputDirOption = app.add_option("-o,--output-dir", c.outputDir,
                                     "write every output into DIR (created if missing) instead of "
                                     "the dated directory under $HOME/Dropbox")
                          ->type_name("DIR");
  app.add_flag("-v,--verbose", c.options.verbose,
               "verbose fit lines and the fit-scan diagnostic figures");
  app.add_flag("--annotate", c.options.annotate,
               "draw the results on the figures: fit values or why there are none, the knee-fit "
               "curve, the onsets, the passing window's ends, the scan's name");
  app.add_flag("--entries", c.options.entries, "also write Entries.csv, the measurements per HV step");
  app.add_option("--format", c.format, "figure file format")
      ->check(CLI::IsMember({"png", "svg", "pdf"}))
      ->type_name("png|svg|pdf");
  app.add_option("--areas", c.areasFile,
                 "CSV lines \"gap name,area in cm2\" (# comments): the areas of the resistance "
                 "columns, by exact gap name")
      ->type_name("FILE");
  c.alphaOption = app.add_option("--temperature-coefficient", c.alpha,
                                 "ALPHA per degree C of the gaps' bakelite: results.csv gains the "
                                 "resistivities at the reference temperature, rho exp(ALPHA (T - T0))")
                      ->type_name("ALPHA");
  app.add_option("--reference-temperature", c.options.temperature.reference,
                 "T0 in degrees C for --temperature-coefficient (default 20)")
      ->type_name("T0");
}

void defineCampaignOptions(CLI::App& app, CommandLine& c) {
  app.add_option("-j,--jobs", c.jobs,
                 "with --batch: scans analysed at once (a single scan's figures are painted one "
                 "after another); default: one per processor")
      ->check(CLI::Range(1, 1024))
      ->type_name("N");
  app.add_flag("--batch", c.batch,
               "analyse every scan given (files, or directories of .csv files), each into its "
               "own output directory, and write a summary of every gap");
  app.add_option("--summary", c.summary,
                 "with --batch: the summary file (default: BatchSummary.csv in the output root)")
      ->type_name("FILE");
  app.add_flag("--report", c.report, "write a campaign report (index.html, in DIR or the working "
               "directory) of every results.csv under the paths given");
  app.add_option("--limits", c.limits,
                 "with --report or --batch: verdict limits, CSV gap,quantity,min,max")
      ->type_name("FILE");
  // Not for users, not in --help.
  app.add_option("--outcome-file", c.outcomeFile)->group("");
}

int usageError(std::ostream& err, const std::string& message) {
  err << "gapohm: " << message << "\nRun with --help for more information.\n";
  return 2;
}

// Checks what the parser cannot and reads the option files; 0 when the run may
// start, else the usage status (2) with the message written.
int checkCommandLine(CommandLine& c, std::ostream& err) {
  c.options.extension = "." + c.format;
  c.options.jobs = c.jobs > 0 ? c.jobs : availableCores();
  if (!c.summary.empty() && !c.batch) return usageError(err, "--summary needs --batch");
  if (c.outputDirOption->count() > 0 && c.outputDir.empty()) {
    // An empty name would otherwise mean "not given": the dated directory, somewhere else.
    return usageError(err, "--output-dir needs a directory name, not an empty one");
  }
  if (!c.areasFile.empty() && !readAreas(c.areasFile, c.options.areas, err)) return 2;
  c.options.areasFile = c.areasFile;
  if (!std::isfinite(c.alpha) || !std::isfinite(c.options.temperature.reference)) {
    return usageError(err, "--temperature-coefficient and --reference-temperature need finite numbers");
  }
  if (c.alphaOption->count() > 0) c.options.temperature.coefficient = c.alpha;
  if (c.batch && !c.limits.empty() && !c.report) {
    c.options.limits = std::make_shared<Limits>();
    if (!loadLimits(c.limits, *c.options.limits, err)) return 2;
  }
  if (c.batch && c.positional.empty()) return usageError(err, "--batch needs at least one scan file or directory");
  return 0;
}

// A single scan: the one named, or the historical default path.
int runSingle(CommandLine& c, const OutputPlace& place, tk::Console& console) {
  const std::string file =
      c.positional.empty()
          ? "/Users/ulmena/Dropbox/ZELK/HXD/RPCs/20130620_KVT/LatestScans/hvscan_1_201309301817_HVscan_n.csv"
          : c.positional[0];
  if (!checkPositionals(c.positional, console.err)) return 2;
  c.options.defaultScan = c.positional.empty();
  const std::string legendtitle = c.positional.size() > 1 ? c.positional[1] : "";
  return c.outcomeFile.empty() ? readFiles_KVT(file, legendtitle, c.options, place, console)
                               : runBatchScan(file, c.options, place, c.outcomeFile, console);
}

}  // namespace

int gapohmMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const EnvLookup& env, std::time_t now) {
  CLI::App app{"gapohm: current density against pressure-corrected HV of gas gaps; ohmic-region "
               "fits, resistivity and onset of argon scans"};
  app.set_version_flag("--version", std::string("gapohm ") + GAPOHM_VERSION);
  CommandLine c;
  defineRunOptions(app, c);
  defineCampaignOptions(app, c);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  tk::Console console(out, err);
  if (c.report || (!c.limits.empty() && !c.batch)) {
    return checkedOutput(reportCommand(c.report, c.batch, c.positional, c.outputDir, c.limits, console), out, err);
  }
  if (const int usage = checkCommandLine(c, err)) return usage;
  // A HOME set to nothing names no directory: the dated layout would land at the root.
  const EnvLookup homeAware = [env](const std::string& name) {
    std::optional<std::string> value = env(name);
    if (name == "HOME" && value && value->empty()) return std::optional<std::string>();
    return value;
  };
  OutputPlace place{homeAware, localDate(now), std::nullopt};
  if (!c.outputDir.empty()) place.outputDir = c.outputDir;
  const int status = c.batch ? runBatch(c.positional, c.options, place, c.summary, console)
                             : runSingle(c, place, console);
  return checkedOutput(status, out, err);
}

// ====================================================================== reports

void ResistanceReport::Open() {
  text = " GAP, Resistivity [Ohm*cm] , Resistance [Ohm] , Resistance*Area [Ohm*cm2], Offset "
         "[nA/cm2], Onset [V] \n";
}

void ResistanceReport::AddGap(const std::string& name, const std::pair<double, double>& Resistance,
                              const std::pair<double, double>& OffSet,
                              const std::pair<double, double>& Onset) {
  AddGap(name, gapValues(name, Resistance, OffSet, Onset));
}

void ResistanceReport::AddGap(const std::string& name, const GapValues& v) {
  std::ostringstream line;
  line << name << " , " << v.resistivity << " , " << v.resistance << " , " << v.resistanceArea
       << " , " << v.offset << " , " << v.onset << "\n";
  line << latexEscape(name) << " &, ";
  printPair(line, v.resistivity, v.resistivityError) << " &, ";
  printPair(line, v.resistance, v.resistanceError) << " &,";
  printPair(line, v.resistanceArea, v.resistanceAreaError) << " &, ";
  printPair(line, v.offset, v.offsetError) << " &, ";
  printPair(line, v.onset, v.onsetError) << " \\\\ \n";
  text += line.str();
}

GapValues gapValues(const std::string& name, const std::pair<double, double>& Resistance,
                    const std::pair<double, double>& OffSet, const std::pair<double, double>& Onset) {
  return gapValues(getarea(name), Resistance, OffSet, Onset);
}

bool ResistanceReport::Save(const std::string& path, tk::Console& console) const {
  std::string error;
  if (!writeFileAtomically(path, text, error)) {
    console.error(error);
    return false;
  }
  return true;
}

void CheckingEntries(int ChamberEntryStep1argon, int ChamberEntryStep2argon,
                     int ChamberEntryStep3argon, int ChamberEntryStep1, int ChamberEntryStep2,
                     int ChamberEntryStep3, std::vector<std::string>& status) {
  // Planned measurements per step: argon scans 14, 31, 20; standard scans 8, 1, 11.
  const int counts[] = {ChamberEntryStep1argon, ChamberEntryStep2argon, ChamberEntryStep3argon,
                        ChamberEntryStep1,      ChamberEntryStep2,      ChamberEntryStep3};
  const int planned[] = {14, 31, 20, 8, 1, 11};
  status.clear();
  for (std::size_t k = 0; k < 6; ++k) status.emplace_back(counts[k] == planned[k] ? "OK" : "NOT OK");
}

std::string entriesReport(std::istream& scan, const std::string& file,
                          const ChamberIndexList& ChamberIndex, tk::Console& console) {
  const ScanReading reading = readScan(scan);
  for (const LineNote& note : reading.refused) {
    console.warning(file + ":" + std::to_string(note.line) + ": " + note.reason);
  }
  return entriesText(reading.measurements, ChamberIndex);
}

namespace {

std::string entriesText(const std::vector<Measurement>& measurements,
                        const ChamberIndexList& ChamberIndex) {
  // Step edges, in volts of effective HV as read.
  constexpr double step1 = 8000.0;
  constexpr double step2 = 9000.0;
  constexpr double step1argon = 1700.0;
  constexpr double step2argon = 2000.0;
  struct Counts {
    int standard[3] = {0, 0, 0};
    int argon[3] = {0, 0, 0};
  };
  std::vector<Counts> counts(ChamberIndex.size());
  const std::map<std::string, int> index = gapIndexByName(ChamberIndex);
  for (const Measurement& m : measurements) {
    const auto gap = index.find(m.chambern);
    if (gap == index.end()) continue;
    Counts& c = counts[static_cast<std::size_t>(gap->second)];
    // 8000 V belongs to step 1 and 9000 V to step 2, as the argon edges do.
    ++c.standard[m.HVeff <= step1 ? 0 : m.HVeff <= step2 ? 1 : 2];
    ++c.argon[m.HVeff <= step1argon ? 0 : m.HVeff <= step2argon ? 1 : 2];
  }
  std::ostringstream report;
  report << "Chamber Name, Number of Entries Step1,15/8,Number of Entries Step2,30/2,Number of "
            "Entries Step3,20/10 \n";
  std::vector<std::string> status;
  for (std::size_t p = 0; p < ChamberIndex.size(); ++p) {
    const Counts& c = counts[p];
    CheckingEntries(c.argon[0], c.argon[1], c.argon[2], c.standard[0], c.standard[1],
                    c.standard[2], status);
    const bool argon = c.argon[0] > 2 && c.standard[0] > 8;
    const int* shown = argon ? c.argon : c.standard;
    const std::size_t first = argon ? 0 : 3;
    report << ChamberIndex[p].first;
    for (std::size_t s = 0; s < 3; ++s) report << " , " << shown[s] << " , " << status[first + s];
    report << "\n";
  }
  return report.str();
}

}  // namespace

void writeEntries(const RunOutcome& run, const OutputPlace& place, tk::Console& console) {
  const std::string text = entriesText(run.reading.measurements, run.gapList);
  std::string error;
  if (!writeFileAtomically(getPathToSave(run.file, place, console) + "Entries.csv", text, error)) {
    console.error(error);
  }
}

void ValidatingStepsHVscan(const std::string& file, ChamberIndexList ChamberIndex,
                           const OutputPlace& place, tk::Console& console) {
  // The lines are not warned about here: the run that reads the scan does.
  std::ifstream in(file, std::ios::binary);
  if (!in) console.error("cannot open scan file " + file + ": " + std::strerror(errno));
  RunOutcome run;
  run.file = file;
  run.gapList = std::move(ChamberIndex);
  run.reading = readScan(in);
  writeEntries(run, place, console);
}
