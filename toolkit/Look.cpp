#include "toolkit/Look.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>

namespace tk {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Pastel browns (20-28), greens (29-37) and blues (38-50): mellow tones for fills
// and secondary markers, light enough to sit behind black markers.
const Rgb kPastels[31] = {
    {204, 178, 153}, {229, 204, 178}, {216, 191, 165}, {191, 165, 140}, {178, 153, 127},
    {165, 140, 114}, {153, 127, 102}, {140, 114, 89},  {127, 102, 76},  {178, 204, 153},
    {165, 191, 140}, {153, 178, 127}, {140, 165, 114}, {127, 153, 102}, {114, 140, 89},
    {102, 127, 76},  {89, 114, 63},   {76, 102, 51},   {153, 178, 204}, {140, 165, 191},
    {127, 153, 178}, {114, 140, 165}, {102, 127, 153}, {89, 114, 140},  {76, 102, 127},
    {63, 89, 114},   {178, 191, 216}, {165, 178, 204}, {153, 165, 191}, {140, 153, 178},
    {127, 140, 165},
};

// A colour of the given hue (degrees), full saturation and value, as 0-255.
Rgb fromHue(double hue) {
  const double h = std::fmod(hue, 360.0) / 60.0;
  const int sector = static_cast<int>(h);
  const double f = h - sector;
  const int up = static_cast<int>(f * 255.0);
  const int down = 255 - up;
  switch (sector) {
    case 0: return {255, up, 0};
    case 1: return {down, 255, 0};
    case 2: return {0, 255, up};
    case 3: return {0, down, 255};
    case 4: return {up, 0, 255};
    default: return {255, 0, down};
  }
}

int grey(double level) { return static_cast<int>(level * 255.0); }

// The colour wheel: shades of the named hues, as physics plotting has long
// published them. A "circle" hue is a channel mask: its shades run from pale
// (-10) to dark (+4), each the mask's channels at one level and the others at a
// lower one, in rows of one, two, ... five shades per lower level.
enum class WheelKind { Plain, Circle, Rectangle, Grey };

struct Channels {
  bool r, g, b;
};

// Orange, spring, teal, azure, violet and pink: twenty shades each, -9 to +10,
// in the order the wheel publishes them (not a monotone ramp).
const Rgb kOrangeShades[20] = {
    {255, 204, 153}, {204, 153, 102}, {153, 102, 51}, {153, 102, 0},  {204, 153, 51},
    {255, 204, 102}, {255, 153, 0},   {255, 204, 51}, {204, 153, 0},  {255, 204, 0},
    {255, 153, 51},  {204, 102, 0},   {102, 51, 0},   {153, 51, 0},   {204, 102, 51},
    {255, 153, 102}, {255, 102, 0},   {255, 102, 51}, {204, 51, 0},   {255, 51, 0}};
const Rgb kSpringShades[20] = {
    {153, 255, 51},  {102, 204, 0},   {51, 102, 0},   {51, 153, 0},   {102, 204, 51},
    {153, 255, 102}, {102, 255, 0},   {102, 255, 51}, {51, 204, 0},   {51, 255, 0},
    {204, 255, 153}, {153, 204, 102}, {102, 153, 51}, {102, 153, 0},  {153, 204, 51},
    {204, 255, 102}, {153, 255, 0},   {204, 255, 51}, {153, 204, 0},  {204, 255, 0}};
const Rgb kTealShades[20] = {
    {153, 255, 204}, {102, 204, 153}, {51, 153, 102}, {0, 153, 102},  {51, 204, 153},
    {102, 255, 204}, {0, 255, 102},   {51, 255, 204}, {0, 204, 153},  {0, 255, 204},
    {51, 255, 153},  {0, 204, 102},   {0, 102, 51},   {0, 153, 51},   {51, 204, 102},
    {102, 255, 153}, {0, 255, 153},   {51, 255, 102}, {0, 204, 51},   {0, 255, 51}};
const Rgb kAzureShades[20] = {
    {153, 204, 255}, {102, 153, 204}, {51, 102, 153}, {0, 51, 153},   {51, 102, 204},
    {102, 153, 255}, {0, 102, 255},   {51, 102, 255}, {0, 51, 204},   {0, 51, 255},
    {51, 153, 255},  {0, 102, 204},   {0, 51, 102},   {0, 102, 153},  {51, 153, 204},
    {102, 204, 255}, {0, 153, 255},   {51, 204, 255}, {0, 153, 204},  {0, 204, 255}};
const Rgb kVioletShades[20] = {
    {204, 153, 255}, {153, 102, 204}, {102, 51, 153}, {102, 0, 153},  {153, 51, 204},
    {204, 102, 255}, {153, 0, 255},   {204, 51, 255}, {153, 0, 204},  {204, 0, 255},
    {153, 51, 255},  {102, 0, 204},   {51, 0, 102},   {51, 0, 153},   {102, 51, 204},
    {153, 102, 255}, {102, 0, 255},   {102, 51, 255}, {51, 0, 204},   {51, 0, 255}};
const Rgb kPinkShades[20] = {
    {255, 51, 153},  {204, 0, 102},   {102, 0, 51},   {153, 0, 51},   {204, 51, 102},
    {255, 102, 153}, {255, 0, 102},   {255, 51, 102}, {204, 0, 51},   {255, 0, 51},
    {255, 153, 204}, {204, 102, 153}, {153, 51, 102}, {153, 0, 102},  {204, 51, 153},
    {255, 102, 204}, {255, 0, 153},   {204, 0, 153},  {255, 51, 204}, {255, 0, 153}};
// Grey, 0 to +3.
const Rgb kGreyShades[4] = {{204, 204, 204}, {153, 153, 153}, {102, 102, 102}, {51, 51, 51}};

// One named colour: the name macros use, its index, and how its wheel shades are
// found (a channel mask for a circle hue, a published list for the others).
struct NamedColour {
  const char* name;
  int base;
  WheelKind kind;
  Channels mask;
  const Rgb* shades;
};

// The one table behind both the names a macro may write and the shades the
// painter knows.
const NamedColour kNamedColours[] = {
    {"kWhite", 0, WheelKind::Plain, {}, nullptr},
    {"kBlack", 1, WheelKind::Plain, {}, nullptr},
    {"kGray", 920, WheelKind::Grey, {}, kGreyShades},
    {"kRed", 632, WheelKind::Circle, {true, false, false}, nullptr},
    {"kGreen", 416, WheelKind::Circle, {false, true, false}, nullptr},
    {"kBlue", 600, WheelKind::Circle, {false, false, true}, nullptr},
    {"kYellow", 400, WheelKind::Circle, {true, true, false}, nullptr},
    {"kMagenta", 616, WheelKind::Circle, {true, false, true}, nullptr},
    {"kCyan", 432, WheelKind::Circle, {false, true, true}, nullptr},
    {"kOrange", 800, WheelKind::Rectangle, {}, kOrangeShades},
    {"kSpring", 820, WheelKind::Rectangle, {}, kSpringShades},
    {"kTeal", 840, WheelKind::Rectangle, {}, kTealShades},
    {"kAzure", 860, WheelKind::Rectangle, {}, kAzureShades},
    {"kViolet", 880, WheelKind::Rectangle, {}, kVioletShades},
    {"kPink", 900, WheelKind::Rectangle, {}, kPinkShades},
};

// The offsets a hue's published shades span.
std::pair<int, int> publishedOffsets(WheelKind kind) {
  switch (kind) {
    case WheelKind::Circle: return {-10, 4};
    case WheelKind::Rectangle: return {-9, 10};
    case WheelKind::Grey: return {0, 3};
    case WheelKind::Plain: break;
  }
  return {1, 0};  // none
}

// The published shade of `hue` at `offset`, which lies within publishedOffsets.
Rgb publishedShade(const NamedColour& hue, int offset) {
  const int k = offset - publishedOffsets(hue.kind).first;
  if (hue.kind != WheelKind::Circle) return hue.shades[k];
  // Rows of 1, 2, ... 5 shades: row `row` has its other channels at 204 - 51 row,
  // and the mask's channels from 255 down in steps of 51.
  int row = 0;
  while ((row + 1) * (row + 2) / 2 <= k) ++row;
  const int level = 255 - 51 * (k - row * (row + 1) / 2);
  const int other = 204 - 51 * row;
  return {hue.mask.r ? level : other, hue.mask.g ? level : other, hue.mask.b ? level : other};
}

// Shade `hue` at `offset` within +-kLargestColourOffset where the wheel publishes
// none: the nearest published shade faded evenly towards white (below) or black
// (above), the outermost offset one step short of either.
Rgb fadedShade(const NamedColour& hue, int offset) {
  const auto [low, high] = publishedOffsets(hue.kind);
  const bool lighter = offset < low;
  const Rgb from = publishedShade(hue, lighter ? low : high);
  const int steps = lighter ? low + kLargestColourOffset : kLargestColourOffset - high;
  const double t = static_cast<double>(lighter ? low - offset : offset - high) / (steps + 1);
  auto fade = [&](int c) {
    return static_cast<int>(std::lround(lighter ? c + (255 - c) * t : c * (1.0 - t)));
  };
  return {fade(from.r), fade(from.g), fade(from.b)};
}

// The wheel's colour of an index; false for an index no hue reaches.
bool wheelColour(int index, Rgb& rgb) {
  // Published shades first: where one hue's faded offsets would reach another
  // hue's published shade, the published one is the colour users know.
  for (const NamedColour& hue : kNamedColours) {
    const auto [low, high] = publishedOffsets(hue.kind);
    const long offset = static_cast<long>(index) - hue.base;
    if (offset >= low && offset <= high) {
      rgb = publishedShade(hue, static_cast<int>(offset));
      return true;
    }
  }
  for (const NamedColour& hue : kNamedColours) {
    const long offset = static_cast<long>(index) - hue.base;
    if (hue.kind != WheelKind::Plain && offset >= -kLargestColourOffset && offset <= kLargestColourOffset) {
      rgb = fadedShade(hue, static_cast<int>(offset));
      return true;
    }
  }
  return false;
}

}  // namespace

bool nearWhite(int index) {
  const Rgb c = colourOf(index);
  return std::min({c.r, c.g, c.b}) >= 220;
}

Rgb colourOf(int index) {
  switch (index) {
    case 0: return {255, 255, 255};
    case 1: return {0, 0, 0};
    case 2: return {255, 0, 0};
    case 3: return {0, 255, 0};
    case 4: return {0, 0, 255};
    case 5: return {255, 255, 0};
    case 6: return {255, 0, 255};
    case 7: return {0, 255, 255};
    case 8: return {89, 211, 84};
    case 9: return {89, 84, 216};
    case 10: return {254, 254, 254};
    case 11: return {192, 182, 172};
    case 19: return {242, 242, 242};
    case 600: return {0, 0, 255};
    case 602: return {0, 0, 153};  // the dark blue of histogram outlines
    case 632: return {255, 0, 0};
    default: break;
  }
  if (index >= 12 && index <= 18) {
    const int g = grey(0.3 + 0.1 * (index - 12));
    return {g, g, g};
  }
  if (index >= 20 && index <= 50) return kPastels[index - 20];
  if (index >= 51 && index <= 100) {
    // Violet (hue 270) at 51 through blue, green and yellow to red (hue 0) at 100.
    return fromHue(270.0 * (100 - index) / 49.0);
  }
  Rgb wheel;
  if (wheelColour(index, wheel)) return wheel;
  return {0, 0, 0};
}

int colourIndexOfName(const std::string& name) {
  for (const NamedColour& hue : kNamedColours) {
    if (name == hue.name) return hue.base;
  }
  return -1;
}

MarkerLook markerLook(int style, double size) {
  // A size that is not a number or negative draws nothing; a huge one is capped
  // at a tenth of a 2000-pixel canvas.
  const double across = std::isfinite(size) && size > 0.0 ? std::min(8.0 * size, 200.0) : 0.0;
  MarkerLook look;
  look.sizePx = across;
  switch (style) {
    case 1: return {MarkerShape::Dot, true, 1.0};
    case 2: return {MarkerShape::Plus, false, across};
    case 3:
    case 31: return {MarkerShape::Asterisk, false, across};
    case 4:
    case 24: return {MarkerShape::Circle, false, across};
    case 5: return {MarkerShape::Cross, false, across};
    case 6: return {MarkerShape::Plus, false, 3.0};
    case 7: return {MarkerShape::Square, true, 3.0};
    case 21: return {MarkerShape::Square, true, across};
    case 22: return {MarkerShape::TriangleUp, true, across};
    case 23: return {MarkerShape::TriangleDown, true, across};
    case 25: return {MarkerShape::Square, false, across};
    case 26: return {MarkerShape::TriangleUp, false, across};
    case 27: return {MarkerShape::Diamond, false, across};
    case 28: return {MarkerShape::ThickCross, false, across};
    case 29: return {MarkerShape::Star, true, across};
    case 30: return {MarkerShape::Star, false, across};
    case 32: return {MarkerShape::TriangleDown, false, across};
    case 33: return {MarkerShape::Diamond, true, across};
    case 34: return {MarkerShape::ThickCross, true, across};
    default: return {MarkerShape::Circle, true, across};  // 8-20 and anything else
  }
}

std::vector<std::vector<std::pair<double, double>>> markerOutline(const MarkerLook& look) {
  using Line = std::vector<std::pair<double, double>>;
  const double r = look.sizePx / 2.0;
  auto closed = [](Line line) {
    line.push_back(line.front());
    return line;
  };
  auto polygon = [&](int corners, double startDeg, double radius) {
    Line line;
    for (int k = 0; k < corners; ++k) {
      const double a = (startDeg + 360.0 * k / corners) * kPi / 180.0;
      line.emplace_back(radius * std::cos(a), radius * std::sin(a));
    }
    return closed(line);
  };
  switch (look.shape) {
    case MarkerShape::Dot: return {{{0.0, 0.0}}};
    case MarkerShape::Plus: return {{{-r, 0.0}, {r, 0.0}}, {{0.0, -r}, {0.0, r}}};
    case MarkerShape::Cross: {
      const double d = r * 0.7071;
      return {{{-d, -d}, {d, d}}, {{-d, d}, {d, -d}}};
    }
    case MarkerShape::Asterisk: {
      const double d = r * 0.7071;
      return {{{-r, 0.0}, {r, 0.0}}, {{0.0, -r}, {0.0, r}}, {{-d, -d}, {d, d}}, {{-d, d}, {d, -d}}};
    }
    case MarkerShape::Circle: return {polygon(std::clamp(static_cast<int>(look.sizePx * 1.5), 12, 60), 0.0, r)};
    case MarkerShape::Square: return {closed({{-r, -r}, {r, -r}, {r, r}, {-r, r}})};
    // Triangles keep their centroid on the point, as the eye reads them.
    case MarkerShape::TriangleUp: return {closed({{-r, -r}, {r, -r}, {0.0, r}})};
    case MarkerShape::TriangleDown: return {closed({{-r, r}, {r, r}, {0.0, -r}})};
    case MarkerShape::Diamond: {
      const double w = r * 2.0 / 3.0;
      return {closed({{0.0, -r}, {w, 0.0}, {0.0, r}, {-w, 0.0}})};
    }
    case MarkerShape::ThickCross: {
      const double t = r / 3.0;
      return {closed({{-t, -r}, {t, -r}, {t, -t}, {r, -t}, {r, t}, {t, t}, {t, r}, {-t, r}, {-t, t},
                      {-r, t}, {-r, -t}, {-t, -t}})};
    }
    case MarkerShape::Star: {
      Line line;
      for (int k = 0; k < 10; ++k) {
        const double radius = (k % 2 == 0) ? r : r * 0.382;
        const double a = (90.0 + 36.0 * k) * kPi / 180.0;
        line.emplace_back(radius * std::cos(a), radius * std::sin(a));
      }
      return {closed(line)};
    }
  }
  return {};
}

double niceStep(double span, int divisions) {
  if (!(span > 0.0) || !std::isfinite(span) || divisions < 1) return 0.0;
  // "About" the number of divisions: up to a quarter more is accepted, so that a
  // 2300 V span gets steps of 200 V (11.5 divisions) rather than 500 V (4.6).
  const double raw = span / (divisions * 1.25);
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    // A small tolerance keeps an exact fit (span 12.5, 10 divisions: step 1).
    if (m * decade >= raw * (1.0 - 1e-9)) return m * decade;
  }
  return 10.0 * decade;
}

std::string tickLabel(double value, double step) {
  if (std::fabs(value) < std::fabs(step) * 1e-6) return "0";
  int decimals = 0;
  if (step > 0.0 && step < 1.0) decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  // A step of 2.5 x 10^k (secondary grids, 0.25) needs one more place than 10^k.
  while (decimals < 15) {
    const double scaled = step * std::pow(10.0, decimals);
    if (std::fabs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, std::fabs(scaled))) break;
    ++decimals;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

Ticks chooseTicks(double low, double high, int divisions, int subdivisions) {
  Ticks ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || !(high > low)) return ticks;
  const double step = niceStep(high - low, divisions);
  if (step <= 0.0) return ticks;
  ticks.step = step;
  const double eps = step * 1e-9;
  const double first = std::ceil((low - eps) / step) * step;
  for (int k = 0;; ++k) {
    const double v = first + k * step;
    if (v > high + eps || k > 1000) break;
    ticks.primary.push_back(std::fabs(v) < eps ? 0.0 : v);
  }
  if (subdivisions > 1) {
    const double sub = step / subdivisions;
    const double start = std::ceil((low - eps) / sub) * sub;
    for (int k = 0;; ++k) {
      const double v = start + k * sub;
      if (v > high + eps || k > 100000) break;
      ticks.secondary.push_back(v);
    }
  }
  // More than 5 digits: large values, or a step below 10^-4 (digits after the point).
  double largest = std::max(std::fabs(low), std::fabs(high));
  for (double v : ticks.primary) largest = std::max(largest, std::fabs(v));
  int exponent = 0;
  if (largest >= 1e5) {
    exponent = 3 * static_cast<int>(std::floor(std::log10(largest) / 3.0));
  } else if (step < 1e-4 && largest > 0.0) {
    exponent = 3 * static_cast<int>(std::floor(std::log10(largest) / 3.0));
  }
  ticks.exponent = exponent;
  const double scale = std::pow(10.0, -exponent);
  for (double v : ticks.primary) ticks.labels.push_back(tickLabel(v * scale, step * scale));
  return ticks;
}

namespace {

const std::map<std::string, std::string>& markupSymbols() {
  static const std::map<std::string, std::string> symbols = {
      {"alpha", "\u03b1"},   {"beta", "\u03b2"},    {"gamma", "\u03b3"},   {"delta", "\u03b4"},
      {"epsilon", "\u03b5"}, {"zeta", "\u03b6"},    {"eta", "\u03b7"},     {"theta", "\u03b8"},
      {"iota", "\u03b9"},    {"kappa", "\u03ba"},   {"lambda", "\u03bb"},  {"mu", "\u03bc"},
      {"nu", "\u03bd"},      {"xi", "\u03be"},      {"omicron", "\u03bf"}, {"pi", "\u03c0"},
      {"rho", "\u03c1"},     {"sigma", "\u03c3"},   {"tau", "\u03c4"},     {"upsilon", "\u03c5"},
      {"phi", "\u03c6"},     {"chi", "\u03c7"},     {"psi", "\u03c8"},     {"omega", "\u03c9"},
      {"Alpha", "\u0391"},   {"Beta", "\u0392"},    {"Gamma", "\u0393"},   {"Delta", "\u0394"},
      {"Epsilon", "\u0395"}, {"Zeta", "\u0396"},    {"Eta", "\u0397"},     {"Theta", "\u0398"},
      {"Iota", "\u0399"},    {"Kappa", "\u039a"},   {"Lambda", "\u039b"},  {"Mu", "\u039c"},
      {"Nu", "\u039d"},      {"Xi", "\u039e"},      {"Omicron", "\u039f"}, {"Pi", "\u03a0"},
      {"Rho", "\u03a1"},     {"Sigma", "\u03a3"},   {"Tau", "\u03a4"},     {"Upsilon", "\u03a5"},
      {"Phi", "\u03a6"},     {"Chi", "\u03a7"},     {"Psi", "\u03a8"},     {"Omega", "\u03a9"},
      {"times", "\u00d7"},   {"pm", "\u00b1"},      {"mp", "\u2213"},      {"circ", "\u00b0"},
      {"degree", "\u00b0"},  {"cdot", "\u00b7"},    {"leq", "\u2264"},     {"geq", "\u2265"},
      {"neq", "\u2260"},     {"approx", "\u2248"},  {"sim", "\u223c"},     {"infty", "\u221e"},
      {"propto", "\u221d"},  {"sqrt", "\u221a"},    {"rightarrow", "\u2192"},
      {"leftarrow", "\u2190"}, {"partial", "\u2202"}, {"ell", "\u2113"},   {"hbar", "\u0127"},
  };
  return symbols;
}

// Position of the "}" that closes the "{" at each position; npos elsewhere and
// for a "{" that is never closed.
std::vector<std::size_t> closingBraces(const std::string& text) {
  std::vector<std::size_t> closing(text.size(), std::string::npos);
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      open.push_back(i);
    } else if (text[i] == '}' && !open.empty()) {
      closing[open.back()] = i;
      open.pop_back();
    }
  }
  return closing;
}

// Scripts nested deeper than this are shown literally: the painter cannot
// shrink them further, and the conversion stays linear in the text's length.
constexpr int kDeepestScript = 6;

// Converts text[begin, end).
std::string convert(const std::string& text, std::size_t begin, std::size_t end,
                    const std::vector<std::size_t>& closing, int depth) {
  std::string out;
  std::size_t pos = begin;
  while (pos < end) {
    const char c = text[pos];
    if ((c == '^' || c == '_') && pos + 1 < end && text[pos + 1] == '{' && depth < kDeepestScript &&
        closing[pos + 1] < end) {
      const std::size_t close = closing[pos + 1];
      // Raise (or lower) for the group, then return to the base line.
      out += (c == '^') ? "#u" : "#d";
      out += convert(text, pos + 2, close, closing, depth + 1);
      out += (c == '^') ? "#d" : "#u";
      pos = close + 1;
      continue;
    }
    if (c == '#') {
      std::size_t name = pos + 1;
      while (name < end && name - pos <= 16 && std::isalpha(static_cast<unsigned char>(text[name]))) ++name;
      const auto& symbols = markupSymbols();
      const auto it = symbols.find(text.substr(pos + 1, name - pos - 1));
      if (it != symbols.end()) {
        out += it->second;
        pos = name;
        continue;
      }
      out += "##";
      ++pos;
      continue;
    }
    out += c;
    ++pos;
  }
  return out;
}

// The text with every byte that is not part of a well-formed UTF-8 sequence
// replaced by "?": the painter drops a whole label over one bad byte (a gap name
// typed in another encoding), where a "?" keeps the rest readable.
std::string validUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned minimum = 0;
    if (c < 0x80) {
      length = 1;
    } else if (c >= 0xc2 && c <= 0xdf) {
      length = 2;
      minimum = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
      length = 3;
      minimum = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
      length = 4;
      minimum = 0x10000;
    }
    bool ok = length > 0 && i + length <= text.size();
    unsigned code = length == 1 ? c : (c & (0x7fu >> length));
    for (std::size_t k = 1; ok && k < length; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      ok = (d & 0xc0) == 0x80;
      code = (code << 6) | (d & 0x3fu);
    }
    ok = ok && (length == 1 || (code >= minimum && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff)));
    if (ok && c != 0) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string toPlplotText(const std::string& markup) {
  const std::string text = validUtf8(markup);
  return convert(text, 0, text.size(), closingBraces(text), 0);
}

}  // namespace tk
