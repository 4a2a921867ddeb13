#include "tools/Thumbnail.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Png.h"
#include "toolkit/PngRead.h"
#include "toolkit/SafeFile.h"

namespace {

// Larger figures are not thumbnailed: 100 million pixels is fifty times the
// program's own figures, and their decoding would hold gigabytes.
constexpr unsigned long kLargestFigurePixels = 100000000UL;
// The program's own figures are a few hundred kilobytes.
constexpr std::size_t kLargestFigureFile = std::size_t{64} << 20;

// The figure's pixels as 8-bit RGB rows (alpha laid on white); never read
// through a link.
bool readRgb(const std::string& figure, tk::RgbPixels& pixels, std::string& error) {
  std::string bytes;
  std::string reason;
  if (tk::readRegularFile(figure, kLargestFigureFile, false, bytes, reason) != tk::FileRead::ok) {
    error = figure + ": " + reason;
    return false;
  }
  switch (tk::readPngRgbBytes(bytes, kLargestFigurePixels, pixels, reason)) {
    case tk::PngReadStatus::Ok: return true;
    case tk::PngReadStatus::Damaged: error = figure + ": damaged PNG file"; break;
    case tk::PngReadStatus::Unreadable: error = figure + ": " + reason; break;
    case tk::PngReadStatus::TooLarge:
      error = figure + ": " + std::to_string(pixels.width) + "x" + std::to_string(pixels.height) +
              " pixels, too large for a thumbnail";
      break;
  }
  return false;
}

// Every output pixel the mean of the factor x factor box of input pixels it covers
// (boxes at the right and bottom edges may be smaller).
void boxFilter(const std::vector<unsigned char>& rgb, int width, int height, int factor, tk::Image& out) {
  for (int oy = 0; oy < out.height(); ++oy) {
    auto* row = reinterpret_cast<std::uint32_t*>(out.data() + static_cast<std::size_t>(oy) * out.stride());
    for (int ox = 0; ox < out.width(); ++ox) {
      unsigned long sum[3] = {0, 0, 0};
      unsigned long count = 0;
      for (int y = oy * factor; y < std::min(height, (oy + 1) * factor); ++y) {
        const unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(ox) * factor) * 3;
        for (int x = ox * factor; x < std::min(width, (ox + 1) * factor); ++x, p += 3) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
          ++count;
        }
      }
      std::uint32_t word = 0;
      for (int c = 0; c < 3; ++c) word = word << 8 | static_cast<std::uint32_t>((sum[c] + count / 2) / count);
      row[ox] = word;
    }
  }
}

}  // namespace

bool writeThumbnail(const std::string& figure, const std::string& thumb, int maxWidth, std::string& error) {
  tk::RgbPixels pixels;
  if (!readRgb(figure, pixels, error)) return false;
  const int width = pixels.width;
  const int height = pixels.height;
  const int factor = std::max(1, (width + maxWidth - 1) / std::max(1, maxWidth));
  tk::Image small((width + factor - 1) / factor, (height + factor - 1) / factor);
  if (small.data() == nullptr) {
    error = figure + ": no memory for its thumbnail";
    return false;
  }
  boxFilter(pixels.rgb, width, height, factor, small);
  // A fresh file of our own (never one a link points at, removed if the run is
  // stopped), renamed into place.
  std::string temporary;
  std::string reason;
  const int fd = tk::createTempFile(thumb, temporary, reason);
  if (fd < 0) {
    error = "cannot write " + thumb + ": " + reason;
    return false;
  }
  ::close(fd);
  if (!tk::writePng(temporary, small, tk::Canvas::kPngLevel, reason)) {
    tk::discardTempFile(-1, temporary);
    error = "cannot write " + thumb + ": " + reason;
    return false;
  }
  if (!tk::commitTempFile(-1, temporary, thumb, false, reason)) {
    error = "cannot write " + thumb + ": " + reason;
    return false;
  }
  return true;
}
