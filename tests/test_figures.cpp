// Figures: the look (colours, markers, ticks, title markup), the style macro,
// the saved files, and the combined and per-gap figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

#include "aux/Drawing.h"
#include "tests/TestSupport.h"
#include "toolkit/Layout.h"
#include "toolkit/Look.h"

namespace {

using testsupport::ScratchDir;
using PngSize = std::pair<std::uint32_t, std::uint32_t>;

// Width and height from the IHDR chunk every PNG starts with; {0, 0} for no PNG.
PngSize pngSize(const std::string& path) {
  const std::string d = testsupport::readFile(path);
  if (d.size() < 24 || d.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
  auto be32 = [&](std::size_t at) { return std::uint32_t(std::uint8_t(d[at])) << 24 | std::uint8_t(d[at + 1]) << 16 |
                                           std::uint8_t(d[at + 2]) << 8 | std::uint8_t(d[at + 3]); };
  return {be32(16), be32(20)};
}

tk::Graph rising(int points, double x0 = 400) {
  tk::Graph g;
  for (int i = 0; i < points; ++i) g.AddPoint(x0 + i * 30, 0.01 * i * i);
  return g;
}

TEST(Look, ColourIndicesMarkerStylesTicksAndTitlesGiveWhatUsersKnow) {
  const std::pair<int, tk::Rgb> colours[] = {
      {0, {255, 255, 255}}, {1, {0, 0, 0}},     {2, {255, 0, 0}},   {3, {0, 255, 0}},   {4, {0, 0, 255}},
      {8, {89, 211, 84}},   {600, {0, 0, 255}}, {632, {255, 0, 0}}, {601, {0, 0, 204}}, {150, {0, 0, 0}}};  // 150: unknown, black
  for (const auto& [index, rgb] : colours) EXPECT_EQ(tk::colourOf(index), rgb) << index;
  const std::tuple<int, tk::MarkerShape, bool> markers[] = {
      {8, tk::MarkerShape::Circle, true},   {21, tk::MarkerShape::Square, true}, {33, tk::MarkerShape::Diamond, true},
      {24, tk::MarkerShape::Circle, false}, {2, tk::MarkerShape::Plus, false},   {99, tk::MarkerShape::Circle, true}};
  for (const auto& [style, shape, filled] : markers) {
    const tk::MarkerLook look = tk::markerLook(style, 2.0);
    EXPECT_TRUE(look.shape == shape && look.filled == filled && look.sizePx == 16.0) << style;  // 2.0: 16 px
  }
  EXPECT_DOUBLE_EQ(tk::markerLook(20, 1e9).sizePx, 200.0);  // sizes that would blot out the figure
  const tk::Ticks hv = tk::chooseTicks(200, 2600), across = tk::chooseTicks(-10.95, 0.45);
  EXPECT_EQ(hv.labels.front() + " " + hv.labels[1] + " " + hv.labels.back(), "200 400 2600");
  EXPECT_EQ(std::count(across.labels.begin(), across.labels.end(), "0"), 1);  // not "-0" or "1.4e-17"
  EXPECT_EQ(tk::chooseTicks(0, 2.4e6).exponent, 6);  // long labels: a power of ten shown once
  EXPECT_TRUE(tk::chooseTicks(5, std::nan("")).primary.empty());
  std::string deep;
  for (int k = 0; k < 20000; ++k) deep += "^{";
  const std::pair<std::string, std::string> titles[] = {
      {"J  [nA/cm^{2}]", "J  [nA/cm#u2#d]"}, {"#rho [#Omega cm]", "\u03c1 [\u03a9 cm]"}, {"a^{2", "a^{2"},
      {"run #3, #u", "run ##3, ##u"},  // a gap named with "#" is no painter command
      {"GAP-\xff-\xc3", "GAP-?-?"},  // the painter drops a whole label over one bad byte
      {deep, deep}, {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"}};
  for (const auto& [title, text] : titles) EXPECT_EQ(tk::toPlplotText(title), text) << title.substr(0, 40);
}

TEST(StyleMacro, AppliesTheSubsetOnTheNamedStyleAndListsTheRest) {
  std::istringstream macro(R"({
  TStyle *uLm = new TStyle("uLm", "uLm style; for reports");
  uLm->SetPadLeftMargin(0.12);   // room for the J title
  uLm->SetPadRightMargin((Float_t)0.04);
  uLm->SetTextFont(132);
  uLm->SetPadGridX(kTRUE);
  /* uLm->SetPadLeftMargin(0.4); commented out */
  uLm->SetPadTopMargin(-3);
  uLm->SetLegendFillColor(kRed+1e60);
  TStyle *other = new TStyle("plain", "not ours");
  other->SetPadBottomMargin(0.3);
  gStyle->SetOptStat(1111);
})");
  const tk::Style before;
  tk::Style style;
  std::vector<std::string> ignored;
  tk::readStyleMacro(macro, "uLm", style, ignored);
  EXPECT_EQ(std::vector<double>({style.padLeftMargin, style.padRightMargin, style.padTopMargin, style.padBottomMargin}),
            std::vector<double>({0.12, 0.04, before.padTopMargin, before.padBottomMargin}));
  EXPECT_TRUE(style.font == "serif" && style.gridX && !style.gridY);
  EXPECT_TRUE(style.legendFillColor == before.legendFillColor && style.optStat == before.optStat);
  EXPECT_EQ(ignored, (std::vector<std::string>{"uLm->SetPadTopMargin(-3)", "uLm->SetLegendFillColor(kRed+1e60)",
                                               "other->SetPadBottomMargin(0.3)", "gStyle->SetOptStat(1111)"}));
}

TEST(CanvasFiles, FormatByExtensionNamesKeptFailuresLeaveNoFile) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("plain"), "x");
  tk::Graph g = rising(20);
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  // PLplot expands "%n" in the names it opens; a gap called "50%n" keeps its own file.
  for (const std::string name : {"50%n.png", "50%n.svg", "50%n.PDF"}) ASSERT_TRUE(c.SaveAs(dir.file(name), error)) << error;
  EXPECT_EQ(pngSize(dir.file("50%n.png")), PngSize(2000, 1000));
  EXPECT_NE(testsupport::readFile(dir.file("50%n.svg")).find("<svg"), std::string::npos);
  EXPECT_EQ(testsupport::readFile(dir.file("50%n.PDF")).compare(0, 5, "%PDF-"), 0);
  for (const std::string name : {"plain/f.png", "missing/f.png", "f.gif"}) {
    EXPECT_FALSE(c.SaveAs(dir.file(name), error)) << name;
    EXPECT_NE(error.find(dir.file(name)), std::string::npos) << error;
  }
  EXPECT_EQ(testsupport::listDir(dir.path()), (std::vector<std::string>{"50%n.PDF", "50%n.png", "50%n.svg", "plain"}));
}

struct FigureRun {
  ScratchDir home, out;
  std::ostringstream log, err;
  tk::Console console{log, err};
  OutputPlace place{[h = home.path()](const std::string& name) { return name == "HOME" ? std::optional(h) : std::nullopt; },
                    "20240102", out.path()};
  FigureContext context(const char* extension = ".png") { return FigureContext{place, console, extension}; }
};

TEST(FigureStyle, UserMacroThenTheFixedSettingsWin) {
  FigureRun run;
  std::filesystem::create_directories(run.home.file(".root"));
  testsupport::writeFile(run.home.file(".root/rootstyle.C"),
                         "{ TStyle *uLm = new TStyle(\"uLm\",\"\");\n uLm->SetPadLeftMargin(0.15); uLm->SetCanvasColor(5);\n"
                         " uLm->SetFrameFillColor(5); uLm->SetOptStat(1111); uLm->SetOptTitle(1); uLm->SetFillColor(3);\n}\n");
  const tk::Style style = figureStyle(run.context(), true);
  EXPECT_DOUBLE_EQ(style.padLeftMargin, 0.15);
  EXPECT_EQ(style.canvasColor + style.frameFillColor + style.optStat + style.optTitle, 0);
  EXPECT_NE(run.log.str().find("INFO :: Drawing : figureStyle : not applied from " + run.home.file(".root/rootstyle.C") +
                               " : uLm->SetFillColor(3)\n"), std::string::npos) << run.log.str();
}

TEST(CombinedFigure, EveryGapInItsProfileOrNothingDrawnAndSaid) {
  std::vector<tk::Graph> graphs{rising(40), rising(40, 500), rising(40, 450)};
  tk::Graph none;
  const std::vector<plotprofile> profiles{{"A-BOTTOM", 4, 8}, {"A-TOPNARROW", 3, 33}, {"A-TOPWIDE", 2, 22}};
  const ChamberIndexList gaps{{"A-BOTTOM", 0}, {"A-TOPNARROW", 1}, {"A-TOPWIDE", 2}};
  FigureRun run, emptyMax, outside, nothing;
  DrawingVectorTogether({&graphs[0], &graphs[1], &graphs[2]}, profiles, gaps, 1, "scan.csv", "Argon", run.context());
  EXPECT_EQ(pngSize(run.out.file("ALLcurrents.png")), PngSize(2000, 1000));
  EXPECT_EQ(run.err.str(), "");
  EXPECT_EQ(graphs[1].yTitle + " / " + graphs[1].xTitle, "J  [nA/cm^{2}] / HV [V]");
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_TRUE(graphs[k].markerColor == profiles[k].color && graphs[k].markerStyle == profiles[k].marker) << k;
    EXPECT_EQ(graphs[k].markerSize, 2.0);
  }
  // The gap of the largest current has no points: another gives the frame.
  DrawingVectorTogether({&graphs[0], &none, &graphs[2]}, profiles, gaps, 1, "scan.csv", "", emptyMax.context());
  EXPECT_EQ(pngSize(emptyMax.out.file("ALLcurrents.png")), PngSize(2000, 1000));
  EXPECT_NE(emptyMax.err.str().find("taken from gap A-BOTTOM"), std::string::npos) << emptyMax.err.str();
  DrawingVectorTogether({&graphs[0], &graphs[1], &graphs[2]}, profiles, gaps, 7, "scan.csv", "", outside.context());
  DrawingVectorTogether({&none}, {{"G", 1, 20}}, {{"G", 0}}, 0, "scan.csv", "", nothing.context());
  EXPECT_TRUE(outside.console.failed());
  EXPECT_NE(nothing.err.str().find("missing graph"), std::string::npos);
  EXPECT_EQ(testsupport::listDir(outside.out.path()).size() + testsupport::listDir(nothing.out.path()).size(), 0u);
}

TEST(GapFigure, SavedUnderTheSafeNameWithTheFitsPaintedInTheirColours) {
  tk::Graph g, none;  // flat leakage, then an ohmic rise with unit scatter, which the search accepts
  for (int i = 0; i < 65; ++i) g.AddPoint(1000 + 20.0 * i, 0.5 + (i >= 30 ? (i - 30) + (i % 2 ? -1 : 1) : 0.02));
  FigureRun run;
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = false;
  PlottingEachAndDoLinearFit(&g, {"RE3/../X", 3, 20}, "scan.csv", r, o, u, StatFit, false, run.context(".svg"));
  ASSERT_TRUE(StatFit) << run.log.str();
  const std::string svg = testsupport::readFile(run.out.file("RE3_.._X.svg"));
  EXPECT_NE(svg.find("stroke:rgb(0%,0%,100%)"), std::string::npos);  // colour 600, the window's line
  EXPECT_NE(svg.find("stroke:rgb(100%,0%,0%)"), std::string::npos);  // colour 632, the level
  std::size_t markers = 0;
  for (std::size_t at = svg.find("fill:rgb(0%,100%,0%)"); at != std::string::npos; at = svg.find("fill:rgb(0%,100%,0%)", at + 1)) ++markers;
  EXPECT_GE(markers, 65u);  // every marker, in green
  StatFit = true;
  PlottingEachAndDoLinearFit(&none, {"G", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit || testsupport::fileExists(run.out.file("G.png")));
  EXPECT_NE(run.err.str().find("missing graph"), std::string::npos);
}

}  // namespace

namespace {

// Every pixel of the canvas as painted now.
std::vector<unsigned long> pixelsOf(const tk::Canvas& canvas) {
  tk::Image image(canvas.width(), canvas.height());
  std::string error;
  EXPECT_TRUE(canvas.Paint(image, error)) << error;
  std::vector<unsigned long> out;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) out.push_back(image.pixel(x, y));
  }
  return out;
}

std::size_t countColour(const std::vector<unsigned long>& pixels, unsigned long rgb) {
  return static_cast<std::size_t>(std::count(pixels.begin(), pixels.end(), rgb));
}

}  // namespace

// A canvas paints what was drawn when it was drawn: graphs, their functions and
// the legend's samples are copies, so later changes to the graphs (or their end)
// do not reach a figure already handed over.
TEST(CanvasCopies, PaintsTheGraphsAsDrawnAndUpdateGraphReplacesTheCopyInPlace) {
  auto fitted = [] {
    tk::Graph g = rising(20);
    g.markerColor = 3, g.markerStyle = 21, g.markerSize = 1.5;
    tk::Function f;
    f.par[0] = 0.5, f.xmin = 400, f.xmax = 900, f.lineColor = 4;
    g.function = f;
    return g;
  };
  auto g = std::make_unique<tk::Graph>(fitted());
  tk::Canvas c("c", "c", 400, 200, tk::Style{});
  tk::Legend legend;
  legend.x1 = 0.6, legend.x2 = 0.9, legend.y1 = 0.1, legend.y2 = 0.3;
  legend.AddEntry(g.get(), "gap", "p");
  c.DrawGraph(g.get(), true);
  c.DrawLegend(legend);  // samples copied now, not at AddEntry
  const auto before = pixelsOf(c);
  EXPECT_GT(countColour(before, 0x00ff00), 100u);  // the markers and the sample, green
  EXPECT_GT(countColour(before, 0x0000ff), 20u);   // the attached function, blue
  g->markerColor = 2;
  g->function.reset();
  g->AddPoint(1000, 5);
  EXPECT_EQ(pixelsOf(c), before);
  g.reset();  // the graph gone: nothing dangles
  EXPECT_EQ(pixelsOf(c), before);

  tk::Graph changed = fitted();
  changed.markerColor = 2;
  changed.function->lineColor = 6;
  changed.AddPoint(1e6, 1e6);  // outside the frame, which stays as drawn
  EXPECT_TRUE(c.UpdateGraph(0, changed));
  EXPECT_FALSE(c.UpdateGraph(1, changed));  // the legend is no graph
  EXPECT_FALSE(c.UpdateGraph(2, changed));
  const auto after = pixelsOf(c);
  EXPECT_EQ(countColour(after, 0x0000ff), 0u);
  EXPECT_GT(countColour(after, 0xff00ff), 20u);     // the new function, magenta
  EXPECT_GT(countColour(after, 0x00ff00), 10u);     // the legend's sample kept its green
  EXPECT_LT(countColour(after, 0x00ff00), countColour(before, 0x00ff00));  // the markers went red
  EXPECT_EQ(c.items()[0].xRange.high, tk::Graph(fitted()).xAxis().high);
}

namespace {

// A 400 x 200 canvas with a frame over columns 40-360 and rows 20-180 from
// the top, x and y from 0 to 11 (points at (0, 0) and (10, 10), widened by 10%
// and clamped at 0), its markers one pixel.
tk::Canvas elevenByEleven() {
  tk::Graph g;
  g.AddPoint(0, 0);
  g.AddPoint(10, 10);
  tk::Canvas c("c", "c", 400, 200, tk::Style{});
  c.DrawGraph(&g, true);
  return c;
}

struct Painted {
  tk::Image image{400, 200};
  explicit Painted(const tk::Canvas& c) {
    std::string error;
    EXPECT_TRUE(c.Paint(image, error)) << error;
  }
  unsigned long at(int col, int row) const { return image.pixel(col, row); }
  bool dark(int col, int row) const { return (at(col, row) & 0xff) < 160; }
  // Pixels of colour rgb in row `row` between two columns, and how often the
  // row changes between that colour and any other.
  std::pair<int, int> run(int row, int from, int to, unsigned long rgb) const {
    int count = 0, changes = 0;
    for (int x = from; x < to; ++x) {
      count += at(x, row) == rgb;
      if (x > from && (at(x, row) == rgb) != (at(x - 1, row) == rgb)) ++changes;
    }
    return {count, changes};
  }
  // The same down column `col`, any of it and its right neighbour counting.
  int column(int col, int from, int to, unsigned long rgb) const {
    int count = 0;
    for (int y = from; y < to; ++y) count += at(col, y) == rgb || at(col + 1, y) == rgb;
    return count;
  }
};

}  // namespace

TEST(Primitives, DashedFunctionsAndLinesClippedToTheFrame) {
  struct Case {
    int style;
    int fewestChanges, mostChanges, fewest, most;
  };
  for (const Case c : {Case{1, 0, 0, 300, 320}, Case{2, 10, 30, 120, 200}}) {
    tk::Canvas canvas = elevenByEleven();
    tk::Function f;
    f.npar = 1, f.par[0] = 5.5, f.xmin = 0, f.xmax = 11, f.lineColor = 6, f.lineStyle = c.style;
    canvas.DrawFunction(f);
    const Painted p(canvas);
    const tk::FigureLayout l = tk::layoutFigure(canvas);
    ASSERT_EQ(l.rowOf(5.5), 100);
    // The line is 2 px wide about page height 100: rows 99 and 100 (from the top).
    const auto [count, changes] = p.run(99, 45, 355, 0xff00ff);
    EXPECT_GE(changes, c.fewestChanges) << c.style;
    EXPECT_LE(changes, c.mostChanges) << c.style;
    EXPECT_GE(count, c.fewest) << c.style;
    EXPECT_LE(count, c.most) << c.style;
  }
  // Lines far beyond the frame are cut at its edges.
  tk::Canvas canvas = elevenByEleven();
  canvas.DrawLine(-100, 2.75, 1e6, 2.75, 4, 2);     // page height 60: rows 139-140
  canvas.DrawLine(5.5, -50, 5.5, 50, 3, 2, 2);      // column 200, dashed
  const Painted p(canvas);
  EXPECT_GT(p.run(139, 45, 355, 0x0000ff).first, 300);
  EXPECT_EQ(p.run(139, 0, 39, 0x0000ff).first + p.run(139, 362, 400, 0x0000ff).first, 0);
  const int green = p.column(199, 0, 200, 0x00ff00);
  EXPECT_GT(green, 50);  // dashed, so well short of the frame's 160 rows
  EXPECT_LT(green, 120);
  EXPECT_EQ(p.column(199, 0, 19, 0x00ff00) + p.column(199, 182, 200, 0x00ff00), 0);
}

TEST(Primitives, FitBoxAndCornerTextOnTop) {
  tk::Canvas canvas = elevenByEleven();
  canvas.DrawTextBox({}, {"p_{0} = -135.6 #pm 2.1", "p_{1} = 0.080 #pm 0.001", "#chi^{2} / ndf = 5.55 / 5"});
  canvas.DrawText(0.02, 0.98, "RE3-PK-154", 0.06, 13);
  const Painted p(canvas);
  const tk::FigureLayout f = tk::layoutFigure(canvas);
  ASSERT_EQ(f.textBoxes.size(), 1u);
  // The default box, top right of the pad: x 0.78-0.98, y 0.775-0.935.
  const tk::PixelBox b = f.textBoxes[0].box;
  EXPECT_EQ(std::vector<double>({b.x1, b.y1, b.x2, b.y2}), std::vector<double>({312, 155, 392, 187}));
  EXPECT_EQ(f.textBoxes[0].rows.size(), 3u);
  // A border one pixel wide (painted over columns 311-312), white just inside
  // it over the frame's line, dark text further in.
  const int top = 200 - 187, bottom = 200 - 155;
  int border = 0, dark = 0;
  for (int row = top + 2; row < bottom - 2; ++row) {
    border += p.dark(311, row) && p.dark(312, row);
    EXPECT_EQ(p.at(314, row), 0xffffffUL) << row;
  }
  for (int row = top + 2; row < bottom - 2; ++row) {
    for (int col = 315; col < 390; ++col) dark += p.dark(col, row);
  }
  EXPECT_EQ(border, bottom - top - 4);
  EXPECT_GT(dark, 40);
  // The corner label hangs from its point, 8 px from the left, 4 from the top.
  ASSERT_EQ(f.texts.size(), 1u);
  int label = 0, below = 0, left = 0;
  for (int row = 0; row < 60; ++row) {
    for (int col = 0; col < 20; ++col) {  // left of the y axis's labels
      label += p.dark(col, row) && row < 4 + 12;
      below += p.dark(col, row) && row >= 4 + 12 && row < 60;
      left += p.dark(col, row) && col < 8;
    }
  }
  EXPECT_GT(label, 20);
  EXPECT_EQ(below + left, 0);
}
