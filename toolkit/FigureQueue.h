// Figures saved concurrently, painted by processes of their own.
//
// PLplot allows one painter per process and keeps global state, so figures are
// not painted on threads. A figure handed to the queue is kept as a copy of its
// canvas, which holds copies of all it draws, so it paints what SaveAs would
// have painted at that moment whatever happens to the graphs afterwards. finish() shares the kept figures among `workers` processes: this
// one and workers - 1 children forked for the purpose, before any of them has
// painted, so that each sets up its fonts side by side with the others. One
// child a share, rather than one a figure, pays the cost of a fork (a fault for
// every page the child writes to) once a share.
//
// The process that owns a queue must have no other threads when finish() forks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

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

class FigureQueue {
 public:
  // With workers <= 1 every figure is saved in place, at once. Failures are
  // reported through `console`, which must outlive the queue.
  FigureQueue(int workers, Console& console);
  // Saves the figures still kept (see finish).
  ~FigureQueue();
  FigureQueue(const FigureQueue&) = delete;
  FigureQueue& operator=(const FigureQueue&) = delete;

  // Saves the canvas as `path`, as Canvas::SaveAs does, at once or by finish().
  // The canvas and its graphs may change or go as soon as this returns.
  void save(const Canvas& canvas, const std::string& path);

  // Saves every figure kept, in up to `workers` processes, and returns when all
  // are written or reported with console.error, in the order they were handed
  // over: a figure that cannot be written
  // with SaveAs's reason, one whose painting process died with how it died (its
  // partial file removed). Where no process can be forked (or this process has
  // other threads), this one paints them all.
  void finish();

 private:
  // A figure kept for later.
  struct Kept {
    Canvas canvas;
    std::string path;
  };
  // Paints every shares-th kept figure from `share` on; tells each outcome
  // through the pipe `reasons`, or (reasons < 0) puts failures in `errors`.
  void paintShare(std::size_t share, std::size_t shares, int reasons, std::vector<std::string>& errors);
  // Reads a child's outcomes into `errors` and waits for it.
  void collectShare(std::size_t share, std::size_t shares, pid_t pid, int reasons,
                    std::vector<std::string>& errors);

  int workers_;
  Console& console_;
  std::vector<Kept> kept_;
};

}  // namespace tk
