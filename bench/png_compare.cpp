// Compares the PNG figures of two directory trees pixel by pixel: for each file
// present in both, the number of pixels that differ and the largest difference
// in any channel; a histogram of the channel differences over all files.
// Usage: png_compare BEFORE AFTER   (bench/compare_figures.sh runs it on snapshots)
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "toolkit/PngRead.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: png_compare BEFORE AFTER\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path before = argv[1];
  const fs::path after = argv[2];
  std::array<unsigned long, 256> histogram{};
  unsigned long files = 0, differing = 0, pixels = 0, changed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(before)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".png") continue;
    const fs::path other = after / fs::relative(entry.path(), before);
    if (!fs::exists(other)) continue;
    tk::RgbPixels a, b;
    std::string reason;
    if (tk::readPngRgb(entry.path().string(), 1UL << 28, a, reason) != tk::PngReadStatus::Ok ||
        tk::readPngRgb(other.string(), 1UL << 28, b, reason) != tk::PngReadStatus::Ok) {
      std::printf("%s: unreadable (%s)\n", entry.path().c_str(), reason.c_str());
      continue;
    }
    ++files;
    if (a.width != b.width || a.height != b.height) {
      std::printf("%s: size %dx%d against %dx%d\n", entry.path().c_str(), a.width, a.height, b.width, b.height);
      continue;
    }
    unsigned long n = 0;
    int worst = 0;
    for (std::size_t p = 0; p < a.rgb.size(); p += 3) {
      int d = 0;
      for (std::size_t c = 0; c < 3; ++c) d = std::max(d, std::abs(a.rgb[p + c] - b.rgb[p + c]));
      ++histogram[static_cast<std::size_t>(d)];
      n += d > 0 ? 1 : 0;
      worst = std::max(worst, d);
    }
    pixels += a.rgb.size() / 3;
    changed += n;
    if (n > 0) {
      ++differing;
      std::printf("%s: %lu of %d pixels differ, by at most %d\n", fs::relative(entry.path(), before).c_str(), n,
                  a.width * a.height, worst);
    }
  }
  std::printf("%lu figures compared, %lu differ; %lu of %lu pixels differ\n", files, differing, changed, pixels);
  std::printf("largest channel difference per pixel: count\n");
  for (std::size_t d = 1; d < histogram.size(); ++d) {
    if (histogram[d] > 0) std::printf("  %3zu: %lu\n", d, histogram[d]);
  }
  return 0;
}
