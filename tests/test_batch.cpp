// Figures painted by several processes, and many scans in one call: what they
// write must be what one process, one scan at a time, writes.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "toolkit/FigureQueue.h"

using namespace testsupport;

namespace {

// Decoded RGB pixels of a PNG file; empty when it cannot be read.
std::vector<unsigned char> pixelsOf(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
  return pixels;
}

// The same files in both directories: reports byte for byte, figures pixel for pixel.
void expectSameOutputs(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> names = listDir(expected);
  ASSERT_EQ(names, listDir(actual));
  for (const std::string& name : names) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
      const std::vector<unsigned char> pixels = pixelsOf(expected + "/" + name);
      EXPECT_FALSE(pixels.empty()) << name;
      EXPECT_TRUE(pixels == pixelsOf(actual + "/" + name)) << name << " differs";
    } else {
      EXPECT_EQ(readFile(expected + "/" + name), readFile(actual + "/" + name)) << name;
    }
  }
}

}  // namespace

TEST(FigureQueue, PaintsEachFigureAsItWasWhenHandedOver) {
  ScratchDir dir;
  tk::Graph graph;
  for (int i = 0; i < 20; ++i) graph.AddPoint(1000.0 + 50.0 * i, 0.01 * i * i);
  graph.markerStyle = 20;
  tk::Canvas canvas("c", "c", 400, 200, tk::Style{});
  canvas.DrawGraph(&graph, true);
  std::string error;
  ASSERT_TRUE(canvas.SaveAs(dir.file("in-place.png"), error)) << error;

  std::ostringstream out;
  std::ostringstream err;
  tk::Console console(out, err);
  {
    tk::FigureQueue queue(3, console);
    for (int k = 0; k < 4; ++k) queue.save(canvas, dir.file("queued" + std::to_string(k) + ".png"));
    queue.save(canvas, dir.file("missing/figure.png"));
    // Changes after the hand-over belong to later figures only.
    graph.AddPoint(3000.0, 10.0);
    graph.markerColor = 2;
    queue.finish();
  }
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(pixelsOf(dir.file("in-place.png")) == pixelsOf(dir.file("queued" + std::to_string(k) + ".png")))
        << "figure " << k;
  }
  EXPECT_TRUE(console.failed());
  EXPECT_NE(err.str().find("cannot write figure " + dir.file("missing/figure.png")), std::string::npos) << err.str();
}

TEST(Batch, EachScanIsWrittenAsASingleRunWouldAndFailuresStopNothing) {
  ScratchDir dir;
  const std::string scans = dir.file("campaign, week 2");  // a comma the summary must quote
  std::filesystem::create_directories(scans);
  writeFile(scans + "/argon.csv", readFile(examplePath("argon_scan.csv")));
  writeFile(scans + "/standard.csv", readFile(examplePath("standard_scan.csv")));
  writeFile(scans + "/broken.csv", "DETECTOR,HVeff,HVapp,Current,Pressure,Temperature,Humidity\n");
  writeFile(scans + "/notes.txt", "not a scan\n");

  // The directory, then one of its scans again: the second would overwrite the first's outputs.
  const RunResult batch =
      runGapohm({"--batch", "-j", "2", "-o", dir.file("batch"), scans, scans + "/argon.csv"}, dir.path());
  EXPECT_EQ(batch.status, 1) << batch.err;
  EXPECT_NE(batch.out.find("[4/4]"), std::string::npos) << batch.out;
  EXPECT_NE(batch.err.find("broken.csv: no measurement lines"), std::string::npos) << batch.err;
  EXPECT_NE(batch.err.find("would replace those of"), std::string::npos) << batch.err;

  for (const std::string name : {"argon", "standard"}) {
    const RunResult single = runGapohm({"-j", "1", "-o", dir.file("single/" + name), scans + "/" + name + ".csv"},
                                       dir.path());
    ASSERT_EQ(single.status, 0) << single.err;
    expectSameOutputs(dir.file("single/" + name), dir.file("batch/" + name));
  }
  EXPECT_EQ(listDir(dir.file("batch")), (std::vector<std::string>{"BatchSummary.csv", "argon", "standard"}));

  std::istringstream summary(readFile(dir.file("batch/BatchSummary.csv")));
  std::vector<std::string> rows;
  for (std::string row; std::getline(summary, row);) rows.push_back(row);
  // Header, 6 argon gaps, the broken scan, 3 standard gaps, the repeated scan.
  ASSERT_EQ(rows.size(), 12U);
  const std::string quoted = "\"" + scans + "/";
  // The summary's values are the report's: the first gap's resistivity as Resistance.csv has it.
  std::istringstream report(readFile(dir.file("single/argon/Resistance.csv")));
  std::string header, gap, rho;
  std::getline(report, header);
  std::getline(report, gap, ',');
  std::getline(report, rho, ',');
  gap = gap.substr(0, gap.size() - 1);
  rho = rho.substr(1, rho.size() - 2);
  EXPECT_EQ(rows[1].rfind(quoted + "argon.csv\"," + gap + "," + rho + ",", 0), 0U) << rows[1];
  EXPECT_NE(rows[1].find(",fitted"), std::string::npos);
  EXPECT_EQ(rows[7].rfind(quoted + "broken.csv\",,,,,,,,,,,,\"scan failed: ", 0), 0U) << rows[7];
  EXPECT_NE(rows[10].find(",not an argon scan"), std::string::npos) << rows[10];
  EXPECT_NE(rows[11].find("scan failed: its outputs would replace those of"), std::string::npos) << rows[11];
}

TEST(Batch, OptionsThatNeedEachOtherAreUsageErrors) {
  ScratchDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--batch"},
                                               std::vector<std::string>{"--summary", "s.csv", "scan.csv"},
                                               std::vector<std::string>{"-j", "0", "scan.csv"}}) {
    const RunResult run = runGapohm(args, dir.path(), dir.path());
    EXPECT_EQ(run.status, 2) << args[0] << ": " << run.err;
    EXPECT_TRUE(listDir(dir.path()).empty()) << args[0];
  }
}
