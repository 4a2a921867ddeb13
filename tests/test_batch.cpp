// Figures painted by several processes, and many scans in one call: what they
// write must be what one process, one scan at a time, writes.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <sstream>

#include "tests/TestSupport.h"
#include "toolkit/FigureQueue.h"

namespace {

using namespace testsupport;

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

TEST(FigureQueue, PaintsEachFigureAsItWasWhenHandedOver) {
  ScratchDir dir;
  tk::Graph graph;
  for (int i = 0; i < 20; ++i) graph.AddPoint(1000.0 + 50.0 * i, 0.01 * i * i);
  tk::Canvas canvas("c", "c", 400, 200, tk::Style{});
  canvas.DrawGraph(&graph, true);
  std::string error;
  ASSERT_TRUE(canvas.SaveAs(dir.file("in-place.png"), error)) << error;
  std::ostringstream out, err;
  tk::Console console(out, err);
  tk::FigureQueue queue(3, console);
  for (int k = 0; k < 4; ++k) queue.save(canvas, dir.file(std::to_string(k) + ".png"));
  queue.save(canvas, dir.file("missing/figure.png"));
  graph.AddPoint(3000.0, 10.0);  // changes after the hand-over belong to later figures only
  graph.markerColor = 2;
  queue.finish();
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(pixelsOf(dir.file("in-place.png")) == pixelsOf(dir.file(std::to_string(k) + ".png"))) << k;
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
  // The directory, then one of its scans again, whose outputs would overwrite the first's.
  const RunResult batch = runGapohm({"--batch", "-j", "2", "-o", "batch", scans, scans + "/argon.csv"}, inHome(dir.path()));
  EXPECT_EQ(batch.status, 1) << batch.err;
  EXPECT_NE(batch.out.find("[4/4]"), std::string::npos) << batch.out;
  EXPECT_NE(batch.err.find("broken.csv: no measurement lines"), std::string::npos) << batch.err;
  for (const std::string name : {"argon", "standard"}) {
    ASSERT_EQ(runGapohm({"-j", "1", "-o", "single/" + name, scans + "/" + name + ".csv"}, inHome(dir.path())).status, 0);
    const std::string single = dir.file("single/" + name), batched = dir.file("batch/" + name);
    ASSERT_EQ(listDir(single), listDir(batched));
    for (const std::string& f : listDir(single)) {  // reports byte for byte, figures pixel for pixel
      const bool png = f.find(".png") != std::string::npos;
      EXPECT_TRUE(png ? pixelsOf(single + "/" + f) == pixelsOf(batched + "/" + f) && !pixelsOf(single + "/" + f).empty()
                      : readFile(single + "/" + f) == readFile(batched + "/" + f)) << f;
    }
  }
  EXPECT_EQ(listDir(dir.file("batch")), (std::vector<std::string>{"BatchSummary.csv", "argon", "standard"}));
  // Header, 6 argon gaps, the broken scan, 3 standard gaps, the repeated scan.
  const std::vector<std::string> rows = lines(readFile(dir.file("batch/BatchSummary.csv")));
  ASSERT_EQ(rows.size(), 12U);
  const std::string quoted = "\"" + scans + "/";
  // The first gap's values are the report's: "NAME , rho , ..." in Resistance.csv.
  std::string gap = lines(readFile(dir.file("single/argon/Resistance.csv")))[1];
  gap = gap.substr(0, gap.find(" , ", gap.find(" , ") + 3));
  gap.replace(gap.find(" , "), 3, ",");
  EXPECT_EQ(rows[1].rfind(quoted + "argon.csv\"," + gap + ",", 0), 0U) << rows[1] << " / " << gap;
  EXPECT_NE(rows[1].find(",fitted"), std::string::npos);
  EXPECT_EQ(rows[7].rfind(quoted + "broken.csv\",,,,,,,,,,,,\"scan failed: ", 0), 0U) << rows[7];
  EXPECT_NE(rows[10].find(",not an argon scan"), std::string::npos) << rows[10];
  EXPECT_NE(rows[11].find("scan failed: its outputs would replace those of"), std::string::npos) << rows[11];
}

}  // namespace
