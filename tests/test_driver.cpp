// In process: the scan reader, the reading of a scan into graphs, where outputs
// go, the gap catalogue, the bytes of the two reports and the command line.
#include <gtest/gtest.h>

#include <sstream>

#include "aux/OutputPlaces.h"
#include "aux/ScanDate.h"
#include "aux/ScanInput.h"
#include "tests/TestSupport.h"
#include "tools/gapohm.h"

namespace {

using namespace testsupport;

TEST(GetParameters, FieldsByPositionPressureBeforeTemperatureAbsentOnesKept) {
  std::string name;
  double v[6] = {-1, -1, -1, -1, -1, -1};  // HVeff, HVapp, current, temp, presure, humidity
  getParameters("G,9000,8000,1.25,960,21.5,40,99", name, v[0], v[1], v[2], v[3], v[4], v[5]);
  getParameters("H,,5,abc", name, v[0], v[1], v[2], v[3], v[4], v[5]);
  EXPECT_EQ(name, "H");
  EXPECT_EQ(std::vector<double>(v, v + 6), (std::vector<double>{0, 5, 0, 21.5, 960, 40}));
}

TEST(GetChambers, DistinctNamesInByteOrderNeverTheHeaderOrAnEmptyName) {
  std::istringstream scan(
      "\xEF\xBB\xBF" "DETECTOR,HVeff\n\n,1,2\n,\nb,1\nRE3-PK-154-TOPNARROW,1\nRE3-PK-154-TOP\n"
      "DETECTOR ,x\ndetector,x\nB\n9\nb,2\nDETECTOR\n");
  ChamberIndexList list = {{"X", 0}};  // appended behind, numbered from 0
  std::ostringstream log;
  getChambers(scan, list, log);
  EXPECT_EQ(list, (ChamberIndexList{{"X", 0}, {"9", 0}, {"B", 1}, {"DETECTOR ", 2}, {"RE3-PK-154-TOP", 3},
                                    {"RE3-PK-154-TOPNARROW", 4}, {"b", 5}, {"detector", 6}}));
  EXPECT_EQ(log.str().substr(0, 93), "INFO :: ScanInput: getChambers : running on chambers: \n"
                                     "INFO :: ScanInput: getChambers :  \t 9\n");
  // The same from the file's path, without "\r" or a ';' name; a path that cannot be opened lists nothing.
  ScratchDir dir;
  writeFile(dir.file("scan.csv"), "DETECTOR,HVeff\nb,1\r\n;x,2\nB\n\r\n");
  ChamberIndexList fromPath, none;
  EXPECT_TRUE(getChambers(dir.file("scan.csv"), fromPath, log));
  EXPECT_EQ(fromPath, (ChamberIndexList{{"B", 0}, {"b", 1}}));
  EXPECT_FALSE(getChambers(dir.file("missing.csv"), none, log) || !none.empty());
}

EnvLookup homeAt(const std::optional<std::string>& home) {
  return [home](const std::string& name) { return name == "HOME" ? home : std::nullopt; };
}

TEST(DirForScan, LayoutsByHomeAndScanName) {
  const std::string kvt = "/h/Dropbox/KVT/HVScan/d";
  const std::string ulm = "/srv/ulmena2/Dropbox//ZELK/HXD/RPCs/20130620_KVT/testKVT/ResistanceAndCurrentPLOTS/d";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/data/scans/scan_A.csv", "/h", kvt + "_KVTHVscan/scan_A/"}, {"/data/scans/CAEN904_scan_B.csv", "/h", kvt + "_904HVscan/CAEN904_scan_B/"},
      {"/data/CAEN904/scan_C.csv", "/h", kvt + "_904HVscan/scan_C/"}, {"x/caen904.csv", "/srv/ulmena2", ulm + "_KVTHVscan/caen904/"},
      {"run.csv.csv", "/h", kvt + "_KVTHVscan/run/"}, {"a.csv_b.csv", "/h", kvt + "_KVTHVscan/a_b/"}, {"run.CSV", "/h", kvt + "_KVTHVscan/run.CSV/"},
  };
  for (const auto& [scan, home, dir] : cases) EXPECT_EQ(dirForScan(scan, home, "d"), dir) << scan;
  // The file name's last extension only, never a directory's.
  for (const auto& [path, changed] : std::vector<std::pair<std::string, std::string>>{
           {"/d/run.csv", "/d/run.png"}, {"/d.x/run", "/d.x/run.png"}, {"a.b.csv", "a.b.png"}}) {
    EXPECT_EQ(ChangeExtension(path, ".png"), changed) << path;
  }
}

// A file where a directory goes, and --output-dir's levels: test_badinput's OutputIsTheScan, test_batch's single runs.
TEST(GetPathToSave, CreatesEveryLevelOrNamesTheOneThatCannotBe) {
  ScratchDir root;
  std::ostringstream out, err;
  tk::Console console(out, err);
  tk::Failures failures;
  const std::string dir =
      getPathToSave("/data/scan_A.csv", {homeAt(root.path()), "20131231", std::nullopt}, console, failures);
  EXPECT_EQ(dir, root.path() + "/Dropbox/KVT/HVScan/20131231_KVTHVscan/scan_A/");
  EXPECT_EQ(listDir(dir), std::vector<std::string>{});
  EXPECT_EQ(out.str(), "INFO :: OutputPlaces : GetEnviroment: HOME directory used  " + root.path() + "\n");
  EXPECT_FALSE(failures.any()) << err.str();
  // Without HOME nothing is made at the root of the file system.
  getPathToSave("never-made-q7.csv", {homeAt(std::nullopt), "d", std::nullopt}, console, failures);
  ASSERT_EQ(failures.all().size(), 1u);
  EXPECT_TRUE(failures.all()[0].IsInvalidArgument());
  EXPECT_FALSE(fileExists("/Dropbox/KVT/HVScan/d_KVTHVscan/never-made-q7"));
}

TEST(SafeFileName, GapNamesStayOneFileInsideTheOutputDirectory) {
  const std::pair<std::string, std::string> cases[] = {
      {"RE3-PK-154-BOTTOM", "RE3-PK-154-BOTTOM"}, {"../../etc/passwd", ".._.._etc_passwd"}, {"..", "_"},
      {".", "_"}, {"", "_"}, {"a\\b:c\n*?\"<>|\x7f", "a_b_c________"}, {"gap ü 1", "gap ü 1"}};
  for (const auto& [name, safe] : cases) EXPECT_EQ(safeFileName(name), safe) << name;
  // Long names keep 180 bytes, never cut inside a character, and a hash of the whole.
  const std::string a = std::string(300, 'A'), b = std::string(299, 'A') + "B";
  const std::string c = std::string(179, 'A') + "\xC3\xA4" + std::string(100, 'C');
  EXPECT_EQ(safeFileName(a).size(), 180u + 1u + 16u);
  EXPECT_NE(safeFileName(a), safeFileName(b));
  EXPECT_EQ(safeFileName(c).substr(0, 180), std::string(179, 'A') + "~");
}

// Lines too short, header lines inside the scan and repeated lines: test_badinput's LongLines and DuplicatedLines.
TEST(ReadScanPoints, EachLineIsAPointOfItsOwnGapOrAWarningNamingItsLine) {
  std::istringstream scan(
      "DETECTOR,HVeff,HVapp,I,P,T,H\n"     // 1 the format, not a fault
      "G,1000,1000,1.5,990,20,40\n"        // 2 at the reference pressure: HV as applied
      "G,1001,1000,2.5,950\n"              // 3 corrected for the pressure
      "G-OnePoint,1234,1000,7,950\n"       // 4 taken at its effective HV, as read
      "G1,1,100,7,990\n"                   // 5 the same largest current: the earlier gap keeps it
      "\n"                                 // 6 blank: silent
      ",1,100,1,990\n"                     // 7
      "G,1,abc,1,990\n"                    // 8
      "G,nan,100,1,990\n"                  // 9
      "G,1,100,inf,990\n"                  // 10
      "G,0x1p3,1000,1,990\n"               // 11 hexadecimal is no reading
      "G,1,100,1,-990\n"                   // 12
      "G,1,100,1,0\n"                      // 13
      "G,1013,1e308,1,1e-300\n"            // 14 finite reading, infinite corrected HV
      "H,1,100,1,990\n"                    // 15
      "G,1e400,1,1,990\n"                  // 16
      "G1, 1012 V, 1012 V, 7 nA,990\r\n"   // 17 blanks, units and CR around numbers are fine
      "G,1020,1020,1e-400,990\n");         // 18 underflow is a zero current
  // What the analysis of a run calls: the reader, then the points of each listed gap.
  const ScanReading reading = readScan(scan);
  const CollectedPoints p = collectPoints(reading.measurements, {{"G", 0}, {"G-OnePoint", 1}, {"G1", 2}});
  std::vector<std::string> told;
  for (const LineNote& note : notesInFileOrder(reading.refused, p.notes)) {
    told.push_back("scan.csv:" + std::to_string(note.line) + ": " + note.reason);
  }
  const std::string w = "scan.csv:";
  EXPECT_EQ(told, (std::vector<std::string>{
                                  w + "7: line without a gap name skipped",
                                  w + "8: applied HV field \"abc\" is not a finite number; line skipped",
                                  w + "9: effective HV field \"nan\" is not a finite number; line skipped",
                                  w + "10: current field \"inf\" is not a finite number; line skipped",
                                  w + "11: effective HV field \"0x1p3\" is not a finite number; line skipped",
                                  w + "12: pressure -990 is not positive; line skipped",
                                  w + "13: pressure 0 is not positive; line skipped",
                                  w + "14: applied HV 1e+308 at pressure 1e-300 gives a corrected HV that is not finite; line skipped",
                                  w + "15: gap \"H\" is not in the gap list; line skipped",
                                  w + "16: effective HV field \"1e400\" is not a finite number; line skipped"}));
  EXPECT_EQ(p.gaps[0].hv, (std::vector<double>{1000, 1000 / (0.2 + 0.8 * 950 / 990.0), 1020}));
  EXPECT_EQ(p.gaps[0].current, (std::vector<double>{1.5, 2.5, 0}));
  EXPECT_EQ(p.gaps[1].hv, std::vector<double>{1234});
  EXPECT_EQ(p.gaps[2].hv, (std::vector<double>{100, 1012}));
  EXPECT_EQ(p.maxcurrentindex, 1);
  EXPECT_EQ(p.usedLines, 6);
  for (const GapPoints& g : p.gaps) EXPECT_EQ(g.notAscendingLine, 0);
}

TEST(Catalogue, AreasAndStylesByNameOthersByPosition) {
  const double b = 1000 / 19660.0, n = 1000 / 5550.0, w = 1000 / 13130.0;
  const std::tuple<std::string, int, double, double, int, int> cases[] = {  // name, position, area, factor, colour, marker
      {"KODEL-HXD-RE4-3-B002", 0, 19660, b, 3, 8},    {"KODEL-HXD-RE4-3-B009", 2, 19660, b, 7, 8},
      {"RE3-PK-154-BOTTOM", 0, 19660, b, 4, 8},       {"RE3-PK-154-TOPNARROW", 5, 5550, n, 4, 33},
      {"RE3-PK-154-TOPWIDE", 0, 13130, w, 4, 22},     {"RE3-PK-065-BOTTOM", 0, 19660, b, 2, 8},
      {"RE3-PK-065-TOPWIDE", 0, 13130, w, 2, 22},     {"RE3-PK-065-TOPNARROW", 0, 5550, n, 2, 33},
      {"RE3-PK-154-BOTTOM_run2", 7, 19660, b, 4, 8},  // a catalogued name with a suffix
      {"X-B-TOPWIDE", 0, 13130, w, 1, 19},             // the last matching type decides
      {"GAP_BOT", 0, 1, b, 1, 19},                     {"re3-pk-154-bottom", 3, 1, 1, 4, 22},
      {"LAB-GAP-07", 0, 1, 1, 1, 19},
      // White (10) and near-white greys (18, 19) would vanish on the frame: the next colour that shows.
      {"LAB-GAP-10", 9, 1, 1, 11, 28},                 {"LAB-GAP-18", 17, 1, 1, 20, 36},
      {"LAB-GAP-17", 16, 1, 1, 17, 35},
  };
  for (const auto& [name, position, area, factor, colour, marker] : cases) {
    EXPECT_EQ(getarea(name), area) << name;
    EXPECT_DOUBLE_EQ(getareafactor(name), factor) << name;
    EXPECT_EQ(getcolor(name, position), colour) << name;
    EXPECT_EQ(getmarker(name, position), marker) << name;
  }
  std::vector<plotprofile> profiles;
  init_plotprofile(profiles, {{"LAB-A", 0}, {"RE3-PK-065-BOTTOM", 1}, {"LAB-B", 2}});
  ASSERT_EQ(profiles.size(), 3u);
  EXPECT_EQ(profiles[2].chambername + " " + std::to_string(profiles[2].color) + " " + std::to_string(profiles[2].marker), "LAB-B 3 21");
}

// The escaping of every LaTeX special character: test_report's ResultsTex.
TEST(ResistanceReport, HeaderThenCsvLineAndLatexRowPerGap) {
  ResistanceReport report;
  report.Open();
  report.AddGap("RE3-PK-154-BOTTOM", gapValues(19660, {1e10, 2e8}, {0.5, 0.01}, {1900.25, 12.5}));
  report.AddGap("LAB_GAP#1", gapValues(1, {2.5e10, 1e9}, {-0.25, 0.125}, {3000, 0}));
  EXPECT_EQ(report.text,
            " GAP, Resistivity [Ohm*cm] , Resistance [Ohm] , Resistance*Area [Ohm*cm2], Offset [nA/cm2], Onset [V] \n"
            "RE3-PK-154-BOTTOM , 1e+10 , 203459 , 4e+09 , 0.5 , 1900.25\n"
            "RE3-PK-154-BOTTOM &, 1e+10 \\pm 2e+08 &, 203459 \\pm 4069.18 &,4e+09 \\pm 8e+07 &, 0.5 \\pm 0.01 &, 1900.25 \\pm 12.5 \\\\ \n"
            "LAB_GAP#1 , 2.5e+10 , 1e+10 , 1e+10 , -0.25 , 3000\n"
            "LAB\\_GAP\\#1 &, 2.5e+10 \\pm 1e+09 &, 1e+10 \\pm 4e+08 &,1e+10 \\pm 4e+08 &, -0.25 \\pm 0.125 &, 3000 \\pm 0 \\\\ \n");
}

TEST(EntriesReport, CountsPerStepTheEdgesInTheLowerStep) {
  std::string scan = "DETECTOR,x\n";
  auto add = [&scan](const std::string& gap, double hv, int n) {
    for (int k = 0; k < n; ++k) scan += gap + "," + std::to_string(hv) + ",1," + std::to_string(k) + ",990\n";
  };
  add("A", 1700, 14), add("A", 2000, 31), add("A", 2300, 20);  // the planned argon scan, steps ending at 1700 and 2000 V
  scan += "\nA,1700\nA,abc,1,1,990\nB,1700,1,1,990\nA,1700.000000,1,0,990\n";  // none counted
  add("S", 5000, 7), add("S", 8000, 1), add("S", 9000, 1), add("S", 9500, 11);  // the standard one, steps ending at 8000 and 9000 V
  add("T", 1000, 3), add("T", 1800, 6);  // 9 in standard step 1, 3 of them in argon step 1: an argon line
  add("U", 1000, 2), add("U", 1800, 7);  // only 2 in argon step 1: a standard line
  const ChamberIndexList gaps = {{"A", 0}, {"S", 1}, {"T", 2}, {"U", 3}, {"V", 4}};
  const std::string expected =
      "Chamber Name, Number of Entries Step1,15/8,Number of Entries Step2,30/2,Number of Entries Step3,20/10 \n"
      "A , 14 , OK , 31 , OK , 20 , OK\n"
      "S , 8 , OK , 1 , OK , 11 , OK\n"
      "T , 3 , NOT OK , 6 , NOT OK , 0 , NOT OK\n"
      "U , 9 , NOT OK , 0 , NOT OK , 0 , NOT OK\n"
      "V , 0 , NOT OK , 0 , NOT OK , 0 , NOT OK\n";
  std::ostringstream out, err;
  tk::Console console(out, err);
  ScratchDir dir;
  writeFile(dir.file("scan.csv"), scan);
  EXPECT_TRUE(ValidatingStepsHVscan(dir.file("scan.csv"), gaps, {processEnvironment(), "20130930", dir.file("out")}, console));
  EXPECT_EQ(readFile(dir.file("out/Entries.csv")), expected);
}

// The command line as a user meets it, run in process: each row's status and
// both streams, exactly; a usage error and an option without effect write nothing.
TEST(ScanDate, AFileNamesRealDateWinsThenTheOptionThenTheDayOfTheLastChange) {
  const std::pair<const char*, const char*> names[] = {
      {"hvscan_1_201309301817_HVscan_n.csv", "2013-09-30"},  // with hhmm
      {"run_2024-03-05.csv", "2024-03-05"},   {"run_2024_03_05_b.csv", "2024-03-05"},
      {"20240229.csv", "2024-02-29"},         {"20240305120000.csv", "2024-03-05"},
      {"a_2024-13-01_2024-01-02.csv", "2024-01-02"},  // the first real date
      {"20230229.csv", ""},  {"202403052500.csv", ""},  {"x20240305123.csv", ""},  {"scan_123456789.csv", ""},
      {"serial_12345678.csv", ""},  {"2024-03-5.csv", ""},  {"2024-03_05.csv", ""},  {"2024-03-055.csv", ""},
      {"2024-03-05/scan.csv", ""},  // a folder's name is not the scan's
  };
  for (const auto& [name, date] : names) EXPECT_EQ(dateInFileName(name).value_or(""), date) << name;
  const auto of = [](const char* name, std::optional<std::string> given, std::optional<std::time_t> changed) {
    const std::optional<ScanDate> d = scanDateOf(name, given, changed);
    return d ? d->date + " " + scanDateSourceWord(d->source) : std::string("none");
  };
  EXPECT_EQ(of("s_20240305.csv", "2020-01-01", 0), "2024-03-05 file name");
  EXPECT_EQ(of("s.csv", "2020-01-01", 0), "2020-01-01 option");
  EXPECT_EQ(of("s.csv", std::nullopt, 86400 * 366 - 1), "1971-01-01 modification time");
  EXPECT_EQ(of("s.csv", std::nullopt, std::nullopt), "none");
  EXPECT_EQ(isoDate("2024-02-29").value_or("") + "|" + isoDate("2023-02-29").value_or("") + "|" +
                isoDate("2024_02_28").value_or("") + "|" + isoDate("2024-02-28 ").value_or(""),
            "2024-02-29|||");
  EXPECT_EQ(daysSinceEpoch("1971-01-01"), 365);
  EXPECT_EQ(daysSinceEpoch("2024-03-05"), 19787);
}

TEST(CommandLine, StatusAndEveryLineAUserSees) {
  ScratchDir dir;
  const std::string scan = dir.file("scan.csv"), out = dir.file("out"), done = "gapohm: outputs in " + out + "/\n";
  writeFile(scan, readFile(examplePath("argon_scan.csv")));
  const std::string area = "gapohm: warning: " + scan + ": gap \"LAB-GAP-07\": its area is not known (no type word "
                           "in its name, not in an areas file): its resistance is given for 1 cm2; give its area "
                           "with --areas FILE\n";
  const std::string more = "\nRun with --help for more information.\n", warn = "gapohm: warning: ";
  const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {  // arguments, status, out, err
      {{"-q", "-o", out, scan}, 0, done, area},
      {{"--quiet", "--verbose", "--annotate", "-o", out, scan, "Title", "x", "y"}, 0, done,
       warn + "arguments after the legend title are ignored: \"x\" \"y\"\n" + area},
      {{"-q", "-j", "2", "--summary", dir.file("s.csv"), "--limits", "none.csv", "--reference-temperature", "25", "-o", out, scan},
       0, done,
       warn + "--jobs and --summary have no effect without --batch\n" + warn + "--limits has no effect without --batch or --report\n" +
           warn + "--reference-temperature has no effect without --temperature-coefficient\n" + area},
      {{"--report", "-q", "--format", "svg", "--temperature-coefficient", "0.1", "--reference-temperature", "25", "-j",
        "2", "--scan-date", "2024-02-29", "-o", dir.file("report"), out},
       0, "gapohm: report of 1 results files in " + dir.file("report") + "/index.html; verdicts of 6 gaps: 0 FAIL, 0 DRIFT, 0 MARGINAL, 6 NO RESULT, 0 PASS\n",
       warn + "--quiet, --format and --scan-date have no effect with --report\n" + warn + "--jobs has no effect without --batch\n"},
      {{"--scan-date", "2023-02-29", scan}, 2, "", "gapohm: --scan-date \"2023-02-29\" is not a calendar date YYYY-MM-DD" + more},
      {{"--bogus", scan}, 2, "", "gapohm: The following argument was not expected: --bogus" + more},
      {{"--format", "gif", scan}, 2, "", "gapohm: --format: gif not in {png,svg,pdf}" + more},
      {{"--batch", "-j", "0", scan}, 2, "", "gapohm: --jobs: Value 0 not in range 1 to 1024" + more},
      {{"--report", "--batch", "-q", out}, 2, "", "gapohm: --report and --batch cannot be given together" + more},
      {{"--batch", "-o", out}, 2, "", "gapohm: --batch needs at least one scan file or directory" + more},
      {{"-o", "", scan}, 2, "", "gapohm: --output-dir needs a directory name, not an empty one" + more},
      {{"-o", out, scan, scan}, 2, "", "gapohm: " + scan + " is a second scan file; a run analyses one scan: give several with --batch" + more},
  };
  for (const auto& [args, status, stdOut, stdErr] : cases) {
    std::vector<const char*> argv = {"/opt/bin/gapohm-1.2"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream o, e;
    EXPECT_EQ(gapohmMain(static_cast<int>(argv.size()), argv.data(), o, e, homeAt(dir.path()), 0), status) << args[0];
    EXPECT_EQ(o.str(), stdOut) << args[0] << " " << args[1];
    EXPECT_EQ(e.str(), stdErr) << args[0] << " " << args[1];
  }
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"out", "report", "scan.csv"}));
  // The help names the program and its positionals as typed, each option's choices
  // once, and ends with the exit statuses and two examples.
  const char* help[] = {"/opt/bin/gapohm-1.2", "--help"};
  std::ostringstream o, e;
  EXPECT_EQ(gapohmMain(2, help, o, e, homeAt(dir.path()), 0), 0);
  const std::string shown = "\n" + o.str(), examples = "\nExamples:\n  gapohm -o out/run7 scan_run7.csv \"Run 7, argon\"\n"
                                                         "  gapohm --batch -j 2 --annotate -o campaign scans/\n";
  for (const char* line : {"\nUsage: gapohm [OPTIONS] SCAN [TITLE]\n", "\n  --format png|svg|pdf        figure file format\n",
                          "\nExit status: 0 success; 1 a failed run, a failed scan of a batch or an output that could not be written; "
                          "2 a usage error; 128+N a batch stopped by signal N (SIGINT, SIGTERM).\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << o.str();
  }
  EXPECT_EQ(shown.substr(shown.size() - examples.size()), examples);
  for (const char* never : {"/opt/bin", "{png", "file_and_title", "INT in"}) EXPECT_EQ(o.str().find(never), std::string::npos) << never;
}

}  // namespace
