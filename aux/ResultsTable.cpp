#include "aux/ResultsTable.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

namespace {

const std::vector<std::string> kColumns = {
    "scan", "gap", "status", "area_cm2", "area_source", "points", "rho_ohm_cm", "rho_err",
    "resistance_ohm", "resistance_err", "rho_area_ohm_cm2", "rho_area_err", "offset_na_cm2",
    "offset_err", "onset_v", "onset_err", "chi2", "ndf", "fit_test", "window_start_v",
    "window_points", "pressure_mean", "temperature_mean", "humidity_mean", "knee_status",
    "knee_rho_ohm_cm", "knee_rho_err", "knee_resistance_ohm", "knee_resistance_err",
    "knee_onset_v", "knee_onset_err", "knee_offset_na_cm2", "knee_offset_err", "knee_width_v",
    "knee_noise", "knee_points", "knee_dropped", "knee_durbin_watson", "rho_ref_ohm_cm",
    "rho_ref_err", "knee_rho_ref_ohm_cm", "knee_rho_ref_err"};

// Electrode gap in cm: the knee fit's resistance x area is its resistivity times it.
constexpr double kGapLengthCm = 0.4;

std::size_t checkedIndex(const std::string& column) {
  const int k = resultsColumnIndex(column);
  if (k < 0) throw std::invalid_argument("results table has no column \"" + column + "\"");
  return static_cast<std::size_t>(k);
}

// A whole cell as a finite number.
bool readFinite(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  // An underflow (ERANGE with a tiny or zero result) is still the number written;
  // an overflow reads as infinity.
  return end == text.c_str() + text.size() && std::isfinite(value);
}

// One record of a CSV text and the line it starts on.
struct Record {
  std::vector<std::string> fields;
  long line = 0;
  bool blank = false;
};

// Reads the record at `pos`, moving `pos` and `line` past it. False with the
// reason in `error` for a malformed record.
bool readRecord(const std::string& text, std::size_t& pos, long& line, Record& record,
                std::string& error) {
  record = Record{};
  record.line = line;
  std::string field;
  bool quotedAny = false;
  while (true) {
    if (pos < text.size() && text[pos] == '"') {
      quotedAny = true;
      ++pos;
      while (true) {
        if (pos >= text.size()) {
          error = "quoted field not closed before the end of the file";
          return false;
        }
        const char c = text[pos++];
        if (c == '"') {
          if (pos < text.size() && text[pos] == '"') {
            field += '"';
            ++pos;
            continue;
          }
          break;
        }
        if (c == '\n') ++line;
        field += c;
      }
      if (pos < text.size() && text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ++pos;
      if (pos < text.size() && text[pos] != ',' && text[pos] != '\n') {
        error = "text after the closing quote of field " + std::to_string(record.fields.size() + 1);
        return false;
      }
    } else {
      while (pos < text.size() && text[pos] != ',' && text[pos] != '\n') {
        if (text[pos] == '"') {
          error = "quote inside unquoted field " + std::to_string(record.fields.size() + 1);
          return false;
        }
        field += text[pos++];
      }
      if (!field.empty() && field.back() == '\r' && (pos >= text.size() || text[pos] == '\n')) field.pop_back();
    }
    record.fields.push_back(std::move(field));
    field.clear();
    if (pos >= text.size()) break;
    if (text[pos++] == '\n') {
      ++line;
      break;
    }
  }
  record.blank = !quotedAny && record.fields.size() == 1 && record.fields[0].empty();
  return true;
}

// Where each header field goes in a row (-1: an unknown column, ignored).
bool mapHeader(const std::vector<std::string>& header, std::vector<int>& target, std::string& error) {
  std::set<std::string> seen;
  target.clear();
  for (const std::string& name : header) {
    if (!seen.insert(name).second) {
      error = "header has column \"" + name + "\" twice";
      return false;
    }
    target.push_back(resultsColumnIndex(name));
  }
  if (seen.count("gap") == 0) {
    error = "header has no \"gap\" column";
    return false;
  }
  return true;
}

// A row from a record laid out as the header says.
bool rowOf(const CsvRecord& record, const std::vector<std::string>& header,
           const std::vector<int>& target, ResultsRow& row, std::string& error) {
  if (record.fields.size() != header.size()) {
    error = std::to_string(record.fields.size()) + " fields, the header has " +
            std::to_string(header.size());
    return false;
  }
  row = emptyResultsRow();
  for (std::size_t k = 0; k < target.size(); ++k) {
    if (target[k] < 0) continue;
    const std::string& cell = record.fields[k];
    double value = 0.0;
    if (!cell.empty() && isNumericResultsColumn(header[k]) && !readFinite(cell, value)) {
      error = header[k] + " \"" + cell.substr(0, 40) + "\" is not a finite number";
      return false;
    }
    row.cells[static_cast<std::size_t>(target[k])] = cell;
  }
  return true;
}

// Rounds `v` to `decimals` decimal places as text ("%.*f").
std::string fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

}  // namespace

const std::vector<std::string>& resultsColumns() { return kColumns; }

int resultsColumnIndex(const std::string& column) {
  static const std::map<std::string, int> index = [] {
    std::map<std::string, int> m;
    for (std::size_t k = 0; k < kColumns.size(); ++k) m.emplace(kColumns[k], static_cast<int>(k));
    return m;
  }();
  const auto found = index.find(column);
  return found == index.end() ? -1 : found->second;
}

bool isNumericResultsColumn(const std::string& column) {
  static const std::set<std::string> text = {"scan",     "gap",         "status",
                                             "fit_test", "area_source", "knee_status"};
  return resultsColumnIndex(column) >= 0 && text.count(column) == 0;
}

const std::string& ResultsRow::get(const std::string& column) const {
  static const std::string kEmpty;
  const std::size_t k = checkedIndex(column);
  return k < cells.size() ? cells[k] : kEmpty;
}

void ResultsRow::set(const std::string& column, std::string value) {
  const std::size_t k = checkedIndex(column);
  if (cells.size() <= k) cells.resize(kColumns.size());
  cells[k] = std::move(value);
}

ResultsRow emptyResultsRow() {
  ResultsRow row;
  row.cells.assign(kColumns.size(), "");
  return row;
}

std::string formatResultsNumber(double v) {
  if (!std::isfinite(v)) return "";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

std::string resultsCsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string resultsCsvText(const std::vector<ResultsRow>& rows) {
  std::string text;
  auto line = [&text](const std::vector<std::string>& cells, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      if (k > 0) text += ',';
      if (k < cells.size()) text += resultsCsvField(cells[k]);
    }
    text += '\n';
  };
  line(kColumns, kColumns.size());
  for (const ResultsRow& row : rows) line(row.cells, kColumns.size());
  return text;
}

bool readCsvRecords(const std::string& text, const std::string& file,
                    std::vector<CsvRecord>& records, std::string& error) {
  std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  long line = 1;
  Record record;
  std::string what;
  while (pos < text.size()) {
    if (!readRecord(text, pos, line, record, what)) {
      error = file + ":" + std::to_string(record.line) + ": " + what;
      return false;
    }
    if (!record.blank) records.push_back({std::move(record.fields), record.line});
  }
  return true;
}

bool parseResultsCsv(const std::string& text, const std::string& file,
                     std::vector<ResultsRow>& rows, std::string& error) {
  std::vector<CsvRecord> records;
  if (!readCsvRecords(text, file, records, error)) return false;
  if (records.empty()) {
    error = file + ":1: no header line (the file is empty)";
    return false;
  }
  const std::vector<std::string>& header = records.front().fields;
  std::vector<int> target;
  std::string what;
  if (!mapHeader(header, target, what)) {
    error = file + ":" + std::to_string(records.front().line) + ": " + what;
    return false;
  }
  std::vector<ResultsRow> found;
  for (std::size_t k = 1; k < records.size(); ++k) {
    ResultsRow row;
    if (!rowOf(records[k], header, target, row, what)) {
      error = file + ":" + std::to_string(records[k].line) + ": " + what;
      return false;
    }
    found.push_back(std::move(row));
  }
  rows.insert(rows.end(), found.begin(), found.end());
  return true;
}

std::string latexEscape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '_': case '&': case '%': case '#': case '$': case '{': case '}':
        escaped += '\\';
        escaped += c;
        break;
      case '~': escaped += "\\textasciitilde{}"; break;
      case '^': escaped += "\\textasciicircum{}"; break;
      case '\\': escaped += "\\textbackslash{}"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

RoundedValue roundValueWithError(const std::string& value, const std::string& error) {
  RoundedValue rounded;
  double v = 0.0;
  double e = 0.0;
  if (!readFinite(value, v)) return rounded;
  rounded.present = true;
  const bool withError = readFinite(error, e) && e != 0.0;
  e = std::fabs(e);
  // A shared power of ten, a multiple of three, for values people read as such.
  const double magnitude = std::max(std::fabs(v), withError ? e : 0.0);
  if (magnitude >= 1e4 || (magnitude > 0.0 && magnitude < 1e-2)) {
    // Within +-300 the scale below stays a finite, non-zero double.
    const double third = std::floor(std::log10(magnitude) / 3.0);
    rounded.exponent = static_cast<int>(std::min(std::max(third, -100.0), 100.0)) * 3;
  }
  const double scale = std::pow(10.0, -rounded.exponent);
  double places = 3.0;
  if (withError) {
    // Two significant digits of the error decide the decimal place.
    places = 1.0 - std::floor(std::log10(e * scale));
  } else if (v != 0.0) {
    places = 3.0 - std::floor(std::log10(std::fabs(v) * scale));
  }
  // An error vanishing beside its value (log10 of 0) keeps the most places shown.
  const int decimals = std::isfinite(places) ? static_cast<int>(std::min(std::max(places, 0.0), 10.0)) : 10;
  rounded.value = fixed(v * scale, decimals);
  if (withError) rounded.error = fixed(e * scale, decimals);
  return rounded;
}

std::string markedValueWithError(const RoundedValue& r, const std::string& plusMinus,
                                 const std::function<std::string(int)>& timesTenTo) {
  if (!r.present) return "";
  std::string text = r.error.empty() ? r.value : r.value + plusMinus + r.error;
  if (r.exponent != 0) text = (r.error.empty() ? text : "(" + text + ")") + timesTenTo(r.exponent);
  return text;
}

std::string texValueWithError(const std::string& value, const std::string& error) {
  const RoundedValue r = roundValueWithError(value, error);
  if (!r.present) return "--";
  return markedValueWithError(r, " $\\pm$ ", [](int n) { return "$\\times10^{" + std::to_string(n) + "}$"; });
}

namespace {

// The five value cells of one method, or its status across them.
struct MethodCells {
  const char* label;
  const char* status;
  const char* rho[2];
  const char* resistance[2];
  const char* offset[2];
  const char* onset[2];
};

constexpr MethodCells kMethods[] = {
    {"window search", "status", {"rho_ohm_cm", "rho_err"}, {"resistance_ohm", "resistance_err"},
     {"offset_na_cm2", "offset_err"}, {"onset_v", "onset_err"}},
    {"knee fit", "knee_status", {"knee_rho_ohm_cm", "knee_rho_err"},
     {"knee_resistance_ohm", "knee_resistance_err"}, {"knee_offset_na_cm2", "knee_offset_err"},
     {"knee_onset_v", "knee_onset_err"}},
};

// The window search writes its resistance x area; the knee fit's is its
// resistivity times the electrode gap.
// A value cell of results.tex: the table's \\gapohmcell{value}{error}{exponent}
// when there is an error, so that the table can lay the error inline or below.
std::string texCell(const std::string& value, const std::string& error) {
  const RoundedValue r = roundValueWithError(value, error);
  if (!r.present || r.error.empty()) return texValueWithError(value, error);
  return "\\gapohmcell{" + r.value + "}{" + r.error + "}{" +
         (r.exponent != 0 ? std::to_string(r.exponent) : std::string()) + "}";
}

std::string rhoAreaCell(const ResultsRow& row, const MethodCells& m) {
  if (m.status == std::string("status")) {
    return texCell(row.get("rho_area_ohm_cm2"), row.get("rho_area_err"));
  }
  double rho = 0.0;
  double err = 0.0;
  const std::string rhoErr = readFinite(row.get(m.rho[1]), err) ? formatResultsNumber(err * kGapLengthCm) : "";
  if (!readFinite(row.get(m.rho[0]), rho)) return "--";
  return texCell(formatResultsNumber(rho * kGapLengthCm), rhoErr);
}

std::string methodLine(const ResultsRow& row, const MethodCells& m) {
  std::string line = std::string(m.label) + " & ";
  const std::string& status = row.get(m.status);
  if (status != "fitted") {
    const std::string why = status.empty() ? "no result" : status;
    return line + "\\multicolumn{5}{l}{\\emph{" + latexEscape(why) + "}} \\\\\n";
  }
  line += texCell(row.get(m.rho[0]), row.get(m.rho[1])) + " & ";
  line += texCell(row.get(m.resistance[0]), row.get(m.resistance[1])) + " & ";
  line += rhoAreaCell(row, m) + " & ";
  line += texCell(row.get(m.offset[0]), row.get(m.offset[1])) + " & ";
  line += texCell(row.get(m.onset[0]), row.get(m.onset[1])) + " \\\\\n";
  return line;
}

// The table is set into a box first: one too wide for the line is set again in
// the smallest size, and if still too wide with each error below its value (no
// package is at hand to scale it).
std::string tableOpening(const std::string& scan) {
  std::string text = "\\par\\noindent{\\small\\textbf{Scan:} " + latexEscape(scan) + "}\\par\n";
  text += "{\\def\\gapohmcell#1#2#3{\\ifx\\relax#3\\relax#1 $\\pm$ #2\\else(#1 $\\pm$ #2)$\\times10^{#3}$\\fi}%\n";
  text += "\\def\\gapohmtable{\\begin{tabular}{lrrrrr}\n\\hline\n";
  text += "Method & $\\rho$ [$\\Omega\\,$cm] & $R$ [$\\Omega$] & $R\\times A$ [$\\Omega\\,$cm$^2$] & "
          "Offset [nA/cm$^2$] & Onset [V] \\\\\n\\hline\n";
  return text;
}

const char* const kTableClosing =
    "\\hline\n\\end{tabular}}%\n"
    "\\setbox0=\\hbox{\\scriptsize\\setlength{\\tabcolsep}{3pt}\\gapohmtable}%\n"
    "\\ifdim\\wd0>\\linewidth\\setbox0=\\hbox{\\tiny\\setlength{\\tabcolsep}{2pt}\\gapohmtable}\\fi\n"
    "\\ifdim\\wd0>\\linewidth\\def\\gapohmcell#1#2#3{\\begin{tabular}[t]{@{}r@{}}\\ifx\\relax#3\\relax#1\\\\$\\pm$ #2"
    "\\else(#1\\\\$\\pm$ #2)$\\times10^{#3}$\\fi\\end{tabular}}%\n"
    "\\setbox0=\\hbox{\\tiny\\setlength{\\tabcolsep}{2pt}\\gapohmtable}\\fi\n"
    "\\noindent\\box0\\par}\n\\medskip\n";

}  // namespace

std::string resultsTex(const std::vector<ResultsRow>& rows) {
  std::string text =
      "% gapohm results: every gap with the window search and the knee fit.\n"
      "% Needs no package: \\input{results.tex} inside a LaTeX document.\n";
  bool open = false;
  std::string scan;
  for (const ResultsRow& row : rows) {
    if (!open || row.get("scan") != scan) {
      if (open) text += kTableClosing;
      scan = row.get("scan");
      text += tableOpening(scan);
      open = true;
    }
    text += "\\multicolumn{6}{l}{\\textbf{" + latexEscape(row.get("gap")) + "}} \\\\\n";
    for (const MethodCells& m : kMethods) text += methodLine(row, m);
  }
  if (open) text += kTableClosing;
  if (!open) text += "No gaps.\n";
  return text;
}
