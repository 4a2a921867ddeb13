// The watch mode's pure rules: complete lines, file changes, alarms.
#include "tools/WatchRules.h"

#include <algorithm>
#include <cmath>

std::size_t takeLines(TailText& tail, const std::string& chunk) {
  tail.partial += chunk;
  const std::size_t end = tail.partial.rfind('\n');
  if (end == std::string::npos) return 0;
  const auto lines = static_cast<std::size_t>(
      std::count(tail.partial.begin(), tail.partial.begin() + static_cast<std::ptrdiff_t>(end + 1), '\n'));
  tail.complete.append(tail.partial, 0, end + 1);
  tail.partial.erase(0, end + 1);
  return lines;
}

FileChange judgeFile(const FileIdentity& watched, const std::optional<FileIdentity>& now, off_t read) {
  if (!now) return FileChange::vanished;
  if (now->device != watched.device || now->inode != watched.inode) return FileChange::replaced;
  return now->size < read ? FileChange::truncated : FileChange::same;
}

namespace {

double median(std::vector<double> values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
  return 0.5 * (lower + upper);
}

// The consistency factor that makes a MAD a standard deviation for normal noise.
constexpr double kMadToSigma = 1.4826;

}  // namespace

std::optional<JumpMeasure> jumpAt(const std::vector<double>& current, std::size_t k, double sigma) {
  if (k < kJumpFewestSteps + 1 || k >= current.size()) return std::nullopt;
  const std::size_t first = k > kJumpWindow ? k - kJumpWindow : 1;
  std::vector<double> steps;
  for (std::size_t i = first; i < k; ++i) steps.push_back(current[i] - current[i - 1]);
  // The trend from the latest few steps, so that a knee is followed within a
  // few points; the scatter from all the window's.
  const double centre = median(std::vector<double>(steps.end() - static_cast<std::ptrdiff_t>(std::min(steps.size(), kJumpTrendSteps)), steps.end()));
  const double middle = median(steps);
  for (double& s : steps) s = std::fabs(s - middle);
  const double deviation = std::max(kMadToSigma * median(steps), kJumpDeviationFloor);
  const double step = current[k] - current[k - 1];
  if (!std::isfinite(step)) return std::nullopt;
  return JumpMeasure{(step - centre) / deviation, sigma * deviation};
}

std::vector<Alarm> judgeGap(const std::string& gap, const std::vector<double>& hv, const std::vector<double>& current,
                            const AlarmRules& rules, GapAlarmState& state) {
  std::vector<Alarm> alarms;
  const std::size_t n = std::min(hv.size(), current.size());
  for (std::size_t k = state.judged; k < n; ++k) {
    if (rules.maxCurrent) {
      const bool over = std::fabs(current[k]) > *rules.maxCurrent;
      if (over && !state.overLimit) alarms.push_back({gap, hv[k], current[k], kMaxCurrentAlarm, *rules.maxCurrent});
      state.overLimit = over;
    }
    if (const std::optional<JumpMeasure> jump = jumpAt(current, k, rules.jumpSigma)) {
      const bool jumped = jump->sigmas > rules.jumpSigma;
      if (jumped && !state.inJump) alarms.push_back({gap, hv[k], current[k], kJumpAlarm, jump->allowed});
      state.inJump = jumped;
    }
  }
  state.judged = std::max(state.judged, n);
  return alarms;
}
