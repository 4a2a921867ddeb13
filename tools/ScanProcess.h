// The worker processes of a batch, and the batch's stop. A batch's scans are
// analysed by a few processes of the program itself (workers), each started
// here once with the batch's options and then handed one scan after another
// over a socket: a scan's record goes out, its exit status and outcome text come
// back when its outputs are written. A worker's standard error goes into a
// messages file of its own, emptied by the batch before each scan; the worker
// has none of the batch's signal handling, and it is reaped here. While a
// StopSignals lives, SIGINT and SIGTERM ask the batch to stop and are passed on
// to every worker, each of which then removes its temporary files and ends; the
// batch waits for them all.
//
// Nothing is created or removed in the batch's private directory per scan: on a
// file system that will not soon reuse the inodes of deleted files (ext4
// without a journal), every file created after many deletions pays for skipping
// them, and a campaign's thousands of scans made that a tenth of its time.
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

// A scan handed to a worker.
struct ScanTask {
  std::size_t index = 0;  // the batch's scan
  std::string scan;       // the scan file
  std::string outputDir;  // where its outputs go
  std::string messages;   // the worker's messages file, its standard error while on the scan
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
  std::string outcome;   // the outcome text of its last scan ("" when it told none)
};

// The command line of a worker that analyses scans with `options` (one core:
// the batch runs scans side by side). Numbers are written so that they read back
// exactly.
std::vector<std::string> workerCommand(const std::string& executable, const RunOptions& options);

// Creates the task's messages file (it must not exist; it is the worker's for
// its life) and starts args[0] with `args` as worker.pid, with `task` handed to
// it: standard input its end of the socket, standard output /dev/null (a batch
// shows progress lines, not logs), standard error into task.messages. The process has the signal mask the caller
// had and SIGINT/SIGTERM at their defaults (ignored where they were ignored),
// never a handler of the batch's; it gets SIGTERM when the batch's process is
// gone, whatever ended that (SIGKILL included). A stop, before or while it
// starts, is passed on to it. False, with the reason in `error` (pid -1), when
// it cannot be started; task.messages may then exist. At most kMostProcesses
// may run at once.
bool startWorker(const std::vector<std::string>& args, const ScanTask& task, Worker& worker, std::string& error);

// Empties the idle worker's messages file (task.messages, which must be the one
// it was started with) and hands `task` to it. False with the reason in `error`
// when either fails (the worker is then unusable: retire it).
bool handOut(Worker& worker, const ScanTask& task, std::string& error);

// Waits until one busy worker of `workers` tells its scan is done (ended false,
// `status` a wait status of the scan's exit status, its outcome text in
// worker.outcome) or ends (ended true, then reaped: `status` its wait status,
// `waited` false when it could not be reaped; a stop no longer goes to it). Returns its index. A stop that comes meanwhile
// is passed on and the wait goes on. At least one worker must be busy.
std::size_t waitForWorker(std::vector<Worker>& workers, bool& ended, int& status, bool& waited);

// Closes the channel of an idle worker, which then ends, and reaps it.
void retireWorker(Worker& worker);

// The worker's side: reads scan records from standard input and calls `analyse`
// on each, its standard error going into the messages file, and answers each
// with the status it returns and the outcome text it sets. Returns 0 when the
// batch has no more scans, 1 when the channel fails.
int serveScans(const std::function<int(const ScanTask&, std::string&)>& analyse);
