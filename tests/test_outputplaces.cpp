// Where outputs go: the dated directory layout, its creation, path utilities.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <sstream>

#include "aux/OutputPlaces.h"
#include "tests/TestSupport.h"

namespace {

EnvLookup fixedEnv(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

TEST(DirForScan, LayoutsByHomeAndScanName) {
  EXPECT_EQ(dirForScan("/data/scans/scan_A.csv", "/home/op", "20131001"),
            "/home/op/Dropbox/KVT/HVScan/20131001_KVTHVscan/scan_A/");
  EXPECT_EQ(dirForScan("/data/scans/CAEN904_scan_B.csv", "/home/op", "20131001"),
            "/home/op/Dropbox/KVT/HVScan/20131001_904HVscan/CAEN904_scan_B/");
  EXPECT_EQ(dirForScan("/data/CAEN904/scan_C.csv", "/home/op", "20131001"),
            "/home/op/Dropbox/KVT/HVScan/20131001_904HVscan/scan_C/");
  EXPECT_EQ(dirForScan("scan_A.csv", "/home/ulmena", "20131001"),
            "/home/ulmena/Dropbox//ZELK/HXD/RPCs/20130620_KVT/testKVT/ResistanceAndCurrentPLOTS/"
            "20131001_KVTHVscan/scan_A/");
  EXPECT_EQ(dirForScan("x/caen904.csv", "/srv/ulmena2/x", "1"),
            "/srv/ulmena2/x/Dropbox//ZELK/HXD/RPCs/20130620_KVT/testKVT/ResistanceAndCurrentPLOTS/"
            "1_KVTHVscan/caen904/");
  EXPECT_EQ(dirForScan("s", "/home/Ulmena", "1"), "/home/Ulmena/Dropbox/KVT/HVScan/1_KVTHVscan/s/");
}

TEST(DirForScan, RemovesEveryCsvCaseSensitively) {
  EXPECT_EQ(dirForScan("run.csv.csv", "/h", "d"), "/h/Dropbox/KVT/HVScan/d_KVTHVscan/run/");
  EXPECT_EQ(dirForScan("a.csv_b.csv", "/h", "d"), "/h/Dropbox/KVT/HVScan/d_KVTHVscan/a_b/");
  EXPECT_EQ(dirForScan("run.CSV", "/h", "d"), "/h/Dropbox/KVT/HVScan/d_KVTHVscan/run.CSV/");
}

TEST(GetEnviroment, LogsAndReportsWhetherTheVariableIsSet) {
  std::ostringstream log;
  std::string path = "old";
  EXPECT_EQ(GetEnviroment(path, "HOME", fixedEnv({{"HOME", "/home/op"}}), log), 0);
  EXPECT_EQ(path, "/home/op");
  EXPECT_EQ(GetEnviroment(path, "HOME", fixedEnv({{"HOME", ""}}), log), 0);
  EXPECT_EQ(path, "");
  EXPECT_EQ(GetEnviroment(path, "HOME", fixedEnv({}), log), 1);
  EXPECT_EQ(log.str(),
            "INFO :: OutputPlaces : GetEnviroment: HOME directory used  /home/op\n"
            "INFO :: OutputPlaces : GetEnviroment: HOME directory used  \n"
            "INFO :: OutputPlaces : GetEnviroment: The environment variables can not be properly set \n");
}

TEST(GetPathToSave, CreatesEveryMissingLevelUnderHome) {
  testsupport::ScratchDir home;
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace place{fixedEnv({{"HOME", home.path()}}), "20131001", std::nullopt};
  const std::string dir = getPathToSave("/data/scan_A.csv", place, console);
  EXPECT_EQ(dir, home.path() + "/Dropbox/KVT/HVScan/20131001_KVTHVscan/scan_A/");
  struct stat info {};
  EXPECT_EQ(stat(dir.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(getPathToSave("/data/scan_A.csv", place, console), dir);  // same run, same place
  EXPECT_FALSE(console.failed());
  EXPECT_EQ(err.str(), "");
}

TEST(GetPathToSave, TheDateIsTheRunsNotTheClocks) {
  // The place carries the date read at the start; a later call cannot move days.
  testsupport::ScratchDir home;
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace place{fixedEnv({{"HOME", home.path()}}), "20131231", std::nullopt};
  EXPECT_NE(getPathToSave("s.csv", place, console).find("/20131231_KVTHVscan/"), std::string::npos);
}

TEST(GetPathToSave, UnsetHomeIsAnErrorAndCreatesNothingAtTheRoot) {
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace place{fixedEnv({}), "20131001", std::nullopt};
  getPathToSave("never-made-scan-q7.csv", place, console);
  EXPECT_TRUE(console.failed());
  EXPECT_NE(err.str().find("HOME is not set"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExists("/Dropbox/KVT/HVScan/20131001_KVTHVscan/never-made-scan-q7"));
}

TEST(GetPathToSave, OutputDirectoryOptionIsUsedAndCreated) {
  testsupport::ScratchDir root;
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace place{fixedEnv({}), "20131001", root.file("a/b/c")};
  EXPECT_EQ(getPathToSave("scan.csv", place, console), root.file("a/b/c/"));
  EXPECT_TRUE(testsupport::fileExists(root.file("a/b/c")));
  EXPECT_EQ(out.str(), "");  // no HOME needed, none looked up
  EXPECT_FALSE(console.failed());
}

TEST(GetPathToSave, ADirectoryThatCannotBeMadeIsNamed) {
  testsupport::ScratchDir root;
  testsupport::writeFile(root.file("file"), "x");
  std::ostringstream out, err;
  tk::Console console(out, err);
  const OutputPlace place{fixedEnv({}), "d", root.file("file/sub")};
  getPathToSave("scan.csv", place, console);
  EXPECT_TRUE(console.failed());
  EXPECT_NE(err.str().find(root.file("file")), std::string::npos);
}

TEST(PathUtilities, SplitAtTheLastSlash) {
  EXPECT_EQ(ExtractFilename("/data/"), "");
  EXPECT_EQ(ExtractFilename("scan.csv"), "scan.csv");
  EXPECT_EQ(ExtractFilename("/a/b/scan.csv"), "scan.csv");
  EXPECT_EQ(ExtractDirectory("scan.csv"), "");
  EXPECT_EQ(ExtractDirectory("/a/b/scan.csv"), "/a/b/");
  EXPECT_EQ(ChangeExtension("/a.b/c", ".png"), "/a.b/c.png");
  EXPECT_EQ(ChangeExtension("/x/run.v2.csv", ".png"), "/x/run.v2.png");
  EXPECT_EQ(getName(), "ALLcurrents");
}

TEST(SafeFileName, GapNamesCannotLeaveTheOutputDirectory) {
  EXPECT_EQ(safeFileName("RE3-PK-154-BOTTOM"), "RE3-PK-154-BOTTOM");
  EXPECT_EQ(safeFileName("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(safeFileName(".."), "_");
  EXPECT_EQ(safeFileName("."), "_");
  EXPECT_EQ(safeFileName(""), "_");
  EXPECT_EQ(safeFileName("a\\b:c\n"), "a_b_c_");
  EXPECT_EQ(safeFileName("gap ü 1"), "gap ü 1");
}

TEST(WriteFileAtomically, ReplacesWholeOrLeavesTheOldFile) {
  testsupport::ScratchDir dir;
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("r.csv"), "old\n", error));
  ASSERT_TRUE(writeFileAtomically(dir.file("r.csv"), "new\n", error));
  EXPECT_EQ(testsupport::readFile(dir.file("r.csv")), "new\n");
  EXPECT_EQ(testsupport::listDir(dir.path()), std::vector<std::string>{"r.csv"});
  EXPECT_FALSE(writeFileAtomically(dir.file("missing/r.csv"), "x", error));
  EXPECT_NE(error.find(dir.file("missing/r.csv")), std::string::npos);
}

}  // namespace
