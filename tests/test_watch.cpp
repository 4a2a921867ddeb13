// The watch mode: its pure rules, and the program following a scan that is
// being written (appends, alarms, truncation, replacement, a cut line, signals).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "TestSupport.h"
#include "tools/LivePage.h"
#include "tools/WatchRules.h"

using namespace testsupport;

namespace {

TEST(WatchRules, OnlyLinesEndedByALineFeedCount) {
  TailText tail;
  const struct {
    const char* chunk;
    std::size_t completed;
    const char* complete;
    const char* partial;
  } steps[] = {{"DETECTOR,H", 0, "", "DETECTOR,H"},
               {"V\na,1,2,3,4\nb,1", 2, "DETECTOR,HV\na,1,2,3,4\n", "b,1"},
               {"", 0, "DETECTOR,HV\na,1,2,3,4\n", "b,1"},
               {",2\r\n\n", 2, "DETECTOR,HV\na,1,2,3,4\nb,1,2\r\n\n", ""}};
  for (const auto& s : steps) {
    EXPECT_EQ(takeLines(tail, s.chunk), s.completed) << s.chunk;
    EXPECT_EQ(tail.complete, s.complete);
    EXPECT_EQ(tail.partial, s.partial);
  }
}

// A smooth argon-like gap: flat noise, then a linear rise, with a fixed noise pattern.
std::vector<double> smoothGap(std::size_t n, double noise) {
  std::vector<double> j;
  for (std::size_t k = 0; k < n; ++k) {
    const double rise = k > 20 ? 0.6 * static_cast<double>(k - 20) : 0.0;
    j.push_back(0.3 + rise + noise * std::sin(1.7 * static_cast<double>(k * k)));
  }
  return j;
}

TEST(WatchRules, AlarmsAreRaisedOncePerExcursion) {
  std::vector<double> hv(60);
  for (std::size_t k = 0; k < hv.size(); ++k) hv[k] = 1700.0 + 10.0 * static_cast<double>(k);
  std::vector<double> spiked = smoothGap(60, 0.5);
  spiked[40] += 25.0;  // a discharge: one step up, one down
  std::vector<double> twice = spiked;
  twice[50] += 25.0;   // and a second one later
  std::vector<double> held = smoothGap(60, 0.5);
  for (std::size_t k = 45; k < 50; ++k) held[k] = 200.0;  // above the limit for five steps, then back
  AlarmRules rules;
  rules.maxCurrent = 100.0;
  const struct {
    const char* name;
    std::vector<double> current;
    std::vector<std::pair<std::string, double>> alarms;  // kind, HV
  } cases[] = {{"smooth", smoothGap(60, 0.5), {}},
               {"noisier", smoothGap(60, 1.5), {}},
               {"spike", spiked, {{kJumpAlarm, 2100.0}}},
               {"two spikes", twice, {{kJumpAlarm, 2100.0}, {kJumpAlarm, 2200.0}}},
               {"held high", held, {{kMaxCurrentAlarm, 2150.0}, {kJumpAlarm, 2150.0}}}};
  for (const auto& c : cases) {
    // Judged point by point as lines arrive, and all at once: the same alarms.
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{60}}) {
      GapAlarmState state;
      std::vector<Alarm> alarms;
      for (std::size_t n = chunk; n <= 60; n += chunk) {
        const std::vector<double> h(hv.begin(), hv.begin() + static_cast<long>(n));
        const std::vector<double> j(c.current.begin(), c.current.begin() + static_cast<long>(n));
        for (const Alarm& a : judgeGap("g", h, j, rules, state)) alarms.push_back(a);
      }
      ASSERT_EQ(alarms.size(), c.alarms.size()) << c.name << " in chunks of " << chunk;
      for (std::size_t k = 0; k < alarms.size(); ++k) {
        EXPECT_EQ(alarms[k].kind, c.alarms[k].first) << c.name;
        EXPECT_EQ(alarms[k].hv, c.alarms[k].second) << c.name;
      }
    }
  }
}

TEST(WatchRules, NamesAreEscapedWhereverTheyAreShown) {
  const std::string name = "<b>\x1b[2J\"gap\",x";
  const Alarm alarm{name, 2000.0, 150.0, kMaxCurrentAlarm, 100.0};
  LiveState s;
  s.scan = "scan.csv";
  s.gaps.push_back({name, 3, 2000.0, 150.0, false, 0, 0, "too few points", "", "a b/c.png", {kMaxCurrentAlarm}});
  s.alarms = {alarm};
  s.alarmTimes = {"t"};
  const std::string page = livePageText(s);
  EXPECT_EQ(page.find('\x1b'), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("href=\"a%20b/c.png\""), std::string::npos);
  EXPECT_NE(page.find("http-equiv=\"refresh\""), std::string::npos);
  EXPECT_EQ(terminalTable(s).find('\x1b'), std::string::npos);
  EXPECT_EQ(alarmLine(alarm).find('\x1b'), std::string::npos);
  EXPECT_EQ(alarmsCsvText({alarm}, {"t"}),
            "time,gap,hv_v,current_na_cm2,kind,threshold\nt,\"<b>\x1b[2J\"\"gap\"\",x\",2000,150,max-current,100\n");
  s.ended = true;
  EXPECT_EQ(livePageText(s).find("refresh"), std::string::npos);
}

// ------------------------------------------------------------ the program

using Clock = std::chrono::steady_clock;

// A watch started on `scan` and followed: its standard error as it comes, its
// standard output in a file.
struct Watching {
  Started run;
  std::string err;
  std::string outFile;

  Watching(const ScratchDir& dir, const std::vector<std::string>& options) : outFile(dir.file("watch.out")) {
    writeFile(outFile, "");
    RunSetting setting = inHome(dir);
    setting.stdoutFile = outFile;
    std::vector<std::string> args = {"--watch", "-o", "out", "scan.csv"};
    args.insert(args.end(), options.begin(), options.end());
    run = startGapohm(args, setting);
    fcntl(run.err, F_SETFL, O_NONBLOCK);
  }
  // Reads standard error until `done` holds or `seconds` pass; whether it held.
  template <typename Done>
  bool until(Done done, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      if (Clock::now() > end) return false;
      pollfd p{run.err, POLLIN, 0};
      poll(&p, 1, 50);
      char buffer[4096];
      for (ssize_t n; (n = read(run.err, buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  // The exit status once it has ended by itself within `seconds` (else killed: -1).
  int finish(double seconds) {
    int status = 0;
    if (!until([&] { return waitpid(run.pid, &status, WNOHANG) == run.pid; }, seconds)) {
      kill(run.pid, SIGKILL);
      waitpid(run.pid, &status, 0);
      status = -1;
    } else {
      status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    err += drain(run.err);
    return status;
  }
};

void append(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

// The live page once it shows `needle`.
bool pageShows(const ScratchDir& dir, const std::string& needle) {
  return readFile(dir.file("out/live.html")).find(needle) != std::string::npos;
}

// No temporary file, and every figure a whole PNG.
void expectWholeOutputs(const ScratchDir& dir) {
  for (const std::string& name : listDir(dir.file("out"))) {
    EXPECT_NE(name[0], '.') << "left behind: " << name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".png") {
      EXPECT_GT(decodePng(dir.file("out/" + name)).width, 0) << name;
    }
  }
}

TEST(Watch, FollowsAGrowingScanAndEndsAsAPlainRun) {
  const std::vector<std::string> scan = lines(readFile(examplePath("argon_scan.csv")));
  for (const bool cutLast : {false, true}) {
    ScratchDir dir;
    writeFile(dir.file("scan.csv"), "");
    Watching w(dir, {"--interval", "0.3", "--idle", "3"});
    std::size_t at = 0;
    for (const std::size_t chunk : {1, 40, 60, 90, 100, 100}) {
      std::string text;
      for (std::size_t k = 0; k < chunk && at < scan.size(); ++k) text += scan[at++] + "\n";
      append(dir.file("scan.csv"), text);
      if (at == 191) {  // mid-way: two gaps whole, the third begun, the rest not yet
        ASSERT_TRUE(w.until([&] { return pageShows(dir, ">191 lines read"); }, 60)) << w.err;
        const std::string page = readFile(dir.file("out/live.html"));
        for (const char* gap : {"RE3-PK-154-BOTTOM</a></td><td>65<", "RE3-PK-154-TOPNARROW</a></td><td>65<",
                                "RE3-PK-154-TOPWIDE</a></td><td>60<"}) {
          EXPECT_NE(page.find(gap), std::string::npos) << gap << "\n" << page;
        }
        EXPECT_EQ(page.find("LAB-GAP-07"), std::string::npos);
        EXPECT_NE(page.find("scan still running"), std::string::npos);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (cutLast) append(dir.file("scan.csv"), "LAB-GAP-07,2300.0,2290.1,2.6");
    const int status = w.finish(120);
    EXPECT_EQ(status, 0) << w.err;
    EXPECT_NE(readFile(w.outFile).find("the outputs are those of a plain run on the whole file"), std::string::npos);
    EXPECT_EQ(w.err.find("no line end") != std::string::npos, cutLast) << w.err;
    const RunResult plain = runGapohm({"-o", "plain", "scan.csv"}, inHome(dir));
    ASSERT_EQ(plain.status, 0) << plain.err;
    std::vector<std::string> watched = listDir(dir.file("out"));
    EXPECT_EQ(watched.size(), listDir(dir.file("plain")).size() + 2);  // live.html, alarms.csv
    for (const std::string& name : listDir(dir.file("plain"))) {
      EXPECT_EQ(readFile(dir.file("out/" + name)), readFile(dir.file("plain/" + name))) << name;
    }
    EXPECT_TRUE(pageShows(dir, "scan ended"));
    expectWholeOutputs(dir);
  }
}

// The example scan's header and first `n` lines.
std::string firstLines(std::size_t n) {
  const std::vector<std::string> scan = lines(readFile(examplePath("argon_scan.csv")));
  return join(std::vector<std::string>(scan.begin(), scan.begin() + static_cast<long>(n + 1)));
}

TEST(Watch, ACurrentAboveTheLimitIsToldAtOnce) {
  ScratchDir dir;
  writeFile(dir.file("scan.csv"), firstLines(100));
  Watching w(dir, {"--interval", "1", "--idle", "600", "--max-current", "100"});
  ASSERT_TRUE(w.until([&] { return pageShows(dir, ">101 lines read"); }, 60)) << w.err;
  EXPECT_EQ(w.err.find("ALARM"), std::string::npos) << w.err;
  append(dir.file("scan.csv"), "RE3-PK-154-TOPNARROW,1790.0,1786.0,512.5,981.0,21.1,42.0\n");
  const auto appended = Clock::now();
  const std::string told = "ALARM gap \"RE3-PK-154-TOPNARROW\" at ";
  ASSERT_TRUE(w.until([&] { return w.err.find(told) != std::string::npos; }, 60)) << w.err;
  EXPECT_LE(std::chrono::duration<double>(Clock::now() - appended).count(), 2.0);  // --interval + 1 s
  EXPECT_NE(w.err.find("512.5 nA/cm2, above --max-current 100 nA/cm2"), std::string::npos) << w.err;
  const std::string csv = readFile(dir.file("out/alarms.csv"));
  EXPECT_NE(csv.find(",RE3-PK-154-TOPNARROW,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",512.5,max-current,100\n"), std::string::npos) << csv;
  ASSERT_TRUE(w.until([&] { return pageShows(dir, "class=\"alarm\""); }, 60));
  kill(w.run.pid, SIGTERM);
  EXPECT_EQ(w.finish(60), 128 + SIGTERM);
  EXPECT_NE(w.err.find("watch stopped by SIGTERM"), std::string::npos) << w.err;
}

TEST(Watch, AFileTruncatedReplacedOrRemovedEndsTheWatch) {
  const struct {
    const char* name;
    void (*change)(const std::string&);
    const char* told;
  } cases[] = {
      {"truncated", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 300), 0); }, "was truncated"},
      {"replaced",
       [](const std::string& p) {
         writeFile(p + ".new", firstLines(250));
         ASSERT_EQ(rename((p + ".new").c_str(), p.c_str()), 0);
       },
       "was replaced by another file"},
      {"removed", [](const std::string& p) { ASSERT_EQ(unlink(p.c_str()), 0); }, "was removed or renamed"}};
  for (const auto& c : cases) {
    ScratchDir dir;
    writeFile(dir.file("scan.csv"), firstLines(200));
    Watching w(dir, {"--interval", "0.3", "--idle", "600"});
    ASSERT_TRUE(w.until([&] { return pageShows(dir, ">201 lines read"); }, 60)) << c.name << w.err;
    c.change(dir.file("scan.csv"));
    EXPECT_EQ(w.finish(60), 1) << c.name;
    EXPECT_NE(w.err.find(std::string("gapohm: error: scan.csv ") + c.told), std::string::npos) << c.name << w.err;
    EXPECT_NE(w.err.find("while watched; the outputs are those of its first 201 lines"), std::string::npos) << w.err;
    EXPECT_TRUE(pageShows(dir, "watch ended: the scan " + std::string(c.told))) << c.name;
    expectWholeOutputs(dir);
  }
}

TEST(Watch, AStopDuringAnUpdateLeavesWholeOutputs) {
  for (const int signal : {SIGINT, SIGTERM}) {
    ScratchDir dir;
    writeFile(dir.file("scan.csv"), firstLines(390));
    Watching w(dir, {"--interval", "0.2", "--idle", "600"});
    // The first update starts at once: stopped once its first figure is on its way.
    w.until([&] {
      for (const std::string& name : listDir(dir.file("out"))) {
        if (name[0] == '.' || name == "ALLcurrents.png") return true;
      }
      return false;
    }, 60);
    kill(w.run.pid, signal);
    EXPECT_EQ(w.finish(60), 128 + signal) << w.err;
    EXPECT_NE(w.err.find(std::string("watch stopped by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM")), std::string::npos)
        << w.err;
    EXPECT_TRUE(pageShows(dir, "watch stopped by "));
    expectWholeOutputs(dir);
    EXPECT_TRUE(listDir(dir.tmp()).empty());
  }
}

}  // namespace
