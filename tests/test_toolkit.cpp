// The toolkit's histograms and fit errors, against the behaviours the program's
// diagnostic figures and numbers rest on.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <string>

#include <cmath>
#include <limits>
#include <vector>

#include "toolkit/Fit.h"
#include "toolkit/Histogram.h"
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
