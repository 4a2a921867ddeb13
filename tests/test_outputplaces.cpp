// Where outputs go: the dated directory layout, its creation, safe file names.
#include <gtest/gtest.h>

#include <sstream>

#include "aux/OutputPlaces.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ScratchDir;

EnvLookup homeAt(const std::optional<std::string>& home) {
  return [home](const std::string& name) { return name == "HOME" ? home : std::nullopt; };
}

TEST(DirForScan, LayoutsByHomeAndScanName) {
  const std::string kvt = "/h/Dropbox/KVT/HVScan/d";
  const std::string ulm = "/srv/ulmena2/Dropbox//ZELK/HXD/RPCs/20130620_KVT/testKVT/ResistanceAndCurrentPLOTS/d";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/data/scans/scan_A.csv", "/h", kvt + "_KVTHVscan/scan_A/"},
      {"/data/scans/CAEN904_scan_B.csv", "/h", kvt + "_904HVscan/CAEN904_scan_B/"},
      {"/data/CAEN904/scan_C.csv", "/h", kvt + "_904HVscan/scan_C/"},
      {"x/caen904.csv", "/srv/ulmena2", ulm + "_KVTHVscan/caen904/"},
      {"run.csv.csv", "/h", kvt + "_KVTHVscan/run/"},
      {"a.csv_b.csv", "/h", kvt + "_KVTHVscan/a_b/"},
      {"run.CSV", "/h", kvt + "_KVTHVscan/run.CSV/"},
  };
  for (const auto& [scan, home, dir] : cases) EXPECT_EQ(dirForScan(scan, home, "d"), dir) << scan;
}

TEST(GetPathToSave, CreatesEveryLevelOrNamesTheOneThatCannotBe) {
  ScratchDir root;
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace dated{homeAt(root.path()), "20131231", std::nullopt};
  const std::string dir = getPathToSave("/data/scan_A.csv", dated, console);
  EXPECT_EQ(dir, root.path() + "/Dropbox/KVT/HVScan/20131231_KVTHVscan/scan_A/");
  EXPECT_EQ(testsupport::listDir(dir), std::vector<std::string>{});
  EXPECT_EQ(out.str(), "INFO :: OutputPlaces : GetEnviroment: HOME directory used  " + root.path() + "\n");
  const OutputPlace given{homeAt(std::nullopt), "d", root.file("a/b")};
  EXPECT_EQ(getPathToSave("scan.csv", given, console), root.file("a/b/"));
  EXPECT_TRUE(testsupport::fileExists(root.file("a/b")));
  EXPECT_FALSE(console.failed()) << err.str();

  testsupport::writeFile(root.file("file"), "x");
  getPathToSave("scan.csv", {homeAt(std::nullopt), "d", root.file("file/sub")}, console);
  EXPECT_EQ(err.str(), "gapohm: error: cannot create directory " + root.file("file") +
                           ": it exists and is not a directory\n");
  // Without HOME nothing is made at the root of the file system.
  tk::Console homeless(out, err);
  getPathToSave("never-made-q7.csv", {homeAt(std::nullopt), "d", std::nullopt}, homeless);
  EXPECT_TRUE(homeless.failed());
  EXPECT_FALSE(testsupport::fileExists("/Dropbox/KVT/HVScan/d_KVTHVscan/never-made-q7"));
}

TEST(SafeFileName, GapNamesStayOneFileInsideTheOutputDirectory) {
  const std::pair<std::string, std::string> cases[] = {
      {"RE3-PK-154-BOTTOM", "RE3-PK-154-BOTTOM"}, {"../../etc/passwd", ".._.._etc_passwd"}, {"..", "_"},
      {".", "_"}, {"", "_"}, {"a\\b:c\n*?\"<>|\x7f", "a_b_c________"}, {"gap ü 1", "gap ü 1"}};
  for (const auto& [name, safe] : cases) EXPECT_EQ(safeFileName(name), safe) << name;
  // Long names keep 180 bytes, never cut inside a character, and a hash of the whole.
  const std::string a = std::string(300, 'A'), b = std::string(299, 'A') + "B";
  const std::string c = std::string(179, 'A') + "\xC3\xA4" + std::string(100, 'C');
  EXPECT_EQ(safeFileName(a).size(), 180u + 1u + 16u);
  EXPECT_NE(safeFileName(a), safeFileName(b));
  EXPECT_EQ(safeFileName(c).substr(0, 180), std::string(179, 'A') + "~");
}

}  // namespace
