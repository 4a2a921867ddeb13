#include "tools/ScanProcess.h"

#include <fcntl.h>
#include <pthread.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
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

// The child's side of startWorker, between fork and exec: only
// async-signal-safe calls, as the batch's process may have had threads. The stop
// signals are blocked on entry (the mask startWorker set); `mask` is the one to
// run with.
[[noreturn]] void execWorker(char* const argv[], char* const envp[], int channel, int messages, int nothing,
                             pid_t parent, const sigset_t& mask) {
  ::dup2(channel, STDIN_FILENO);
  ::dup2(nothing, STDOUT_FILENO);
  ::dup2(messages, STDERR_FILENO);
  // The batch's handler would swallow a stop meant for the worker; exec would
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

// The record of a task on the channel: its three names, each ended by a NUL
// byte (no name holds one).
constexpr std::size_t kRecordNames = 3;

std::string recordOf(const ScanTask& task) {
  std::string record;
  for (const std::string* name : {&task.scan, &task.outputDir, &task.messages}) {
    record += *name;
    record += '\0';
  }
  return record;
}

// The next task from standard input; false at its end or on a broken record.
bool readTask(std::string& pending, ScanTask& task) {
  std::string* names[kRecordNames] = {&task.scan, &task.outputDir, &task.messages};
  std::size_t ends[kRecordNames] = {};
  std::size_t found = 0;
  std::size_t from = 0;
  while (found < kRecordNames) {
    const std::size_t end = pending.find('\0', from);
    if (end != std::string::npos) {
      ends[found++] = end;
      from = end + 1;
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t start = 0;
  for (std::size_t k = 0; k < kRecordNames; ++k) {
    names[k]->assign(pending, start, ends[k] - start);
    start = ends[k] + 1;
  }
  pending.erase(0, start);
  return true;
}

// Creates a task's messages file; its descriptor or -1 with errno set.
int createMessages(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// A scan's answer on the channel: its exit status, the outcome text's length
// (8 bytes, least significant first), the text.
constexpr std::size_t kLengthBytes = 8;
// More than any scan's outcome (a few hundred bytes a gap): a longer length is a
// broken answer, not a reason to reserve memory.
constexpr std::uint64_t kMostOutcomeBytes = std::uint64_t{1} << 30;

std::string answerOf(unsigned char status, const std::string& outcome) {
  std::string answer(1, static_cast<char>(status));
  for (std::size_t k = 0; k < kLengthBytes; ++k) answer += static_cast<char>(outcome.size() >> (8 * k) & 0xFFU);
  return answer + outcome;
}

// Exactly `size` bytes from the channel into `into`; false when it ends first.
bool receiveAll(int fd, char* into, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, into + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// A worker's answer: false when the channel ends before all of it came.
bool receiveAnswer(int fd, unsigned char& status, std::string& outcome) {
  char head[1 + kLengthBytes];
  if (!receiveAll(fd, head, sizeof head)) return false;
  status = static_cast<unsigned char>(head[0]);
  std::uint64_t length = 0;
  for (std::size_t k = kLengthBytes; k > 0; --k) length = length << 8 | static_cast<unsigned char>(head[k]);
  if (length > kMostOutcomeBytes) return false;
  outcome.assign(static_cast<std::size_t>(length), '\0');
  return receiveAll(fd, outcome.data(), outcome.size());
}

bool sendAll(int fd, const std::string& data, std::string& error) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void reap(Worker& worker, int& status, bool& waited) {
  if (worker.channel >= 0) ::close(worker.channel);
  worker.channel = -1;
  pid_t pid = -1;
  while ((pid = ::waitpid(worker.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  waited = pid == worker.pid;
  scanProcesses[worker.slot].store(0);
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

std::vector<std::string> workerCommand(const std::string& executable, const RunOptions& options) {
  std::vector<std::string> args = {executable, "--scan-worker", "-j", "1", "--format", options.extension.substr(1)};
  if (options.verbose) args.emplace_back("--verbose");
  if (options.entries) args.emplace_back("--entries");
  if (options.annotate) args.emplace_back("--annotate");
  if (options.scanType != ScanType::told) args.insert(args.end(), {"--scan-type", scanTypeWord(options.scanType)});
  if (!options.areasFile.empty()) args.insert(args.end(), {"--areas", options.areasFile});
  if (options.scanDate) args.insert(args.end(), {"--scan-date", *options.scanDate});
  if (options.temperature.coefficient) {
    args.insert(args.end(), {"--temperature-coefficient", exactNumber(*options.temperature.coefficient),
                             "--reference-temperature", exactNumber(options.temperature.reference)});
  }
  return args;
}

bool startWorker(const std::vector<std::string>& args, const ScanTask& task, Worker& worker, std::string& error) {
  const int messages = createMessages(task.messages);
  const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  int ends[2] = {-1, -1};
  const bool connected = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));  // execv changes none
  argv.push_back(nullptr);
  // The batch's environment, with TMPDIR the process's own place when it has one.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (task.tmpdir.empty() || std::strncmp(*entry, "TMPDIR=", 7) != 0) environment.emplace_back(*entry);
  }
  if (!task.tmpdir.empty()) environment.push_back("TMPDIR=" + task.tmpdir);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  while (scanProcesses[worker.slot].load() != 0) ++worker.slot;  // fewer than kMostProcesses run
  // Stops are held off from the fork until the process is registered: the
  // handler then passes a stop on to it, and none reaches the child while it
  // still has the batch's handler.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (const int signal : kStopSignals) sigaddset(&stops, signal);
  ::pthread_sigmask(SIG_BLOCK, &stops, &before);
  const pid_t parent = ::getpid();
  worker.pid = messages < 0 || nothing < 0 || !connected ? -1 : ::fork();
  if (worker.pid == 0) execWorker(argv.data(), envp.data(), ends[1], messages, nothing, parent, before);
  const int failure = errno;
  if (worker.pid > 0) scanProcesses[worker.slot].store(worker.pid);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  for (const int fd : {messages, nothing, ends[1]}) {
    if (fd >= 0) ::close(fd);
  }
  if (worker.pid < 0) {
    if (ends[0] >= 0) ::close(ends[0]);
    error = std::strerror(failure);
    return false;
  }
  worker.channel = ends[0];
  // A stop that came before the signals were held off, or that another thread
  // took meanwhile, found no process to pass on to.
  if (const int signal = stopSignal(); signal != 0) ::kill(worker.pid, signal);
  // The record fits the socket's buffer: a worker that is already gone is found
  // by the wait, as one that ends mid-scan is.
  std::string ignored;
  sendAll(worker.channel, recordOf(task), ignored);
  worker.task = task;
  worker.busy = true;
  return true;
}

bool handOut(Worker& worker, const ScanTask& task, std::string& error) {
  // Emptied, not made anew: the same inode serves all the worker's scans.
  const int messages = ::open(task.messages.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (messages < 0) {
    error = "cannot empty " + task.messages + ": " + std::strerror(errno);
    return false;
  }
  ::close(messages);
  if (!sendAll(worker.channel, recordOf(task), error)) return false;
  worker.task = task;
  worker.busy = true;
  return true;
}

std::size_t waitForWorker(std::vector<Worker>& workers, bool& ended, int& status, bool& waited) {
  std::vector<pollfd> polled;
  std::vector<std::size_t> which;
  for (std::size_t k = 0; k < workers.size(); ++k) {
    if (!workers[k].busy) continue;
    polled.push_back({workers[k].channel, POLLIN, 0});
    which.push_back(k);
  }
  for (;;) {
    if (::poll(polled.data(), polled.size(), -1) < 0) continue;  // EINTR: a stop, passed on already
    for (std::size_t p = 0; p < polled.size(); ++p) {
      if (polled[p].revents == 0) continue;
      Worker& worker = workers[which[p]];
      unsigned char told = 0;
      worker.outcome.clear();
      ended = !receiveAnswer(worker.channel, told, worker.outcome);
      worker.busy = false;
      if (ended) {
        reap(worker, status, waited);
      } else {
        status = W_EXITCODE(told, 0);
        waited = true;
      }
      return which[p];
    }
  }
}

void retireWorker(Worker& worker) {
  int status = 0;
  bool waited = false;
  reap(worker, status, waited);
}

int serveScans(const std::function<int(const ScanTask&, std::string&)>& analyse) {
  std::string pending;
  ScanTask task;
  const int between = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  while (readTask(pending, task)) {
    const int messages = ::open(task.messages.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (messages < 0) return 1;
    ::dup2(messages, STDERR_FILENO);
    ::close(messages);
    std::string outcome;
    const unsigned char status = static_cast<unsigned char>(analyse(task, outcome));
    if (between >= 0) ::dup2(between, STDERR_FILENO);  // nothing more into the scan's messages
    std::string error;
    if (!sendAll(STDIN_FILENO, answerOf(status, outcome), error)) return 1;
  }
  return 0;
}
