// Where a run's figures are saved, and what a process must know before it forks
// painters of its own (the batch analyses scans side by side in processes).
//
// A single run saves its figures one after another in its own process: on two
// cores, painting the seven figures of a six-gap argon scan in two processes
// cost 19-25% more processor time (medians 92-103 ms against 78-83 ms) and
// saved at most a fifth of the wall time, often none, as the painter's set-up
// in each process outweighs the sharing. Parallel painting pays only across
// scans (--batch).
#pragma once

#include <string>

#include "toolkit/Canvas.h"
#include "toolkit/Console.h"

namespace tk {

// The number of processors this process may run on (at least 1).
int availableCores();

// True once this process runs on one thread, waiting up to `patienceMs` for the
// threads that the font libraries start and end by themselves. Forking is safe
// only then: a thread gone in the child may hold a lock the child needs.
bool singleThreaded(int patienceMs);

// Paints a figure of the usual size with the default style into memory and
// drops it, so that processes forked afterwards start with fonts and glyphs set up.
void warmUpPainting();

// Saves the figures of one run, each as soon as it is handed over, in this
// process; failures are reported through the console, in the order the figures
// came. Callers that hand figures over through a queue keep working unchanged.
class FigureQueue {
 public:
  // `console` must outlive the queue.
  explicit FigureQueue(Console& console) : console_(console) {}
  // For callers written for painting in several processes: `workers` is no
  // longer used, every figure is saved at once (see above).
  FigureQueue(int workers, Console& console) : FigureQueue(console) { static_cast<void>(workers); }
  FigureQueue(const FigureQueue&) = delete;
  FigureQueue& operator=(const FigureQueue&) = delete;

  // Saves the canvas as `path`, as Canvas::SaveAs does; a figure that cannot be
  // written is reported with console.error and SaveAs's reason.
  void save(const Canvas& canvas, const std::string& path);

  // Every figure handed over is already written: nothing is left to do.
  void finish() {}

 private:
  Console& console_;
};

}  // namespace tk
