#include "toolkit/Png.h"

#include <isa-l/igzip_lib.h>
#include <png.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace tk {

Image::Image(int width, int height)
    : width_(width), height_(height), stride_(width > 0 ? width * 4 : 0) {
  if (width <= 0 || height <= 0) return;
  size_ = static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height);
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (size_ < kHugePage) {
    // A thumbnail: a huge page would be zeroed whole for a fraction of it.
    data_ = static_cast<unsigned char*>(std::malloc(size_));
    return;
  }
  // Whole huge pages only: a partial one at the end would be faulted in 4 KB
  // at a time (400 faults for a 2000 x 1000 image).
  const std::size_t whole = (size_ + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = nullptr;
  if (::posix_memalign(&memory, kHugePage, whole) != 0) return;
  data_ = static_cast<unsigned char*>(memory);
#ifdef MADV_HUGEPAGE
  ::madvise(memory, whole, MADV_HUGEPAGE);  // advice only: fine if refused
#endif
}

Image::~Image() { std::free(data_); }

Image::Image(Image&& other) noexcept
    : width_(other.width_), height_(other.height_), stride_(other.stride_), size_(other.size_), data_(other.data_) {
  other.width_ = other.height_ = other.stride_ = 0;
  other.size_ = 0;
  other.data_ = nullptr;
}

Image& Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    size_ = other.size_;
    data_ = other.data_;
    other.width_ = other.height_ = other.stride_ = 0;
    other.size_ = 0;
    other.data_ = nullptr;
  }
  return *this;
}

unsigned long Image::pixel(int x, int y) const {
  std::uint32_t word = 0;
  std::memcpy(&word, data_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_) + 4U * static_cast<std::size_t>(x), 4);
  return word & 0xffffffU;
}

void Image::fill(int red, int green, int blue) {
  if (data_ == nullptr) return;
  const std::uint32_t word = (static_cast<std::uint32_t>(red & 0xff) << 16) |
                             (static_cast<std::uint32_t>(green & 0xff) << 8) |
                             static_cast<std::uint32_t>(blue & 0xff);
  auto* words = reinterpret_cast<std::uint32_t*>(data_);
  std::fill(words, words + size_ / sizeof word, word);
}

namespace {

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Loops over every pixel of a row, made in an AVX2 version too, which the
// processor picks when it has it: written byte by byte or word by word the
// compiler vectorises them, and twice as wide halves the time of the PNG pass.
#define GAPOHM_PIXEL_LOOP __attribute__((target_clones("avx2", "default")))

// One PNG row as the file holds it: filter byte 0 (none), then R, G, B a pixel.
GAPOHM_PIXEL_LOOP void packRow(const unsigned char* __restrict in, int width, unsigned char* __restrict out) {
  // Where red, green and blue lie in a pixel's four bytes.
  constexpr int kRed = kLittleEndian ? 2 : 1;
  constexpr int kGreen = kLittleEndian ? 1 : 2;
  constexpr int kBlue = kLittleEndian ? 0 : 3;
  *out++ = 0;
  const auto pixels = static_cast<std::size_t>(std::max(width, 0));
  for (std::size_t x = 0; x < pixels; ++x) {
    out[3 * x] = in[4 * x + kRed];
    out[3 * x + 1] = in[4 * x + kGreen];
    out[3 * x + 2] = in[4 * x + kBlue];
  }
}

// Adds each pixel's red, green and blue to its column's sums.
GAPOHM_PIXEL_LOOP void addColumns(const std::uint32_t* __restrict p, std::size_t width, std::uint32_t* __restrict red,
                                  std::uint32_t* __restrict green, std::uint32_t* __restrict blue) {
  for (std::size_t x = 0; x < width; ++x) {
    red[x] += p[x] >> 16 & 0xFFU;
    green[x] += p[x] >> 8 & 0xFFU;
    blue[x] += p[x] & 0xFFU;
  }
}

std::size_t levelBufferSize(int level) {
  switch (level) {
    case 1: return ISAL_DEF_LVL1_SMALL;
    case 2: return ISAL_DEF_LVL2_SMALL;
    case 3: return ISAL_DEF_LVL3_SMALL;
    default: return 0;
  }
}

// Adds each byte of a row of pixels to its own 16-bit sum.
GAPOHM_PIXEL_LOOP void addBytes(const unsigned char* __restrict p, std::size_t bytes, std::uint16_t* __restrict sums) {
  for (std::size_t i = 0; i < bytes; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + p[i]);
}

// (sum + count / 2) / count, the rounded mean, for sums of up to 2^17 and a
// count of up to 256, as a multiplication: a division for each of a
// thumbnail's channels costs more than summing its boxes.
class RoundedMean {
 public:
  explicit RoundedMean(std::uint32_t count)
      : half_(count / 2), reciprocal_(((std::uint64_t{1} << 32) + count - 1) / count) {}
  std::uint32_t operator()(std::uint32_t sum) const {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(sum + half_) * reciprocal_) >> 32);
  }

 private:
  std::uint32_t half_;
  std::uint64_t reciprocal_;
};

// Sums image rows into the factor x factor boxes of a shrunk image and sets
// each output row once its last input row is in: per column first (a loop the
// compiler vectorises), then over each box's columns. Rows are given in order,
// each while it is in the cache anyway (the PNG pass), so shrinking costs no
// pass of its own over the pixels. Up to kPackedFactor, a column's sums are
// kept in 16 bits a byte of the pixel, and a box's four sums add up in one
// 64-bit word (a box holds at most 16 x 16 x 255); beyond it, in 32 bits a
// channel.
class BoxShrinker {
 public:
  BoxShrinker(const Image& in, int factor, Image& out)
      : in_(in),
        factor_(factor),
        out_(out),
        packed_(factor <= kPackedFactor),
        sums_(packed_ ? 0 : 3 * static_cast<std::size_t>(std::max(in.width(), 0)), 0U),
        byteSums_(packed_ ? 4 * static_cast<std::size_t>(std::max(in.width(), 0)) : 0, 0U) {}

  void addRow(int y) {
    const auto width = static_cast<std::size_t>(in_.width());
    const unsigned char* bytes = in_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(in_.stride());
    if (packed_) {
      addBytes(bytes, 4 * width, byteSums_.data());
    } else {
      addColumns(reinterpret_cast<const std::uint32_t*>(bytes), width, sums_.data(), sums_.data() + width,
                 sums_.data() + 2 * width);
    }
    if ((y + 1) % factor_ != 0 && y + 1 != in_.height()) return;
    const int rows = y + 1 - y / factor_ * factor_;
    if (packed_) {
      finishPackedRow(y / factor_, rows);
    } else {
      finishRow(y / factor_, rows);
    }
  }

 private:
  static constexpr int kPackedFactor = 16;

  std::uint32_t* outputRow(int oy) const {
    return reinterpret_cast<std::uint32_t*>(out_.data() + static_cast<std::size_t>(oy) * static_cast<std::size_t>(out_.stride()));
  }

  void finishPackedRow(int oy, int rows) {
    const auto width = static_cast<std::size_t>(in_.width());
    const auto factor = static_cast<std::size_t>(factor_);
    std::uint32_t* row = outputRow(oy);
    const RoundedMean whole(static_cast<std::uint32_t>(rows * factor_));
    for (int ox = 0; ox < out_.width(); ++ox) {
      const std::size_t from = static_cast<std::size_t>(ox) * factor;
      const std::size_t to = std::min(width, from + factor);
      std::uint64_t box = 0;  // the pixel's four bytes' sums, 16 bits each, as its word holds them
      for (std::size_t x = from; x < to; ++x) {
        std::uint64_t column = 0;
        std::memcpy(&column, &byteSums_[4 * x], sizeof column);
        box += column;
      }
      const RoundedMean mean =
          to - from == factor ? whole : RoundedMean(static_cast<std::uint32_t>(rows) * static_cast<std::uint32_t>(to - from));
      row[ox] = mean(static_cast<std::uint32_t>(box >> 32 & 0xFFFFU)) << 16 |
                mean(static_cast<std::uint32_t>(box >> 16 & 0xFFFFU)) << 8 | mean(static_cast<std::uint32_t>(box & 0xFFFFU));
    }
    std::fill(byteSums_.begin(), byteSums_.end(), std::uint16_t{0});
  }

  void finishRow(int oy, int rows) {
    const auto width = static_cast<std::size_t>(in_.width());
    std::uint32_t* row = outputRow(oy);
    for (int ox = 0; ox < out_.width(); ++ox) {
      const std::size_t from = static_cast<std::size_t>(ox) * static_cast<std::size_t>(factor_);
      const std::size_t to = std::min(width, from + static_cast<std::size_t>(factor_));
      const std::uint64_t count = static_cast<std::uint64_t>(rows) * (to - from);
      std::uint32_t word = 0;
      for (std::size_t c = 0; c < 3; ++c) {
        const std::uint32_t* channel = sums_.data() + c * width;
        std::uint64_t sum = 0;
        for (std::size_t x = from; x < to; ++x) sum += channel[x];
        word = word << 8 | static_cast<std::uint32_t>((sum + count / 2) / count);
      }
      row[ox] = word;
    }
    std::fill(sums_.begin(), sums_.end(), 0U);
  }

  const Image& in_;
  int factor_;
  Image& out_;
  bool packed_;
  std::vector<std::uint32_t> sums_;       // red, green, blue column sums of the rows since the last output row
  std::vector<std::uint16_t> byteSums_;   // or each byte's column sums, when packed
};

// Compresses an image's rows into one zlib stream. The buffers are made up
// front, so that nothing with a destructor is made while libpng may jump.
class RowDeflater {
 public:
  // Each row packed is also added to `shrinker` when there is one, and set to
  // *blank when that is given once the row below has been compared with it.
  RowDeflater(const Image& image, int level, BoxShrinker* shrinker, const std::uint32_t* blank)
      : image_(image),
        shrinker_(shrinker),
        blank_(blank),
        level_(level),
        rowBytes_(1 + 3 * static_cast<std::size_t>(std::max(image.width(), 0))),
        rows_(kReadAround + rowBytes_ * kRowsAPass + kReadAround),
        out_(std::size_t{64} * 1024),
        levelBuffer_(levelBufferSize(level)) {}

  // Packs image row y into buffer slot k. Most rows of a figure are the same as
  // the one above (margins, the plot area between its lines); such a row is a
  // copy of the one packed before, which is still in its slot (k - 1, or the
  // pass's last slot for the first row of a pass).
  void packRowOnce(int y, int k) {
    const auto stride = static_cast<std::size_t>(image_.stride());
    const unsigned char* row = image_.data() + static_cast<std::size_t>(y) * stride;
    unsigned char* out = rows_.data() + kReadAround + static_cast<std::size_t>(k) * rowBytes_;
    if (y > 0 && std::memcmp(row, row - stride, stride) == 0) {
      const std::size_t previous = static_cast<std::size_t>(k > 0 ? k - 1 : kRowsAPass - 1);
      std::memcpy(out, rows_.data() + kReadAround + previous * rowBytes_, rowBytes_);
      return;
    }
    packRow(row, image_.width(), out);
  }

  // Hands the stream to `chunk(data, size)` piece by piece. Returns false when
  // ISA-L reports an error.
  template <typename Sink>
  bool run(Sink&& chunk) {
    // Zeroed first, so that no field isal_deflate_init leaves alone holds
    // whatever the stack had: the same figure must give the same bytes.
    isal_zstream stream;
    std::memset(&stream, 0, sizeof stream);
    isal_deflate_init(&stream);
    stream.level = static_cast<std::uint32_t>(level_);
    stream.level_buf = levelBuffer_.empty() ? nullptr : levelBuffer_.data();
    stream.level_buf_size = static_cast<std::uint32_t>(levelBuffer_.size());
    stream.gzip_flag = IGZIP_ZLIB;
    stream.flush = NO_FLUSH;
    for (int y = 0; y < image_.height(); y += kRowsAPass) {
      const int count = std::min(kRowsAPass, image_.height() - y);
      for (int k = 0; k < count; ++k) {
        packRowOnce(y + k, k);
        if (shrinker_ != nullptr) shrinker_->addRow(y + k);
        if (y + k > 0) blankRow(y + k - 1);
      }
      stream.next_in = rows_.data() + kReadAround;
      stream.avail_in = static_cast<std::uint32_t>(rowBytes_ * static_cast<std::size_t>(count));
      stream.end_of_stream = y + count >= image_.height() ? 1 : 0;
      do {
        stream.next_out = out_.data();
        stream.avail_out = static_cast<std::uint32_t>(out_.size());
        if (isal_deflate(&stream) != COMP_OK) return false;
        const std::size_t produced = out_.size() - stream.avail_out;
        if (produced > 0) chunk(out_.data(), produced);
      } while (stream.avail_in > 0 || stream.avail_out == 0 ||
               (stream.end_of_stream != 0 && stream.internal_state.state != ZSTATE_END));
    }
    blankRow(image_.height() - 1);
    return true;
  }

 private:
  // Only the span from the first to the last pixel that differs is set: a
  // figure's margins are blank already, and reading them costs less than
  // writing them again.
  void blankRow(int y) {
    if (blank_ == nullptr || y < 0) return;
    auto* row = reinterpret_cast<std::uint32_t*>(image_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.stride()));
    const std::uint32_t blank = *blank_;
    std::size_t from = 0;
    std::size_t to = static_cast<std::size_t>(std::max(image_.width(), 0));
    while (from + kBlankBlock <= to && blankBlock(row + from, blank)) from += kBlankBlock;
    while (from < to && row[from] == blank) ++from;
    while (to >= from + kBlankBlock && blankBlock(row + to - kBlankBlock, blank)) to -= kBlankBlock;
    while (to > from && row[to - 1] == blank) --to;
    std::fill(row + from, row + to, blank);
  }

  // Whether the kBlankBlock pixels from p all hold `blank`: a fixed count the
  // compiler turns into a few vector compares.
  static bool blankBlock(const std::uint32_t* p, std::uint32_t blank) {
    std::uint32_t differs = 0;
    for (std::size_t i = 0; i < kBlankBlock; ++i) differs |= p[i] ^ blank;
    return differs == 0;
  }

  static constexpr std::size_t kBlankBlock = 16;

  // Small enough for the buffers to come from, and go back to, the heap: fresh
  // pages cost a fault each.
  static constexpr int kRowsAPass = 16;
  // ISA-L may look at a few bytes on either side of its input; they stay zero
  // here rather than being whatever lies next to the buffer on the heap, which
  // could make the compressed bytes differ from run to run.
  static constexpr std::size_t kReadAround = 64;
  const Image& image_;
  BoxShrinker* shrinker_;
  const std::uint32_t* blank_;
  int level_;
  std::size_t rowBytes_;
  std::vector<unsigned char> rows_;
  std::vector<unsigned char> out_;
  std::vector<unsigned char> levelBuffer_;
};

// Where libpng's bytes go. A failed write is remembered rather than reported to
// libpng, which would jump out of the compression loop.
struct Output {
  std::FILE* file = nullptr;
  int error = 0;
};

void writeBytes(png_structp png, png_bytep data, png_size_t size) {
  auto* output = static_cast<Output*>(png_get_io_ptr(png));
  if (output->error != 0) return;
  errno = 0;
  if (std::fwrite(data, 1, size, output->file) != size) output->error = errno != 0 ? errno : EIO;
}

void flushBytes(png_structp png) {
  auto* output = static_cast<Output*>(png_get_io_ptr(png));
  if (output->error == 0 && std::fflush(output->file) != 0) output->error = errno != 0 ? errno : EIO;
}

}  // namespace

int shrinkFactor(int width, int maxWidth) { return std::max(1, (width + maxWidth - 1) / std::max(1, maxWidth)); }

void boxFilter(const Image& in, int factor, Image& out) {
  BoxShrinker shrinker(in, factor, out);
  for (int y = 0; y < in.height(); ++y) shrinker.addRow(y);
}

bool writePng(const std::string& path, const Image& image, int level, std::string& error, const PngPass& pass) {
  if (image.data() == nullptr) {
    error = "no pixels to write";
    return false;
  }
  std::unique_ptr<BoxShrinker> shrinker;
  if (pass.shrunk != nullptr) shrinker = std::make_unique<BoxShrinker>(image, pass.factor, *pass.shrunk);
  RowDeflater deflater(image, level, shrinker.get(), pass.blank ? &pass.blankPixel : nullptr);
  Output output;
  output.file = std::fopen(path.c_str(), "wb");
  if (output.file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  // libpng would print its own line for an error; the caller reports it.
  png_structp png = png_create_write_struct(
      PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
      [](png_structp, png_const_charp) {});
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    std::fclose(output.file);
    error = "out of memory";
    return false;
  }
  // libpng reports its own errors by jumping back here.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(output.file);
    error = "the PNG file could not be made";
    return false;
  }
  png_set_write_fn(png, &output, writeBytes, flushBytes);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  // The rows are compressed here rather than by libpng, and go out as IDAT
  // chunks that libpng frames and checksums; IEND closes the file.
  const bool deflated = deflater.run([png](const unsigned char* data, std::size_t size) {
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data, size);
  });
  if (deflated) png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  png_destroy_write_struct(&png, &info);
  errno = 0;
  if (std::fclose(output.file) != 0 && output.error == 0) output.error = errno != 0 ? errno : EIO;
  if (!deflated) {
    error = "the image could not be compressed";
    return false;
  }
  if (output.error != 0) {
    error = std::strerror(output.error);
    return false;
  }
  return true;
}

}  // namespace tk
