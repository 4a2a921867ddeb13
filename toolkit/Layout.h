// Where everything of a figure goes, worked out apart from painting: the frame
// in page pixels, the axis ranges and ticks with their labels, the axis titles,
// the legend boxes and their rows, and the map from user coordinates to pixels.
// The painter draws what this says, and tests can check a figure's geometry
// against the look users know without decoding a single pixel.
//
// Page pixels have their origin at the bottom-left corner of the canvas, y
// upwards; an image row is height - y counted from the top.
#pragma once

#include <string>
#include <vector>

#include "toolkit/Graph.h"
#include "toolkit/Look.h"
#include "toolkit/Style.h"

namespace tk {

class Canvas;

// A text's reference height: the height of capitals relative to the text size
// (the line's full height), which is how the painter sizes text.
inline constexpr double kCapitalPerSize = 0.72;
// The average advance of a character (capitals and digits) relative to the text
// size, for the style's font family ("sans", "serif", "mono").
double advancePerSize(const std::string& font);

// A rectangle in page pixels, (x1, y1) lower-left, (x2, y2) upper-right.
struct PixelBox {
  double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
};

// A text placed on the page: its reference point (vertically centred on the
// capitals), its justification (0 left, 0.5 centre, 1 right, along the text),
// whether it reads upwards, its size (line height, pixels) and its markup.
struct PlacedText {
  std::string text;
  double x = 0.0, y = 0.0;
  double just = 0.0;
  bool vertical = false;
  double sizePx = 0.0;
};

// One axis: its range in user units, the ticks (values and page-pixel positions
// along the axis) and the primary ticks' labels.
struct AxisLayout {
  AxisRange range;
  Ticks ticks;                        // values, labels and x10^n exponent
  std::vector<double> primaryPx;      // one per ticks.primary
  std::vector<double> secondaryPx;    // one per ticks.secondary
  double primaryLength = 0.0;         // pixels, inwards from the axis
  double secondaryLength = 0.0;
};

// A legend row: the rectangle it fills, its label, where its sample and its
// text go; the header row (if any) comes first and has no sample.
struct LegendRowLayout {
  PixelBox box;
  bool header = false;
  std::string label;
  std::string option;
  double sampleX = 0.0, sampleY = 0.0;  // centre of the marker sample
  PlacedText text;
};

struct LegendLayout {
  PixelBox box;
  double textSizePx = 0.0;
  std::vector<LegendRowLayout> rows;
};

// A fit box: its rectangle and one text a row.
struct TextBoxLayout {
  PixelBox box;
  double textSizePx = 0.0;
  std::vector<PlacedText> rows;
};

struct FigureLayout {
  int width = 0;
  int height = 0;
  bool hasFrame = false;     // false: nothing drawn sets a frame (only legends)
  PixelBox frame;            // the plot area
  AxisLayout x;
  AxisLayout y;
  std::vector<PlacedText> xLabels;  // one per x primary tick
  std::vector<PlacedText> yLabels;
  PlacedText xExponent;   // "#times10^{n}" at the x axis's end; text empty when not shown
  PlacedText yExponent;   // the same above the y axis
  std::vector<PlacedText> titles;     // x title, then y title, those not empty
  std::vector<LegendLayout> legends;  // in drawing order
  std::vector<TextBoxLayout> textBoxes;  // in drawing order
  std::vector<PlacedText> texts;         // free texts, in drawing order

  // User coordinates to page pixels (linear over the frame).
  double pxOfX(double v) const;
  double pxOfY(double v) const;
  // User coordinates to an image's column and row (row 0 at the top), rounded
  // to the pixel whose square holds the point.
  int columnOf(double v) const;
  int rowOf(double v) const;
};

// The layout of everything drawn on the canvas so far. The frame's ranges come
// from the first graph drawn with axes (as it was drawn), else from the first
// histogram; empty or non-finite ranges are widened to one unit.
FigureLayout layoutFigure(const Canvas& canvas);

}  // namespace tk
