#include "tools/Report.h"

#include <sys/stat.h>

#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "aux/TexTables.h"
#include "tools/ReportInputs.h"
#include "tools/ReportPage.h"

namespace {

// The report's own subdirectories, made if missing. One that is a symbolic link
// is refused: what the report writes there would land wherever it points.
bool makeReportDirectories(const std::string& dir, std::string& error) {
  for (const char* sub : {"figures", "thumbs"}) {
    struct stat info {};
    if (::lstat((dir + sub).c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      error = "cannot write into " + dir + sub + ": it is a symbolic link";
      return false;
    }
  }
  for (const char* sub : {"", "figures", "thumbs"}) {
    if (!makeDirectories(dir + sub, error)) return false;
  }
  return true;
}

// campaign.tex: every gap of every table read, with its verdict.
std::string campaignTable(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts) {
  std::vector<ResultsRow> rows;
  std::vector<std::string> words;
  for (std::size_t s = 0; s < scans.size(); ++s) {
    for (std::size_t r = 0; r < scans[s].rows.size(); ++r) {
      rows.push_back(scans[s].rows[r]);
      rows.back().scan = scanLabel(scans[s], rows.back());
      words.emplace_back(verdictWord(verdicts.byScan[s][r].kind));
    }
  }
  return campaignTex(rows, words);
}

}  // namespace

int writeCampaignReport(const std::vector<std::string>& resultsFiles, const std::string& outputDir,
                        const ReportSettings& settings, tk::Console& console, tk::Failures& failures,
                        std::optional<VerdictCounts>* counts) {
  const std::size_t before = failures.all().size();
  std::string dir = outputDir.empty() ? "./" : outputDir;
  if (dir.back() != '/') dir += '/';
  std::string error;
  if (!makeReportDirectories(dir, error)) {
    console.error(tk::Status::IOError(escapeControls(error)), failures);
    return 1;
  }
  std::vector<ScanTable> scans = readScanTables(resultsFiles, console, failures);
  scans.insert(scans.end(), settings.unread.begin(), settings.unread.end());
  const CampaignHistory history = campaignHistory(scans, settings.history);
  CampaignVerdicts verdicts = judgeCampaign(scans, settings.limits);
  addDriftVerdicts(scans, history, verdicts);
  if (settings.limits != nullptr) {
    const std::string unused = unusedLimitsWarning(verdicts, *settings.limits);
    if (!unused.empty()) console.warning(unused);
  }
  if (counts != nullptr) *counts = verdicts.gaps;
  const ReportProvenance provenance = withHistory(settings.provenance, history);
  const std::string csv = campaignVerdictsCsv(scans, verdicts, provenance, settings.limits, historyComments(history));
  if (!writeFileAtomically(dir + "verdicts.csv", csv, error)) console.error(tk::Status::IOError(error), failures);
  if (!writeFileAtomically(dir + "campaign.tex", campaignTable(scans, verdicts), error)) {
    console.error(tk::Status::IOError(error), failures);
  }
  std::optional<BaselineReport> baseline;
  if (settings.baseline != nullptr) {
    baseline = compareWithBaseline(scans, *settings.baseline, history);
    if (!writeFileAtomically(dir + "baseline.csv", baselineCsv(*baseline), error)) console.error(tk::Status::IOError(error), failures);
  }
  const PageFacts facts{settings.limits, verdicts, provenance, &history, baseline ? &*baseline : nullptr};
  const std::string page = reportPageText(scans, facts, dir, console, failures, settings.stopAsked);
  if (!writeFileAtomically(dir + "index.html", page, error)) console.error(tk::Status::IOError(error), failures);
  const bool failed = failures.all().size() > before;
  if (!failed) {
    console.out << "gapohm: report of " << scans.size() << " results files in " << dir << "index.html; verdicts of "
                << verdicts.gaps.total() << " gaps: "
                << verdicts.gaps.text() << (baseline ? "; " + baselineSummary(*baseline) : "") << std::endl;
  }
  return failed ? 1 : 0;
}

int runReport(const std::vector<std::string>& paths, const std::string& outputDir, const std::string& limitsFile,
              const ReportProvenance& provenance, const HistoryOptions& history,
              const std::optional<std::string>& baselinePath, tk::Console& console) {
  Limits limits;
  if (!limitsFile.empty() && !loadLimits(limitsFile, limits, console.err)) return 2;
  tk::Failures failures;
  BaselineCampaign baseline;
  if (baselinePath && readBaseline(*baselinePath, baseline, console, failures) != 0) return 2;
  const std::vector<std::string> files = findResultsFiles(paths, console, failures);
  if (files.empty()) console.error(tk::Status::InvalidArgument("no results.csv found under the paths given"), failures);
  const std::string overlap = baselinePath ? baselineOverlapWarning(baseline, files) : "";
  if (!overlap.empty()) console.warning(overlap);
  ReportSettings settings;
  settings.baseline = baselinePath ? &baseline : nullptr;
  settings.limits = limitsFile.empty() ? nullptr : &limits;
  settings.provenance = provenance;
  settings.history = history;
  writeCampaignReport(files, outputDir, settings, console, failures);
  return failures.any() ? 1 : 0;
}

int reportCommand(bool report, bool batch, const std::vector<std::string>& paths, const std::string& outputDir,
                  const std::string& limitsFile, const ReportProvenance& provenance, const HistoryOptions& history,
                  const std::optional<std::string>& baseline, tk::Console& console) {
  std::string usage;
  if (!report && !batch) usage = "--limits needs --report or --batch";
  else if (batch) usage = "--report and --batch cannot be given together";
  else if (paths.empty()) usage = "--report needs at least one results.csv or directory";
  if (!usage.empty()) {
    console.err << "gapohm: " << usage << "\nRun with --help for more information.\n";
    return 2;
  }
  return runReport(paths, outputDir, limitsFile, provenance, history, baseline, console);
}
