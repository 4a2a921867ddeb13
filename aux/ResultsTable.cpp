#include "aux/ResultsTable.h"

#include "aux/GapRules.h"
#include "aux/ScanInput.h"

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

std::optional<double> numberOf(const std::string& cell) {
  double v = 0.0;
  if (!readWholeNumber(cell, v)) return std::nullopt;
  return v;
}

std::string cellOf(const std::optional<double>& v) { return v ? formatResultsNumber(*v) : std::string(); }

// A numeric column; `access` gives the row's field, const or not.
// `error` names the column of its uncertainty, "" when it has none.
template <class Access>
ResultsColumn number(const char* name, const char* unit, Access access, const char* error = "") {
  return {name, unit, true, [access](const ResultsRow& r) { return cellOf(access(r)); },
          [access](ResultsRow& r, const std::string& c) { access(r) = numberOf(c); },
          [access](const ResultsRow& r) { return access(r); }, error};
}

template <class Access>
ResultsColumn text(const char* name, Access access) {
  return {name, "", false, [access](const ResultsRow& r) { return std::string(access(r)); },
          [access](ResultsRow& r, const std::string& c) { access(r) = c; }, nullptr, ""};
}

template <class Access>
ResultsColumn status(const char* name, Access access) {
  return {name, "", false, [access](const ResultsRow& r) { return access(r).word(); },
          [access](ResultsRow& r, const std::string& c) { access(r) = MethodStatus::of(c); }, nullptr, ""};
}

std::string flagsCell(const std::vector<ResultFlag>& flags) {
  std::string cell;
  for (const std::string& word : flagWords(flags)) cell += (cell.empty() ? "" : ";") + word;
  return cell;
}

// A flags cell back into flags; a word that names no flag is refused, as a
// number column refuses text.
std::vector<ResultFlag> flagsOf(const std::string& cell) {
  std::vector<ResultFlag> flags;
  std::size_t start = 0;
  while (start < cell.size()) {
    const std::size_t end = std::min(cell.find(';', start), cell.size());
    const std::string word = cell.substr(start, end - start);
    const std::vector<ResultFlag>& all = allResultFlags();
    const auto known = std::find_if(all.begin(), all.end(), [&](ResultFlag f) { return word == flagWord(f); });
    if (known == all.end()) throw std::invalid_argument("\"" + word + "\" is not a flag");
    flags.push_back(*known);
    start = end + 1;
  }
  return flags;
}

ResultsColumn flagsColumn() {
  return {"flags", "", false, [](const ResultsRow& r) { return flagsCell(r.flags); },
          [](ResultsRow& r, const std::string& c) { r.flags = flagsOf(c); }, nullptr, ""};
}

// The table's columns in file order: one entry a column.
std::vector<ResultsColumn> makeColumns() {
  return {
      text("scan", [](auto& r) -> auto& { return r.scan; }),
      text("gap", [](auto& r) -> auto& { return r.gap; }),
      status("status", [](auto& r) -> auto& { return r.window.status; }),
      number("area_cm2", "cm2", [](auto& r) -> auto& { return r.area; }),
      text("area_source", [](auto& r) -> auto& { return r.areaSource; }),
      number("points", "", [](auto& r) -> auto& { return r.points; }),
      number("rho_ohm_cm", "Ohm cm", [](auto& r) -> auto& { return r.window.rho.value; }, "rho_err"),
      number("rho_err", "Ohm cm", [](auto& r) -> auto& { return r.window.rho.error; }),
      number("resistance_ohm", "Ohm", [](auto& r) -> auto& { return r.window.resistance.value; }, "resistance_err"),
      number("resistance_err", "Ohm", [](auto& r) -> auto& { return r.window.resistance.error; }),
      number("rho_area_ohm_cm2", "Ohm cm2", [](auto& r) -> auto& { return r.window.rhoArea.value; }, "rho_area_err"),
      number("rho_area_err", "Ohm cm2", [](auto& r) -> auto& { return r.window.rhoArea.error; }),
      number("offset_na_cm2", "nA/cm2", [](auto& r) -> auto& { return r.window.offset.value; }, "offset_err"),
      number("offset_err", "nA/cm2", [](auto& r) -> auto& { return r.window.offset.error; }),
      number("onset_v", "V", [](auto& r) -> auto& { return r.window.onset.value; }, "onset_err"),
      number("onset_err", "V", [](auto& r) -> auto& { return r.window.onset.error; }),
      number("chi2", "", [](auto& r) -> auto& { return r.chi2; }),
      number("ndf", "", [](auto& r) -> auto& { return r.ndf; }),
      number("fit_test", "", [](auto& r) -> auto& { return r.fitTest; }),
      number("window_start_v", "V", [](auto& r) -> auto& { return r.windowStart; }),
      number("window_points", "", [](auto& r) -> auto& { return r.windowPoints; }),
      number("pressure_mean", "mbar", [](auto& r) -> auto& { return r.pressureMean; }),
      number("temperature_mean", "C", [](auto& r) -> auto& { return r.temperatureMean; }),
      number("humidity_mean", "%", [](auto& r) -> auto& { return r.humidityMean; }),
      status("knee_status", [](auto& r) -> auto& { return r.knee.status; }),
      number("knee_rho_ohm_cm", "Ohm cm", [](auto& r) -> auto& { return r.knee.rho.value; }, "knee_rho_err"),
      number("knee_rho_err", "Ohm cm", [](auto& r) -> auto& { return r.knee.rho.error; }),
      number("knee_resistance_ohm", "Ohm", [](auto& r) -> auto& { return r.knee.resistance.value; }, "knee_resistance_err"),
      number("knee_resistance_err", "Ohm", [](auto& r) -> auto& { return r.knee.resistance.error; }),
      number("knee_onset_v", "V", [](auto& r) -> auto& { return r.knee.onset.value; }, "knee_onset_err"),
      number("knee_onset_err", "V", [](auto& r) -> auto& { return r.knee.onset.error; }),
      number("knee_offset_na_cm2", "nA/cm2", [](auto& r) -> auto& { return r.knee.offset.value; }, "knee_offset_err"),
      number("knee_offset_err", "nA/cm2", [](auto& r) -> auto& { return r.knee.offset.error; }),
      number("knee_width_v", "V", [](auto& r) -> auto& { return r.kneeWidth; }),
      number("knee_noise", "nA/cm2", [](auto& r) -> auto& { return r.kneeNoise; }),
      number("knee_points", "", [](auto& r) -> auto& { return r.kneePoints; }),
      number("knee_dropped", "", [](auto& r) -> auto& { return r.kneeDropped; }),
      number("knee_durbin_watson", "", [](auto& r) -> auto& { return r.kneeDurbinWatson; }),
      number("rho_ref_ohm_cm", "Ohm cm", [](auto& r) -> auto& { return r.window.rhoRef.value; }, "rho_ref_err"),
      number("rho_ref_err", "Ohm cm", [](auto& r) -> auto& { return r.window.rhoRef.error; }),
      number("knee_rho_ref_ohm_cm", "Ohm cm", [](auto& r) -> auto& { return r.knee.rhoRef.value; }, "knee_rho_ref_err"),
      number("knee_rho_ref_err", "Ohm cm", [](auto& r) -> auto& { return r.knee.rhoRef.error; }),
      text("figure", [](auto& r) -> auto& { return r.figure; }),
      text("thumbnail", [](auto& r) -> auto& { return r.thumbnail; }),
      flagsColumn(),
      number("knee_width_low_v", "V", [](auto& r) -> auto& { return r.kneeWidthLow; }),
      number("knee_width_high_v", "V", [](auto& r) -> auto& { return r.kneeWidthHigh; }),
      number("alpha_per_c", "1/C", [](auto& r) -> auto& { return r.alpha; }),
      number("reference_temperature_c", "C", [](auto& r) -> auto& { return r.referenceTemperature; }),
      text("scan_date", [](auto& r) -> auto& { return r.scanDate; }),
      text("scan_date_source", [](auto& r) -> auto& { return r.scanDateSource; }),
      number("knee_temperature_mean", "C", [](auto& r) -> auto& { return r.kneeTemperatureMean; }),
  };
}

const ResultsColumn& checkedColumn(const std::string& name) {
  const ResultsColumn* column = findResultsColumn(name);
  if (column == nullptr) throw std::invalid_argument("results table has no column \"" + name + "\"");
  return *column;
}

// Values the file does not keep, derived as the run derived them.
void deriveUnkept(ResultsRow& row) {
  if (row.knee.rho.value) row.knee.rhoArea.value = resistanceAreaOf(*row.knee.rho.value);
  if (row.knee.rho.error) row.knee.rhoArea.error = resistanceAreaOf(*row.knee.rho.error);
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
    const ResultsColumn* column = findResultsColumn(name);
    target.push_back(column == nullptr ? -1 : static_cast<int>(column - resultsColumns().data()));
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
  row = ResultsRow{};
  for (std::size_t k = 0; k < target.size(); ++k) {
    if (target[k] < 0) continue;
    const ResultsColumn& column = resultsColumns()[static_cast<std::size_t>(target[k])];
    const std::string& cell = record.fields[k];
    double value = 0.0;
    if (!cell.empty() && column.numeric && !readWholeNumber(cell, value)) {
      error = header[k] + " \"" + cell.substr(0, 40) + "\" is not a finite number";
      return false;
    }
    column.read(row, cell);
  }
  deriveUnkept(row);
  return true;
}

// Rounds `v` to `decimals` decimal places as text ("%.*f").
std::string fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

}  // namespace

const char* const kFittedWord = "fitted";

std::vector<std::string> flagWords(const std::vector<ResultFlag>& flags) {
  std::vector<std::string> words;
  words.reserve(flags.size());
  for (const ResultFlag f : flags) words.emplace_back(flagWord(f));
  return words;
}

const std::vector<ResultFlag>& allResultFlags() {
  static const std::vector<ResultFlag> all = {
      ResultFlag::methodsDisagree,      ResultFlag::windowOnly,       ResultFlag::windowRhoNotPositive,
      ResultFlag::windowRhoUncertain,   ResultFlag::windowNarrow,     ResultFlag::windowOnsetUncertain,
      ResultFlag::kneeRhoUncertain,     ResultFlag::kneeOnsetUncertain, ResultFlag::kneeWidthAtBound,
      ResultFlag::kneeCurved,           ResultFlag::implausibleLines};
  return all;
}

const char* flagWord(ResultFlag flag) {
  switch (flag) {
    case ResultFlag::methodsDisagree: return "methods-disagree";
    case ResultFlag::windowOnly: return "window-only";
    case ResultFlag::windowRhoNotPositive: return "window-rho-not-positive";
    case ResultFlag::windowRhoUncertain: return "window-rho-error-over-20%";
    case ResultFlag::windowNarrow: return "window-under-10-points";
    case ResultFlag::windowOnsetUncertain: return "window-onset-error-over-100V";
    case ResultFlag::kneeRhoUncertain: return "knee-rho-error-over-20%";
    case ResultFlag::kneeOnsetUncertain: return "knee-onset-error-over-100V";
    case ResultFlag::kneeWidthAtBound: return "knee-width-at-bound";
    case ResultFlag::kneeCurved: return "knee-curvature";
    case ResultFlag::implausibleLines: return "implausible-lines";
  }
  return "";
}

std::string MethodStatus::word() const { return fitted() ? kFittedWord : reason; }

MethodStatus MethodStatus::of(const std::string& word) {
  if (word == kFittedWord) return fittedStatus();
  for (const char* notRunWords : {kWindowNotRun, kKneeNotRun}) {
    if (word.rfind(notRunWords, 0) == 0) return notRun(word);
  }
  return noResult(word);
}

const std::vector<ResultsColumn>& resultsColumns() {
  static const std::vector<ResultsColumn> columns = makeColumns();
  return columns;
}

const ResultsColumn* findResultsColumn(const std::string& name) {
  static const std::map<std::string, std::size_t> index = [] {
    std::map<std::string, std::size_t> m;
    for (std::size_t k = 0; k < resultsColumns().size(); ++k) m.emplace(resultsColumns()[k].name, k);
    return m;
  }();
  const auto found = index.find(name);
  return found == index.end() ? nullptr : &resultsColumns()[found->second];
}

std::optional<double> resultsError(const ResultsColumn& column, const ResultsRow& row) {
  const ResultsColumn* error = column.error.empty() ? nullptr : findResultsColumn(column.error);
  return error != nullptr && error->number ? error->number(row) : std::nullopt;
}

bool isNumericResultsColumn(const std::string& column) {
  const ResultsColumn* found = findResultsColumn(column);
  return found != nullptr && found->numeric;
}

bool sameResultsRow(const ResultsRow& a, const ResultsRow& b) {
  for (const ResultsColumn& column : resultsColumns()) {
    if (column.cell(a) != column.cell(b)) return false;
  }
  return true;
}

std::string ResultsRow::get(const std::string& column) const { return checkedColumn(column).cell(*this); }

void ResultsRow::set(const std::string& column, const std::string& text) {
  const ResultsColumn& c = checkedColumn(column);
  double value = 0.0;
  if (c.numeric && !text.empty() && !readWholeNumber(text, value)) {
    throw std::invalid_argument("results column \"" + column + "\" takes a number, not \"" + text + "\"");
  }
  c.read(*this, text);
  deriveUnkept(*this);
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
  const std::vector<ResultsColumn>& columns = resultsColumns();
  for (std::size_t k = 0; k < columns.size(); ++k) text += (k > 0 ? "," : "") + resultsCsvField(columns[k].name);
  text += '\n';
  for (const ResultsRow& row : rows) {
    for (std::size_t k = 0; k < columns.size(); ++k) text += (k > 0 ? "," : "") + resultsCsvField(columns[k].cell(row));
    text += '\n';
  }
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

namespace {

// The characters beyond ASCII that pdflatex sets with its default fonts (OT1
// text, the kernel's UTF-8 input): each one of these was compiled in plain and
// bold text without an error or a missing glyph. Ranges of code points, sorted.
constexpr std::pair<char32_t, char32_t> kLatexSets[] = {
    {0xA0, 0xAA},     {0xAC, 0xBA},     {0xBC, 0xCF},     {0xD1, 0xDD},     {0xDF, 0xEF},     {0xF1, 0xFD},
    {0xFF, 0x103},    {0x106, 0x10F},   {0x112, 0x117},   {0x11A, 0x125},   {0x128, 0x12D},   {0x130, 0x137},
    {0x139, 0x13E},   {0x141, 0x148},   {0x14C, 0x165},   {0x168, 0x171},   {0x174, 0x17E},   {0x192, 0x192},
    {0x1C4, 0x1D4},   {0x1E2, 0x1E3},   {0x1E6, 0x1E9},   {0x1F0, 0x1F0},   {0x1F4, 0x1F5},   {0x218, 0x21B},
    {0x232, 0x233},   {0x237, 0x237},   {0x2010, 0x2016}, {0x2018, 0x2019}, {0x201C, 0x201D}, {0x2020, 0x2022},
    {0x2026, 0x2026}, {0x2030, 0x2031}, {0x203B, 0x203B}, {0x203D, 0x203D}, {0x2044, 0x2044}, {0x204E, 0x204E},
    {0x2052, 0x2052}, {0x20AC, 0x20AC}, {0x2122, 0x2122}, {0x2190, 0x2190}, {0x2192, 0x2192}};

bool latexSets(char32_t c) {
  for (const auto& [first, last] : kLatexSets) {
    if (c >= first && c <= last) return true;
  }
  return false;
}

// The code point of the well-formed UTF-8 sequence of `n` bytes at text[at]
// (utf8Length's), or 0 for an overlong form or a surrogate.
char32_t codePoint(const std::string& text, std::size_t at, std::size_t n) {
  static const unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t c = static_cast<unsigned char>(text[at]) & kLeadBits[n];
  for (std::size_t k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(text[at + k]) & 0x3F);
  return c < kSmallest[n] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF ? 0 : c;
}

// An ASCII byte as LaTeX text: the special characters escaped, control bytes
// written out visibly as \xNN.
std::string latexAscii(unsigned char c) {
  static const char* const kHex = "0123456789abcdef";
  switch (c) {
    case '_': case '&': case '%': case '#': case '$': case '{': case '}': return std::string("\\") + static_cast<char>(c);
    case '~': return "\\textasciitilde{}";
    case '^': return "\\textasciicircum{}";
    case '\\': return "\\textbackslash{}";
    case '<': return "\\textless{}";
    case '>': return "\\textgreater{}";
    case '|': return "\\textbar{}";
    default: break;
  }
  if (c < 0x20 || c >= 0x7F) return std::string("\\textbackslash{}x") + kHex[c >> 4] + kHex[c & 0xF];
  return std::string(1, static_cast<char>(c));
}

}  // namespace

std::string latexEscape(const std::string& text, bool* placeholders) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t n = byte < 0x80 ? 0 : utf8Length(text, at);
    const char32_t c = n > 0 ? codePoint(text, at, n) : 0;
    if (c == 0) {  // ASCII, or a byte of no well-formed UTF-8 character
      escaped += latexAscii(byte);
      ++at;
      continue;
    }
    if (latexSets(c)) {
      escaped.append(text, at, n);
    } else {
      std::string hex;
      for (char32_t v = c; v != 0 || hex.size() < 4; v >>= 4) hex.insert(hex.begin(), kHex[v & 0xF]);
      escaped += "[U+" + hex + "]";
      if (placeholders != nullptr) *placeholders = true;
    }
    at += n;
  }
  return escaped;
}

RoundedValue roundValueWithError(const std::string& value, const std::string& error) {
  return roundValueWithError(numberOf(value), numberOf(error));
}

int sharedExponent(double magnitude) {
  // A shared power of ten, a multiple of three, for values people read as such.
  if (!(magnitude >= 1e4 || (magnitude > 0.0 && magnitude < 1e-2)) || !std::isfinite(magnitude)) return 0;
  // Within +-300 the scale below stays a finite, non-zero double.
  const double third = std::floor(std::log10(magnitude) / 3.0);
  return static_cast<int>(std::min(std::max(third, -100.0), 100.0)) * 3;
}

RoundedValue roundValueWithError(std::optional<double> value, std::optional<double> error) {
  if (!value || !std::isfinite(*value)) return {};
  const bool withError = error && std::isfinite(*error) && *error != 0.0;
  return roundAtExponent(value, error, sharedExponent(std::max(std::fabs(*value), withError ? std::fabs(*error) : 0.0)));
}

RoundedValue roundAtExponent(std::optional<double> value, std::optional<double> error, int exponent) {
  RoundedValue rounded;
  if (!value || !std::isfinite(*value)) return rounded;
  const double v = *value;
  rounded.present = true;
  const bool withError = error && std::isfinite(*error) && *error != 0.0;
  const double e = withError ? std::fabs(*error) : 0.0;
  rounded.exponent = exponent;
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

namespace {

std::string texMarkup(const RoundedValue& r) {
  return markedValueWithError(r, " $\\pm$ ", [](int n) { return "$\\times10^{" + std::to_string(n) + "}$"; });
}

}  // namespace

std::string texValueWithError(const std::string& value, const std::string& error) {
  const RoundedValue r = roundValueWithError(value, error);
  if (!r.present) return "--";
  return texMarkup(r);
}
