// What a run says, returns and writes for every kind of bad input: files from
// spreadsheets, logs cut short, files edited on other systems, awkward gap names,
// command lines and output places that cannot be used. One row a case, each a start
// of the built program in a scratch home (scan home/scan.csv, outputs normally in
// home/out). Most rows damage the bundled argon scan, whose six gaps all give a
// result: damage that is recognised must not change a single number.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "aux/ResultsTable.h"
#include "tests/TestSupport.h"

namespace {

using namespace testsupport;
using Edit = std::function<std::string(const std::string&)>;
using Setup = std::function<bool(const std::string& home, RunSetting&)>;

std::vector<std::string> argon() { return lines(readFile(examplePath("argon_scan.csv"))); }

// The argon scan, each line (header included) as `edit` writes it, line end included.
std::string argonBy(const Edit& edit) {
  std::string scan;
  for (const auto& l : argon()) scan += edit(l);
  return scan;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) f.push_back(field);
  return f;
}

// A measurement line with its field k made by `value` from the old one; the header stays.
std::string withField(const std::string& line, std::size_t k, const Edit& value) {
  if (line.rfind("DETECTOR", 0) == 0) return line + "\n";
  std::vector<std::string> f = fieldsOf(line);
  f[k] = value(f[k]);
  std::string out;
  for (const auto& field : f) out += field + ",";
  out.back() = '\n';
  return out;
}

// The first n (0: all) LAB-GAP-07 measurements under each of `names`.
std::string labAs(const std::vector<std::string>& names, std::size_t n = 0) {
  std::string scan;
  for (const auto& name : names) {
    std::size_t taken = 0;
    for (const auto& l : argon()) {
      if (l.rfind("LAB-GAP-07,", 0) == 0 && (n == 0 || taken++ < n)) scan += name + l.substr(10) + "\n";
    }
  }
  return scan;
}

const std::vector<std::string> kFigures = {
    "ALLcurrents.png",       "KODEL-HXD-RE4-3-B002.png", "LAB-GAP-07.png",          "RE3-PK-065-BOTTOM.png",
    "RE3-PK-154-BOTTOM.png", "RE3-PK-154-TOPNARROW.png", "RE3-PK-154-TOPWIDE.png"};
const std::vector<std::string> kReports = {"Resistance.csv", "results.csv", "results.tex"};

// The argon run's outputs (the gap figures' thumbnails in their folder), plus `add`, sorted.
std::vector<std::string> argonOut(std::vector<std::string> add = {}) {
  add.emplace_back("thumbs");
  add.insert(add.end(), kFigures.begin(), kFigures.end());
  add.insert(add.end(), kReports.begin(), kReports.end());
  std::sort(add.begin(), add.end());
  return add;
}

const std::vector<std::string> kRun = {"--output-dir", "out", "scan.csv"};
const std::vector<std::string> kNoOut = {"<none>"};  // out/ must not exist
const std::vector<std::string> kAnyOut = {"<any>"};
const std::vector<std::string> kBatchOut = {"BatchSummary.csv", "campaign.tex", "figures", "index.html", "scan", "thumbs", "verdicts.csv"};
const std::string kNoLines = "gapohm: error: scan.csv: no measurement lines";
const std::string kGap = "gapohm: warning: scan.csv: gap \"";
// The example's one gap without a type word in its name gets its resistance for 1 cm2, with a word.
const std::string kLabArea = kGap + "LAB-GAP-07\": its area is not known (no type word in its name, not in an areas file): "
                                    "its resistance is given for 1 cm2; give its area with --areas FILE";

// The errors of an argon run whose figures and then `files` cannot be written.
std::vector<std::string> writeErrors(const std::string& reason, const std::vector<std::string>& files = {}) {
  std::vector<std::string> out;
  for (const auto& f : kFigures) out.push_back("gapohm: error: cannot write figure out/" + f + ": " + reason);
  out.insert(out.begin() + 3, kLabArea);  // figures are painted as each gap is done
  for (const auto& f : files) out.push_back("gapohm: error: cannot write out/" + f + ": " + reason);
  return out;
}

// Writes each file (path in the home: content) before the run, its directories too.
Setup files(const std::map<std::string, std::string>& contents) {
  return [contents](const std::string& home, RunSetting&) {
    for (const auto& [name, text] : contents) {
      std::filesystem::create_directories(std::filesystem::path(home + "/" + name).parent_path());
      writeFile(home + "/" + name, text);
    }
    return true;
  };
}

Setup with(const std::function<void(RunSetting&)>& set) {
  return [set](const std::string&, RunSetting& s) { return set(s), true; };
}

struct Row {
  std::string name;
  std::string scan;  // written to home/scan.csv
  std::vector<std::string> args;
  int status;
  // Standard error line by line: a "*" in an entry stands for any text, an entry
  // "**" for any number of lines.
  std::vector<std::string> err;
  std::vector<std::string> out;  // the entries of home/out, exactly
  // The report against the clean scan's: "clean", "header" (the header alone),
  // "clean-GAP" (without GAP's two lines), "" not compared.
  std::string report;
  std::vector<std::string> said = {};  // texts standard output holds; "!TEXT": one it never holds
  Setup setup = {};  // before the run; false: the case cannot be made here and is skipped
  std::function<void(const std::string& home, const RunResult&)> check = {};
};

bool matches(const std::vector<std::string>& want, std::size_t w, const std::vector<std::string>& got, std::size_t g) {
  if (w == want.size()) return g == got.size();
  if (want[w] == "**") return matches(want, w + 1, got, g) || (g < got.size() && matches(want, w, got, g + 1));
  if (g == got.size()) return false;
  const std::string &p = want[w], &l = got[g];
  const std::size_t star = p.find('*'), tail = p.size() - star - 1;
  const bool same = star == std::string::npos ? l == p
                                              : l.size() >= star + tail && l.compare(0, star, p, 0, star) == 0 &&
                                                    l.compare(l.size() - tail, tail, p, star + 1, tail) == 0;
  return same && matches(want, w + 1, got, g + 1);
}

std::string cleanReport() {
  static const std::string report = [] {
    ScratchDir home;
    writeFile(home.file("scan.csv"), join(argon()));
    EXPECT_EQ(runGapohm(kRun, inHome(home)).status, 0);
    return readFile(home.file("out/Resistance.csv"));
  }();
  return report;
}

std::string reportWithout(const std::string& gap) {
  std::string kept;
  for (const auto& l : lines(cleanReport())) kept += l.rfind(gap + " ", 0) == 0 ? "" : l + "\n";
  return kept;
}

std::vector<Row> rows() {
  const std::string scan = join(argon()), header = argon()[0] + "\n", last = argon().back();
  const std::string cut = last.substr(0, last.rfind(',', last.rfind(',') - 1) - 3);  // inside the pressure: "985.2" would read as 98
  const std::string line = std::to_string(argon().size() + 1);
  // Five fields a line, the file cut inside the last pressure: "977.5" read as "97" would be a point near 8 kV.
  const std::string five = argonBy([](const auto& l) { const auto f = fieldsOf(l); return f[0] + "," + f[1] + "," + f[2] + "," + f[3] + "," + f[4] + "\n"; });
  auto longLines = argon();
  longLines.insert(longLines.begin() + 10, {"RE3-PK-154-BOTTOM," + std::string(100000, '9') + ",1850,0.5,990,21,40", std::string(100000, 'x')});
  std::string rampBack = scan;  // the ramp back down of one gap, each step measured anew
  std::vector<std::string> up;
  for (const auto& l : argon()) if (l.rfind("RE3-PK-154-BOTTOM,", 0) == 0) up.push_back(l);
  for (std::size_t k = up.size() - 1; k-- > 0;) rampBack += withField(up[k], 5, [](const auto&) { return "25.5"; });
  std::vector<std::string> noSearch, semicolons;
  for (const auto& g : {"KODEL-HXD-RE4-3-B002", "LAB-GAP-07", "RE3-PK-065-BOTTOM", "RE3-PK-154-BOTTOM", "RE3-PK-154-TOPNARROW", "RE3-PK-154-TOPWIDE"})
    noSearch.push_back(kGap + g + "\": no ohmic region found (no window from point 16 to the last point passed the line-fit test); it has no line in Resistance.csv");
  for (int l = 1; l <= 5; ++l) semicolons.push_back("gapohm: warning: scan.csv:" + std::to_string(l) + ": fields separated by ';' (a spreadsheet export with decimal commas?); line skipped");
  semicolons.push_back("gapohm: warning: scan.csv: " + std::to_string(argon().size() - 5) + " more lines skipped (fields separated by ';')");
  semicolons.push_back("gapohm: warning: scan.csv: every line was skipped for fields separated by ';': export the scan with ',' as separator and '.' as decimal point");
  semicolons.push_back(kNoLines);
  std::string high;
  for (const auto& l : lines(labAs({"X-HIGH"}))) high += withField(l, 2, [](const auto& v) { return std::to_string(std::stod(v) * 1.5); });
  auto neg = [](const std::string& gap) {
    return kGap + gap + "\": the ohmic-region fit gives a negative resistivity, -* Ohm*cm (the current falls as the HV rises: reversed polarity?)";
  };
  const std::string tooFew = kGap + "SHORT-GAP\": only 15 points, too few for the ohmic-region search (it needs 18); it has no line in Resistance.csv";
  const std::string binary = "gapohm: error: scan.csv: not a text file (binary bytes at its start): not a scan";
  const std::string noHome = "gapohm: error: HOME is not set: no output directory; give one with --output-dir";
  const std::vector<std::string> areasRun = {"--areas", "areas.csv", "-o", "out", "scan.csv"};
  return {
      {"NulByte", std::string("DETECTOR,HVeff\0\n", 16) + scan, kRun, 1, {binary}, kNoOut, "", {"!getChambers"}},
      {"LongLines", join(longLines), kRun, 0,
       {"gapohm: warning: scan.csv:11: effective HV field \"" + std::string(64, '9') + "... (100000 bytes)\" is not a finite number; line skipped",
        "gapohm: warning: scan.csv:12: line with 1 fields skipped (needs gap name, HV, applied HV, current, pressure)",
        kGap + std::string(64, 'x') + "... (100000 bytes)\" has no usable measurement; it is not drawn or searched", kLabArea},
       argonOut(), "clean"},
      // Edited elsewhere: a byte order mark, CRLF line ends, many more fields, an empty last line.
      {"EditedElsewhere", "\xEF\xBB\xBF" + argonBy([](const auto& l) { return l + std::string(4000, ',') + "nan\r\n"; }) + "\r\n", kRun, 0,
       {kLabArea}, argonOut(), "clean", {"!\t \\x0d"}},
      {"LastLineWithoutLineFeed", scan.substr(0, scan.size() - 1), kRun, 0, {kLabArea}, argonOut(), "clean"},
      {"CarriageReturnsAlone", argonBy([](const auto& l) { return l + "\r"; }), kRun, 0,
       {"gapohm: warning: scan.csv: lines end in carriage returns alone; read as line ends", kLabArea}, argonOut(), "clean"},
      {"CutLastLine", scan + cut, kRun, 0,
       {"gapohm: warning: scan.csv:" + line + ": the file ends inside this line (5 fields, the measurement before has 7); line skipped", kLabArea},
       argonOut(), "clean"},
      {"CutInsideLastNumber", five.substr(0, five.rfind('.') - 1), kRun, 0,
       {"gapohm: warning: scan.csv:" + std::to_string(argon().size()) + ": the file ends inside this line (its last field \"97\" is written shorter than the line before's \"*\"); line skipped", kLabArea},
       argonOut(), "", {}, {}, [](const std::string& home, const RunResult&) {  // one point fewer, still fitted
         EXPECT_NE(readFile(home + "/out/Resistance.csv").find("\nLAB-GAP-07 , 3.99"), std::string::npos);
       }},
      {"DecimalCommas", argonBy([](std::string l) {
         for (char& c : l) c = c == ',' ? ';' : c == '.' ? ',' : c;
         return l + "\n";
       }), kRun, 1, semicolons, kNoOut, "", {"!;"}},
      {"NegativeCurrents", argonBy([](const auto& l) { return withField(l, 3, [](const auto& v) { return v[0] == '-' ? v.substr(1) : "-" + v; }); }), kRun, 0,
       {neg("KODEL-HXD-RE4-3-B002"), neg("LAB-GAP-07"), kLabArea, noSearch[2], noSearch[3], noSearch[4], neg("RE3-PK-154-TOPWIDE")}, argonOut(), ""},
      {"ZeroCurrents", argonBy([](const auto& l) { return withField(l, 3, [](const auto&) { return "0"; }); }), kRun, 0, noSearch, argonOut(), "header"},
      {"NotAnArgonScan", argonBy([](const auto& l) { return withField(l, 2, [](const auto& v) { return std::to_string(std::stod(v) * 1.1); }); }),
       kRun, 0, {}, {"ALLcurrents.png", "results.csv"}, "",
       {"gapohm: scan.csv: not an argon scan: the HV axis of its first gap, \"KODEL-HXD-RE4-3-B002\", ends at ",
        "V, not below the 2500 V limit of the ohmic-region search; no gap is searched and no Resistance.csv is written\n"}},
      {"RampBack", rampBack, kRun, 0,
       {"gapohm: warning: scan.csv:" + line + ": gap \"RE3-PK-154-BOTTOM\": effective HV 2285 V comes after 2300 V: the scan is not ascending; the gap's ohmic region is not searched",
        kLabArea, kGap + "RE3-PK-154-BOTTOM\": not searched (its HV comes down at line " + line + "); it has no line in Resistance.csv"},
       argonOut(), "clean-RE3-PK-154-BOTTOM"},
      {"DuplicatedLines", argonBy([](const auto& l) { return l + "\n" + l + "\n"; }), kRun, 0,
       {"gapohm: warning: scan.csv:2: header line inside the scan skipped", "gapohm: warning: scan.csv:4: line repeats line 3 exactly; skipped", "**"},
       argonOut(), "clean"},
      {"TooFewPointsOrOwnAxisAbove2500", scan + labAs({"SHORT-GAP"}, 15) + high, kRun, 0,
       {kLabArea, tooFew,
        kGap + "X-HIGH\": its HV axis ends at * V, at or above the 2500 V limit of the ohmic-region search: not searched; it has no line in Resistance.csv"},
       argonOut({"SHORT-GAP.png", "X-HIGH.png"}), "clean"},
      // A batch keeps its progress lines (no INFO lines; its scans' lines are never shown), counts the
      // fitted gaps, not all of them, and its report page judges the gaps by the limits it was given.
      {"BatchQuietWithLimits", scan + labAs({"SHORT-GAP"}, 15), {"--batch", "-q", "--limits", "limits.csv", "-o", "out", "scan.csv"}, 0,
       {"gapohm: warning: --quiet has no effect with --batch", kLabArea, tooFew}, kBatchOut, "", {},
       files({{"limits.csv", "gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,2e11\nLAB-GAP-07,knee_rho_ohm_cm,,1e11\n"}}),
       [](const std::string& home, const RunResult& r) {
         const std::string counts = "verdicts of 7 gaps: 1 FAIL, 0 DRIFT, 0 MARGINAL, 1 NO RESULT, 5 PASS\n";
         EXPECT_EQ(r.out, "gapohm: [1/1] scan.csv: ok, 7 gaps, 6 fitted, outputs in out/scan/\n"
                          "gapohm: report of 1 results files in out/index.html; " + counts +
                          "gapohm: 1 scans, 0 failed; summary in out/BatchSummary.csv; " + counts);
         // LAB-GAP-07's 4e11 is above its own limit; SHORT-GAP has too few points.
         EXPECT_NE(readFile(home + "/out/index.html").find("<li><a href=\"#gap-1-2\">scan.csv, LAB-GAP-07</a>: FAIL "), std::string::npos);
       }},
      {"BatchWithBadLimits", scan, {"--batch", "--limits", "limits.csv", "-o", "out", "scan.csv"}, 2, {"gapohm: limits.csv:2: *"}, kNoOut, "", {},
       files({{"limits.csv", "gap,quantity,min,max\n*,no_such_column,1,2\n"}})},
      // Names that would share a figure file: the later gets "-2", and says so; no figure is lost.
      {"AwkwardNames", header + labAs({"a/b", "a_b", "ALLcurrents", "..", "../../escape", "with space", ".", "x_{1}&%$#~^\\", "G\xC3\xA4p-\xCE\xA9"}), kRun, 0,
       {"**", kGap + "..\": its figure would be _.png, as that of gap \".\"; it is written as _-2.png", "**",
        kGap + "ALLcurrents\": its figure would be ALLcurrents.png, as that of the combined figure; it is written as ALLcurrents-2.png", "**",
        kGap + "a_b\": its figure would be a_b.png, as that of gap \"a/b\"; it is written as a_b-2.png", "**"},
       {".._.._escape.png", "ALLcurrents-2.png", "ALLcurrents.png", "G\xC3\xA4p-\xCE\xA9.png", "Resistance.csv", "_-2.png", "_.png", "a_b-2.png", "a_b.png",
        "results.csv", "results.tex", "thumbs", "with space.png", "x_{1}&%$#~^_.png"}, "", {}, {},
       [](const std::string& home, const RunResult&) { EXPECT_EQ(lines(readFile(home + "/out/Resistance.csv")).size(), 19u); }},
      {"NamesTooLongForAFile", header + labAs({std::string(300, 'A'), std::string(299, 'A') + "B"}), {"-v", "-o", "out", "scan.csv"}, 0, {"**"}, kAnyOut, ""},
      // Names that are no UTF-8 keep their bytes; control bytes are spelled out in the log, made "_" in files.
      {"NamesNotUtf8OrWithControlBytes", header + labAs({"GAP-\xFF\xFE-07", "G\x1b[31m-7"}), kRun, 0, {"**"},
       {"ALLcurrents.png", "GAP-\xFF\xFE-07.png", "G_[31m-7.png", "Resistance.csv", "results.csv", "results.tex", "thumbs"}, "",
       {":  \t G\\x1b[31m-7\n", "Chamber    : G\\x1b[31m-7\n", "!\x1b"}},
      {"VerboseSvg", scan, {"-v", "--format", "svg", "-o", "out", "scan.csv"}, 0, {kLabArea}, kAnyOut, "clean",
       {"INFO :: Drawing : PlottingEachAndDoLinearFit : Total Point : 65\n"}, {}, [](const std::string& home, const RunResult&) {
         for (const char* f : {"ALLcurrents.svg", "LAB-GAP-07.svg", "LAB-GAP-07_ChiS.svg", "LAB-GAP-07_NDf.svg", "LAB-GAP-07_GoodNessOfFitH.svg"})
           EXPECT_TRUE(fileExists(home + "/out/" + f)) << f;
       }},
      {"MissingScan", "", {"-o", "out", "missing.csv"}, 1, {"gapohm: error: cannot open scan file missing.csv: No such file or directory"}, kNoOut, ""},
      {"DefaultScanMissing", "", {"-o", "out"}, 1,
       {"gapohm: error: cannot open scan file /Users/*: No such file or directory",
        "gapohm: usage: gapohm [OPTIONS] SCAN [TITLE]   (gapohm --help tells more)"}, kNoOut, ""},
      {"ScanIsADirectory", "", {"-o", "out", "."}, 1, {"gapohm: error: cannot read scan file .: it is a directory"}, kNoOut, ""},
      {"ScanIsADevice", "", {"-o", "out", "zero"}, 1, {"gapohm: error: cannot read scan file zero: it is a device"}, kNoOut, "", {},
       [](const std::string& home, RunSetting&) { return mknod((home + "/zero").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0; }},
      {"ScanUnreadable", scan, kRun, 1, {"gapohm: error: cannot open scan file scan.csv: Permission denied"}, kNoOut, "", {},
       [](const std::string& home, RunSetting& s) {  // root could read it
         return (s.unprivileged = true) && chmod((home + "/scan.csv").c_str(), 0) == 0 && chmod(home.c_str(), 0777) == 0;
       }},
      {"ScanThroughAPipe", "", {"-o", "out", "--entries", "scan.csv"}, 0, {kLabArea}, argonOut({"Entries.csv"}), "clean", {},
       [](const std::string& home, RunSetting&) {
         if (unlink((home + "/scan.csv").c_str()) != 0 || mkfifo((home + "/scan.csv").c_str(), 0644) != 0) return false;
         if (fork() == 0) { alarm(60); writeFile(home + "/scan.csv", join(argon())); _exit(0); }  // never outlive a run that does not read
         return true;
       },
       [](const std::string& home, const RunResult&) {
         wait(nullptr);  // read once for the graphs and the entries
         EXPECT_EQ(lines(readFile(home + "/out/Entries.csv"))[1], "KODEL-HXD-RE4-3-B002 , 14 , OK , 31 , OK , 20 , OK");
       }},
      {"OutputReadOnly", scan, kRun, 1, writeErrors("Permission denied", kReports), {}, "", {}, [](const std::string& home, RunSetting& s) {
         return (s.unprivileged = true) && mkdir((home + "/out").c_str(), 0555) == 0 && chmod(home.c_str(), 0755) == 0;  // root could write there
       }},
      // Room for the report, not for a figure; nothing is left half-written (the
      // thumbnails' folder stays, empty).
      {"OutputDeviceFull", scan, kRun, 1, writeErrors("File too large"), {"Resistance.csv", "results.csv", "results.tex", "thumbs"}, "clean", {}, with([](RunSetting& s) { s.fileSizeLimit = 8192; })},
      // Not even the report fits: no file is left, not even a temporary one.
      {"ReportPastFileSizeLimit", scan, kRun, 1, writeErrors("File too large", kReports), {"thumbs"}, "", {}, with([](RunSetting& s) { s.fileSizeLimit = 200; })},
      {"StandardOutputFull", scan, kRun, 1,
       {kLabArea, "gapohm: error: standard output could not be written (closed, or its device is full): its lines are lost; the files written are complete"},
       argonOut(), "clean", {}, [](const std::string&, RunSetting& s) { return access((s.stdoutFile = "/dev/full").c_str(), W_OK) == 0; }},
      // Scans named ".csv", "..csv" and "...csv" all go to "_", inside the output
      // directory: one is analysed, the others are refused, nothing lands outside.
      {"BatchDotNames", scan, {"--batch", "-o", "out", ".csv", "..csv", "...csv"}, 1,
       {"gapohm: error: ..csv: not analysed: its outputs would replace those of .csv in out/_/",
        "gapohm: error: ...csv: not analysed: its outputs would replace those of .csv in out/_/", "**"},
       {"BatchSummary.csv", "_", "campaign.tex", "figures", "index.html", "thumbs", "verdicts.csv"}, "", {"gapohm: [3/3] .csv: ok, 6 gaps, 6 fitted, outputs in out/_/\n"},
       files({{".csv", scan}, {"..csv", scan}, {"...csv", scan}}), [](const std::string& home, const RunResult&) {
         EXPECT_EQ(listDir(home), (std::vector<std::string>{"...csv", "..csv", ".csv", "out", "scan.csv"}));
         EXPECT_EQ(listDir(home + "/out/_"), argonOut());
       }},
      // In the dated layout too: "..csv" is not the date's directory itself.
      {"DotNameDated", "", {"..csv"}, 0, {"**"}, kNoOut, "", {}, files({{"..csv", scan}}), [](const std::string& home, const RunResult&) {
         const auto dates = listDir(home + "/Dropbox/KVT/HVScan");
         ASSERT_EQ(dates.size(), 1u);
         EXPECT_EQ(listDir(home + "/Dropbox/KVT/HVScan/" + dates[0]), std::vector<std::string>{"_"});
         EXPECT_EQ(listDir(home + "/Dropbox/KVT/HVScan/" + dates[0] + "/_"), argonOut());
       }},
      // A FIFO is never opened by a batch (it would wait for a writer for ever).
      {"BatchFifos", scan, {"--batch", "-o", "out", "in", "in/other"}, 1,
       {"gapohm: warning: in/other: skipped: not a regular file (a FIFO)",
        "gapohm: error: in/pipe.csv: not analysed: not a regular file (a FIFO)",
        "gapohm: error: in/other: not analysed: not a regular file (a FIFO)", "**"},
       {"BatchSummary.csv", "a", "campaign.tex", "figures", "index.html", "thumbs", "verdicts.csv"}, "", {}, [scan](const std::string& home, RunSetting& s) {
         return files({{"in/a.csv", scan}})(home, s) && mkfifo((home + "/in/pipe.csv").c_str(), 0644) == 0 &&
                mkfifo((home + "/in/other").c_str(), 0644) == 0;
       },
       [](const std::string& home, const RunResult&) {
         const std::string failed = ",,scan failed: not a regular file (a FIFO)" + std::string(resultsColumns().size() - 3, ',') + "\n";
         EXPECT_EQ(lines(readFile(home + "/out/BatchSummary.csv")).size(), 9u);
         EXPECT_NE(readFile(home + "/out/BatchSummary.csv").find("\nin/pipe.csv" + failed + "in/other" + failed), std::string::npos);
       }},
      {"ReportPathIsADirectory", scan, kRun, 1, {kLabArea, "gapohm: error: cannot write out/Resistance.csv: Is a directory"}, argonOut(), "", {},
       [](const std::string& home, RunSetting&) { return std::filesystem::create_directories(home + "/out/Resistance.csv"); }},
      {"OutputIsTheScan", scan, {"-o", "scan.csv", "scan.csv"}, 1,
       {"gapohm: error: cannot create directory scan.csv: it exists and is not a directory", "**",
        "gapohm: error: cannot write scan.csv/Resistance.csv: Not a directory", "**"},
       kNoOut, "", {}, {}, [](const std::string& home, const RunResult&) { EXPECT_EQ(readFile(home + "/scan.csv"), join(argon())); }},
      // Links in the output directory are replaced, not followed; outputs not replaced are named.
      {"EarlierOutputsAndLinks", scan, kRun, 0,
       {kLabArea, "gapohm: warning: out/ holds outputs of an earlier run that this run did not replace (left as they are): OLD-GAP.png"},
       argonOut({"OLD-GAP.png", "notes.txt"}), "clean", {}, [](const std::string& home, RunSetting& s) {
         return files({{"elsewhere", "keep"}, {"out/OLD-GAP.png", "old"}, {"out/notes.txt", "mine"}})(home, s) &&
                symlink("../elsewhere", (home + "/out/ALLcurrents.png").c_str()) == 0 && symlink("../elsewhere", (home + "/out/Resistance.csv").c_str()) == 0;
       },
       [](const std::string& home, const RunResult&) {
         EXPECT_EQ(readFile(home + "/elsewhere"), "keep");
         EXPECT_EQ(readFile(home + "/out/ALLcurrents.png").compare(1, 3, "PNG"), 0);
       }},
      {"HomeUnset", scan, {"scan.csv"}, 1, {noHome}, kNoOut, "", {"GetEnviroment: The environment variables can not be properly set \n"},
       with([](RunSetting& s) { s.home.reset(); }), [](const std::string& home, const RunResult&) { EXPECT_EQ(listDir(home), std::vector<std::string>{"scan.csv"}); }},
      {"HomeEmpty", scan, {"scan.csv"}, 1, {noHome}, kNoOut, "", {}, with([](RunSetting& s) { s.home = ""; })},
      {"HomeUnsetWithOutputDir", scan, kRun, 0, {kLabArea}, argonOut(), "clean", {}, with([](RunSetting& s) { s.home.reset(); })},
      // Resistance = resistivity x 0.4 cm / area, with the file's areas; its comments and blank lines are skipped.
      {"AreasFile", scan, areasRun, 0, {}, argonOut(), "", {},
       files({{"areas.csv", "# measured on the bench\n\nLAB-GAP-07,8000\nRE3-PK-154-BOTTOM,20000\n"}}), [](const std::string& home, const RunResult&) {
         std::map<std::string, double> given = {{"LAB-GAP-07 ", 8000.0}, {"RE3-PK-154-BOTTOM ", 20000.0}};
         for (const auto& l : lines(readFile(home + "/out/Resistance.csv"))) {
           const auto f = fieldsOf(l);
           const auto area = given.find(f[0]);
           if (area == given.end()) continue;
           EXPECT_NEAR(std::stod(f[2]), std::stod(f[1]) * 0.4 / area->second, std::stod(f[2]) * 1e-5) << l;
           given.erase(area);
         }
         EXPECT_TRUE(given.empty());
       }},
      {"AreasNotANumber", scan, areasRun, 2, {"gapohm: areas.csv:2: area \"12k\" is not a number", "Run with --help for more information."}, kNoOut, "", {},
       files({{"areas.csv", "A,1\nB,12k\n"}})},
      {"AreasNotPositive", scan, areasRun, 2, {"gapohm: areas.csv:1: area -5 is not positive", "**"}, kNoOut, "", {}, files({{"areas.csv", "A,-5\n"}})},
      {"AreasNameTwice", scan, areasRun, 2, {"gapohm: areas.csv:3: gap \"A\" has an area already", "**"}, kNoOut, "", {}, files({{"areas.csv", "A,5\n#\nA,6\n"}})},
      // Gaps of unknown area are named in one warning, ten of them and the count of the others.
      {"AreasUnknownOnce", header + labAs({"L01", "L02", "L03", "L04", "L05", "L06", "L07", "L08", "L09", "L10", "L11"}), kRun, 0,
       {"gapohm: warning: scan.csv: gaps \"L01\", \"L02\", \"L03\", \"L04\", \"L05\", \"L06\", \"L07\", \"L08\", \"L09\", \"L10\" and 1 more: "
        "their areas are not known (no type word in their names, not in an areas file): their resistances are given for 1 cm2; "
        "give their areas with --areas FILE"}, kAnyOut, ""},
  };
}

// A results table of one gap "G" whose figure column names `figure`.
std::string tableNaming(const std::string& figure) {
  ResultsRow row = ResultsRow{};
  row.set("gap", "G");
  row.figure = figure;
  return resultsCsvText({row});
}

// Links made before the run: each path in the home to its target.
Setup links(const std::map<std::string, std::string>& made) {
  return [made](const std::string& home, RunSetting&) {
    for (const auto& [name, target] : made) {
      std::filesystem::create_directories(std::filesystem::path(home + "/" + name).parent_path());
      if (symlink(target.c_str(), (home + "/" + name).c_str()) != 0) return false;
    }
    return true;
  };
}

Setup both(const Setup& a, const Setup& b) {
  return [a, b](const std::string& home, RunSetting& s) { return a(home, s) && b(home, s); };
}

// Files and links the campaign report must not read or write through, and
// inputs it must refuse unopened or unread.
std::vector<Row> reportRows() {
  const std::vector<std::string> page = {"campaign.tex", "figures", "index.html", "thumbs", "verdicts.csv"};
  const std::string area = "gapohm: areas.csv:1: area ";
  const std::vector<std::string> areasRun = {"--areas", "areas.csv", "-o", "out", "scan.csv"};
  const std::string scan = join(argon());
  return {
      {"ReportReadsNoLink", "", {"--report", "-o", "out", "tree"}, 0,
       {"gapohm: warning: tree/b/results.csv: skipped: a symbolic link (the report reads no file through a link)",
        "gapohm: warning: tree/a/G.png: skipped: a symbolic link (the report shows no figure through a link)"}, page, "", {},
       both(files({{"tree/a/results.csv", tableNaming("G.png")}, {"secret.png", "secret"}}),
            links({{"tree/a/G.png", "../../secret.png"}, {"tree/b/results.csv", "../a/results.csv"}})),
       [](const std::string& home, const RunResult&) {
         EXPECT_EQ(listDir(home + "/out/thumbs"), std::vector<std::string>{});
         EXPECT_NE(readFile(home + "/out/index.html").find("no figure (G.png is a symbolic link)"), std::string::npos);
       }},
      // A link planted where a thumbnail goes is replaced; the thumbnail is as readable as the page.
      {"ReportThumbnailOverALink", "", {"--report", "-o", "out", "tree"}, 0, {}, page, "", {},
       both(files({{"tree/results.csv", tableNaming("G.svg")}, {"tree/G.svg", "<svg/>"}, {"elsewhere", "keep"}}),
            links({{"out/thumbs/1.svg", "../../elsewhere"}})),
       [](const std::string& home, const RunResult&) {
         EXPECT_EQ(readFile(home + "/elsewhere"), "keep");
         EXPECT_EQ(readFile(home + "/out/thumbs/1.svg"), "<svg/>");
         const mode_t mask = umask(022);
         umask(mask);
         for (const char* f : {"/out/thumbs/1.svg", "/out/index.html"}) {
           struct stat info {};
           EXPECT_TRUE(lstat((home + f).c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0777) == (0666 & ~mask)) << f;
         }
       }},
      {"ReportThumbsDirIsALink", "", {"--report", "-o", "out", "tree"}, 1, {"gapohm: error: cannot write into out/thumbs: it is a symbolic link"},
       {"thumbs"}, "", {}, both(files({{"tree/results.csv", tableNaming("")}, {"away/x", ""}}), links({{"out/thumbs", "../away"}})),
       [](const std::string& home, const RunResult&) { EXPECT_EQ(listDir(home + "/away"), std::vector<std::string>{"x"}); }},
      {"ReportFifo", "", {"--report", "-o", "out", "pipe"}, 1, {"gapohm: error: pipe: cannot read: not a regular file (a FIFO)"}, page, "", {},
       [](const std::string& home, RunSetting&) { return mkfifo((home + "/pipe").c_str(), 0644) == 0; }},
      {"ReportResultsTooLarge", "", {"--report", "-o", "out", "tree"}, 1, {"gapohm: error: tree/results.csv: cannot read: larger than 64 MiB"}, page, "", {},
       [](const std::string& home, RunSetting& s) {
         return files({{"tree/results.csv", ""}})(home, s) && truncate((home + "/tree/results.csv").c_str(), (64 << 20) + 1) == 0;
       }},
      {"AreasNulAndJunk", scan, areasRun, 2, {area + "\"8000\\x00junk\" is not a number", "**"}, kNoOut, "", {},
       files({{"areas.csv", std::string("A,8000\0junk\n", 12)}})},
      {"AreasHexFloat", scan, areasRun, 2, {area + "\"0x1.f4p12\" is not a number", "**"}, kNoOut, "", {}, files({{"areas.csv", "A,0x1.f4p12\n"}})},
      {"AreasOutsideTheirSpan", scan, areasRun, 2, {area + "1e-300 cm2 is outside 1 cm2 to 10 m2 (100000 cm2)", "**"}, kNoOut, "", {},
       files({{"areas.csv", "A,1e-300\n"}})},
      {"AreasDevice", scan, {"--areas", "/dev/null", "-o", "out", "scan.csv"}, 2,
       {"gapohm: cannot read areas file /dev/null: not a regular file (a device)", "**"}, kNoOut, ""},
      {"AreasTooLarge", scan, areasRun, 2, {"gapohm: cannot read areas file areas.csv: larger than 1 MiB", "**"}, kNoOut, "", {},
       files({{"areas.csv", std::string(1 << 20, '#') + "\n"}})},
      // ".csv" inside a directory is a scan whose outputs go to "_"; no name reaches the terminal raw.
      {"BatchDotCsvInADirectory", scan, {"--batch", "-o", "out", "in"}, 0, {"**"}, {"BatchSummary.csv", "_", "campaign.tex", "figures", "index.html", "thumbs", "verdicts.csv"}, "",
       {"gapohm: [1/1] in/.csv: ok, 6 gaps, 6 fitted, outputs in out/_/\n"}, files({{"in/.csv", scan}})},
      {"BatchScanNamesEscaped", scan, {"--batch", "-o", "out", "in"}, 0, {"**"}, kAnyOut, "",
       {"gapohm: [1/1] in/a\\x1b[31m\\x0ab.csv: ok, 6 gaps, 6 fitted, outputs in out/a\\x1b[31m\\x0ab/\n", "!\x1b"},
       files({{"in/a\x1b[31m\nb.csv", scan}})},
  };
}

std::vector<Row> allRows() {
  std::vector<Row> all = rows();
  for (Row& row : reportRows()) all.push_back(std::move(row));
  return all;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class BadInput : public ::testing::TestWithParam<Row> {};

TEST_P(BadInput, MessageStatusAndFiles) {
  const Row& row = GetParam();
  ScratchDir home;
  writeFile(home.file("scan.csv"), row.scan);
  RunSetting setting = inHome(home);
  if (row.setup && !row.setup(home.path(), setting)) GTEST_SKIP() << "cannot make this case here";
  const RunResult r = runGapohm(row.args, setting);
  EXPECT_EQ(r.status, row.status) << r.err.substr(0, 2000);
  const auto err = lines(r.err);
  EXPECT_TRUE(matches(row.err, 0, err, 0)) << r.err.substr(0, 2000);
  for (const auto& l : err) {
    // Quoted fields are cut short and their control bytes spelled out.
    std::istringstream quoted(l);
    for (std::string part; std::getline(quoted, part, '"') && std::getline(quoted, part, '"');) EXPECT_LT(part.size(), 100u) << l;
    EXPECT_TRUE(std::none_of(l.begin(), l.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) << l;
  }
  for (const auto& s : row.said) EXPECT_EQ(r.out.find(s.substr(s[0] == '!')) == std::string::npos, s[0] == '!') << s << "\n" << r.out;
  if (row.out == kNoOut) {
    EXPECT_FALSE(fileExists(home.file("out")));
  } else if (row.out != kAnyOut) {
    EXPECT_EQ(listDir(home.file("out")), row.out);
  }
  if (!row.report.empty()) {
    EXPECT_EQ(readFile(home.file("out/Resistance.csv")),
              row.report == "clean"    ? cleanReport()
              : row.report == "header" ? lines(cleanReport())[0] + "\n"
                                       : reportWithout(row.report.substr(6)));
  }
  if (row.check) row.check(home.path(), r);
}

INSTANTIATE_TEST_SUITE_P(Runs, BadInput, ::testing::ValuesIn(allRows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
