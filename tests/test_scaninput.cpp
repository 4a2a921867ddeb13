// The scan reader: how lines split into fields, how gaps are listed and numbered.
#include <gtest/gtest.h>

#include <sstream>

#include "aux/ScanInput.h"
#include "tests/TestSupport.h"

namespace {

struct Line {
  std::string chambern = "unset";
  double HVeff = -1, HVapp = -1, current = -1, temp = -1, presure = -1, humidity = -1;
  void parse(const std::string& line) {
    getParameters(line, chambern, HVeff, HVapp, current, temp, presure, humidity);
  }
};

ChamberIndexList listOf(const std::string& scan, std::string* log = nullptr) {
  std::istringstream in(scan);
  std::ostringstream out;
  ChamberIndexList list;
  getChambers(in, list, out);
  if (log) *log = out.str();
  return list;
}

TEST(SplitFields, KeepsEmptyFieldsButNoTrailingOne) {
  EXPECT_EQ(splitFields(""), std::vector<std::string>{});
  EXPECT_EQ(splitFields(","), std::vector<std::string>{""});
  EXPECT_EQ(splitFields(",a"), (std::vector<std::string>{"", "a"}));
  EXPECT_EQ(splitFields("a,,b,"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(splitFields(" a , b"), (std::vector<std::string>{" a ", " b"}));
}

TEST(GetParameters, FieldsGoToTheirMeaningPressureBeforeTemperature) {
  Line l;
  l.parse("G,9000,8000,1.25,960,21.5,40");
  EXPECT_EQ(l.chambern, "G");
  EXPECT_EQ(l.HVeff, 9000);
  EXPECT_EQ(l.HVapp, 8000);
  EXPECT_EQ(l.current, 1.25);
  EXPECT_EQ(l.presure, 960);
  EXPECT_EQ(l.temp, 21.5);
  EXPECT_EQ(l.humidity, 40);
}

TEST(GetParameters, AbsentFieldsKeepTheirValuesNonNumbersBecomeZero) {
  Line l;
  l.parse("G,1,2");
  EXPECT_EQ(l.HVapp, 2);
  EXPECT_EQ(l.current, -1);
  EXPECT_EQ(l.presure, -1);
  l.parse("G,,5,abc");
  EXPECT_EQ(l.HVeff, 0.0);
  EXPECT_EQ(l.HVapp, 5);
  EXPECT_EQ(l.current, 0.0);
  l.parse("");
  EXPECT_EQ(l.chambern, "G");
  l.parse("G,1,2,3,4,5,6,7,8");
  EXPECT_EQ(l.humidity, 6);
}

TEST(GetParameters, CarriageReturnStaysInTheLastField) {
  Line l;
  l.parse("G,1,2,3,4,5,6\r");
  EXPECT_EQ(l.humidity, 6);
  l.parse("NAME\r");
  EXPECT_EQ(l.chambern, "NAME\r");
}

TEST(GetChambers, ListsDistinctNamesInByteOrderWithIndicesAndLogs) {
  std::string log;
  const ChamberIndexList list = listOf(
      "DETECTOR,HVeff\nRE3-PK-154-TOPWIDE,1\nKODEL-HXD-RE4-3-B002,1\nRE3-PK-065-BOTTOM,1\n"
      "RE3-PK-154-TOPWIDE,2\n",
      &log);
  const ChamberIndexList expected = {
      {"KODEL-HXD-RE4-3-B002", 0}, {"RE3-PK-065-BOTTOM", 1}, {"RE3-PK-154-TOPWIDE", 2}};
  EXPECT_EQ(list, expected);
  EXPECT_EQ(log,
            "INFO :: ScanInput: getChambers : running on chambers: \n"
            "INFO :: ScanInput: getChambers :  \t KODEL-HXD-RE4-3-B002\n"
            "INFO :: ScanInput: getChambers :  \t RE3-PK-065-BOTTOM\n"
            "INFO :: ScanInput: getChambers :  \t RE3-PK-154-TOPWIDE\n");
}

TEST(GetChambers, OrderIsByteWisePrefixFirstUpperBeforeLower) {
  const ChamberIndexList list = listOf("b\nRE3-PK-154-TOPNARROW\nRE3-PK-154-TOP\nB\n9\n");
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].first, "9");
  EXPECT_EQ(list[1].first, "B");
  EXPECT_EQ(list[2].first, "RE3-PK-154-TOP");
  EXPECT_EQ(list[3].first, "RE3-PK-154-TOPNARROW");
  EXPECT_EQ(list[4].first, "b");
}

TEST(GetChambers, OnlyTheExactHeaderWordIsSkipped) {
  const ChamberIndexList list = listOf("DETECTOR,x\nDETECTOR ,x\ndetector,x\nG,1\nDETECTOR\n");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].first, "DETECTOR ");
  EXPECT_EQ(list[1].first, "G");
  EXPECT_EQ(list[2].first, "detector");
}

TEST(GetChambers, NeverListsAnEmptyName) {
  // Leading blank lines, a line starting with a comma, a lone comma.
  EXPECT_EQ(listOf("\n\n,1,2\n,\nG,1\n\n"), (ChamberIndexList{{"G", 0}}));
}

TEST(GetChambers, ByteOrderMarkDoesNotTurnTheHeaderIntoAGap) {
  EXPECT_EQ(listOf("\xEF\xBB\xBF" "DETECTOR,HV\nG,1\n"), (ChamberIndexList{{"G", 0}}));
}

TEST(GetChambers, AppendsBehindExistingPairsWithIndicesFromZero) {
  ChamberIndexList list = {{"X", 0}, {"Y", 1}};
  std::istringstream in("B\nA\n");
  std::ostringstream log;
  getChambers(in, list, log);
  EXPECT_EQ(list, (ChamberIndexList{{"X", 0}, {"Y", 1}, {"A", 0}, {"B", 1}}));
}

TEST(GetChambers, MissingAndEmptyFilesListNothingButLogTheHeadline) {
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("empty.csv"), "");
  for (const std::string& path : {dir.file("missing.csv"), dir.file("empty.csv")}) {
    ChamberIndexList list;
    std::ostringstream log;
    const bool opened = getChambers(path, list, log);
    EXPECT_EQ(opened, path == dir.file("empty.csv"));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(log.str(), "INFO :: ScanInput: getChambers : running on chambers: \n");
  }
}

TEST(ReadNumber, AcceptsDecimalReadingsWithTrailingUnits) {
  double v = -1;
  EXPECT_TRUE(readNumber("1.5e3", v));
  EXPECT_EQ(v, 1500);
  EXPECT_TRUE(readNumber(" 12 V", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(readNumber("-0", v));
  EXPECT_TRUE(readNumber(".5\r", v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(readNumber("1e-400", v));  // underflows to 0, a reading all the same
}

TEST(ReadNumber, RefusesWhatIsNoFiniteDecimalNumber) {
  double v = 7;
  for (const char* bad : {"", "abc", "nan", "inf", "-inf", "1e400", "0x1p3", "+", ".", "V 12"}) {
    EXPECT_FALSE(readNumber(bad, v)) << bad;
  }
  EXPECT_EQ(v, 7);
}

}  // namespace
