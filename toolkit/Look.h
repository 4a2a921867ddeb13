// The look of a figure as users know it from their physics plots, independent of
// the library that paints it: colour indices to RGB, marker styles to shapes,
// "nice" axis ticks with their labels, and the title markup turned into the
// painter's text escapes. Everything here is a pure function of its arguments.
#pragma once

#include <string>
#include <vector>

namespace tk {

// A colour as 0-255 red, green, blue.
struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The RGB of a colour index: 0 white, 1 black, 2-9 the basic colours, 10-19 near
// white and greys, 20-50 pastel browns, greens and blues, 51-100 a rainbow from
// violet to red, and the colour wheel around each named hue below: indices
// hue-10 to hue+10, the shades users know by name ("kOrange+7" is 807). Where the
// wheel publishes a shade it is that shade: kRed, kGreen, kBlue, kYellow,
// kMagenta and kCyan from -10 (lightest) to +4 (darkest), kOrange, kSpring, kTeal,
// kAzure, kViolet and kPink from -9 to +10, kGray from 0 to +3. The offsets the
// wheel leaves empty are the toolkit's own approximation: the hue keeps its
// channels and fades evenly from the nearest published shade, -n towards white,
// +n towards black, the last offset one step short of either. Where two hues'
// offsets meet (kYellow+6 is kGreen-10, 406) the index has one colour, the
// published one. Any other index is black, so a marker or line in an unknown
// colour stays visible on the white canvas.
Rgb colourOf(int index);

// Whether a colour is white or so near it (every channel 220 or more) that its
// markers vanish on the white frame.
bool nearWhite(int index);

// The colour index of a colour's name as physics macros write it, without an
// offset: "kWhite" 0, "kBlack" 1, and the wheel's hues "kGray" 920, "kRed" 632,
// "kGreen" 416, "kBlue" 600, "kYellow" 400, "kMagenta" 616, "kCyan" 432,
// "kOrange" 800, "kSpring" 820, "kTeal" 840, "kAzure" 860, "kViolet" 880, "kPink"
// 900. -1 for any other name. Every hue-10..hue+10 of a wheel hue, and every
// kWhite+n and kBlack+n that is not negative, has a colour in colourOf.
int colourIndexOfName(const std::string& name);

// The largest offset a named colour may carry: beyond it the index belongs to
// no shade of the hue.
constexpr int kLargestColourOffset = 10;

// The shapes a marker style is drawn as.
enum class MarkerShape {
  Dot,           // one pixel
  Plus,          // "+"
  Asterisk,      // "*": plus and x together
  Cross,         // "x"
  Circle,
  Square,
  TriangleUp,
  TriangleDown,
  Diamond,       // width 2/3 of its height
  ThickCross,    // the broad "+" of styles 28 and 34
  Star,          // five-pointed
};

// How a marker style and size are drawn: its shape, whether it is filled, and its
// extent across in pixels (8 px per unit of size, at most 200 px, 0 for a size
// that is negative or not a number; styles 1, 6 and 7 keep a fixed small size
// whatever the size asks).
struct MarkerLook {
  MarkerShape shape = MarkerShape::Circle;
  bool filled = true;
  double sizePx = 8.0;
};
MarkerLook markerLook(int style, double size);

// The outline of a marker centred on (0, 0), in pixels with y upwards, as
// polylines; a filled marker is its first polyline filled. Dot gives a single
// point.
std::vector<std::vector<std::pair<double, double>>> markerOutline(const MarkerLook& look);

// Ticks of an axis over [low, high]: the smallest primary step of 1, 2 or 5 x 10^k
// giving at most 1.25 x `divisions` steps over the range (about that many), secondary ticks
// dividing each primary step into `subdivisions`, and the labels of the primary
// ticks. When a label would need more than 5 digits, labels show value / 10^exponent
// (exponent a multiple of 3) and the axis carries "x10^exponent" at its end;
// exponent is 0 otherwise. A range with low >= high or not finite gives no ticks.
struct Ticks {
  double step = 0.0;
  std::vector<double> primary;
  std::vector<double> secondary;
  std::vector<std::string> labels;  // one per primary tick
  int exponent = 0;
};
Ticks chooseTicks(double low, double high, int divisions = 10, int subdivisions = 5);

// The primary step chooseTicks takes for a range (0 when the range is empty).
double niceStep(double span, int divisions);

// A tick value as a label: the fewest decimals the step needs, no trailing zeros,
// "0" for values within rounding of zero ("0", "0.5", "1", "2.25").
std::string tickLabel(double value, double step);

// Converts title markup to the painter's text: "^{...}" superscript and "_{...}"
// subscript (nesting allowed), "#" commands for Greek letters ("#alpha",
// "#Omega"), "#times", "#pm", "#circ", "#mu" and a few others to their Unicode
// characters, "#" before anything else and "#" itself stay literal. A "#" that
// reaches the painter is escaped as "##". Unbalanced braces are taken literally;
// bytes that are not well-formed UTF-8 become "?". Never throws.
std::string toPlplotText(const std::string& markup);

}  // namespace tk
