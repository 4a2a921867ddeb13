// PNG files read back as 8-bit RGB pixels: the report's thumbnails and the tests
// that look at painted figures.
//
// 8-bit RGB and RGBA files that are not interlaced (the program's own figures
// among them) are inflated with ISA-L, several times faster than libpng's zlib
// on them; every other PNG (palette, grey, 16-bit, interlaced) is read by
// libpng. Both lay alpha on white.
#pragma once

#include <string>
#include <vector>

namespace tk {

// A decoded picture: width x height pixels of R, G, B bytes, top row first, no
// padding between rows.
struct RgbPixels {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

enum class PngReadStatus {
  Ok,
  Unreadable,  // missing, not a PNG, or refused by libpng: `reason` holds its message
  Damaged,     // a PNG of the program's kind whose chunks or image data are cut or corrupt
  TooLarge,    // more than maxPixels pixels: width and height are set, no pixels read
};

// Reads the PNG at `path` into `out`. Images of more than maxPixels pixels are
// not decoded (their pixels would take 3 bytes each in memory). On any status
// but Ok the pixels are empty; on TooLarge out's width and height still give the
// image's size. The chunks' checksums are not verified on the fast path: a
// damaged image stream is caught by the inflation and its lengths.
PngReadStatus readPngRgb(const std::string& path, unsigned long maxPixels, RgbPixels& out, std::string& reason);

// The same on the bytes of a PNG file already read (by a reader that chose how
// to open it, e.g. never through a link).
PngReadStatus readPngRgbBytes(const std::string& bytes, unsigned long maxPixels, RgbPixels& out,
                              std::string& reason);

}  // namespace tk
