#include "tools/gapohm.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <unordered_map>

#include "aux/Drawing.h"
#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"

namespace {

// ------------------------------------------------------------------ constants

// Pressure correction of the applied HV: HV / ((1 - alpha) + alpha * P / P0), the
// gas gain following the gas density; P0 is the reference pressure of the scans.
constexpr double kPressureWeight = 0.8;      // alpha
constexpr double kReferencePressure = 990.0;  // P0, in the unit of the pressure column
// Gaps whose name holds this word are single-point measurements taken at their
// effective HV, which is stored as read.
constexpr const char* kOnePoint = "OnePoint";
// Start value of the result pairs.
constexpr double kNoResult = 3000.0;

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

// Active areas of the gap types, in cm^2.
constexpr double kBottomArea = 19660.0;
constexpr double kTopNarrowArea = 5550.0;
constexpr double kTopWideArea = 13130.0;

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

// ------------------------------------------------------------------ scan lines

// A field as it is quoted in a message: cut to a readable length, control
// characters written as \xNN so that binary garbage cannot garble the terminal.
std::string excerpt(const std::string& field) {
  constexpr std::size_t kShown = 64;
  std::string out;
  for (std::size_t k = 0; k < field.size() && k < kShown; ++k) {
    const auto c = static_cast<unsigned char>(field[k]);
    if (c < 0x20 || c == 0x7f) {
      static const char* const kHex = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (field.size() > kShown) out += "... (" + std::to_string(field.size()) + " bytes)";
  return out;
}

// One usable measurement line of a scan.
struct Measurement {
  long lineNumber = 0;
  std::string chambern;
  double HVeff = 0.0;
  double HVapp = 0.0;
  double current = 0.0;
  double temp = 0.0;
  double presure = 0.0;
  double humidity = 0.0;
};

// Reads the scan line by line and hands every usable measurement to `use`, in file
// order. Blank lines are passed over silently, a header line after the first
// line, and every line that cannot be a measurement, with a warning naming file
// and line: nothing is carried over from one line to the next.
void forEachMeasurement(std::istream& scan, const std::string& file, tk::Console& console,
                        const std::function<void(const Measurement&)>& use) {
  std::string line;
  long number = 0;
  bool seenContent = false;
  std::size_t previousFields = 0;  // of the last measurement line
  // Every measurement line, by its text: a repeated line is the same reading
  // written twice (a copy-paste, a logger that did not refresh), not a second
  // measurement; it would weigh its point twice in the fits and count twice in
  // the HV steps.
  std::unordered_map<std::string, long> seenLines;
  while (std::getline(scan, line)) {
    ++number;
    if (number == 1) dropByteOrderMark(line);
    // getline stops at the end of the stream without a line feed only on the last line.
    const bool unterminated = scan.eof();
    const std::string where = file + ":" + std::to_string(number) + ": ";
    if (line.empty() || line == "\r") continue;
    const bool firstContent = !seenContent;
    seenContent = true;
    const std::vector<std::string> fields = splitFields(line);
    if (fields[0] == kHeaderName) {
      if (!firstContent) console.warning(where + "header line inside the scan skipped");
      continue;
    }
    if (fields[0].empty()) {
      console.warning(where + "line without a gap name skipped");
      continue;
    }
    if (fields[0].find(';') != std::string::npos) {
      // Spreadsheets set to a decimal comma export "G;1850,0;1846,1;...": split
      // at commas, its pieces would read as numbers of the wrong columns.
      console.warning(where + "fields separated by ';' (a spreadsheet export with decimal "
                              "commas?); line skipped");
      continue;
    }
    if (unterminated && fields.size() < previousFields) {
      // A file cut in the middle of its last line: a number cut short ("985.2"
      // read as "98") would pass for a reading.
      console.warning(where + "the file ends inside this line (" + std::to_string(fields.size()) +
                      " fields, the measurement before has " + std::to_string(previousFields) +
                      "); line skipped");
      continue;
    }
    if (fields.size() < 5) {
      console.warning(where + "line with " + std::to_string(fields.size()) +
                      " fields skipped (needs gap name, HV, applied HV, current, pressure)");
      continue;
    }
    static const char* const kFieldNames[] = {"", "effective HV", "applied HV", "current",
                                              "pressure"};
    double value = 0.0;
    bool ok = true;
    for (std::size_t k = 1; k <= 4 && ok; ++k) {
      if (!readNumber(fields[k], value)) {
        console.warning(where + kFieldNames[k] + " field \"" + excerpt(fields[k]) +
                        "\" is not a finite number; line skipped");
        ok = false;
      }
    }
    if (!ok) continue;
    Measurement m;
    m.lineNumber = number;
    getParameters(line, m.chambern, m.HVeff, m.HVapp, m.current, m.temp, m.presure, m.humidity);
    if (!(m.presure > 0.0)) {
      console.warning(where + "pressure " + excerpt(fields[4]) + " is not positive; line skipped");
      continue;
    }
    const auto [earlier, first] = seenLines.emplace(line, number);
    if (!first) {
      console.warning(where + "line repeats line " + std::to_string(earlier->second) +
                      " exactly; skipped");
      continue;
    }
    previousFields = fields.size();
    use(m);
  }
  if (scan.bad()) console.error(file + ": read error after line " + std::to_string(number));
}

// Index of each gap name, for matching a line to its own gap only.
std::map<std::string, int> gapIndexByName(const ChamberIndexList& ChamberIndex) {
  std::map<std::string, int> index;
  for (const auto& [name, k] : ChamberIndex) index.emplace(name, k);
  return index;
}

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

// Writes Entries.csv for the scan whose text is `content`.
void writeEntries(const std::string& content, const std::string& file,
                  const ChamberIndexList& ChamberIndex, const OutputPlace& place,
                  tk::Console& console) {
  std::istringstream scan(content);
  // Lines were already warned about while the graphs were filled.
  std::ostringstream quiet;
  tk::Console silent(console.out, quiet);
  const std::string text = entriesReport(scan, file, ChamberIndex, silent);
  std::string error;
  if (!writeFileAtomically(getPathToSave(file, place, console) + "Entries.csv", text, error)) {
    console.error(error);
  }
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

double getarea(const std::string& chambername) {
  double area = 1.0;
  if (contains(chambername, "-B") || contains(chambername, "-BOTTOM")) area = kBottomArea;
  if (contains(chambername, "TOPNARROW")) area = kTopNarrowArea;
  if (contains(chambername, "TOPWIDE")) area = kTopWideArea;
  return area;
}

double getareafactor(const std::string& chambername) {
  double factor = 1.0;
  if (contains(chambername, "-B") || contains(chambername, "-BOTTOM") ||
      contains(chambername, "_BOT")) {
    factor = 1000.0 / kBottomArea;
  }
  if (contains(chambername, "TOPNARROW")) factor = 1000.0 / kTopNarrowArea;
  if (contains(chambername, "TOPWIDE")) factor = 1000.0 / kTopWideArea;
  return factor;
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
  ScanPoints points;
  points.graphs.resize(ChamberIndex.size());
  points.notAscendingLine.assign(ChamberIndex.size(), 0);
  std::vector<double> lastHVeff(ChamberIndex.size(), 0.0);
  const std::map<std::string, int> index = gapIndexByName(ChamberIndex);
  double currenttest = 0.0;
  forEachMeasurement(scan, file, console, [&](const Measurement& m) {
    const auto gap = index.find(m.chambern);
    if (gap == index.end()) {
      console.warning(file + ":" + std::to_string(m.lineNumber) + ": gap \"" + excerpt(m.chambern) +
                      "\" is not in the gap list; line skipped");
      return;
    }
    const double alphacorrection =
        (1.0 - kPressureWeight) + kPressureWeight * (m.presure / kReferencePressure);
    const double HV = contains(m.chambern, kOnePoint) ? m.HVeff : m.HVapp / alphacorrection;
    const std::string where = file + ":" + std::to_string(m.lineNumber) + ": ";
    if (!std::isfinite(HV)) {
      std::ostringstream message;
      message << where << "applied HV " << m.HVapp << " at pressure " << m.presure
              << " gives a corrected HV that is not finite; line skipped";
      console.warning(message.str());
      return;
    }
    const int j = gap->second;
    const auto slot = static_cast<std::size_t>(j);
    // A scan steps its effective HV upwards; one that comes down again (a ramp
    // back, or two scans in one file) has no single ohmic region at its end.
    if (points.graphs[slot].GetN() > 0 && m.HVeff < lastHVeff[slot] &&
        points.notAscendingLine[slot] == 0) {
      points.notAscendingLine[slot] = m.lineNumber;
      std::ostringstream message;
      message << where << "gap \"" << excerpt(m.chambern) << "\": effective HV " << m.HVeff
              << " V comes after " << lastHVeff[slot]
              << " V: the scan is not ascending; the gap's ohmic region is not searched";
      console.warning(message.str());
    }
    lastHVeff[slot] = m.HVeff;
    points.graphs[slot].AddPoint(HV, m.current);
    ++points.usedLines;
    if (m.current > currenttest) {
      currenttest = m.current;
      points.maxcurrentindex = j;
    }
  });
  return points;
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
    ChamberIndexList none;
    std::istringstream empty;
    getChambers(empty, none, console.out);
    return 1;
  }
  if (content.find('\n') == std::string::npos && content.find('\r') != std::string::npos) {
    // Saved with carriage returns alone (old Mac spreadsheets): one line otherwise.
    std::replace(content.begin(), content.end(), '\r', '\n');
    console.warning(file + ": lines end in carriage returns alone; read as line ends");
  }

  ChamberIndexList ChamberIndex;
  {
    std::istringstream scan(content);
    getChambers(scan, ChamberIndex, console.out);
  }
  std::istringstream scan(content);
  ScanPoints points = readScanPoints(scan, file, ChamberIndex, console);
  if (points.usedLines == 0) {
    console.error(file + ": no measurement lines");
    return 1;
  }

  std::vector<plotprofile> plottingprofile;
  init_plotprofile(plottingprofile, ChamberIndex);
  std::vector<tk::Graph*> Currents;
  for (tk::Graph& g : points.graphs) Currents.push_back(&g);
  // Every gap's outcome, filled in as the run finds it.
  std::vector<GapOutcome> found(ChamberIndex.size());
  for (std::size_t k = 0; k < ChamberIndex.size(); ++k) {
    found[k].gap = ChamberIndex[k].first;
    if (Currents[k]->GetN() == 0) {
      found[k].why = "no usable measurement";
      console.warning(file + ": gap \"" + excerpt(ChamberIndex[k].first) +
                      "\" has no usable measurement; it is not drawn or searched");
    }
  }

  tk::FigureQueue queue(options.jobs, console);
  FigureContext figures{place, console, options.extension, &queue};
  DrawingVectorTogether(Currents, plottingprofile, ChamberIndex, points.maxcurrentindex, file,
                        legendtitle, figures);

  // Counted from the text already read: a scan given through a pipe cannot be read twice.
  if (options.entries) writeEntries(content, file, ChamberIndex, place, console);

  // The scan's kind is told by the first gap that holds points.
  const tk::Graph* first = nullptr;
  for (const tk::Graph* g : Currents) {
    if (g->GetN() > 0) {
      first = g;
      break;
    }
  }
  const bool argon = first != nullptr && first->xAxis().high < kArgonScanLimit;
  if (!argon) {
    for (GapOutcome& gap : found) {
      if (gap.why.empty()) gap.why = "not an argon scan (HV axis ends at or above 2500 V): not searched";
    }
  }
  if (argon) {
    ResistanceReport report;
    report.Open();
    std::pair<double, double> Resistance{kNoResult, 0.0};
    std::pair<double, double> Onset{kNoResult, 0.0};
    std::pair<double, double> OffSet{kNoResult, 0.0};
    // Gap names that differ only in characters unsafe in file names ("a/b" and
    // "a_b"), or a gap named like the combined figure, share one figure file.
    std::map<std::string, std::string> figureOwner{{getName() + options.extension, ""}};
    for (std::size_t k = 0; k < ChamberIndex.size(); ++k) {
      const std::string& name = ChamberIndex[k].first;
      if (Currents[k]->GetN() == 0) continue;
      const std::string gap = file + ": gap \"" + excerpt(name) + "\": ";
      if (points.notAscendingLine[k] != 0) {
        found[k].why = "HV comes down at line " + std::to_string(points.notAscendingLine[k]) + ": not searched";
        console.warning(gap + "not searched (its HV comes down at line " +
                        std::to_string(points.notAscendingLine[k]) +
                        "); it has no line in Resistance.csv");
        continue;
      }
      const std::string figure = safeFileName(name) + options.extension;
      const auto [owner, mine] = figureOwner.emplace(figure, name);
      if (!mine) {
        console.warning(gap + "its figure " + excerpt(figure) + " replaces the one of " +
                        (owner->second.empty() ? std::string("the combined figure")
                                               : "gap \"" + excerpt(owner->second) + "\""));
        owner->second = name;
      }
      bool StatFit = false;
      PlottingEachAndDoLinearFit(Currents[k], plottingprofile[k], file, Resistance, OffSet, Onset,
                                 StatFit, options.verbose, figures);
      if (StatFit) {
        if (!(Resistance.first > 0.0)) {
          // A current that falls as the HV rises (reversed polarity, a drifting
          // offset) gives a negative resistivity: reported as fitted, its
          // magnitude may still be the gap's, but never without a word.
          std::ostringstream message;
          message << gap << "the ohmic-region fit gives a negative resistivity, "
                  << Resistance.first
                  << " Ohm*cm (the current falls as the HV rises: reversed polarity?)";
          console.warning(message.str());
        }
        report.AddGap(name, Resistance, OffSet, Onset);
        found[k].fitted = true;
        found[k].values = gapValues(name, Resistance, OffSet, Onset);
      } else if (Currents[k]->GetN() < kFewestSearchPoints) {
        found[k].why = "only " + std::to_string(Currents[k]->GetN()) + " points (the search needs " +
                       std::to_string(kFewestSearchPoints) + ")";
        console.warning(gap + "only " + std::to_string(Currents[k]->GetN()) +
                        " points, too few for the ohmic-region search (it needs " +
                        std::to_string(kFewestSearchPoints) + "); it has no line in Resistance.csv");
      } else {
        found[k].why = "no ohmic region found";
        console.warning(gap + "no ohmic region found (no window from point 16 to the last point "
                              "passed the line-fit test); it has no line in Resistance.csv");
      }
    }
    // The figures are written first, as the report always followed them.
    queue.finish();
    report.Save(getPathToSave(file, place, console) + "Resistance.csv", console);
  }
  queue.finish();
  if (outcomes != nullptr) outcomes->insert(outcomes->end(), found.begin(), found.end());
  return console.failed() ? 1 : 0;
}

int gapohmMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const EnvLookup& env, std::time_t now) {
  CLI::App app{"gapohm: current density against pressure-corrected HV of gas gaps; ohmic-region "
               "fits, resistivity and onset of argon scans"};
  app.set_version_flag("--version", std::string("gapohm ") + GAPOHM_VERSION);
  std::vector<std::string> positional;
  std::string outputDir;
  RunOptions options;
  std::string format = "png";
  app.add_option("file_and_title", positional,
                 "scan file (default: the historical scan path) and the legend title of the "
                 "combined figure; further arguments are ignored. With --batch: the scans");
  app.add_option("-o,--output-dir", outputDir,
                 "write every output into DIR (created if missing) instead of the dated "
                 "directory under $HOME/Dropbox")
      ->type_name("DIR");
  app.add_flag("-v,--verbose", options.verbose,
               "verbose fit lines and the fit-scan diagnostic figures");
  app.add_flag("--entries", options.entries, "also write Entries.csv, the measurements per HV step");
  app.add_option("--format", format, "figure file format")
      ->check(CLI::IsMember({"png", "svg", "pdf"}))
      ->type_name("png|svg|pdf");
  int jobs = 0;
  app.add_option("-j,--jobs", jobs,
                 "with --batch: scans analysed at once (a single scan's figures are painted one "
                 "after another); default: one per processor")
      ->check(CLI::Range(1, 1024))
      ->type_name("N");
  bool batch = false;
  app.add_flag("--batch", batch,
               "analyse every scan given (files, or directories of .csv files), each into its "
               "own output directory, and write a summary of every gap");
  std::string summary;
  app.add_option("--summary", summary,
                 "with --batch: the summary file (default: BatchSummary.csv in the output root)")
      ->type_name("FILE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  options.extension = "." + format;
  options.jobs = jobs > 0 ? jobs : tk::availableCores();
  if (!summary.empty() && !batch) {
    err << "gapohm: --summary needs --batch\nRun with --help for more information.\n";
    return 2;
  }

  OutputPlace place{env, localDate(now), std::nullopt};
  if (!outputDir.empty()) place.outputDir = outputDir;
  tk::Console console(out, err);
  if (batch) {
    if (positional.empty()) {
      err << "gapohm: --batch needs at least one scan file or directory\nRun with --help for more information.\n";
      return 2;
    }
    return runBatch(positional, options, place, summary, console);
  }

  const std::string file =
      positional.empty()
          ? "/Users/ulmena/Dropbox/ZELK/HXD/RPCs/20130620_KVT/LatestScans/hvscan_1_201309301817_HVscan_n.csv"
          : positional[0];
  const std::string legendtitle = positional.size() > 1 ? positional[1] : "";
  return readFiles_KVT(file, legendtitle, options, place, console);
}

// ====================================================================== reports

void ResistanceReport::Open() {
  text = " GAP, Resistivity [Ohm*cm] , Resistance [Ohm] , Resistance*Area [Ohm*cm2], Offset "
         "[nA/cm2], Onset [V] \n";
}

void ResistanceReport::AddGap(const std::string& name, const std::pair<double, double>& Resistance,
                              const std::pair<double, double>& OffSet,
                              const std::pair<double, double>& Onset) {
  const GapValues v = gapValues(name, Resistance, OffSet, Onset);
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
  const double A = getarea(name);
  GapValues v;
  v.resistivity = Resistance.first;
  v.resistivityError = Resistance.second;
  v.resistance = Resistance.first * kGapLength / A;
  v.resistanceError = Resistance.second * std::fabs(kGapLength / A);
  v.resistanceArea = Resistance.first * kGapLength;
  v.resistanceAreaError = Resistance.second * kGapLength;
  v.offset = OffSet.first;
  v.offsetError = OffSet.second;
  v.onset = Onset.first;
  v.onsetError = Onset.second;
  return v;
}

bool ResistanceReport::Save(const std::string& path, tk::Console& console) const {
  std::string error;
  if (!writeFileAtomically(path, text, error)) {
    console.error(error);
    return false;
  }
  return true;
}

std::string latexEscape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '_': case '&': case '%': case '#': case '$': case '{': case '}':
        escaped += '\\';
        escaped += c;
        break;
      case '~': escaped += "\\textasciitilde{}"; break;
      case '^': escaped += "\\textasciicircum{}"; break;
      case '\\': escaped += "\\textbackslash{}"; break;
      default: escaped += c;
    }
  }
  return escaped;
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
  forEachMeasurement(scan, file, console, [&](const Measurement& m) {
    const auto gap = index.find(m.chambern);
    if (gap == index.end()) return;
    Counts& c = counts[static_cast<std::size_t>(gap->second)];
    // 8000 V belongs to step 1 and 9000 V to step 2, as the argon edges do.
    ++c.standard[m.HVeff <= step1 ? 0 : m.HVeff <= step2 ? 1 : 2];
    ++c.argon[m.HVeff <= step1argon ? 0 : m.HVeff <= step2argon ? 1 : 2];
  });
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

void ValidatingStepsHVscan(const std::string& file, ChamberIndexList ChamberIndex,
                           const OutputPlace& place, tk::Console& console) {
  std::string content;
  if (!readWholeFile(file, content, console)) content.clear();
  writeEntries(content, file, ChamberIndex, place, console);
}
