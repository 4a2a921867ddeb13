#include "tools/Limits.h"

#include <algorithm>
#include <map>

#include "aux/GapRules.h"
#include "aux/ScanInput.h"
#include "tools/ReportInputs.h"
#include "toolkit/SafeFile.h"

namespace {

// A bound of a limits line: empty (no bound) or a finite number.
bool readBound(const std::string& text, std::optional<double>& bound) {
  bound.reset();
  if (text.empty()) return true;
  double v = 0.0;
  if (!readWholeNumber(text, v)) return false;
  bound = v;
  return true;
}

// One line of a limits file as a Limit; the reason in `what` when it is none.
bool limitOf(const CsvRecord& record, Limit& limit, std::string& what) {
  if (record.fields.size() != 4) {
    what = std::to_string(record.fields.size()) + " fields, needs 4 (gap,quantity,min,max)";
    return false;
  }
  limit = Limit{record.fields[0], record.fields[1], std::nullopt, std::nullopt, record.line};
  if (limit.gap.empty()) {
    what = "no gap (an exact gap name, bottom, top-narrow, top-wide or *)";
    return false;
  }
  if (!isNumericResultsColumn(limit.quantity)) {
    what = "quantity \"" + limit.quantity + "\" is not a numeric column of results.csv";
    return false;
  }
  for (int k = 2; k <= 3; ++k) {
    if (!readBound(record.fields[static_cast<std::size_t>(k)], k == 2 ? limit.min : limit.max)) {
      what = std::string(k == 2 ? "min" : "max") + " \"" + record.fields[static_cast<std::size_t>(k)] +
             "\" is not a number";
      return false;
    }
  }
  if (!limit.min && !limit.max) {
    what = "neither min nor max: the line limits nothing";
    return false;
  }
  if (limit.min && limit.max && *limit.min > *limit.max) {
    what = "min " + record.fields[2] + " is above max " + record.fields[3];
    return false;
  }
  return true;
}

}  // namespace

bool parseLimits(const std::string& text, const std::string& file, Limits& limits, std::string& error) {
  std::vector<CsvRecord> records;
  if (!readCsvRecords(text, file, records, error)) return false;
  if (records.empty() || records.front().fields != std::vector<std::string>{"gap", "quantity", "min", "max"}) {
    error = file + ":" + std::to_string(records.empty() ? 1 : records.front().line) +
            ": the header must be \"gap,quantity,min,max\"";
    return false;
  }
  Limits read{file, {}};
  std::map<std::pair<std::string, std::string>, long> seen;
  for (std::size_t k = 1; k < records.size(); ++k) {
    Limit limit;
    std::string what;
    if (!limitOf(records[k], limit, what)) {
      error = file + ":" + std::to_string(records[k].line) + ": " + what;
      return false;
    }
    const auto [earlier, first] = seen.emplace(std::make_pair(limit.gap, limit.quantity), limit.line);
    if (!first) {
      error = file + ":" + std::to_string(limit.line) + ": " + limit.quantity + " of " + limit.gap +
              " is already limited at line " + std::to_string(earlier->second);
      return false;
    }
    read.rows.push_back(std::move(limit));
  }
  limits = std::move(read);
  return true;
}

const Limit* limitFor(const std::string& gap, const std::string& quantity, const Limits& limits) {
  const Limit* byType = nullptr;
  const Limit* byAll = nullptr;
  const std::string type = gapTypeWord(gapTypeOf(gap));
  for (const Limit& limit : limits.rows) {
    if (limit.quantity != quantity) continue;
    if (limit.gap == gap) return &limit;
    if (!type.empty() && limit.gap == type) byType = &limit;
    if (limit.gap == "*") byAll = &limit;
  }
  return byType != nullptr ? byType : byAll;
}

std::vector<std::string> limitedQuantities(const Limits& limits) {
  std::vector<std::string> quantities;
  for (const Limit& limit : limits.rows) {
    if (std::find(quantities.begin(), quantities.end(), limit.quantity) == quantities.end()) {
      quantities.push_back(limit.quantity);
    }
  }
  return quantities;
}

std::string chamberOf(const std::string& gap) {
  const std::size_t dash = gap.rfind('-');
  if (gapTypeOf(gap) == GapType::unknown || dash == std::string::npos || dash == 0) return gap;
  return gap.substr(0, dash);
}

bool loadLimits(const std::string& limitsFile, Limits& limits, std::ostream& err) {
  std::string text;
  std::string error;
  if (tk::readRegularFile(limitsFile, kLargestLimitsFile, true, text, error) != tk::FileRead::ok) {
    err << "gapohm: cannot read limits file " << escapeControls(limitsFile) << ": " << error << "\n";
    return false;
  }
  if (!parseLimits(text, limitsFile, limits, error)) {
    err << "gapohm: " << error << "\n";
    return false;
  }
  return true;
}
