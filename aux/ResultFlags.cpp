#include "aux/ResultFlags.h"

#include <cmath>

namespace {

bool known(const Measured& m) { return m.value && m.error; }

// A resistivity error above a fifth of the value: a window of a few points, or
// a knee fit on a scan that barely reaches the ohmic region; no cut on it means much.
bool uncertain(const MethodResult& m) {
  return m.status.fitted() && known(m.rho) && *m.rho.error > kFlagRelativeRhoError * std::fabs(*m.rho.value);
}

// An onset known to worse than 100 V cannot tell a gap that conducts early from one that does not.
bool onsetUncertain(const MethodResult& m) {
  return m.status.fitted() && m.onset.error && !(*m.onset.error <= kFlagOnsetError);
}

bool notPositive(const MethodResult& m) { return m.status.fitted() && m.rho.value && !(*m.rho.value > 0.0); }

// Both methods measure the same slope; more than three combined errors apart,
// one of them has taken something else (a noisy window, a bend).
bool disagree(const ResultsRow& row) {
  if (!row.window.status.fitted() || !row.knee.status.fitted()) return false;
  if (!known(row.window.rho) || !known(row.knee.rho)) return false;
  const double w = *row.window.rho.error, k = *row.knee.rho.error;
  return std::fabs(*row.window.rho.value - *row.knee.rho.value) > kFlagDisagreementSigmas * std::sqrt(w * w + k * k);
}

bool flagged(ResultFlag flag, const ResultsRow& row, const FlagFacts& facts) {
  const MethodResult& w = row.window;
  const MethodResult& k = row.knee;
  switch (flag) {
    case ResultFlag::methodsDisagree: return disagree(row);
    // The knee fit refuses gaps that do not conduct or bend all the way; a
    // window result it cannot confirm is most often one of those.
    case ResultFlag::windowOnly: return w.status.fitted() && !k.status.fitted();
    case ResultFlag::windowRhoNotPositive: return notPositive(w);
    case ResultFlag::windowRhoUncertain: return uncertain(w);
    // A handful of points holds a line through almost anything.
    case ResultFlag::windowNarrow:
      return w.status.fitted() && row.windowPoints && *row.windowPoints < kFlagFewestWindowPoints;
    case ResultFlag::windowOnsetUncertain: return onsetUncertain(w);
    case ResultFlag::kneeRhoUncertain: return uncertain(k);
    case ResultFlag::kneeOnsetUncertain: return onsetUncertain(k);
    case ResultFlag::kneeWidthAtBound: return k.status.fitted() && facts.kneeWidthAtBound;
    case ResultFlag::kneeCurved: return k.status.fitted() && facts.kneeCurved;
    case ResultFlag::implausibleLines: return facts.implausibleLines > 0;
  }
  return false;
}

}  // namespace

std::vector<ResultFlag> resultFlags(const ResultsRow& row, const FlagFacts& facts) {
  std::vector<ResultFlag> flags;
  for (const ResultFlag f : allResultFlags()) {
    if (flagged(f, row, facts)) flags.push_back(f);
  }
  return flags;
}
