// The verdicts of a whole campaign report: every gap of every results table
// judged (tools/Verdicts.h), counted per gap and per limit checked, the limits
// lines that apply to no gap, what the report was made with (its provenance),
// and the page's parts that show them: the counts, the list of FAIL and
// MARGINAL gaps linked to their rows, the tables that could not be read, the
// provenance and the limits as read.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "tools/ReportInputs.h"
#include "tools/Verdicts.h"

// What a report was made with, shown on its page and in the first comment line
// of verdicts.csv.
struct ReportProvenance {
  std::string date;         // when the report was made: UTC, YYYY-MM-DDThh:mm:ssZ
  std::string version;      // the program's
  std::string commandLine;  // as typed, words quoted for a POSIX shell where needed
  // The temperature coefficient (per degree C) and reference temperature (C)
  // the report itself uses; none: the rho_ref values are the tables' own, made
  // with the alpha_per_c and reference_temperature_c their rows say.
  std::optional<double> alpha, reference;
};

// The report's date: SOURCE_DATE_EPOCH (whole seconds since 1970, when set: the
// convention that makes builds and documents reproducible) else `now`, as
// ReportProvenance::date. `sourceDateEpoch` is the variable's value when set;
// one that is no whole number is ignored, with the reason in `warning`.
std::string reportDate(const std::optional<std::string>& sourceDateEpoch, std::time_t now, std::string& warning);

// The words of a command line, each quoted for a POSIX shell where it needs it.
std::string shellCommandLine(const std::vector<std::string>& words);

// Every gap's verdict rows, in page order.
struct GapVerdict {
  std::vector<VerdictRow> rows;
  VerdictKind kind = VerdictKind::noResult;  // the most severe of the rows'
};
struct CampaignVerdicts {
  std::vector<std::vector<GapVerdict>> byScan;  // [scan][row of its table], as `scans`
  VerdictCounts gaps;    // each gap once, by its verdict
  VerdictCounts checks;  // each row of verdicts.csv
  std::vector<long> gapsPerLimit;  // per line of the limits (Limits::rows): the gaps it holds for
};

// Judges every gap of the tables read (limits: none given).
CampaignVerdicts judgeCampaign(const std::vector<ScanTable>& scans, const Limits* limits);

// "file: line 3 (top-narrow, onset_v) holds for no gap of the campaign", naming
// every such line of the limits at once; "" when each holds for some gap.
std::string unusedLimitsWarning(const CampaignVerdicts& verdicts, const Limits& limits);

// The scan a row names, or its table's file when the row names none.
std::string scanLabel(const ScanTable& scan, const ResultsRow& row);

// The anchor of a gap's row on the page: "gap-<scan>-<row>", numbered from 1.
std::string gapAnchor(std::size_t scan, std::size_t row);

// verdicts.csv's text: its first comment line the provenance (date, version,
// alpha and T0 used, limits file, command line), then `moreComments` (the
// campaign's own alpha), a comment line per table that could not be read, then the rows.
std::string campaignVerdictsCsv(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts,
                                const ReportProvenance& provenance, const Limits* limits,
                                const std::vector<std::string>& moreComments = {});

// The page's opening: the counts per verdict, the FAIL, DRIFT and MARGINAL gaps each
// linked to its row, the tables that could not be read with why.
std::string verdictsSectionHtml(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts);

// The page's account of how it was made: date, version, command line, alpha and
// T0, and the limits as read (each line with the number of gaps it holds for).
std::string provenanceSectionHtml(const std::vector<ScanTable>& scans, const CampaignVerdicts& verdicts,
                                  const ReportProvenance& provenance, const Limits* limits);
