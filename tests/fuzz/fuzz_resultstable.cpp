// libFuzzer target over the readers of results.csv and of the report's limits
// file: any bytes as either file. Neither crashes; a table that is read is
// written back as the same rows (what a campaign report gathers survives another
// round through the file), and results.tex and the verdicts can be made of it.
#include <cstdint>
#include <string>
#include <vector>

#include "aux/ResultsTable.h"
#include "aux/TexTables.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tools/Report.h"
#include "tools/Verdicts.h"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<ResultsRow> rows;
  std::string error;
  if (parseResultsCsv(text, "f.csv", rows, error)) {
    std::vector<ResultsRow> again;
    require(parseResultsCsv(resultsCsvText(rows), "g.csv", again, error));
    require(again.size() == rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) require(sameResultsRow(again[k], rows[k]));
    (void)resultsTex(rows);
  } else {
    require(error.rfind("f.csv:", 0) == 0 && rows.empty());
  }
  Limits limits;
  if (parseLimits(text, "l.csv", limits, error)) {
    for (const ResultsRow& row : rows) (void)verdictsCsvText({}, judgeGap("s", row, &limits));
  } else {
    require(error.rfind("l.csv:", 0) == 0);
  }
  return 0;
}
