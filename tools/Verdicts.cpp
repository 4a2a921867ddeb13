#include "tools/Verdicts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "toolkit/Console.h"

namespace {

std::string shortNumber(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

// Where a value lies against one edge of its limit.
struct EdgeCheck {
  VerdictKind kind = VerdictKind::pass;
  std::optional<double> sigmas;  // outside the edge, in errors (negative: inside)
  std::string text;
};

// `outside` is how far the value lies beyond the edge (negative: inside);
// `sigma` its error, when it has a usable one.
EdgeCheck checkEdge(double outside, std::optional<double> sigma, const std::string& edge) {
  EdgeCheck check;
  if (sigma) {
    check.sigmas = outside / *sigma;
    check.kind = *check.sigmas > kMarginalSigmas    ? VerdictKind::fail
                 : *check.sigmas >= -kMarginalSigmas ? VerdictKind::marginal
                                                     : VerdictKind::pass;
  } else {
    check.kind = outside > 0 ? VerdictKind::fail : VerdictKind::pass;
  }
  if (check.kind == VerdictKind::pass) return check;
  char sigmas[48] = "no error to weigh it";
  if (check.sigmas) {
    std::snprintf(sigmas, sizeof sigmas, "%.2f\xCF\x83 %s", std::fabs(*check.sigmas), outside > 0 ? "outside" : "inside");
  }
  const std::string within = "within " + shortNumber(kMarginalSigmas) + "\xCF\x83 of ";
  check.text = (outside > 0 ? (edge.compare(0, 3, "min") == 0 ? "< " : "> ") : within) + edge + " (" + sigmas + ")";
  return check;
}

// The row of one quantity the gap's limit names.
VerdictRow checkedRow(VerdictRow row, const ResultsRow& result, const Limit& limit) {
  row.quantity = limit.quantity;
  row.min = limit.min;
  row.max = limit.max;
  const ResultsColumn* column = findResultsColumn(limit.quantity);
  row.value = column != nullptr && column->number ? column->number(result) : std::nullopt;
  if (!row.value) {
    row.why = "no value of " + limit.quantity;
    return row;
  }
  if (column != nullptr) row.error = resultsError(*column, result);
  // Only a positive, finite error weighs a distance.
  const std::optional<double> sigma =
      row.error && std::isfinite(*row.error) && *row.error != 0.0 ? std::optional<double>(std::fabs(*row.error)) : std::nullopt;
  EdgeCheck worst;
  for (const bool lower : {true, false}) {
    const std::optional<double>& edge = lower ? limit.min : limit.max;
    if (!edge) continue;
    EdgeCheck check = checkEdge(lower ? *edge - *row.value : *row.value - *edge, sigma,
                                (lower ? "min " : "max ") + shortNumber(*edge));
    if (check.kind > worst.kind || (check.kind == worst.kind && check.sigmas > worst.sigmas)) worst = std::move(check);
  }
  row.verdict = worst.kind;
  row.sigmasOutside = worst.sigmas;
  const std::string value = limit.quantity + " " + shortNumber(*row.value) + (sigma ? " \xC2\xB1 " + shortNumber(*sigma) : "");
  row.why = worst.kind == VerdictKind::pass ? value : value + " " + worst.text;
  return row;
}

// A field of verdicts.csv: quoted when it holds what a CSV reader would split
// at or, with "#" as its comment mark, cut.
std::string csvField(const std::string& text) {
  if (text.find('#') == std::string::npos) return resultsCsvField(text);
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string numberCell(const std::optional<double>& v) { return v ? formatResultsNumber(*v) : std::string(); }

}  // namespace

const std::vector<VerdictKindInfo>& verdictKinds() {
  static const std::vector<VerdictKindInfo> kinds = {
      {VerdictKind::pass, "PASS", "pass"},
      {VerdictKind::noResult, "NO RESULT", "noresult"},
      {VerdictKind::marginal, "MARGINAL", "marginal"},
      {VerdictKind::drift, "DRIFT", "drift"},  // a gap's history (tools/CampaignHistory.h)
      {VerdictKind::fail, "FAIL", "fail"},
  };
  return kinds;
}

const char* verdictWord(VerdictKind kind) { return verdictKinds()[static_cast<std::size_t>(kind)].word; }
const char* verdictClass(VerdictKind kind) { return verdictKinds()[static_cast<std::size_t>(kind)].htmlClass; }

std::vector<VerdictRow> judgeGap(const std::string& scan, const ResultsRow& row, const Limits* limits) {
  VerdictRow base;
  base.scan = scan;
  base.gap = row.gap;
  base.flags = row.flags;
  if (!row.window.status.fitted() && !row.knee.status.fitted()) {
    base.why = "no result: " + (row.window.status.reason.empty() ? "window search without one" : row.window.status.reason);
    return {base};
  }
  std::vector<VerdictRow> rows;
  if (limits != nullptr) {
    for (const std::string& quantity : limitedQuantities(*limits)) {
      const Limit* limit = limitFor(row.gap, quantity, *limits);
      if (limit != nullptr) rows.push_back(checkedRow(base, row, *limit));
    }
  }
  if (rows.empty()) {
    base.why = limits == nullptr ? "no limits given" : "no limit applies to this gap";
    rows.push_back(base);
  }
  return rows;
}

VerdictKind worstVerdict(const std::vector<VerdictRow>& rows) {
  if (rows.empty()) return VerdictKind::noResult;
  VerdictKind worst = VerdictKind::pass;
  for (const VerdictRow& row : rows) worst = std::max(worst, row.verdict);
  return worst;
}

long VerdictCounts::total() const {
  long sum = 0;
  for (const long n : of) sum += n;
  return sum;
}

std::string VerdictCounts::text() const {
  std::string text;
  for (auto info = verdictKinds().rbegin(); info != verdictKinds().rend(); ++info) {
    text += (text.empty() ? "" : ", ") + std::to_string((*this)[info->kind]) + " " + info->word;
  }
  return text;
}

std::string verdictsCsvText(const std::vector<std::string>& comments, const std::vector<VerdictRow>& rows) {
  std::string text;
  for (const std::string& comment : comments) text += "# " + tk::escapeControls(comment) + "\n";
  text += "scan,gap,verdict,quantity,value,error,min,max,flags\n";
  for (const VerdictRow& row : rows) {
    std::string flags;
    for (const std::string& word : flagWords(row.flags)) flags += (flags.empty() ? "" : ";") + word;
    text += csvField(row.scan) + "," + csvField(row.gap) + "," + verdictWord(row.verdict) + "," + csvField(row.quantity) +
            "," + numberCell(row.value) + "," + numberCell(row.error) + "," + numberCell(row.min) + "," +
            numberCell(row.max) + "," + csvField(flags) + "\n";
  }
  return text;
}

std::string commentItems(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string text;
  for (const auto& [key, value] : items) text += (text.empty() ? "" : "; ") + key + "=" + value;
  return text;
}
