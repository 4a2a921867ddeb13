// The scan reader: fields by position, and the gap list every per-gap array is
// addressed by.
#include <gtest/gtest.h>

#include <sstream>

#include "aux/ScanInput.h"

TEST(GetParameters, FieldsByPositionPressureBeforeTemperatureAbsentOnesKept) {
  std::string name;
  double v[6] = {-1, -1, -1, -1, -1, -1};  // HVeff, HVapp, current, temp, presure, humidity
  getParameters("G,9000,8000,1.25,960,21.5,40,99", name, v[0], v[1], v[2], v[3], v[4], v[5]);
  getParameters("H,,5,abc", name, v[0], v[1], v[2], v[3], v[4], v[5]);
  EXPECT_EQ(name, "H");
  EXPECT_EQ(std::vector<double>(v, v + 6), (std::vector<double>{0, 5, 0, 21.5, 960, 40}));
}

TEST(GetChambers, DistinctNamesInByteOrderNeverTheHeaderOrAnEmptyName) {
  std::istringstream scan(
      "\xEF\xBB\xBF" "DETECTOR,HVeff\n\n,1,2\n,\nb,1\nRE3-PK-154-TOPNARROW,1\nRE3-PK-154-TOP\n"
      "DETECTOR ,x\ndetector,x\nB\n9\nb,2\nDETECTOR\n");
  ChamberIndexList list = {{"X", 0}};  // appended behind, numbered from 0
  std::ostringstream log;
  getChambers(scan, list, log);
  EXPECT_EQ(list, (ChamberIndexList{{"X", 0}, {"9", 0}, {"B", 1}, {"DETECTOR ", 2}, {"RE3-PK-154-TOP", 3},
                                    {"RE3-PK-154-TOPNARROW", 4}, {"b", 5}, {"detector", 6}}));
  EXPECT_EQ(log.str().substr(0, 93), "INFO :: ScanInput: getChambers : running on chambers: \n"
                                     "INFO :: ScanInput: getChambers :  \t 9\n");
  ChamberIndexList none;
  EXPECT_FALSE(getChambers("/nonexistent/scan.csv", none, log));
  EXPECT_TRUE(none.empty());
}
