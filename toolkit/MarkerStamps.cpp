#include "toolkit/MarkerStamps.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tk {

namespace {

// Each of the red, green and blue bytes of `rgb` times b / 255, rounded, as the
// compositor computes it byte by byte (t = x b + 128, (t + t / 256) / 256):
// red and blue side by side in one word, green in another. A premultiplied
// source added to the result cannot carry out of its byte.
inline std::uint32_t mulUn8x3(std::uint32_t rgb, std::uint32_t b) {
  std::uint32_t rb = (rgb & 0x00ff00ffU) * b + 0x00800080U;
  rb = ((rb + ((rb >> 8) & 0x00ff00ffU)) >> 8) & 0x00ff00ffU;
  std::uint32_t g = (rgb & 0x0000ff00U) * b + 0x00008000U;
  g = ((g + ((g >> 8) & 0x0000ff00U)) >> 8) & 0x0000ff00U;
  return rb | g;
}

// The premultiplied pixel s laid over the xRGB pixel d.
inline void over(std::uint32_t& d, std::uint32_t s) {
  const std::uint32_t alpha = s >> 24;
  if (alpha == 0) return;
  d = (d & 0xff000000U) | (alpha == 255 ? (s & 0x00ffffffU) : (s & 0x00ffffffU) + mulUn8x3(d, 255 - alpha));
}

// The index of (row, col) in a square of `size` pixels a side.
inline std::size_t indexOf(int row, int col, int size) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(size) + static_cast<std::size_t>(col);
}

// The plotting library draws outlines of at most this many points per call.
constexpr std::size_t kMaxOutlinePoints = 64;

}  // namespace

MarkerStamps::MarkerStamps(const MarkerLook& look, std::vector<std::vector<std::pair<double, double>>> outline,
                           Rgb colour)
    : look_(look), outline_(std::move(outline)), colour_(colour) {
  // Half the marker, half the 1 px stroke, and a pixel to spare for the phase.
  const double half = std::max(0.5, look.sizePx / 2.0) + 0.5;
  pad_ = static_cast<int>(std::ceil(half)) + 1;
  size_ = 2 * pad_ + 1;
  stamps_.resize(static_cast<std::size_t>(kPhases) * kPhases);
}

void MarkerStamps::make(Stamp& stamp, int phaseX, int phaseY) const {
  stamp.made = true;
  stamp.pixels.assign(static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_), 0U);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size_, size_);
  cairo_t* cr = cairo_create(surface);
  if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) {
    const double cx = pad_ + static_cast<double>(phaseX) / kPhases;
    const double cy = pad_ + static_cast<double>(phaseY) / kPhases;
    cairo_set_source_rgb(cr, colour_.r / 255.0, colour_.g / 255.0, colour_.b / 255.0);
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    if (look_.shape == MarkerShape::Dot) {
      cairo_rectangle(cr, cx - 0.5, cy - 0.5, 1.0, 1.0);
      cairo_fill_preserve(cr);
      cairo_stroke(cr);
    } else {
      for (std::size_t k = 0; k < outline_.size(); ++k) {
        const auto& line = outline_[k];
        const std::size_t n = std::min(line.size(), kMaxOutlinePoints);
        if (n == 0) continue;
        cairo_move_to(cr, cx + line[0].first, cy - line[0].second);
        for (std::size_t i = 1; i < n; ++i) cairo_line_to(cr, cx + line[i].first, cy - line[i].second);
        if (look_.filled && k == 0) cairo_fill_preserve(cr);
        cairo_stroke(cr);
      }
    }
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; data != nullptr && row < size_; ++row) {
      std::memcpy(&stamp.pixels[indexOf(row, 0, size_)],
                  data + static_cast<std::ptrdiff_t>(row) * stride, static_cast<std::size_t>(size_) * 4);
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  stamp.firstRow = size_;
  stamp.firstCol = size_;
  for (int row = 0; row < size_; ++row) {
    for (int col = 0; col < size_; ++col) {
      if ((stamp.pixels[indexOf(row, col, size_)] >> 24) == 0) continue;
      stamp.firstRow = std::min(stamp.firstRow, row);
      stamp.lastRow = std::max(stamp.lastRow, row);
      stamp.firstCol = std::min(stamp.firstCol, col);
      stamp.lastCol = std::max(stamp.lastCol, col);
    }
  }
}

void MarkerStamps::paint(double x, double y, std::uint8_t* data, int stride, int x0, int y0, int x1, int y1) {
  const double qx = std::floor(x * kPhases + 0.5);
  const double qy = std::floor(y * kPhases + 0.5);
  const int ix = static_cast<int>(std::floor(qx / kPhases));
  const int iy = static_cast<int>(std::floor(qy / kPhases));
  const int phaseX = static_cast<int>(qx - static_cast<double>(ix) * kPhases);
  const int phaseY = static_cast<int>(qy - static_cast<double>(iy) * kPhases);
  Stamp& stamp = stamps_[indexOf(phaseY, phaseX, kPhases)];
  if (!stamp.made) make(stamp, phaseX, phaseY);
  const int left = ix - pad_;
  const int top = iy - pad_;
  const int rowFrom = std::max(stamp.firstRow, y0 - top);
  const int rowTo = std::min(stamp.lastRow, y1 - 1 - top);
  const int colFrom = std::max(stamp.firstCol, x0 - left);
  const int colTo = std::min(stamp.lastCol, x1 - 1 - left);
  auto pixel = [&](int row, int col) -> std::uint32_t& {
    return reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(top + row) * stride)[left + col];
  };
  for (int row = rowFrom; row <= rowTo; ++row) {
    const std::uint32_t* in = &stamp.pixels[indexOf(row, 0, size_)];
    for (int col = colFrom; col <= colTo; ++col) over(pixel(row, col), in[col]);
  }
  if (!look_.filled || rowFrom > rowTo || colFrom > colTo) return;
  // The library clips a filled marker to the box and strokes the cut too: half
  // a pixel of the marker beyond each edge it crosses, under the frame line.
  auto half = [&](int row, int col) {
    const std::uint32_t s = stamp.pixels[indexOf(row, col, size_)];
    return (mulUn8x3(s >> 24, 128) << 24) | mulUn8x3(s, 128);
  };
  for (int col = colFrom; top + stamp.firstRow < y0 && col <= colTo; ++col) over(pixel(rowFrom - 1, col), half(rowFrom, col));
  for (int col = colFrom; top + stamp.lastRow >= y1 && col <= colTo; ++col) over(pixel(rowTo + 1, col), half(rowTo, col));
  for (int row = rowFrom; left + stamp.firstCol < x0 && row <= rowTo; ++row) over(pixel(row, colFrom - 1), half(row, colFrom));
  for (int row = rowFrom; left + stamp.lastCol >= x1 && row <= rowTo; ++row) over(pixel(row, colTo + 1), half(row, colTo));
}

MarkerStamps& MarkerStampBook::stampsFor(const MarkerLook& look, Rgb colour) {
  const Key key{static_cast<int>(look.shape), look.filled, look.sizePx, colour.r, colour.g, colour.b};
  auto found = book_.find(key);
  if (found != book_.end()) return *found->second;
  if (book_.size() >= kMaxLooks) book_.clear();
  auto made = std::make_unique<MarkerStamps>(look, markerOutline(look), colour);
  return *book_.emplace(key, std::move(made)).first->second;
}

}  // namespace tk
