// The run driver's reading of a scan into graphs, and the two reports' bytes.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/gapohm.h"

namespace {

struct Read {
  ScanPoints points;
  std::string err;
};

Read readScan(const std::string& scan, const ChamberIndexList& gaps) {
  std::istringstream in(scan);
  std::ostringstream out, err;
  tk::Console console(out, err);
  Read r{readScanPoints(in, "scan.csv", gaps, console), err.str()};
  EXPECT_EQ(out.str(), "");
  return r;
}

TEST(ReadScanPoints, CorrectsHVForPressureExceptOnePointGaps) {
  const Read r = readScan(
      "DETECTOR,HVeff,HVapp,I,P,T,H\n"
      "G,1000,1000,1.5,990,20,40\n"
      "G,1000,1000,2.5,950,20,40\n"
      "G-OnePoint,1234,1000,3,950,20,40\n",
      {{"G", 0}, {"G-OnePoint", 1}});
  ASSERT_EQ(r.points.graphs[0].GetN(), 2);
  EXPECT_DOUBLE_EQ(r.points.graphs[0].GetX()[0], 1000.0);
  EXPECT_DOUBLE_EQ(r.points.graphs[0].GetX()[1], 1000.0 / (0.2 + 0.8 * 950.0 / 990.0));
  EXPECT_EQ(r.points.graphs[0].GetY()[1], 2.5);
  ASSERT_EQ(r.points.graphs[1].GetN(), 1);
  EXPECT_EQ(r.points.graphs[1].GetX()[0], 1234.0);
  EXPECT_EQ(r.points.usedLines, 3);
  EXPECT_EQ(r.err, "");  // the leading header line is the format, not a fault
}

TEST(ReadScanPoints, ALineBelongsOnlyToTheGapOfItsExactName) {
  const Read r = readScan("A1,1,1,1,990\nA10,2,2,2,990\nA10,3,3,3,990\n", {{"A1", 0}, {"A10", 1}});
  EXPECT_EQ(r.points.graphs[0].GetN(), 1);
  EXPECT_EQ(r.points.graphs[1].GetN(), 2);
  EXPECT_EQ(r.points.graphs[1].GetY(), (std::vector<double>{2, 3}));
}

TEST(ReadScanPoints, MaximumCurrentGapEarliestWinsTiesZeroWhenNothingPositive) {
  EXPECT_EQ(readScan("A,1,1,5,990\nB,1,1,7,990\nC,1,1,7,990\n", {{"A", 0}, {"B", 1}, {"C", 2}})
                .points.maxcurrentindex,
            1);
  EXPECT_EQ(readScan("A,1,1,-5,990\nB,1,1,0,990\n", {{"A", 0}, {"B", 1}}).points.maxcurrentindex, 0);
}

TEST(ReadScanPoints, UnusableLinesAreSkippedWithFileAndLineAndNeverRepeatThePrevious) {
  const Read r = readScan(
      "G,1,100,1,990\n"           // 1 good
      "\n"                        // 2 blank: silent
      "G,1,100\n"                 // 3 too few fields
      ",1,100,1,990\n"            // 4 no gap name
      "G,1,abc,1,990\n"           // 5 HV not a number
      "G,1,100,nan,990\n"         // 6 current not finite
      "G,1,100,1,inf\n"           // 7 pressure not finite
      "G,1,100,1,0\n"             // 8 pressure not positive
      "DETECTOR,HVeff\n"          // 9 header inside the file
      "H,1,100,1,990\n"           // 10 gap not listed
      "G,2,200,2,990\r\n",        // 11 good, CRLF
      {{"G", 0}});
  EXPECT_EQ(r.points.graphs[0].GetY(), (std::vector<double>{1, 2}));
  for (int line : {3, 4, 5, 6, 7, 8, 9, 10}) {
    EXPECT_NE(r.err.find("scan.csv:" + std::to_string(line) + ": "), std::string::npos) << line;
  }
  EXPECT_EQ(r.err.find("scan.csv:2:"), std::string::npos);
  EXPECT_EQ(r.err.find("scan.csv:1:"), std::string::npos);
  EXPECT_EQ(r.err.find("scan.csv:11:"), std::string::npos);
}

TEST(ReadScanPoints, ByteOrderMarkBeforeTheHeaderIsDropped) {
  const Read r = readScan("\xEF\xBB\xBF" "DETECTOR,a\nG,1,1,1,990\n", {{"G", 0}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.points.graphs[0].GetN(), 1);
}

TEST(PrintINFO, AnnouncesTheFile) {
  std::ostringstream out;
  printINFO("/data/scan.csv", out);
  EXPECT_EQ(out.str(),
            "INFO :: gapohm : printINFO #############################\n"
            "INFO :: processing files : \n"
            "INFO :: \t /data/scan.csv\n"
            "INFO :: ########################################################\n");
}

TEST(ResistanceReport, HeaderThenCsvLineAndLatexRowPerGap) {
  ResistanceReport report;
  report.Open();
  report.AddGap("RE3-PK-154-BOTTOM", {1e10, 2e8}, {0.5, 0.01}, {1900.25, 12.5});
  report.AddGap("LAB_GAP#1", {2.5e10, 1e9}, {-0.25, 0.125}, {3000, 0});
  EXPECT_EQ(report.text,
            " GAP, Resistivity [Ohm*cm] , Resistance [Ohm] , Resistance*Area [Ohm*cm2], Offset "
            "[nA/cm2], Onset [V] \n"
            "RE3-PK-154-BOTTOM , 1e+10 , 203459 , 4e+09 , 0.5 , 1900.25\n"
            "RE3-PK-154-BOTTOM &, 1e+10 \\pm 2e+08 &, 203459 \\pm 4069.18 &,4e+09 \\pm 8e+07 &, "
            "0.5 \\pm 0.01 &, 1900.25 \\pm 12.5 \\\\ \n"
            "LAB_GAP#1 , 2.5e+10 , 1e+10 , 1e+10 , -0.25 , 3000\n"
            "LAB\\_GAP\\#1 &, 2.5e+10 \\pm 1e+09 &, 1e+10 \\pm 4e+08 &,1e+10 \\pm 4e+08 &, "
            "-0.25 \\pm 0.125 &, 3000 \\pm 0 \\\\ \n");
}

TEST(LatexEscape, EscapesEverySpecialCharacter) {
  EXPECT_EQ(latexEscape("a_b&c%d#e$f{g}h"), "a\\_b\\&c\\%d\\#e\\$f\\{g\\}h");
  EXPECT_EQ(latexEscape("~^\\"), "\\textasciitilde{}\\textasciicircum{}\\textbackslash{}");
  EXPECT_EQ(latexEscape("RE3-PK-154 ü"), "RE3-PK-154 ü");
}

TEST(CheckingEntries, OkOnlyForThePlannedCounts) {
  std::vector<std::string> status = {"stale"};
  CheckingEntries(14, 31, 20, 8, 1, 11, status);
  EXPECT_EQ(status, std::vector<std::string>(6, "OK"));
  CheckingEntries(13, 32, 20, 9, 0, 11, status);
  EXPECT_EQ(status, (std::vector<std::string>{"NOT OK", "NOT OK", "OK", "NOT OK", "NOT OK", "OK"}));
}

std::string entries(const std::string& scan, const ChamberIndexList& gaps) {
  std::istringstream in(scan);
  std::ostringstream out, err;
  tk::Console console(out, err);
  return entriesReport(in, "scan.csv", gaps, console);
}

const char* kEntriesHeader =
    "Chamber Name, Number of Entries Step1,15/8,Number of Entries Step2,30/2,Number of Entries "
    "Step3,20/10 \n";

TEST(EntriesReport, ArgonScanOfPlannedStepsIsAllOk) {
  std::string scan = "DETECTOR,x\n";
  auto add = [&scan](double hv, int n) {
    for (int k = 0; k < n; ++k) scan += "G," + std::to_string(hv) + ",1," + std::to_string(k) + ",990\n";
  };
  add(1700, 14);  // at the edge: step 1
  add(2000, 31);  // at the edge: step 2
  add(2300, 20);
  EXPECT_EQ(entries(scan, {{"G", 0}}), std::string(kEntriesHeader) + "G , 14 , OK , 31 , OK , 20 , OK\n");
}

TEST(EntriesReport, StandardEdgesCountOnceAndDecideTheLineKind) {
  std::string scan;
  auto add = [&scan](const std::string& gap, double hv, int n) {
    for (int k = 0; k < n; ++k) {
      scan += gap + "," + std::to_string(hv) + ",1," + std::to_string(k) + ",990\n";
    }
  };
  // S: 7 below 8000 and one at 8000 (step 1), one at 9000 (step 2), 11 above.
  add("S", 5000, 7);
  add("S", 8000, 1);
  add("S", 9000, 1);
  add("S", 9500, 11);
  // T: 9 in standard step 1, of them 3 in argon step 1: an argon line.
  add("T", 1000, 3);
  add("T", 1800, 6);
  // U: only 2 in argon step 1: a standard line.
  add("U", 1000, 2);
  add("U", 1800, 7);
  EXPECT_EQ(entries(scan, {{"S", 0}, {"T", 1}, {"U", 2}, {"V", 3}}),
            std::string(kEntriesHeader) +
                "S , 8 , OK , 1 , OK , 11 , OK\n"
                "T , 3 , NOT OK , 6 , NOT OK , 0 , NOT OK\n"
                "U , 9 , NOT OK , 0 , NOT OK , 0 , NOT OK\n"
                "V , 0 , NOT OK , 0 , NOT OK , 0 , NOT OK\n");
}

TEST(EntriesReport, SkippedLinesAreNotCounted) {
  // A blank line, too few fields, no number, another gap, a repeated reading.
  EXPECT_EQ(entries("G,1000,1,1,990\n\nG,1000\nG,abc,1,1,990\nG10,1000,1,1,990\nG,1000,1,1,990\n",
                    {{"G", 0}}),
            std::string(kEntriesHeader) + "G , 1 , NOT OK , 0 , NOT OK , 0 , NOT OK\n");
}

}  // namespace
