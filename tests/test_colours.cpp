// Colours by name: what a style macro names is the index the painter paints, in
// the shade users know from their physics plots, read back from the painted
// pixels; and a legend sample is painted in its entry's marker colour, whatever
// the marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Layout.h"
#include "toolkit/Look.h"
#include "toolkit/Png.h"
#include "toolkit/Style.h"

namespace {

struct Named {
  const char* name;  // as a macro writes it
  int index;
  tk::Rgb rgb;
};

// Published wheel shades, the offsets the wheel leaves empty (faded evenly from
// the nearest published shade) and the basic colours a kWhite/kBlack offset
// reaches.
const Named kNamed[] = {
    {"kWhite", 0, {255, 255, 255}},     {"kBlack", 1, {0, 0, 0}},           {"kBlack+1", 2, {255, 0, 0}},
    {"kWhite+7", 7, {0, 255, 255}},     {"kBlack+7", 8, {89, 211, 84}},     {"kBlue", 600, {0, 0, 255}},
    {"kRed", 632, {255, 0, 0}},         {"kRed+2", 634, {153, 0, 0}},       {"kRed-7", 625, {255, 102, 102}},
    {"kRed-10", 622, {255, 204, 204}},  {"kGreen", 416, {0, 255, 0}},
    {"kGreen+3", 419, {0, 102, 0}},     {"kGreen-9", 407, {153, 255, 153}}, {"kBlue+2", 602, {0, 0, 153}},
    {"kBlue-4", 596, {51, 51, 255}},    {"kBlue+1", 601, {0, 0, 204}},      {"kYellow", 400, {255, 255, 0}},
    {"kYellow+1", 401, {204, 204, 0}},  {"kMagenta", 616, {255, 0, 255}},   {"kMagenta-5", 611, {153, 102, 153}},
    {"kCyan", 432, {0, 255, 255}},      {"kCyan+4", 436, {0, 51, 51}},      {"kOrange", 800, {255, 204, 0}},
    {"kOrange+7", 807, {255, 102, 0}},  {"kOrange-3", 797, {255, 153, 0}},  {"kSpring", 820, {51, 255, 0}},
    {"kSpring+5", 825, {153, 204, 51}}, {"kTeal", 840, {0, 255, 204}},      {"kTeal-1", 839, {0, 204, 153}},
    {"kAzure", 860, {0, 51, 255}},      {"kAzure+7", 867, {0, 153, 255}},   {"kViolet", 880, {204, 0, 255}},
    {"kViolet+10", 890, {51, 0, 255}},  {"kPink", 900, {255, 0, 51}},       {"kPink+10", 910, {255, 0, 153}},
    {"kGray", 920, {204, 204, 204}},    {"kGray+1", 921, {153, 153, 153}},  {"kGray+3", 923, {51, 51, 51}},
    // Offsets the wheel leaves empty: -n towards white, +n towards black.
    {"kGray-1", 919, {209, 209, 209}},  {"kGray - 10", 910, {255, 0, 153}},  // kPink+10, published
    {"kGray-9", 911, {246, 246, 246}},  {"kGray+4", 924, {45, 45, 45}},     {"kGray+10", 930, {6, 6, 6}},
    {"kRed+5", 637, {44, 0, 0}},        {"kRed+10", 642, {7, 0, 0}},        {"kCyan+10", 442, {0, 7, 7}},
    {"kOrange-10", 790, {255, 230, 204}}, {"kYellow+5", 405, {44, 44, 0}},
    // Where two hues' offsets meet, the published shade.
    {"kYellow+6", 406, {204, 255, 204}},  // kGreen-10
};

tk::Style fromMacro(const std::string& colour, std::vector<std::string>& ignored) {
  std::istringstream macro("TStyle *uLm = new TStyle(\"uLm\", \"\");\nuLm->SetLegendFillColor(" + colour + ");\n");
  tk::Style style;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  return style;
}

std::string hex(unsigned long rgb) {
  std::ostringstream s;
  s << std::hex << rgb;
  return s.str();
}

unsigned long packed(tk::Rgb c) { return static_cast<unsigned long>(c.r) << 16 | c.g << 8 | c.b; }

// A 400 x 200 figure in `style`: markers at (0, 0) and (10, 10) in colour
// `index` and a legend over the frame's lower right. With the 16 px square
// (style 21) a 2 px line at y = 2.75 in that colour too; with any other marker
// instead the graph's "p" entry in the legend, nothing else of its colour near.
struct ColourFigure {
  tk::Canvas canvas;
  tk::Graph graph;
  tk::FigureLayout layout;
  tk::Image image{400, 200};
  ColourFigure(const tk::Style& style, int index, int marker = 21) : canvas("c", "c", 400, 200, style) {
    graph.AddPoint(0, 0);
    graph.AddPoint(10, 10);
    graph.markerStyle = marker, graph.markerSize = marker == 21 ? 2.0 : 1.0, graph.markerColor = index;
    canvas.DrawGraph(&graph, true);
    if (marker == 21) canvas.DrawLine(-100, 2.75, 1e6, 2.75, index, 2);
    tk::Legend legend;
    legend.x1 = 0.55, legend.x2 = 0.85, legend.y1 = 0.15, legend.y2 = 0.4;
    if (marker != 21) legend.AddEntry(&graph, "gap", "p");
    canvas.DrawLegend(legend);
    layout = tk::layoutFigure(canvas);
    std::string error;
    EXPECT_TRUE(canvas.Paint(image, error)) << error;
  }
};

TEST(NamedColours, EveryNameTheMacroTakesIsPaintedInItsShade) {
  for (const Named& c : kNamed) {
    std::vector<std::string> ignored;
    const tk::Style style = fromMacro(c.name, ignored);
    ASSERT_EQ(style.legendFillColor, c.index) << c.name;
    EXPECT_TRUE(ignored.empty()) << c.name;
    EXPECT_EQ(tk::colourOf(c.index), c.rgb) << c.name;
    const bool black = c.rgb == (tk::Rgb{0, 0, 0});
    EXPECT_EQ(black, std::string(c.name) == "kBlack") << c.name << ": only black is black";

    const ColourFigure f(style, c.index);
    const unsigned long want = packed(c.rgb);
    // The marker's centre, a pixel on the line, and inside the legend box filled
    // in the macro's colour.
    const int col = f.layout.columnOf(10), row = f.layout.rowOf(10);
    EXPECT_EQ(hex(f.image.pixel(col, row)), hex(want)) << c.name << " marker";
    int onLine = 0;
    for (int x = 60; x < 200; ++x) onLine += f.image.pixel(x, f.layout.rowOf(2.75) - 1) == want;
    EXPECT_GT(onLine, 130) << c.name << " line";
    ASSERT_EQ(f.layout.legends.size(), 1u);
    const tk::PixelBox box = f.layout.legends[0].box;
    const int boxCol = static_cast<int>((box.x1 + box.x2) / 2), boxRow = 200 - static_cast<int>((box.y1 + box.y2) / 2);
    EXPECT_EQ(hex(f.image.pixel(boxCol, boxRow)), hex(want)) << c.name << " legend fill";
  }
}

// Offsets that name no shade are listed and leave the fill alone; no shade of
// any hue vanishes into the canvas (white) or looks like the frame (black).
TEST(NamedColours, BadNamesAreListedAndEveryShadeIsVisible) {
  for (const char* bad : {"kOrange+11", "kGray-11", "kRed+1.5", "kWhite-1", "kPurple", "kred", "kRed+", "kRed+1e60",
                          "kOrange*2", "(Color_t)kAzure+1"}) {
    std::vector<std::string> ignored;
    EXPECT_EQ(fromMacro(bad, ignored).legendFillColor, tk::Style{}.legendFillColor) << bad;
    EXPECT_TRUE(ignored.size() == 1 && ignored[0].find(bad) != std::string::npos) << bad;
  }
  std::vector<tk::Rgb> bases;
  for (const char* hue : {"kGray", "kRed", "kGreen", "kBlue", "kYellow", "kMagenta", "kCyan", "kOrange", "kSpring",
                          "kTeal", "kAzure", "kViolet", "kPink"}) {
    const int base = tk::colourIndexOfName(hue);
    ASSERT_GE(base, 0) << hue;
    EXPECT_EQ(std::count(bases.begin(), bases.end(), tk::colourOf(base)), 0) << hue << " like another hue";
    bases.push_back(tk::colourOf(base));
    for (int n = -tk::kLargestColourOffset; n <= tk::kLargestColourOffset; ++n) {
      const tk::Rgb c = tk::colourOf(base + n);
      EXPECT_FALSE(c == (tk::Rgb{0, 0, 0}) || c == (tk::Rgb{255, 255, 255})) << hue << n;
    }
  }
  EXPECT_EQ(tk::colourIndexOfName("kTeal+1"), -1);   // offsets are the reader's
  EXPECT_EQ(tk::colourOf(101), (tk::Rgb{0, 0, 0}));  // no colour defined: black
}

// The legend's sample of a "p" entry, for every kind of marker: painted in the
// entry's marker colour (dominant channel far above the others), nothing dark
// where the sample is.
TEST(LegendSamples, InTheEntrysMarkerColourForEveryMarkerStyle) {
  // Marker style, colour and its dominant channel (0 red, 1 green, 2 blue).
  for (const auto& [style, colour, channel] : {std::array{1, 3, 1}, {1, 807, 0}, {1, 4, 2}, {6, 3, 1}, {7, 3, 1},
                                                {7, 860, 2}, {20, 632, 0}, {24, 416, 1}, {2, 600, 2}, {29, 807, 0}}) {
    const ColourFigure f(tk::Style{}, colour, style);
    ASSERT_EQ(f.layout.legends.size(), 1u);
    const tk::LegendRowLayout& row = f.layout.legends[0].rows.back();
    int coloured = 0, dark = 0;
    const int cx = static_cast<int>(row.sampleX), cy = 200 - static_cast<int>(row.sampleY);
    for (int y = cy - 5; y <= cy + 5; ++y) {
      for (int x = cx - 5; x <= cx + 5; ++x) {
        const unsigned long p = f.image.pixel(x, y);
        const int ch[3] = {static_cast<int>(p >> 16 & 0xff), static_cast<int>(p >> 8 & 0xff), static_cast<int>(p & 0xff)};
        int others = 0;
        for (int k = 0; k < 3; ++k) others = k == channel ? others : std::max(others, ch[k]);
        coloured += ch[channel] - others >= 100;
        dark += ch[0] < 100 && ch[1] < 100 && ch[2] < 100;
      }
    }
    EXPECT_TRUE(coloured >= 1 && dark == 0) << "style " << style << " colour " << colour << ": " << coloured << " " << dark;
  }
}

}  // namespace
