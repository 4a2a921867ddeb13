// libFuzzer target over the style-macro reader: any bytes as the user's
// ~/.root/rootstyle.C. The reader never crashes or hangs, and what it applies
// leaves a style the figures can paint with.
#include <cmath>
#include <cstdint>
#include <sstream>

#include "tests/fuzz/FuzzSupport.h"
#include "toolkit/Look.h"
#include "toolkit/Style.h"

using fuzzsupport::require;

bool within(double v, double low, double high) { return std::isfinite(v) && v >= low && v <= high; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream macro(text);
  tk::Style s;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", s, ignored);
  for (double margin : {s.padLeftMargin, s.padRightMargin, s.padTopMargin, s.padBottomMargin}) require(within(margin, 0, 0.45));
  require(within(s.labelSize, 0, 0.2) && within(s.titleSize, 0, 0.2));
  require(within(s.titleOffsetX, 0, 10) && within(s.titleOffsetY, 0, 10));
  require(s.font == "sans" || s.font == "serif" || s.font == "mono");
  require(within(s.lineWidth, 0, 20) && within(s.legendBorderSize, 0, 20) && s.legendFillColor >= 0);
  (void)tk::toPlplotText(text.substr(0, 256));  // sees gap names and titles; must not throw
  return 0;
}
