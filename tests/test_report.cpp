// The results table (results.csv, results.tex) and the campaign report
// (--report, --limits): reading back what runs wrote, verdicts, the page.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

#include "aux/ResultsTable.h"
#include "aux/ScanDate.h"
#include "aux/TexTables.h"
#include "tests/TestSupport.h"
#include "tools/Report.h"
#include "tools/SummaryFigures.h"
#include "tools/SummaryPanels.h"
#include "tools/Thumbnail.h"
#include "tools/gapohm.h"
#include "toolkit/Canvas.h"
#include "toolkit/Look.h"
#include "toolkit/Png.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

ResultsRow gapRow(const std::string& scan, const std::string& gap,
                  const std::vector<std::pair<std::string, std::string>>& cells) {
  ResultsRow row = ResultsRow{};
  row.set("scan", scan);
  row.set("gap", gap);
  for (const auto& [column, value] : cells) row.set(column, value);
  return row;
}

ResultsRow fittedRow(const std::string& scan, const std::string& gap, double rho, double kneeRho) {
  auto f = formatResultsNumber;
  return gapRow(scan, gap,
                {{"status", "fitted"}, {"rho_ohm_cm", f(rho)}, {"rho_err", f(rho / 100)}, {"onset_v", "1900"},
                 {"onset_err", "20"}, {"offset_na_cm2", "0.25"}, {"offset_err", "0.01"}, {"knee_status", "fitted"},
                 {"knee_rho_ohm_cm", f(kneeRho)}, {"knee_rho_err", f(kneeRho / 50)}, {"knee_onset_v", "1890"},
                 {"knee_onset_err", "15"}});
}

// A PNG of the given size, white with its left half black.
void writeHalfBlackPng(const std::string& path, int width, int height) {
  tk::Image image(width, height);
  image.fill(255, 255, 255);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(image.data() + static_cast<std::size_t>(y) * image.stride());
    std::fill(row, row + width / 2, 0u);
  }
  std::string error;
  ASSERT_TRUE(tk::writePng(path, image, 1, error)) << error;
}


// A link of the page as a path: entities and percent escapes undone.
std::string linkPath(std::string text) {
  const std::pair<std::string, std::string> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, c] : entities) {
    for (std::size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, entity.size(), c);
  }
  for (std::size_t at = 0; (at = text.find('%', at)) != std::string::npos && at + 2 < text.size(); ++at) {
    text.replace(at, 3, 1, static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16)));
  }
  return text;
}

// The texts between each `open` and the next `close` in `text`.
std::vector<std::string> between(const std::string& text, const std::string& open, const std::string& close) {
  std::vector<std::string> found;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    at += open.size();
    const std::size_t end = text.find(close, at);
    if (end == std::string::npos) break;
    found.push_back(text.substr(at, end - at));
  }
  return found;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ------------------------------------------------------------ results table

TEST(ResultsTable, ReadsBackEveryCellWhateverItHolds) {
  const std::vector<ResultsRow> rows = {
      fittedRow("scan,1.csv", "RE3-PK-154-BOTTOM", 2.5e10, 3e10),
      gapRow("scan \"2\".csv", "gap\nwith line end", {{"status", "only 5 points (the search needs 18)"}}),
      gapRow("s", "", {{"knee_status", "no knee, \"flat\"\r\n"}})};
  const std::string text = resultsCsvText(rows);
  EXPECT_EQ(lines(text).size(), 6u);  // header, 3 rows, two of them over two lines
  std::vector<ResultsRow> back;
  std::string error;
  ASSERT_TRUE(parseResultsCsv(text, "r.csv", back, error)) << error;
  ASSERT_EQ(back.size(), rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) EXPECT_TRUE(sameResultsRow(back[k], rows[k])) << k;
  EXPECT_THROW(rows[0].get("rho"), std::invalid_argument);  // a misspelt column is no empty cell
  // Columns are found by name, unknown ones ignored, a BOM and blank lines skipped.
  const std::string other = "\xEF\xBB\xBFknee_rho_ohm_cm,extra,gap,status\r\n3e10,zz,G1,fitted\r\n\r\n,,G2,\r\n";
  back.clear();
  ASSERT_TRUE(parseResultsCsv(other, "r.csv", back, error)) << error;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].get("gap") + "|" + back[0].get("knee_rho_ohm_cm") + "|" + back[0].get("status") + "|" +
                back[0].get("scan") + "|" + back[1].get("gap") + "|" + back[1].get("knee_rho_ohm_cm"),
            "G1|3e+10|fitted||G2|");  // a number is read as a number
}

TEST(ResultsTable, NumbersKeepTenDigitsAndNoValueIsAnEmptyCell) {
  const std::pair<double, std::string> numbers[] = {
      {1.0, "1"}, {0.1, "0.1"}, {99937600000.0 / 3, "3.331253333e+10"}, {1e-12, "1e-12"}, {-2.5e10, "-2.5e+10"},
      {1234567.891234, "1234567.891"}, {std::nan(""), ""}, {INFINITY, ""}, {-INFINITY, ""}};
  for (const auto& [v, text] : numbers) EXPECT_EQ(formatResultsNumber(v), text) << v;
}

TEST(ResultsTable, AMalformedLineIsNamedWithFileAndLineAndNothingIsKept) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "f.csv:1: no header"},
      {"scan,status\nS,fitted\n", "f.csv:1: header has no \"gap\""},
      {"gap,gap\nA,B\n", "f.csv:1: header has column \"gap\" twice"},
      {"gap,status\nA,fitted\nB\n", "f.csv:3: 1 fields, the header has 2"},
      {"gap,status\nA,fitted,extra\n", "f.csv:2: 3 fields"},
      {"gap,rho_ohm_cm\nA,1e10\nB,12abc\n", "f.csv:3: rho_ohm_cm \"12abc\" is not a finite number"},
      {"gap,onset_v\nA,nan\n", "f.csv:2: onset_v \"nan\" is not a finite number"},
      {"gap,onset_v\nA,4e-320\nB,1e999\n", "f.csv:3: onset_v \"1e999\" is not a finite number"},  // underflow reads
      {"gap,status\nA,\"fitted\nB,x\n", "f.csv:2: quoted field not closed"},
      {"gap,status\n\"A\"x,fitted\n", "f.csv:2: text after the closing quote"},
      {"gap,status\nA\"b,fitted\n", "f.csv:2: quote inside unquoted field"},
      {"gap,status\n\"multi\nline\",fitted\nC,x,y\n", "f.csv:4: 3 fields"},  // lines counted inside quotes
  };
  for (const auto& [text, expected] : cases) {
    std::vector<ResultsRow> rows = {ResultsRow{}};
    std::string error;
    EXPECT_FALSE(parseResultsCsv(text, "f.csv", rows, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "got: " << error;
    EXPECT_EQ(rows.size(), 1u) << text;
  }
}

TEST(ResultsTex, ValuesAreRoundedToTheirErrorNamesEscapedAndItCompilesWithPdflatex) {
  const std::tuple<std::string, std::string, std::string> cells[] = {
      {"99937600000", "477879000", "(99.94 $\\pm$ 0.48)$\\times10^{9}$"},
      {"1950.42", "19.85", "1950 $\\pm$ 20"},
      {"0.245732", "0.00985858", "0.2457 $\\pm$ 0.0099"},
      {"-3e-5", "1e-6", "(-30.0 $\\pm$ 1.0)$\\times10^{-6}$"},
      {"5", "", "5.000"},
      {"5", "0", "5.000"},
      {"", "1", "--"},
      {"1e300", "1e-300", "(1.0000000000 $\\pm$ 0.0000000000)$\\times10^{300}$"},  // no log10(0) cast to int
      {"4e-320", "1e-321", "(0.0000000000 $\\pm$ 0.0000000000)$\\times10^{-300}$"},
  };
  for (const auto& [value, error, tex] : cells) EXPECT_EQ(texValueWithError(value, error), tex) << value;
  EXPECT_EQ(latexEscape("a_b&c%d#e$f{g}h~i^j\\k"),
            "a\\_b\\&c\\%d\\#e\\$f\\{g\\}h\\textasciitilde{}i\\textasciicircum{}j\\textbackslash{}k");
  // Names of every kind of byte: each shown, and only what the fonts lack replaced.
  const std::tuple<std::string, std::string, bool> names[] = {
      {"G\x01\x1b[31m\n-7\x7f", "G\\textbackslash{}x01\\textbackslash{}x1b[31m\\textbackslash{}x0a-7\\textbackslash{}x7f", false},
      {"Caf\xE9-\xC3", "Caf\\textbackslash{}xe9-\\textbackslash{}xc3", false},  // Latin-1, a cut sequence
      {"\xE0\x80\xAF-\xED\xA0\x80", "\\textbackslash{}xe0\\textbackslash{}x80\\textbackslash{}xaf-\\textbackslash{}xed\\textbackslash{}xa0\\textbackslash{}x80", false},
      {"G\xC3\xA4p-\xC5\x81\xE2\x80\x93\xE2\x82\xAC", "G\xC3\xA4p-\xC5\x81\xE2\x80\x93\xE2\x82\xAC", false},  // äŁ–€
      {"\xE4\xB8\xAD-\xF0\x9F\x98\x80-\xCE\xA9-\xC3\xB0", "[U+4E2D]-[U+1F600]-[U+03A9]-[U+00F0]", true},  // 中😀Ωð
      {"a<b>|c", "a\\textless{}b\\textgreater{}\\textbar{}c", false}};
  for (const auto& [name, escaped, replaced] : names) {
    bool placeholders = false;
    EXPECT_EQ(latexEscape(name, &placeholders), escaped);
    EXPECT_EQ(placeholders, replaced) << escaped;
  }
  std::vector<ResultsRow> rows = {fittedRow("s.csv", "G_1", 2.5e10, 3e10),
                                  gapRow("s.csv", "G&2", {{"status", "no ohmic region found"}, {"knee_status", "only 5 points"}})};
  std::vector<std::string> wide = {"KODEL-HXD-RE4-3-B002", "RE3-PK-154-TOPNARROW", "a_b&c%d#e$f{g}h~i^j\\k", "<b>&\"x"};
  for (const auto& name : names) wide.push_back(std::get<0>(name));
  for (const std::string& name : wide) {
    // Every cell filled, with many digits: the widest table a run gives.
    rows.push_back(fittedRow("scan_1.csv", name, 1.23456789e11, 9.87654321e10));
    for (const char* column : {"resistance_ohm", "knee_resistance_ohm", "rho_area_ohm_cm2"}) rows.back().set(column, "-2033321.5");
    for (const char* column : {"resistance_err", "knee_resistance_err", "rho_area_err"}) rows.back().set(column, "9.7");
    rows.back().set("knee_offset_na_cm2", "-0.2457321");
    rows.back().set("knee_offset_err", "0.0000985");
  }
  rows.push_back(gapRow("scan_2.csv", "RE3-PK-065-TOPWIDE",
                        {{"status", "not an argon scan (HV axis ends at or above 2500 V): not searched"},
                         {"knee_status", "HV comes down at line 1234: not searched"}}));
  rows.push_back(gapRow("scan_2.csv", "RE3-PK-065-BOTTOM",
                        {{"status", "fitted"}, {"rho_ohm_cm", "-2.5e10"}, {"rho_err", "1e12"},
                         {"resistance_ohm", "1e-7"}, {"rho_area_ohm_cm2", "123456789012"}, {"onset_v", "1900"}}));
  rows.push_back(fittedRow("scan_3.csv", "NO-AREA", 2e10, 2e10));
  rows.back().set("area_source", "unknown");
  rows.back().set("resistance_ohm", "5e10");
  rows.back().set("knee_rho_ref_ohm_cm", "2.1e10");
  const std::string tex = resultsTex(rows) + campaignTex(rows, std::vector<std::string>(rows.size(), "MARGINAL"));
  // One power of ten a column, in its header; the knee fit's resistance x area
  // is its resistivity x 0.4 cm: 1.2e10 +- 2.4e8. A resistance for 1 cm2 is marked.
  for (const char* part : {"\\textbf{G\\_1}", "\\textbf{G\\&2}", "\\emph{no ohmic region found}", "\\emph{only 5 points}",
                           "Method & $\\rho$ [$10^{9}$\\,$\\Omega\\,$cm] & $R\\times A$ [$10^{9}$\\,$\\Omega\\,$cm$^2$] & Offset [nA/cm$^2$] \\\\",
                           "knee fit & 30.00 $\\pm$ 0.60 & 12.00 $\\pm$ 0.24 & ", "50.00$^\\dagger$", "area not known",
                           "065-\\allowbreak{}TOPWIDE} & MARGINAL & \\multicolumn{2}{l}{\\parbox[t]{0.45\\linewidth}{\\raggedright\\emph{HV comes down"}) {
    EXPECT_TRUE(contains(tex, part)) << part << "\n" << tex;
  }
  for (const char* smaller : {"\\footnotesize", "\\scriptsize", "\\tiny"}) EXPECT_FALSE(contains(tex, smaller)) << smaller;
  // The widest table compiles with plain pdflatex, without overfull boxes.
  if (std::system("command -v pdflatex > /dev/null 2>&1") != 0) GTEST_SKIP() << "pdflatex not installed";
  ScratchDir dir;
  writeFile(dir.file("results.tex"), tex);
  writeFile(dir.file("doc.tex"), "\\documentclass{article}\\begin{document}\\input{results.tex}\\end{document}\n");
  const std::string command = "cd '" + dir.path() + "' && pdflatex -interaction=nonstopmode -halt-on-error doc.tex > pdflatex.out 2>&1";
  const int status = std::system(command.c_str());
  const std::string log = readFile(dir.file("doc.log"));
  EXPECT_EQ(status, 0) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
  EXPECT_TRUE(fileExists(dir.file("doc.pdf")));
  EXPECT_FALSE(contains(log, "Overfull")) << log;
  EXPECT_FALSE(contains(log, "Missing character"));
  // < > | as themselves, not as the OT1 font's inverted marks and dash.
  if (std::system("command -v pdftotext > /dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext not installed";
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && pdftotext -enc UTF-8 doc.pdf doc.txt").c_str()), 0);
  const std::string shown = readFile(dir.file("doc.txt"));
  for (const char* part : {"a<b>|c", "<b>&", "G\\x01\\x1b[31m\\x0a-7\\x7f", "[U+4E2D]-[U+1F600]"}) {
    EXPECT_TRUE(contains(shown, part)) << part << "\n" << shown;
  }
}

// ------------------------------------------------------------ limits and verdicts

// The verdict and its words of each gap's limited quantities.
std::string judged(const ResultsRow& row, const Limits* limits) {
  std::string text;
  for (const VerdictRow& v : judgeGap("s", row, limits)) {
    text += (text.empty() ? "" : " | ") + std::string(verdictWord(v.verdict)) + " " + v.why;
  }
  return text;
}

TEST(Verdicts, ErrorsDecideFailFromMarginalAndTheNearestLimitHolds) {
  Limits limits;
  std::string error;
  ASSERT_TRUE(parseLimits("gap,quantity,min,max\n*,knee_rho_ohm_cm,,1e12\nbottom,knee_rho_ohm_cm,,5e11\n"
                          "RE3-PK-154-BOTTOM,knee_rho_ohm_cm,1e10,1e11\ntop-wide,onset_v,1850,\n",
                          "l.csv", limits, error))
      << error;
  // Gap, knee rho (error 2 %), onset and its error ("" none), the verdicts.
  const std::tuple<std::string, double, std::string, std::string> cases[] = {
      {"RE3-PK-154-BOTTOM", 2e11, "", "FAIL knee_rho_ohm_cm 2e+11 \xC2\xB1 4e+09 > max 1e+11 (25.00\xCF\x83 outside)"},
      {"RE3-PK-154-BOTTOM", 9.9e10, "", "MARGINAL knee_rho_ohm_cm 9.9e+10 \xC2\xB1 1.98e+09 within 2\xCF\x83 of max 1e+11 (0.51\xCF\x83 inside)"},
      {"RE3-PK-065-BOTTOM", 2e11, "", "PASS knee_rho_ohm_cm 2e+11 \xC2\xB1 4e+09"},  // bottom's 5e11, not *
      {"RE3-PK-154-TOPWIDE", 6e11, "1849,61", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | MARGINAL onset_v 1849 \xC2\xB1 61 < min 1850 (0.02\xCF\x83 outside)"},
      {"RE3-PK-154-TOPWIDE", 6e11, "1728,61", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | MARGINAL onset_v 1728 \xC2\xB1 61 < min 1850 (2.00\xCF\x83 outside)"},
      {"RE3-PK-154-TOPWIDE", 6e11, "1726,61", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | FAIL onset_v 1726 \xC2\xB1 61 < min 1850 (2.03\xCF\x83 outside)"},
      {"RE3-PK-154-TOPWIDE", 6e11, "1849,", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | FAIL onset_v 1849 < min 1850 (no error to weigh it)"},
      {"RE3-PK-154-TOPWIDE", 6e11, "1850,", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | PASS onset_v 1850"},
      {"RE3-PK-154-TOPWIDE", 6e11, "1975,61", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | PASS onset_v 1975 \xC2\xB1 61"},
      {"RE3-PK-154-TOPWIDE", 6e11, ",", "PASS knee_rho_ohm_cm 6e+11 \xC2\xB1 1.2e+10 | NO RESULT no value of onset_v"},
      {"LAB-GAP-07", 9e11, "1000,1", "PASS knee_rho_ohm_cm 9e+11 \xC2\xB1 1.8e+10"},  // untyped: only *
  };
  for (const auto& [gap, rho, onset, expected] : cases) {
    const std::size_t comma = onset.find(',');
    ResultsRow row = gapRow("s", gap, {{"knee_status", "fitted"}, {"knee_rho_ohm_cm", formatResultsNumber(rho)},
                                       {"knee_rho_err", formatResultsNumber(rho / 50)}});
    if (!onset.empty()) row.set("onset_v", onset.substr(0, comma)), row.set("onset_err", onset.substr(comma + 1));
    EXPECT_EQ(judged(row, &limits), expected) << gap << " " << rho;
  }
  // A gap without a result, or without a limit, has one row without a quantity.
  const std::vector<VerdictRow> none = judgeGap("s", gapRow("s", "RE3-PK-154-BOTTOM", {{"status", "too few points"}}), &limits);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].quantity + "|" + verdictWord(none[0].verdict) + "|" + none[0].why, "|NO RESULT|no result: too few points");
  Limits typeOnly;
  ASSERT_TRUE(parseLimits("gap,quantity,min,max\nbottom,onset_v,1800,2000\n", "l.csv", typeOnly, error));
  EXPECT_EQ(judged(fittedRow("s", "LAB-GAP-07", 1, 1), &typeOnly), "NO RESULT no limit applies to this gap");
  EXPECT_EQ(judged(fittedRow("s", "LAB-GAP-07", 1, 1), nullptr), "NO RESULT no limits given");
  EXPECT_EQ(std::string(gapTypeWord(gapTypeOf("RE3-PK-154-TOPNARROW"))) + "|" + chamberOf("RE3-PK-154-TOPNARROW") + "|" + chamberOf("LAB-GAP-07"),
            "top-narrow|RE3-PK-154|LAB-GAP-07");
}

TEST(Verdicts, TheFileKeepsEveryNameWholeForACsvReaderThatTakesHashForComments) {
  VerdictRow row;
  row.scan = "scan #2, \"new\".csv";
  row.gap = "RE#1";
  row.verdict = VerdictKind::marginal;
  row.quantity = "onset_v";
  row.value = 1849, row.error = 61, row.min = 1850;
  row.flags = {ResultFlag::kneeCurved, ResultFlag::implausibleLines};
  const std::string text = verdictsCsvText({"a=1; command=x\ny", "b=2"}, {row});
  EXPECT_EQ(text, "# a=1; command=x\\x0ay\n# b=2\nscan,gap,verdict,quantity,value,error,min,max,flags\n"
                  "\"scan #2, \"\"new\"\".csv\",\"RE#1\",MARGINAL,onset_v,1849,61,1850,,knee-curvature;implausible-lines\n");
}

TEST(ReportCommand, AMalformedLimitsFileOrOptionIsAUsageErrorAndNothingIsWritten) {
  // Arguments (the report of tree/ with limits.csv when none), limits.csv, the message.
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{}, "gap,quantity,min\n*,onset_v,1\n", "limits.csv:1: the header must be"},
      {{}, "", "limits.csv:1: the header must be"},
      {{}, "gap,quantity,min,max\n*,onset,1,2\n", "limits.csv:2: quantity \"onset\" is not a numeric column"},
      {{}, "gap,quantity,min,max\n*,status,1,2\n", "limits.csv:2: quantity \"status\""},
      {{}, "gap,quantity,min,max\n\n*,onset_v,abc,2\n", "limits.csv:3: min \"abc\" is not a number"},
      {{}, "gap,quantity,min,max\n*,onset_v,1,inf\n", "limits.csv:2: max \"inf\""},
      {{}, "gap,quantity,min,max\n*,onset_v,2000,1800\n", "limits.csv:2: min 2000 is above max 1800"},
      {{}, "gap,quantity,min,max\n*,onset_v,,\n", "limits.csv:2: neither min nor max"},
      {{}, "gap,quantity,min,max\n*,onset_v,1\n", "limits.csv:2: 3 fields, needs 4"},
      {{}, "gap,quantity,min,max\n,onset_v,1,2\n", "limits.csv:2: no gap"},
      {{}, "gap,quantity,min,max\nbottom,onset_v,1,2\nbottom,onset_v,1,3\n",
       "limits.csv:3: onset_v of bottom is already limited at line 2"},
      {{"--report"}, "", "--report needs at least one"},
      {{"--report", "--limits", ".", "x"}, "", "cannot read limits file .: not a regular file (a directory)"},
      // Numbers whole and decimal; never a device or a file past 1 MiB read.
      {{}, "gap,quantity,min,max\n*,onset_v,0x700,2000\n", "limits.csv:2: min \"0x700\" is not a number"},
      {{}, std::string("gap,quantity,min,max\n*,onset_v,1800\0junk,2000\n", 43), "limits.csv:2: min \"1800"},
      {{"--report", "--limits", "/dev/null", "x"}, "", "cannot read limits file /dev/null: not a regular file (a device)"},
      {{}, "gap,quantity,min,max\n" + std::string(1 << 20, '\n'), "cannot read limits file limits.csv: larger than 1 MiB"},
  };
  ScratchDir dir;
  fs::create_directories(dir.file("tree/a"));
  writeFile(dir.file("tree/a/results.csv"), resultsCsvText({fittedRow("a", "G", 1e10, 1e10)}));
  for (const auto& [args, text, expected] : cases) {
    writeFile(dir.file("limits.csv"), text);
    const auto r = runGapohm(args.empty() ? std::vector<std::string>{"--report", "-o", "out", "--limits", "limits.csv", "tree"} : args, inHome(dir));
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_TRUE(contains(r.err, "gapohm: " + expected)) << r.err;
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"limits.csv", "tree"})) << text;
  }
}

// ------------------------------------------------------------ toolkit additions

// A 400 x 400 canvas with a frame over [0, 11] x [0, 11] (pixels 40 to 360 from
// the left and bottom) and a red point at (5, 5) with `error`.
void paintPoint(tk::Image& image, const std::vector<double>& error,
                const std::vector<std::pair<double, std::string>>& categories) {
  tk::Graph frame, point;
  frame.AddPoint(0, 0);
  frame.AddPoint(10, 10);
  frame.markerSize = 0;
  frame.xCategoryLabels = categories;
  point.AddPoint(5, 5);
  point.markerStyle = frame.markerStyle = 20;
  point.markerColor = 2;
  point.errorY = error;
  tk::Canvas canvas("c", "c", 400, 400, tk::Style{});
  canvas.DrawGraph(&frame, true);
  canvas.DrawGraph(&point, false);
  std::string why;
  ASSERT_TRUE(canvas.Paint(image, why)) << why;
}

// Pixels in columns [x1, x2] and rows [y1, y2) that are red (`red`) or any colour but white.
int countPixels(const tk::Image& image, int x1, int x2, int y1, int y2, bool red) {
  int n = 0;
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x <= x2; ++x) {
      const unsigned long p = image.pixel(x, y), r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
      n += red ? (r > 150 && g < 100) : (r < 200 || g < 200 || b < 200);
    }
  }
  return n;
}

TEST(ToolkitAdditions, ErrorBarsAndCategoryLabelsArePaintedOnlyWhenGiven) {
  tk::Image plain(400, 400), bars(400, 400), wrongSize(400, 400), labelled(400, 400);
  paintPoint(plain, {}, {});
  paintPoint(bars, {2.0}, {});
  paintPoint(wrongSize, {2.0, 1.0}, {});  // not one per point: ignored
  paintPoint(labelled, {}, {{5.5, "GAP-LABEL"}});
  // The point's centre is at column 185, row 214; its bar reaches rows 156 to 272.
  EXPECT_GT(countPixels(bars, 185, 185, 150, 201, true) + countPixels(bars, 185, 185, 228, 280, true), 80);
  EXPECT_EQ(countPixels(plain, 185, 185, 150, 201, true) + countPixels(plain, 185, 185, 228, 280, true), 0);
  EXPECT_TRUE(countPixels(bars, 185, 185, 157, 158, true) == 1 && countPixels(bars, 185, 185, 150, 151, true) == 0);
  EXPECT_EQ(std::memcmp(plain.data(), wrongSize.data(), static_cast<std::size_t>(plain.stride()) * 400), 0);
  // The label reads upwards below the axis at 5.5 (column 200), where numbers leave room.
  EXPECT_GT(countPixels(labelled, 196, 204, 370, 398, false), 20);
  EXPECT_EQ(countPixels(plain, 196, 204, 370, 398, false), 0);
}

// ------------------------------------------------------------ summary figures

TEST(SummaryPanels, GapsByTypeInEvenPagesOfAtMostTheMostEachOnce) {
  struct Case {
    std::size_t bottoms, untyped, most;
    std::vector<std::size_t> sizes;
  };
  const Case cases[] = {{0, 0, 40, {}},        {1, 0, 40, {1}},           {40, 0, 40, {40}},
                        {41, 0, 40, {20, 21}}, {95, 2, 40, {31, 32, 32, 2}}, {7, 0, 3, {2, 2, 3}},
                        {1000, 0, 40, std::vector<std::size_t>(25, 40)}};
  for (const Case& c : cases) {
    std::vector<std::string> gaps;
    for (std::size_t k = c.bottoms; k-- > 0;) gaps.push_back("CH-" + std::to_string(1000 + k) + "-BOTTOM");
    for (std::size_t k = 0; k < c.untyped; ++k) gaps.push_back("LAB-" + std::to_string(k));
    const std::vector<std::string> again(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2));
    gaps.insert(gaps.end(), again.begin(), again.end());  // measured again
    std::vector<std::size_t> sizes;
    std::vector<std::string> seen;
    for (const SummaryPanel& p : summaryPanels(gaps, c.most)) {
      sizes.push_back(p.gaps.size());
      EXPECT_EQ(p.type, seen.size() < c.bottoms ? "bottom" : "");
      EXPECT_EQ(p.first, seen.size() < c.bottoms ? seen.size() : seen.size() - c.bottoms);
      seen.insert(seen.end(), p.gaps.begin(), p.gaps.end());
    }
    EXPECT_EQ(sizes, c.sizes) << c.bottoms;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.begin() + static_cast<long>(c.bottoms)));
    EXPECT_EQ(seen.size(), c.bottoms + c.untyped);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), seen.size());
  }
}

TEST(SummaryPanels, RepeatedResultsRankByDateAndDatesFallInOrderedClasses) {
  const std::pair<std::vector<std::string>, std::vector<std::size_t>> ranks[] = {
      {{}, {}},
      {{"2024-03-01"}, {0}},
      {{"2024-03-01", "2023-12-31", "", "2024-03-01"}, {1, 0, 3, 2}},
      {{"not a date", "2024-01-02", "2024-02-30", "2024-01-01"}, {2, 1, 3, 0}}};
  for (const auto& [dates, expected] : ranks) EXPECT_EQ(dateRanks(dates), expected);
  for (std::size_t n = 1; n < 12; ++n) {  // oldest to newest left to right, the methods apart, inside the column
    for (std::size_t r = 0; r < n; ++r) {
      EXPECT_TRUE(offsetInCategory(r, n, 0) > -0.5 && offsetInCategory(r, n, 0) < offsetInCategory(0, n, 1) &&
                  offsetInCategory(r, n, 1) < 0.5);
      if (r > 0) {
        EXPECT_GT(offsetInCategory(r, n, 1), offsetInCategory(r - 1, n, 1));
      }
    }
  }
  for (const std::size_t distinct : {1, 3, 6, 7, 40}) {
    std::vector<std::string> dates = {"", "junk"};
    for (std::size_t d = distinct; d-- > 0;) dates.push_back(utcDate(static_cast<std::time_t>(86400 * (19000 + 3 * d))));
    const DateClasses classes = dateClasses(dates);
    EXPECT_EQ(classes.first.size(), std::min<std::size_t>(distinct, kDateClasses));
    EXPECT_EQ(classes.classOf(dates[0]), -1);
    std::vector<int> of;
    for (std::size_t k = dates.size(); k-- > 2;) of.push_back(classes.classOf(dates[k]));  // oldest first
    EXPECT_TRUE(std::is_sorted(of.begin(), of.end()) && of.front() == 0);
    EXPECT_EQ(of.back(), static_cast<int>(classes.first.size()) - 1);  // every class used, none skipped
    EXPECT_EQ(std::set<int>(of.begin(), of.end()).size(), classes.first.size());
  }
}

TEST(SummaryPanels, OneWildValueOrErrorBarDoesNotSetTheAxisAndCountAxesTickWhole) {
  std::vector<double> onsets, errors(21, 20.0);
  for (int k = 0; k <= 20; ++k) onsets.push_back(1850.0 + 5.0 * k);
  struct Case {
    double value, error, extra, low, high;  // one more result, a limit; the range expected about
  };
  const Case cases[] = {{1900, 3600, 1900, 1810, 1990},   // a wild error bar
                        {50000, 20, 1900, 1810, 1990},    // a wild value
                        {1900, 20, 1700, 1700, 1990},     // a limit beyond the values is shown
                        {NAN, INFINITY, 1900, 1810, 1990}};  // no number: nothing
  for (const Case& c : cases) {
    std::vector<double> v = onsets, e = errors;
    v.push_back(c.value), e.push_back(c.error);
    const ValueRange r = robustRange(v, e, {c.extra});
    EXPECT_NEAR(r.low, c.low, 1e-9) << c.value << " " << c.error;
    EXPECT_NEAR(r.high, c.high, 1e-9) << c.value << " " << c.error;
  }
  const ValueRange same = robustRange({5, 5, 5}, {}, {}), none = robustRange({NAN}, {1}, {});
  EXPECT_TRUE(same.low < 5 && same.high > 5 && none.low == 0 && none.high == 1);
  for (const double top : {0.0, 1.0, 1.5, 2.0, 3.0, 5.0, 6.0, 11.0, 37.0, 120.0, 999.0}) {
    const tk::AxisRange axis = tk::frameGraph(0, 1, 0, countAxisTop(top), "", "").yAxis();
    const tk::Ticks ticks = tk::chooseTicks(axis.low, axis.high);
    EXPECT_GE(axis.high, top);
    EXPECT_GE(ticks.primary.size(), 2u) << top;
    for (const double t : ticks.primary) EXPECT_EQ(t, std::round(t)) << top;
  }
}

// A campaign of 95 bottom gaps named as long as real ones and two untyped, a
// third measured again on two later dates, one onset with a wild error, one
// resistivity that is not positive.
std::vector<ScanTable> manyGaps() {
  std::vector<ScanTable> scans(3);
  for (int s = 0; s < 3; ++s) {
    for (int k = 0; k < 97; ++k) {
      if (s > 0 && k % 3 != 0) continue;
      const std::string gap = k < 95 ? "KODEL-RE4-3-PRODUCTION-0" + std::to_string(100 + k) + "-BOTTOM" : "LAB-" + std::to_string(k);
      ResultsRow row = fittedRow("s" + std::to_string(s), gap, 2e10 * (1 + 0.01 * k), 3e10 * (1 + 0.01 * s));
      row.scanDate = "2024-0" + std::to_string(s + 1) + "-15";
      if (k == 7 && s == 0) row.set("knee_onset_err", "3600");
      if (k == 8 && s == 0) row.set("rho_ohm_cm", "-1e10");
      scans[s].rows.push_back(row);
    }
  }
  return scans;
}

TEST(SummaryFigures, EveryGapLabelledLegiblyAtThePagesWidthDatesToldApartNothingDropped) {
  ScratchDir dir;
  const std::vector<ScanTable> scans = manyGaps();
  const Limits limits{"limits.csv", {{"bottom", "knee_rho_ohm_cm", 1e10, 5e10, 2}}};
  std::map<std::string, SummaryFigure> figures;
  for (const SummaryFigure& f : paintSummaryFigures(scans, &limits, dir.path() + "/")) figures[f.name] = f;
  for (const char* quantity : {"resistivity", "onset"}) {
    std::size_t gaps = 0;
    for (const char* panel : {"_bottom_1.png", "_bottom_2.png", "_bottom_3.png", "_other_1.png"}) {
      const SummaryFigure& f = figures[quantity + std::string(panel)];
      EXPECT_TRUE(f.painted && f.error.empty()) << f.name << f.error;
      EXPECT_EQ(f.gapLabels, f.gaps) << f.name;
      EXPECT_GE(f.labelPx * kShownFigureWidth / kPanelWidth, kLegibleTextPx) << f.name;
      gaps += f.gaps;
    }
    EXPECT_EQ(gaps, 97u);
  }
  EXPECT_TRUE(contains(figures["onset_bottom_1.png"].note, "1 point reaches beyond the axis range (error bars only)"));
  EXPECT_TRUE(contains(figures["resistivity_bottom_1.png"].note, "1 result with a resistivity that is not positive is not shown"));
  EXPECT_TRUE(figures["resistivity_bottom_2.png"].note.empty());
  // The knee fit's points of gap 0 (measured three times) in its right half: the three date colours.
  const Picture p = decodePng(dir.file("resistivity_bottom_1.png"));
  const Rgb dateColours[] = {{0, 0, 153}, {51, 153, 255}, {0, 153, 0}};
  for (const Rgb c : dateColours) {
    int n = 0;
    for (int row = 0; row < p.height / 2; ++row) {
      for (int col = 160; col < 200; ++col) n += p.is(col, row, c) ? 1 : 0;
    }
    EXPECT_GT(n, 20) << c.r << "," << c.g << "," << c.b;
  }
}

// ------------------------------------------------------------ the page

// Box-filtered copies at most the width asked are checked on the report's own
// thumbnails below; here what other encoders write is read whole, and garbage is refused.
TEST(Thumbnail, ReadsOtherEncodersAndMakesNoThumbnailOfGarbage) {
  ScratchDir dir;
  std::string error;
  // libpng's writer filters rows adaptively (sub, up, average, Paeth) on such content;
  // transparent pixels are laid on white.
  const int width = 300, height = 120;
  auto expected = [](int x, int y, int c) {
    const int values[3] = {(x * 7 + y * 3) & 255, (x * x + y) & 255, (x ^ y) & 255};
    return x < 50 ? 255 : values[c];
  };
  std::vector<unsigned char> rgba(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t k = 0; k < rgba.size(); ++k) {
    const int x = static_cast<int>(k / 4 % width), y = static_cast<int>(k / 4 / width), c = static_cast<int>(k % 4);
    rgba[k] = static_cast<unsigned char>(c == 3 ? (x < 50 ? 0 : 255) : x < 50 ? 17 : expected(x, y, c));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  ASSERT_NE(png_image_write_to_file(&image, dir.file("rgba.png").c_str(), 0, rgba.data(), 0, nullptr), 0);
  ASSERT_TRUE(writeThumbnail(dir.file("rgba.png"), dir.file("t.png"), 400, error)) << error;  // not enlarged
  const Picture d = decodePng(dir.file("t.png"));
  ASSERT_EQ(d.width, width);
  int wrong = 0;
  for (std::size_t k = 0; k < d.rgb.size(); ++k) {
    wrong += d.rgb[k] != expected(static_cast<int>(k / 3 % width), static_cast<int>(k / 3 / width), static_cast<int>(k % 3));
  }
  EXPECT_EQ(wrong, 0);
  // Missing, not a PNG, cut inside its image data or with a byte of it changed:
  // no thumbnail of garbage.
  const std::string whole = readFile(dir.file("rgba.png"));
  writeFile(dir.file("cut.png"), whole.substr(0, whole.size() / 2));
  std::string flipped = whole;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x10);
  writeFile(dir.file("flipped.png"), flipped);
  writeFile(dir.file("bad.png"), "\x89PNG\r\n\x1a\nnot really");
  for (const char* bad : {"missing.png", "bad.png", "cut.png", "flipped.png"}) {
    EXPECT_FALSE(writeThumbnail(dir.file(bad), dir.file("c.png"), 100, error)) << bad;
    EXPECT_FALSE(fileExists(dir.file("c.png"))) << bad;
  }
}

// The table as programs before the figure column wrote it: the columns before it.
std::string withoutFigureColumn(const std::vector<ResultsRow>& rows) {
  const long kept = findResultsColumn("figure") - resultsColumns().data();
  std::string text;
  for (const std::string& line : lines(resultsCsvText(rows))) {
    std::size_t end = 0;
    for (long k = 0; k < kept; ++k) end = line.find(',', end) + 1;
    text += line.substr(0, end - 1) + "\n";
  }
  return text;
}

ResultsRow withFigure(ResultsRow row, const std::string& figure) {
  row.figure = figure;
  return row;
}

// Gaps, the figure each one's row names, and the figure the page must link:
// names that the older guess from the gap's name would take for another gap's
// figure, and names that would leave the results' folder.
const std::tuple<std::string, std::string, std::string> kFigureNames[] = {
    {"ALLcurrents", "ALLcurrents-2.png", "ALLcurrents-2.png"},  // ALLcurrents.png: all gaps at once
    {"a/b", "a_b.png", "a_b.png"},
    {"a_b", "a_b-2.png", "a_b-2.png"},
    {"UP", "../outside.png", ""},
    {"DOTS", "..", ""},
    {"NONE", "", "ALLcurrents.png"},  // none of its own: the scan's combined figure
};

// A campaign tree: two scans with figures (one table naming them, one older
// table without the figure column), one gap named to break HTML, gaps whose
// figures' names mislead, one results.csv that is malformed.
void writeCampaign(const ScratchDir& dir) {
  for (const char* sub : {"site1/scanA", "site2/deep/scan B", "site3"}) fs::create_directories(dir.file("campaign/") + sub);
  std::vector<ResultsRow> rows = {withFigure(fittedRow("scanA.csv", "RE3-PK-154-BOTTOM", 2e10, 3e10), "RE3-PK-154-BOTTOM.png"),
                                  fittedRow("scanA.csv", "<b>&\"x", 2e12, 3e12)};
  for (const auto& [gap, figure, linked] : kFigureNames) rows.push_back(withFigure(fittedRow("scanA.csv", gap, 2e10, 3e10), figure));
  writeFile(dir.file("campaign/site1/scanA/results.csv"), resultsCsvText(rows));
  writeHalfBlackPng(dir.file("campaign/site1/scanA/RE3-PK-154-BOTTOM.png"), 2000, 1000);
  for (const char* png : {"ALLcurrents.png", "ALLcurrents-2.png", "a_b.png", "a_b-2.png", "UP.png", "DOTS.png", "../outside.png"}) {
    writeHalfBlackPng(dir.file(std::string("campaign/site1/scanA/") + png), 100, 50);
  }
  ResultsRow referenced = fittedRow("scan B.csv", "RE3-PK-065-TOPWIDE#1", 5e10, 6e10);
  referenced.set("knee_rho_ref_ohm_cm", "5.5e10");
  referenced.set("knee_rho_ref_err", "1.1e9");
  writeFile(dir.file("campaign/site2/deep/scan B/results.csv"),
                         withoutFigureColumn({referenced,
                                              gapRow("scan B.csv", "LAB-GAP-07", {{"status", "no ohmic region found"}})}));
  writeHalfBlackPng(dir.file("campaign/site2/deep/scan B/RE3-PK-065-TOPWIDE#1.png"), 800, 400);
  writeFile(dir.file("campaign/site3/results.csv"), "gap,rho_ohm_cm\nG,1e10\nH,oops\n");
  writeFile(dir.file("campaign/site3/BatchSummary.csv"), "not read");
}

TEST(Report, PageLinksEachGapsOwnFigureEscapesNamesNamesFailuresAndIsReproducible) {
  ScratchDir dir;
  writeCampaign(dir);
  writeFile(dir.file("limits.csv"), "gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e12\nX-Y-BOTTOM,onset_v,1,\n");
  RunSetting setting = inHome(dir);
  setting.env = {{"SOURCE_DATE_EPOCH", "1700000000"}};
  std::vector<std::string> pages;
  for (const std::string out : {"report", "again"}) {  // paths in the order given, not sorted
    const auto r = runGapohm({"--report", "-o", out, "--limits", "limits.csv", "campaign/site2", "campaign/site1", "campaign/site3"},
                             setting);
    EXPECT_EQ(r.status, 1);  // the malformed file
    EXPECT_TRUE(contains(r.err, "campaign/site3/results.csv:3: rho_ohm_cm \"oops\" is not a finite number")) << r.err;
    EXPECT_TRUE(contains(r.err, "warning: limits.csv: line 3 (X-Y-BOTTOM, onset_v) holds for no gap")) << r.err;
    // Alike but for the command line, which names the output.
    std::string page = readFile(dir.file(out + "/index.html")) + readFile(dir.file(out + "/figures/resistivity_other_1.png")) +
                       readFile(dir.file(out + "/verdicts.csv")) + readFile(dir.file(out + "/campaign.tex"));
    const std::string option = "-o " + out + " ";
    for (std::size_t at; (at = page.find(option)) != std::string::npos;) page.replace(at, option.size(), "-o OUT ");
    pages.push_back(page);
  }
  EXPECT_EQ(pages[0], pages[1]);
  // The campaign table: each scan's gaps under its name, with their verdicts.
  for (const char* row : {"\\textbf{Scan: scanA.csv}", "RE3-\\allowbreak{}PK-\\allowbreak{}065-\\allowbreak{}TOPWIDE\\#\\allowbreak{}1} & PASS & 60.0 $\\pm$ 1.2"}) {
    EXPECT_TRUE(contains(readFile(dir.file("report/campaign.tex")), row)) << row;
  }
  const std::string html = readFile(dir.file("report/index.html"));
  ASSERT_FALSE(html.empty());
  std::vector<std::string> links = between(html, "src=\"", "\""), thumbs;
  for (std::string& href : between(html, "href=\"", "\"")) links.push_back(std::move(href));
  for (const std::string& link : links) {
    if (link.front() == '#') {  // a row of the page
      EXPECT_TRUE(contains(html, "<tr id=\"" + link.substr(1) + "\">")) << link;
      continue;
    }
    EXPECT_EQ(link.find(':'), std::string::npos) << link;  // no scheme, nothing fetched
    EXPECT_NE(link.front(), '/') << link;
    EXPECT_TRUE(fs::is_regular_file(dir.file("report/" + linkPath(link)))) << link;
    if (link.rfind("thumbs/", 0) == 0) thumbs.push_back(link);
  }
  // One thumbnail per figure, each linked once, box-filtered to at most 240 px:
  // 2000 px / 9, 800 px / 4, small ones as they are; black still left of white.
  std::vector<std::pair<int, int>> sizes;
  for (const std::string& thumb : listDir(dir.file("report/thumbs"))) {
    const Picture t = decodePng(dir.file("report/thumbs/" + thumb));
    sizes.emplace_back(t.width, t.height);
    EXPECT_TRUE(t.is(3, t.height / 2, {0, 0, 0}) && t.is(t.width - 3, t.height / 2, {255, 255, 255})) << thumb;
    EXPECT_EQ(std::count(thumbs.begin(), thumbs.end(), "thumbs/" + thumb), 1) << thumb;
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{100, 50}, {100, 50}, {100, 50}, {200, 100}, {223, 112}}));
  EXPECT_EQ(thumbs.size(), 5u);
  // The gap named like markup is text, and has no figure.
  EXPECT_FALSE(contains(html, "<b>&\"x"));
  for (const char* part : {"&lt;b&gt;&amp;&quot;x</td>", "no figure (LAB-GAP-07.png not beside results.csv)",
                           "<tr><th>Date</th><td>2023-11-14T22:13:20Z</td></tr>",
                           "<td class=\"num\">(55.0 &plusmn; 1.1) &times; 10<sup>9</sup></td>",  // its knee_rho_ref
                           "href=\"../campaign/site2/deep/scan%20B/RE3-PK-065-TOPWIDE%231.png\"",
                           "campaign/site3/results.csv:3: rho_ohm_cm"}) {  // the malformed file named on the page too
    EXPECT_TRUE(contains(html, part)) << part;
  }
  const std::size_t scans = html.find("<h2>Scans</h2>");
  EXPECT_LT(html.find("scan B.csv", scans), html.find("scanA.csv", scans));
  EXPECT_LT(html.find("RE3-PK-154-BOTTOM", scans), html.find("&lt;b&gt;", scans));  // a file's rows in its order
  for (const auto& [gap, figure, linked] : kFigureNames) {
    const std::size_t at = html.find("</td><td>" + gap + "</td>");
    ASSERT_NE(at, std::string::npos) << gap;
    const std::string cell = html.substr(html.rfind("<tr id=", at), at - html.rfind("<tr id=", at));
    EXPECT_TRUE(linked.empty() ? contains(cell, "no figure") && !contains(cell, "href")
                               : contains(cell, "href=\"../campaign/site1/scanA/" + linked + "\"")) << gap << ": " << cell;
  }
  // Verdicts: 3e10 and 6e10 pass, 3e12 breaks the maximum, a gap without a result has none; the
  // first cell of each gap's row, counted alike on the page and in verdicts.csv.
  std::vector<std::string> verdicts = between(html, "<tr id=\"gap-", "</td>");
  std::vector<std::string> expected = {"1-1\"><td class=\"verdict pass\">PASS", "1-2\"><td class=\"verdict noresult\">NO RESULT",
                                       "2-1\"><td class=\"verdict pass\">PASS", "2-2\"><td class=\"verdict fail\">FAIL"};
  for (int k = 3; k <= 8; ++k) expected.push_back("2-" + std::to_string(k) + "\"><td class=\"verdict pass\">PASS");
  EXPECT_EQ(verdicts, expected);
  EXPECT_TRUE(contains(html, "<li><a href=\"#gap-2-2\">scanA.csv, &lt;b&gt;&amp;&quot;x</a>: FAIL knee_rho_ohm_cm 3e+12"));
  const std::string csv = readFile(dir.file("report/verdicts.csv"));
  EXPECT_EQ(lines(csv)[0].rfind("# gapohm verdicts; date=2023-11-14T22:13:20Z; version=", 0), 0u) << csv;
  std::vector<CsvRecord> records;
  std::string error;
  ASSERT_TRUE(readCsvRecords(csv.substr(csv.find("\nscan,") + 1), "v", records, error)) << error;
  EXPECT_EQ(records[0].fields, (std::vector<std::string>{"scan", "gap", "verdict", "quantity", "value", "error", "min", "max", "flags"}));
  std::map<std::string, int> counted;
  for (std::size_t k = 1; k < records.size(); ++k) counted[records[k].fields.at(2)] += records[k].fields.size() == 9 ? 1 : 100;
  EXPECT_EQ(counted, (std::map<std::string, int>{{"PASS", 8}, {"FAIL", 1}, {"NO RESULT", 1}}));
  for (const auto& [verdict, n] : counted) {
    EXPECT_TRUE(contains(html, "<tr data-verdict=\"" + verdict + "\">")) << verdict;
    EXPECT_TRUE(contains(between(html, "<tr data-verdict=\"" + verdict + "\">", "</tr>")[0], ">" + std::to_string(n) + "</td>"));
  }
  for (const char* figure : {"resistivity_bottom_1.png", "onset_other_1.png", "onset_top-wide_1.png", "knee_rho_bottom.png", "knee_rho_top-wide.png"}) {
    EXPECT_GT(decodePng(dir.file(std::string("report/figures/") + figure)).width, 0) << figure;
  }
  // Without limits no verdicts; a path that is missing and no results.csv at all are named.
  EXPECT_EQ(runGapohm({"--report", "-o", "plain", "campaign/site2"}, inHome(dir)).status, 0);
  EXPECT_TRUE(contains(readFile(dir.file("plain/index.html")), "NO RESULT</td><td>"));
  const auto none = runGapohm({"--report", "-o", "none", "missing"}, inHome(dir));
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(contains(none.err, "missing: No such file or directory")) << none.err;
  EXPECT_TRUE(contains(none.err, "no results.csv found")) << none.err;
}

// Against an earlier campaign: a gap 30 % up is CHANGED with its error, one steady,
// one in each campaign only; the figure marks the change; a bad PATH is a usage error.
TEST(Report, BaselineComparesEachGapsRhoRefAndABadPathIsAUsageError) {
  ScratchDir dir;
  fs::create_directories(dir.file("then/a"));
  fs::create_directories(dir.file("now/b"));
  writeFile(dir.file("then/a/results.csv"), resultsCsvText({fittedRow("a", "G-UP", 1e10, 1e11), fittedRow("a", "G-SAME", 1e10, 1e11),
                                                            fittedRow("a", "G-OLD", 1e10, 1e11)}));
  writeFile(dir.file("now/b/results.csv"), resultsCsvText({fittedRow("b", "G-UP", 1e10, 1.3e11), fittedRow("b", "G-SAME", 1e10, 1e11),
                                                           fittedRow("b", "G-NEW", 1e10, 1e11)}));
  const RunResult r = runGapohm({"--report", "--baseline", "then", "-o", "out", "now"}, inHome(dir));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "; 2 gaps compared with the baseline, 1 changed beyond 3 sigma")) << r.out;
  std::vector<CsvRecord> csv;
  std::string error;
  ASSERT_TRUE(readCsvRecords(readFile(dir.file("out/baseline.csv")), "b", csv, error)) << error;
  ASSERT_EQ(csv.size(), 5u);
  EXPECT_EQ(csv[0].fields, (std::vector<std::string>{"gap", "baseline_rho_ref", "baseline_err", "rho_ref", "err",
                                                     "change_pct", "change_err_pct", "sigma", "flag"}));
  const std::vector<std::string>& up = csv[1].fields;  // 2 % on each side
  ASSERT_EQ(up.size(), 9u);
  EXPECT_EQ(up[0] + "|" + up[8], "G-UP|CHANGED");
  const double expected[] = {1e11, 2e9, 1.3e11, 2.6e9, 30, 130 * 0.02 * std::sqrt(2.0), std::log(1.3) / (0.02 * std::sqrt(2.0))};
  for (int k = 0; k < 7; ++k) EXPECT_NEAR(std::stod(up[k + 1]), expected[k], 1e-6 * expected[k]) << k;
  EXPECT_EQ(csv[2].fields[0] + "|" + csv[2].fields[5] + "|" + csv[2].fields[8], "G-SAME|0|");
  EXPECT_EQ(csv[3].fields[0] + "|" + csv[3].fields[1] + "|" + csv[3].fields[8], "G-OLD||ONLY BASELINE");
  EXPECT_EQ(csv[4].fields[0] + "|" + csv[4].fields[8], "G-NEW|ONLY NOW");
  const std::string page = readFile(dir.file("out/index.html"));
  for (const char* part : {"<h2 id=\"baseline\">Baseline</h2>", "1 gap only in the baseline: G-OLD.", "1 gap only in this campaign: G-NEW.",
                           "<td>G-UP</td><td class=\"num\">(100.0 &plusmn; 2.0) &times; 10<sup>9</sup></td>",
                           "<td class=\"num\">30.0 &plusmn; 3.7</td><td class=\"num\">9.3</td><td class=\"verdict drift\">CHANGED</td>",
                           "data-gaps=\"2\" data-gap-labels=\"2\""}) {
    EXPECT_TRUE(contains(page, part)) << part;
  }
  const Picture figure = decodePng(dir.file("out/figures/baseline_1.png"));
  long red = 0;
  for (std::size_t k = 0; k + 2 < figure.rgb.size(); k += 3) red += figure.rgb[k] > 200 && figure.rgb[k + 1] < 60 && figure.rgb[k + 2] < 60;
  EXPECT_GT(red, 100);  // the CHANGED square and its error bar
  // A bad PATH: a usage error before anything is written, the path and what is wrong named.
  fs::create_directories(dir.file("empty"));
  writeFile(dir.file("bad.csv"), "gap,knee_rho_ohm_cm\nG,x\n");
  fs::create_symlink(dir.file("then"), dir.file("link"));
  const std::pair<std::string, std::string> bad[] = {
      {"missing", "--baseline missing: no such file or directory"}, {"empty", "--baseline empty: no results.csv under it"},
      {"bad.csv", "bad.csv:2: knee_rho_ohm_cm \"x\" is not a finite number"}, {"link", "--baseline link: a symbolic link"},
      {"", "--baseline : needs a results.csv"}};
  for (const auto& [path, message] : bad) {
    const RunResult b = runGapohm({"--report", "--baseline", path, "-o", "bad", "now"}, inHome(dir));
    EXPECT_EQ(b.status, 2) << path;
    EXPECT_TRUE(contains(b.err, message)) << b.err;
    EXPECT_FALSE(fs::exists(dir.file("bad"))) << path;
  }
}

}  // namespace
