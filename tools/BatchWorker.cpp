// A batch's worker process: analyses the scans the batch hands it, one after
// another, each as a single run would, and tells the batch each scan's outcome.
#include <exception>
#include <ios>

#include "tools/ScanProcess.h"
#include "tools/gapohm.h"

namespace {

// One scan in a worker: the single run of `file` into `place`, and its outcome
// text for the batch in `outcome`. Lets no exception out. Returns the run's exit
// status.
int runBatchScan(const std::string& file, const RunOptions& options, const OutputPlace& place,
                 std::string& outcome, tk::Console& console, tk::Easel& easel) {
  try {
    std::vector<ResultsRow> gaps;
    tk::Failures failures;
    int status = 1;
    try {
      status = readFiles_KVT(file, "", options, place, console, &gaps, &failures, &easel);
    } catch (const std::exception& e) {
      console.error(tk::Status::IOError(file + ": internal error: " + e.what()), failures);
    } catch (...) {
      console.error(tk::Status::IOError(file + ": internal error"), failures);
    }
    std::vector<std::string> reasons;
    for (const tk::Status& failure : failures.all()) reasons.push_back(failure.message());
    outcome = outcomeText(status, reasons, gaps);
    return status;
  } catch (...) {
    // Out of memory while telling the outcome: the batch is told none.
    outcome.clear();
    return 1;
  }
}

}  // namespace

int serveBatchScans(const RunOptions& options, const OutputPlace& place, tk::Console& console) {
  // Kept from scan to scan: nothing on it shows in a figure (tk::Easel).
  tk::Easel easel;
  return serveScans([&](const ScanTask& task, std::string& outcome) {
    OutputPlace here = place;
    here.outputDir = task.outputDir;
    // A scan's messages are formatted as in a process of its own, whatever the
    // scans before it set on the streams.
    std::ios outFormat(nullptr);
    std::ios errFormat(nullptr);
    outFormat.copyfmt(console.out);
    errFormat.copyfmt(console.err);
    const int status = runBatchScan(task.scan, options, here, outcome, console, easel);
    console.out.copyfmt(outFormat);
    console.err.copyfmt(errFormat);
    console.out.clear();
    console.err.flush();
    return status;
  });
}

