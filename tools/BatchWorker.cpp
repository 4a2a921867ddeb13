// A batch's worker process: analyses the scans the batch hands it, one after
// another, each as a single run would, and leaves each scan's outcome file.
#include <exception>
#include <ios>

#include "tools/ScanProcess.h"
#include "tools/gapohm.h"
#include "toolkit/SafeFile.h"

namespace {

// One scan in a worker: the single run of `file` into `place`, then its outcome
// written atomically to `outcomeFile`. Lets no exception out. Returns the run's
// exit status (1 also when the outcome file cannot be written).
int runBatchScan(const std::string& file, const RunOptions& options, const OutputPlace& place,
                 const std::string& outcomeFile, tk::Console& console, tk::Easel& easel) {
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
    std::string error;
    // The outcome lives in the batch's private directory until the batch has
    // read it: no flush to the device.
    if (!writeFileAtomically(outcomeFile, outcomeFileText(status, reasons, gaps), error, false)) {
      console.error(tk::Status::IOError(error), failures);
      return 1;
    }
    return status;
  } catch (...) {
    // Out of memory while telling the outcome: the batch finds no outcome file.
    return 1;
  }
}

}  // namespace

int serveBatchScans(const RunOptions& options, const OutputPlace& place, tk::Console& console) {
  // Kept from scan to scan: nothing on it shows in a figure (tk::Easel).
  tk::Easel easel;
  return serveScans([&](const ScanTask& task) {
    OutputPlace here = place;
    here.outputDir = task.outputDir;
    // A scan's messages are formatted as in a process of its own, whatever the
    // scans before it set on the streams.
    std::ios outFormat(nullptr);
    std::ios errFormat(nullptr);
    outFormat.copyfmt(console.out);
    errFormat.copyfmt(console.err);
    const int status = runBatchScan(task.scan, options, here, task.outcome, console, easel);
    console.out.copyfmt(outFormat);
    console.err.copyfmt(errFormat);
    console.out.clear();
    console.err.flush();
    return status;
  });
}

