// Text on a PNG page, drawn where and as the plotting library's cairo device
// draws it (the same Pango markup, font, reference point, transform and clip,
// so the same pixels), without the device's cost per string: the device makes
// a Pango context for every string, parses its markup and shapes it twice, and
// a third time to measure it first when it is centred or right-aligned. A
// PageTextBook keeps one context and the laid-out copy of every string drawn so
// far, for all the figures a run or a batch worker paints.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

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

}  // namespace tk
