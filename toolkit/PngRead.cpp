#include "toolkit/PngRead.h"

#include <isa-l/igzip_lib.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tk {

namespace {

std::uint32_t bigEndian32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Undoes one row's PNG filter in place (`bpp` bytes a pixel, `previous` null for
// the top row). False for a filter type PNG does not have.
bool unfilterRow(unsigned char filter, unsigned char* row, const unsigned char* previous, std::size_t stride,
                 std::size_t bpp) {
  if (filter > 4) return false;
  // Filter 0 (none, as the program writes its figures) leaves the row as it is.
  for (std::size_t i = 0; filter != 0 && i < stride; ++i) {
    const int left = i >= bpp ? row[i - bpp] : 0;
    const int up = previous != nullptr ? previous[i] : 0;
    const int corner = previous != nullptr && i >= bpp ? previous[i - bpp] : 0;
    int add = 0;
    if (filter == 1) add = left;
    if (filter == 2) add = up;
    if (filter == 3) add = (left + up) / 2;
    if (filter == 4) {
      const int pa = std::abs(up - corner), pb = std::abs(left - corner), pc = std::abs(left + up - 2 * corner);
      add = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
    }
    row[i] = static_cast<unsigned char>(row[i] + add);
  }
  return true;
}

// One row's pixels from its unfiltered bytes (`bpp` bytes a pixel) as RGB, alpha
// laid on white.
void rowToRgb(const unsigned char* row, std::size_t stride, std::size_t bpp, unsigned char* out) {
  if (bpp == 3) {
    std::memcpy(out, row, stride);
    return;
  }
  for (std::size_t i = 0; i < stride; i += bpp) {
    const int alpha = row[i + 3];
    for (std::size_t k = 0; k < 3; ++k) *out++ = static_cast<unsigned char>((row[i + k] * alpha + 255 * (255 - alpha) + 127) / 255);
  }
}

// The image data of a PNG: its IDAT chunks in order, fed to ISA-L one by one.
struct IdatChunks {
  const std::string& bytes;
  std::size_t at = 8;  // the next chunk
  // Points `state` at the next IDAT chunk's data; false when there is none.
  bool feed(inflate_state& state) {
    for (; at + 12 <= bytes.size();) {
      const std::size_t length = bigEndian32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
      if (length > bytes.size() - at - 12) return false;  // cut inside the chunk
      const bool idat = bytes.compare(at + 4, 4, "IDAT") == 0;
      if (bytes.compare(at + 4, 4, "IEND") == 0) return false;
      const std::size_t data = at + 8;
      at += 12 + length;
      if (idat && length > 0) {
        state.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(bytes.data()) + data);
        state.avail_in = static_cast<std::uint32_t>(length);
        return true;
      }
    }
    return false;
  }
};

// Inflates exactly `size` bytes into `out`; false when the stream ends first or
// is corrupt. With size 0, checks instead that the stream ends with no byte left.
bool inflateInto(inflate_state& state, IdatChunks& chunks, unsigned char* out, std::size_t size) {
  unsigned char spare = 0;
  const bool toEnd = size == 0;
  state.next_out = toEnd ? &spare : out;
  state.avail_out = static_cast<std::uint32_t>(toEnd ? 1 : size);
  while (toEnd ? state.block_state != ISAL_BLOCK_FINISH : state.avail_out > 0) {
    if (state.block_state == ISAL_BLOCK_FINISH) return false;
    // With no chunk left ISA-L may still hold decoded bytes; it must then give some.
    if (state.avail_in == 0) chunks.feed(state);
    const std::uint32_t in = state.avail_in, room = state.avail_out;
    if (isal_inflate(&state) != ISAL_DECOMP_OK) return false;
    if (state.avail_in == in && state.avail_out == room && state.block_state != ISAL_BLOCK_FINISH) return false;
  }
  return state.avail_out == (toEnd ? 1U : 0U);
}

// The fast path for 8-bit RGB or RGBA, not interlaced: the image data inflated a
// row at a time, so that no second copy of the image is made. Returns 1 when
// done, 0 when the file is of another kind or too large (for libpng), -1 on a
// damaged file.
int readRgbFast(const std::string& bytes, unsigned long maxPixels, RgbPixels& out) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0) return 0;
  const unsigned char* ihdr = data + 16;
  const std::uint32_t w = bigEndian32(ihdr);
  const std::uint32_t h = bigEndian32(ihdr + 4);
  if (ihdr[8] != 8 || (ihdr[9] != 2 && ihdr[9] != 6) || ihdr[12] != 0 || w == 0 || h == 0) return 0;
  if (static_cast<unsigned long>(w) * h > maxPixels) return 0;  // libpng tells its size
  const std::size_t bpp = ihdr[9] == 6 ? 4 : 3;
  const std::size_t stride = w * bpp;
  std::vector<unsigned char> rows(2 * (stride + 1));  // this row and the one above
  out.rgb.resize(std::size_t{w} * 3 * h);
  IdatChunks chunks{bytes};
  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB;
  const unsigned char* previous = nullptr;
  for (std::uint32_t y = 0; y < h; ++y) {
    unsigned char* row = rows.data() + (y % 2) * (stride + 1);
    if (!inflateInto(state, chunks, row, stride + 1) || !unfilterRow(row[0], row + 1, previous, stride, bpp)) return -1;
    rowToRgb(row + 1, stride, bpp, out.rgb.data() + std::size_t{y} * w * 3);
    previous = row + 1;
  }
  if (!inflateInto(state, chunks, nullptr, 0)) return -1;
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);
  return 1;
}

// `begin` starts libpng's reading of the image (from a file or from memory).
template <class Begin>
PngReadStatus readWithLibpng(Begin&& begin, unsigned long maxPixels, RgbPixels& out, std::string& reason) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (begin(&image) == 0) {
    reason = image.message;
    return PngReadStatus::Unreadable;
  }
  if (static_cast<unsigned long>(image.width) * image.height > maxPixels) {
    png_image_free(&image);
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    return PngReadStatus::TooLarge;
  }
  image.format = PNG_FORMAT_RGB;
  out.rgb.assign(PNG_IMAGE_SIZE(image), 0);
  png_color white{255, 255, 255};
  if (png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr) == 0) {
    reason = image.message;
    png_image_free(&image);
    out.rgb.clear();
    return PngReadStatus::Unreadable;
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return PngReadStatus::Ok;
}

}  // namespace

PngReadStatus readPngRgb(const std::string& path, unsigned long maxPixels, RgbPixels& out, std::string& reason) {
  out = RgbPixels{};
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const int fast = in ? readRgbFast(bytes.str(), maxPixels, out) : 0;
  if (fast == 1) return PngReadStatus::Ok;
  out = RgbPixels{};
  if (fast < 0) return PngReadStatus::Damaged;
  return readWithLibpng([&path](png_image* image) { return png_image_begin_read_from_file(image, path.c_str()); },
                        maxPixels, out, reason);
}

PngReadStatus readPngRgbBytes(const std::string& bytes, unsigned long maxPixels, RgbPixels& out,
                              std::string& reason) {
  out = RgbPixels{};
  const int fast = readRgbFast(bytes, maxPixels, out);
  if (fast == 1) return PngReadStatus::Ok;
  out = RgbPixels{};
  if (fast < 0) return PngReadStatus::Damaged;
  return readWithLibpng(
      [&bytes](png_image* image) { return png_image_begin_read_from_memory(image, bytes.data(), bytes.size()); },
      maxPixels, out, reason);
}

}  // namespace tk
