#include "aux/GapRules.h"

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Active areas of the gap types, in cm^2.
constexpr double kBottomArea = 19660.0;
constexpr double kTopNarrowArea = 5550.0;
constexpr double kTopWideArea = 13130.0;

}  // namespace

GapType gapTypeOf(const std::string& name, BottomWords words) {
  GapType type = GapType::unknown;
  if (contains(name, "-B") || contains(name, "-BOTTOM")) type = GapType::bottom;
  if (words == BottomWords::withUnderscoreBot && contains(name, "_BOT")) type = GapType::bottom;
  if (contains(name, "TOPNARROW")) type = GapType::topNarrow;
  if (contains(name, "TOPWIDE")) type = GapType::topWide;
  return type;
}

const char* gapTypeWord(GapType type) {
  switch (type) {
    case GapType::bottom: return "bottom";
    case GapType::topNarrow: return "top-narrow";
    case GapType::topWide: return "top-wide";
    case GapType::unknown: break;
  }
  return "";
}

double gapTypeArea(GapType type) {
  switch (type) {
    case GapType::bottom: return kBottomArea;
    case GapType::topNarrow: return kTopNarrowArea;
    case GapType::topWide: return kTopWideArea;
    case GapType::unknown: break;
  }
  return 1.0;
}

double resistanceOf(double resistivity, double area) { return resistivity * kGapLength / area; }

double resistanceAreaOf(double resistivity) { return resistivity * kGapLength; }
