// --batch: many scans, analysed by a few worker processes of the program; their summary and campaign page (tools/Batch.cpp). The outcome
// file a scan's process leaves: tools/BatchOutcome.h.
#pragma once

#include <string>
#include <vector>

#include "aux/OutputPlaces.h"
#include "toolkit/Console.h"
#include "tools/BatchOutcome.h"
#include "tools/Run.h"

// Analyses many scans, each as a single run with `options` into the directory a
// single run would use (with place.outputDir D: D/<scan name>/), options.jobs at
// once, by options.jobs worker processes of the program (options.executable)
// started with --scan-worker, and one more in place of each that ends mid-scan
// (that scan fails). `paths` are scan files or directories (their regular ".csv"
// files, in name order; a ".csv" entry that is not a regular file fails, other
// entries that are not regular files are skipped with a warning). Writes a
// progress line per scan to console.out, forwards each scan's standard error to
// console.err as one block, and writes the summary of every gap of every scan to
// `summaryPath` (empty: the batch's output root, "BatchSummary.csv"). A scan
// that fails does not stop the others. SIGINT or SIGTERM stops the scans running
// (passed on to their processes, which remove their temporary files), waits for
// them and writes the summary with an "interrupted" row for every scan not
// finished. Returns 0 when every scan and the summary succeeded, 128 + the
// signal when interrupted, else 1.
int runBatch(const std::vector<std::string>& paths, const RunOptions& options,
             const OutputPlace& place, const std::string& summaryPath, tk::Console& console);


// The body of a batch's worker (gapohm --scan-worker): analyses each scan the
// batch hands it (tools/ScanProcess.h) as the single run of the scan into its
// output directory with `options`, its outcome text sent back to the batch,
// until the batch has no more. Nothing of one scan carries to the
// next: each starts from the same options, place and stream formats. Returns 0,
// or 1 when the channel to the batch fails.
int serveBatchScans(const RunOptions& options, const OutputPlace& place, tk::Console& console);
