// Whole runs of the built program on the example scans, as a user makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <map>
#include <tuple>

#include "aux/Annotation.h"
#include "aux/ResultFlags.h"
#include "aux/ResultsTable.h"
#include "tests/TestSupport.h"
#include "tools/RunOutcome.h"

namespace {

using namespace testsupport;

std::vector<std::string> fields(const std::string& line, const std::string& separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = line.find(separator, start)) != std::string::npos; start = at + separator.size()) {
    out.push_back(line.substr(start, at - start));
  }
  out.push_back(line.substr(start));
  return out;
}

TEST(ArgonRun, WritesTheDatedDirectoryWithFiguresAndAReportTrueToTheScan) {
  ScratchDir home;
  const RunResult r = runGapohm({examplePath("argon_scan.csv")}, inHome(home));
  ASSERT_EQ(r.status, 0) << r.err;
  // The one gap of the example without a type word in its name is named, once.
  EXPECT_EQ(r.err, "gapohm: warning: " + examplePath("argon_scan.csv") +
                       ": gap \"LAB-GAP-07\": its area is not known (no type word in its name, not in an "
                       "areas file): its resistance is given for 1 cm2; give its area with --areas FILE\n");
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  const std::string dir = home.path() + "/Dropbox/KVT/HVScan/" + today + "_KVTHVscan/argon_scan/";
  EXPECT_EQ(listDir(dir), (std::vector<std::string>{
                              "ALLcurrents.png", "KODEL-HXD-RE4-3-B002.png", "LAB-GAP-07.png",
                              "RE3-PK-065-BOTTOM.png", "RE3-PK-154-BOTTOM.png",
                              "RE3-PK-154-TOPNARROW.png", "RE3-PK-154-TOPWIDE.png", "Resistance.csv",
                              "results.csv", "results.tex", "thumbs"}));
  EXPECT_EQ(lines(r.out).at(2), "INFO :: \t " + examplePath("argon_scan.csv"));
  EXPECT_EQ(r.out.find("INFO :: Regression"), std::string::npos);  // not verbose

  // The values examples/make_examples.py made the scan from: resistivity, onset.
  const std::map<std::string, std::pair<double, double>> truth = {
      {"KODEL-HXD-RE4-3-B002", {1.0e11, 1950}}, {"LAB-GAP-07", {4.0e11, 1900}},
      {"RE3-PK-065-BOTTOM", {2.0e10, 1900}},    {"RE3-PK-154-BOTTOM", {2.5e10, 1880}},
      {"RE3-PK-154-TOPNARROW", {3.0e10, 1900}}, {"RE3-PK-154-TOPWIDE", {1.25e11, 1900}}};
  const auto report = lines(readFile(dir + "Resistance.csv"));
  ASSERT_EQ(report.size(), 13u);
  for (std::size_t k = 1; k < report.size(); k += 2) {
    const auto csv = fields(report[k], " , ");
    const auto tex = fields(report[k + 1], " &,");
    ASSERT_TRUE(csv.size() == 6 && tex.size() == 6 && truth.count(csv[0])) << report[k];
    const auto [rho, onset] = truth.at(csv[0]);
    const auto rhoTex = fields(tex[1], " \\pm "), onsetTex = fields(tex[5], " \\pm ");
    EXPECT_GT(std::stod(rhoTex[1]), 0.0) << csv[0];
    EXPECT_LT(std::fabs(std::stod(rhoTex[0]) - rho), 3.0 * std::stod(rhoTex[1])) << report[k];
    EXPECT_DOUBLE_EQ(std::stod(csv[1]), std::stod(rhoTex[0]));
    EXPECT_NEAR(std::stod(onsetTex[0]), onset, 60.0) << csv[0];
    EXPECT_GT(std::stod(onsetTex[1]), 0.0);
    EXPECT_LT(std::stod(onsetTex[1]), 200.0) << csv[0];  // in volts
  }
}

}  // namespace

namespace {

// The results table of a run of `scan` with `extra` arguments, read back by the
// table's own reader: a column that is not a number where one belongs fails it.
std::vector<ResultsRow> resultsIn(const std::string& file) {
  std::vector<ResultsRow> rows;
  std::string error;
  EXPECT_TRUE(parseResultsCsv(readFile(file), file, rows, error)) << error;
  return rows;
}
std::vector<ResultsRow> resultsOf(const std::string& scan, std::vector<std::string> extra,
                                  ScratchDir& home) {
  extra.insert(extra.end(), {"-o", "out", examplePath(scan)});
  const RunResult r = runGapohm(extra, inHome(home));
  EXPECT_EQ(r.status, 0) << r.err;
  return resultsIn(home.file("out/results.csv"));
}

double cell(const ResultsRow& row, const std::string& column) { return std::stod(row.get(column)); }

TEST(ResultsTable, ArgonRowsHoldTheReportsNumbersBothMethodsAndTheConditions) {
  ScratchDir home;
  const auto rows = resultsOf("argon_scan.csv", {}, home);
  ASSERT_EQ(rows.size(), 6u);
  std::map<std::string, std::vector<std::string>> report;  // gap -> Resistance.csv fields
  for (const auto& l : lines(readFile(home.file("out/Resistance.csv")))) {
    const auto f = fields(l, " , ");
    if (f.size() == 6) report[f[0]] = f;
  }
  const char* columns[] = {"rho_ohm_cm", "resistance_ohm", "rho_area_ohm_cm2", "offset_na_cm2", "onset_v"};
  for (const auto& row : rows) {
    const std::string gap = row.get("gap");
    ASSERT_EQ(row.get("status"), "fitted") << gap;
    for (std::size_t k = 0; k < 5; ++k) {
      const double printed = std::stod(report.at(gap)[k + 1]);  // six significant digits
      EXPECT_NEAR(cell(row, columns[k]), printed, std::fabs(printed) * 1e-5) << gap << " " << columns[k];
    }
    EXPECT_EQ(row.get("area_source"), gap == "LAB-GAP-07" ? "unknown" : "type word");
    EXPECT_EQ(row.get("points"), "65");
    EXPECT_NEAR(cell(row, "pressure_mean"), 980.0, 10.0) << gap;
    // The example is written at 20-23.5 C and 36-40 % humidity.
    EXPECT_NEAR(cell(row, "temperature_mean"), 21.7, 1.0) << gap;
    EXPECT_NEAR(cell(row, "humidity_mean"), 38.0, 2.0) << gap;
    EXPECT_TRUE(fileExists(home.file("out/" + row.get("figure")))) << gap << ": " << row.get("figure");
    EXPECT_EQ(row.get("knee_status"), "fitted") << gap;
    // Both methods see one gap: their resistivities agree within their errors.
    EXPECT_LT(std::fabs(cell(row, "knee_rho_ohm_cm") - cell(row, "rho_ohm_cm")),
              3 * (cell(row, "knee_rho_err") + cell(row, "rho_err"))) << gap;
    EXPECT_EQ(row.get("rho_ref_ohm_cm"), "");  // no temperature coefficient given
  }
}

TEST(ResultsTable, ReferenceTemperatureScalesEachMethodByItsOwnPoints) {
  ScratchDir plain, warm;
  const auto base = resultsOf("argon_scan.csv", {}, plain);
  const auto ref = resultsOf("argon_scan.csv", {"--temperature-coefficient", "-0.1", "--reference-temperature", "25"}, warm);
  ASSERT_EQ(base.size(), ref.size());
  for (std::size_t k = 0; k < ref.size(); ++k) {
    for (const std::string method : {"", "knee_"}) {
      const double factor = cell(ref[k], method + "rho_ref_ohm_cm") / cell(base[k], method + "rho_ohm_cm");
      // The example's gaps sit between 20 and 23.5 C: exp(-0.1 (T - 25)) between 1.16 and 1.65.
      EXPECT_GT(factor, 1.16) << method << k;
      EXPECT_LT(factor, 1.65) << method << k;
      // The window search scales its result; the knee fit fits rho_ref with its own error.
      const double errors = cell(ref[k], method + "rho_ref_err") / cell(base[k], method + "rho_err");
      EXPECT_NEAR(errors, factor, method.empty() ? factor * 1e-6 : factor * 0.5) << method << k;
    }
    EXPECT_EQ(ref[k].get("alpha_per_c") + " " + ref[k].get("reference_temperature_c"), "-0.1 25");
    // knee_rho holds at knee_temperature_mean: scaled from there it is knee_rho_ref.
    const double kneeT = cell(ref[k], "knee_temperature_mean");
    EXPECT_NEAR(cell(ref[k], "knee_rho_ohm_cm") * std::exp(-0.1 * (kneeT - 25)), cell(ref[k], "knee_rho_ref_ohm_cm"),
                cell(ref[k], "knee_rho_ref_ohm_cm") * 1e-8) << k;
    // Without a coefficient the column is there too, within the example's 20-23.5 C.
    EXPECT_NEAR(cell(base[k], "knee_temperature_mean"), 21.75, 1.75) << k;
    EXPECT_EQ(base[k].get("alpha_per_c") + base[k].get("reference_temperature_c"), "");
  }
}

// An area from the areas file wins over the type word, and every value derived
// from it (both methods' resistance) follows; resistance x area does not depend on it.
TEST(Analysis, AnAreasFileAreaReachesEveryDerivedValue) {
  AnalysisSettings settings;
  settings.areas = {{"LAB-GAP-07", 8000.0}, {"RE3-PK-154-BOTTOM", 20000.0}};
  const RunOutcome run = analyseScan("a.csv", "", readFile(examplePath("argon_scan.csv")), settings);
  ASSERT_EQ(run.gaps.size(), 6u);
  for (const GapResult& g : run.gaps) {
    const ResultsRow& row = g.result;
    const auto given = settings.areas.find(g.name);
    const double area = given != settings.areas.end() ? given->second : g.name.find("TOPWIDE") != std::string::npos ? 13130.0
                        : g.name.find("TOPNARROW") != std::string::npos ? 5550.0 : 19660.0;
    EXPECT_EQ(row.area, area) << g.name;
    EXPECT_EQ(row.areaSource, given != settings.areas.end() ? "areas file" : "type word") << g.name;
    for (const MethodResult* m : {&row.window, &row.knee}) {
      ASSERT_TRUE(m->status.fitted()) << g.name;
      EXPECT_NEAR(*m->resistance.value, *m->rho.value * 0.4 / area, *m->resistance.value * 1e-12) << g.name;
      EXPECT_NEAR(*m->rhoArea.value, *m->rho.value * 0.4, *m->rhoArea.value * 1e-12) << g.name;
    }
  }
}

// The results box shows each method's own numbers: the knee line the knee fit's.
TEST(Annotation, TheResultsBoxShowsEachMethodsOwnResistivity) {
  const RunOutcome run = analyseScan("a.csv", "", readFile(examplePath("argon_scan.csv")), AnalysisSettings{});
  const GapResult& g = run.gaps.front();
  KneeFit knee = g.knee;
  knee.resistivity = 1.234e11;
  knee.resistivityError = 1.0e9;
  const std::vector<std::string> box = resultsBoxLines(g.search, &knee, "", {"methods-disagree", "knee-curvature"});
  // The width as its 68 % set, never a bare number; the flags last.
  EXPECT_EQ(std::count_if(box.begin(), box.end(), [](const std::string& l) { return l.find("width") != std::string::npos && l.find("68 %") != std::string::npos; }), 1);
  EXPECT_EQ(box.back(), "flags: methods-disagree; knee-curvature");
  const auto line = std::find_if(box.begin(), box.end(), [](const std::string& l) { return l.rfind("knee: ", 0) == 0; });
  ASSERT_NE(line, box.end());
  EXPECT_EQ(line->rfind("knee: \u03c1 = (123.4 \u00b1 1.0)\u00d710\u2079 \u03a9 cm", 0), 0u) << *line;
  EXPECT_EQ(box.front().find("123.4"), std::string::npos) << box.front();
}

// The argon example with one more line for every gap at 2330 V (a scan stopped
// there: its axis ends above 2500 V, its HV below), or with its lines in reverse.
std::string argonVariant(const ScratchDir& home, bool descending) {
  std::vector<std::string> all = lines(readFile(examplePath("argon_scan.csv")));
  if (descending) std::reverse(all.begin() + 1, all.end());
  std::map<std::string, std::string> last;
  for (std::size_t k = 1; k < all.size() && !descending; ++k) last[all[k].substr(0, all[k].find(','))] = all[k];
  for (const auto& [gap, line] : last) all.push_back(gap + ",2330.0,2330.0" + line.substr(line.find(',', line.find(',', gap.size() + 1) + 1)));
  std::string text;
  for (const std::string& line : all) text += line + "\n";
  const std::string path = home.file(descending ? "descending.csv" : "to2330.csv");
  writeFile(path, text);
  return path;
}

// The window search (and Resistance.csv) goes by the HV axis of the scan's first
// gap, the knee fit and the figures by each gap's highest HV, whatever its
// order; --scan-type overrides both. Every row says which ran and why not.
TEST(ScanType, WindowSearchByTheAxisKneeFitByTheHighestHvOrAsTheUserSays) {
  struct Case {
    const char* what;
    std::string scan;  // an example, or "to2330" / "descending"
    std::vector<std::string> extra;
    bool resistanceCsv;
    std::string status, kneeStatus;  // of every row: "" any, else its beginning
    int kneeFitted;                  // at least
  };
  const Case cases[] = {
      {"standard", "standard_scan.csv", {}, false, "window search not run: HV axis ends at ", "knee fit not run: highest HV ", 0},
      {"to 2330 V", "to2330", {}, false, "window search not run: HV axis ends at 25", "", 5},
      {"to 2330 V, argon", "to2330", {"--scan-type", "argon"}, true, "", "", 5},
      {"argon, standard", "argon_scan.csv", {"--scan-type", "standard"}, false, "window search not run: --scan-type standard",
       "knee fit not run: --scan-type standard", 0},
      {"descending", "descending", {}, true, "HV comes down at line ", "", 5},
  };
  for (const Case& c : cases) {
    ScratchDir home;
    std::vector<std::string> args = c.extra;
    const std::string scan = c.scan.find(".csv") != std::string::npos ? examplePath(c.scan) : argonVariant(home, c.scan == "descending");
    args.insert(args.end(), {"-o", "out", scan});
    const RunResult r = runGapohm(args, inHome(home));
    ASSERT_EQ(r.status, 0) << c.what << r.err;
    const std::vector<ResultsRow> rows = resultsIn(home.file("out/results.csv"));
    EXPECT_EQ(fileExists(home.file("out/Resistance.csv")), c.resistanceCsv) << c.what;
    int kneeFitted = 0;
    for (const ResultsRow& row : rows) {
      EXPECT_EQ(row.get("status").rfind(c.status, 0), 0u) << c.what << ": " << row.get("status");
      EXPECT_EQ(row.get("knee_status").rfind(c.kneeStatus, 0), 0u) << c.what << ": " << row.get("knee_status");
      if (row.knee.status.fitted()) ++kneeFitted;
      // A gap either method looked at has its figure, and only such a gap.
      const bool looked = row.window.status.fitted() || row.get("knee_status").rfind("knee fit not run", 0) != 0;
      EXPECT_EQ(!row.figure.empty() && fileExists(home.file("out/" + row.figure)), looked) << c.what << " " << row.gap;
    }
    EXPECT_GE(kneeFitted, c.kneeFitted) << c.what;
  }
}

// A column-shifted line (pressure 1 mbar, 990 degrees C) stays in the plot and
// the window search, as the scan has it, but not in the knee fit or the means:
// the gap keeps its results, the warning names the line and the row is flagged.
TEST(Plausibility, AShiftedLineIsNamedFlaggedAndLeftOutOfTheKneeFitAndTheMeans) {
  ScratchDir home;
  std::vector<std::string> all = lines(readFile(examplePath("argon_scan.csv")));
  const std::vector<std::string> f = fields(all[20], ",");
  all.insert(all.begin() + 21, f[0] + "," + f[1] + "," + f[2] + "," + f[3] + ",1.0,990.0,40.0");
  std::string text;
  for (const std::string& line : all) text += line + "\n";
  writeFile(home.file("shifted.csv"), text);
  const RunResult r = runGapohm({"-o", "out", "shifted.csv"}, inHome(home));
  EXPECT_NE(r.err.find("gap \"" + f[0] + "\": line 22: pressure, temperature or humidity outside"), std::string::npos) << r.err;
  for (const ResultsRow& row : resultsIn(home.file("out/results.csv"))) {
    EXPECT_TRUE(row.knee.status.fitted()) << row.gap;
    EXPECT_NEAR(*row.temperatureMean, 21.7, 1.0) << row.gap;  // 990 C in the mean would add 15 C
    EXPECT_EQ(row.get("flags").find("implausible-lines") != std::string::npos, row.gap == f[0]) << row.gap;
  }
}

// Which result gets which flag, one rule at a time, from a clean pair of results.
TEST(ResultFlags, EachRuleOnItsOwn) {
  ResultsRow clean;
  clean.window.status = clean.knee.status = MethodStatus::fittedStatus();
  clean.window.rho = {1e11, 2e9}, clean.knee.rho = {1.02e11, 1e9};
  clean.window.onset = clean.knee.onset = {1800, 10}, clean.windowPoints = 20;
  using Change = std::function<void(ResultsRow&, FlagFacts&)>;
  const std::tuple<const char*, Change, std::string> cases[] = {
      {"clean", [](ResultsRow&, FlagFacts&) {}, ""},
      {"3.2 sigma apart", [](ResultsRow& r, FlagFacts&) { r.knee.rho.value = 1e11 + 3.2 * std::sqrt(5.0) * 1e9; }, "methods-disagree"},
      {"no knee", [](ResultsRow& r, FlagFacts&) { r.knee = MethodResult{}; }, "window-only"},
      {"negative", [](ResultsRow& r, FlagFacts&) { r.window.rho = {-1e11, 1e9}; r.knee = MethodResult{}; },
       "window-only;window-rho-not-positive"},
      {"uncertain", [](ResultsRow& r, FlagFacts&) { r.window.rho.error = 2.1e10; }, "window-rho-error-over-20%"},
      {"9 points", [](ResultsRow& r, FlagFacts&) { r.windowPoints = 9; }, "window-under-10-points"},
      {"onset", [](ResultsRow& r, FlagFacts&) { r.knee.onset.error = 101; }, "knee-onset-error-over-100V"},
      {"facts", [](ResultsRow&, FlagFacts& f) { f = {true, true, 2}; }, "knee-width-at-bound;knee-curvature;implausible-lines"},
  };
  for (const auto& [what, change, words] : cases) {
    ResultsRow row = clean, back;
    FlagFacts facts;
    change(row, facts);
    row.flags = resultFlags(row, facts);
    EXPECT_EQ(row.get("flags"), words) << what;
    back.set("flags", words);
    EXPECT_EQ(back.flags, row.flags) << what;
  }
  EXPECT_THROW(clean.set("flags", "methods-disagree;no-such-flag"), std::invalid_argument);
}

}  // namespace
