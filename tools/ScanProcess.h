// The worker processes of a batch, and the batch's stop. A batch's scans are
// analysed by a few processes of the program itself (workers), each started
// here once with the batch's options and then handed one scan after another
// over a socket: a scan's record goes out, one byte (the scan's exit status)
// comes back when its outputs and outcome file are written. A worker's standard
// error goes into the file of the scan it is on, it has none of the batch's
// signal handling, and it is reaped here. While a StopSignals lives, SIGINT and
// SIGTERM ask the batch to stop and are passed on to every worker, each of which
// then removes its temporary files and ends; the batch waits for them all.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/gapohm.h"

// The most scans' processes a batch runs at once (the largest -j).
constexpr std::size_t kMostProcesses = 1024;

// Catches SIGINT and SIGTERM for its lifetime (one at a time in a process):
// forgets any earlier stop and any earlier scans' processes, and restores the
// handling there was before (the temporary-file cleanup of a whole run) when it
// ends. A signal the process was started with ignored (a background job's
// SIGINT) stays ignored.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction before_[2] {};
};

// The signal that asked the batch to stop; 0 while none has.
int stopSignal();

// A scan handed to a worker, with the two files of the batch's private
// directory it leaves: its standard error and its outcome file.
struct ScanTask {
  std::size_t index = 0;  // the batch's scan
  std::string scan;       // the scan file
  std::string outputDir;  // where its outputs go
  std::string messages;   // its standard error (created by the batch)
  std::string outcome;    // its outcome file
  // The TMPDIR of a worker started with it ("": the batch's own): the batch's
  // private directory, so that a library's temporary file that a stopped scan
  // cannot remove goes with it.
  std::string tmpdir;
};

// A worker process and the scan it is on.
struct Worker {
  pid_t pid = -1;
  int channel = -1;      // the batch's end of the socket (-1 once closed)
  std::size_t slot = 0;  // among the processes a stop is passed on to
  bool busy = false;     // `task` handed out and not done
  ScanTask task;
};

// The command line of a worker that analyses scans with `options` (one core:
// the batch runs scans side by side). Numbers are written so that they read back
// exactly.
std::vector<std::string> workerCommand(const std::string& executable, const RunOptions& options);

// Creates the task's messages file (it must not exist) and starts args[0] with
// `args` as worker.pid, with `task` handed to it: standard input its end of the
// socket, standard output /dev/null (a batch shows progress lines, not logs),
// standard error into task.messages. The process has the signal mask the caller
// had and SIGINT/SIGTERM at their defaults (ignored where they were ignored),
// never a handler of the batch's; it gets SIGTERM when the batch's process is
// gone, whatever ended that (SIGKILL included). A stop, before or while it
// starts, is passed on to it. False, with the reason in `error` (pid -1), when
// it cannot be started; task.messages may then exist. At most kMostProcesses
// may run at once.
bool startWorker(const std::vector<std::string>& args, const ScanTask& task, Worker& worker, std::string& error);

// Creates the task's messages file and hands `task` to the idle `worker`. False
// with the reason in `error` when either fails (the worker is then unusable:
// retire it).
bool handOut(Worker& worker, const ScanTask& task, std::string& error);

// Waits until one busy worker of `workers` tells its scan is done (ended false,
// `status` a wait status of the scan's exit status) or ends (ended true, then
// reaped: `status` its wait status, `waited` false when it could not be reaped;
// a stop no longer goes to it). Returns its index. A stop that comes meanwhile
// is passed on and the wait goes on. At least one worker must be busy.
std::size_t waitForWorker(std::vector<Worker>& workers, bool& ended, int& status, bool& waited);

// Closes the channel of an idle worker, which then ends, and reaps it.
void retireWorker(Worker& worker);

// The worker's side: reads scan records from standard input and calls `analyse`
// on each, its standard error going into the scan's messages file, and answers
// each with the status it returns. Returns 0 when the batch has no more scans,
// 1 when the channel fails.
int serveScans(const std::function<int(const ScanTask&)>& analyse);
