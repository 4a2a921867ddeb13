// Text on a PNG page, drawn where and as the plotting library's cairo device
// draws it (the same Pango markup, font, reference point, transform and clip,
// so the same pixels), without the device's cost per string: the device makes
// a Pango context for every string, parses its markup and shapes it twice, and
// a third time to measure it first when it is centred or right-aligned. A
// PageTextBook keeps one context and the laid-out copy of every string drawn so
// far, for all the figures a run or a batch worker paints.
#pragma once

#include <cairo.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tk {

class PageTextBook {
 public:
  PageTextBook();
  ~PageTextBook();
  PageTextBook(const PageTextBook&) = delete;
  PageTextBook& operator=(const PageTextBook&) = delete;

  // Draws `text` (the library's text: UTF-8 with the escapes "#u", "#d" and
  // "##") as the library's plptex(wx, wy, dx, dy, just, text) would on `page`,
  // the context handed to the library's extcairo stream that is current now
  // (between plinit and plend, with its window set): in the stream's current
  // colour, font and character height. Returns false, having drawn nothing,
  // for what it leaves to the library: other escapes, markup too long for the
  // device's buffer, a stream with a coordinate transform or a device filter.
  bool draw(cairo_t* page, double wx, double wy, double dx, double dy, double just, const std::string& text);

 private:
  struct Layouts;  // the Pango context and the laid-out strings
  std::unique_ptr<Layouts> layouts_;
};

// Draws the segments (x1, y1, x2, y2 in the current window's coordinates) on
// `page` as the library's pljoin draws each one (in the stream's colour and
// width, round caps), but a run of segments that lie apart from each other
// (ticks along an axis) in one stroke, which gives the pixels of one stroke a
// segment. Returns false, having drawn nothing, when a segment would be
// clipped or a dash style is set: the caller then joins them one by one.
bool joinApart(cairo_t* page, const std::vector<std::array<double, 4>>& segments);

}  // namespace tk
