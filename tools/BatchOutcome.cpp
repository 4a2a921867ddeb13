#include "tools/BatchOutcome.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

// The row of a scan that has no gap rows of its own to tell why: failed or interrupted.
std::string scanRow(const std::string& scan, const std::string& status) {
  ResultsRow row;
  row.scan = scan;
  row.window.status = MethodStatus::noResult(status);
  return rowLines({row});
}

}  // namespace

std::string rowLines(const std::vector<ResultsRow>& rows) {
  const std::string text = resultsCsvText(rows);
  return text.substr(text.find('\n') + 1);
}

std::string batchSummary(const std::vector<ScanOutcome>& scans) {
  std::string text = resultsCsvText({});
  for (const ScanOutcome& scan : scans) {
    text += scan.rows;
    if (scan.state == ScanOutcome::State::failed) {
      text += scanRow(scan.scan, "scan failed" + (scan.why.empty() ? "" : ": " + scan.why));
    } else if (scan.state == ScanOutcome::State::interrupted) {
      text += scanRow(scan.scan, "interrupted");
    }
  }
  return text;
}

std::string outcomeText(int status, const std::vector<std::string>& errors,
                        const std::vector<ResultsRow>& rows) {
  std::string failure = errors.empty() ? std::string() : errors.front();
  std::replace(failure.begin(), failure.end(), '\n', ' ');
  std::replace(failure.begin(), failure.end(), '\r', ' ');
  const auto fitted = std::count_if(rows.begin(), rows.end(),
                                    [](const ResultsRow& r) { return r.window.status.fitted(); });
  const auto notSearched = std::count_if(rows.begin(), rows.end(), [](const ResultsRow& r) {
    return r.window.status.state == MethodState::notRun;
  });
  return "gapohm-outcome 1\nstatus " + std::to_string(status) + "\nfailure " + failure + "\ngaps " +
         std::to_string(rows.size()) + "\nfitted " + std::to_string(fitted) + "\nnotsearched " +
         std::to_string(notSearched) + "\nrows\n" + rowLines(rows);
}

bool readOutcomeText(const std::string& text, int& status, ScanOutcome& outcome) {
  std::istringstream in(text);
  std::string line;
  std::string fields[7];
  static const char* const kKeys[7] = {"gapohm-outcome ", "status ", "failure ", "gaps ", "fitted ", "notsearched ", "rows"};
  for (std::size_t k = 0; k < 7; ++k) {
    const std::string key = kKeys[k];
    if (!std::getline(in, line) || line.compare(0, key.size(), key) != 0) return false;
    fields[k] = line.substr(key.size());
  }
  char* end = nullptr;
  long numbers[4] = {};
  for (std::size_t k = 0; k < 4; ++k) {
    const std::string& field = fields[k == 0 ? 1 : k + 2];
    numbers[k] = std::strtol(field.c_str(), &end, 10);
    if (field.empty() || *end != '\0') return false;
  }
  if (fields[0] != "1" || !fields[6].empty()) return false;
  const std::streamoff rows = in.tellg();  // -1 when "rows" ends the text without its line end
  if (rows < 0) return false;
  status = static_cast<int>(numbers[0]);
  outcome.why = fields[2];
  outcome.gaps = static_cast<int>(numbers[1]);
  outcome.fitted = static_cast<int>(numbers[2]);
  outcome.notSearched = static_cast<int>(numbers[3]);
  outcome.rows = text.substr(static_cast<std::size_t>(rows));
  return true;
}
