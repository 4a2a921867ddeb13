// Markers painted onto a raster page without rasterising each one: a marker of
// one look and colour is rasterised once per sub-pixel phase (kPhases x kPhases
// positions inside a pixel) into a small premultiplied image, a stamp, which is
// then composited at whole-pixel positions. A graph of 10^6 points costs 10^6
// small copies instead of 10^6 path fills and strokes.
//
// A stamp is drawn as the plotting library's cairo device draws a marker (a
// filled outline is filled and then stroked 1 px wide, bevel joins, butt caps;
// an open one stroked), so a stamped marker differs from a directly drawn one
// only in antialiasing: its centre moves by at most half a phase step (1/16 px,
// about the device's own rounding of coordinates) and the two passes of a filled
// marker are blended once instead of twice (a unit or so in a channel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "toolkit/Look.h"

namespace tk {

class MarkerStamps {
 public:
  static constexpr int kPhases = 16;  // sub-pixel positions per pixel, each way
  // Markers larger than this are drawn directly (their stamps would be large and
  // few of them fit a figure anyway).
  static constexpr double kMaxSizePx = 48.0;

  // Stamps of the marker `look` with `outline` (pixels, y upwards, as
  // markerOutline gives it) in colour `colour`; none is made before it is used.
  MarkerStamps(const MarkerLook& look, std::vector<std::vector<std::pair<double, double>>> outline, Rgb colour);

  // How far the marker's pixels may reach from its centre, in whole pixels.
  int reach() const { return pad_; }

  // Composites the marker centred at (x, y), in pixels from the top-left corner
  // (y downwards), over the 32-bit xRGB pixels `data` (`stride` bytes a row) with
  // the OVER operator, clipped to the box [x0, x1) x [y0, y1). A filled marker
  // cut by the box also leaves, as the library's clipped fill and stroke do,
  // half its cover on the first pixel row or column beyond the cut. The caller
  // keeps the box and a pixel around it inside the image.
  void paint(double x, double y, std::uint8_t* data, int stride, int x0, int y0, int x1, int y1);

 private:
  struct Stamp {
    bool made = false;
    // Rows and columns holding any coverage; empty when first > last.
    int firstRow = 0, lastRow = -1, firstCol = 0, lastCol = -1;
    std::vector<std::uint32_t> pixels;  // premultiplied ARGB, size_ x size_
  };
  void make(Stamp& stamp, int phaseX, int phaseY) const;

  MarkerLook look_;
  std::vector<std::vector<std::pair<double, double>>> outline_;
  Rgb colour_;
  int pad_;   // pixels from a stamp's edge to the pixel holding the centre
  int size_;  // a stamp's width and height
  std::vector<Stamp> stamps_;  // kPhases * kPhases, row-major by vertical phase
};

// The stamps of every marker look and colour painted so far, so that figures
// painted one after another (a run's, a batch worker's) rasterise each stamp
// once: a 65-point curve lands on about as many phases as it has points, so
// stamps made afresh for each graph cost more than the markers they replace.
// A stamp depends on nothing but its look, colour and phase, so a figure's
// pixels are the same whatever the book held before.
class MarkerStampBook {
 public:
  // The stamps of `look` in `colour`, made on first use. The reference holds
  // until the next call (a full book is emptied first).
  MarkerStamps& stampsFor(const MarkerLook& look, Rgb colour);

 private:
  // Looks kept at most: a worker's figures use a handful; the bound keeps a
  // long run of odd styles from growing the book without end.
  static constexpr std::size_t kMaxLooks = 64;
  using Key = std::tuple<int, bool, double, int, int, int>;
  std::map<Key, std::unique_ptr<MarkerStamps>> book_;
};

}  // namespace tk
