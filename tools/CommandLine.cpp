// The command line of gapohm: its options and their help, the checks the parser
// cannot make, the word on options that the chosen mode does not use, and the
// choice between a single run, a batch and a campaign report (gapohmMain).
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairo.h>
#include <gsl/gsl_version.h>
#include <isa-l.h>
#include <plConfig.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "aux/GapAreas.h"
#include "aux/OutputPlaces.h"
#include "aux/ScanDate.h"
#include "aux/ScanInput.h"
#include "tools/Report.h"
#include "tools/Watch.h"
#include "tools/gapohm.h"
#include "toolkit/SafeFile.h"

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

// Reads the --areas file (a regular file of at most 1 MiB: a few lines a gap,
// never a device or a FIFO read without end); false with a usage message on `err`.
bool readAreas(const std::string& path, GapAreas& areas, std::ostream& err) {
  std::string text;
  std::string error;
  if (tk::readRegularFile(path, kLargestAreasFile, true, text, error) != tk::FileRead::ok) {
    error = "cannot read areas file " + escapeControls(path) + ": " + error;
  } else if (parseGapAreas(text, path, areas, error)) {
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

// --version: the program's version and, one a line, those of the libraries it was
// built with (their headers' own macros), so that a figure or a fit that differs
// between two machines can be traced to a library.
std::string versionText() {
  return std::string("gapohm ") + GAPOHM_VERSION + "\nGSL " + GSL_VERSION + "\nPLplot " + PLPLOT_VERSION +
         "\ncairo " + CAIRO_VERSION_STRING + "\nISA-L " + std::to_string(ISAL_MAJOR_VERSION) + "." +
         std::to_string(ISAL_MINOR_VERSION) + "." + std::to_string(ISAL_PATCH_VERSION);
}

// Everything the command line says, as parsed.
struct CommandLine {
  std::vector<std::string> positional;
  std::string outputDir;
  CLI::Option* outputDirOption = nullptr;
  RunOptions options;
  bool quiet = false;
  std::string format = "png";
  int jobs = 0;
  bool batch = false;
  std::string summary;
  std::string areasFile;
  bool report = false;
  std::string limits;
  std::string baseline;  // --baseline: an earlier campaign to compare with
  CLI::Option* baselineOption = nullptr;
  std::string alpha;  // --temperature-coefficient: a number, or "fit" with --report
  CLI::Option* alphaOption = nullptr;
  CLI::Option* referenceOption = nullptr;
  HistoryOptions history;  // what --report makes of temperature and drift
  std::string scanDate;
  CLI::Option* scanDateOption = nullptr;
  bool scanWorker = false;  // a batch's worker: analyses the scans the batch hands it
  bool watch = false;
  WatchSettings watchSettings;
  double maxCurrent = 0.0;
  CLI::Option* maxCurrentOption = nullptr;
};

// The help's usage lines name the program and its positionals as a user types
// them, whatever path it was started by.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: gapohm [OPTIONS] SCAN [TITLE]\n"
           "       gapohm --batch [OPTIONS] SCAN|DIR...\n"
           "       gapohm --report [OPTIONS] RESULTS|DIR...\n"
           "       gapohm --watch [OPTIONS] SCAN [TITLE]\n";
  }
  std::string make_option_name(const CLI::Option* opt, bool positional) const override {
    return positional ? "SCAN [TITLE]" : CLI::Formatter::make_option_name(opt, positional);
  }
  std::string make_option_opts(const CLI::Option* opt) const override {
    return opt->get_positional() ? "" : CLI::Formatter::make_option_opts(opt);
  }
};

// The contract of gapohmMain (tools/gapohm.h), as a user reads it.
constexpr const char* kHelpFooter =
    "Exit status: 0 success; 1 a failed run, a failed scan of a batch or an output that could "
    "not be written; 2 a usage error; 128+N a batch stopped by signal N (SIGINT, SIGTERM).\n"
    "A watch (--watch): that of its final run; 1 its scan truncated, replaced or removed; 128+N stopped by signal N.\n"
    "\n"
    "Examples:\n"
    "  gapohm -o out/run7 scan_run7.csv \"Run 7, argon\"\n"
    "  gapohm --batch -j 2 --annotate -o campaign scans/";

void defineRunOptions(CLI::App& app, CommandLine& c) {
  app.add_option("file_and_title", c.positional,
                 "scan file (default: the historical scan path) and the legend title of the "
                 "combined figure; further arguments are ignored. With --batch: the scans");
  c.outputDirOption = app.add_option("-o,--output-dir", c.outputDir,
                                     "write every output into DIR (created if missing) instead of "
                                     "the dated directory under $HOME/Dropbox")
                          ->type_name("DIR");
  app.add_flag("-q,--quiet", c.quiet,
               "a single run writes only warnings, errors and its closing line \"gapohm: outputs "
               "in DIR\" (a batch writes its progress lines all the same)");
  app.add_flag("-v,--verbose", c.options.verbose,
               "verbose fit lines and the fit-scan diagnostic figures");
  app.add_flag("--annotate", c.options.annotate,
               "draw the results on the figures: fit values or why there are none, the knee-fit "
               "curve, the onsets, the passing window's ends, the scan's name");
  app.add_flag("--entries", c.options.entries, "also write Entries.csv, the measurements per HV step");
  app.add_option("--format", c.format, "figure file format")
      ->check(CLI::IsMember({"png", "svg", "pdf"}))
      ->option_text("png|svg|pdf");
  app.add_option("--areas", c.areasFile,
                 "CSV lines \"gap name,area in cm2\" (# comments): the areas of the resistance "
                 "columns, by exact gap name")
      ->type_name("FILE");
  c.alphaOption = app.add_option("--temperature-coefficient", c.alpha,
                                 "ALPHA per degree C of the gaps' bakelite: results.csv gains the "
                                 "resistivities at the reference temperature, rho exp(ALPHA (T - T0)); "
                                 "with --report: the reference values of the history, or \"fit\": the "
                                 "campaign's own")
                      ->type_name("ALPHA|fit");
  c.referenceOption = app.add_option("--reference-temperature", c.options.temperature.reference,
                                     "T0 in degrees C for --temperature-coefficient (default 20)")
                          ->type_name("T0");
  std::map<std::string, ScanType> types;
  for (const ScanType t : {ScanType::argon, ScanType::standard}) types.emplace(scanTypeWord(t), t);
  app.add_option("--scan-type", c.options.scanType,
                 "analyse every gap as an argon scan (window search, knee fit, Resistance.csv) or as a "
                 "standard one (no fit); default: told by the HV, see the README")
      ->transform(CLI::CheckedTransformer(types))
      ->option_text("argon|standard");
  c.scanDateOption = app.add_option("--scan-date", c.scanDate,
                 "the scans' date, YYYY-MM-DD, for results.csv when a scan's file name holds none "
                 "(default: the day the file was last modified, UTC)")
      ->type_name("DATE");
}

void defineCampaignOptions(CLI::App& app, CommandLine& c) {
  app.add_option("-j,--jobs", c.jobs,
                 "with --batch: scans analysed at once, 1 to 1024 (a single scan's figures are "
                 "painted one after another); default: one per processor")
      ->check(CLI::Range(1, 1024))
      ->option_text("N");
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
  c.baselineOption = app.add_option("--baseline", c.baseline,
                                    "with --report: an earlier campaign (a results.csv, or a directory tree of "
                                    "them) to compare each gap's rho_ref with: baseline.csv and the page's Baseline")
                         ->type_name("PATH");
  app.add_flag("--watch", c.watch,
               "follow SCAN while it is being written: re-analyse what was appended, live.html, alarms; "
               "at the end (see --idle) a plain run on the whole file");
  app.add_option("--interval", c.watchSettings.interval, "with --watch: at most one analysis per SECONDS (default 2)")
      ->type_name("SECONDS");
  app.add_option("--idle", c.watchSettings.idle,
                 "with --watch: end once SCAN has not grown for SECONDS (default 600)")
      ->type_name("SECONDS");
  c.maxCurrentOption = app.add_option("--max-current", c.maxCurrent,
                                      "with --watch: alarm when a gap's current density passes NA_CM2")
                           ->type_name("NA_CM2");
  app.add_option("--jump-sigma", c.watchSettings.alarms.jumpSigma,
                 "with --watch: alarm on a step of a gap's current beyond N robust deviations (default 8)")
      ->type_name("N");
  app.add_option("--max-drift", c.history.maxDriftPercent,
                 "with --report or --batch: a gap whose resistivity drifts by more than PCT % a month "
                 "(and by more than 3 errors) is DRIFT (default 5)")
      ->type_name("PCT");
  // Not for users, not in --help.
  app.add_flag("--scan-worker", c.scanWorker)->group("");
}

int usageError(std::ostream& err, const std::string& message) {
  err << "gapohm: " << message << "\nRun with --help for more information.\n";
  return 2;
}

// The watch's numbers: finite and positive; --watch takes one scan, no batch.
int checkWatch(CommandLine& c, std::ostream& err) {
  const WatchSettings& w = c.watchSettings;
  const bool positive = w.interval > 0 && w.idle > 0 && w.alarms.jumpSigma > 0 && c.maxCurrent >= 0;
  if (!positive || !std::isfinite(w.interval + w.idle + w.alarms.jumpSigma + c.maxCurrent)) {
    return usageError(err, "--interval, --idle and --jump-sigma need positive numbers, --max-current one not negative");
  }
  if (c.maxCurrentOption->count() > 0) c.watchSettings.alarms.maxCurrent = c.maxCurrent;
  if (c.watch && c.batch) return usageError(err, "--watch follows one scan: it does not go with --batch");
  if (c.watch && c.positional.empty()) return usageError(err, "--watch needs the scan file to follow");
  c.watchSettings.terminal = ::isatty(STDOUT_FILENO) == 1;
  return 0;
}

// The temperature coefficient, T0 and the largest drift as the run, the batch
// and the report take them; 0, or 2 with the message written.
int readTemperatureOptions(CommandLine& c, std::ostream& err) {
  double alpha = 0.0;
  const bool given = c.alphaOption->count() > 0;
  c.history.fitAlpha = given && c.alpha == "fit";
  if (c.history.fitAlpha && !c.report) return usageError(err, "--temperature-coefficient fit needs --report");
  if (given && !c.history.fitAlpha && !readWholeNumber(c.alpha, alpha)) {
    return usageError(err, "--temperature-coefficient needs a finite number or \"fit\", not \"" + c.alpha + "\"");
  }
  if (!std::isfinite(c.options.temperature.reference)) {
    return usageError(err, "--reference-temperature needs a finite number");
  }
  if (!std::isfinite(c.history.maxDriftPercent) || !(c.history.maxDriftPercent >= 0.0)) {
    return usageError(err, "--max-drift needs a finite number of percent a month, zero or more");
  }
  if (given && !c.history.fitAlpha) c.options.temperature.coefficient = alpha, c.history.alpha = alpha;
  if (c.referenceOption->count() > 0) c.history.reference = c.options.temperature.reference;
  c.options.maxDriftPercent = c.history.maxDriftPercent;
  return 0;
}

// Checks what the parser cannot and reads the option files; 0 when the run may
// start, else the usage status (2) with the message written.
int checkCommandLine(CommandLine& c, std::ostream& err) {
  c.options.extension = "." + c.format;
  // One worker more than cores: each worker waits on the device for its results
  // files' flushes, and the extra one keeps the cores busy meanwhile (a campaign
  // of 1 000 scans on two cores: 33-39 s with two workers, 30 s with three).
  c.options.jobs = c.jobs > 0 ? c.jobs : availableCores() + 1;
  if (c.outputDirOption->count() > 0 && c.outputDir.empty()) {
    // An empty name would otherwise mean "not given": the dated directory, somewhere else.
    return usageError(err, "--output-dir needs a directory name, not an empty one");
  }
  if (!c.areasFile.empty() && !readAreas(c.areasFile, c.options.areas, err)) return 2;
  c.options.areasFile = c.areasFile;
  if (const int usage = readTemperatureOptions(c, err)) return usage;
  if (c.scanDateOption->count() > 0) {
    c.options.scanDate = isoDate(c.scanDate);
    if (!c.options.scanDate) {
      return usageError(err, "--scan-date \"" + excerpt(c.scanDate) + "\" is not a calendar date YYYY-MM-DD");
    }
  }
  if (c.batch && !c.limits.empty()) {
    c.options.limits = std::make_shared<Limits>();
    if (!loadLimits(c.limits, *c.options.limits, err)) return 2;
  }
  if (c.batch && c.positional.empty()) return usageError(err, "--batch needs at least one scan file or directory");
  return checkWatch(c, err);
}

// One warning per reason naming the options given that the chosen mode does not
// use, each option once (the first reason that fits); the run goes on. A
// batch's worker is not told: its options are the batch's own choice.
void warnUnusedOptions(const CLI::App& app, const CommandLine& c, tk::Console& console) {
  if (c.scanWorker) return;
  struct Rule {
    const char* option;
    bool unused;
    const char* why;
  };
  const char* report = "with --report";
  const Rule rules[] = {
      {"--quiet", c.report, report}, {"--verbose", c.report, report}, {"--annotate", c.report, report},
      {"--entries", c.report, report}, {"--format", c.report, report}, {"--areas", c.report, report},
      {"--scan-type", c.report, report}, {"--scan-date", c.report, report}, {"--watch", c.report, report},
      {"--max-drift", !c.batch && !c.report, "without --batch or --report"},
      {"--quiet", c.batch, "with --batch"}, {"--jobs", !c.batch, "without --batch"},
      {"--summary", !c.batch, "without --batch"},
      {"--limits", !c.batch && !c.report, "without --batch or --report"},
      {"--baseline", !c.report, "without --report"},
      {"--reference-temperature", c.alphaOption->count() == 0, "without --temperature-coefficient"},
      {"--interval", !c.watch, "without --watch"}, {"--idle", !c.watch, "without --watch"},
      {"--max-current", !c.watch, "without --watch"}, {"--jump-sigma", !c.watch, "without --watch"}};
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  std::vector<std::string> named;
  for (const Rule& rule : rules) {
    if (!rule.unused || app.count(rule.option) == 0) continue;
    if (std::count(named.begin(), named.end(), rule.option) > 0) continue;
    named.emplace_back(rule.option);
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == rule.why; });
    if (group == groups.end()) group = groups.insert(groups.end(), {rule.why, {}});
    group->second.emplace_back(rule.option);
  }
  for (const auto& [reason, options] : groups) {
    std::string list = options[0];
    for (std::size_t k = 1; k < options.size(); ++k) list += (k + 1 == options.size() ? " and " : ", ") + options[k];
    console.warning(list + (options.size() == 1 ? " has" : " have") + " no effect " + reason);
  }
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
  if (c.watch) return watchScan(file, legendtitle, c.options, place, c.watchSettings, console);
  return readFiles_KVT(file, legendtitle, c.options, place, console);
}

// What a report of this command is made with: its date, the program's version
// and the command line as typed.
ReportProvenance provenanceOf(int argc, const char* const* argv, const EnvLookup& env, std::time_t now,
                              tk::Console& console) {
  ReportProvenance provenance;
  std::string warning;
  provenance.date = reportDate(env("SOURCE_DATE_EPOCH"), now, warning);
  if (!warning.empty()) console.warning(warning);
  provenance.version = GAPOHM_VERSION;
  provenance.commandLine = shellCommandLine(std::vector<std::string>(argv, argv + argc));
  return provenance;
}

}  // namespace

int gapohmMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const EnvLookup& env, std::time_t now) {
  CLI::App app{"gapohm: current density against pressure-corrected HV of gas gaps; ohmic-region "
               "fits, resistivity and onset of argon scans", "gapohm"};
  app.set_version_flag("--version", versionText(),
                       "print the version and those of GSL, PLplot, cairo and ISA-L it was built with, and exit");
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kHelpFooter);
  // The parser's own messages carry the program's name like all of ours.
  app.failure_message([](const CLI::App* self, const CLI::Error& e) {
    return "gapohm: " + CLI::FailureMessage::simple(self, e);
  });
  CommandLine c;
  defineRunOptions(app, c);
  defineCampaignOptions(app, c);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  // Only a single run writes progress lines to silence: a batch's and a
  // report's lines are their progress and closing lines, kept.
  tk::Console console(out, err, c.quiet && !c.batch && !c.report);
  if (c.report || c.batch) c.options.provenance = provenanceOf(argc, argv, env, now, console);
  if (c.report) {
    if (const int usage = readTemperatureOptions(c, err)) return usage;
    if (!c.batch) warnUnusedOptions(app, c, console);
    const std::optional<std::string> baseline =
        c.baselineOption->count() > 0 ? std::optional<std::string>(c.baseline) : std::nullopt;
    return checkedOutput(reportCommand(c.report, c.batch, c.positional, c.outputDir, c.limits, c.options.provenance,
                                       c.history, baseline, console),
                         out, err);
  }
  if (const int usage = checkCommandLine(c, err)) return usage;
  warnUnusedOptions(app, c, console);
  // A HOME set to nothing names no directory: the dated layout would land at the root.
  const EnvLookup homeAware = [env](const std::string& name) {
    std::optional<std::string> value = env(name);
    if (name == "HOME" && value && value->empty()) return std::optional<std::string>();
    return value;
  };
  OutputPlace place{homeAware, localDate(now), std::nullopt};
  if (!c.outputDir.empty()) place.outputDir = c.outputDir;
  const int status = c.scanWorker ? serveBatchScans(c.options, place, console)
                     : c.batch    ? runBatch(c.positional, c.options, place, c.summary, console)
                                  : runSingle(c, place, console);
  return checkedOutput(status, out, err);
}
