// The look of a figure: margins, text sizes, fonts, ticks, markers, legend box.
// A Style is a plain value handed to each canvas; there is no global current style.
// The defaults are the look users know from their physics plots; the user's style
// macro may change a documented subset of them (see readStyleMacro).
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace tk {

struct Style {
  // Pad margins as fractions of the canvas.
  double padLeftMargin = 0.1;
  double padRightMargin = 0.1;
  double padTopMargin = 0.1;
  double padBottomMargin = 0.1;
  // Axis label and title sizes as fractions of the pad height; title offsets.
  double labelSize = 0.035;
  double titleSize = 0.035;
  double titleOffsetX = 1.0;
  double titleOffsetY = 1.0;
  // Gap between an axis and its labels, as a fraction of the pad height.
  double labelOffset = 0.005;
  // Font family of all text: "sans", "serif", "mono"; bold when set.
  std::string font = "sans";
  bool bold = false;
  // Grid lines and ticks on the opposite (top, right) axes.
  bool gridX = false;
  bool gridY = false;
  bool tickX = false;
  bool tickY = false;
  // Default marker style and size, and the width of frame and axis lines.
  int markerStyle = 1;
  double markerSize = 1.0;
  int lineWidth = 1;
  // Legend box: border width in pixels (0: none) and fill colour index.
  int legendBorderSize = 1;
  int legendFillColor = 0;
  // Settings the program fixes after the user's macro.
  int optStat = 0;
  int optTitle = 0;
  int canvasColor = 0;
  int frameFillColor = 0;
};

// Reads a style macro and applies, to `style`, the settings it makes on the style
// named `styleName` through the setters of the documented subset; setters outside
// the subset and statements that are not understood are appended, as text, to
// `ignored`. Never throws on malformed input.
void readStyleMacro(std::istream& macro, const std::string& styleName, Style& style,
                    std::vector<std::string>& ignored);

}  // namespace tk
