// The processes of a batch's scans, and the batch's stop. Each scan is analysed
// by a process of the program itself: started here with its command line, its
// standard error going into a file and none of the batch's signal handling, and
// reaped here. While a StopSignals lives, SIGINT and SIGTERM ask the batch to
// stop and are passed on to every scan's process, each of which then removes its
// temporary files and ends; the batch waits for them all.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <deque>
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

// A scan's process and the two files of the batch's private directory it leaves.
struct ScanProcess {
  pid_t pid = -1;
  std::size_t index = 0;  // the batch's scan it analyses
  std::size_t slot = 0;   // among the processes a stop is passed on to
  std::string messages;   // its standard error
  std::string outcome;    // its outcome file
  // Its TMPDIR ("": the batch's own): the batch's private directory, so that a
  // library's temporary file that a stopped scan cannot remove goes with it.
  std::string tmpdir;
};

// The command line of the process that analyses `scan` into `outputDir` with
// `options` (one core: the batch runs scans side by side) and leaves its outcome
// in `outcomeFile`. Numbers are written so that they read back exactly.
std::vector<std::string> scanCommand(const std::string& executable, const RunOptions& options,
                                     const std::string& scan, const std::string& outputDir,
                                     const std::string& outcomeFile);

// Starts args[0] with `args` as process.pid: standard output to /dev/null (a
// batch shows progress lines, not logs), standard error into process.messages,
// created here (it must not exist). The process has the signal mask the caller
// had and SIGINT/SIGTERM at their defaults (ignored where they were ignored),
// never a handler of the batch's; it gets SIGTERM when the batch's process is
// gone, whatever ended that (SIGKILL included). A stop, before or while it
// starts, is passed on to it. False, with the reason in `error` (pid -1), when
// it cannot be started; process.messages may then exist. At most
// kMostProcesses may run at once.
bool startScan(const std::vector<std::string>& args, ScanProcess& process, std::string& error);

// Waits until one of `running` ends, takes it out of `running` (a stop no longer
// goes to it) and returns it with its wait status; `waited` false when it could
// not be reaped (status then means nothing). A stop that comes meanwhile is
// passed on and the wait goes on. `running` must not be empty.
ScanProcess waitForOne(std::deque<ScanProcess>& running, int& status, bool& waited);
