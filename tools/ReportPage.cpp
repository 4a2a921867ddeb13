#include "tools/ReportPage.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "toolkit/SafeFile.h"
#include "tools/Baseline.h"
#include "tools/CampaignHistory.h"
#include "tools/ReportFigures.h"
#include "tools/SummaryFigures.h"
#include "tools/SummaryPanels.h"
#include "tools/Thumbnail.h"

namespace fs = std::filesystem;

std::string htmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string urlPath(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xf];
    }
  }
  return out;
}

namespace {

// Thumbnails are made up to kThumbnailWidth pixels wide and shown 160 wide.
constexpr int kThumbShown = 160;

// Figures are shown at most kShownFigureWidth wide: the summary panels' labels
// are sized for it.
std::string styleSheet() {
  return std::string("body{font-family:sans-serif;margin:1.5em;color:#111;background:#fff}"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:3px 6px;vertical-align:middle;text-align:left}"
    "th{background:#eee}td.num{text-align:right;white-space:nowrap}"
    "img{max-width:100%;height:auto}figure{margin:0.5em 0;max-width:") + std::to_string(kShownFigureWidth) + "px}"
    "figure.small{display:inline-block;width:32%;min-width:300px;margin-right:1%;vertical-align:top}"
    ".pass{background:#d8f5d8}.fail{background:#f8d0d0}.marginal{background:#fbe2c0}.drift{background:#e6d5f5}.noresult{background:#f3efd2}"
    ".note{color:#666;font-style:italic}td.note{min-width:10em}.error{color:#a00}"
    "img.thumb{max-width:none}td.verdict{white-space:nowrap;font-weight:bold}td.checks{min-width:14em}"
    "tr:target{outline:3px solid #36c}";
}

// "value ± error" in HTML, the rounding of results.tex; "" for no value.
std::string htmlValue(const Measured& m) {
  return markedValueWithError(roundValueWithError(m.value, m.error), " &plusmn; ",
                              [](int n) { return " &times; 10<sup>" + std::to_string(n) + "</sup>"; });
}

// `target` relative to `dir`, both taken as absolute paths, "/"-separated.
std::string relativePath(const std::string& target, const std::string& dir) {
  const fs::path from = fs::absolute(dir).lexically_normal();
  const fs::path to = fs::absolute(target).lexically_normal();
  return to.lexically_relative(from).generic_string();
}

// The largest SVG figure copied as its own thumbnail.
constexpr std::size_t kLargestSvgThumb = std::size_t{16} << 20;

// Where the report is written and the running count of its thumbnails.
struct ReportPlace {
  std::string dir;  // the output directory, ending in "/"
  int thumbs = 0;
  tk::Console& console;
  tk::Failures& failures;
  const StopAsked& stopAsked;

  bool stopped() const { return stopAsked && stopAsked(); }
};

// The thumbnail the run painted with its figure, as results.csv names it
// (thumbnailName): its path when that is a regular file of its own beside the
// figure, else "" (an older table, another format, a file gone or replaced).
std::string runThumbnail(const fs::path& dir, const std::string& name) {
  // Only a name the run gives: no other folder, no way out of the results' folder.
  if (name.empty() || thumbnailName(fs::path(name).stem().string(), ".png") != name) return "";
  std::error_code ec;
  const fs::path path = dir / name;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular ? path.string() : "";
}

// A figure linked from the page, with its thumbnail: the one the run made
// (`made`, linked where it is), else one made here when it can be: a PNG is
// box-filtered down, an SVG copied, a PDF (or anything else) only linked.
std::string linkedFigure(const std::string& figure, const std::string& made, const std::string& gap,
                         ReportPlace& place) {
  const std::string extension = fs::path(figure).extension().string();
  const std::string link = urlPath(relativePath(figure, place.dir));
  std::string thumb = made.empty() ? "thumbs/" + std::to_string(++place.thumbs) + extension
                                   : urlPath(relativePath(made, place.dir));
  std::string error;
  bool shown = !made.empty();
  if (!made.empty()) {
    // linked where the run left it
  } else if (place.stopped()) {
    error = "the report was stopped";
  } else if (extension == ".png") {
    shown = writeThumbnail(figure, place.dir + thumb, kThumbnailWidth, error);
  } else if (extension == ".svg") {
    shown = tk::copyRegularFile(figure, place.dir + thumb, kLargestSvgThumb, error);
  }
  if (!error.empty() && !place.stopped()) place.console.warning(escapeControls(error));
  if (shown) {
    return "<a href=\"" + htmlEscape(link) + "\"><img class=\"thumb\" src=\"" + htmlEscape(thumb) + "\" width=\"" +
           std::to_string(kThumbShown) + "\" alt=\"figure of " + htmlEscape(gap) + "\"></a>";
  }
  const std::string why = !error.empty() ? "no thumbnail: " + htmlEscape(error)
                          : extension == ".pdf" ? std::string("no thumbnail of a PDF") : "no thumbnail";
  return "<a href=\"" + htmlEscape(link) + "\">figure</a> <span class=\"note\">(" + why + ")</span>";
}

std::string noFigure(const std::string& why) {
  return "<span class=\"note\">no figure (" + htmlEscape(why) + ")</span>";
}

// The scan's combined figure of all gaps beside its results.csv, as the run
// named it (getName() and the extension of its gaps' figures, else any the runs
// write); "" when there is none.
std::string combinedFigure(const ScanTable& scan) {
  const fs::path dir = fs::path(scan.file).parent_path();
  std::vector<std::string> extensions = {".png", ".svg", ".pdf"};
  const auto named = std::find_if(scan.rows.begin(), scan.rows.end(), [](const ResultsRow& r) { return !r.figure.empty(); });
  if (named != scan.rows.end()) extensions.insert(extensions.begin(), fs::path(named->figure).extension().string());
  for (const std::string& extension : extensions) {
    std::error_code ec;
    const fs::path figure = dir / (getName() + extension);
    if (fs::symlink_status(figure, ec).type() == fs::file_type::regular) return figure.string();
  }
  return "";
}

// The figure cell of a gap without a figure of its own: its scan's combined figure.
std::string combinedFigureCell(const ScanTable& scan, const std::string& why, const ReportPlace& place) {
  const std::string figure = combinedFigure(scan);
  if (figure.empty()) return noFigure(why);
  return "<a href=\"" + htmlEscape(urlPath(relativePath(figure, place.dir))) +
         "\">combined figure</a> <span class=\"note\">(no figure of its own)</span>";
}

// Whether `figure` is a file the page may show: a regular file, never a link
// (what a link beside a results.csv points at is not the run's figure, and may
// be any file of the machine); a link is named in a warning.
enum class FigureFile { regular, link, none };
FigureFile figureFile(const std::string& figure, ReportPlace& place) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(figure, ec);
  if (fs::is_symlink(status)) {
    place.console.warning(escapeControls(figure) + ": skipped: a symbolic link (the report shows no figure through a link)");
    return FigureFile::link;
  }
  return fs::is_regular_file(status) ? FigureFile::regular : FigureFile::none;
}

// The figure cell of a gap: a thumbnail in thumbs/ linked to the full figure
// beside the results.csv, or a note when there is none. The figure is the one
// the row's figure column names: a plain file name, never a path that could
// leave the results' folder. A table without that column (written before it
// was added) has the figure guessed from the gap's name, as the runs named it.
std::string figureCell(const ScanTable& scan, const ResultsRow& row, ReportPlace& place) {
  const fs::path dir = fs::path(scan.file).parent_path();
  if (scan.figureColumn) {
    const std::string& name = row.figure;
    if (name.empty()) return combinedFigureCell(scan, "none named in results.csv", place);
    if (name.find('/') != std::string::npos || name == "..") {
      return noFigure("\"" + name + "\" is not a file name beside results.csv");
    }
    const std::string figure = (dir / name).string();
    switch (figureFile(figure, place)) {
      case FigureFile::regular: return linkedFigure(figure, runThumbnail(dir, row.thumbnail), row.gap, place);
      case FigureFile::link: return noFigure(name + " is a symbolic link");
      case FigureFile::none: return noFigure(name + " not beside results.csv");
    }
  }
  const std::string base = (dir / safeFileName(row.gap)).string();
  for (const char* extension : {".png", ".svg", ".pdf"}) {
    switch (figureFile(base + extension, place)) {
      case FigureFile::regular: return linkedFigure(base + extension, "", row.gap, place);
      case FigureFile::link: return noFigure(safeFileName(row.gap) + extension + " is a symbolic link");
      case FigureFile::none: break;
    }
  }
  return combinedFigureCell(scan, safeFileName(row.gap) + ".png not beside results.csv", place);
}

std::string statusCell(const MethodStatus& status) {
  if (status.fitted()) return std::string("<td>") + kFittedWord + "</td>";
  return "<td class=\"note\">" + htmlEscape(status.reason.empty() ? "no result" : status.reason) + "</td>";
}

// Whether any gap of the scan has a knee_rho_ref: the column is shown then.
bool hasKneeReference(const ScanTable& scan) {
  return std::any_of(scan.rows.begin(), scan.rows.end(), [](const ResultsRow& r) { return r.knee.rhoRef.value.has_value(); });
}

std::string checksCell(const GapVerdict& verdict) {
  std::string text;
  for (const VerdictRow& row : verdict.rows) {
    text += (text.empty() ? "" : "; ") + (row.quantity.empty() ? row.why : std::string(verdictWord(row.verdict)) + " " + row.why);
  }
  return "<td class=\"checks\">" + htmlEscape(text) + "</td>";
}

std::string gapLine(const ScanTable& scan, std::size_t s, std::size_t r, const PageFacts& facts, ReportPlace& place) {
  const ResultsRow& row = scan.rows[r];
  const GapVerdict& verdict = facts.verdicts.byScan[s][r];
  std::string line = "<tr id=\"" + gapAnchor(s, r) + "\"><td class=\"verdict " + verdictClass(verdict.kind) + "\">" +
                     verdictWord(verdict.kind) + "</td><td>" + figureCell(scan, row, place) + "</td><td>" +
                     htmlEscape(row.gap) + "</td>";
  line += statusCell(row.window.status);
  line += "<td class=\"num\">" + htmlValue(row.window.rho) + "</td>";
  line += statusCell(row.knee.status);
  line += "<td class=\"num\">" + htmlValue(row.knee.rho) + "</td>";
  if (hasKneeReference(scan)) line += "<td class=\"num\">" + htmlValue(row.knee.rhoRef) + "</td>";
  for (const Measured* m : {&row.window.onset, &row.knee.onset, &row.window.offset, &row.knee.offset}) {
    line += "<td class=\"num\">" + htmlValue(*m) + "</td>";
  }
  return line + checksCell(verdict) + "</tr>\n";
}

std::string scanSection(const std::vector<ScanTable>& scans, std::size_t s, const PageFacts& facts, ReportPlace& place) {
  const ScanTable& scan = scans[s];
  const std::string title = !scan.rows.empty() && !scan.rows.front().scan.empty()
                                ? scan.rows.front().scan : scan.file;
  std::string html = "<section>\n<h3>" + htmlEscape(title) + "</h3>\n<p><a href=\"" +
                     htmlEscape(urlPath(relativePath(scan.file, place.dir))) + "\">" + htmlEscape(scan.file) + "</a>";
  const std::string combined = scan.error.empty() ? combinedFigure(scan) : "";
  if (!combined.empty()) html += " &middot; <a href=\"" + htmlEscape(urlPath(relativePath(combined, place.dir))) + "\">combined figure</a>";
  if (!scan.rows.empty() && !scan.rows.front().scanDate.empty()) {
    html += " &middot; taken " + htmlEscape(scan.rows.front().scanDate) + " (from its " + htmlEscape(scan.rows.front().scanDateSource) + ")";
  }
  html += "</p>\n";
  if (!scan.error.empty()) return html + "<p class=\"error\">" + htmlEscape(scan.error) + "</p>\n</section>\n";
  html += "<table>\n<tr><th>Verdict</th><th>Figure</th><th>Gap</th><th>Window search</th><th>&rho; [&Omega; cm]</th>"
          "<th>Knee fit</th><th>&rho; knee [&Omega; cm]</th>";
  if (hasKneeReference(scan)) html += "<th>&rho; knee at T0 [&Omega; cm]</th>";
  html += "<th>Onset [V]</th><th>Onset knee [V]</th><th>Offset [nA/cm<sup>2</sup>]</th>"
          "<th>Offset knee [nA/cm<sup>2</sup>]</th><th>Limits checked</th></tr>\n";
  for (std::size_t r = 0; r < scan.rows.size(); ++r) html += gapLine(scan, s, r, facts, place);
  return html + "</table>\n</section>\n";
}

// What the page says of the summary panels, once above them.
std::string panelsIntro() {
  return "<p>Each gap type in panels of at most " + std::to_string(kGapsPerPanel) +
         " gaps, in chamber order, one axis for all panels of a quantity. Circles: window search; squares: knee "
         "fit. A gap's results stand oldest to newest from left to right in its column, coloured by scan date "
         "(legend). Dashed lines: the limits that hold for each gap. The axis range is set by the values within "
         "the far fences of their quartiles and by the median error, so that one wild value or error bar does not "
         "set it: what reaches beyond it is marked by an open triangle at the frame's edge and counted in the "
         "caption.</p>\n";
}

// A summary figure on the page: a panel carries its gap and label counts and
// its labels' size, for a reader (or a test) to check that they are legible.
std::string summaryFigureHtml(const SummaryFigure& figure) {
  const std::string attributes =
      figure.gaps == 0 ? ""
                       : gapLabelAttributes(fs::path(figure.name).stem().string(),
                                            GapLabels{figure.gaps, figure.gapLabels, figure.labelPx});
  return figureHtml(figure.name, figure.note.empty() ? figure.caption : figure.caption + ". " + figure.note,
                    figure.small, attributes);
}

// Links to a quantity's panels, by type and page, where it has several.
std::string panelIndex(const std::vector<SummaryFigure>& figures, const std::string& group) {
  std::string links, type;
  std::size_t count = 0;
  for (const SummaryFigure& f : figures) {
    if (f.group != group || f.gaps == 0 || !f.painted) continue;
    const std::string stem = fs::path(f.name).stem().string();
    const std::string ofType = stem.substr(0, stem.rfind('_'));
    if (ofType != type) links += std::string(links.empty() ? "" : " &middot; ") + htmlEscape(ofType.substr(ofType.find('_') + 1)) + ":";
    type = ofType;
    links += " <a href=\"#fig-" + htmlEscape(stem) + "\">" + htmlEscape(stem.substr(stem.rfind('_') + 1)) + "</a>";
    ++count;
  }
  return count > 3 ? "<p>Panels: " + links + "</p>\n" : "";
}

// The summary figures into figures/, and their part of the page.
std::string summarySection(const std::vector<ScanTable>& scans, const Limits* limits, ReportPlace& place) {
  std::string html = "<h2 id=\"summary\">Summary</h2>\n";
  if (place.stopped()) return html + "<p class=\"note\">The report was stopped before its summary figures were painted.</p>\n";
  const std::vector<SummaryFigure> figures = paintSummaryFigures(scans, limits, place.dir + "figures/", place.stopAsked);
  if (std::any_of(figures.begin(), figures.end(), [](const SummaryFigure& f) { return f.gaps > 0; })) html += panelsIntro();
  std::string group;
  for (const SummaryFigure& figure : figures) {
    if (figure.group != group) {
      group = figure.group;
      html += "<h3>" + htmlEscape(group) + "</h3>\n" + panelIndex(figures, group);
    }
    if (!figure.error.empty()) place.console.error(tk::Status::IOError(figure.error), place.failures);
    if (figure.painted && figure.error.empty()) {
      html += summaryFigureHtml(figure);
    } else if (!figure.note.empty()) {
      html += "<p class=\"note\">" + htmlEscape(figure.caption + ": " + figure.note) + "</p>\n";
    }
  }
  return html;
}

std::string pageText(const std::vector<ScanTable>& scans, const PageFacts& facts, ReportPlace& place) {
  long gaps = 0, window = 0, knee = 0, failed = 0;
  for (const ScanTable& scan : scans) {
    failed += scan.error.empty() ? 0 : 1;
    for (const ResultsRow& row : scan.rows) {
      ++gaps;
      window += row.window.status.fitted() ? 1 : 0;
      knee += row.knee.status.fitted() ? 1 : 0;
    }
  }
  std::string html = std::string("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") +
                     "<title>gapohm campaign report</title>\n<style>" + styleSheet() + "</style>\n</head>\n<body>\n" +
                     "<h1>gapohm campaign report</h1>\n<p>" + std::to_string(scans.size()) + " results files, " +
                     std::to_string(gaps) + " gaps: " + std::to_string(window) + " with a window-search result, " +
                     std::to_string(knee) + " with a knee-fit result.";
  if (failed > 0) html += " <span class=\"error\">" + std::to_string(failed) + " files could not be read.</span>";
  if (facts.limits != nullptr) html += " Verdicts from the limits in " + htmlEscape(facts.limits->file) + ".";
  html += "</p>\n" + verdictsSectionHtml(scans, facts.verdicts) +
          provenanceSectionHtml(scans, facts.verdicts, facts.provenance, facts.limits) + summarySection(scans, facts.limits, place);
  if (facts.history != nullptr) {
    html += historySections(*facts.history, facts.limits, place.dir + "figures/", place.console, place.failures,
                            place.stopAsked);
  }
  if (facts.baseline != nullptr) html += baselineSection(*facts.baseline, place.dir + "figures/", place.console, place.failures, place.stopAsked);
  html += "<h2>Scans</h2>\n";
  for (std::size_t s = 0; s < scans.size(); ++s) html += scanSection(scans, s, facts, place);
  return html + "</body>\n</html>\n";
}

}  // namespace

std::string reportPageText(const std::vector<ScanTable>& scans, const PageFacts& facts, const std::string& dir,
                           tk::Console& console, tk::Failures& failures, const StopAsked& stopAsked) {
  ReportPlace place{dir, 0, console, failures, stopAsked};
  return pageText(scans, facts, place);
}
