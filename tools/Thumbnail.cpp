#include "tools/Thumbnail.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "aux/OutputPlaces.h"
#include "toolkit/Canvas.h"
#include "toolkit/Png.h"
#include "toolkit/PngRead.h"

namespace {

// Larger figures are not thumbnailed: 100 million pixels is fifty times the
// program's own figures, and their decoding would hold gigabytes.
constexpr unsigned long kLargestFigurePixels = 100000000UL;

// The figure's pixels as 8-bit RGB rows (alpha laid on white).
bool readRgb(const std::string& figure, tk::RgbPixels& pixels, std::string& error) {
  std::string reason;
  switch (tk::readPngRgb(figure, kLargestFigurePixels, pixels, reason)) {
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
  // A fresh file of our own (never one a link points at), renamed into place.
  std::string temporary = ExtractDirectory(thumb) + ".thumb-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot write " + thumb + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  std::string reason;
  if (!tk::writePng(temporary, small, tk::Canvas::kPngLevel, reason) ||
      std::rename(temporary.c_str(), thumb.c_str()) != 0) {
    error = "cannot write " + thumb + ": " + (reason.empty() ? std::strerror(errno) : reason);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
