// The watch of a scan being recorded: wait, read what was appended, alarm,
// analyse, show; and at the end, the plain run on the whole file.
#include "tools/Watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "tools/LivePage.h"
#include "tools/RunOutcome.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string localTime(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}
std::string timeNow() { return localTime(std::time(nullptr)); }

// A duration as the messages give it ("2", "0.5").
std::string seconds(double s) {
  std::ostringstream text;
  text << s;
  return text.str();
}

double secondsSince(Clock::time_point then) { return std::chrono::duration<double>(Clock::now() - then).count(); }

// The descriptors a watch waits on, and the stop signals held for signalfd
// while it lives (an update is never cut: a stop is seen once it is written).
class WatchHandles {
 public:
  explicit WatchHandles(const std::string& file) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before_);
    signals = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    scan = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (scan < 0) openError = std::strerror(errno);
    notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::string dir = ExtractDirectory(file).empty() ? "." : ExtractDirectory(file);
    if (notify >= 0 && (::inotify_add_watch(notify, dir.c_str(), kDirectoryEvents) < 0 ||
                        ::inotify_add_watch(notify, file.c_str(), kFileEvents) < 0)) {
      ::close(notify);
      notify = -1;
    }
    if (notify < 0) notifyError = std::strerror(errno);
  }
  ~WatchHandles() {
    for (const int fd : {scan, notify, signals}) {
      if (fd >= 0) ::close(fd);
    }
    ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  WatchHandles(const WatchHandles&) = delete;
  WatchHandles& operator=(const WatchHandles&) = delete;

  int scan = -1, notify = -1, signals = -1;
  std::string openError, notifyError;

 private:
  // The directory too: a file renamed over the scan's name tells nothing to a
  // watch on the old file's inode.
  static constexpr uint32_t kDirectoryEvents =
      IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
  static constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
  sigset_t before_{};
};

// Waits up to `seconds` for a file event or a stop; returns the stop signal, or 0.
int waitForChange(const WatchHandles& h, double seconds) {
  pollfd fds[2] = {{h.signals, POLLIN, 0}, {h.notify, POLLIN, 0}};
  const int timeout = static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000.0));
  ::poll(fds, h.notify >= 0 ? 2 : 1, timeout);
  char events[4096];
  while (h.notify >= 0 && ::read(h.notify, events, sizeof events) > 0) {
  }
  signalfd_siginfo info{};
  if (h.signals >= 0 && ::read(h.signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    return static_cast<int>(info.ssi_signo);
  }
  return 0;
}

std::optional<FileIdentity> identityOf(const struct stat& info) {
  return FileIdentity{info.st_dev, info.st_ino, info.st_size};
}

// The names in `dir` (without "." entries); empty when it cannot be listed.
std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return names;
  for (const dirent* e = ::readdir(listing); e != nullptr; e = ::readdir(listing)) names.insert(e->d_name);
  ::closedir(listing);
  return names;
}

// Everything one watch keeps between passes.
struct Watch {
  Watch(const std::string& f, const std::string& t, const RunOptions& o, const OutputPlace& p,
        const WatchSettings& s, tk::Console& c)
      : file(f), title(t), options(o), place(p), settings(s), console(c), dir(outputDirectory(f, p)) {}
  const std::string& file;
  const std::string& title;
  const RunOptions& options;
  const OutputPlace& place;
  const WatchSettings& settings;
  tk::Console& console;
  std::string dir;  // the output directory, ending in "/"
  FileIdentity identity{};
  TailText tail;
  long lines = 0;
  std::map<std::string, GapAlarmState> alarmStates;
  std::set<std::string> before;   // names in the directory before the watch
  std::set<std::string> written;  // files the last update may have written
  std::set<std::string> problemsSaid;
  LiveState page;
  std::size_t tableLines = 0;  // lines of the table last drawn on the terminal
  Clock::time_point lastGrowth = Clock::now(), lastUpdate = Clock::now() - std::chrono::hours(1);
  bool pending = false;  // lines read that no update has analysed
  tk::Failures failures;  // what ends the watch as failed
};

void writeOrSay(Watch& w, const std::string& name, const std::string& text) {
  std::string error;
  if (writeFileAtomically(w.dir + name, text, error) || !w.problemsSaid.insert(error).second) return;
  w.console.warning(error);
  w.tableLines = 0;  // the table is drawn anew below the message
}

// Raises the alarms of the points read since the last look, each at once.
void raiseAlarms(Watch& w) {
  const ScanPoints read = readScanPoints(w.tail.complete);
  const std::size_t before = w.page.alarms.size();
  for (std::size_t k = 0; k < read.gapList.size() && k < read.points.gaps.size(); ++k) {
    const std::string& gap = read.gapList[k].first;
    const GapPoints& p = read.points.gaps[k];
    for (Alarm& a : judgeGap(gap, p.hv, p.current, w.settings.alarms, w.alarmStates[gap])) {
      w.page.alarms.push_back(std::move(a));
      w.page.alarmTimes.push_back(timeNow());
    }
  }
  if (w.page.alarms.size() == before) return;
  // In the files first: whoever reads the line finds the record and the mark.
  writeOrSay(w, "alarms.csv", alarmsCsvText(w.page.alarms, w.page.alarmTimes));
  markAlarms(w.page.gaps, w.page.alarms);
  writeOrSay(w, "live.html", livePageText(w.page));
  for (std::size_t k = before; k < w.page.alarms.size(); ++k) {
    w.console.err << "gapohm: " << tk::escapeControls(alarmLine(w.page.alarms[k])) << std::endl;
  }
  w.tableLines = 0;
}

// Reads what was appended since the last look; false, with the reason said, when
// the file is no longer the one watched or cannot be read.
bool readAppended(Watch& w, const WatchHandles& h) {
  struct stat info {};
  const std::optional<FileIdentity> now = ::stat(w.file.c_str(), &info) == 0 ? identityOf(info) : std::nullopt;
  const FileChange change = judgeFile(w.identity, now, w.tail.read());
  const std::string kept = "; the outputs are those of its first " + std::to_string(w.lines) + " lines";
  if (change != FileChange::same) {
    const std::string what = change == FileChange::truncated ? "was truncated (" + std::to_string(now->size) +
                                                                   " bytes, " + std::to_string(w.tail.read()) + " read)"
                             : change == FileChange::replaced ? "was replaced by another file"
                                                              : "was removed or renamed";
    w.page.state = "watch ended: the scan " + what;
    w.console.error(tk::Status::Corruption(w.file + " " + what + " while watched" + kept), w.failures);
    return false;
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::pread(h.scan, buffer, sizeof buffer, w.tail.read());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      w.page.state = "watch ended: the scan could not be read";
      w.console.error(tk::Status::IOError("cannot read " + w.file + ": " + std::strerror(errno) + kept),
                      w.failures);
      return false;
    }
    if (n == 0) return true;
    w.lastGrowth = Clock::now();
    const std::size_t completed = takeLines(w.tail, std::string(buffer, static_cast<std::size_t>(n)));
    if (completed == 0) continue;
    w.lines += static_cast<long>(completed);
    w.page.lastLine = timeNow();
    w.pending = true;
  }
}

// Removes the files an earlier update wrote that the last one did not write,
// unless they were there before the watch: the directory holds what a plain run
// on the lines read so far leaves there.
void removeStale(Watch& w, const std::set<std::string>& nowWritten) {
  for (const std::string& name : w.written) {
    if (nowWritten.count(name) == 0 && w.before.count(name) == 0) ::unlink((w.dir + name).c_str());
  }
  w.written = nowWritten;
}

// Shows the state: the page, and the table or the update's line.
void show(Watch& w) {
  writeOrSay(w, "live.html", livePageText(w.page));
  if (!w.settings.terminal) {
    w.console.out << updateLine(w.page) << std::endl;
    return;
  }
  // Back to the top of the table drawn last, and everything below it cleared.
  if (w.tableLines > 0) w.console.out << "\x1b[" << w.tableLines << "A\x1b[J";
  const std::string table = terminalTable(w.page);
  w.tableLines = static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n'));
  w.console.out << table << std::flush;
}

// One analysis of the lines read so far, as a plain run on them; its lines are
// kept from the terminal, and a failure is said once.
void update(Watch& w) {
  std::ostringstream out, err;
  tk::Console quiet(out, err);
  RunRecord record;
  const int status = runScanText(w.file, w.title, w.tail.complete, w.options, w.place, quiet, record);
  w.lastUpdate = Clock::now();
  w.pending = false;
  w.page.lastUpdate = timeNow();
  w.page.lines = w.lines;
  w.page.problem.clear();
  if (record.outcome) {
    removeStale(w, record.files);
    w.page.combinedFigure = getName() + w.options.extension;
    w.page.gaps = liveGaps(*record.outcome, w.options.extension, w.page.alarms);
  }
  if (status != 0 && record.outcome) {
    // The first error line of the run: what it could not write.
    std::string line;
    for (std::istringstream lines(err.str()); std::getline(lines, line);) {
      if (line.rfind("gapohm: error: ", 0) == 0) break;
    }
    w.page.problem = line;
    if (!line.empty() && w.problemsSaid.insert(line).second) {
      w.console.err << line << std::endl;
      w.tableLines = 0;
    }
  }
  show(w);
}

// The end of a watch of a file that stopped growing: the plain run on the whole
// file as read, shown as a plain run shows it.
int finalRun(Watch& w) {
  if (w.settings.terminal && w.tableLines > 0) w.console.out << std::endl;
  RunRecord record;
  const int status = runScanText(w.file, w.title, w.tail.complete + w.tail.partial, w.options, w.place, w.console,
                                 record);
  removeStale(w, record.files);
  if (!w.tail.partial.empty()) {
    w.console.warning(w.file + ": its last line has no line end: it was not shown while watched; the final run "
                      "reads it as a plain run does");
  }
  w.console.result("gapohm: watch: " + w.file + " did not grow for " + seconds(w.settings.idle) +
                   " s: the outputs are those of a plain run on the whole file");
  return status;
}

// Ends the watch: the page says how, and the status is returned.
int ended(Watch& w, const std::string& state, int status) {
  w.page.ended = true;
  w.page.state = state;
  w.page.lines = w.lines;
  writeOrSay(w, "live.html", livePageText(w.page));
  return status;
}

// The watch's loop, once the file is open; returns the exit status.
int follow(Watch& w, const WatchHandles& h) {
  for (;;) {
    if (!readAppended(w, h)) return ended(w, w.page.state, 1);
    if (w.pending) raiseAlarms(w);
    if (w.pending && secondsSince(w.lastUpdate) >= w.settings.interval) update(w);
    if (secondsSince(w.lastGrowth) >= w.settings.idle) {
      const int status = finalRun(w);
      if (const int stop = waitForChange(h, 0)) {
        w.console.error(tk::Status::InvalidArgument(std::string("stopped by ") + (stop == SIGINT ? "SIGINT" : "SIGTERM") +
                                                    " as the final run ended; its outputs are whole"),
                        w.failures);
        return ended(w, "scan ended; the watch was stopped by a signal as it ended", 128 + stop);
      }
      return ended(w, "scan ended: the file did not grow for the idle time; the final run's status: " +
                          std::string(status == 0 ? "success" : "failed"), status);
    }
    double wait = std::min(w.settings.interval, w.settings.idle - secondsSince(w.lastGrowth));
    if (w.pending) wait = std::min(wait, w.settings.interval - secondsSince(w.lastUpdate));
    if (const int stop = waitForChange(h, wait)) {
      const std::string name = stop == SIGINT ? "SIGINT" : "SIGTERM";
      w.console.error(tk::Status::InvalidArgument("watch stopped by " + name + "; the outputs are those of the first " +
                                                  std::to_string(w.page.lines) + " lines"),
                      w.failures);
      return ended(w, "watch stopped by " + name, 128 + stop);
    }
  }
}

}  // namespace

int watchScan(const std::string& file, const std::string& legendTitle, const RunOptions& options,
              const OutputPlace& place, const WatchSettings& settings, tk::Console& console) {
  WatchHandles handles(file);
  Watch w(file, legendTitle, options, place, settings, console);
  struct stat info {};
  if (handles.scan < 0 || ::fstat(handles.scan, &info) != 0 || !S_ISREG(info.st_mode)) {
    const std::string why = handles.scan < 0 ? handles.openError : "not a regular file";
    console.error(tk::Status::IOError("cannot watch " + file + ": " + why), w.failures);
    return 1;
  }
  if (handles.signals < 0) {
    console.error(tk::Status::IOError("cannot watch " + file + ": no signal descriptor"), w.failures);
    return 1;
  }
  w.identity = *identityOf(info);
  if (!place.outputDir && !place.env("HOME")) {
    // Without a home directory the dated layout would land at the file-system root.
    console.error(tk::Status::InvalidArgument("HOME is not set: no output directory; give one with --output-dir"),
                  w.failures);
    return 1;
  }
  std::string error;
  if (!makeDirectories(w.dir, error)) {
    console.error(tk::Status::IOError("cannot create " + w.dir + ": " + error), w.failures);
    return 1;
  }
  if (handles.notify < 0) {
    console.warning("inotify is not available (" + handles.notifyError + "): " + file + " is looked at every " +
                    seconds(settings.interval) + " s");
  }
  w.before = namesIn(w.dir);
  w.page.scan = file;
  w.page.state = "scan still running";
  w.page.refreshSeconds = std::max(1, static_cast<int>(std::ceil(settings.interval)));
  writeOrSay(w, "alarms.csv", alarmsCsvText({}, {}));
  writeOrSay(w, "live.html", livePageText(w.page));
  return follow(w, handles);
}
