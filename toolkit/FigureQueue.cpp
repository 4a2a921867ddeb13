#include "toolkit/FigureQueue.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdint>
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

FigureQueue::FigureQueue(int workers, Console& console) : workers_(workers), console_(console) {}

FigureQueue::~FigureQueue() { finish(); }

void FigureQueue::save(const Canvas& canvas, const std::string& path) {
  if (workers_ <= 1) {
    std::string error;
    if (!canvas.SaveAs(path, error)) console_.error(error);
    return;
  }
  kept_.push_back({canvas, path});
}

namespace {

// What a painting child tells of each figure of its share: its index, whether
// it was saved, and the reason when not.
struct Record {
  std::uint32_t index;
  std::uint32_t saved;
  std::uint32_t length;
};

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return text;
    }
  }
}

// Removes what a painter that died left of the figure: its temporary file.
void removePartial(const std::string& path, pid_t pid) {
  namespace fs = std::filesystem;
  const fs::path figure(path);
  const std::string partial = figure.filename().string() + ".part-" + std::to_string(pid) + "-";
  const fs::path dir = figure.has_parent_path() ? figure.parent_path() : fs::path(".");
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (it->path().filename().string().rfind(partial, 0) == 0) fs::remove(it->path(), ignored);
  }
}

}  // namespace

void FigureQueue::paintShare(std::size_t share, std::size_t shares, int reasons,
                             std::vector<std::string>& errors) {
  for (std::size_t k = share; k < kept_.size(); k += shares) {
    std::string error;
    const bool saved = kept_[k].canvas.SaveAs(kept_[k].path, error);
    if (reasons < 0) {
      if (!saved) errors[k] = error;
      continue;
    }
    const Record record{static_cast<std::uint32_t>(k), saved ? 1U : 0U,
                        static_cast<std::uint32_t>(error.size())};
    if (!writeAll(reasons, &record, sizeof record) || !writeAll(reasons, error.data(), error.size())) return;
  }
}

void FigureQueue::collectShare(std::size_t share, std::size_t shares, pid_t pid, int reasons,
                               std::vector<std::string>& errors) {
  const std::string records = readAll(reasons);
  ::close(reasons);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::vector<bool> told(kept_.size(), false);
  for (std::size_t at = 0; at + sizeof(Record) <= records.size();) {
    Record record{};
    std::memcpy(&record, records.data() + at, sizeof record);
    at += sizeof record;
    if (record.index >= kept_.size() || at + record.length > records.size()) break;
    told[record.index] = true;
    if (record.saved == 0) errors[record.index] = records.substr(at, record.length);
    at += record.length;
  }
  const std::string how = WIFSIGNALED(status) ? "was killed by signal " + std::to_string(WTERMSIG(status))
                                              : "stopped with status " + std::to_string(WEXITSTATUS(status));
  for (std::size_t k = share; k < kept_.size(); k += shares) {
    if (told[k]) continue;
    // The painter died before it could say (the plotting library ends the
    // process on some failures).
    removePartial(kept_[k].path, pid);
    errors[k] = "cannot write figure " + kept_[k].path + ": its painting process " + how;
  }
}

void FigureQueue::finish() {
  if (kept_.empty()) return;
  const std::size_t shares = std::min(kept_.size(), static_cast<std::size_t>(std::max(workers_, 1)));
  struct Child {
    std::size_t share;
    pid_t pid;
    int reasons;
  };
  std::vector<Child> children;
  std::vector<std::size_t> mine{0};
  const bool mayFork = singleThreaded(200);
  // Whatever is buffered now would otherwise be written again by a child that
  // the plotting library ends with exit().
  console_.out.flush();
  console_.err.flush();
  std::fflush(nullptr);
  for (std::size_t share = 1; share < shares; ++share) {
    int reasons[2];
    if (!mayFork || ::pipe2(reasons, O_CLOEXEC) != 0) {
      mine.push_back(share);
      continue;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(reasons[0]);
      std::vector<std::string> unused;
      paintShare(share, shares, reasons[1], unused);
      // No atexit handlers, no flushing of buffers that belong to the parent.
      ::_exit(0);
    }
    ::close(reasons[1]);
    if (pid < 0) {
      ::close(reasons[0]);
      mine.push_back(share);
      continue;
    }
    children.push_back({share, pid, reasons[0]});
  }
  // Failures are told in the order the figures were handed over.
  std::vector<std::string> errors(kept_.size());
  for (const std::size_t share : mine) paintShare(share, shares, -1, errors);
  for (const Child& child : children) collectShare(child.share, shares, child.pid, child.reasons, errors);
  for (const std::string& error : errors) {
    if (!error.empty()) console_.error(error);
  }
  kept_.clear();
}

}  // namespace tk
