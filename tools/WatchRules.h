// The rules of the watch mode that need no process, file or clock: which bytes
// of a growing scan count as read, whether the file was truncated or replaced,
// and when a gap's current raises an alarm.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The bytes read so far of a scan that is being written. A line counts once its
// line feed has arrived: the slow-control system may be half-way through one.
struct TailText {
  std::string complete;  // whole lines, each ending in a line feed
  std::string partial;   // what came after the last line feed
  off_t read() const { return static_cast<off_t>(complete.size() + partial.size()); }
};

// Appends `chunk` (the next bytes of the file) to `tail`: the lines it completes
// move to tail.complete. Returns how many lines it completed.
std::size_t takeLines(TailText& tail, const std::string& chunk);

// What became of the watched file between two looks.
enum class FileChange {
  same,       // the same file, as long as or longer than what was read
  truncated,  // the same file, now shorter than what was read
  replaced,   // another file (device or inode) under its name
  vanished,   // no file under its name
};
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
};
// `now` is what the name shows (nullopt: nothing), `watched` the file opened at
// the start, `read` the bytes read of it.
FileChange judgeFile(const FileIdentity& watched, const std::optional<FileIdentity>& now, off_t read);

// What the operator asked to be warned of.
struct AlarmRules {
  std::optional<double> maxCurrent;  // nA/cm^2: |J| above it
  double jumpSigma = 8.0;            // robust standard deviations of a gap's step-to-step change
};

// An alarm: the gap, the point (pressure-corrected HV, current density) and the
// rule it broke with that rule's threshold (nA/cm^2: the limit, or the jump the
// robust deviation allowed at that step).
struct Alarm {
  std::string gap;
  double hv = 0.0;
  double current = 0.0;
  std::string kind;  // kMaxCurrentAlarm or kJumpAlarm
  double threshold = 0.0;
};
inline constexpr const char* kMaxCurrentAlarm = "max-current";
inline constexpr const char* kJumpAlarm = "jump";

// A gap's alarm state between passes. An alarm is raised when the gap enters an
// excursion (above the limit; a jump) and not again until it has come back (a
// point at or below the limit; a step within the jump threshold): a gap held
// above the limit is told once, not at every step, and a second discharge
// later in the scan is told again.
struct GapAlarmState {
  std::size_t judged = 0;  // points already judged
  bool overLimit = false;
  bool inJump = false;
};

// The fewest earlier steps a jump is judged against, and the most (the latest).
inline constexpr std::size_t kJumpFewestSteps = 10;
inline constexpr std::size_t kJumpWindow = 20;
inline constexpr std::size_t kJumpTrendSteps = 4;
// The smallest robust deviation of a step's change, nA/cm^2: below it a gap's
// steps are steadier than an ammeter reads.
inline constexpr double kJumpDeviationFloor = 0.01;

// The jump statistic at point k of `current` (a gap's points in file order):
// the step d_k = J_k - J_(k-1) against the steps before it (the latest
// kJumpWindow): (d_k - trend) / (1.4826 * MAD), the trend the median of the
// latest kJumpTrendSteps steps (a steady rise is no jump), the MAD that of the
// window's steps about their median, floored at kJumpDeviationFloor / 1.4826.
// Signed: a discharge raises the current; a fall (an HV trip, the end of a
// discharge) is no alarm. Also gives the jump the threshold `sigma` allows
// (sigma robust deviations). nullopt with fewer than kJumpFewestSteps earlier steps.
struct JumpMeasure {
  double sigmas = 0.0;
  double allowed = 0.0;
};
std::optional<JumpMeasure> jumpAt(const std::vector<double>& current, std::size_t k, double sigma);

// The alarms of the points of one gap not judged yet (from state.judged on),
// in point order; advances `state`.
std::vector<Alarm> judgeGap(const std::string& gap, const std::vector<double>& hv, const std::vector<double>& current,
                            const AlarmRules& rules, GapAlarmState& state);
