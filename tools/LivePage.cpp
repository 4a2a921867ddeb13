// The watch mode's renderings: the live page, the terminal table, the update
// line, the alarm line and alarms.csv.
#include "tools/LivePage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "aux/ResultsTable.h"
#include "aux/ScanInput.h"
#include "toolkit/Console.h"
#include "tools/ReportPage.h"

namespace {

// A number as the watch shows it: six significant digits, as the log writes them.
std::string shown(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

std::string joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : separator) + w;
  return text;
}

constexpr const char* kPageStyle =
    "body{font-family:sans-serif;margin:1em}table{border-collapse:collapse}"
    "td,th{border:1px solid #bbb;padding:2px 6px;text-align:right}td.name,td.why{text-align:left}"
    ".alarm{background:#fdd;color:#a00;font-weight:bold}.ended{color:#060}.problem{color:#a00}"
    "img{max-width:100%}";

// The page's head: it reloads itself every refreshSeconds until the watch has ended.
std::string pageHead(const LiveState& s) {
  std::string head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  if (!s.ended) head += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(s.refreshSeconds) + "\">\n";
  head += "<title>gapohm live: " + htmlEscape(tk::escapeControls(ExtractFilename(s.scan))) + "</title>\n<style>" +
          kPageStyle + "</style>\n</head>\n<body>\n";
  return head;
}

std::string gapRow(const LiveGap& g) {
  const std::string name = htmlEscape(tk::escapeControls(g.name));
  std::string row = std::string("<tr") + (g.alarms.empty() ? "" : " class=\"alarm\"") + "><td class=\"name\">";
  row += g.figure.empty() ? name : "<a href=\"" + htmlEscape(urlPath(g.figure)) + "\">" + name + "</a>";
  row += "</td><td>" + std::to_string(g.points) + "</td><td>" + shown(g.lastHv) + "</td><td>" + shown(g.lastCurrent) +
         "</td>";
  if (g.kneeFitted) {
    row += "<td>" + shown(g.onset) + "</td><td>" + shown(g.resistivity) + "</td>";
  } else {
    row += "<td class=\"why\" colspan=\"2\">not yet: " + htmlEscape(tk::escapeControls(g.notYet)) + "</td>";
  }
  row += "<td class=\"why\">" + htmlEscape(g.flags) + "</td><td class=\"why\">" + htmlEscape(joined(g.alarms, ", ")) +
         "</td></tr>\n";
  return row;
}

std::string alarmList(const LiveState& s) {
  if (s.alarms.empty()) return "<p>No alarm.</p>\n";
  std::string list = "<h2>Alarms</h2>\n<ul>\n";
  for (std::size_t k = 0; k < s.alarms.size(); ++k) {
    const std::string when = k < s.alarmTimes.size() ? s.alarmTimes[k] + ": " : "";
    list += "<li class=\"alarm\">" + htmlEscape(when + alarmLine(s.alarms[k])) + "</li>\n";
  }
  return list + "</ul>\n";
}

std::string figurePart(const LiveState& s) {
  if (s.combinedFigure.empty()) return "<p>No figure yet: waiting for the first measurement.</p>\n";
  const std::string href = htmlEscape(urlPath(s.combinedFigure));
  const std::string ext = s.combinedFigure.substr(s.combinedFigure.rfind('.') + 1);
  if (ext == "png" || ext == "svg") return "<p><img src=\"" + href + "\" alt=\"every gap's current density\"></p>\n";
  return "<p><a href=\"" + href + "\">every gap's current density (" + htmlEscape(ext) + ")</a></p>\n";
}

// A field of the terminal table: cut to `width` (whole UTF-8 characters), padded.
std::string cell(const std::string& text, std::size_t width) {
  std::string cut = tk::escapeControls(text);
  std::size_t at = 0, shownChars = 0;
  while (at < cut.size() && shownChars < width) {
    at += utf8Length(cut, at);
    ++shownChars;
  }
  cut.resize(std::min(at, cut.size()));
  return cut + std::string(width - shownChars, ' ');
}

}  // namespace

std::vector<LiveGap> liveGaps(const RunOutcome& run, const std::string& extension, const std::vector<Alarm>& alarms) {
  std::vector<LiveGap> gaps;
  for (const GapResult& g : run.gaps) {
    LiveGap live;
    live.name = g.name;
    live.points = g.points.hv.size();
    if (live.points > 0) {
      live.lastHv = g.points.hv.back();
      live.lastCurrent = g.points.current.back();
    }
    live.kneeFitted = g.kneeRun && g.knee.fitted;
    live.onset = g.knee.onset;
    live.resistivity = g.knee.resistivity;
    live.notYet = !g.kneeRun ? g.kneeNotRun() : g.knee.reason;
    live.flags = joined(flagWords(g.result.flags), ";");
    if (g.drawn()) live.figure = g.figureBase + extension;
    gaps.push_back(std::move(live));
  }
  markAlarms(gaps, alarms);
  return gaps;
}

void markAlarms(std::vector<LiveGap>& gaps, const std::vector<Alarm>& alarms) {
  for (LiveGap& g : gaps) {
    for (const Alarm& a : alarms) {
      if (a.gap == g.name && std::find(g.alarms.begin(), g.alarms.end(), a.kind) == g.alarms.end()) {
        g.alarms.emplace_back(a.kind);
      }
    }
  }
}

std::string livePageText(const LiveState& s) {
  std::string page = pageHead(s);
  page += "<h1>" + htmlEscape(tk::escapeControls(s.scan)) + "</h1>\n";
  page += std::string("<p class=\"") + (s.ended ? "ended" : "running") + "\"><strong>" + htmlEscape(s.state) +
          "</strong></p>\n";
  page += "<p>" + std::to_string(s.lines) + " lines read; last line at " +
          htmlEscape(s.lastLine.empty() ? "(none yet)" : s.lastLine) + "; last update at " +
          htmlEscape(s.lastUpdate.empty() ? "(none yet)" : s.lastUpdate) + "</p>\n";
  if (!s.problem.empty()) page += "<p class=\"problem\">" + htmlEscape(tk::escapeControls(s.problem)) + "</p>\n";
  page += alarmList(s) + figurePart(s);
  page += "<table>\n<tr><th>gap</th><th>points</th><th>last HV (V)</th><th>last J (nA/cm2)</th>"
          "<th>knee onset (V)</th><th>knee rho (Ohm cm)</th><th>flags</th><th>alarms</th></tr>\n";
  for (const LiveGap& g : s.gaps) page += gapRow(g);
  return page + "</table>\n</body>\n</html>\n";
}

std::string terminalTable(const LiveState& s) {
  std::string table = cell("gap", 24) + " " + cell("points", 6) + " " + cell("last HV", 9) + " " +
                      cell("last J", 10) + " " + cell("onset", 9) + " " + cell("rho", 11) + " alarm\n";
  for (const LiveGap& g : s.gaps) {
    table += cell(g.name, 24) + " " + cell(std::to_string(g.points), 6) + " " + cell(shown(g.lastHv), 9) + " " +
             cell(shown(g.lastCurrent), 10) + " " + cell(g.kneeFitted ? shown(g.onset) : "-", 9) + " " +
             cell(g.kneeFitted ? shown(g.resistivity) : "-", 11) + " " + tk::escapeControls(joined(g.alarms, ",")) +
             "\n";
  }
  return table + s.state + "; " + std::to_string(s.lines) + " lines; last line " + s.lastLine + "; updated " +
         s.lastUpdate + "\n";
}

std::string updateLine(const LiveState& s) {
  std::size_t fitted = 0;
  for (const LiveGap& g : s.gaps) fitted += g.kneeFitted ? 1 : 0;
  return "gapohm: watch: " + s.lastUpdate + ": " + std::to_string(s.lines) + " lines, " + std::to_string(s.gaps.size()) +
         " gaps, " + std::to_string(fitted) + " with a knee fit, " + std::to_string(s.alarms.size()) + " alarms";
}

std::string alarmsCsvText(const std::vector<Alarm>& alarms, const std::vector<std::string>& times) {
  std::string text = "time,gap,hv_v,current_na_cm2,kind,threshold\n";
  for (std::size_t k = 0; k < alarms.size(); ++k) {
    const Alarm& a = alarms[k];
    text += resultsCsvField(k < times.size() ? times[k] : "") + "," + resultsCsvField(a.gap) + "," +
            formatResultsNumber(a.hv) + "," + formatResultsNumber(a.current) + "," + a.kind + "," +
            formatResultsNumber(a.threshold) + "\n";
  }
  return text;
}

std::string alarmLine(const Alarm& a) {
  const bool limit = a.kind == std::string(kMaxCurrentAlarm);
  return "ALARM gap \"" + excerpt(a.gap) + "\" at " + shown(a.hv) + " V: " + shown(a.current) + " nA/cm2, " +
         (limit ? "above --max-current " + shown(a.threshold) + " nA/cm2"
                : "a jump: its step rose more than " + shown(a.threshold) + " nA/cm2 above its recent steps (--jump-sigma)");
}
