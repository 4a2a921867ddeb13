// The toolkit's histograms and fit errors, against the behaviours the program's
// diagnostic figures and numbers rest on.
#include <cairo.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <string>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "toolkit/Fit.h"
#include "toolkit/Histogram.h"
#include "toolkit/Look.h"
#include "tests/TestSupport.h"
#include "toolkit/MarkerStamps.h"
#include "toolkit/Png.h"
#include "toolkit/PngRead.h"
#include "toolkit/SafeFile.h"

namespace {

// Half-open bins [low, up): the upper edge and NaN go to the overflow.
TEST(Histogram, ValuesLandInHalfOpenBins) {
  struct Case {
    double value;
    int bin;  // -1 underflow, 10 overflow
  };
  const Case cases[] = {{0.0, 0},   {-0.001, -1}, {5.0, 5},  {4.999, 4}, {9.999, 9},
                        {10.0, 10}, {1e300, 10},  {-1e300, -1}, {std::nan(""), 10}};
  for (const auto& c : cases) {
    tk::Histogram h("h", "h", 10, 0, 10);
    h.Fill(c.value);
    std::vector<double> got{h.underflow()};
    for (int b = 0; b < 10; ++b) got.push_back(h.content(b));
    got.push_back(h.overflow());
    std::vector<double> want(12, 0.0);
    want[static_cast<std::size_t>(c.bin + 1)] = 1;
    EXPECT_EQ(got, want) << c.value;
    EXPECT_EQ(h.entries(), 1);
  }
}

// Built with lower edge >= upper edge, the range comes from the data: its span
// (2 wide around a single value) widened by 10% each side, the lower end kept
// at 0 for non-negative data, rounded outwards to the tick step; bins kept.
TEST(Histogram, AutomaticRangeFromTheData) {
  struct Case {
    std::vector<double> data;
    double low, high;
  };
  const Case cases[] = {
      {{3.2}, 2.0, 4.4},
      {{0.5, 0.5, 0.5}, 0.0, 1.8},
      {{-3, 7}, -4.0, 8.0},
      {{2, 12.3}, 0.0, 14.0},
      {{2, 12.3, std::nan("")}, 0.0, 14.0},  // NaN sets no edge
  };
  for (const auto& c : cases) {
    tk::Histogram h("h", "h", 50, 0, 0);
    for (double v : c.data) h.Fill(v);
    EXPECT_NEAR(h.low(), c.low, 1e-12) << c.data.front();
    EXPECT_NEAR(h.high(), c.high, 1e-12) << c.data.front();
    EXPECT_EQ(h.bins(), 50);
    double inside = 0;
    for (int b = 0; b < 50; ++b) inside += h.content(b);
    EXPECT_EQ(inside + h.overflow() + h.underflow(), static_cast<double>(c.data.size()));
  }
}

// Without scatter to scale by (chi2 = 0) the errors stay those of unit point
// errors; with scatter they are scaled by sqrt(chi2 / NDF).
TEST(FitErrors, UnitErrorsWithoutScatterScaledWithIt) {
  struct Case {
    std::vector<double> y;
    bool line;
    double err0, err1;
  };
  const Case cases[] = {
      {{1, 3, 5, 7}, true, std::sqrt(0.7), std::sqrt(0.2)},  // (X^T X)^-1 of x = 0..3
      {{5, 5, 5, 5}, false, 0.5, 0.0},                       // 1 / sqrt(n)
      {{0, 2, 0, 2}, false, 0.5 * std::sqrt(4.0 / 3.0), 0.0},  // chi2 4, NDF 3
      {{1, 3, 5, 11}, true, std::sqrt(0.7 * 4.8 / 2), std::sqrt(0.2 * 4.8 / 2)},  // chi2 4.8, NDF 2
  };
  for (const auto& c : cases) {
    tk::Graph g;
    for (int i = 0; i < 4; ++i) g.AddPoint(i, c.y[static_cast<std::size_t>(i)]);
    const auto f = c.line ? tk::fitLine(g, 3, 0, "f") : tk::fitConstant(g, 0, 3, "f");
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(f->err[0], c.err0, 1e-9) << c.y.back();
    EXPECT_NEAR(c.line ? f->err[1] : 0.0, c.err1, 1e-9) << c.y.back();
    EXPECT_EQ(f->ndf, c.line ? 2 : 3);
  }
}

}  // namespace

// A write the device refuses is a failure with its reason, not bytes written:
// a full disk must never leave a report that looks complete.
TEST(SafeFile, AWriteTheDeviceRefusesIsAFailure) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full on this machine";
  const std::string bytes(100000, 'x');
  errno = 0;
  EXPECT_FALSE(tk::writeFully(fd, bytes.data(), bytes.size()));
  EXPECT_EQ(errno, ENOSPC);
  ::close(fd);
}

// A stamped marker against the same marker drawn straight with cairo (fill, then
// a 1 px stroke, as the figures' painter draws it) at sub-pixel positions: the
// same pixels within antialiasing (a centre off by at most 1/32 px), none
// outside the clip box, and every shape and colour in its place.
TEST(MarkerStamps, StampedMarkersMatchDirectDrawingAndStayInTheirBox) {
  constexpr int kSize = 40;
  struct Case {
    int style;
    double x, y;
    int colour;
  };
  const std::vector<Case> cases = {{20, 20.0, 20.0, 632},   {20, 19.53, 20.27, 600}, {21, 20.9, 19.1, 416},
                                   {24, 20.31, 20.69, 1},   {2, 20.25, 19.75, 880},  {3, 19.97, 20.03, 800},
                                   {29, 20.44, 20.56, 860}, {33, 20.1, 20.6, 616},   {1, 20.5, 20.5, 1},
                                   {25, 20.75, 19.2, 432},  {22, 20.0, 20.5, 900},   {28, 20.6, 20.2, 840}};
  for (const Case& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style) + " at " + std::to_string(c.x) + ", " + std::to_string(c.y));
    const tk::MarkerLook look = tk::markerLook(c.style, 2.0);
    const auto outline = tk::markerOutline(look);
    const tk::Rgb rgb = tk::colourOf(c.colour);
    cairo_surface_t* direct = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kSize, kSize);
    cairo_t* cr = cairo_create(direct);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, rgb.r / 255.0, rgb.g / 255.0, rgb.b / 255.0);
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    for (std::size_t k = 0; k < outline.size(); ++k) {
      if (look.shape == tk::MarkerShape::Dot) cairo_rectangle(cr, c.x - 0.5, c.y - 0.5, 1, 1);
      for (std::size_t i = 0; look.shape != tk::MarkerShape::Dot && i < outline[k].size(); ++i) {
        cairo_line_to(cr, c.x + outline[k][i].first, c.y - outline[k][i].second);
      }
      if (look.filled && k == 0) cairo_fill_preserve(cr);
      cairo_stroke(cr);
    }
    cairo_surface_flush(direct);
    std::vector<std::uint32_t> stamped(kSize * kSize, 0xffffffU), clipped = stamped;
    tk::MarkerStamps stamps(look, outline, rgb);
    stamps.paint(c.x, c.y, reinterpret_cast<std::uint8_t*>(stamped.data()), kSize * 4, 0, 0, kSize, kSize);
    stamps.paint(c.x, c.y, reinterpret_cast<std::uint8_t*>(clipped.data()), kSize * 4, 0, 0, 21, 20);
    const auto* want = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(direct));
    int worst = 0;
    long inked = 0, inkedWant = 0;
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const std::uint32_t a = want[y * cairo_image_surface_get_stride(direct) / 4 + x], b = stamped[y * kSize + x];
        for (int shift = 0; shift < 24; shift += 8) {
          const int da = 255 - static_cast<int>((a >> shift) & 255U), db = 255 - static_cast<int>((b >> shift) & 255U);
          worst = std::max(worst, std::abs(da - db));
          inked += db, inkedWant += da;
        }
        const bool inBox = x < 21 && y < 20;
        const bool cut = look.filled && ((x == 21 && y < 20) || (y == 20 && x < 21));  // half the cover there
        const std::uint32_t got = clipped[y * kSize + x], inner = clipped[(y == 20 ? 19 : y) * kSize + std::min(x, 20)];
        for (int shift = 0; cut && shift < 24; shift += 8) {
          EXPECT_GE((got >> shift) & 255U, (inner >> shift) & 255U) << "pixel " << x << ", " << y;
        }
        if (!cut) {
          EXPECT_EQ(got, inBox ? b : 0xffffffU) << "pixel " << x << ", " << y;
        }
      }
    }
    EXPECT_GT(inkedWant, 0);
    EXPECT_LE(worst, 40);                                        // antialiased edges only
    EXPECT_NEAR(static_cast<double>(inked), static_cast<double>(inkedWant), 0.03 * inkedWant + 60);  // same ink
    cairo_destroy(cr);
    cairo_surface_destroy(direct);
  }
}

// Random pixels (the unused high byte too) in rows that repeat in runs, as a
// figure's do, so that every shortcut for a row like the one above is taken.
static tk::Image repeatingImage(int width, int height, unsigned state) {
  tk::Image image(width, height);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = image.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.stride());
    const bool repeat = y > 0 && (state = state * 1664525U + 1013904223U) % 3 != 0;
    for (int x = 0; x < 4 * width; ++x) {
      row[x] = repeat ? row[x - image.stride()] : static_cast<unsigned char>((state = state * 1664525U + 1013904223U) >> 24);
    }
  }
  return image;
}

// Box filter and PNG rows against a plain reckoning: boxes and 4-pixel groups that
// do not come out even, factors on both sides of the packed sums' limit of 16.
TEST(ImagePixels, BoxFilterAndPngRowsMatchAPlainReckoning) {
  const testsupport::ScratchDir dir;
  for (const auto& [width, height, factor] : std::vector<std::array<int, 3>>{
           {1, 1, 1}, {7, 5, 2}, {37, 23, 9}, {50, 40, 16}, {53, 41, 17}, {2000, 30, 9}}) {
    const tk::Image in = repeatingImage(width, height, static_cast<unsigned>(width * 31 + factor));
    tk::Image out((width + factor - 1) / factor, (height + factor - 1) / factor);
    tk::boxFilter(in, factor, out);
    for (int oy = 0; oy < out.height(); ++oy) {
      for (int ox = 0; ox < out.width(); ++ox) {
        unsigned long sums[3] = {0, 0, 0}, count = 0, expected = 0;
        for (int y = oy * factor; y < std::min(height, (oy + 1) * factor); ++y) {
          for (int x = ox * factor; x < std::min(width, (ox + 1) * factor); ++x, ++count) {
            for (int c = 0; c < 3; ++c) sums[c] += in.pixel(x, y) >> (16 - 8 * c) & 0xFF;
          }
        }
        for (const unsigned long sum : sums) expected = expected << 8 | (sum + count / 2) / count;
        ASSERT_EQ(out.pixel(ox, oy), expected) << width << "x" << height << " / " << factor << " at " << ox << "," << oy;
      }
    }
    std::string error;
    tk::RgbPixels back;
    tk::Image shrunk(out.width(), out.height());  // made in the PNG pass
    tk::PngPass pass;
    pass.shrunk = &shrunk;
    pass.factor = factor;
    ASSERT_TRUE(tk::writePng(dir.file("image.png"), in, 0, error, pass)) << error;
    for (int oy = 0; oy < out.height(); ++oy) {
      for (int ox = 0; ox < out.width(); ++ox) ASSERT_EQ(shrunk.pixel(ox, oy), out.pixel(ox, oy)) << width << " / " << factor;
    }
    ASSERT_EQ(tk::readPngRgb(dir.file("image.png"), 1UL << 24, back, error), tk::PngReadStatus::Ok) << error;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const unsigned char* rgb = &back.rgb[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
        ASSERT_EQ(static_cast<unsigned long>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2], in.pixel(x, y)) << width << " at " << x << "," << y;
      }
    }
  }
}

// The blank pass leaves no pixel of the figure behind, wherever it lies in its
// row (the blank margins are skipped, not the marks between them), and the PNG
// still holds the figure as it was.
TEST(ImagePixels, TheBlankPassLeavesEveryPixelBlank) {
  const testsupport::ScratchDir dir;
  constexpr std::uint32_t kBlank = 0xFFFFFF;
  for (const int width : {1, 15, 17, 33, 2000}) {
    std::vector<std::vector<int>> marks{{}, {0}, {width - 1}, {width / 2}, {0, width - 1}};
    for (const int x : {14, 15, 16, 17, 31, 32}) {
      if (x < width) marks.push_back({x});
    }
    tk::Image image(width, static_cast<int>(marks.size()));
    image.fill(0xFF, 0xFF, 0xFF);
    for (std::size_t y = 0; y < marks.size(); ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(image.data() + y * static_cast<std::size_t>(image.stride()));
      for (const int x : marks[y]) row[x] = 0x102030U + static_cast<std::uint32_t>(x);
    }
    tk::PngPass pass;
    pass.blank = true;
    pass.blankPixel = kBlank;
    std::string error;
    ASSERT_TRUE(tk::writePng(dir.file("figure.png"), image, 0, error, pass)) << error;
    tk::RgbPixels back;
    ASSERT_EQ(tk::readPngRgb(dir.file("figure.png"), 1UL << 24, back, error), tk::PngReadStatus::Ok) << error;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < width; ++x) {
        ASSERT_EQ(image.pixel(x, y), kBlank) << width << " wide, row " << y << ", pixel " << x;
        const unsigned char* rgb = &back.rgb[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
        const bool marked = std::find(marks[static_cast<std::size_t>(y)].begin(), marks[static_cast<std::size_t>(y)].end(), x) !=
                            marks[static_cast<std::size_t>(y)].end();
        const unsigned long was = marked ? 0x102030UL + static_cast<unsigned long>(x) : kBlank;
        ASSERT_EQ(static_cast<unsigned long>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2], was) << width << " at " << x << "," << y;
      }
    }
  }
}
