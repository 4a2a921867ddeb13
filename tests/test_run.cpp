// Whole runs of the built program on the example scans, as a user makes them.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <map>

#include "tests/TestSupport.h"

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
  const RunResult r = runGapohm({examplePath("argon_scan.csv")}, inHome(home.path()));
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
                              "results.csv", "results.tex"}));
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
