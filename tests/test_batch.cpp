// Figures painted by several processes, and many scans in one call: what they
// write must be what one process, one scan at a time, writes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/TestSupport.h"
#include "aux/ResultsTable.h"
#include "tools/gapohm.h"

namespace {

using namespace testsupport;

std::vector<unsigned char> pixelsOf(const std::string& path) { return decodePng(path).rgb; }  // empty: unreadable

TEST(Batch, EachScanIsWrittenAsASingleRunWouldAndFailuresStopNothing) {
  ScratchDir dir;
  const std::string scans = dir.file("campaign, week 2");  // a comma the summary must quote
  std::filesystem::create_directories(scans);
  writeFile(scans + "/argon.csv", readFile(examplePath("argon_scan.csv")));
  writeFile(scans + "/standard.csv", readFile(examplePath("standard_scan.csv")));
  writeFile(scans + "/broken.csv", "DETECTOR,HVeff,HVapp,Current,Pressure,Temperature,Humidity\n");
  writeFile(scans + "/notes.txt", "not a scan\n");
  // The directory, then one of its scans again, whose outputs would overwrite the first's.
  const RunResult batch =
      runGapohm({"--batch", "-j", "2", "--scan-date", "2024-01-15", "-o", "batch", scans, scans + "/argon.csv"}, inHome(dir));
  EXPECT_EQ(batch.status, 1) << batch.err;
  EXPECT_NE(batch.out.find("[4/4]"), std::string::npos) << batch.out;
  EXPECT_NE(batch.out.find("standard.csv: ok, 3 gaps, 0 fitted (not searched: HV axis at or above 2500 V), outputs in "),
            std::string::npos) << batch.out;
  EXPECT_NE(batch.err.find("broken.csv: no measurement lines"), std::string::npos) << batch.err;
  for (const std::string name : {"argon", "standard"}) {
    ASSERT_EQ(runGapohm({"-j", "1", "--scan-date", "2024-01-15", "-o", "single/" + name, scans + "/" + name + ".csv"}, inHome(dir)).status, 0);
    const std::string single = dir.file("single/" + name), batched = dir.file("batch/" + name);
    ASSERT_EQ(listDir(single), listDir(batched));
    for (const std::string& f : listDir(single)) {  // reports byte for byte, figures pixel for pixel
      const bool png = f.find(".png") != std::string::npos;
      EXPECT_TRUE(png ? pixelsOf(single + "/" + f) == pixelsOf(batched + "/" + f) && !pixelsOf(single + "/" + f).empty()
                      : readFile(single + "/" + f) == readFile(batched + "/" + f)) << f;
    }
  }
  EXPECT_EQ(listDir(dir.file("batch")), (std::vector<std::string>{"BatchSummary.csv", "argon", "campaign.tex", "figures", "index.html", "standard", "thumbs", "verdicts.csv"}));
  // The date given reaches every scan's rows; the failed scans are named on the page, and the
  // closing line counts the verdicts of the gaps of the scans that did not fail.
  EXPECT_NE(readFile(dir.file("batch/standard/results.csv")).find(",2024-01-15,option,"), std::string::npos);
  EXPECT_NE(readFile(dir.file("batch/index.html")).find("<li>" + scans + "/broken.csv: scan failed: "), std::string::npos);
  EXPECT_NE(batch.out.find("; verdicts of 9 gaps: 0 FAIL, 0 DRIFT, 0 MARGINAL, 9 NO RESULT, 0 PASS\n"), std::string::npos) << batch.out;
  // Header, 6 argon gaps, the broken scan, 3 standard gaps, the repeated scan.
  const std::vector<std::string> rows = lines(readFile(dir.file("batch/BatchSummary.csv")));
  ASSERT_EQ(rows.size(), 12U);
  const std::string quoted = "\"" + scans + "/";
  // The summary's rows of a scan are its results table's, written by one writer.
  EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 7), lines(readFile(dir.file("batch/argon/results.csv"))));
  EXPECT_EQ(rows[1].rfind(quoted + "argon.csv\",KODEL-HXD-RE4-3-B002,fitted,", 0), 0U) << rows[1];
  EXPECT_EQ(rows[7].rfind(quoted + "broken.csv\",,\"scan failed: ", 0), 0U) << rows[7];
  EXPECT_NE(rows[10].find(",\"window search not run: HV axis ends at "), std::string::npos) << rows[10];
  EXPECT_NE(rows[11].find("scan failed: its outputs would replace those of"), std::string::npos) << rows[11];
}

// A worker analyses scan after scan: a scan's outputs must not depend on what
// it analysed before (stream formats, the plotting library's and the vector
// surfaces' numbering, warnings of a broken scan).
TEST(Batch, AScanAfterFiftyOthersGivesTheBytesItGivesFirst) {
  ScratchDir dir;
  const std::string argon = readFile(examplePath("argon_scan.csv"));
  // Two of the argon gaps keep both fits and the figures busy at a third of the cost.
  std::string twoGaps;
  for (const std::string& l : lines(argon)) {
    if (l.rfind("DETECTOR", 0) == 0 || l.rfind("LAB-GAP-07,", 0) == 0 || l.rfind("RE3-PK-154-BOTTOM,", 0) == 0) twoGaps += l + "\n";
  }
  const std::string others[] = {twoGaps, readFile(examplePath("standard_scan.csv")),
                                twoGaps + "LAB-GAP-07,x,,,\n,,,\n", "DETECTOR,HVeff\n"};
  std::vector<std::string> alone = {"--batch", "-j", "1", "--annotate", "--entries", "--format", "svg", "-o", "alone"};
  std::vector<std::string> many = alone;
  many.back() = "many";
  for (int k = 0; k < 50; ++k) {
    many.push_back("a" + std::to_string(10 + k) + ".csv");
    writeFile(dir.file(many.back()), others[k % 4]);
  }
  writeFile(dir.file("z.csv"), argon);
  alone.emplace_back("z.csv");
  many.emplace_back("z.csv");
  const RunResult first = runGapohm(alone, inHome(dir)), last = runGapohm(many, inHome(dir));
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(last.out.find("[51/51] z.csv: ok"), std::string::npos) << last.out;
  const std::string a = dir.file("alone/z"), b = dir.file("many/z");
  ASSERT_EQ(listDir(a), listDir(b));
  EXPECT_GT(listDir(a).size(), 10U);
  for (const std::string& f : listDir(a)) EXPECT_EQ(readFile(a + "/" + f), readFile(b + "/" + f)) << f;
}

// ------------------------------------------------------------ process faults

Started start(const std::vector<std::string>& args, const ScratchDir& dir) { return startGapohm(args, inHome(dir)); }

// Reads `fd` until `text` has come (true) or the stream ends or 180 s pass (a loaded machine
// takes a minute for the 300-gap scans).
bool readUntil(int fd, const std::string& text, std::string& got) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got.find(text) != std::string::npos;
}

// Polls /proc until `parent` has at least `count` children that are not
// zombies (true) or 60 s pass.
bool waitForChildren(pid_t parent, std::size_t count, std::vector<pid_t>& children) {
  for (int k = 0; k < 6000 && children.size() < count; ++k, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    children.clear();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
      std::istringstream rest(line.substr(line.rfind(')') + 2));
      char state = 0;
      pid_t ppid = 0;
      if (rest >> state >> ppid && ppid == parent && state != 'Z') children.push_back(std::stoi(entry.path().filename()));
    }
  }
  return children.size() >= count;
}

// True once the process is gone (or a zombie nobody reaps), polled up to 60 s.
bool ends(pid_t pid) {
  for (int k = 0; k < 6000; ++k) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Every hidden (temporary) file under `dir`.
std::vector<std::string> hiddenFiles(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec); !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string()[0] == '.') found.push_back(it->path().string());
  }
  return found;
}

// An argon scan whose ohmic-region searches and figures take many seconds: the
// lab gap's measurements under `gaps` names.
std::string slowScan(int gaps = 300) {
  const std::vector<std::string> argon = lines(readFile(examplePath("argon_scan.csv")));
  std::string scan = argon[0] + "\n";
  for (int g = 0; g < gaps; ++g) {
    for (const auto& l : argon) {
      if (l.rfind("LAB-GAP-07,", 0) == 0) scan += "GAP-" + std::to_string(g) + l.substr(10) + "\n";
    }
  }
  return scan;
}

// A fast scan, then two slow ones running when the batch is stopped, and one
// never started. Stopped by SIGTERM, the batch ends its scans and tells which
// finished; killed, it cannot, but its scans still end, removing their
// temporary files (a finished scan would have written its report last).
TEST(BatchProcesses, StoppedOrKilledTheBatchEndsItsScans) {
  for (const int signal : {SIGTERM, SIGKILL}) {
    ScratchDir dir;
    writeFile(dir.file("a.csv"), readFile(examplePath("argon_scan.csv")));
    for (const char* slow : {"b.csv", "c.csv", "d.csv"}) writeFile(dir.file(slow), slowScan());
    const Started batch = start({"--batch", "-j", "2", "-o", "out", "a.csv", "b.csv", "c.csv", "d.csv"}, dir);
    std::string out;
    ASSERT_TRUE(readUntil(batch.out, "[1/4] a.csv: ok", out)) << out;
    std::vector<pid_t> scans;
    ASSERT_TRUE(waitForChildren(batch.pid, 2, scans));
    kill(batch.pid, signal);
    out += drain(batch.out);
    const std::string err = drain(batch.err);
    EXPECT_EQ(exitStatus(batch.pid), 128 + signal) << err;
    for (const pid_t scan : scans) EXPECT_TRUE(ends(scan)) << scan;
    for (const char* report : {"out/b/Resistance.csv", "out/c/Resistance.csv", "out/d"}) EXPECT_FALSE(fileExists(dir.file(report)));
    EXPECT_EQ(hiddenFiles(dir.file("out")), std::vector<std::string>{});
    if (signal == SIGKILL) {  // what no process can clean up after SIGKILL: the batch's own directory
      const std::vector<std::string> left = listDir(dir.tmp());
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(left[0].rfind("gapohm-batch-", 0), 0u) << left[0];
      std::filesystem::remove_all(dir.tmp() + "/" + left[0]);
      continue;
    }
    for (const char* line : {"gapohm: [3/4] ", "b.csv: interrupted\n", "c.csv: interrupted\n",
                             "gapohm: 4 scans, 0 failed, 3 interrupted; summary in out/BatchSummary.csv\n"}) {
      EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    EXPECT_NE(err.find("gapohm: error: stopped by SIGTERM"), std::string::npos) << err;
    const std::vector<std::string> summary = lines(readFile(dir.file("out/BatchSummary.csv")));
    ASSERT_EQ(summary.size(), 10u);  // header, a's six gaps, b, c and d interrupted
    EXPECT_NE(summary[6].find(",fitted"), std::string::npos);
    const std::string empty(resultsColumns().size() - 3, ',');
    for (int k = 0; k < 3; ++k) EXPECT_EQ(summary[7 + k], std::string(1, "bcd"[k]) + ".csv,,interrupted" + empty);
    EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
  }
}

// A worker killed mid-scan fails that scan alone; a fresh worker takes the next
// ones, and each scan's messages reach standard error once, in turn, though one
// worker's messages file serves all its scans.
TEST(BatchProcesses, AKilledWorkerFailsItsScanAndEachScansMessagesComeOnce) {
  ScratchDir dir;
  writeFile(dir.file("slow.csv"), slowScan());
  const std::string header = "DETECTOR,HVeff,HVapp,Current,Pressure,Temperature,Humidity\n";
  writeFile(dir.file("first.csv"), header);
  writeFile(dir.file("second.csv"), header);
  writeFile(dir.file("argon.csv"), readFile(examplePath("argon_scan.csv")));
  const Started batch = start({"--batch", "-j", "1", "-o", "out", "slow.csv", "first.csv", "second.csv", "argon.csv"}, dir);
  std::vector<pid_t> workers;
  ASSERT_TRUE(waitForChildren(batch.pid, 1, workers));  // started with slow.csv handed to it
  kill(workers[0], SIGKILL);
  const std::string out = drain(batch.out);
  const std::string err = drain(batch.err);
  EXPECT_EQ(exitStatus(batch.pid), 1) << err;
  EXPECT_NE(out.find("slow.csv: FAILED (its analysis process was killed by signal 9)"), std::string::npos) << out;
  EXPECT_NE(out.find("[4/4] argon.csv: ok, 6 gaps"), std::string::npos) << out;
  const std::string first = "first.csv: no measurement lines", second = "second.csv: no measurement lines";
  const std::size_t at = err.find(first);
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find(first, at + 1), std::string::npos) << err;
  EXPECT_GT(err.find(second), at) << err;
  EXPECT_EQ(err.find(second, err.find(second) + 1), std::string::npos) << err;
  EXPECT_EQ(listDir(dir.tmp()), std::vector<std::string>{});
  EXPECT_EQ(hiddenFiles(dir.file("out")), std::vector<std::string>{});
}

// Stopped while it makes its page (its scan done, the summary written), the batch
// leaves out what it had not made, writes the page, removes its own directory
// and every temporary file, and ends as the signal asks.
TEST(BatchProcesses, StoppedWhileMakingItsPageTheBatchLeavesNothingBehind) {
  for (const int signal : {SIGINT, SIGTERM}) {
    ScratchDir dir;
    writeFile(dir.file("a.csv"), slowScan());  // a page of 300 gaps: some 0.2 s of summary figures
    const Started batch = start({"--batch", "-j", "1", "-o", "out", "a.csv"}, dir);
    std::string out;
    ASSERT_TRUE(readUntil(batch.out, "[1/1] a.csv: ok", out)) << out;
    kill(batch.pid, signal);
    out += drain(batch.out);
    const std::string err = drain(batch.err);
    EXPECT_EQ(exitStatus(batch.pid), 128 + signal) << err;
    EXPECT_NE(err.find("while the report page was made"), std::string::npos) << err;
    EXPECT_NE(out.find("1 scans, 0 failed, 0 interrupted; summary in out/BatchSummary.csv"), std::string::npos) << out;
    EXPECT_NE(readFile(dir.file("out/index.html")).find("</html>"), std::string::npos);
    EXPECT_EQ(lines(readFile(dir.file("out/BatchSummary.csv"))).size(), 301u);
    EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
    EXPECT_EQ(listDir(dir.tmp()), std::vector<std::string>{});
  }
}

TEST(BatchProcesses, AClosedStandardOutputFailsTheBatchButNotItsScans) {
  ScratchDir dir;
  writeFile(dir.file("a.csv"), readFile(examplePath("argon_scan.csv")));
  writeFile(dir.file("b.csv"), readFile(examplePath("argon_scan.csv")));
  const Started batch = start({"--batch", "-j", "1", "-o", "out", "a.csv", "b.csv"}, dir);
  std::string out;
  ASSERT_TRUE(readUntil(batch.out, "\n", out)) << out;
  close(batch.out);  // as `| head -1` does; b's line and the last line find no reader
  const std::string err = drain(batch.err);
  EXPECT_EQ(exitStatus(batch.pid), 1) << err;
  // The scans' warnings are forwarded as ever; the one error is the closed output's.
  EXPECT_EQ(lines(err).back(), "gapohm: error: standard output could not be written (closed, or its device is full): its lines are "
                               "lost; the files written are complete");
  EXPECT_EQ(err.find("error:"), err.rfind("error:")) << err;
  EXPECT_EQ(lines(readFile(dir.file("out/BatchSummary.csv"))).size(), 13u);
  EXPECT_TRUE(fileExists(dir.file("out/b/Resistance.csv")));
}

TEST(SingleRun, StoppedBySigintLeavesNoTemporaryOrPartialFile) {
  ScratchDir dir;
  writeFile(dir.file("scan.csv"), slowScan());
  const Started run = start({"-j", "1", "-o", "out", "scan.csv"}, dir);
  for (int k = 0; k < 6000 && listDir(dir.file("out")).size() < 3; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(run.pid, SIGINT);
  drain(run.out);
  drain(run.err);
  EXPECT_EQ(exitStatus(run.pid), 128 + SIGINT);
  EXPECT_EQ(hiddenFiles(dir.file("out")), std::vector<std::string>{});
  for (const std::string& f : listDir(dir.file("out"))) {
    EXPECT_TRUE(f == "thumbs" || !pixelsOf(dir.file("out/" + f)).empty()) << f;
  }
  for (const std::string& f : listDir(dir.file("out/thumbs"))) EXPECT_FALSE(pixelsOf(dir.file("out/thumbs/" + f)).empty()) << f;
  EXPECT_FALSE(fileExists(dir.file("out/Resistance.csv")));
}

// ------------------------------------------------------------- outcome texts

ResultsRow gapRow(const std::string& gap, const std::string& status) {
  ResultsRow row = ResultsRow{};
  row.set("scan", "s.csv");
  row.set("gap", gap);
  row.set("status", status);
  if (status == "fitted") row.set("rho_ohm_cm", "25000000000");
  return row;
}

TEST(Outcome, WhatAScanProcessWritesIsWhatTheBatchReads) {
  const ResultsRow fitted = gapRow("G,1", "fitted"), none = gapRow("H", "no ohmic region found");
  struct Case {
    int status;
    std::vector<std::string> errors;
    std::vector<ResultsRow> gaps;
    std::string why;
  } cases[] = {
      {0, {}, {fitted, none}, ""},
      {1, {"cannot write out/x.png: File too large\nsecond line", "later"}, {none}, "cannot write out/x.png: File too large second line"},
      {1, {"scan.csv: no measurement lines"}, {}, "scan.csv: no measurement lines"},
  };
  for (const Case& c : cases) {
    ScanOutcome read;
    int status = -1;
    const std::string text = outcomeText(c.status, c.errors, c.gaps);
    ASSERT_TRUE(readOutcomeText(text, status, read)) << text;
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(read.why, c.why);
    EXPECT_EQ(read.gaps, static_cast<int>(c.gaps.size()));
    EXPECT_EQ(read.fitted, c.gaps.empty() || c.status != 0 ? 0 : 1);
    std::vector<ResultsRow> back;
    std::string error;
    ASSERT_TRUE(parseResultsCsv(resultsCsvText({}) + read.rows, "outcome", back, error)) << error;
    ASSERT_EQ(back.size(), c.gaps.size());
    for (std::size_t k = 0; k < back.size(); ++k) EXPECT_TRUE(sameResultsRow(back[k], c.gaps[k]));
    // A file cut anywhere before its rows is no outcome.
    for (std::size_t cut = 0; cut < text.find("\nrows\n") + 6; ++cut) EXPECT_FALSE(readOutcomeText(text.substr(0, cut), status, read)) << cut;
  }
}

TEST(Outcome, SummaryIsTheResultsTableWithARowForAFailedOrInterruptedScan) {
  const std::string empty(resultsColumns().size() - 3, ',');
  ScanOutcome ok{"a.csv", ScanOutcome::State::finished, "", 1, 1, 0, "a.csv,G,fitted" + empty + "\n"};
  ScanOutcome failed{"b, c.csv", ScanOutcome::State::failed, "cannot write \"x\"", 1, 0, 0, "\"b, c.csv\",H,why" + empty + "\n"};
  ScanOutcome stopped{"d.csv", ScanOutcome::State::interrupted, "", 0, 0, 0, ""};
  EXPECT_EQ(batchSummary({ok, failed, stopped}),
            resultsCsvText({}) + "a.csv,G,fitted" + empty + "\n\"b, c.csv\",H,why" + empty +
                "\n\"b, c.csv\",,\"scan failed: cannot write \"\"x\"\"\"" + empty + "\nd.csv,,interrupted" + empty + "\n");
}

// This process's environment, with TMPDIR the scratch directory's.
EnvLookup withTmpdir(const ScratchDir& dir) {
  return [tmp = dir.tmp()](const std::string& name) {
    return name == "TMPDIR" ? std::optional<std::string>(tmp) : processEnvironment()(name);
  };
}

// A signal set of /proc/<who>/status ("SigBlk", "SigIgn"), bit n - 1 for signal
// n; the line is read from `text` when given.
unsigned long long signalSet(const std::string& who, const std::string& key, const std::string& text = "") {
  for (const std::string& l : lines(text.empty() ? readFile("/proc/" + who + "/status") : text)) {
    if (l.rfind(key + ":", 0) == 0) return std::stoull(l.substr(key.size() + 1), nullptr, 16);
  }
  return ~0ULL;
}

// The program run for each scan is the one named (here the built program, from
// a test binary that is not it), with the signal state the batch was started
// with: a stop it is sent must end it, so no stop signal blocked (exec keeps the
// mask), and a SIGINT the batch was started ignoring stays ignored.
TEST(Batch, RunsTheProgramItIsGivenWithTheSignalStateItWasStartedWith) {
  ScratchDir dir;
  writeFile(dir.file("a.csv"), readFile(examplePath("argon_scan.csv")));
  // Not a shell script: dash clears the mask it starts with (perl ignores SIGFPE, not these).
  writeFile(dir.file("show"), "#!/usr/bin/perl\nopen(my $s, '<', '/proc/self/status') or die;\nprint STDERR grep(/^Sig(Blk|Ign):/, <$s>);\n");
  ASSERT_EQ(chmod(dir.file("show").c_str(), 0700), 0);
  std::string out, err;
  auto run = [&](const std::string& program, const std::string& summary) {
    std::ostringstream o, e;
    tk::Console console(o, e);
    RunOptions options;
    options.executable = program;
    const int status = runBatch({dir.file("a.csv")}, options, {withTmpdir(dir), "20130930", dir.file("out")}, summary, console);
    out = o.str(), err = e.str();
    return status;
  };
  EXPECT_EQ(run(GAPOHM_BINARY, ""), 0) << err;
  EXPECT_NE(out.find("[1/1] " + dir.file("a.csv") + ": ok, 6 gaps, 6 fitted"), std::string::npos) << out;
  EXPECT_EQ(run(dir.file("no-such-program"), dir.file("s.csv")), 1);
  EXPECT_NE(lines(readFile(dir.file("s.csv"))).back().find(",scan failed: its analysis process ended with status 127"), std::string::npos);
  const unsigned long long stops = 1ULL << (SIGINT - 1) | 1ULL << (SIGTERM - 1);
  for (const auto disposition : {SIG_DFL, SIG_IGN}) {
    const auto before = std::signal(SIGINT, disposition);
    const unsigned long long blocked = signalSet("thread-self", "SigBlk"), ignored = signalSet("self", "SigIgn") & stops;
    EXPECT_EQ(run(dir.file("show"), ""), 1);
    std::signal(SIGINT, before);
    EXPECT_EQ(signalSet("", "SigBlk", err), blocked) << err;
    EXPECT_EQ(signalSet("", "SigIgn", err) & stops, ignored) << "SIGINT ignored: " << (disposition == SIG_IGN) << "\n" << err;
  }
}

}  // namespace
