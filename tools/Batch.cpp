// Many scans in one call: each scan is analysed by a process forked from this
// one, as a single run would analyse it, while this process keeps the batch's
// bookkeeping. A process per scan keeps the plotting library's one-painter rule,
// uses every core, and lets a scan that crashes take nothing else with it.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "tools/gapohm.h"
#include "toolkit/FigureQueue.h"

namespace {

namespace fs = std::filesystem;

bool isCsvFile(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".csv";
}

// A scan the batch names, and why it cannot be analysed (empty when it can).
struct Named {
  std::string path;
  std::string unusable;
};

// The scans the batch names: files as given, and the ".csv" files directly inside
// a directory, in name order. A directory that cannot be listed is kept, with why.
std::vector<Named> listScans(const std::vector<std::string>& paths, tk::Console& console) {
  std::vector<Named> scans;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
      scans.push_back({path, ""});  // a file that cannot be read fails as a single run would
      continue;
    }
    std::vector<std::string> inside;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code typeError;
      if (isCsvFile(it->path()) && !it->is_directory(typeError)) inside.push_back(it->path().string());
    }
    if (ec) {
      scans.push_back({path, "cannot list the scans in it: " + ec.message()});
      continue;
    }
    if (inside.empty()) console.warning(path + ": no .csv scan files in this directory");
    std::sort(inside.begin(), inside.end());
    for (std::string& scan : inside) scans.push_back({std::move(scan), ""});
  }
  return scans;
}

// The scan's name as its output directory is called: the file name without ".csv".
std::string scanName(const std::string& scan) {
  const std::string directory = dirForScan(scan, "", "");
  return ExtractFilename(directory.substr(0, directory.size() - 1));
}

// One scan of the batch and what came of it.
struct ScanRun {
  std::string scan;
  OutputPlace place;
  std::string outputDir;  // where a single run puts its outputs (for clashes and messages)
  std::string rows;       // its summary rows
  int gaps = 0, fitted = 0;
  bool failed = false;
  std::string why;        // when failed
};

// Runs the scan here, its messages going to `out` and `err`.
int analyse(ScanRun& run, const RunOptions& options, std::ostream& out, std::ostream& err) {
  tk::Console console(out, err);
  std::vector<GapOutcome> outcomes;
  const int status = readFiles_KVT(run.scan, "", options, run.place, console, &outcomes);
  run.rows = batchSummaryRows(run.scan, outcomes);
  run.gaps = static_cast<int>(outcomes.size());
  run.fitted = static_cast<int>(std::count_if(outcomes.begin(), outcomes.end(),
                                              [](const GapOutcome& g) { return g.fitted; }));
  return status;
}

// The first error message in a scan's messages, without its prefix.
std::string firstError(const std::string& messages) {
  const std::string prefix = "gapohm: error: ";
  const std::size_t at = messages.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t end = messages.find('\n', at);
  return messages.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

std::string readAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return text;
}

// A scan being analysed by a child process, which leaves its messages and its
// result in two unnamed temporary files.
struct Child {
  pid_t pid = -1;
  std::size_t index = 0;
  std::FILE* messages = nullptr;
  std::FILE* result = nullptr;
};

// Forks a child that analyses the scan. False when no child could be started.
bool start(ScanRun& run, std::size_t index, const RunOptions& options, Child& child) {
  child.index = index;
  if (!tk::singleThreaded(200)) return false;
  child.messages = std::tmpfile();
  child.result = std::tmpfile();
  if (child.messages == nullptr || child.result == nullptr) {
    if (child.messages != nullptr) std::fclose(child.messages);
    if (child.result != nullptr) std::fclose(child.result);
    return false;
  }
  std::fflush(nullptr);
  child.pid = ::fork();
  if (child.pid < 0) {
    std::fclose(child.messages);
    std::fclose(child.result);
    return false;
  }
  if (child.pid == 0) {
    std::ostringstream out;  // a batch shows progress lines, not every scan's log
    std::ostringstream err;
    const int status = analyse(run, options, out, err);
    const std::string counts = std::to_string(run.gaps) + " " + std::to_string(run.fitted) + "\n";
    const std::string messages = err.str();
    std::fwrite(messages.data(), 1, messages.size(), child.messages);
    std::fwrite(counts.data(), 1, counts.size(), child.result);
    std::fwrite(run.rows.data(), 1, run.rows.size(), child.result);
    const bool kept = std::fflush(child.messages) == 0 && std::fflush(child.result) == 0;
    ::_exit(kept ? status : 1);
  }
  return true;
}

// Collects what the child left and its exit status; forwards its messages.
void collect(const Child& child, ScanRun& run, tk::Console& console) {
  int status = 0;
  pid_t waited = -1;
  while ((waited = ::waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  const std::string messages = readAll(child.messages);
  const std::string result = readAll(child.result);
  std::fclose(child.messages);
  std::fclose(child.result);
  console.err << messages << std::flush;
  std::istringstream counts(result);
  counts >> run.gaps >> run.fitted;
  const std::size_t rows = result.find('\n');
  if (rows != std::string::npos) run.rows = result.substr(rows + 1);
  if (waited < 0) {
    run.failed = true;
    run.why = "its analysis process is lost";
  } else if (WIFSIGNALED(status)) {
    run.failed = true;
    run.why = "its analysis process was killed by signal " + std::to_string(WTERMSIG(status));
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    run.failed = true;
    run.why = firstError(messages);
  }
}

// Waits until one of the running children ends and returns its place in the
// list; the oldest when the wait cannot tell.
std::size_t waitForOne(const std::deque<Child>& running) {
  siginfo_t info{};
  while (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) == 0 || errno == EINTR) {
    for (std::size_t k = 0; k < running.size(); ++k) {
      if (running[k].pid == info.si_pid) return k;
    }
    if (info.si_pid != 0) break;  // a child that is not a scan's: wait in order
  }
  return 0;
}

}  // namespace

std::string batchSummaryHeader() {
  return "scan,gap,resistivity [Ohm*cm],resistivity error,resistance [Ohm],resistance error,"
         "resistance*area [Ohm*cm2],resistance*area error,offset [nA/cm2],offset error,onset [V],"
         "onset error,status\n";
}

std::string batchSummaryRows(const std::string& scan, const std::vector<GapOutcome>& outcomes) {
  std::ostringstream rows;
  for (const GapOutcome& g : outcomes) {
    rows << csvField(scan) << ',' << csvField(g.gap);
    if (g.fitted) {
      const GapValues& v = g.values;
      for (const double x : {v.resistivity, v.resistivityError, v.resistance, v.resistanceError,
                             v.resistanceArea, v.resistanceAreaError, v.offset, v.offsetError,
                             v.onset, v.onsetError}) {
        rows << ',' << x;
      }
      rows << ",fitted\n";
    } else {
      rows << ",,,,,,,,,,," << csvField(g.why) << '\n';
    }
  }
  return rows.str();
}

int runBatch(const std::vector<std::string>& paths, const RunOptions& options,
             const OutputPlace& place, const std::string& summaryPath, tk::Console& console) {
  const std::vector<Named> scans = listScans(paths, console);
  const std::optional<std::string> home = place.env("HOME");
  if (!place.outputDir && !home && summaryPath.empty()) {
    // Without a home directory the dated layout would land at the file-system root.
    console.error("HOME is not set: no place for the outputs; give one with --output-dir");
    return 1;
  }

  std::vector<ScanRun> runs(scans.size());
  std::map<std::string, std::string> dirOwner;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    ScanRun& run = runs[k];
    run.scan = scans[k].path;
    run.place = place;
    if (place.outputDir) {
      std::string root = *place.outputDir;
      if (root.empty() || root.back() != '/') root += '/';
      run.place.outputDir = root + scanName(run.scan);
      run.outputDir = *run.place.outputDir + "/";
    } else {
      run.outputDir = dirForScan(run.scan, home.value_or(""), place.date);
    }
    if (!scans[k].unusable.empty()) {
      run.failed = true;
      run.why = scans[k].unusable;
      continue;
    }
    const auto [owner, mine] = dirOwner.emplace(run.outputDir, run.scan);
    if (!mine) {
      run.failed = true;
      run.why = "its outputs would replace those of " + owner->second + " in " + run.outputDir;
    }
  }

  std::string summary = summaryPath;
  if (summary.empty()) {
    const std::string root = place.outputDir ? *place.outputDir
                             : runs.empty()  ? std::string()
                                             : ExtractDirectory(runs.front().outputDir.substr(
                                                   0, runs.front().outputDir.size() - 1));
    summary = (root.empty() || root.back() == '/' ? root : root + "/") + "BatchSummary.csv";
  }

  RunOptions perScan = options;
  perScan.jobs = 1;  // the cores go to scans side by side
  const int workers = std::max(1, options.jobs);
  // Fonts are set up once here, for every scan's process to inherit.
  if (workers > 1 && scans.size() > 1) tk::warmUpPainting();

  std::size_t done = 0;
  auto report = [&](const ScanRun& run) {
    ++done;
    console.out << "gapohm: [" << done << "/" << runs.size() << "] " << run.scan << ": ";
    if (run.failed) {
      console.out << "FAILED" << (run.why.empty() ? "" : " (" + run.why + ")") << std::endl;
    } else {
      console.out << "ok, " << run.gaps << " gaps, " << run.fitted << " fitted, outputs in "
                  << run.outputDir << std::endl;
    }
  };

  std::deque<Child> running;
  // Waits for whichever scan ends first and tells what came of it.
  auto finishOne = [&] {
    const std::size_t slot = waitForOne(running);
    collect(running[slot], runs[running[slot].index], console);
    report(runs[running[slot].index]);
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(slot));
  };
  for (std::size_t k = 0; k < runs.size(); ++k) {
    ScanRun& run = runs[k];
    if (run.failed) {
      console.error(run.scan + ": not analysed: " + run.why);
      report(run);
      continue;
    }
    while (static_cast<int>(running.size()) >= workers) finishOne();
    console.out.flush();
    console.err.flush();
    Child child;
    if (workers > 1 && start(run, k, perScan, child)) {
      running.push_back(child);
      continue;
    }
    // One at a time, or no process to be had: the scan is analysed here.
    std::ostringstream out;
    std::ostringstream err;
    const int status = analyse(run, perScan, out, err);
    console.err << err.str() << std::flush;
    if (status != 0) {
      run.failed = true;
      run.why = firstError(err.str());
    }
    report(run);
  }
  while (!running.empty()) finishOne();

  std::string text = batchSummaryHeader();
  int failed = 0;
  for (const ScanRun& run : runs) {
    text += run.rows;
    if (run.failed) {
      ++failed;
      text += csvField(run.scan) + ",,,,,,,,,,,," + csvField("scan failed" + (run.why.empty() ? "" : ": " + run.why)) + "\n";
    }
  }
  std::string error;
  const std::string directory = ExtractDirectory(summary);
  if ((!directory.empty() && !makeDirectories(directory, error)) || !writeFileAtomically(summary, text, error)) {
    console.error("cannot write the batch summary: " + error);
    return 1;
  }
  console.out << "gapohm: " << runs.size() << " scans, " << failed << " failed; summary in " << summary
              << std::endl;
  return failed > 0 || console.failed() ? 1 : 0;
}
