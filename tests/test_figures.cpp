// Figures: the look (colours, markers, ticks, title markup), the style macro,
// the saved files, and the combined and per-gap figures end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <thread>

#include "aux/Drawing.h"
#include "tests/TestSupport.h"
#include "toolkit/Canvas.h"
#include "toolkit/Look.h"
#include "toolkit/Style.h"

namespace {

using testsupport::ScratchDir;

// Width and height from the IHDR chunk every PNG starts with; {0, 0} for no PNG.
using PngSize = std::pair<std::uint32_t, std::uint32_t>;
const PngSize kFigureSize{2000, 1000};

PngSize pngSize(const std::string& path) {
  const std::string d = testsupport::readFile(path);
  if (d.size() < 24 || d.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || d.compare(12, 4, "IHDR") != 0) return {};
  auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | std::uint8_t(d[at + k]);
    return v;
  };
  return {be32(16), be32(20)};
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

// ------------------------------------------------------------------ look
TEST(Look, ColourIndicesGiveTheColoursUsersKnowAndUnknownIsBlack) {
  const std::pair<int, tk::Rgb> cases[] = {
      {0, {255, 255, 255}}, {1, {0, 0, 0}},       {2, {255, 0, 0}},     {3, {0, 255, 0}},
      {8, {89, 211, 84}},   {12, {76, 76, 76}},  // grey 0.3, truncated
      {600, {0, 0, 255}},   {632, {255, 0, 0}},   {100, {255, 0, 0}},  // the rainbow ends in red
      {-1, {0, 0, 0}},      {601, {0, 0, 0}},     {7777, {0, 0, 0}},   // unknown: black, not white
  };
  for (const auto& c : cases) EXPECT_EQ(tk::colourOf(c.first), c.second) << c.first;
}

TEST(Look, MarkerStylesMapToShapesAndSizesStaySane) {
  struct Case {
    int style;
    tk::MarkerShape shape;
    bool filled;
  };
  const Case cases[] = {
      {2, tk::MarkerShape::Plus, false},   {4, tk::MarkerShape::Circle, false}, {20, tk::MarkerShape::Circle, true},
      {21, tk::MarkerShape::Square, true}, {26, tk::MarkerShape::TriangleUp, false},
      {29, tk::MarkerShape::Star, true},   {33, tk::MarkerShape::Diamond, true}, {99, tk::MarkerShape::Circle, true},
  };
  for (const Case& c : cases) {
    const tk::MarkerLook look = tk::markerLook(c.style, 2.0);
    EXPECT_EQ(look.shape, c.shape) << c.style;
    EXPECT_EQ(look.filled, c.filled) << c.style;
    EXPECT_DOUBLE_EQ(look.sizePx, 16.0) << c.style;  // size 2.0 is 16 px across
  }
  EXPECT_DOUBLE_EQ(tk::markerLook(1, 5.0).sizePx, 1.0);  // the dot ignores the size
  // Sizes that would blot out the figure or poison its geometry.
  EXPECT_DOUBLE_EQ(tk::markerLook(20, 1e9).sizePx, 200.0);
  EXPECT_DOUBLE_EQ(tk::markerLook(20, std::nan("")).sizePx, 0.0);
  const auto circle = tk::markerOutline(tk::markerLook(24, 25.0));
  ASSERT_EQ(circle.size(), 1u);
  EXPECT_LE(circle.front().size(), 64u);  // the painter's polygon limit
  EXPECT_EQ(circle.front().front(), circle.front().back());
}

TEST(Look, TicksAreNiceStepsWithShortLabels) {
  const tk::Ticks hv = tk::chooseTicks(200, 2600);
  EXPECT_DOUBLE_EQ(hv.step, 200);
  ASSERT_EQ(hv.labels.size(), 13u);
  EXPECT_EQ(hv.labels.front() + " " + hv.labels.back(), "200 2600");

  const tk::Ticks unit = tk::chooseTicks(0, 1.1);
  EXPECT_DOUBLE_EQ(unit.step, 0.1);
  ASSERT_GE(unit.labels.size(), 11u);
  EXPECT_EQ(unit.labels[5] + " " + unit.labels[10], "0.5 1");
  EXPECT_EQ(tk::tickLabel(0.25, 0.05), "0.25");
  // Across zero the tick at zero is "0", not "-0" or "1.4e-17".
  const tk::Ticks across = tk::chooseTicks(-10.95, 0.45);
  EXPECT_EQ(std::count(across.labels.begin(), across.labels.end(), "0"), 1);
  for (const auto& l : across.labels) EXPECT_TRUE(l != "-0" && l.find('e') == std::string::npos) << l;

  // Long labels are scaled by a power of ten shown once on the axis.
  const tk::Ticks big = tk::chooseTicks(0, 2.4e6), small = tk::chooseTicks(0, 4e-6);
  EXPECT_EQ(big.exponent, 6);
  EXPECT_EQ(small.exponent, -6);
  EXPECT_EQ(tk::chooseTicks(0, 99999).exponent, 0);
  for (const auto& l : big.labels) EXPECT_LE(l.size(), 5u) << l;

  for (double high : {5.0, 4.0, std::nan(""), double(INFINITY)}) EXPECT_TRUE(tk::chooseTicks(5, high).primary.empty());
}

TEST(Look, TitleMarkupBecomesPainterTextAndHashStaysLiteral) {
  std::string deep;
  for (int k = 0; k < 20000; ++k) deep += "^{";
  const std::pair<std::string, std::string> cases[] = {
      {"J  [nA/cm^{2}]", "J  [nA/cm#u2#d]"},
      {"R_{gap}", "R#dgap#u"},
      {"#rho [#Omega cm]", "\u03c1 [\u03a9 cm]"},
      // A gap or run named with "#" must not turn into a painter command.
      {"run #3, #u", "run ##3, ##u"},
      {"a^{2", "a^{2"},
      {"a^{b{c}d}", "a#ub{c}d#d"},
      {deep, deep},  // deep nesting stays literal, and quick
      // The painter drops a whole label over one bad byte.
      {"GAP-\xff-\xc3", "GAP-?-?"},
      {"\xed\xa0\x80", "???"},
      {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
  };
  for (const auto& c : cases) EXPECT_EQ(tk::toPlplotText(c.first), c.second) << c.first.substr(0, 40);
}

// ------------------------------------------------------------------ style macro
TEST(StyleMacro, AppliesTheSubsetOnTheNamedStyleAndListsTheRest) {
  std::istringstream macro(R"(
{
  TStyle *uLm = new TStyle("uLm", "uLm style; for reports");
  uLm->SetPadLeftMargin(0.12);   // room for the J title
  uLm->SetPadRightMargin((Float_t)0.04);
  uLm->SetPadTopMargin(0.05);
  uLm->SetLabelSize(0.045, "XY");
  uLm->SetTextFont(132);
  uLm->SetPadGridX(kTRUE);
  uLm->SetLegendFillColor(kWhite);
  uLm->SetPalette(1, 0);
  /* uLm->SetPadLeftMargin(0.4); commented out */
  uLm->SetPadTopMargin(-3);
  TStyle *other = new TStyle("plain", "not ours");
  other->SetPadLeftMargin(0.3);
  gStyle->SetOptStat(1111);
}
)");
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.12);
  EXPECT_DOUBLE_EQ(style.padRightMargin, 0.04);
  EXPECT_DOUBLE_EQ(style.padTopMargin, 0.05);  // the bad -3 later is not taken
  EXPECT_DOUBLE_EQ(style.labelSize, 0.045);
  EXPECT_EQ(style.font, "serif");
  EXPECT_TRUE(style.gridX && !style.gridY);
  EXPECT_EQ(style.legendFillColor, 0);
  EXPECT_EQ(style.optStat, 0);  // gStyle's setting does not reach "uLm"
  std::string all;
  for (const auto& s : ignored) all += s + "\n";
  for (const char* part : {"SetPalette", "SetPadTopMargin(-3)", "other->SetPadLeftMargin", "gStyle->SetOptStat"})
    EXPECT_NE(all.find(part), std::string::npos) << part << " in\n" << all;
  EXPECT_EQ(all.find("SetPadLeftMargin(0.4)"), std::string::npos);  // it was a comment
}

TEST(StyleMacro, MalformedOrOversizedTextNeverThrowsNorChangesTheStyleWildly) {
  const std::string samples[] = {
      "uLm->SetPadLeftMargin(1e999);",
      "uLm->SetLabelSize(0.04, \"Z\");",
      "\"unterminated string ; uLm->SetPadLeftMargin(0.2);",
      "/* unterminated comment uLm->SetPadLeftMargin(0.2);",
      "uLm->(0.2); ->SetX(); uLm-> ; ;;; {{{ }}}",
      std::string("\0\xff\xfe uLm->SetMarkerSize(\0)", 24),
      // Only the first MiB is read.
      std::string(2 << 20, ' ') + "uLm->SetPadLeftMargin(0.3);\n",
  };
  for (const std::string& text : samples) {
    std::istringstream macro(text);
    tk::Style style;
    std::vector<std::string> ignored;
    EXPECT_NO_THROW(tk::readStyleMacro(macro, "uLm", style, ignored)) << text.substr(0, 60);
    EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.1) << text.substr(0, 60);
    EXPECT_DOUBLE_EQ(style.labelSize, 0.035) << text.substr(0, 60);
  }
}

// ------------------------------------------------------------------ canvas files
TEST(CanvasFiles, FormatFollowsTheExtensionAndPercentSignsAreKept) {
  ScratchDir dir;
  tk::Graph g = rising(20);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  tk::Function line;  // attached after drawing, as a fit is: painted all the same, in green
  line.par[0] = -4;
  line.par[1] = 0.01;
  line.xmin = 600;
  line.xmax = 900;
  line.lineColor = 3;
  g.function = line;
  std::string error;
  // PLplot expands "%n" in the names it opens; a gap called "50%n" must still get its own file.
  for (const std::string name : {"50%n.png", "50%n.svg", "50%n.PDF"})
    ASSERT_TRUE(c.SaveAs(dir.file(name), error)) << name << ": " << error;
  EXPECT_EQ(pngSize(dir.file("50%n.png")), kFigureSize);
  EXPECT_GE(count(testsupport::readFile(dir.file("50%n.svg")), "stroke:rgb(0%,100%,0%)"), 1u);  // the fit
  EXPECT_NE(testsupport::readFile(dir.file("50%n.svg")).find("<svg"), std::string::npos);
  EXPECT_EQ(testsupport::readFile(dir.file("50%n.PDF")).compare(0, 5, "%PDF-"), 0);
  EXPECT_EQ(testsupport::listDir(dir.path()), (std::vector<std::string>{"50%n.PDF", "50%n.png", "50%n.svg"}));
}

TEST(CanvasFiles, UnwritablePathOrUnknownFormatIsReportedAndLeavesNoFile) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("plain"), "x");
  tk::Graph g = rising(5);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  // A path through a regular file cannot be created, whoever runs the test.
  for (const std::string name : {"plain/f.png", "missing/f.png", "f.gif"}) {
    std::string error;
    EXPECT_FALSE(c.SaveAs(dir.file(name), error)) << name;
    EXPECT_NE(error.find(dir.file(name)), std::string::npos) << error;
  }
  EXPECT_EQ(testsupport::listDir(dir.path()), std::vector<std::string>{"plain"});
}

TEST(CanvasFiles, CanvasesSavedFromSeveralThreadsAreAllComplete) {
  ScratchDir dir;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&dir, t] {
      tk::Graph g = rising(30 + t);
      tk::Canvas c("c", "c", 800, 400, tk::Style{});
      c.DrawGraph(&g, true);
      std::string error;
      EXPECT_TRUE(c.SaveAs(dir.file("t" + std::to_string(t) + ".png"), error)) << error;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 3; ++t) EXPECT_EQ(pngSize(dir.file("t" + std::to_string(t) + ".png")), PngSize(800, 400)) << t;
}

// ------------------------------------------------------------------ the figures
struct FigureRun {
  ScratchDir home, out;
  std::ostringstream log, err;
  tk::Console console{log, err};
  OutputPlace place;
  FigureRun() {
    const std::string h = home.path();
    place.env = [h](const std::string& name) { return name == "HOME" ? std::optional<std::string>(h) : std::nullopt; };
    place.date = "20240102";
    place.outputDir = out.path();
  }
  FigureContext context(const char* extension = ".png") { return FigureContext{place, console, extension}; }
};

TEST(FigureStyle, UserMacroThenTheFixedSettingsWin) {
  FigureRun run;
  std::filesystem::create_directories(run.home.file(".root"));
  testsupport::writeFile(run.home.file(".root/rootstyle.C"),
                         "{ TStyle *uLm = new TStyle(\"uLm\",\"\");\n  uLm->SetPadLeftMargin(0.15);\n"
                         "  uLm->SetCanvasColor(5);\n  uLm->SetOptStat(1111);\n  uLm->SetFillColor(3);\n}\n");
  const tk::Style style = figureStyle(run.context(), true);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.15);
  EXPECT_EQ(style.canvasColor, 0);
  EXPECT_EQ(style.optStat, 0);
  EXPECT_NE(run.log.str().find("SetFillColor(3)"), std::string::npos) << run.log.str();
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
  EXPECT_EQ(pngSize(run.out.file("ALLcurrents.png")), kFigureSize);
  EXPECT_FALSE(run.console.failed()) << run.err.str();
  EXPECT_EQ(s.graphs[1].yTitle, "J  [nA/cm^{2}]");
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(s.graphs[k].markerStyle, s.profiles[k].marker);
}

TEST(CombinedFigure, NoGapNoPointsOrUnwritableDrawsNothingAndSaysSo) {
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
  ThreeGaps t;
  t.pointers[1] = &none;
  DrawingVectorTogether(t.pointers, t.profiles, t.gaps, 1, "scan.csv", "", emptyMax.context());
  EXPECT_EQ(pngSize(emptyMax.out.file("ALLcurrents.png")), kFigureSize);
  EXPECT_NE(emptyMax.err.str().find("taken from gap A-BOTTOM"), std::string::npos) << emptyMax.err.str();
  EXPECT_FALSE(emptyMax.console.failed());

  FigureRun blocked;
  testsupport::writeFile(blocked.out.file("blocker"), "");
  blocked.place.outputDir = blocked.out.file("blocker");
  DrawingVectorTogether(s.pointers, s.profiles, s.gaps, 0, "scan.csv", "", blocked.context());
  EXPECT_TRUE(blocked.console.failed());
  EXPECT_NE(blocked.err.str().find("blocker/ALLcurrents.png"), std::string::npos) << blocked.err.str();
}

TEST(GapFigure, SavedUnderTheSafeGapNameAndAnEmptyGraphGetsNone) {
  FigureRun run;
  tk::Graph g = rising(10), none;
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = true;
  PlottingEachAndDoLinearFit(&g, {"RE3/../X", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit);  // ten points: no window is tried
  EXPECT_EQ(pngSize(run.out.file("RE3_.._X.png")), kFigureSize);
  EXPECT_DOUBLE_EQ(r.first, 3000);

  StatFit = true;
  PlottingEachAndDoLinearFit(&none, {"G", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit);
  EXPECT_FALSE(testsupport::fileExists(run.out.file("G.png")));
  EXPECT_NE(run.err.str().find("missing graph"), std::string::npos);
}

TEST(GapFigure, FitsAttachedAfterDrawingArePaintedInTheirColours) {
  // Flat leakage, then an ohmic rise with unit scatter, which the search accepts.
  // The fits are attached after the graph was drawn, and must be painted all the same.
  tk::Graph g;
  for (int i = 0; i < 65; ++i) {
    const double scatter = (i % 2 == 0) ? 1.0 : -1.0;
    g.AddPoint(1000 + 20.0 * i, 0.5 + (i >= 30 ? (i - 30) + scatter : 0.02 * scatter));
  }
  FigureRun run;
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = false;
  PlottingEachAndDoLinearFit(&g, {"G", 3, 20}, "scan.csv", r, o, u, StatFit, false, run.context(".svg"));
  ASSERT_TRUE(StatFit) << run.log.str();
  const std::string svg = testsupport::readFile(run.out.file("G.svg"));
  EXPECT_GE(count(svg, "stroke:rgb(0%,0%,100%)"), 1u);  // colour 600, the window's line
  EXPECT_GE(count(svg, "stroke:rgb(100%,0%,0%)"), 1u);  // colour 632, the level
  EXPECT_GE(count(svg, "fill:rgb(0%,100%,0%)"), 65u);   // every marker, in green
}

}  // namespace
