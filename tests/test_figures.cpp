// Figures: the look (colours, markers, ticks, title markup), the style macro,
// the saved files, and the combined and per-gap figures end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "aux/Drawing.h"
#include "tests/TestSupport.h"
#include "toolkit/Canvas.h"
#include "toolkit/Look.h"
#include "toolkit/Style.h"

namespace {

using testsupport::ScratchDir;

struct PngSize {
  bool valid = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Reads the signature and the IHDR chunk, which every PNG starts with.
PngSize pngSize(const std::string& path) {
  const std::string d = testsupport::readFile(path);
  PngSize s;
  if (d.size() < 24 || d.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || d.compare(12, 4, "IHDR") != 0) return s;
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(d[at])) << 24) | (std::uint32_t(std::uint8_t(d[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(d[at + 2])) << 8) | std::uint32_t(std::uint8_t(d[at + 3]));
  };
  s.valid = true;
  s.width = be32(16);
  s.height = be32(20);
  return s;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

tk::Graph rising(int points, double x0 = 400, double dx = 30) {
  tk::Graph g;
  for (int i = 0; i < points; ++i) g.AddPoint(x0 + i * dx, 0.01 * i * i);
  return g;
}

// ------------------------------------------------------------------ colours
TEST(Colours, BasicIndicesAreTheColoursUsersKnow) {
  EXPECT_EQ(tk::colourOf(0), (tk::Rgb{255, 255, 255}));
  EXPECT_EQ(tk::colourOf(1), (tk::Rgb{0, 0, 0}));
  EXPECT_EQ(tk::colourOf(2), (tk::Rgb{255, 0, 0}));
  EXPECT_EQ(tk::colourOf(3), (tk::Rgb{0, 255, 0}));
  EXPECT_EQ(tk::colourOf(4), (tk::Rgb{0, 0, 255}));
  EXPECT_EQ(tk::colourOf(7), (tk::Rgb{0, 255, 255}));
  EXPECT_EQ(tk::colourOf(8), (tk::Rgb{89, 211, 84}));
  EXPECT_EQ(tk::colourOf(9), (tk::Rgb{89, 84, 216}));
  EXPECT_EQ(tk::colourOf(11), (tk::Rgb{192, 182, 172}));
  EXPECT_EQ(tk::colourOf(12), (tk::Rgb{76, 76, 76}));   // grey 0.3, truncated
  EXPECT_EQ(tk::colourOf(18), (tk::Rgb{229, 229, 229}));  // grey 0.9
  EXPECT_EQ(tk::colourOf(19), (tk::Rgb{242, 242, 242}));
  EXPECT_EQ(tk::colourOf(600), (tk::Rgb{0, 0, 255}));
  EXPECT_EQ(tk::colourOf(632), (tk::Rgb{255, 0, 0}));
}

TEST(Colours, UnknownIndexDrawsBlackNotWhite) {
  for (int index : {-1, 101, 599, 601, 1000, 7777}) EXPECT_EQ(tk::colourOf(index), (tk::Rgb{0, 0, 0})) << index;
}

TEST(Colours, PastelsAreMidToneAndTheRainbowRunsVioletToRed) {
  for (int index = 20; index <= 50; ++index) {
    const tk::Rgb c = tk::colourOf(index);
    EXPECT_GT(c.r + c.g + c.b, 150) << index;   // visible on white, not black
    EXPECT_LT(c.r + c.g + c.b, 3 * 240) << index;
  }
  const tk::Rgb first = tk::colourOf(51);
  const tk::Rgb last = tk::colourOf(100);
  EXPECT_GT(first.b, first.g);
  EXPECT_EQ(last, (tk::Rgb{255, 0, 0}));
  for (int index = 51; index <= 100; ++index) EXPECT_FALSE(tk::colourOf(index) == (tk::Rgb{0, 0, 0})) << index;
}

// ------------------------------------------------------------------ markers
TEST(Markers, StylesMapToTheirShapes) {
  struct Case {
    int style;
    tk::MarkerShape shape;
    bool filled;
  };
  const Case cases[] = {
      {2, tk::MarkerShape::Plus, false},          {3, tk::MarkerShape::Asterisk, false},
      {31, tk::MarkerShape::Asterisk, false},     {4, tk::MarkerShape::Circle, false},
      {5, tk::MarkerShape::Cross, false},         {8, tk::MarkerShape::Circle, true},
      {20, tk::MarkerShape::Circle, true},        {21, tk::MarkerShape::Square, true},
      {22, tk::MarkerShape::TriangleUp, true},    {23, tk::MarkerShape::TriangleDown, true},
      {24, tk::MarkerShape::Circle, false},       {25, tk::MarkerShape::Square, false},
      {26, tk::MarkerShape::TriangleUp, false},   {27, tk::MarkerShape::Diamond, false},
      {28, tk::MarkerShape::ThickCross, false},   {29, tk::MarkerShape::Star, true},
      {30, tk::MarkerShape::Star, false},         {32, tk::MarkerShape::TriangleDown, false},
      {33, tk::MarkerShape::Diamond, true},       {34, tk::MarkerShape::ThickCross, true},
      {0, tk::MarkerShape::Circle, true},         {99, tk::MarkerShape::Circle, true},
  };
  for (const Case& c : cases) {
    const tk::MarkerLook look = tk::markerLook(c.style, 2.0);
    EXPECT_EQ(look.shape, c.shape) << c.style;
    EXPECT_EQ(look.filled, c.filled) << c.style;
    EXPECT_DOUBLE_EQ(look.sizePx, 16.0) << c.style;  // size 2.0 is 16 px across
  }
}

TEST(Markers, DotAndSmallFixedMarkersIgnoreTheSize) {
  EXPECT_EQ(tk::markerLook(1, 5.0).shape, tk::MarkerShape::Dot);
  EXPECT_DOUBLE_EQ(tk::markerLook(1, 5.0).sizePx, 1.0);
  EXPECT_DOUBLE_EQ(tk::markerLook(6, 5.0).sizePx, tk::markerLook(6, 1.0).sizePx);
  EXPECT_DOUBLE_EQ(tk::markerLook(7, 5.0).sizePx, tk::markerLook(7, 1.0).sizePx);
  EXPECT_DOUBLE_EQ(tk::markerLook(20, 1.0).sizePx, 8.0);
  // Sizes that would blot out the figure or poison its geometry.
  EXPECT_DOUBLE_EQ(tk::markerLook(20, 1e9).sizePx, 200.0);
  EXPECT_DOUBLE_EQ(tk::markerLook(20, -2.0).sizePx, 0.0);
  EXPECT_DOUBLE_EQ(tk::markerLook(20, std::nan("")).sizePx, 0.0);
  const auto circle = tk::markerOutline(tk::markerLook(24, 25.0));
  ASSERT_EQ(circle.size(), 1u);
  EXPECT_LE(circle.front().size(), 64u);  // the painter's polygon limit
  EXPECT_EQ(circle.front().front(), circle.front().back());
}

TEST(Markers, OutlinesSpanTheMarkerSizeAndTheDiamondIsNarrow) {
  auto extent = [](int style) {
    double w = 0, h = 0;
    for (const auto& line : tk::markerOutline(tk::markerLook(style, 2.0))) {
      for (const auto& p : line) {
        w = std::max(w, 2 * std::abs(p.first));
        h = std::max(h, 2 * std::abs(p.second));
      }
    }
    return std::make_pair(w, h);
  };
  for (int style : {20, 21, 22, 29, 34}) {
    EXPECT_NEAR(extent(style).second, 16.0, 0.5) << style;
  }
  const auto diamond = extent(33);
  EXPECT_NEAR(diamond.first / diamond.second, 2.0 / 3.0, 1e-9);
  // A filled shape is one closed polygon.
  const auto outline = tk::markerOutline(tk::markerLook(22, 2.0));
  ASSERT_EQ(outline.size(), 1u);
  EXPECT_EQ(outline.front().front(), outline.front().back());
}

// ------------------------------------------------------------------ ticks
TEST(Ticks, HvAxisGetsSteps200WithPlainLabels) {
  const tk::Ticks t = tk::chooseTicks(200, 2600);
  EXPECT_DOUBLE_EQ(t.step, 200);
  ASSERT_FALSE(t.primary.empty());
  EXPECT_DOUBLE_EQ(t.primary.front(), 200);
  EXPECT_DOUBLE_EQ(t.primary.back(), 2600);
  EXPECT_EQ(t.labels.front(), "200");
  EXPECT_EQ(t.labels.back(), "2600");
  EXPECT_EQ(t.exponent, 0);
  // Five secondary divisions per primary step.
  EXPECT_EQ(t.secondary.size(), 5 * (t.primary.size() - 1) + 1);
}

TEST(Ticks, AboutTenDivisionsOfOneTwoOrFive) {
  for (double span : {0.37, 1.1, 4.6, 13.0, 47.0, 99.0, 2304.0, 123456.0}) {
    const double step = tk::niceStep(span, 10);
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-12));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 || std::abs(mantissa - 5) < 1e-9)
        << span << " -> " << step;
    EXPECT_GE(span / step, 4.0) << span;
    EXPECT_LE(span / step, 12.5 + 1e-9) << span;
  }
}

TEST(Ticks, LabelsHaveNoTrailingZerosAndZeroIsZero) {
  const tk::Ticks t = tk::chooseTicks(0, 1.1);
  EXPECT_DOUBLE_EQ(t.step, 0.1);
  ASSERT_GE(t.labels.size(), 11u);
  EXPECT_EQ(t.labels[0], "0");
  EXPECT_EQ(t.labels[5], "0.5");
  EXPECT_EQ(t.labels[10], "1");
  // A range across zero: the tick at zero is "0", not "-0" or "1.4e-17".
  const tk::Ticks across = tk::chooseTicks(-10.95, 0.45);
  bool sawZero = false;
  for (const auto& l : across.labels) {
    EXPECT_EQ(l.find('e'), std::string::npos) << l;
    EXPECT_NE(l, "-0");
    sawZero = sawZero || l == "0";
  }
  EXPECT_TRUE(sawZero);
  EXPECT_EQ(tk::tickLabel(2.5, 0.5), "2.5");
  EXPECT_EQ(tk::tickLabel(0.25, 0.05), "0.25");
}

TEST(Ticks, LongLabelsAreScaledByPowersOfThousand) {
  const tk::Ticks big = tk::chooseTicks(0, 2.4e6);
  EXPECT_EQ(big.exponent, 6);
  EXPECT_EQ(big.labels[1], tk::tickLabel(big.primary[1] / 1e6, big.step / 1e6));
  for (const auto& l : big.labels) EXPECT_LE(l.size(), 5u) << l;
  const tk::Ticks small = tk::chooseTicks(0, 4e-6);
  EXPECT_EQ(small.exponent, -6);
  for (const auto& l : small.labels) EXPECT_LE(l.size(), 5u) << l;
  EXPECT_EQ(tk::chooseTicks(0, 99999).exponent, 0);
}

TEST(Ticks, EmptyOrBrokenRangesGiveNoTicks) {
  EXPECT_TRUE(tk::chooseTicks(5, 5).primary.empty());
  EXPECT_TRUE(tk::chooseTicks(6, 5).primary.empty());
  EXPECT_TRUE(tk::chooseTicks(0, std::nan("")).primary.empty());
  EXPECT_TRUE(tk::chooseTicks(0, INFINITY).primary.empty());
}

// ------------------------------------------------------------------ markup
TEST(Markup, SuperscriptsSubscriptsAndSymbols) {
  EXPECT_EQ(tk::toPlplotText("J  [nA/cm^{2}]"), "J  [nA/cm#u2#d]");
  EXPECT_EQ(tk::toPlplotText("R_{gap}"), "R#dgap#u");
  EXPECT_EQ(tk::toPlplotText("e^{x_{1}}"), "e#ux#d1#u#d");
  EXPECT_EQ(tk::toPlplotText("#rho [#Omega cm]"), "\u03c1 [\u03a9 cm]");
  EXPECT_EQ(tk::toPlplotText("2 #times 10^{3}"), "2 \u00d7 10#u3#d");
  EXPECT_EQ(tk::toPlplotText("HV [V]"), "HV [V]");
}

TEST(Markup, LiteralHashAndBrokenMarkupStayReadable) {
  // A gap or run named with "#" must not turn into a painter command.
  EXPECT_EQ(tk::toPlplotText("run #3"), "run ##3");
  EXPECT_EQ(tk::toPlplotText("#u and #d"), "##u and ##d");
  EXPECT_EQ(tk::toPlplotText("#"), "##");
  EXPECT_EQ(tk::toPlplotText("a^{2"), "a^{2");
  EXPECT_EQ(tk::toPlplotText("a}b"), "a}b");
  EXPECT_EQ(tk::toPlplotText("x^2"), "x^2");
  EXPECT_EQ(tk::toPlplotText("a^{b{c}d}"), "a#ub{c}d#d");
  // Deep or endless nesting stays literal, and quick.
  std::string deep;
  for (int k = 0; k < 20000; ++k) deep += "^{";
  EXPECT_EQ(tk::toPlplotText(deep), deep);
  EXPECT_EQ(tk::toPlplotText("^{^{^{^{^{^{^{x}}}}}}}"), "#u#u#u#u#u#u^{x}#d#d#d#d#d#d");
}

TEST(Markup, MalformedUtf8BecomesQuestionMarksSoTheLabelIsKept) {
  // The painter drops a whole label over one bad byte.
  EXPECT_EQ(tk::toPlplotText("GAP-\xff-\xc3"), "GAP-?-?");
  EXPECT_EQ(tk::toPlplotText("\xe2\x82"), "??");
  EXPECT_EQ(tk::toPlplotText("\xc0\xaf"), "??");          // overlong "/"
  EXPECT_EQ(tk::toPlplotText("\xed\xa0\x80"), "???");    // surrogate
  EXPECT_EQ(tk::toPlplotText("\xc3\xa9t\xc3\xa9 \xe2\x82\xac"), "\xc3\xa9t\xc3\xa9 \xe2\x82\xac");
}

// ------------------------------------------------------------------ style macro
const char* const kSampleMacro = R"(
// The group's style, loaded at start-up.
{
  TStyle *uLm = new TStyle("uLm", "uLm style; for reports");
  uLm->SetPadLeftMargin(0.12);   // room for the J title
  uLm->SetPadBottomMargin(0.14);
  uLm->SetPadTopMargin(0.05);
  uLm->SetPadRightMargin((Float_t)0.04);
  uLm->SetLabelSize(0.045, "XY");
  uLm->SetTitleSize(0.05, "xyz");
  uLm->SetTitleOffset(1.3, "Y");
  uLm->SetTitleXOffset(0.9);
  uLm->SetTextFont(132);
  uLm->SetPadGridX(kTRUE);
  uLm->SetPadTickY(1);
  uLm->SetMarkerStyle(20);
  uLm->SetMarkerSize(1.2);
  uLm->SetLineWidth(2);
  uLm->SetLegendBorderSize(0);
  uLm->SetLegendFillColor(kWhite);
  uLm->SetPalette(1, 0);
  uLm->SetHistLineColor(4);
  /* uLm->SetPadLeftMargin(0.4); commented out */
  uLm->SetPadTopMargin(-3);
  TStyle *other = new TStyle("plain", "not ours");
  other->SetPadLeftMargin(0.3);
  gStyle->SetOptStat(1111);
  gROOT->SetStyle("uLm");
}
)";

TEST(StyleMacro, AppliesTheSubsetOnTheNamedStyle) {
  std::istringstream macro(kSampleMacro);
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.12);
  EXPECT_DOUBLE_EQ(style.padBottomMargin, 0.14);
  EXPECT_DOUBLE_EQ(style.padTopMargin, 0.05);  // the bad -3 later is not taken
  EXPECT_DOUBLE_EQ(style.padRightMargin, 0.04);
  EXPECT_DOUBLE_EQ(style.labelSize, 0.045);
  EXPECT_DOUBLE_EQ(style.titleSize, 0.05);
  EXPECT_DOUBLE_EQ(style.titleOffsetY, 1.3);
  EXPECT_DOUBLE_EQ(style.titleOffsetX, 0.9);
  EXPECT_EQ(style.font, "serif");
  EXPECT_FALSE(style.bold);
  EXPECT_TRUE(style.gridX);
  EXPECT_FALSE(style.gridY);
  EXPECT_TRUE(style.tickY);
  EXPECT_FALSE(style.tickX);
  EXPECT_EQ(style.markerStyle, 20);
  EXPECT_DOUBLE_EQ(style.markerSize, 1.2);
  EXPECT_EQ(style.lineWidth, 2);
  EXPECT_EQ(style.legendBorderSize, 0);
  EXPECT_EQ(style.legendFillColor, 0);
  EXPECT_EQ(style.optStat, 0);  // gStyle's setting does not reach "uLm"

  auto listed = [&](const std::string& part) {
    for (const auto& s : ignored) {
      if (s.find(part) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(listed("SetPalette"));
  EXPECT_TRUE(listed("SetHistLineColor"));
  EXPECT_TRUE(listed("SetPadTopMargin(-3)"));
  EXPECT_TRUE(listed("other->SetPadLeftMargin"));
  EXPECT_TRUE(listed("gStyle->SetOptStat"));
  EXPECT_FALSE(listed("SetPadLeftMargin(0.4)"));  // it was a comment
  EXPECT_FALSE(listed("gROOT->SetStyle"));
}

TEST(StyleMacro, FontCodesAndAFunctionMacroUsingTheStyleByName) {
  std::istringstream macro(
      "void rootstyle() {\n"
      "  TStyle* s = gROOT->GetStyle(\"uLm\");\n"
      "  s->SetLabelFont(62, \"X\");\n"
      "  uLm.SetPadGridY(true);\n"
      "}\n");
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_EQ(style.font, "sans");
  EXPECT_TRUE(style.bold);
  EXPECT_TRUE(style.gridY);
  EXPECT_TRUE(ignored.empty()) << ignored.front();
}

TEST(StyleMacro, AVariableReboundToAnotherStyleNoLongerSetsOurs) {
  std::istringstream macro(
      "TStyle *s = new TStyle(\"uLm\", \"\");\ns->SetPadLeftMargin(0.2);\n"
      "s = new TStyle(\"print\", \"\");\ns->SetPadLeftMargin(0.3);\n");
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.2);
  EXPECT_EQ(ignored.size(), 1u);
}

TEST(StyleMacro, AMacroForAnotherStyleChangesNothing) {
  std::istringstream macro("TStyle *p = new TStyle(\"Plain\", \"\");\np->SetPadLeftMargin(0.3);\n");
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, tk::Style{}.padLeftMargin);
  EXPECT_EQ(ignored.size(), 1u);
}

TEST(StyleMacro, AnOversizedFileIsReadOnlyAsFarAsAMacroReaches) {
  std::string text = "uLm->SetPadLeftMargin(0.2);\n";
  text += std::string(2 << 20, ' ');
  text += "uLm->SetPadRightMargin(0.3);\n";
  std::istringstream macro(text);
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.2);
  EXPECT_DOUBLE_EQ(style.padRightMargin, 0.1);
  ASSERT_EQ(ignored.size(), 1u);
  EXPECT_NE(ignored.front().find("1 MiB"), std::string::npos);
}

TEST(StyleMacro, MalformedTextNeverThrowsNorChangesTheStyleWildly) {
  const std::string samples[] = {
      "",
      "uLm->SetPadLeftMargin(",
      "uLm->SetPadLeftMargin(abc);",
      "uLm->SetPadLeftMargin(1e999);",
      "uLm->SetLabelSize(0.04, \"Z\");",
      "\"unterminated string ; uLm->SetPadLeftMargin(0.2);",
      "/* unterminated comment uLm->SetPadLeftMargin(0.2);",
      "uLm->(0.2); ->SetX(); uLm-> ; ;;; {{{ }}}",
      std::string("\0\xff\xfe uLm->SetMarkerSize(\0)", 24),
  };
  for (const std::string& text : samples) {
    std::istringstream macro(text);
    tk::Style style;
    std::vector<std::string> ignored;
    EXPECT_NO_THROW(tk::readStyleMacro(macro, "uLm", style, ignored)) << text;
    EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.1) << text;
    EXPECT_DOUBLE_EQ(style.labelSize, 0.035) << text;
  }
}

// ------------------------------------------------------------------ canvas files
TEST(CanvasFiles, PngHasTheCanvasSize) {
  ScratchDir dir;
  tk::Graph g = rising(20);
  g.markerStyle = 20;
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  ASSERT_TRUE(c.SaveAs(dir.file("f.png"), error)) << error;
  const PngSize size = pngSize(dir.file("f.png"));
  EXPECT_TRUE(size.valid);
  EXPECT_EQ(size.width, 2000u);
  EXPECT_EQ(size.height, 1000u);
  // Nothing is left behind next to the figure.
  EXPECT_EQ(testsupport::listDir(dir.path()), std::vector<std::string>{"f.png"});
}

TEST(CanvasFiles, SvgAndPdfFollowTheExtension) {
  ScratchDir dir;
  tk::Graph g = rising(5);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  ASSERT_TRUE(c.SaveAs(dir.file("f.svg"), error)) << error;
  ASSERT_TRUE(c.SaveAs(dir.file("f.PDF"), error)) << error;
  EXPECT_NE(testsupport::readFile(dir.file("f.svg")).find("<svg"), std::string::npos);
  EXPECT_EQ(testsupport::readFile(dir.file("f.PDF")).compare(0, 5, "%PDF-"), 0);
}

TEST(CanvasFiles, PercentSignsInTheNameAreKeptAsTheyAre) {
  // PLplot expands "%n" in file names it opens; a gap called "50%n" must still
  // get its own file and leave nothing else behind.
  ScratchDir dir;
  tk::Graph g = rising(5);
  tk::Canvas c("c", "c", 400, 200, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  for (const std::string name : {"50%n.svg", "50%n.pdf", "50%n.png"}) {
    ASSERT_TRUE(c.SaveAs(dir.file(name), error)) << name << ": " << error;
  }
  EXPECT_EQ(testsupport::listDir(dir.path()), (std::vector<std::string>{"50%n.pdf", "50%n.png", "50%n.svg"}));
}

TEST(CanvasFiles, UnwritablePathOrUnknownFormatIsReportedAndLeavesNoFile) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("plain"), "x");
  tk::Graph g = rising(5);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  // A path through a regular file cannot be created, whoever runs the test.
  EXPECT_FALSE(c.SaveAs(dir.file("plain/f.png"), error));
  EXPECT_NE(error.find(dir.file("plain/f.png")), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(c.SaveAs(dir.file("missing/f.png"), error));
  EXPECT_NE(error.find("missing/f.png"), std::string::npos);
  error.clear();
  EXPECT_FALSE(c.SaveAs(dir.file("f.gif"), error));
  EXPECT_NE(error.find("f.gif"), std::string::npos);
  EXPECT_EQ(testsupport::listDir(dir.path()), std::vector<std::string>{"plain"});
}

TEST(CanvasFiles, AttachedFunctionIsPaintedWithItsGraph) {
  ScratchDir dir;
  tk::Graph g = rising(20);
  g.markerColor = 1;
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  ASSERT_TRUE(c.SaveAs(dir.file("bare.svg"), error)) << error;
  const std::string green = "stroke:rgb(0%,100%,0%)";
  EXPECT_EQ(count(testsupport::readFile(dir.file("bare.svg")), green), 0u);

  // The fit comes after the graph was drawn: it is painted all the same.
  tk::Function f;
  f.npar = 2;
  f.par[0] = -4;
  f.par[1] = 0.01;
  f.xmin = 600;
  f.xmax = 900;
  f.lineColor = 3;
  g.function = f;
  ASSERT_TRUE(c.SaveAs(dir.file("fit.svg"), error)) << error;
  EXPECT_GE(count(testsupport::readFile(dir.file("fit.svg")), green), 1u);
}

TEST(CanvasFiles, FrameIsTheAxisGraphsRangeWhenDrawn) {
  tk::Graph framed = rising(10);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&framed, true);
  framed.AddPoint(10000, 500);  // later points do not move the frame
  tk::Graph other = rising(3, 0, 1);
  c.DrawGraph(&other, false);
  ASSERT_EQ(c.items().size(), 2u);
  EXPECT_DOUBLE_EQ(c.items()[0].xRange.low, 373);
  EXPECT_DOUBLE_EQ(c.items()[0].xRange.high, 697);
  EXPECT_FALSE(c.items()[1].withAxes);
  c.Clear();
  EXPECT_TRUE(c.items().empty());
}

TEST(CanvasFiles, HistogramAloneSetsTheFrame) {
  ScratchDir dir;
  tk::Histogram h("NdF", "NdF", 50, 0, 100);
  for (int k = 0; k < 30; ++k) h.Fill(20 + k);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawHistogram(h);
  std::string error;
  ASSERT_TRUE(c.SaveAs(dir.file("h.png"), error)) << error;
  EXPECT_TRUE(pngSize(dir.file("h.png")).valid);
}

TEST(CanvasFiles, CanvasesSavedFromSeveralThreadsAreAllComplete) {
  ScratchDir dir;
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      tk::Graph g = rising(30 + t);
      tk::Canvas c("c", "c", 800, 400, tk::Style{});
      c.DrawGraph(&g, true);
      std::string error;
      ok[t] = c.SaveAs(dir.file("t" + std::to_string(t) + ".png"), error) ? 1 : 0;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(ok[t], 1);
    const PngSize size = pngSize(dir.file("t" + std::to_string(t) + ".png"));
    EXPECT_TRUE(size.valid);
    EXPECT_EQ(size.width, 800u);
  }
}

// ------------------------------------------------------------------ the figures
struct FigureRun {
  ScratchDir home;
  ScratchDir out;
  std::ostringstream log;
  std::ostringstream err;
  tk::Console console{log, err};
  OutputPlace place;
  FigureRun(bool withHome = true) {
    const std::string h = home.path();
    place.env = [h, withHome](const std::string& name) -> std::optional<std::string> {
      if (name == "HOME" && withHome) return h;
      return std::nullopt;
    };
    place.date = "20240102";
    place.outputDir = out.path();
  }
  FigureContext context() { return FigureContext{place, console, ".png"}; }
};

TEST(FigureStyle, UserMacroThenTheFixedSettingsWin) {
  FigureRun run;
  std::filesystem::create_directories(run.home.file(".root"));
  testsupport::writeFile(run.home.file(".root/rootstyle.C"),
                         "{ TStyle *uLm = new TStyle(\"uLm\",\"\");\n"
                         "  uLm->SetPadLeftMargin(0.15);\n  uLm->SetCanvasColor(5);\n"
                         "  uLm->SetOptStat(1111);\n  uLm->SetFillColor(3);\n}\n");
  const tk::Style style = figureStyle(run.context(), true);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.15);
  EXPECT_EQ(style.canvasColor, 0);
  EXPECT_EQ(style.frameFillColor, 0);
  EXPECT_EQ(style.optStat, 0);
  EXPECT_EQ(style.optTitle, 0);
  const std::string log = run.log.str();
  EXPECT_EQ(log.find("INFO :: OutputPlaces : GetEnviroment: HOME directory used  " + run.home.path() + "\n"), 0u);
  EXPECT_NE(log.find("SetFillColor(3)"), std::string::npos) << log;
  // Without INFO the ignored settings are not listed.
  FigureRun quiet;
  figureStyle(quiet.context(), false);
  EXPECT_EQ(quiet.log.str().find("figureStyle"), std::string::npos);
}

TEST(FigureStyle, NoHomeOrNoMacroGivesTheDefaultLook) {
  FigureRun run(false);
  const tk::Style style = figureStyle(run.context(), true);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, tk::Style{}.padLeftMargin);
  EXPECT_NE(run.log.str().find("can not be properly set"), std::string::npos);
  FigureRun plain;
  EXPECT_DOUBLE_EQ(figureStyle(plain.context(), true).labelSize, 0.035);
}

struct ThreeGaps {
  std::vector<tk::Graph> graphs{rising(40), rising(40, 500), rising(40, 450)};
  std::vector<tk::Graph*> pointers{&graphs[0], &graphs[1], &graphs[2]};
  std::vector<plotprofile> profiles{{"A-BOTTOM", 4, 8}, {"A-TOPNARROW", 4, 33}, {"A-TOPWIDE", 4, 22}};
  ChamberIndexList gaps{{"A-BOTTOM", 0}, {"A-TOPNARROW", 1}, {"A-TOPWIDE", 2}};
};

TEST(CombinedFigure, SavesAllCurrentsWithEveryGapsProfile) {
  FigureRun run;
  ThreeGaps s;
  DrawingVectorTogether(s.pointers, s.profiles, s.gaps, 1, "scan.csv", "Argon", run.context());
  const PngSize size = pngSize(run.out.file("ALLcurrents.png"));
  EXPECT_TRUE(size.valid);
  EXPECT_EQ(size.width, 2000u);
  EXPECT_EQ(size.height, 1000u);
  EXPECT_FALSE(run.console.failed()) << run.err.str();
  EXPECT_EQ(s.graphs[1].yTitle, "J  [nA/cm^{2}]");
  EXPECT_EQ(s.graphs[1].xTitle, "HV [V]");
  EXPECT_TRUE(s.graphs[0].yTitle.empty());
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(s.graphs[k].markerColor, s.profiles[k].color);
    EXPECT_EQ(s.graphs[k].markerStyle, s.profiles[k].marker);
    EXPECT_DOUBLE_EQ(s.graphs[k].markerSize, 2.0);
  }
}

TEST(CombinedFigure, NoGapOrNoPointsDrawsNothingAndSaysSo) {
  FigureRun run;
  DrawingVectorTogether({}, {}, {}, 0, "scan.csv", "", run.context());
  EXPECT_FALSE(testsupport::fileExists(run.out.file("ALLcurrents.png")));
  EXPECT_NE(run.err.str().find("not drawn"), std::string::npos);

  FigureRun empty;
  tk::Graph none;
  DrawingVectorTogether({&none}, {{"G", 1, 20}}, {{"G", 0}}, 0, "scan.csv", "", empty.context());
  EXPECT_FALSE(testsupport::fileExists(empty.out.file("ALLcurrents.png")));
  EXPECT_NE(empty.err.str().find("missing graph"), std::string::npos);

  FigureRun outside;
  ThreeGaps s;
  DrawingVectorTogether(s.pointers, s.profiles, s.gaps, 7, "scan.csv", "", outside.context());
  EXPECT_FALSE(testsupport::fileExists(outside.out.file("ALLcurrents.png")));
  EXPECT_TRUE(outside.console.failed());

  // The gap of the largest current without points: another gap gives the frame.
  FigureRun emptyMax;
  tk::Graph none2;
  ThreeGaps t;
  t.pointers[1] = &none2;
  DrawingVectorTogether(t.pointers, t.profiles, t.gaps, 1, "scan.csv", "", emptyMax.context());
  EXPECT_TRUE(pngSize(emptyMax.out.file("ALLcurrents.png")).valid);
  EXPECT_NE(emptyMax.err.str().find("taken from gap A-BOTTOM"), std::string::npos) << emptyMax.err.str();
  EXPECT_FALSE(emptyMax.console.failed());
}

TEST(CombinedFigure, UnwritableFigureIsAnErrorNamingTheFile) {
  FigureRun run;
  testsupport::writeFile(run.out.file("blocker"), "");
  run.place.outputDir = run.out.file("blocker");
  ThreeGaps s;
  DrawingVectorTogether(s.pointers, s.profiles, s.gaps, 0, "scan.csv", "", run.context());
  EXPECT_TRUE(run.console.failed());
  EXPECT_NE(run.err.str().find("blocker/ALLcurrents.png"), std::string::npos) << run.err.str();
}

TEST(GapFigure, SavedUnderTheSafeGapNameWithItsExtension) {
  FigureRun run;
  tk::Graph g = rising(10);
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = true;
  PlottingEachAndDoLinearFit(&g, {"RE3/../X", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit);  // ten points: no window is tried
  EXPECT_TRUE(pngSize(run.out.file("RE3_.._X.png")).valid);
  EXPECT_EQ(g.markerColor, 2);
  EXPECT_EQ(g.markerStyle, 22);
  EXPECT_EQ(g.yTitle, "J  [nA/cm^{2}]");
  EXPECT_DOUBLE_EQ(r.first, 3000);

  FigureRun svg;
  FigureContext context{svg.place, svg.console, ".svg"};
  PlottingEachAndDoLinearFit(&g, {"G1", 2, 22}, "scan.csv", r, o, u, StatFit, false, context);
  EXPECT_TRUE(testsupport::fileExists(svg.out.file("G1.svg")));
}

TEST(GapFigure, ShowsTheAcceptedLineInBlueAndTheLevelInRed) {
  // Flat leakage, then an ohmic rise with unit scatter, which the search accepts.
  tk::Graph g;
  for (int i = 0; i < 65; ++i) {
    const double scatter = (i % 2 == 0) ? 1.0 : -1.0;
    const double level = 0.5 + (i >= 30 ? (i - 30) * 1.0 + scatter : 0.02 * scatter);
    g.AddPoint(1000 + 20.0 * i, level);
  }
  FigureRun run;
  FigureContext context{run.place, run.console, ".svg"};
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = false;
  PlottingEachAndDoLinearFit(&g, {"G", 3, 20}, "scan.csv", r, o, u, StatFit, false, context);
  ASSERT_TRUE(StatFit) << run.log.str();
  const std::string svg = testsupport::readFile(run.out.file("G.svg"));
  EXPECT_GE(count(svg, "stroke:rgb(0%,0%,100%)"), 1u);    // colour 600, the window's line
  EXPECT_GE(count(svg, "stroke:rgb(100%,0%,0%)"), 1u);    // colour 632, the level
  EXPECT_GE(count(svg, "fill:rgb(0%,100%,0%)"), 65u);     // every marker, in green
}

TEST(GapFigure, EmptyGraphGetsNoFigure) {
  FigureRun run;
  tk::Graph g;
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = true;
  PlottingEachAndDoLinearFit(&g, {"G", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit);
  EXPECT_FALSE(testsupport::fileExists(run.out.file("G.png")));
  EXPECT_NE(run.err.str().find("missing graph"), std::string::npos);
}

}  // namespace
