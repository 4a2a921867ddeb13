// Bad input, end to end and in process: files from spreadsheets, logs cut short,
// files edited on other systems, awkward gap names, and output places that cannot
// be written. Every case pins what is said on standard error, the exit status,
// and what is and is not written.
//
// The whole-run cases start from the bundled argon scan, whose six gaps all give
// a result, and compare the report of the damaged scan with the report of the
// clean one: damage that is recognised must not change a single number.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "tests/TestSupport.h"
#include "toolkit/Style.h"
#include "tools/gapohm.h"

namespace {

using testsupport::fileExists;
using testsupport::listDir;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::ScratchDir;
using testsupport::writeFile;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string join(const std::vector<std::string>& all) {
  std::string text;
  for (const auto& l : all) text += l + "\n";
  return text;
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) out.push_back(field);
  return out;
}

// The bundled argon scan, one line a string (the header first).
std::vector<std::string> argonLines() {
  return lines(readFile(testsupport::examplePath("argon_scan.csv")));
}

const std::vector<std::string> kArgonFigures = {
    "ALLcurrents.png",       "KODEL-HXD-RE4-3-B002.png", "LAB-GAP-07.png",
    "RE3-PK-065-BOTTOM.png", "RE3-PK-154-BOTTOM.png",    "RE3-PK-154-TOPNARROW.png",
    "RE3-PK-154-TOPWIDE.png"};

std::vector<std::string> withReport(std::vector<std::string> names) {
  names.push_back("Resistance.csv");
  std::sort(names.begin(), names.end());
  return names;
}

// A scan analysed in a scratch home: the scan is home/scan.csv, the run works in
// home and writes into home/out, so messages name "scan.csv" and "out/...".
struct ScanRun {
  ScratchDir home;
  RunResult result;
  std::string out() const { return home.file("out"); }
  std::vector<std::string> written() const { return listDir(out()); }
  std::string report() const { return readFile(home.file("out/Resistance.csv")); }
  std::vector<std::string> errLines() const { return lines(result.err); }
};

void analyse(ScanRun& run, const std::string& scan, std::vector<std::string> extra = {}) {
  writeFile(run.home.file("scan.csv"), scan);
  std::vector<std::string> args = {"--output-dir", "out"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("scan.csv");
  run.result = testsupport::runGapohm(args, run.home.path(), run.home.path());
}

// The report of the clean argon scan.
std::string cleanReport() {
  ScanRun run;
  analyse(run, join(argonLines()));
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(lines(run.report()).size(), 13u);  // header + 2 lines for each of 6 gaps
  return run.report();
}

// The report without the two lines of `gap`.
std::string reportWithout(const std::string& report, const std::string& gap) {
  std::vector<std::string> kept;
  for (const auto& l : lines(report)) {
    if (l.rfind(gap + " ", 0) != 0) kept.push_back(l);
  }
  return join(kept);
}

// A PNG file is complete when it ends with its IEND chunk.
bool completePng(const std::string& path) {
  const std::string png = readFile(path);
  static const std::string kEnd("IEND\xae\x42\x60\x82", 8);
  return png.size() > 16 && png.compare(0, 4, "\x89PNG") == 0 &&
         png.compare(png.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

// Runs the built gapohm in `cwd` with HOME=cwd, optionally under a file-size
// limit (the child ignores SIGXFSZ, so writes past the limit fail with EFBIG) or
// as the unprivileged user "nobody". Standard output and error are read through
// pipes, which the limit does not touch.
struct ChildLimits {
  std::optional<rlim_t> fileSize;
  bool unprivileged = false;
};

RunResult runChild(const std::vector<std::string>& args, const std::string& cwd, ChildLimits limits) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    setenv("HOME", cwd.c_str(), 1);
    if (limits.unprivileged && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    signal(SIGXFSZ, SIG_IGN);
    if (limits.fileSize) {
      const rlimit rl{*limits.fileSize, *limits.fileSize};
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(127);
    }
    std::vector<std::string> copies = args;
    std::string binary = GAPOHM_BINARY;
    std::vector<char*> argv = {binary.data()};
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult r;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[k]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open;
      }
    }
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return r;
}

// ------------------------------------------------------------ garbage and size

TEST(BadScan, BinaryGarbageIsRefusedWithReadableMessagesAndWritesNothing) {
  std::mt19937 random(20131001);
  std::string garbage(64 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(random() & 0xff);
  // Enough commas for some lines to reach the number checks.
  for (std::size_t k = 0; k < garbage.size(); k += 7) garbage[k] = ',';
  ScanRun run;
  analyse(run, garbage);
  EXPECT_EQ(run.result.status, 1);
  const auto err = run.errLines();
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.back(), "gapohm: error: scan.csv: no measurement lines");
  for (std::size_t k = 0; k + 1 < err.size(); ++k) {
    EXPECT_EQ(err[k].rfind("gapohm: warning: scan.csv:", 0), 0u) << err[k];
    // Quoted fields are cut short and their control bytes spelled out.
    EXPECT_LT(err[k].size(), 200u);
    for (const char c : err[k]) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << err[k];
  }
  EXPECT_FALSE(fileExists(run.out()));
  EXPECT_EQ(listDir(run.home.path()), (std::vector<std::string>{"scan.csv"}));
}

TEST(BadScan, TenMegabyteLinesAreSkippedAndQuotedShort) {
  auto scan = argonLines();
  const std::string digits(10 * 1024 * 1024, '9');
  scan.insert(scan.begin() + 10, "RE3-PK-154-BOTTOM," + digits + ",1850,0.5,990,21,40");
  scan.insert(scan.begin() + 11, std::string(10 * 1024 * 1024, 'x'));
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.errLines(),
            (std::vector<std::string>{
                "gapohm: warning: scan.csv:11: effective HV field \"" + std::string(64, '9') +
                    "... (10485760 bytes)\" is not a finite number; line skipped",
                "gapohm: warning: scan.csv:12: line with 1 fields skipped (needs gap name, HV, "
                "applied HV, current, pressure)",
                // The line's only field is listed as a gap, which then has nothing to draw.
                "gapohm: warning: scan.csv: gap \"" + std::string(64, 'x') +
                    "... (10485760 bytes)\" has no usable measurement; it is not drawn or searched"}));
  EXPECT_EQ(run.written(), withReport(kArgonFigures));
  EXPECT_EQ(run.report(), cleanReport());
}

TEST(BadScan, TenThousandFieldsALineAreIgnoredBeyondTheSeventh) {
  auto scan = argonLines();
  std::string tail;
  for (int k = 0; k < 10000; ++k) tail += ",nan";
  for (std::size_t k = 1; k < scan.size(); ++k) scan[k] += tail;
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(run.report(), cleanReport());
}

// ------------------------------------------------------- other systems' files

TEST(BadScan, CrlfLineEndsAndAByteOrderMarkChangeNothing) {
  const std::string clean = cleanReport();
  std::string crlf;
  for (const auto& l : argonLines()) crlf += l + "\r\n";
  for (const std::string& scan : {crlf, "\xEF\xBB\xBF" + join(argonLines()), "\xEF\xBB\xBF" + crlf}) {
    ScanRun run;
    analyse(run, scan);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.written(), withReport(kArgonFigures));
    EXPECT_EQ(run.report(), clean);
    // The header is never listed as a gap, with or without the mark.
    EXPECT_EQ(run.result.out.find("DETECTOR"), std::string::npos);
  }
}

TEST(BadScan, CarriageReturnsAloneAreReadAsLineEnds) {
  std::string cr;
  for (const auto& l : argonLines()) cr += l + "\r";
  ScanRun run;
  analyse(run, cr);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.err, "gapohm: warning: scan.csv: lines end in carriage returns alone; read as line ends\n");
  EXPECT_EQ(run.report(), cleanReport());
}

TEST(BadScan, AFileCutInTheMiddleOfItsLastLineDropsOnlyThatLine) {
  auto scan = argonLines();
  const std::string last = scan.back();  // a LAB-GAP-07 line: ...,current,pressure,T,H
  ASSERT_EQ(split(last, ',').size(), 7u);
  // Cut inside the pressure: "985.2" would read as 98 and move the point by a factor 3.
  std::string cut = last.substr(0, last.find(',', last.find(',', last.find(',', last.find(',') + 1) + 1) + 1) + 3);
  ASSERT_EQ(split(cut, ',').size(), 5u);
  const std::string whole = join(std::vector<std::string>(scan.begin(), scan.end() - 1));
  ScanRun reference;
  analyse(reference, whole);
  ScanRun run;
  analyse(run, whole + cut);  // no line feed at the end
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.errLines(),
            (std::vector<std::string>{"gapohm: warning: scan.csv:" + std::to_string(scan.size()) +
                                      ": the file ends inside this line (5 fields, the measurement "
                                      "before has 7); line skipped"}));
  EXPECT_EQ(run.report(), reference.report());

  // A last line without a line feed that is complete is a measurement like any other.
  ScanRun complete;
  analyse(complete, whole + last);
  EXPECT_EQ(complete.result.err, "");
  EXPECT_EQ(complete.report(), cleanReport());
}

TEST(BadScan, ASpreadsheetExportWithDecimalCommasIsRefusedNotMisread) {
  std::string scan;
  for (const auto& l : argonLines()) {
    std::string converted = l;
    for (char& c : converted) c = c == ',' ? ';' : c == '.' ? ',' : c;
    scan += converted + "\n";
  }
  ScanRun run;
  analyse(run, scan);
  EXPECT_EQ(run.result.status, 1);
  const auto err = run.errLines();
  ASSERT_EQ(err.size(), argonLines().size() + 1);
  EXPECT_EQ(err[0], "gapohm: warning: scan.csv:1: fields separated by ';' (a spreadsheet export "
                    "with decimal commas?); line skipped");
  EXPECT_EQ(err[1], "gapohm: warning: scan.csv:2: fields separated by ';' (a spreadsheet export "
                    "with decimal commas?); line skipped");
  EXPECT_EQ(err.back(), "gapohm: error: scan.csv: no measurement lines");
  EXPECT_FALSE(fileExists(run.out()));
}

// --------------------------------------------------------------- odd numbers

struct InProcess {
  ScanPoints points;
  std::vector<std::string> err;
};

InProcess readInProcess(const std::string& scan, const ChamberIndexList& gaps) {
  std::istringstream in(scan);
  std::ostringstream out, err;
  tk::Console console(out, err);
  InProcess r{readScanPoints(in, "scan.csv", gaps, console), lines(err.str())};
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(console.failed());
  return r;
}

TEST(BadNumbers, OnlyFiniteDecimalReadingsBecomePoints) {
  const InProcess r = readInProcess(
      "G,1e400,1000,1,990\n"        // 1 effective HV overflows
      "G,1000,1000,-0,990\n"        // 2 kept: a current of zero
      "G,nan,1000,1,990\n"          // 3
      "G,1001,1001,inf,990\n"       // 4
      "G,0x1p3,1000,1,990\n"        // 5 hexadecimal is no reading
      "G, 1012 V, 1012 V, 1 nA,990\n"  // 6 kept: blanks and units around a number
      "G,1013,1e308,1,1e-300\n"     // 7 finite reading, infinite corrected HV
      "G,1014,1014,1,-990\n"        // 8
      "G,1020,1020,1e-400,990\n",   // 9 kept: underflow is zero
      {{"G", 0}});
  EXPECT_EQ(r.err, (std::vector<std::string>{
                       "gapohm: warning: scan.csv:1: effective HV field \"1e400\" is not a finite number; line skipped",
                       "gapohm: warning: scan.csv:3: effective HV field \"nan\" is not a finite number; line skipped",
                       "gapohm: warning: scan.csv:4: current field \"inf\" is not a finite number; line skipped",
                       "gapohm: warning: scan.csv:5: effective HV field \"0x1p3\" is not a finite number; line skipped",
                       "gapohm: warning: scan.csv:7: applied HV 1e+308 at pressure 1e-300 gives a corrected HV that is not finite; line skipped",
                       "gapohm: warning: scan.csv:8: pressure -990 is not positive; line skipped"}));
  const tk::Graph& g = r.points.graphs[0];
  ASSERT_EQ(g.GetN(), 3);
  EXPECT_EQ(g.GetX(), (std::vector<double>{1000, 1012, 1020}));
  EXPECT_EQ(g.GetY(), (std::vector<double>{0, 1, 0}));
  EXPECT_EQ(r.points.notAscendingLine, std::vector<long>{0});
  EXPECT_EQ(r.points.usedLines, 3);
}

TEST(BadNumbers, NegativeCurrentsAreReportedAsFittedButNeverWithoutAWarning) {
  auto scan = argonLines();
  for (std::size_t k = 1; k < scan.size(); ++k) {
    auto f = split(scan[k], ',');
    f[3] = f[3][0] == '-' ? f[3].substr(1) : "-" + f[3];
    std::string line = f[0];
    for (std::size_t i = 1; i < f.size(); ++i) line += "," + f[i];
    scan[k] = line;
  }
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.written(), withReport(kArgonFigures));
  const auto report = lines(run.report());
  ASSERT_FALSE(report.empty());
  const auto err = run.errLines();
  // Every gap is accounted for: in the report, or on standard error.
  for (const std::string gap : {"KODEL-HXD-RE4-3-B002", "LAB-GAP-07", "RE3-PK-065-BOTTOM",
                                "RE3-PK-154-BOTTOM", "RE3-PK-154-TOPNARROW", "RE3-PK-154-TOPWIDE"}) {
    const bool reported = run.report().find("\n" + gap + " , ") != std::string::npos;
    const bool missing = std::any_of(err.begin(), err.end(), [&](const std::string& l) {
      return l.rfind("gapohm: warning: scan.csv: gap \"" + gap + "\": ", 0) == 0 &&
             l.find("; it has no line in Resistance.csv") != std::string::npos;
    });
    EXPECT_TRUE(reported != missing) << gap;
    // A negative resistivity in the report always comes with its warning.
    const bool negative = run.report().find("\n" + gap + " , -") != std::string::npos;
    const bool warned = std::any_of(err.begin(), err.end(), [&](const std::string& l) {
      return l.rfind("gapohm: warning: scan.csv: gap \"" + gap + "\": the ohmic-region fit gives a "
                     "negative resistivity, -", 0) == 0;
    });
    EXPECT_EQ(negative, warned) << gap;
  }
  EXPECT_TRUE(std::any_of(err.begin(), err.end(), [](const std::string& l) {
    return l.find("(the current falls as the HV rises: reversed polarity?)") != std::string::npos;
  })) << run.result.err;
}

TEST(BadNumbers, AllCurrentsZeroDrawsEveryGapAndReportsNone) {
  auto scan = argonLines();
  for (std::size_t k = 1; k < scan.size(); ++k) {
    auto f = split(scan[k], ',');
    f[3] = "0";
    std::string line = f[0];
    for (std::size_t i = 1; i < f.size(); ++i) line += "," + f[i];
    scan[k] = line;
  }
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.written(), withReport(kArgonFigures));
  EXPECT_EQ(lines(run.report()).size(), 1u);  // the header alone
  std::vector<std::string> expected;
  for (const std::string gap : {"KODEL-HXD-RE4-3-B002", "LAB-GAP-07", "RE3-PK-065-BOTTOM",
                                "RE3-PK-154-BOTTOM", "RE3-PK-154-TOPNARROW", "RE3-PK-154-TOPWIDE"}) {
    expected.push_back("gapohm: warning: scan.csv: gap \"" + gap +
                       "\": no ohmic region found (no window from point 16 to the last point "
                       "passed the line-fit test); it has no line in Resistance.csv");
  }
  EXPECT_EQ(run.errLines(), expected);
}

// ------------------------------------------------------------- scan structure

// The lines of one gap of the argon scan, in file order.
std::vector<std::string> gapLines(const std::string& gap) {
  std::vector<std::string> out;
  for (const auto& l : argonLines()) {
    if (l.rfind(gap + ",", 0) == 0) out.push_back(l);
  }
  return out;
}

TEST(BadStructure, AScanThatComesDownAgainIsNotSearched) {
  auto scan = argonLines();
  const auto up = gapLines("RE3-PK-154-BOTTOM");
  ASSERT_EQ(up.size(), 65u);
  // The ramp back: the same steps downwards, each measured anew (other temperature).
  for (std::size_t k = up.size() - 1; k-- > 0;) {
    auto f = split(up[k], ',');
    f[5] = "25.5";
    std::string line = f[0];
    for (std::size_t i = 1; i < f.size(); ++i) line += "," + f[i];
    scan.push_back(line);
  }
  const std::string firstDown = std::to_string(argonLines().size() + 1);
  const auto top = split(up.back(), ',')[1];
  const auto below = split(up[up.size() - 2], ',')[1];
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  std::ostringstream topText, belowText;
  topText << std::stod(top);
  belowText << std::stod(below);
  EXPECT_EQ(run.errLines(),
            (std::vector<std::string>{
                "gapohm: warning: scan.csv:" + firstDown + ": gap \"RE3-PK-154-BOTTOM\": effective HV " +
                    belowText.str() + " V comes after " + topText.str() +
                    " V: the scan is not ascending; the gap's ohmic region is not searched",
                "gapohm: warning: scan.csv: gap \"RE3-PK-154-BOTTOM\": not searched (its HV comes "
                "down at line " + firstDown + "); it has no line in Resistance.csv"}));
  std::vector<std::string> figures = kArgonFigures;
  figures.erase(std::find(figures.begin(), figures.end(), "RE3-PK-154-BOTTOM.png"));
  EXPECT_EQ(run.written(), withReport(figures));
  EXPECT_EQ(run.report(), reportWithout(cleanReport(), "RE3-PK-154-BOTTOM"));
}

TEST(BadStructure, DuplicatedLinesCountOnce) {
  const auto clean = argonLines();
  std::vector<std::string> scan;
  for (const auto& l : clean) {
    scan.push_back(l);
    scan.push_back(l);
  }
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  const auto err = run.errLines();
  ASSERT_EQ(err.size(), clean.size());
  EXPECT_EQ(err[0], "gapohm: warning: scan.csv:2: header line inside the scan skipped");
  for (std::size_t k = 1; k < clean.size(); ++k) {
    EXPECT_EQ(err[k], "gapohm: warning: scan.csv:" + std::to_string(2 * k + 2) + ": line repeats line " +
                          std::to_string(2 * k + 1) + " exactly; skipped");
  }
  EXPECT_EQ(run.report(), cleanReport());
}

TEST(BadStructure, AGapWithTooFewPointsIsDrawnAndSaidToBeTooShort) {
  auto scan = argonLines();
  const auto lab = gapLines("LAB-GAP-07");
  for (std::size_t k = 0; k < 15; ++k) scan.push_back("SHORT-GAP" + lab[k].substr(lab[k].find(',')));
  ScanRun run;
  analyse(run, join(scan));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.errLines(),
            (std::vector<std::string>{"gapohm: warning: scan.csv: gap \"SHORT-GAP\": only 15 points, "
                                      "too few for the ohmic-region search (it needs 18); it has no "
                                      "line in Resistance.csv"}));
  auto figures = kArgonFigures;
  figures.push_back("SHORT-GAP.png");
  EXPECT_EQ(run.written(), withReport(figures));
  EXPECT_EQ(run.report(), cleanReport());
}

// ------------------------------------------------------------------ gap names

// A scan of the LAB-GAP-07 measurements under each of `names`.
std::string labScanNamed(const std::vector<std::string>& names) {
  std::string scan = argonLines()[0] + "\n";
  for (const auto& name : names) {
    for (const auto& l : gapLines("LAB-GAP-07")) scan += name + l.substr(l.find(',')) + "\n";
  }
  return scan;
}

TEST(BadNames, AwkwardGapNamesStayInsideTheOutputDirectoryAndInTheReport) {
  const std::vector<std::string> names = {"a/b",           "..",         "../../escape",
                                          "with space",    ".",          "x_{1}&%$#~^\\",
                                          "G\xC3\xA4p-\xCE\xA9"};
  ScanRun run;
  analyse(run, labScanNamed(names));
  EXPECT_EQ(run.result.status, 0);
  // "." and ".." both become "_": the later replaces the earlier's figure, and says so.
  EXPECT_EQ(run.errLines(), (std::vector<std::string>{
                                "gapohm: warning: scan.csv: gap \"..\": its figure _.png replaces the "
                                "one of gap \".\""}));
  EXPECT_EQ(listDir(run.home.path()), (std::vector<std::string>{"out", "scan.csv"}));
  EXPECT_EQ(run.written(),
            (std::vector<std::string>{".._.._escape.png", "ALLcurrents.png", "G\xC3\xA4p-\xCE\xA9.png",
                                      "Resistance.csv", "_.png", "a_b.png", "with space.png",
                                      "x_{1}&%$#~^_.png"}));
  // Every gap's numbers are LAB-GAP-07's, under its own name; the LaTeX row escapes it.
  const auto clean = lines(cleanReport());
  std::string csv, latex;
  for (const auto& l : clean) {
    if (l.rfind("LAB-GAP-07 , ", 0) == 0) csv = l.substr(std::string("LAB-GAP-07").size());
    if (l.rfind("LAB-GAP-07 &, ", 0) == 0) latex = l.substr(std::string("LAB-GAP-07").size());
  }
  ASSERT_FALSE(csv.empty());
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> expected = {lines(run.report())[0]};
  for (const auto& name : sorted) {
    expected.push_back(name + csv);
    expected.push_back(latexEscape(name) + latex);
  }
  EXPECT_EQ(lines(run.report()), expected);
  EXPECT_EQ(latexEscape("x_{1}&%$#~^\\"),
            "x\\_\\{1\\}\\&\\%\\$\\#\\textasciitilde{}\\textasciicircum{}\\textbackslash{}");
}

TEST(BadNames, GapNamesThatShareAFigureFileAreNamed) {
  ScanRun run;
  analyse(run, labScanNamed({"a/b", "a_b", "ALLcurrents"}));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.errLines(),
            (std::vector<std::string>{
                "gapohm: warning: scan.csv: gap \"ALLcurrents\": its figure ALLcurrents.png "
                "replaces the one of the combined figure",
                "gapohm: warning: scan.csv: gap \"a_b\": its figure a_b.png replaces the one of gap "
                "\"a/b\""}));
  EXPECT_EQ(run.written(), (std::vector<std::string>{"ALLcurrents.png", "Resistance.csv", "a_b.png"}));
  EXPECT_EQ(lines(run.report()).size(), 7u);
}

TEST(BadNames, NamesTooLongForAFileNameStillGetTheirOwnFigures) {
  const std::string first = std::string(300, 'A');
  const std::string second = std::string(299, 'A') + "B";
  const std::string third = std::string(179, 'A') + "\xC3\xA4" + std::string(100, 'C');
  ScanRun run;
  analyse(run, labScanNamed({first, second, third}), {"--verbose"});
  EXPECT_EQ(run.result.status, 0) << run.result.err.substr(0, 500);
  EXPECT_EQ(run.result.err, "");
  const auto written = run.written();
  // The combined figure, the report, and per gap its figure and three diagnostics.
  ASSERT_EQ(written.size(), 2u + 3u * 4u);
  // Room left within 255 bytes for the endings of temporary files.
  for (const auto& f : written) EXPECT_LE(f.size(), 220u) << f;
  EXPECT_EQ(safeFileName(third).substr(0, 179), std::string(179, 'A'));  // not cut inside "ä"
  EXPECT_EQ(safeFileName(third)[179], '~');
  EXPECT_NE(safeFileName(first), safeFileName(second));
  EXPECT_EQ(lines(run.report()).size(), 7u);
}

TEST(BadNames, ANameThatIsNoUtf8IsDrawnWithoutTheFigureLibraryFailing) {
  ScanRun run;
  analyse(run, labScanNamed({"GAP-\xFF\xFE-07"}));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.err, "");  // the plotting library must not see invalid text
  EXPECT_EQ(run.written(),
            (std::vector<std::string>{"ALLcurrents.png", "GAP-\xFF\xFE-07.png", "Resistance.csv"}));
  EXPECT_TRUE(completePng(run.home.file("out/ALLcurrents.png")));
}

// --------------------------------------------------------- the style macro

TEST(BadStyleMacro, NumbersNoIntegerCanHoldAreIgnoredNotConverted) {
  // Found by the style-macro fuzzer: such values reached int conversions.
  std::istringstream macro(
      "{\n"
      "  TStyle *uLm = new TStyle(\"uLm\", \"uLm\");\n"
      "  uLm->SetTextFont(3.3e57);\n"
      "  uLm->SetCanvasColor(1e60);\n"
      "  uLm->SetLegendFillColor(kRed+1e60);\n"
      "}\n");
  const tk::Style before;
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_EQ(style.font, before.font);
  EXPECT_EQ(style.canvasColor, before.canvasColor);
  EXPECT_EQ(style.legendFillColor, before.legendFillColor);
  EXPECT_EQ(ignored.size(), 3u);
}

// --------------------------------------------------------------- bad places

TEST(BadPlaces, AScanPathThatIsADirectory) {
  ScanRun run;
  ASSERT_EQ(mkdir(run.home.file("scans").c_str(), 0755), 0);
  run.result = testsupport::runGapohm({"--output-dir", "out", "scans"}, run.home.path(), run.home.path());
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.err, "gapohm: error: cannot read scan file scans: it is a directory\n");
  EXPECT_FALSE(fileExists(run.out()));
}

std::vector<std::string> figureErrors(const std::string& reason) {
  std::vector<std::string> out;
  for (const auto& f : kArgonFigures) out.push_back("gapohm: error: cannot write figure out/" + f + ": " + reason);
  return out;
}

TEST(BadPlaces, AReadOnlyOutputDirectoryGetsNothingAndEveryFileIsNamed) {
  ScanRun run;
  writeFile(run.home.file("scan.csv"), join(argonLines()));
  ASSERT_EQ(mkdir(run.out().c_str(), 0555), 0);
  // Root writes into read-only directories: as root, the run is made as "nobody"
  // (the scratch home opened up for it to read the scan).
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chmod(run.home.path().c_str(), 0755), 0);
  }
  run.result = runChild({"--output-dir", "out", "scan.csv"}, run.home.path(), {std::nullopt, root});
  EXPECT_EQ(run.result.status, 1);
  auto expected = figureErrors("Permission denied");
  expected.push_back("gapohm: error: cannot write out/Resistance.csv: Permission denied");
  EXPECT_EQ(run.errLines(), expected);
  EXPECT_EQ(run.written(), std::vector<std::string>{});
}

TEST(BadPlaces, ADeviceWithNoRoomAtAllGetsNothingAndEveryFileIsNamed) {
  ScanRun run;
  writeFile(run.home.file("scan.csv"), join(argonLines()));
  run.result = runChild({"--output-dir", "out", "scan.csv"}, run.home.path(), {rlim_t{0}, false});
  EXPECT_EQ(run.result.status, 1);
  auto expected = figureErrors("File too large");
  expected.push_back("gapohm: error: cannot write out/Resistance.csv: File too large");
  EXPECT_EQ(run.errLines(), expected);
  EXPECT_EQ(run.written(), std::vector<std::string>{});
}

TEST(BadPlaces, ADirectoryWhereTheReportGoesFailsTheRunButNotTheFigures) {
  ScanRun run;
  ASSERT_EQ(mkdir(run.out().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(run.home.file("out/Resistance.csv").c_str(), 0755), 0);
  analyse(run, join(argonLines()));
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.err, "gapohm: error: cannot write out/Resistance.csv: Is a directory\n");
  EXPECT_EQ(run.written(), withReport(kArgonFigures));  // no temporary file left beside them
  EXPECT_EQ(listDir(run.home.file("out/Resistance.csv")), std::vector<std::string>{});
  for (const auto& f : kArgonFigures) EXPECT_TRUE(completePng(run.home.file("out/" + f))) << f;
}

TEST(BadPlaces, AnOutputDirectoryThatIsTheScanFileLeavesTheScanAlone) {
  ScanRun run;
  const std::string scan = join(argonLines());
  writeFile(run.home.file("scan.csv"), scan);
  run.result = testsupport::runGapohm({"--output-dir", "scan.csv", "scan.csv"}, run.home.path(),
                                      run.home.path());
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(readFile(run.home.file("scan.csv")), scan);
  EXPECT_EQ(listDir(run.home.path()), (std::vector<std::string>{"scan.csv"}));
  // Every output says where it could not go.
  const auto err = run.errLines();
  ASSERT_FALSE(err.empty());
  for (const auto& l : err) {
    EXPECT_TRUE(l == "gapohm: error: cannot create directory scan.csv: it exists and is not a directory" ||
                l.rfind("gapohm: error: cannot write ", 0) == 0)
        << l;
  }
  EXPECT_NE(run.result.err.find("gapohm: error: cannot write scan.csv/Resistance.csv: Not a directory"),
            std::string::npos);
}

TEST(BadPlaces, LinksPlantedInTheOutputDirectoryAreReplacedNotFollowed) {
  ScanRun run;
  ASSERT_EQ(mkdir(run.out().c_str(), 0755), 0);
  writeFile(run.home.file("elsewhere.png"), "keep");
  writeFile(run.home.file("elsewhere.csv"), "keep");
  ASSERT_EQ(symlink("../elsewhere.png", run.home.file("out/ALLcurrents.png").c_str()), 0);
  ASSERT_EQ(symlink("../elsewhere.csv", run.home.file("out/Resistance.csv").c_str()), 0);
  analyse(run, join(argonLines()));
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(readFile(run.home.file("elsewhere.png")), "keep");
  EXPECT_EQ(readFile(run.home.file("elsewhere.csv")), "keep");
  struct stat info {};
  ASSERT_EQ(lstat(run.home.file("out/ALLcurrents.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_TRUE(completePng(run.home.file("out/ALLcurrents.png")));
  ASSERT_EQ(lstat(run.home.file("out/Resistance.csv").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(run.report(), cleanReport());
}

TEST(BadPlaces, AScanThroughAPipeIsReadOnceForEverything) {
  ScanRun regular;
  analyse(regular, join(argonLines()), {"--entries"});
  ASSERT_EQ(regular.result.status, 0);

  ScanRun piped;
  const std::string fifo = piped.home.file("scan.csv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    writeFile(fifo, join(argonLines()));
    _exit(0);
  }
  piped.result = testsupport::runGapohm({"--output-dir", "out", "--entries", "scan.csv"},
                                        piped.home.path(), piped.home.path());
  waitpid(writer, nullptr, 0);
  EXPECT_EQ(piped.result.status, 0) << piped.result.err;
  EXPECT_EQ(piped.result.err, "");
  EXPECT_EQ(readFile(piped.home.file("out/Entries.csv")), readFile(regular.home.file("out/Entries.csv")));
  EXPECT_EQ(piped.report(), regular.report());
}

TEST(BadPlaces, ADeviceAsTheScanIsRefusedInsteadOfReadForever) {
  ScanRun run;
  // A node of the never-ending zero device, inside the scratch directory.
  if (mknod(run.home.file("zero").c_str(), S_IFCHR | 0644, makedev(1, 5)) != 0) {
    GTEST_SKIP() << "making a device node needs root";
  }
  run.result = testsupport::runGapohm({"--output-dir", "out", "zero"}, run.home.path(), run.home.path());
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.err, "gapohm: error: cannot read scan file zero: it is a device\n");
  EXPECT_FALSE(fileExists(run.out()));
}

TEST(BadPlaces, AnUnreadableScanNamesTheReasonAndWritesNothing) {
  ScanRun run;
  writeFile(run.home.file("scan.csv"), join(argonLines()));
  ASSERT_EQ(chmod(run.home.file("scan.csv").c_str(), 0), 0);
  ASSERT_EQ(chmod(run.home.path().c_str(), 0777), 0);  // "nobody" may create out/
  run.result = runChild({"--output-dir", "out", "scan.csv"}, run.home.path(), {std::nullopt, geteuid() == 0});
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.err, "gapohm: error: cannot open scan file scan.csv: Permission denied\n");
  EXPECT_FALSE(fileExists(run.out()));
}

TEST(BadPlaces, FilesThatOutgrowTheDeviceAreReportedAndNeverLeftHalfWritten) {
  ScanRun run;
  writeFile(run.home.file("scan.csv"), join(argonLines()));
  // Room for the report (about 1.5 kB) but for no figure.
  run.result = runChild({"--output-dir", "out", "scan.csv"}, run.home.path(), {rlim_t{8192}, false});
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.errLines(), figureErrors("File too large"));
  EXPECT_EQ(run.written(), std::vector<std::string>{"Resistance.csv"});
  EXPECT_EQ(run.report(), cleanReport());
}

}  // namespace
