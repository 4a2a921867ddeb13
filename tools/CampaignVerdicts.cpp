#include "tools/CampaignVerdicts.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "tools/ReportPage.h"

namespace {

std::string shortNumber(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

std::string boundText(const std::optional<double>& v) { return v ? shortNumber(*v) : std::string("\xE2\x80\x93"); }

// The temperature coefficient and reference temperature of the rho_ref values
// shown, as "alpha; T0" items: the report's own, else each pair the tables' rows
// say, with the number of results files that say it when they differ.
struct TemperatureWords {
  const char* alpha;
  const char* reference;
  const char* from;
  const char* separator;
};
const TemperatureWords kCommentWords{"alpha_per_c=", "reference_temperature_c=", "alpha_from=", "; "};
const TemperatureWords kPageWords{"\xCE\xB1 = ", "T0 = ", "from ", ", "};

std::string temperatureText(const std::vector<ScanTable>& scans, const ReportProvenance& provenance,
                            const TemperatureWords& words) {
  const auto pair = [&](const std::string& alpha, const std::string& reference) {
    return words.alpha + alpha + words.separator + words.reference + reference;
  };
  if (provenance.alpha) {
    return pair(shortNumber(*provenance.alpha), shortNumber(provenance.reference.value_or(20.0))) + words.separator +
           words.from + "the report's option";
  }
  std::map<std::pair<std::string, std::string>, long> seen;
  for (const ScanTable& scan : scans) {
    if (scan.rows.empty()) continue;
    const ResultsRow& row = scan.rows.front();
    ++seen[{row.alpha ? shortNumber(*row.alpha) : "none", row.referenceTemperature ? shortNumber(*row.referenceTemperature) : "none"}];
  }
  if (seen.empty()) seen[{"none", "none"}] = 0;
  std::string text;
  for (const auto& [values, files] : seen) {
    text += (text.empty() ? "" : ", ") + pair(values.first, values.second);
    if (seen.size() > 1) text += " (" + std::to_string(files) + " results files)";
  }
  return text + words.separator + words.from + "results.csv";
}

std::string verdictCell(VerdictKind kind) {
  return std::string("<td class=\"verdict ") + verdictClass(kind) + "\">" + verdictWord(kind) + "</td>";
}

}  // namespace

std::string reportDate(const std::optional<std::string>& sourceDateEpoch, std::time_t now, std::string& warning) {
  std::time_t when = now;
  if (sourceDateEpoch) {
    char* end = nullptr;
    const long long seconds = std::strtoll(sourceDateEpoch->c_str(), &end, 10);
    if (!sourceDateEpoch->empty() && *end == '\0' && seconds >= 0) {
      when = static_cast<std::time_t>(seconds);
    } else {
      warning = "SOURCE_DATE_EPOCH \"" + *sourceDateEpoch + "\" is not a whole number of seconds: the clock's date is used";
    }
  }
  std::tm parts{};
  char buffer[32] = "";
  if (::gmtime_r(&when, &parts) != nullptr) std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buffer;
}

std::string shellCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789-_./=+,:@%") == std::string::npos;
    std::string quoted = word;
    if (!plain) {
      quoted = "'";
      for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      quoted += "'";
    }
    line += (line.empty() ? "" : " ") + quoted;
  }
  return line;
}

std::string scanLabel(const ScanTable& scan, const ResultsRow& row) { return row.scan.empty() ? scan.file : row.scan; }

std::string gapAnchor(std::size_t scan, std::size_t row) {
  return "gap-" + std::to_string(scan + 1) + "-" + std::to_string(row + 1);
}

CampaignVerdicts judgeCampaign(const std::vector<ScanTable>& scans, const Limits* limits) {
  CampaignVerdicts verdicts;
  if (limits != nullptr) verdicts.gapsPerLimit.assign(limits->rows.size(), 0);
  const std::vector<std::string> quantities = limits != nullptr ? limitedQuantities(*limits) : std::vector<std::string>{};
  for (const ScanTable& scan : scans) {
    std::vector<GapVerdict>& judged = verdicts.byScan.emplace_back();
    for (const ResultsRow& row : scan.rows) {
      GapVerdict gap{judgeGap(scanLabel(scan, row), row, limits), VerdictKind::noResult};
      gap.kind = worstVerdict(gap.rows);
      ++verdicts.gaps[gap.kind];
      for (const VerdictRow& checked : gap.rows) ++verdicts.checks[checked.verdict];
      for (const std::string& quantity : quantities) {
        const Limit* limit = limitFor(row.gap, quantity, *limits);
        if (limit != nullptr) ++verdicts.gapsPerLimit[static_cast<std::size_t>(limit - limits->rows.data())];
      }
      judged.push_back(std::move(gap));
    }
  }
  return verdicts;
}

std::string unusedLimitsWarning(const CampaignVerdicts& verdicts, const Limits& limits) {
  std::string named;
  for (std::size_t k = 0; k < verdicts.gapsPerLimit.size() && k < limits.rows.size(); ++k) {
    if (verdicts.gapsPerLimit[k] != 0) continue;
    const Limit& limit = limits.rows[k];
    named += (named.empty() ? "" : ", ") + std::string("line ") + std::to_string(limit.line) + " (" + limit.gap + ", " +
             limit.quantity + ")";
  }
  return named.empty() ? "" : limits.file + ": " + named + " hold" + (named.find(", line") == std::string::npos ? "s" : "") +
                                  " for no gap of the campaign";
}

std::string campaignVerdictsCsv(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts,
                                const ReportProvenance& provenance, const Limits* limits,
                                const std::vector<std::string>& moreComments) {
  std::vector<std::string> comments = {
      "gapohm verdicts; " + commentItems({{"date", provenance.date}, {"version", provenance.version}}) + "; " +
      temperatureText(scans, provenance, kCommentWords) + "; " +
      commentItems({{"limits", limits != nullptr ? limits->file : "none"}, {"command", provenance.commandLine}})};
  comments.insert(comments.end(), moreComments.begin(), moreComments.end());
  for (const ScanTable& scan : scans) {
    if (!scan.error.empty()) comments.push_back(commentItems({{"not_read", scan.error}}));
  }
  std::vector<VerdictRow> rows;
  for (const std::vector<GapVerdict>& scan : verdicts.byScan) {
    for (const GapVerdict& gap : scan) rows.insert(rows.end(), gap.rows.begin(), gap.rows.end());
  }
  return verdictsCsvText(comments, rows);
}

std::string verdictsSectionHtml(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts) {
  std::string html = "<section id=\"verdicts\">\n<h2>Verdicts</h2>\n<table id=\"verdict-counts\">\n"
                     "<tr><th>Verdict</th><th>Gaps</th><th>Limits checked</th></tr>\n";
  for (auto info = verdictKinds().rbegin(); info != verdictKinds().rend(); ++info) {
    html += "<tr data-verdict=\"" + std::string(info->word) + "\">" + verdictCell(info->kind) + "<td class=\"num\">" +
            std::to_string(verdicts.gaps[info->kind]) + "</td><td class=\"num\">" +
            std::to_string(verdicts.checks[info->kind]) + "</td></tr>\n";
  }
  html += "</table>\n<p class=\"note\">A gap's verdict is the most severe of its limits'; verdicts.csv has a row "
          "per gap and limit checked.</p>\n<h3>FAIL, DRIFT and MARGINAL gaps</h3>\n";
  std::string list;
  for (std::size_t s = 0; s < scans.size() && s < verdicts.byScan.size(); ++s) {
    for (std::size_t r = 0; r < verdicts.byScan[s].size(); ++r) {
      const GapVerdict& gap = verdicts.byScan[s][r];
      if (gap.kind != VerdictKind::fail && gap.kind != VerdictKind::drift && gap.kind != VerdictKind::marginal) continue;
      std::string broke;
      for (const VerdictRow& row : gap.rows) {
        if (row.verdict == VerdictKind::fail || row.verdict == VerdictKind::drift || row.verdict == VerdictKind::marginal) {
          broke += (broke.empty() ? "" : "; ") + std::string(verdictWord(row.verdict)) + " " + row.why;
        }
      }
      list += "<li><a href=\"#" + gapAnchor(s, r) + "\">" + htmlEscape(scanLabel(scans[s], scans[s].rows[r])) + ", " +
              htmlEscape(scans[s].rows[r].gap) + "</a>: " + htmlEscape(broke) + "</li>\n";
    }
  }
  html += list.empty() ? "<p id=\"verdict-list\">None.</p>\n" : "<ol id=\"verdict-list\">\n" + list + "</ol>\n";
  std::string unread;
  for (const ScanTable& scan : scans) {
    if (!scan.error.empty()) unread += "<li>" + htmlEscape(scan.error) + "</li>\n";
  }
  if (!unread.empty()) html += "<h3>Results that could not be read</h3>\n<ul id=\"unread\" class=\"error\">\n" + unread + "</ul>\n";
  return html + "</section>\n";
}

std::string provenanceSectionHtml(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts,
                                  const ReportProvenance& provenance, const Limits* limits) {
  std::string html = "<section id=\"provenance\">\n<h2>How this report was made</h2>\n<table>\n";
  const std::pair<const char*, std::string> facts[] = {
      {"Date", provenance.date},
      {"Program", "gapohm " + provenance.version},
      {"Command", provenance.commandLine},
      {"Temperature coefficient [1/\xC2\xB0" "C], reference [\xC2\xB0" "C]", temperatureText(scans, provenance, kPageWords)},
      {"Limits", limits != nullptr ? limits->file : "none given (--limits): no gap is judged"}};
  for (const auto& [name, value] : facts) {
    html += std::string("<tr><th>") + name + "</th><td>" + htmlEscape(value) + "</td></tr>\n";
  }
  html += "</table>\n";
  if (limits == nullptr) return html + "</section>\n";
  html += "<table id=\"limits\">\n<tr><th>Line</th><th>Gap</th><th>Quantity</th><th>Min</th><th>Max</th><th>Gaps</th></tr>\n";
  for (std::size_t k = 0; k < limits->rows.size(); ++k) {
    const Limit& limit = limits->rows[k];
    const long gaps = k < verdicts.gapsPerLimit.size() ? verdicts.gapsPerLimit[k] : 0;
    html += "<tr><td class=\"num\">" + std::to_string(limit.line) + "</td><td>" + htmlEscape(limit.gap) + "</td><td>" +
            htmlEscape(limit.quantity) + "</td><td class=\"num\">" + boundText(limit.min) + "</td><td class=\"num\">" +
            boundText(limit.max) + "</td><td class=\"num" + (gaps == 0 ? " fail" : "") + "\">" + std::to_string(gaps) +
            "</td></tr>\n";
  }
  return html + "</table>\n</section>\n";
}
