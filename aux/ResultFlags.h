// When a gap's result gets a flag: the marks a QC team cuts on, decided once
// from the typed row and what the fits know beyond it. A flag never removes a
// number; it says the number needs a second look.
#pragma once

#include <vector>

#include "aux/ResultsTable.h"

// The thresholds, each with its reason in aux/ResultFlags.cpp.
inline constexpr double kFlagDisagreementSigmas = 3.0;
inline constexpr double kFlagRelativeRhoError = 0.20;
inline constexpr double kFlagFewestWindowPoints = 10.0;
inline constexpr double kFlagOnsetError = 100.0;  // V

// What the flags need that the row does not hold.
struct FlagFacts {
  bool kneeWidthAtBound = false;  // KneeFit::widthUnresolved: at its bound or held, with a set wider than two HV steps
  bool kneeCurved = false;        // the knee fit's curvature test
  long implausibleLines = 0;      // lines of the gap left out for implausible conditions
};

// The flags of `row` (its two methods' statuses and numbers must be filled), in
// enum order, each once; empty for a clean result or a gap without any.
std::vector<ResultFlag> resultFlags(const ResultsRow& row, const FlagFacts& facts);
