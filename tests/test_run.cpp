// Whole runs of the program on the example scans, as a user makes them.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <map>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

using testsupport::listDir;
using testsupport::readFile;
using testsupport::runGapohm;
using testsupport::ScratchDir;

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> fields(const std::string& line, const std::string& separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = line.find(separator, start)) != std::string::npos; start = at + separator.size()) {
    out.push_back(line.substr(start, at - start));
  }
  out.push_back(line.substr(start));
  return out;
}

int count(const std::vector<std::string>& all, const std::string& prefix) {
  int n = 0;
  for (const auto& l : all) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

TEST(ArgonRun, WritesTheDatedDirectoryWithFiguresAndReport) {
  ScratchDir home;
  const auto r = runGapohm({testsupport::examplePath("argon_scan.csv")}, home.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string dir = home.path() + "/Dropbox/KVT/HVScan/" + today() + "_KVTHVscan/argon_scan/";
  EXPECT_EQ(listDir(dir), (std::vector<std::string>{
                              "ALLcurrents.png", "KODEL-HXD-RE4-3-B002.png", "LAB-GAP-07.png",
                              "RE3-PK-065-BOTTOM.png", "RE3-PK-154-BOTTOM.png",
                              "RE3-PK-154-TOPNARROW.png", "RE3-PK-154-TOPWIDE.png", "Resistance.csv"}));

  const std::vector<std::string> out = lines(r.out);
  ASSERT_GE(out.size(), 11u);
  EXPECT_EQ(out[0], "INFO :: gapohm : printINFO #############################");
  EXPECT_EQ(out[2], "INFO :: \t " + testsupport::examplePath("argon_scan.csv"));
  EXPECT_EQ(out[4], "INFO :: ScanInput: getChambers : running on chambers: ");
  EXPECT_EQ(out[5], "INFO :: ScanInput: getChambers :  \t KODEL-HXD-RE4-3-B002");
  EXPECT_EQ(out[10], "INFO :: ScanInput: getChambers :  \t RE3-PK-154-TOPWIDE");
  EXPECT_EQ(count(out, "INFO :: OutputPlaces : GetEnviroment: HOME directory used  " + home.path()),
            // style set-up and output directory of the combined figure and of each
            // gap's figure, and the report's directory
            2 + 6 * 2 + 1);
  EXPECT_EQ(count(out, "INFO :: Drawing : PlottingEachAndDoLinearFit :  Chamber    : "), 6);
  EXPECT_EQ(count(out, "INFO :: Drawing : PlottingEachAndDoLinearFit :  Goodness   : "), 6);
  EXPECT_EQ(count(out, "INFO :: Regression"), 0);  // not verbose
}

TEST(ArgonRun, ReportedResistivitiesAgreeWithTheScanTheyCameFrom) {
  ScratchDir out;
  const auto r = runGapohm({"-o", out.path(), testsupport::examplePath("argon_scan.csv")}, out.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> report = lines(readFile(out.file("Resistance.csv")));
  ASSERT_EQ(report.size(), 1u + 2u * 6u);
  // The values examples/make_examples.py made the scan from.
  const std::map<std::string, double> truth = {
      {"KODEL-HXD-RE4-3-B002", 1.0e11}, {"LAB-GAP-07", 4.0e11},        {"RE3-PK-065-BOTTOM", 2.0e10},
      {"RE3-PK-154-BOTTOM", 2.5e10},    {"RE3-PK-154-TOPNARROW", 3.0e10}, {"RE3-PK-154-TOPWIDE", 1.25e11}};
  const std::map<std::string, double> onsets = {
      {"KODEL-HXD-RE4-3-B002", 1950}, {"LAB-GAP-07", 1900},        {"RE3-PK-065-BOTTOM", 1900},
      {"RE3-PK-154-BOTTOM", 1880},    {"RE3-PK-154-TOPNARROW", 1900}, {"RE3-PK-154-TOPWIDE", 1900}};
  for (std::size_t k = 1; k < report.size(); k += 2) {
    const std::vector<std::string> csv = fields(report[k], " , ");
    ASSERT_EQ(csv.size(), 6u) << report[k];
    const std::string name = csv[0];
    ASSERT_EQ(truth.count(name), 1u) << name;
    const std::vector<std::string> tex = fields(report[k + 1], " &,");
    ASSERT_EQ(tex.size(), 6u) << report[k + 1];
    const std::vector<std::string> rho = fields(tex[1], " \\pm ");
    const double value = std::stod(rho[0]);
    const double error = std::stod(rho[1]);
    EXPECT_GT(error, 0.0) << name;
    EXPECT_LT(std::fabs(value - truth.at(name)), 3.0 * error) << name << " " << value << " +- " << error;
    EXPECT_DOUBLE_EQ(std::stod(csv[1]), value);
    // The onset lies near the knee the scan was made with; its uncertainty is in volts.
    const std::vector<std::string> onset = fields(tex[5], " \\pm ");
    EXPECT_NEAR(std::stod(onset[0]), onsets.at(name), 60.0) << name;
    EXPECT_GT(std::stod(onset[1]), 0.0);
    EXPECT_LT(std::stod(onset[1]), 200.0) << name;
  }
}

TEST(StandardRun, DrawsAllGapsButSearchesAndReportsNothing) {
  ScratchDir out;
  const auto r = runGapohm({"-o", out.path(), "--entries", testsupport::examplePath("standard_scan.csv")},
                           out.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listDir(out.path()), (std::vector<std::string>{"ALLcurrents.png", "Entries.csv"}));
  EXPECT_EQ(readFile(out.file("Entries.csv")),
            "Chamber Name, Number of Entries Step1,15/8,Number of Entries Step2,30/2,Number of "
            "Entries Step3,20/10 \n"
            "RE3-PK-154-BOTTOM , 8 , OK , 1 , OK , 11 , OK\n"
            "RE3-PK-154-TOPNARROW , 8 , OK , 1 , OK , 11 , OK\n"
            "RE3-PK-154-TOPWIDE , 8 , OK , 1 , OK , 11 , OK\n");
}

TEST(ArgonRun, EntriesOfThePlannedArgonScanAreAllOk) {
  ScratchDir out;
  const auto r = runGapohm({"--entries", "-o", out.path(), testsupport::examplePath("argon_scan.csv")},
                           out.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> entries = lines(readFile(out.file("Entries.csv")));
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[1], "KODEL-HXD-RE4-3-B002 , 14 , OK , 31 , OK , 20 , OK");
}

TEST(ArgonRun, FigureFormatOption) {
  ScratchDir out;
  const auto r = runGapohm({"--format", "svg", "-o", out.path(), testsupport::examplePath("argon_scan.csv")},
                           out.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(out.file("ALLcurrents.svg")).find("<svg") != std::string::npos, true);
  EXPECT_TRUE(testsupport::fileExists(out.file("LAB-GAP-07.svg")));
}

TEST(ArgonRun, VerboseAddsFitLinesAndDiagnosticFigures) {
  ScratchDir out;
  const auto r = runGapohm({"-v", "-o", out.path(), testsupport::examplePath("argon_scan.csv")}, out.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("INFO :: Drawing : PlottingEachAndDoLinearFit : Total Point : 65\n"), std::string::npos);
  EXPECT_NE(r.out.find("INFO :: Regression : fit : ChiSquared       : "), std::string::npos);
  for (const char* suffix : {"_ChiS.png", "_NDf.png", "_GoodNessOfFitH.png"}) {
    EXPECT_TRUE(testsupport::fileExists(out.file(std::string("LAB-GAP-07") + suffix))) << suffix;
  }
}

}  // namespace
