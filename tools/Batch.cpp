// Many scans in one call: each scan is analysed by a process of the program
// itself (started with --outcome-file), as a single run would analyse it, while
// this process keeps the batch's bookkeeping. A process per scan keeps the
// plotting library's one-painter rule, uses every core, and lets a scan that
// crashes take nothing else with it. What a scan's process found comes back as
// data, in its outcome file; its standard error is only passed on.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "tools/gapohm.h"
#include "toolkit/SafeFile.h"

namespace {

namespace fs = std::filesystem;

bool isCsvFile(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".csv";
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

// ----------------------------------------------------------- stopping the batch

// The batch's signal state. It is process-wide because a signal handler can
// reach nothing else: the first SIGINT/SIGTERM asking the batch to stop, and the
// scans' processes the handler passes every such signal on to.
constexpr std::size_t kMostProcesses = 1024;  // the largest -j
std::atomic<int> stopSignal{0};
std::atomic<pid_t> scanProcesses[kMostProcesses];

extern "C" void passOnStop(int signal) {
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
  for (std::atomic<pid_t>& pid : scanProcesses) {
    const pid_t scan = pid.load();
    if (scan > 0) ::kill(scan, signal);
  }
}

// Catches SIGINT and SIGTERM for the batch's lifetime and restores what was
// there before (the temporary-file cleanup of a whole run) when it ends.
class StopSignals {
 public:
  StopSignals() {
    stopSignal.store(0);
    for (std::atomic<pid_t>& pid : scanProcesses) pid.store(0);
    struct sigaction stop {};
    stop.sa_handler = passOnStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: a wait for a scan returns to look at the signal
    for (std::size_t k = 0; k < 2; ++k) {
      ::sigaction(kSignals[k], nullptr, &before_[k]);
      // A batch started with SIGINT ignored (a background job) keeps it so.
      if (before_[k].sa_handler != SIG_IGN) ::sigaction(kSignals[k], &stop, nullptr);
    }
  }
  ~StopSignals() {
    for (std::size_t k = 0; k < 2; ++k) ::sigaction(kSignals[k], &before_[k], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int kSignals[2] = {SIGINT, SIGTERM};
  struct sigaction before_[2] {};
};

// ------------------------------------------------------------ a scan's process

// A scan being analysed by a process of its own, which leaves its standard error
// and its outcome in two files of the batch's private directory.
struct Child {
  pid_t pid = -1;
  std::size_t index = 0;
  std::size_t slot = 0;  // in scanProcesses
  std::string messages;
  std::string outcome;
};

// A number as text that reads back to the same double.
std::string exactNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// The command line of a scan's process.
std::vector<std::string> scanCommand(const std::string& executable, const ScanRun& run,
                                     const RunOptions& options, const std::string& outcomeFile) {
  std::vector<std::string> args = {executable, "--outcome-file", outcomeFile, "-j", "1",
                                   "--format", options.extension.substr(1)};
  if (options.verbose) args.emplace_back("--verbose");
  if (options.entries) args.emplace_back("--entries");
  if (options.annotate) args.emplace_back("--annotate");
  if (!options.areasFile.empty()) args.insert(args.end(), {"--areas", options.areasFile});
  if (options.temperature.coefficient) {
    args.insert(args.end(), {"--temperature-coefficient", exactNumber(*options.temperature.coefficient),
                             "--reference-temperature", exactNumber(options.temperature.reference)});
  }
  args.emplace_back("-o");
  args.push_back(run.outputDir);
  args.emplace_back("--");
  args.push_back(run.outcome.scan);
  return args;
}

// Starts the scan's process; its pid, or -1 with the reason in `error`. The
// process ends with the batch whatever ends the batch (SIGKILL included): it
// gets SIGTERM when the batch's process is gone, and removes its temporary
// files on it.
pid_t startScan(const std::vector<std::string>& args, const std::string& messagesFile, std::string& error) {
  const int messages = ::open(messagesFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);  // a batch shows progress lines, not logs
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));  // execv changes none
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = messages < 0 || nothing < 0 ? -1 : ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec: this process may have had threads.
    ::dup2(nothing, STDOUT_FILENO);
    ::dup2(messages, STDERR_FILENO);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // the batch ended before the line above
    ::execv(argv[0], argv.data());
    static const char kFailed[] = "gapohm: error: cannot start the program for a scan\n";
    (void)!::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
    ::_exit(127);
  }
  if (pid < 0) error = std::strerror(errno);
  if (messages >= 0) ::close(messages);
  if (nothing >= 0) ::close(nothing);
  return pid;
}

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

// Takes what the ended child left and how it ended into the scan's outcome;
// forwards its messages; removes the temporary files a killed child left.
void collect(const Child& child, int status, bool waited, ScanRun& run, tk::Console& console) {
  ScanOutcome& outcome = run.outcome;
  console.err << readAll(child.messages) << std::flush;
  int told = 0;
  const bool known = readOutcomeFile(readAll(child.outcome), told, outcome);
  std::remove(child.messages.c_str());
  std::remove(child.outcome.c_str());
  if (waited && WIFSIGNALED(status)) {
    tk::removeTempFilesOf(run.outputDir, child.pid);
    if (stopSignal.load() != 0) {
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
  } else if (WEXITSTATUS(status) != 0 || told != 0) {
    outcome.state = ScanOutcome::State::failed;
  }
}

// Waits until one of the running children ends, takes it out of `running` and
// returns it with its wait status. A signal that stops the batch interrupts the
// wait only to be passed on (the handler did that); the wait goes on.
Child waitForOne(std::deque<Child>& running, int& status, bool& waited) {
  std::size_t found = 0;
  siginfo_t info{};
  while (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) == 0 || errno == EINTR) {
    const auto it = std::find_if(running.begin(), running.end(), [&](const Child& c) { return c.pid == info.si_pid; });
    if (it != running.end()) {
      found = static_cast<std::size_t>(it - running.begin());
      break;
    }
    if (info.si_pid != 0) break;  // a child that is not a scan's: wait in order
  }
  Child child = running[found];
  running.erase(running.begin() + static_cast<std::ptrdiff_t>(found));
  pid_t pid = -1;
  while ((pid = ::waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  waited = pid == child.pid;
  scanProcesses[child.slot].store(0);
  return child;
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
  std::size_t done = 0;
  std::deque<Child> running;

  // The progress line of a scan, in the order the scans end.
  void report(ScanRun& run) {
    const ScanOutcome& o = run.outcome;
    run.reported = true;
    ++done;
    console.out << "gapohm: [" << done << "/" << runs.size() << "] " << o.scan << ": ";
    if (o.state == ScanOutcome::State::failed) {
      console.out << "FAILED" << (o.why.empty() ? "" : " (" + o.why + ")") << std::endl;
    } else if (o.state == ScanOutcome::State::interrupted) {
      console.out << "interrupted" << std::endl;
    } else {
      console.out << "ok, " << o.gaps << " gaps, " << o.fitted << " fitted, outputs in " << run.outputDir
                  << std::endl;
    }
  }

  void finishOne() {
    int status = 0;
    bool waited = false;
    const Child child = waitForOne(running, status, waited);
    collect(child, status, waited, runs[child.index], console);
    report(runs[child.index]);
  }

  // Starts the k-th scan's process; a scan whose process cannot start fails.
  void start(std::size_t k) {
    ScanRun& run = runs[k];
    run.started = true;
    Child child;
    child.index = k;
    child.messages = dir.path() + "/" + std::to_string(k) + ".err";
    child.outcome = dir.path() + "/" + std::to_string(k) + ".outcome";
    while (scanProcesses[child.slot].load() != 0) ++child.slot;  // running < kMostProcesses
    std::string error = "cannot find the program's own executable";
    if (!program.empty()) child.pid = startScan(scanCommand(program, run, options, child.outcome), child.messages, error);
    if (child.pid < 0) {
      run.outcome.state = ScanOutcome::State::failed;
      run.outcome.why = "its analysis process cannot be started: " + error;
      std::remove(child.messages.c_str());
      report(run);
      return;
    }
    scanProcesses[child.slot].store(child.pid);
    // A stop that came between the fork and the line above was not passed on.
    if (const int signal = stopSignal.load(); signal != 0) ::kill(child.pid, signal);
    running.push_back(child);
  }

  void runAll(int workers) {
    for (std::size_t k = 0; k < runs.size() && stopSignal.load() == 0; ++k) {
      ScanRun& run = runs[k];
      if (run.outcome.state == ScanOutcome::State::failed) {
        console.error(run.outcome.scan + ": not analysed: " + run.outcome.why);
        report(run);
        continue;
      }
      while (static_cast<int>(running.size()) >= workers) finishOne();
      if (stopSignal.load() != 0) break;
      console.out.flush();
      console.err.flush();
      start(k);
    }
    while (!running.empty()) finishOne();
    for (ScanRun& run : runs) {
      if (!run.reported && run.outcome.state != ScanOutcome::State::failed) {
        run.outcome.state = ScanOutcome::State::interrupted;
      }
    }
  }
};

}  // namespace

namespace {

// The row of a scan that has no gap rows of its own to tell why: failed or interrupted.
std::string scanRow(const std::string& scan, const std::string& status) {
  ResultsRow row;
  row.scan = scan;
  row.window.status = MethodStatus::noResult(status);
  return rowLines({row});
}

}  // namespace

std::string rowLines(const std::vector<ResultsRow>& rows) {
  const std::string text = resultsCsvText(rows);
  return text.substr(text.find('\n') + 1);
}

std::string batchSummary(const std::vector<ScanOutcome>& scans) {
  std::string text = resultsCsvText({});
  for (const ScanOutcome& scan : scans) {
    text += scan.rows;
    if (scan.state == ScanOutcome::State::failed) {
      text += scanRow(scan.scan, "scan failed" + (scan.why.empty() ? "" : ": " + scan.why));
    } else if (scan.state == ScanOutcome::State::interrupted) {
      text += scanRow(scan.scan, "interrupted");
    }
  }
  return text;
}

std::string outcomeFileText(int status, const std::vector<std::string>& errors,
                            const std::vector<ResultsRow>& rows) {
  std::string failure = errors.empty() ? std::string() : errors.front();
  std::replace(failure.begin(), failure.end(), '\n', ' ');
  std::replace(failure.begin(), failure.end(), '\r', ' ');
  const auto fitted = std::count_if(rows.begin(), rows.end(),
                                    [](const ResultsRow& r) { return r.window.status.fitted(); });
  return "gapohm-outcome 1\nstatus " + std::to_string(status) + "\nfailure " + failure + "\ngaps " +
         std::to_string(rows.size()) + "\nfitted " + std::to_string(fitted) + "\nrows\n" +
         rowLines(rows);
}

bool readOutcomeFile(const std::string& text, int& status, ScanOutcome& outcome) {
  std::istringstream in(text);
  std::string line;
  std::string fields[6];
  static const char* const kKeys[6] = {"gapohm-outcome ", "status ", "failure ", "gaps ", "fitted ", "rows"};
  for (std::size_t k = 0; k < 6; ++k) {
    const std::string key = kKeys[k];
    if (!std::getline(in, line) || line.compare(0, key.size(), key) != 0) return false;
    fields[k] = line.substr(key.size());
  }
  char* end = nullptr;
  long numbers[3] = {};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::string& field = fields[k == 0 ? 1 : k + 2];
    numbers[k] = std::strtol(field.c_str(), &end, 10);
    if (field.empty() || *end != '\0') return false;
  }
  if (fields[0] != "1" || !fields[5].empty()) return false;
  const std::streamoff rows = in.tellg();  // -1 when "rows" ends the text without its line end
  if (rows < 0) return false;
  status = static_cast<int>(numbers[0]);
  outcome.why = fields[2];
  outcome.gaps = static_cast<int>(numbers[1]);
  outcome.fitted = static_cast<int>(numbers[2]);
  outcome.rows = text.substr(static_cast<std::size_t>(rows));
  return true;
}

int runBatchScan(const std::string& file, const RunOptions& options, const OutputPlace& place,
                 const std::string& outcomeFile, tk::Console& console) {
  try {
    std::vector<ResultsRow> gaps;
    int status = 1;
    try {
      status = readFiles_KVT(file, "", options, place, console, &gaps);
    } catch (const std::exception& e) {
      console.error(file + ": internal error: " + e.what());
    } catch (...) {
      console.error(file + ": internal error");
    }
    std::string error;
    if (!writeFileAtomically(outcomeFile, outcomeFileText(status, console.errors(), gaps), error)) {
      console.error(error);
      return 1;
    }
    return status;
  } catch (...) {
    // Out of memory while telling the outcome: the batch finds no outcome file.
    return 1;
  }
}

namespace {

// The campaign page of the batch, beside its summary: every finished scan's results.csv.
void writeBatchReport(const std::vector<ScanRun>& runs, const std::string& directory,
                      const RunOptions& options, tk::Console& console) {
  std::vector<std::string> tables;
  for (const ScanRun& run : runs) {
    if (run.outcome.state != ScanOutcome::State::finished) continue;
    std::string dir = run.outputDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    struct stat info {};
    if (::stat((dir + "results.csv").c_str(), &info) == 0) tables.push_back(dir + "results.csv");
  }
  const std::string where = directory.empty() ? "." : directory;
  writeCampaignReport(tables, where, options.limits.get(), console);
}

}  // namespace

int runBatch(const std::vector<std::string>& paths, const RunOptions& options,
             const OutputPlace& place, const std::string& summaryPath, tk::Console& console) {
  const std::vector<Named> scans = listScans(paths, console);
  const std::optional<std::string> home = place.env("HOME");
  if (!place.outputDir && !home && summaryPath.empty()) {
    // Without a home directory the dated layout would land at the file-system root.
    console.error("HOME is not set: no place for the outputs; give one with --output-dir");
    return 1;
  }
  std::vector<ScanRun> runs = planRuns(scans, place, home);
  const std::string summary = summaryPath.empty() ? defaultSummaryPath(runs, place) : summaryPath;
  const PrivateDir dir(place);
  if (dir.path().empty()) {
    console.error("no place for the scans' outcomes: " + dir.error());
    return 1;
  }
  RunOptions perScan = options;
  perScan.jobs = 1;  // the cores go to scans side by side
  const int workers = std::clamp(options.jobs, 1, static_cast<int>(kMostProcesses));
  int stoppedBy = 0;
  {
    const StopSignals stop;
    Batch batch{runs, perScan, programPath(options), dir, console, 0, {}};
    batch.runAll(workers);
    stoppedBy = stopSignal.load();
  }

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
    console.error("cannot write the batch summary: " + error);
    return stoppedBy != 0 ? 128 + stoppedBy : 1;
  }
  const auto failed = count(ScanOutcome::State::failed);
  if (stoppedBy == 0) writeBatchReport(runs, directory, options, console);
  console.out << "gapohm: " << runs.size() << " scans, " << failed << " failed";
  if (stoppedBy != 0) console.out << ", " << count(ScanOutcome::State::interrupted) << " interrupted";
  console.out << "; summary in " << summary << std::endl;
  if (stoppedBy != 0) {
    console.error(std::string("stopped by ") + (stoppedBy == SIGINT ? "SIGINT" : "SIGTERM") +
                  ": the scans not finished are marked interrupted in " + summary);
    return 128 + stoppedBy;
  }
  return failed > 0 || console.failed() ? 1 : 0;
}
