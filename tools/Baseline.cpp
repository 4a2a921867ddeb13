#include "tools/Baseline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "aux/ScanInput.h"
#include "toolkit/Canvas.h"
#include "tools/ReportFigures.h"

namespace fs = std::filesystem;

namespace {

int usage(tk::Console& console, const std::string& path, const std::string& what) {
  console.err << "gapohm: --baseline " << escapeControls(path) << ": " << what
              << "\nRun with --help for more information.\n";
  return 2;
}

// What the path is, in words, when it is neither a regular file nor a directory; "" when it is one.
std::string notReadable(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::exists(status)) return "no such file or directory";
  if (fs::is_symlink(status)) return "a symbolic link (the report reads no file through a link)";
  if (!fs::is_regular_file(status) && !fs::is_directory(status)) return "neither a results file nor a directory";
  return "";
}

}  // namespace

int readBaseline(const std::string& path, BaselineCampaign& out, tk::Console& console, tk::Failures& failures) {
  out.path = path;
  if (path.empty()) return usage(console, path, "needs a results.csv or a directory of them, not an empty name");
  const std::string why = notReadable(path);
  if (!why.empty()) return usage(console, path, why);
  const std::vector<std::string> files = findResultsFiles({path}, console, failures);
  if (files.empty()) return usage(console, path, "no results.csv under it");
  out.tables = readScanTables(files, console, failures);
  std::size_t rows = 0;
  for (const ScanTable& table : out.tables) rows += table.rows.size();
  if (rows == 0) {
    return usage(console, path, "no gap's results read from its " + std::to_string(files.size()) + " results files");
  }
  return 0;
}

std::string baselineOverlapWarning(const BaselineCampaign& baseline, const std::vector<std::string>& resultsFiles) {
  // The files themselves, whatever path names them; "" for one that cannot be told.
  const auto canonical = [](const std::string& file) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(file, ec);
    return ec ? fs::path() : path;
  };
  std::set<fs::path> own;
  for (const std::string& file : resultsFiles) own.insert(canonical(file));
  own.erase(fs::path());
  std::size_t both = 0;
  std::string first;
  for (const ScanTable& table : baseline.tables) {
    if (own.count(canonical(table.file)) == 0) continue;
    if (both++ == 0) first = table.file;
  }
  if (both == 0) return "";
  return std::to_string(both) + (both == 1 ? " results file" : " results files") + " of the baseline are also the campaign's own (" + first +
         (both > 1 ? ", ..." : "") + "): their gaps are compared with themselves";
}

namespace {

bool positive(const Measured& m) { return m.value && m.error && *m.value > 0.0 && *m.error > 0.0; }

// One row's rho_ref, as the header says it is made.
GapReference referenceOf(const ResultsRow& row, double alpha, double reference) {
  GapReference r;
  r.gap = row.gap;
  const std::optional<double> celsius = row.kneeTemperatureMean ? row.kneeTemperatureMean : row.temperatureMean;
  if (celsius) r.temperature = *celsius;
  if (!row.knee.status.fitted()) return r;
  const Measured& ref = row.knee.rhoRef;
  const bool sameRule = row.alpha && *row.alpha == alpha && row.referenceTemperature && *row.referenceTemperature == reference;
  if (alpha != 0.0 && sameRule && positive(ref)) {
    r.lnRhoRef = std::log(*ref.value), r.lnError = *ref.error / *ref.value;
  } else if (positive(row.knee.rho) && (alpha == 0.0 || celsius)) {
    const Measured& rho = row.knee.rho;
    r.lnRhoRef = std::log(*rho.value) + (alpha == 0.0 ? 0.0 : alpha * (*celsius - reference));
    r.lnError = *rho.error / *rho.value;
  }
  return r;
}

std::vector<GapReference> referencesOf(const std::vector<ScanTable>& tables, double alpha, double reference) {
  std::vector<GapReference> out;
  for (const ScanTable& table : tables) {
    for (const ResultsRow& row : table.rows) out.push_back(referenceOf(row, alpha, reference));
  }
  return out;
}

std::string number(double v) { return formatResultsNumber(v); }

}  // namespace

BaselineReport compareWithBaseline(const std::vector<ScanTable>& scans, const BaselineCampaign& baseline,
                                   const CampaignHistory& history) {
  BaselineReport report;
  report.campaign = &baseline;
  report.alpha = history.fit.alphaUsed;
  report.reference = history.reference;
  report.alphaError = history.fit.source == AlphaSource::fitted ? history.fit.alphaFit.error : 0.0;
  report.alphaText = history.alphaText;
  report.comparison = compareCampaigns(referencesOf(baseline.tables, report.alpha, report.reference),
                                       referencesOf(scans, report.alpha, report.reference), report.alphaError);
  return report;
}

std::string baselineCsv(const BaselineReport& report) {
  std::string csv = "gap,baseline_rho_ref,baseline_err,rho_ref,err,change_pct,change_err_pct,sigma,flag\n";
  for (const BaselineChange& c : report.comparison.changes) {
    const double before = std::exp(c.baseline.lnRhoRef), now = std::exp(c.now.lnRhoRef);
    csv += resultsCsvField(c.gap) + "," + number(before) + "," + number(before * c.baseline.lnError) + "," +
           number(now) + "," + number(now * c.now.lnError) + "," + number(c.percent) + "," + number(c.percentError) +
           "," + number(c.sigma) + "," + (c.flagged ? "CHANGED" : "") + "\n";
  }
  const std::pair<const std::vector<std::string>*, const char*> alone[] = {
      {&report.comparison.baselineOnly, "ONLY BASELINE"},
      {&report.comparison.nowOnly, "ONLY NOW"},
      {&report.comparison.noReference, "NO RHO_REF"}};
  for (const auto& [gaps, flag] : alone) {
    for (const std::string& gap : *gaps) csv += resultsCsvField(gap) + ",,,,,,,," + flag + "\n";
  }
  return csv;
}

std::string baselineSummary(const BaselineReport& report) {
  return std::to_string(report.comparison.changes.size()) + " gaps compared with the baseline, " +
         std::to_string(report.comparison.flagged) + " changed beyond " +
         std::to_string(static_cast<int>(kBaselineSignificance)) + " sigma";
}

namespace {

// A number with `decimals` decimals ("%.*f").
std::string fixed(double v, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// rho_ref +- its error in HTML, rounded as the page rounds every value, and the
// results combined when more than one.
std::string rhoCell(const CombinedReference& c) {
  const double rho = std::exp(c.lnRhoRef);
  std::string cell = "<td class=\"num\">" +
                     markedValueWithError(roundValueWithError(rho, rho * c.lnError), " &plusmn; ",
                                          [](int n) { return " &times; 10<sup>" + std::to_string(n) + "</sup>"; });
  if (c.results > 1) cell += " <span class=\"note\">(" + std::to_string(c.results) + (c.errorScaled ? ", scaled" : "") + ")</span>";
  return cell + "</td>";
}

std::string changeRow(const BaselineChange& c) {
  const RoundedValue change = roundValueWithError(c.percent, c.percentError);
  return "<tr><td>" + htmlEscape(c.gap) + "</td>" + rhoCell(c.baseline) + rhoCell(c.now) + "<td class=\"num\">" +
         change.value + " &plusmn; " + change.error + "</td><td class=\"num\">" + fixed(c.sigma, 1) + "</td>" +
         (c.flagged ? "<td class=\"verdict drift\">CHANGED</td>" : "<td></td>") + "</tr>\n";
}

// "n gaps only in the baseline: a, b, c." or "" for none.
std::string gapList(const std::vector<std::string>& gaps, const std::string& what) {
  if (gaps.empty()) return "";
  std::string text = std::to_string(gaps.size()) + (gaps.size() == 1 ? " gap " : " gaps ") + what + ": ";
  for (std::size_t k = 0; k < gaps.size(); ++k) text += (k > 0 ? ", " : "") + gaps[k];
  return "<p>" + htmlEscape(text) + ".</p>\n";
}

std::string baselineIntro(const BaselineReport& r) {
  const BaselineComparison& c = r.comparison;
  std::size_t unread = 0;
  for (const ScanTable& t : r.campaign->tables) unread += t.error.empty() ? 0 : 1;
  std::string html = "<h2 id=\"baseline\">Baseline</h2>\n<p>Compared with the baseline " +
                     htmlEscape(r.campaign->path) + " (" + std::to_string(r.campaign->tables.size()) + " results files";
  if (unread > 0) html += ", <span class=\"error\">" + std::to_string(unread) + " could not be read</span>";
  html += "). <b>" + std::to_string(c.changes.size()) + " gaps in both, " + std::to_string(c.flagged) +
          " changed beyond " + fixed(kBaselineSignificance, 0) + "&sigma;</b>.</p>\n";
  html += r.alpha == 0.0 ? "<p>&rho;<sub>ref</sub> of both campaigns is the knee fit's resistivity as measured, as in "
                           "the history (" + htmlEscape(r.alphaText) + ")."
                         : "<p>&rho;<sub>ref</sub> of both campaigns is made alike, as in the history: the knee fit's "
                           "resistivity at T0 = " + fixed(r.reference, 1) + " C with " + htmlEscape(r.alphaText) +
                           "; knee_rho_ref where results.csv holds it for that &alpha; and T0, else knee_rho "
                           "e<sup>&alpha; (T &minus; T0)</sup> with T the knee fit's mean temperature above the knee.";
  html += " A gap's results "
          "within one campaign are combined as the weighted mean of ln &rho;<sub>ref</sub> (weights 1/&sigma;&sup2;), "
          "its error scaled by &radic;(&chi;&sup2;/ndf) where that exceeds 1 (the count of results in brackets). "
          "Change = 100 (&rho;<sub>now</sub>/&rho;<sub>baseline</sub> &minus; 1) %; &sigma; = ln(&rho;<sub>now</sub>/"
          "&rho;<sub>baseline</sub>) over its error, the two sides' errors in quadrature";
  if (r.alphaError > 0.0) html += " and the fitted &alpha;'s error times the difference of their mean temperatures";
  html += ". <b>CHANGED</b> where |&sigma;| &gt; " + fixed(kBaselineSignificance, 0) + ".</p>\n";
  for (const ScanTable& t : r.campaign->tables) {
    if (!t.error.empty()) html += "<p class=\"error\">" + htmlEscape(t.error) + "</p>\n";
  }
  return html + gapList(c.baselineOnly, "only in the baseline") + gapList(c.nowOnly, "only in this campaign") +
         gapList(c.noReference, "in both without a knee-fit rho_ref on one side");
}

}  // namespace

namespace {

tk::Graph series(int colour, int marker) {
  tk::Graph g;
  g.markerColor = colour;
  g.markerStyle = marker;
  g.markerSize = 1.3;
  return g;
}

// One y range for every figure (the frame adds a tenth each side): each change
// with its error bar, and 0. A bar counts up to 3 times the median error, so
// that one wild error bar does not set the axis for all (it runs off the frame,
// clipped); every value is inside.
std::pair<double, double> changeRange(const std::vector<BaselineChange>& changes) {
  std::vector<double> errors(changes.size());
  std::transform(changes.begin(), changes.end(), errors.begin(), [](const BaselineChange& c) { return c.percentError; });
  std::nth_element(errors.begin(), errors.begin() + static_cast<long>(errors.size() / 2), errors.end());
  const double cap = 3.0 * errors[errors.size() / 2];
  double low = 0.0, high = 0.0;
  for (const BaselineChange& c : changes) {
    low = std::min(low, c.percent - std::min(c.percentError, cap));
    high = std::max(high, c.percent + std::min(c.percentError, cap));
  }
  if (!(high > low)) high = low + 1.0;
  return {low, high};
}

// A figure's size: frame and legend of fixed height, the bottom margin tall
// enough for the gaps' names (`longest` characters) to read upwards at the size
// their spacing allows.
constexpr int kFigureWidth = 1200;
constexpr double kTopPx = 40.0, kFramePx = 400.0;
tk::Style figureStyle(std::size_t longest, int& height) {
  tk::Style style;
  style.padRightMargin = 0.2;  // the legend beside the data, never on it
  style.padLeftMargin = 0.1;
  const double bottom = gapNameMarginPx(style, kFigureWidth * (1.0 - style.padLeftMargin - style.padRightMargin),
                                        kBaselineGapsPerFigure, longest);
  height = static_cast<int>(std::ceil(kTopPx + kFramePx + bottom));
  style.padTopMargin = kTopPx / height;
  style.padBottomMargin = bottom / height;
  return style;
}

// Changes [first, last) against their gaps, a zero line, CHANGED ones as red squares.
bool paintChanges(const std::vector<BaselineChange>& changes, std::size_t first, std::size_t last,
                  std::pair<double, double> y, const std::string& path, GapLabels& shown, std::string& error) {
  tk::Graph within = series(1, 20), changed = series(2, 21);
  std::vector<std::pair<double, std::string>> labels;
  std::size_t longest = 1;
  for (std::size_t k = first; k < last; ++k) {
    const BaselineChange& c = changes[k];
    const double x = static_cast<double>(k - first + 1);
    tk::Graph& g = c.flagged ? changed : within;
    g.AddPoint(x, c.percent);
    g.errorY.push_back(c.percentError);
    labels.emplace_back(x, c.gap);
    longest = std::max(longest, c.gap.size());
  }
  // Gaps at 1, 2, ...; the frame adds a tenth of its points' span on each side
  // (an x range from 0 up would be clamped at 0): these give it 0.5 to x1.
  const double x0 = 0.5, x1 = static_cast<double>(kBaselineGapsPerFigure) + 0.5, inset = (x1 - x0) / 12;
  tk::Graph frame = tk::frameGraph(x0 + inset, x1 - inset, y.first, y.second, "", "#rho_{ref} now / baseline - 1 [%]");
  frame.xCategoryLabels = labels;
  int height = 0;
  const tk::Style style = figureStyle(longest, height);
  tk::Canvas canvas("baseline", "baseline", kFigureWidth, height, style);
  canvas.DrawGraph(&frame, true);
  canvas.DrawLine(x0, 0.0, x1, 0.0, 16, 1, 1);
  canvas.DrawGraph(&within, false);
  canvas.DrawGraph(&changed, false);
  tk::Legend legend;
  legend.x1 = 0.81, legend.x2 = 0.99, legend.y2 = 1.0 - style.padTopMargin, legend.y1 = legend.y2 - 80.0 / height;
  legend.AddEntry(&within, "within 3#sigma", "p");
  legend.AddEntry(&changed, "CHANGED", "p");
  canvas.DrawLegend(legend);
  shown = gapLabelsOf(canvas, last - first);
  return canvas.SaveAs(path, error);
}

// The figures, kBaselineGapsPerFigure gaps each, as the page shows them.
std::string changeFigures(const std::vector<BaselineChange>& changes, const std::string& figuresDir, tk::Console& console,
                          tk::Failures& failures, const StopAsked& stopAsked) {
  const auto y = changeRange(changes);
  std::string html;
  for (std::size_t first = 0, n = 1; first < changes.size(); first += kBaselineGapsPerFigure, ++n) {
    if (stopAsked && stopAsked()) {
      return html + "<p class=\"note\">The report was stopped before all baseline figures were painted.</p>\n";
    }
    const std::size_t last = std::min(changes.size(), first + kBaselineGapsPerFigure);
    const std::string name = "baseline_" + std::to_string(n) + ".png";
    std::string error;
    GapLabels shown;
    if (!paintChanges(changes, first, last, y, figuresDir + name, shown, error)) {
      console.error(tk::Status::IOError(error), failures);
      continue;
    }
    const std::string caption = "Change of rho_ref against the baseline, gaps " + std::to_string(first + 1) + "-" +
                                std::to_string(last) + " of " + std::to_string(changes.size()) +
                                " in the table's order (red squares: CHANGED)";
    // The gaps and their labels as painted, for a browser check of what the reader sees.
    html += figureHtml(name, caption, false, gapLabelAttributes("baseline_" + std::to_string(n), shown));
  }
  return html;
}

}  // namespace

std::string baselineSection(const BaselineReport& report, const std::string& figuresDir, tk::Console& console,
                            tk::Failures& failures, const StopAsked& stopAsked) {
  const std::vector<BaselineChange>& changes = report.comparison.changes;
  std::string html = baselineIntro(report);
  if (changes.empty()) return html + "<p>No gap has a knee-fit rho_ref in both campaigns.</p>\n";
  html += changeFigures(changes, figuresDir, console, failures, stopAsked);
  html += "<table>\n<tr><th>Gap</th><th>Baseline &rho;<sub>ref</sub> [&Omega; cm]</th><th>Now &rho;<sub>ref</sub> "
          "[&Omega; cm]</th><th>Change [%]</th><th>&sigma;</th><th>Flag</th></tr>\n";
  for (const BaselineChange& c : changes) html += changeRow(c);
  return html + "</table>\n<p>The same table: <a href=\"baseline.csv\">baseline.csv</a>.</p>\n";
}
