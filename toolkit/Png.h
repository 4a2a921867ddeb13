// The pixels of a painted figure and their encoding as PNG.
//
// Figures are 2000 x 1000 pixels, mostly white, with thin lines and text. Their
// pixels live in one block the kernel may back with huge pages (faulting 8 MB in
// 4 KB pages costs more than painting it), and they are compressed with ISA-L's
// deflate, which at level 0 is about five times faster on such images than
// zlib's fastest level, for files about a third larger; libpng writes the file's
// chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tk {

// A width x height image in cairo's 24-bit RGB layout: one native 32-bit word a
// pixel (0x00RRGGBB), rows stride() bytes apart, top row first. Owns its pixels.
class Image {
 public:
  // An image of the given size whose pixels are not yet set. data() is null when
  // the size is not positive or the memory cannot be had.
  Image(int width, int height);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  // The pixels move with the image; the one moved from has none (width 0).
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;

  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return stride_; }
  unsigned char* data() const { return data_; }
  // The pixel at (x, y) as 0xRRGGBB; both must lie inside the image.
  unsigned long pixel(int x, int y) const;
  // Sets every pixel to the colour (components 0-255).
  void fill(int red, int green, int blue);

 private:
  int width_;
  int height_;
  int stride_;
  std::size_t size_ = 0;
  unsigned char* data_ = nullptr;
};

// The whole factor by which an image `width` pixels wide is shrunk to be at most
// maxWidth wide (1: it is not wider; never enlarged).
int shrinkFactor(int width, int maxWidth);

// Sets every pixel of `out`, which must be ceil(width / factor) x
// ceil(height / factor) of `in`, to the rounded mean of the factor x factor box of
// `in` it covers (boxes at the right and bottom edges may be smaller).
void boxFilter(const Image& in, int factor, Image& out);

// Writes the image to `path` as an 8-bit RGB PNG, rows unfiltered, compressed at
// ISA-L deflate `level` (0 fastest to 3 smallest; only levels 0 and 3 give the
// same bytes in every process, see Canvas::kPngLevel). Returns false, with the reason
// in `error`, when the file cannot be opened or written completely; a partly
// written file is left for the caller to remove.
// What the PNG pass does besides encoding, with each row while it is in the
// cache anyway (a thumbnail or a blank page without a pass of its own over 8 MB).
struct PngPass {
  // When set, sized as boxFilter wants it, the image is box-filtered into it by
  // `factor`; it is complete when the PNG is.
  Image* shrunk = nullptr;
  int factor = 1;
  // When true, every row of the image is set to `blankPixel` once encoded (the
  // pixels are the caller's to change, as Image::data gives them): the page is
  // left blank for the next figure. A failed pass leaves the rows undefined.
  bool blank = false;
  std::uint32_t blankPixel = 0;
};
bool writePng(const std::string& path, const Image& image, int level, std::string& error, const PngPass& pass = {});

}  // namespace tk
