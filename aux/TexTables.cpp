#include "aux/TexTables.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// Quantities side by side in a part, with one text column: three values of
// five digits and their errors with a method's name fit 345 pt at \small; each
// further text column takes one quantity's room.
std::size_t quantitiesPerPart(const TexTable& t) { return t.textHeaders.size() < 3 ? 4 - t.textHeaders.size() : 1; }

// The widths of a status note and of a name that may wrap.
const char* const kNoteWidth = "0.45\\linewidth";
const char* const kNameWidth = "0.3\\linewidth";

const char* const kPartOpening = "{\\small\\setlength{\\tabcolsep}{4pt}%\n";

std::string header(const TexQuantity& q, int exponent) {
  std::string scale = exponent != 0 ? "$10^{" + std::to_string(exponent) + "}$" : "";
  if (!scale.empty() && !q.unit.empty()) scale += "\\,";
  const std::string inBrackets = scale + q.unit;
  return inBrackets.empty() ? q.symbol : q.symbol + " [" + inBrackets + "]";
}

std::string cell(const Measured& m, int exponent, bool marked) {
  const RoundedValue r = roundAtExponent(m.value, m.error, exponent);
  if (!r.present) return "--";
  const std::string text = r.error.empty() ? r.value : r.value + " $\\pm$ " + r.error;
  return marked ? text + "$^\\dagger$" : text;
}

// The columns of one tabular: indices into the table's quantities.
using Columns = std::vector<std::size_t>;

std::string rowText(const TexRow& row, const Columns& columns, const std::vector<int>& exponents) {
  // A row starting with "[" would be read as the previous row end's spacing.
  std::string line = !row.text.empty() && row.text[0].rfind('[', 0) == 0 ? "{}" : "";
  for (const std::string& t : row.text) line += t + " & ";
  if (row.values.empty()) {
    // A long reason wraps rather than widening the table past the page.
    return line + "\\multicolumn{" + std::to_string(columns.size()) + "}{l}{\\parbox[t]{" + kNoteWidth +
           "}{\\raggedright\\emph{" + row.note + "}}} \\\\\n";
  }
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const std::size_t q = columns[k];
    const bool marked = q < row.marked.size() && row.marked[q];
    line += cell(row.values[q], exponents[q], marked) + (k + 1 < columns.size() ? " & " : " \\\\\n");
  }
  return line;
}

// One tabular of rows [from, to) with these quantity columns. A part that does
// not start a group repeats the group it continues.
std::string tabular(const TexTable& t, const Columns& columns, const std::vector<int>& exponents,
                    std::size_t from, std::size_t to, const std::string& continued) {
  const std::size_t width = t.textHeaders.size() + columns.size();
  std::string text = "\\begin{tabular}{" + std::string(t.textHeaders.size(), 'l') + std::string(columns.size(), 'r') + "}\n\\hline\n";
  for (const std::string& h : t.textHeaders) text += h + " & ";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    text += header(t.quantities[columns[k]], exponents[columns[k]]) + (k + 1 < columns.size() ? " & " : " \\\\\n\\hline\n");
  }
  const auto groupLine = [&](const std::string& g) { return "\\multicolumn{" + std::to_string(width) + "}{l}{\\textbf{" + g + "}} \\\\\n"; };
  if (from < to && t.rows[from].group.empty() && !continued.empty()) text += groupLine(continued + " (continued)");
  for (std::size_t i = from; i < to; ++i) {
    if (!t.rows[i].group.empty()) text += groupLine(t.rows[i].group);
    text += rowText(t.rows[i], columns, exponents);
  }
  return text + "\\hline\n\\end{tabular}";
}

bool marksAny(const TexTable& t, const Columns& columns, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    for (std::size_t q : columns) {
      if (q < t.rows[i].marked.size() && t.rows[i].marked[q] && !t.rows[i].values.empty()) return true;
    }
  }
  return false;
}

// Rows [from, to) with these quantities: side by side when LaTeX finds them
// narrow enough for the line, else one quantity a tabular.
std::string part(const TexTable& t, const Columns& columns, const std::vector<int>& exponents, std::size_t from,
                 std::size_t to, const std::string& continued) {
  std::string text = kPartOpening;
  text += "\\setbox0=\\hbox{" + tabular(t, columns, exponents, from, to, continued) + "}%\n";
  text += "\\ifdim\\wd0>\\linewidth\n";
  for (std::size_t q : columns) {
    text += "\\par\\noindent" + tabular(t, {q}, exponents, from, to, continued) + "\\par\\smallskip\n";
  }
  text += "\\else\\par\\noindent\\box0\\par\\fi\n";
  if (marksAny(t, columns, from, to)) text += "\\par\\noindent " + t.markNote + "\\par\n";
  return text + "}\\medskip\n";
}

// The quantities that hold at least one value, in groups side by side.
std::vector<Columns> columnGroups(const TexTable& t) {
  std::vector<Columns> groups;
  for (std::size_t q = 0; q < t.quantities.size(); ++q) {
    const bool any = std::any_of(t.rows.begin(), t.rows.end(), [q](const TexRow& r) {
      return q < r.values.size() && r.values[q].value && std::isfinite(*r.values[q].value);
    });
    if (!any) continue;
    if (groups.empty() || groups.back().size() == quantitiesPerPart(t)) groups.emplace_back();
    groups.back().push_back(q);
  }
  if (groups.empty()) groups.emplace_back();  // statuses only: one column for their notes
  return groups;
}

}  // namespace

int columnExponent(const std::vector<Measured>& cells) {
  // The median magnitude: one gap of another size (a resistance of an unknown
  // area) must not push the column's other values into leading zeros.
  std::vector<double> sizes;
  for (const Measured& m : cells) {
    if (m.value && std::isfinite(*m.value) && *m.value != 0.0) sizes.push_back(std::fabs(*m.value));
  }
  if (sizes.empty()) return 0;
  const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
  std::nth_element(sizes.begin(), middle, sizes.end());
  return sharedExponent(*middle);
}

std::string texTable(const TexTable& t) {
  if (t.rows.empty()) return "";
  std::vector<int> exponents;
  for (std::size_t q = 0; q < t.quantities.size(); ++q) {
    std::vector<Measured> column;
    for (const TexRow& r : t.rows) {
      if (q < r.values.size()) column.push_back(r.values[q]);
    }
    exponents.push_back(columnExponent(column));
  }
  std::vector<Columns> groups = columnGroups(t);
  if (groups.back().empty()) {
    groups.back().push_back(0);
    if (t.quantities.empty()) return "";
  }
  std::string text = t.title.empty() ? "" : "\\par\\noindent{\\small " + t.title + "}\\par\n";
  for (const Columns& columns : groups) {
    std::string continued;
    for (std::size_t from = 0; from < t.rows.size(); from += kTexRowsPerPart) {
      const std::size_t to = std::min(t.rows.size(), from + kTexRowsPerPart);
      text += part(t, columns, exponents, from, to, continued);
      for (std::size_t i = from; i < to; ++i) {
        if (!t.rows[i].group.empty()) continued = t.rows[i].group;
      }
    }
  }
  return text;
}

namespace {

const std::vector<TexQuantity>& resultQuantities() {
  static const std::vector<TexQuantity> q = {{"$\\rho$", "$\\Omega\\,$cm"},
                                             {"$R$", "$\\Omega$"},
                                             {"$R\\times A$", "$\\Omega\\,$cm$^2$"},
                                             {"Offset", "nA/cm$^2$"},
                                             {"Onset", "V"}};
  return q;
}

const char* const kUnknownAreaNote = "$^\\dagger$ area not known: the resistance is for 1 cm$^2$";

std::string statusNote(const MethodStatus& status) {
  return latexEscape(status.reason.empty() ? std::string("no result") : status.reason);
}

TexRow methodRow(const char* label, const MethodResult& m, bool unknownArea) {
  TexRow row;
  row.text = {label};
  if (!m.status.fitted()) {
    row.note = statusNote(m.status);
    return row;
  }
  row.values = {m.rho, m.resistance, m.rhoArea, m.offset, m.onset};
  row.marked = {false, unknownArea, false, false, false};
  return row;
}

TexTable scanTable(const std::string& scan) {
  TexTable t;
  t.title = "\\textbf{Scan:} " + latexEscape(scan);
  t.textHeaders = {"Method"};
  t.quantities = resultQuantities();
  t.markNote = kUnknownAreaNote;
  return t;
}

}  // namespace

std::string resultsTex(const std::vector<ResultsRow>& rows) {
  std::string text =
      "% gapohm results: every gap with the window search and the knee fit.\n"
      "% Needs no package: \\input{results.tex} inside a LaTeX document.\n";
  std::vector<TexTable> tables;
  for (const ResultsRow& row : rows) {
    if (tables.empty() || tables.back().title != scanTable(row.scan).title) tables.push_back(scanTable(row.scan));
    const bool unknownArea = row.areaSource == "unknown";
    tables.back().rows.push_back(methodRow("window search", row.window, unknownArea));
    tables.back().rows.back().group = latexEscape(row.gap);
    tables.back().rows.push_back(methodRow("knee fit", row.knee, unknownArea));
  }
  for (const TexTable& t : tables) text += texTable(t);
  if (tables.empty()) text += "No gaps.\n";
  return text;
}

namespace {

// A name that may wrap in a column of its own: it may break after any ASCII
// byte but a letter or digit (UTF-8 sequences hold none of those bytes).
std::string wrappingName(const std::string& name) {
  std::string text, piece;
  for (const char c : name) {
    piece += c;
    if (static_cast<unsigned char>(c) < 0x80 && std::isalnum(static_cast<unsigned char>(c)) == 0) {
      text += latexEscape(piece) + "\\allowbreak{}";
      piece.clear();
    }
  }
  return "\\parbox[t]{" + std::string(kNameWidth) + "}{\\raggedright " + text + latexEscape(piece) + "}";
}

}  // namespace

std::string campaignTex(const std::vector<ResultsRow>& rows, const std::vector<std::string>& verdicts) {
  TexTable t;
  t.title = "\\textbf{Campaign:} every gap of every scan, knee fit";
  t.textHeaders = {"Gap", "Verdict"};
  t.quantities = {{"$\\rho$", "$\\Omega\\,$cm"}, {"$\\rho_\\mathrm{ref}$", "$\\Omega\\,$cm"}, {"Onset", "V"}};
  std::string scan;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ResultsRow& r = rows[i];
    TexRow row;
    if (i == 0 || r.scan != scan) row.group = "Scan: " + latexEscape(r.scan);
    scan = r.scan;
    row.text = {wrappingName(r.gap), latexEscape(i < verdicts.size() ? verdicts[i] : std::string())};
    if (r.knee.status.fitted()) {
      row.values = {r.knee.rho, r.knee.rhoRef, r.knee.onset};
    } else {
      row.note = statusNote(r.knee.status);
    }
    t.rows.push_back(std::move(row));
  }
  std::string text =
      "% gapohm campaign: every gap of every scan with its verdict and the knee fit.\n"
      "% Needs no package: \\input{campaign.tex} inside a LaTeX document.\n";
  return text + (t.rows.empty() ? std::string("No gaps.\n") : texTable(t));
}
