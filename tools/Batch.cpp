// Many scans in one call: the scans are analysed by a few worker processes of
// the program itself (started with --scan-worker), one scan after another, each
// as a single run would analyse it, while this process keeps the batch's
// bookkeeping. Processes keep the plotting library's one-painter rule, use every
// core, and let a scan that crashes take nothing else with it; keeping them for
// many scans spares the start of a process per scan. What a scan found comes
// back as data, its outcome text sent over the worker's socket; its standard
// error is only passed on.
// Here: which scans, where their outputs go, their turns, and the summary;
// runBatch is declared in Batch.h, the workers are tools/ScanProcess.h (their
// side, tools/BatchWorker.cpp), the outcome text and the summary's text
// tools/BatchOutcome.h.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>

#include "tools/ScanProcess.h"
#include "tools/gapohm.h"
#include "toolkit/SafeFile.h"

namespace {

namespace fs = std::filesystem;

// A name ending in ".csv", in any case; ".csv" itself too (its scan's name is "_").
bool isCsvFile(const fs::path& path) {
  std::string name = path.filename().string();
  if (name.size() < 4) return false;
  name = name.substr(name.size() - 4);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == ".csv";
}

// What a file that is not a regular file is, for messages.
std::string kindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory: return "a directory";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::socket: return "a socket";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    case fs::file_type::not_found: return "a link that leads nowhere";
    default: return "not a file";
  }
}

// A scan the batch names, and why it cannot be analysed (empty when it can).
struct Named {
  std::string path;
  std::string unusable;
};

// The ".csv" entries directly inside `directory`, in name order. Only regular
// files are read (a FIFO would block the batch, a device never end): a ".csv"
// entry that is something else is kept with why, other such entries are skipped
// with a warning. False when the directory cannot be listed.
bool scansInside(const std::string& directory, std::vector<Named>& inside, tk::Console& console,
                 std::error_code& ec) {
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    const fs::file_type type = it->status(typeError).type();  // through links
    const std::string path = it->path().string();
    if (type == fs::file_type::regular) {
      if (isCsvFile(it->path())) inside.push_back({path, ""});
    } else if (isCsvFile(it->path())) {
      inside.push_back({path, "not a regular file (" + kindOf(type) + ")"});
    } else {
      console.warning(path + ": skipped: not a regular file (" + kindOf(type) + ")");
    }
  }
  std::sort(inside.begin(), inside.end(), [](const Named& a, const Named& b) { return a.path < b.path; });
  return !ec;
}

// The scans the batch names: regular files as given (a path that does not
// exist fails as a single run would), and the scans inside a directory. A
// directory that cannot be listed, or a path that is neither, is kept with why.
std::vector<Named> listScans(const std::vector<std::string>& paths, tk::Console& console) {
  std::vector<Named> scans;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    if (type != fs::file_type::directory) {
      const bool usable = ec || type == fs::file_type::regular || type == fs::file_type::not_found;
      scans.push_back({path, usable ? "" : "not a regular file (" + kindOf(type) + ")"});
      continue;
    }
    std::vector<Named> inside;
    if (!scansInside(path, inside, console, ec)) {
      scans.push_back({path, "cannot list the scans in it: " + ec.message()});
      continue;
    }
    if (inside.empty()) console.warning(path + ": no .csv scan files in this directory");
    for (Named& scan : inside) scans.push_back(std::move(scan));
  }
  return scans;
}

// The scan's name as its output directory is called: the file name without ".csv".
std::string scanName(const std::string& scan) {
  const std::string directory = dirForScan(scan, "", "");
  return ExtractFilename(directory.substr(0, directory.size() - 1));
}

// The directory as the file system will find it: links and "." / ".." resolved,
// so that two spellings of one directory are seen as one.
std::string resolved(const std::string& directory) {
  std::error_code ec;
  const fs::path path = fs::weakly_canonical(fs::absolute(directory, ec), ec);
  return ec ? fs::path(directory).lexically_normal().string() : path.string();
}

// One scan of the batch and what came of it.
struct ScanRun {
  ScanOutcome outcome;
  std::string outputDir;  // where a single run puts its outputs (for clashes and messages)
  bool started = false;
  bool reported = false;
};

// The whole of a file; empty when it cannot be read.
std::string readAll(const std::string& path) {
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

// Takes what the worker told (`told`, its outcome text) and how its scan ended
// into the scan's outcome; forwards its messages; removes the temporary files a
// killed worker left, and its messages file once it has ended.
void collect(const ScanTask& task, const std::string& told, pid_t pid, int status, bool waited, bool ended,
             ScanRun& run, tk::Console& console) {
  ScanOutcome& outcome = run.outcome;
  console.err << readAll(task.messages) << std::flush;
  int toldStatus = 0;
  const bool known = readOutcomeText(told, toldStatus, outcome);
  if (ended) std::remove(task.messages.c_str());
  if (waited && WIFSIGNALED(status)) {
    tk::removeTempFilesOf(run.outputDir, pid);
    if (stopSignal() != 0) {
      outcome.state = ScanOutcome::State::interrupted;
      outcome.rows.clear();
      return;
    }
    outcome.state = ScanOutcome::State::failed;
    outcome.why = "its analysis process was killed by signal " + std::to_string(WTERMSIG(status));
  } else if (!waited) {
    outcome.state = ScanOutcome::State::failed;
    outcome.why = "its analysis process is lost";
  } else if (!known) {
    outcome.state = ScanOutcome::State::failed;
    outcome.why = "its analysis process ended with status " + std::to_string(WEXITSTATUS(status)) +
                  " without telling what it found";
  } else if (WEXITSTATUS(status) != 0 || toldStatus != 0) {
    outcome.state = ScanOutcome::State::failed;
  }
}

// ---------------------------------------------------------------- the batch

// Every scan with its output directory; a scan whose resolved output directory
// is another's fails, as does one that cannot be analysed.
std::vector<ScanRun> planRuns(const std::vector<Named>& scans, const OutputPlace& place,
                              const std::optional<std::string>& home) {
  std::vector<ScanRun> runs(scans.size());
  std::map<std::string, std::string> dirOwner;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    ScanRun& run = runs[k];
    run.outcome.scan = scans[k].path;
    if (place.outputDir) {
      std::string root = *place.outputDir;
      if (root.empty() || root.back() != '/') root += '/';
      run.outputDir = root + scanName(run.outcome.scan) + "/";
    } else {
      run.outputDir = dirForScan(run.outcome.scan, home.value_or(""), place.date);
    }
    if (!scans[k].unusable.empty()) {
      run.outcome.state = ScanOutcome::State::failed;
      run.outcome.why = scans[k].unusable;
      continue;
    }
    const auto [owner, mine] = dirOwner.emplace(resolved(run.outputDir), run.outcome.scan);
    if (!mine) {
      run.outcome.state = ScanOutcome::State::failed;
      run.outcome.why = "its outputs would replace those of " + owner->second + " in " + run.outputDir;
    }
  }
  return runs;
}

std::string defaultSummaryPath(const std::vector<ScanRun>& runs, const OutputPlace& place) {
  const std::string root = place.outputDir ? *place.outputDir
                           : runs.empty()  ? std::string()
                                           : ExtractDirectory(runs.front().outputDir.substr(
                                                 0, runs.front().outputDir.size() - 1));
  return (root.empty() || root.back() == '/' ? root : root + "/") + "BatchSummary.csv";
}

// The program run for each scan: the one given, else this process's executable.
std::string programPath(const RunOptions& options) {
  if (!options.executable.empty()) return options.executable;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

// A directory of the batch's own for what its scans' processes leave; removed
// (with anything left in it) when the batch ends.
class PrivateDir {
 public:
  explicit PrivateDir(const OutputPlace& place) {
    const std::optional<std::string> tmp = place.env("TMPDIR");
    std::string pattern = (tmp && !tmp->empty() ? *tmp : std::string("/tmp")) + "/gapohm-batch-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    if (path_.empty()) error_ = "cannot create " + pattern + ": " + std::strerror(errno);
  }
  ~PrivateDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  std::string error_;
};

// What the batch needs while its scans run.
struct Batch {
  std::vector<ScanRun>& runs;
  const RunOptions& options;
  std::string program;
  const PrivateDir& dir;
  tk::Console& console;
  tk::Failures& failures;  // the batch's own: scans that could not be analysed
  std::size_t done = 0;
  std::vector<Worker> workers;
  std::size_t workersStarted = 0;

  // The progress line of a scan, in the order the scans end; one line whatever
  // the scan is called (control bytes escaped).
  void report(ScanRun& run) {
    const ScanOutcome& o = run.outcome;
    run.reported = true;
    ++done;
    std::string line = "gapohm: [" + std::to_string(done) + "/" + std::to_string(runs.size()) + "] " + o.scan + ": ";
    if (o.state == ScanOutcome::State::failed) {
      line += "FAILED" + (o.why.empty() ? "" : " (" + o.why + ")");
    } else if (o.state == ScanOutcome::State::interrupted) {
      line += "interrupted";
    } else {
      // Zero fitted for want of a search is not zero found.
      const std::string notSearched = options.scanType == ScanType::standard
                                          ? "--scan-type standard"
                                          : "HV axis at or above " + argonScanLimitText();
      line += "ok, " + std::to_string(o.gaps) + " gaps, " + std::to_string(o.fitted) + " fitted" +
              (o.notSearched > 0 ? " (not searched: " + notSearched + ")" : "") + ", outputs in " + run.outputDir;
    }
    console.out << tk::escapeControls(line) << std::endl;
  }

  // Waits for a busy worker's scan to end, takes its outcome, and lets a worker
  // that ended go.
  void finishOne() {
    int status = 0;
    bool waited = false;
    bool ended = false;
    const std::size_t k = waitForWorker(workers, ended, status, waited);
    const ScanTask task = workers[k].task;
    const std::string told = std::move(workers[k].outcome);
    const pid_t pid = workers[k].pid;
    if (ended) workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(k));
    collect(task, told, pid, status, waited, ended, runs[task.index], console);
    report(runs[task.index]);
  }

  // The k-th scan for `idle`, which keeps its messages file; for a new worker,
  // a messages file named after the workers started so far.
  ScanTask taskOf(std::size_t k, const Worker* idle) {
    const std::string messages =
        idle != nullptr ? idle->task.messages : dir.path() + "/worker-" + std::to_string(workersStarted++) + ".err";
    return {k, runs[k].outcome.scan, runs[k].outputDir, messages, dir.path()};
  }

  // Hands the k-th scan to `idle`, else to a new worker; a scan that no worker
  // can take fails (an idle worker that cannot take it is let go).
  void start(std::size_t k, Worker* idle) {
    ScanRun& run = runs[k];
    run.started = true;
    std::string error = "cannot find the program's own executable";
    if (idle != nullptr && handOut(*idle, taskOf(k, idle), error)) return;
    if (idle != nullptr) {
      retireWorker(*idle);
      workers.erase(workers.begin() + (idle - workers.data()));
    }
    const ScanTask task = taskOf(k, nullptr);
    Worker worker;
    if (!program.empty() && startWorker(workerCommand(program, options), task, worker, error)) {
      workers.push_back(worker);
      return;
    }
    run.outcome.state = ScanOutcome::State::failed;
    run.outcome.why = "its analysis process cannot be started: " + error;
    std::remove(task.messages.c_str());
    report(run);
  }

  Worker* idleWorker() {
    const auto it = std::find_if(workers.begin(), workers.end(), [](const Worker& w) { return !w.busy; });
    return it == workers.end() ? nullptr : &*it;
  }

  // Hands out scans while a worker is idle or may be started: at most `most`
  // live at once, a new one only in place of one that ended.
  void handOutScans(std::size_t& next, int most) {
    while (next < runs.size() && stopSignal() == 0) {
      ScanRun& run = runs[next];
      if (run.outcome.state == ScanOutcome::State::failed) {
        console.error(tk::Status::InvalidArgument(run.outcome.scan + ": not analysed: " + run.outcome.why), failures);
        report(run);
        ++next;
        continue;
      }
      Worker* idle = idleWorker();
      if (idle == nullptr && static_cast<int>(workers.size()) >= most) return;
      console.out.flush();
      console.err.flush();
      start(next++, idle);
    }
  }

  void runAll(int most) {
    std::size_t next = 0;
    for (;;) {
      handOutScans(next, most);
      if (next >= runs.size() || stopSignal() != 0) {
        for (Worker* idle = idleWorker(); idle != nullptr; idle = idleWorker()) {
          retireWorker(*idle);
          workers.erase(workers.begin() + (idle - workers.data()));
        }
      }
      if (workers.empty()) break;
      finishOne();
    }
    for (ScanRun& run : runs) {
      if (!run.reported && run.outcome.state != ScanOutcome::State::failed) {
        run.outcome.state = ScanOutcome::State::interrupted;
      }
    }
  }
};

}  // namespace

namespace {

// The campaign page of the batch, beside its summary: every finished scan's
// results.csv, and the failed scans with why; the gaps' verdicts counted into `counts`.
void writeBatchReport(const std::vector<ScanRun>& runs, const std::string& directory,
                      const RunOptions& options, tk::Console& console, tk::Failures& failures,
                      const StopAsked& stopAsked, std::optional<VerdictCounts>& counts) {
  std::vector<std::string> tables;
  ReportSettings settings{options.limits.get(), options.provenance, stopAsked, {}, {}};
  for (const ScanRun& run : runs) {
    if (run.outcome.state == ScanOutcome::State::failed) {
      ScanTable failed;
      failed.file = run.outcome.scan;
      failed.error = run.outcome.scan + ": scan failed" + (run.outcome.why.empty() ? "" : ": " + run.outcome.why);
      settings.unread.push_back(std::move(failed));
    }
    if (run.outcome.state != ScanOutcome::State::finished) continue;
    std::string dir = run.outputDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    struct stat info {};
    if (::stat((dir + "results.csv").c_str(), &info) == 0) tables.push_back(dir + "results.csv");
  }
  const std::string where = directory.empty() ? "." : directory;
  settings.history.alpha = options.temperature.coefficient;
  if (settings.history.alpha) settings.history.reference = options.temperature.reference;
  settings.history.maxDriftPercent = options.maxDriftPercent;
  writeCampaignReport(tables, where, settings, console, failures, &counts);
}

}  // namespace

namespace {

// After the scans: the summary, the campaign page, the closing line, and the
// batch's exit status (128 + the signal when a stop came).
int finishBatch(const std::vector<ScanRun>& runs, const std::string& summary, const RunOptions& options,
                int stoppedBy, tk::Console& console, tk::Failures& failures) {
  std::vector<ScanOutcome> outcomes;
  outcomes.reserve(runs.size());
  for (const ScanRun& run : runs) outcomes.push_back(run.outcome);
  const auto count = [&](ScanOutcome::State state) {
    return std::count_if(outcomes.begin(), outcomes.end(), [&](const ScanOutcome& o) { return o.state == state; });
  };
  std::string error;
  const std::string directory = ExtractDirectory(summary);
  if ((!directory.empty() && !makeDirectories(directory, error)) ||
      !writeFileAtomically(summary, batchSummary(outcomes), error)) {
    console.error(tk::Status::IOError("cannot write the batch summary: " + error), failures);
    return stoppedBy != 0 ? 128 + stoppedBy : 1;
  }
  const auto failed = count(ScanOutcome::State::failed);
  // A stop that came after the last scan ended (even before this line) leaves
  // every scan finished: the page is still written, without what it would paint.
  const bool scansStopped = count(ScanOutcome::State::interrupted) > 0;
  std::optional<VerdictCounts> verdicts;
  if (!scansStopped) {
    writeBatchReport(runs, directory, options, console, failures, [] { return stopSignal() != 0; }, verdicts);
  }
  stoppedBy = stopSignal();
  console.out << "gapohm: " << runs.size() << " scans, " << failed << " failed";
  if (stoppedBy != 0) console.out << ", " << count(ScanOutcome::State::interrupted) << " interrupted";
  console.out << "; summary in " << tk::escapeControls(summary);
  if (verdicts) console.out << "; verdicts of " << verdicts->total() << " gaps: " << verdicts->text();
  console.out << std::endl;
  if (stoppedBy != 0) {
    const std::string what = scansStopped ? "the scans not finished are marked interrupted in " + summary
                                          : "while the report page was made (" + summary +
                                                " is complete; the page lacks the thumbnails not yet made)";
    console.error(tk::Status::InvalidArgument(std::string("stopped by ") + (stoppedBy == SIGINT ? "SIGINT" : "SIGTERM") +
                                              ": " + what),
                  failures);
    return 128 + stoppedBy;
  }
  return failed > 0 || failures.any() ? 1 : 0;
}

}  // namespace

int runBatch(const std::vector<std::string>& paths, const RunOptions& options,
             const OutputPlace& place, const std::string& summaryPath, tk::Console& console) {
  tk::Failures failures;
  const std::vector<Named> scans = listScans(paths, console);
  const std::optional<std::string> home = place.env("HOME");
  if (!place.outputDir && !home && summaryPath.empty()) {
    // Without a home directory the dated layout would land at the file-system root.
    console.error(tk::Status::InvalidArgument("HOME is not set: no place for the outputs; give one with --output-dir"),
                  failures);
    return 1;
  }
  std::vector<ScanRun> runs = planRuns(scans, place, home);
  const std::string summary = summaryPath.empty() ? defaultSummaryPath(runs, place) : summaryPath;
  // From before the private directory exists to after it is gone, report page
  // included: a stop asks the batch to end, and never leaves that directory or a
  // temporary file behind.
  const StopSignals stop;
  const PrivateDir dir(place);
  if (dir.path().empty()) {
    console.error(tk::Status::IOError("no place for the scans' outcomes: " + dir.error()), failures);
    return 1;
  }
  RunOptions perScan = options;
  perScan.jobs = 1;  // the cores go to scans side by side
  const int workers = std::clamp(options.jobs, 1, static_cast<int>(kMostProcesses));
  int stoppedBy = 0;
  {
    Batch batch{runs, perScan, programPath(options), dir, console, failures, 0, {}};
    batch.runAll(workers);
    stoppedBy = stopSignal();
  }

  return finishBatch(runs, summary, options, stoppedBy, console, failures);
}
