// The campaign's verdicts as data: each gap judged against the limits it falls
// under, one VerdictRow per gap and limit checked, their counts, and
// verdicts.csv, which the report writes beside its page.
//
// A value is judged with its error σ (the results.csv column its entry names):
// FAIL when it lies outside a limit by more than 2σ, MARGINAL when it lies
// outside by less or inside within 2σ of an edge, else PASS. A value without an
// error is judged as it stands (outside: FAIL). DRIFT comes from a gap's history
// (tools/CampaignHistory.h), on the row of its latest scan. A gap's verdict is the most
// severe of its rows'.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "aux/ResultsTable.h"
#include "tools/Limits.h"

// The verdicts, from the least to the most severe (a gap's verdict is the most
// severe of its rows'). Adding one is an entry here and its line in
// verdictKinds(); the page's style sheet may give its class a colour.
enum class VerdictKind { pass, noResult, marginal, drift, fail };

struct VerdictKindInfo {
  VerdictKind kind;
  const char* word;       // in verdicts.csv and on the page
  const char* htmlClass;  // the page's style of its cells
};
// Every kind, in enum order (least severe first).
const std::vector<VerdictKindInfo>& verdictKinds();
const char* verdictWord(VerdictKind kind);
const char* verdictClass(VerdictKind kind);

// How many standard errors away from a limit's edge a value may lie and still
// be MARGINAL rather than FAIL (outside) or PASS (inside).
constexpr double kMarginalSigmas = 2.0;

// One row of verdicts.csv: a gap and one limit checked, or (quantity "") a gap
// with no result or no limit that applies to it.
struct VerdictRow {
  std::string scan, gap;
  VerdictKind verdict = VerdictKind::noResult;
  std::string quantity;  // a numeric results.csv column; "" when no limit was checked
  std::optional<double> value, error, min, max;
  std::vector<ResultFlag> flags;  // the gap's flags, as results.csv has them
  // Not in the file: the page's words (what broke, or why there is no verdict)
  // and, for a checked value with an error, how many σ it lies outside its
  // nearest edge (negative: inside).
  std::string why;
  std::optional<double> sigmasOutside;
};

// The rows of one gap of `scan` (its results.csv row) under `limits` (none: no
// limit applies). A gap with neither method's result has one row without a
// quantity; so has a gap to which no limit applies.
std::vector<VerdictRow> judgeGap(const std::string& scan, const ResultsRow& row, const Limits* limits);

// The most severe verdict of the rows (NO RESULT for none).
VerdictKind worstVerdict(const std::vector<VerdictRow>& rows);

// A count per verdict kind, indexed by the kind.
struct VerdictCounts {
  std::vector<long> of = std::vector<long>(verdictKinds().size());  // one per VerdictKind
  long& operator[](VerdictKind k) { return of.at(static_cast<std::size_t>(k)); }
  long operator[](VerdictKind k) const { return of.at(static_cast<std::size_t>(k)); }
  long total() const;
  // "2 FAIL, 0 DRIFT, 1 MARGINAL, 3 NO RESULT, 12 PASS": every kind, the most severe first.
  std::string text() const;
};

// verdicts.csv: `comments` first, each line "# " and the text (control bytes
// written out as \xNN, so a comment stays one line), then the header
// scan,gap,verdict,quantity,value,error,min,max,flags and the rows. Fields
// holding , " # CR or LF are quoted (a CSV reader told that "#" starts a comment
// reads them whole). Numbers as results.csv writes them.
std::string verdictsCsvText(const std::vector<std::string>& comments, const std::vector<VerdictRow>& rows);

// "key=value; key=value", the form of a comment line's items.
std::string commentItems(const std::vector<std::pair<std::string, std::string>>& items);
