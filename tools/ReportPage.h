// The text of the campaign report's page (index.html): a summary line, the
// verdicts (tools/CampaignVerdicts.h), how the report was made, the summary
// figures, and a table per scan with each gap's verdict, its thumbnail linked to
// its full figure (or the scan's combined figure, for a gap without one of its
// own), both methods' values and the limits checked. The page is
// self-contained: no script, every link relative, nothing fetched from a network.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "toolkit/Console.h"
#include "tools/CampaignVerdicts.h"
#include "tools/Limits.h"
#include "tools/ReportInputs.h"

struct CampaignHistory;
struct BaselineReport;

// Escapes & < > " ' for HTML text and attribute values.
std::string htmlEscape(const std::string& text);

// A relative path as a URL path: bytes other than letters, digits, "-._~/"
// percent-encoded.
std::string urlPath(const std::string& path);

// Asked between the page's costly steps: true once the caller wants it ended
// (a batch stopped by a signal). Empty: never.
using StopAsked = std::function<bool()>;

// The page over `scans`, written into `dir` (ending in "/", with existing
// subdirectories figures/ and thumbs/): paints the summary figures into
// figures/ and the thumbnails into thumbs/ (numbered 1, 2, ... in page order),
// and returns the page's text, with the verdicts judged under `limits` (none
// given: nullptr) and the provenance of the report. A summary figure
// that cannot be written is printed through `console`, added to `failures` and left
// off the page; a thumbnail that cannot be made is a warning, its figure still
// linked. A figure that is a symbolic link is neither read nor linked (a warning
// names it). A scan that failed to read shows its error instead of a table. Once
// `stopAsked` says so, no further figure or thumbnail is made: the page says so
// where they would be.
struct PageFacts {
  const Limits* limits = nullptr;
  const CampaignVerdicts& verdicts;
  const ReportProvenance& provenance;
  const CampaignHistory* history = nullptr;  // the history and alpha sections after the summary (none: left out)
  const BaselineReport* baseline = nullptr;  // the comparison with an earlier campaign, after them (none: left out)
};
std::string reportPageText(const std::vector<ScanTable>& scans, const PageFacts& facts, const std::string& dir,
                           tk::Console& console, tk::Failures& failures, const StopAsked& stopAsked = {});
