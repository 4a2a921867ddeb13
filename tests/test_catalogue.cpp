// The catalogue of known gaps: areas by type, plot styles by name.
#include <gtest/gtest.h>

#include "tools/gapohm.h"

namespace {

TEST(Catalogue, HoldsTheEightKnownGapsInOrder) {
  std::vector<std::string> names = {"left over"};
  init_chambersnames(names);
  init_chambersnames(names);
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names.front(), "KODEL-HXD-RE4-3-B002");
  EXPECT_EQ(names[4], "RE3-PK-154-TOPWIDE");
  EXPECT_EQ(names.back(), "RE3-PK-065-TOPNARROW");
}

TEST(GetArea, ByTypeWordTheLastMatchDeciding) {
  EXPECT_EQ(getarea("RE3-PK-154-BOTTOM"), 19660.0);
  EXPECT_EQ(getarea("KODEL-HXD-RE4-3-B002"), 19660.0);
  EXPECT_EQ(getarea("RE3-PK-154-TOPNARROW"), 5550.0);
  EXPECT_EQ(getarea("RE3-PK-154-TOPWIDE"), 13130.0);
  EXPECT_EQ(getarea("X-B-TOPWIDE"), 13130.0);
  EXPECT_EQ(getarea("TOPNARROW-TOPWIDE"), 13130.0);
  EXPECT_EQ(getarea("re3-pk-154-bottom"), 1.0);
  EXPECT_EQ(getarea("GAP_BOT"), 1.0);
  EXPECT_EQ(getarea("LAB-GAP-07"), 1.0);
}

TEST(GetAreaFactor, IsAThousandOverTheArea) {
  EXPECT_EQ(getareafactor("GAP_BOT"), 0.0508646998982706);
  EXPECT_EQ(getareafactor("RE3-PK-065-BOTTOM"), 1000.0 / 19660.0);
  EXPECT_EQ(getareafactor("RE3-PK-065-TOPNARROW"), 0.18018018018018017);
  EXPECT_EQ(getareafactor("RE3-PK-065-TOPWIDE"), 0.07616146230007616);
  EXPECT_EQ(getareafactor("unknown"), 1.0);
}

TEST(GetStyle, CatalogueGapsByNameOthersByPosition) {
  EXPECT_EQ(getcolor("RE3-PK-154-TOPNARROW", 5), 4);
  EXPECT_EQ(getmarker("RE3-PK-154-TOPNARROW", 5), 33);
  EXPECT_EQ(getcolor("RE3-PK-065-TOPWIDE", 0), 2);
  EXPECT_EQ(getmarker("RE3-PK-065-TOPWIDE", 0), 22);
  EXPECT_EQ(getcolor("KODEL-HXD-RE4-3-B009", 2), 7);
  EXPECT_EQ(getcolor("LAB-GAP", 0), 1);
  EXPECT_EQ(getmarker("LAB-GAP", 0), 19);
  EXPECT_EQ(getcolor("LAB-GAP", 3), 4);
  EXPECT_EQ(getmarker("LAB-GAP", 3), 22);
  // A catalogued name with a suffix keeps the catalogue's style.
  EXPECT_EQ(getcolor("RE3-PK-154-BOTTOM_run2", 7), 4);
  EXPECT_EQ(getmarker("RE3-PK-154-BOTTOM_run2", 7), 8);
}

TEST(InitPlotprofile, OneProfilePerGapInListOrderAppended) {
  std::vector<plotprofile> profiles;
  init_plotprofile(profiles, {});
  EXPECT_TRUE(profiles.empty());
  init_plotprofile(profiles, {{"LAB-A", 0}, {"RE3-PK-065-BOTTOM", 1}, {"LAB-B", 2}});
  ASSERT_EQ(profiles.size(), 3u);
  EXPECT_EQ(profiles[0].chambername, "LAB-A");
  EXPECT_EQ(profiles[0].color, 1);
  EXPECT_EQ(profiles[0].marker, 19);
  EXPECT_EQ(profiles[1].color, 2);
  EXPECT_EQ(profiles[1].marker, 8);
  EXPECT_EQ(profiles[2].color, 3);
  EXPECT_EQ(profiles[2].marker, 21);
}

}  // namespace
