// libFuzzer target over the style-macro reader: any bytes as the user's
// ~/.root/rootstyle.C. The reader must never crash or hang, and whatever it
// applies must leave a style the figures can paint with.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/Look.h"
#include "toolkit/Style.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool fraction(double v, double low, double high) { return std::isfinite(v) && v >= low && v <= high; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream macro(text);
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  require(fraction(style.padLeftMargin, 0, 0.45) && fraction(style.padRightMargin, 0, 0.45));
  require(fraction(style.padTopMargin, 0, 0.45) && fraction(style.padBottomMargin, 0, 0.45));
  require(fraction(style.labelSize, 0, 0.2) && fraction(style.titleSize, 0, 0.2));
  require(fraction(style.titleOffsetX, 0, 10) && fraction(style.titleOffsetY, 0, 10));
  require(style.font == "sans" || style.font == "serif" || style.font == "mono");
  require(style.lineWidth >= 0 && style.lineWidth <= 20);
  require(style.legendBorderSize >= 0 && style.legendBorderSize <= 20);
  require(style.legendFillColor >= 0);
  // The text converter sees gap names and titles; it must not throw either.
  (void)tk::toPlplotText(text.substr(0, 256));
  return 0;
}
