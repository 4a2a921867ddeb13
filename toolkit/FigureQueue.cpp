#include "toolkit/FigureQueue.h"

#include <sched.h>
#include <unistd.h>

#include <filesystem>

namespace tk {

int availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

bool singleThreaded(int patienceMs) {
  for (int waited = 0;; waited += 5) {
    std::error_code ec;
    int threads = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) {
      ++threads;
    }
    if (ec) return false;  // cannot tell: do not fork
    if (threads <= 1) return true;
    if (waited >= patienceMs) return false;
    ::usleep(5000);
  }
}

void warmUpPainting() {
  Graph graph;
  for (int i = 0; i < 5; ++i) graph.AddPoint(1000.0 + 100.0 * i, 0.1 * i);
  graph.xTitle = "HV [V]";
  graph.yTitle = "J  [nA/cm^{2}]";
  graph.markerStyle = 20;
  Legend legend;
  legend.header = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz";
  legend.AddEntry(&graph, "RE3-PK-154-BOTTOM", "p");
  Canvas canvas("warm-up", "warm-up", 2000, 1000, Style{});
  canvas.DrawGraph(&graph, true);
  canvas.DrawLegend(legend);
  Image image(canvas.width(), canvas.height());
  std::string ignored;
  canvas.Paint(image, ignored);
}

void FigureQueue::save(const Canvas& canvas, const std::string& path) {
  std::string error;
  if (!canvas.SaveAs(path, error)) console_.error(error);
}

}  // namespace tk
