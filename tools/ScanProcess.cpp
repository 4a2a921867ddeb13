#include "tools/ScanProcess.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The batch's signal state. It is process-wide because a signal handler can
// reach nothing else: the first SIGINT/SIGTERM asking the batch to stop, and the
// scans' processes the handler passes every such signal on to.
std::atomic<int> stopRequest{0};
std::atomic<pid_t> scanProcesses[kMostProcesses];

constexpr int kStopSignals[2] = {SIGINT, SIGTERM};

extern "C" void passOnStop(int signal) {
  int none = 0;
  stopRequest.compare_exchange_strong(none, signal);
  for (std::atomic<pid_t>& pid : scanProcesses) {
    const pid_t scan = pid.load();
    if (scan > 0) ::kill(scan, signal);
  }
}

// A number as text that reads back to the same double.
std::string exactNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// The child's side of startScan, between fork and exec: only async-signal-safe
// calls, as the batch's process may have had threads. The stop signals are
// blocked on entry (the mask startScan set); `mask` is the one to run with.
[[noreturn]] void execScan(char* const argv[], char* const envp[], int messages, int nothing, pid_t parent,
                           const sigset_t& mask) {
  ::dup2(nothing, STDOUT_FILENO);
  ::dup2(messages, STDERR_FILENO);
  // The batch's handler would swallow a stop meant for the scan; exec would
  // reset it, but a stop can come before exec.
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
  }
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);  // a stop held off until here ends this process
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(127);  // the batch ended before the line above
  ::execve(argv[0], argv, envp);
  static const char kFailed[] = "gapohm: error: cannot start the program for a scan\n";
  (void)!::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
  ::_exit(127);
}

}  // namespace

StopSignals::StopSignals() {
  stopRequest.store(0);
  for (std::atomic<pid_t>& pid : scanProcesses) pid.store(0);
  struct sigaction stop {};
  stop.sa_handler = passOnStop;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART: a wait for a scan returns to look at the signal
  for (std::size_t k = 0; k < 2; ++k) {
    ::sigaction(kStopSignals[k], nullptr, &before_[k]);
    // A batch started with SIGINT ignored (a background job) keeps it so.
    if (before_[k].sa_handler != SIG_IGN) ::sigaction(kStopSignals[k], &stop, nullptr);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t k = 0; k < 2; ++k) ::sigaction(kStopSignals[k], &before_[k], nullptr);
}

int stopSignal() { return stopRequest.load(); }

std::vector<std::string> scanCommand(const std::string& executable, const RunOptions& options,
                                     const std::string& scan, const std::string& outputDir,
                                     const std::string& outcomeFile) {
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
  args.push_back(outputDir);
  args.emplace_back("--");
  args.push_back(scan);
  return args;
}

bool startScan(const std::vector<std::string>& args, ScanProcess& process, std::string& error) {
  const int messages = ::open(process.messages.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));  // execv changes none
  argv.push_back(nullptr);
  // The batch's environment, with TMPDIR the process's own place when it has one.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (process.tmpdir.empty() || std::strncmp(*entry, "TMPDIR=", 7) != 0) environment.emplace_back(*entry);
  }
  if (!process.tmpdir.empty()) environment.push_back("TMPDIR=" + process.tmpdir);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  while (scanProcesses[process.slot].load() != 0) ++process.slot;  // fewer than kMostProcesses run
  // Stops are held off from the fork until the process is registered: the
  // handler then passes a stop on to it, and none reaches the child while it
  // still has the batch's handler.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (const int signal : kStopSignals) sigaddset(&stops, signal);
  ::pthread_sigmask(SIG_BLOCK, &stops, &before);
  const pid_t parent = ::getpid();
  process.pid = messages < 0 || nothing < 0 ? -1 : ::fork();
  if (process.pid == 0) execScan(argv.data(), envp.data(), messages, nothing, parent, before);
  const int failure = errno;
  if (process.pid > 0) scanProcesses[process.slot].store(process.pid);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (messages >= 0) ::close(messages);
  if (nothing >= 0) ::close(nothing);
  if (process.pid < 0) {
    error = std::strerror(failure);
    return false;
  }
  // A stop that came before the signals were held off, or that another thread
  // took meanwhile, found no process to pass on to.
  if (const int signal = stopSignal(); signal != 0) ::kill(process.pid, signal);
  return true;
}

ScanProcess waitForOne(std::deque<ScanProcess>& running, int& status, bool& waited) {
  std::size_t found = 0;
  siginfo_t info{};
  while (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) == 0 || errno == EINTR) {
    const auto it = std::find_if(running.begin(), running.end(),
                                 [&](const ScanProcess& p) { return p.pid == info.si_pid; });
    if (it != running.end()) {
      found = static_cast<std::size_t>(it - running.begin());
      break;
    }
    if (info.si_pid != 0) break;  // a child that is not a scan's: wait in order
  }
  ScanProcess process = running[found];
  running.erase(running.begin() + static_cast<std::ptrdiff_t>(found));
  pid_t pid = -1;
  while ((pid = ::waitpid(process.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  waited = pid == process.pid;
  scanProcesses[process.slot].store(0);
  return process;
}
