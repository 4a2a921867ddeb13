// The command line and the run's failure paths, in process with a fixed
// environment and clock.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/TestSupport.h"
#include "tools/gapohm.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// 2013-10-01 12:00 UTC
constexpr std::time_t kNoon = 1380628800;

Outcome run(std::vector<std::string> args, std::map<std::string, std::string> env) {
  std::vector<const char*> argv = {"gapohm"};
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  const EnvLookup lookup = [env](const std::string& name) -> std::optional<std::string> {
    const auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
  const int status = gapohmMain(static_cast<int>(argv.size()), argv.data(), out, err, lookup, kNoon);
  return {status, out.str(), err.str()};
}

const std::string kAnnounce =
    "INFO :: gapohm : printINFO #############################\n"
    "INFO :: processing files : \n";

TEST(CommandLine, UsageErrorsExitTwo) {
  EXPECT_EQ(run({"--no-such-option"}, {}).status, 2);
  EXPECT_EQ(run({"--format", "gif", "scan.csv"}, {}).status, 2);
  EXPECT_EQ(run({"--output-dir"}, {}).status, 2);
}

TEST(CommandLine, HelpAndVersionSucceedWithoutRunning) {
  const Outcome help = run({"--help"}, {});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--output-dir"), std::string::npos);
  EXPECT_EQ(help.out.find("INFO ::"), std::string::npos);
  const Outcome version = run({"--version"}, {});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("gapohm "), std::string::npos);
}

TEST(CommandLine, NoArgumentAnalysesTheHistoricalDefaultPath) {
  testsupport::ScratchDir home;
  const Outcome o = run({}, {{"HOME", home.path()}});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("INFO :: \t /Users/ulmena/Dropbox/ZELK/HXD/RPCs/20130620_KVT/LatestScans/"
                       "hvscan_1_201309301817_HVscan_n.csv\n"),
            std::string::npos);
}

TEST(CommandLine, DoubleDashEndsOptions) {
  testsupport::ScratchDir home;
  const Outcome o = run({"--", "-v"}, {{"HOME", home.path()}});
  EXPECT_EQ(o.status, 1);  // "-v" is taken as the scan file, which does not exist
  EXPECT_NE(o.out.find("INFO :: \t -v\n"), std::string::npos);
  EXPECT_NE(o.err.find("cannot open scan file -v"), std::string::npos);
}

TEST(FailedRuns, MissingScanFileNamesPathAndReasonAndWritesNothing) {
  testsupport::ScratchDir home;
  const std::string scan = home.file("missing.csv");
  const Outcome o = run({scan}, {{"HOME", home.path()}});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, kAnnounce + "INFO :: \t " + scan + "\n" + std::string("INFO :: ") +
                       std::string(56, '#') + "\nINFO :: ScanInput: getChambers : running on chambers: \n");
  EXPECT_EQ(o.err, "gapohm: error: cannot open scan file " + scan + ": No such file or directory\n");
  EXPECT_EQ(testsupport::listDir(home.path()), std::vector<std::string>{});
}

TEST(FailedRuns, FileWithoutMeasurementsWritesNothing) {
  testsupport::ScratchDir home;
  for (const std::string content : {"", "DETECTOR,HV\n", "\n\n", "G,abc\n"}) {
    testsupport::writeFile(home.file("scan.csv"), content);
    const Outcome o = run({home.file("scan.csv")}, {{"HOME", home.path()}});
    EXPECT_EQ(o.status, 1) << content;
    EXPECT_NE(o.err.find(home.file("scan.csv") + ": no measurement lines"), std::string::npos);
    EXPECT_EQ(testsupport::listDir(home.path()), std::vector<std::string>{"scan.csv"});
  }
}

TEST(FailedRuns, UnsetHomeLogsAndFailsUnlessAnOutputDirectoryIsGiven) {
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("scan.csv"), "");
  const Outcome o = run({dir.file("scan.csv")}, {});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("INFO :: OutputPlaces : GetEnviroment: The environment variables can not be "
                       "properly set \n"),
            std::string::npos);
  EXPECT_NE(o.err.find("HOME is not set"), std::string::npos);
  // With --output-dir the run goes on to the scan (here an empty one).
  const Outcome given = run({"-o", dir.file("out"), dir.file("scan.csv")}, {});
  EXPECT_NE(given.err.find("no measurement lines"), std::string::npos);
  EXPECT_EQ(given.err.find("HOME"), std::string::npos);
}

}  // namespace
