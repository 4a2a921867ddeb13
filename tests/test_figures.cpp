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
tk::Graph rising(int points, double x0 = 400) {
  tk::Graph g;
  for (int i = 0; i < points; ++i) g.AddPoint(x0 + i * 30, 0.01 * i * i);
  return g;
}

// Colours are read back from pixels in test_colours, ticks in test_layout.
TEST(Look, MarkerStylesAndTitleMarkupGiveWhatUsersKnow) {
  const std::tuple<int, tk::MarkerShape, bool> markers[] = {
      {8, tk::MarkerShape::Circle, true},   {21, tk::MarkerShape::Square, true}, {33, tk::MarkerShape::Diamond, true},
      {24, tk::MarkerShape::Circle, false}, {2, tk::MarkerShape::Plus, false},   {99, tk::MarkerShape::Circle, true}};
  for (const auto& [style, shape, filled] : markers) {
    const tk::MarkerLook look = tk::markerLook(style, 2.0);
    EXPECT_TRUE(look.shape == shape && look.filled == filled && look.sizePx == 16.0) << style;  // 2.0: 16 px
  }
  EXPECT_DOUBLE_EQ(tk::markerLook(20, 1e9).sizePx, 200.0);  // sizes that would blot out the figure
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

// Within one process too, a figure's bytes owe nothing to the figures painted
// before it (the painter numbers its surfaces process-wide) or to the clock.
TEST(CanvasFiles, FormatByExtensionSameBytesAgainNamesKeptFailuresLeaveNoFile) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("plain"), "x");
  tk::Graph g = rising(20);
  g.xTitle = "HV [V]";
  tk::Canvas c("c", "c", 2000, 1000, tk::Style{});
  c.DrawGraph(&g, true);
  std::string error;
  // PLplot expands "%n" in the names it opens; a gap called "50%n" keeps its own file.
  for (const std::string ext : {".png", ".svg", ".PDF"}) {
    ASSERT_TRUE(c.SaveAs(dir.file("50%n" + ext), error) && c.SaveAs(dir.file("again" + ext), error)) << error;
    EXPECT_TRUE(testsupport::readFile(dir.file("50%n" + ext)) == testsupport::readFile(dir.file("again" + ext))) << ext;
    std::filesystem::remove(dir.file("again" + ext));
  }
  EXPECT_EQ(testsupport::decodePng(dir.file("50%n.png")).width, 2000);
  const std::string svg = testsupport::readFile(dir.file("50%n.svg")), pdf = testsupport::readFile(dir.file("50%n.PDF"));
  EXPECT_TRUE(svg.find("<svg") != std::string::npos && svg.find("id=\"surface1\"") != std::string::npos);
  EXPECT_TRUE(pdf.compare(0, 5, "%PDF-") == 0 && pdf.find("%%EOF") != std::string::npos);
  EXPECT_EQ(pdf.find("/CreationDate"), std::string::npos);
  for (const std::string name : {"plain/f.png", "missing/f.png", "f.gif"}) {
    EXPECT_FALSE(c.SaveAs(dir.file(name), error)) << name;
    EXPECT_NE(error.find(dir.file(name)), std::string::npos) << error;
  }
  EXPECT_EQ(testsupport::listDir(dir.path()), (std::vector<std::string>{"50%n.PDF", "50%n.png", "50%n.svg", "plain"}));
}

// What an easel keeps (pixels of another size, a page the last figure's PNG
// pass blanked, a book of stamps filled past its bound and emptied) never
// shows: a figure and its thumbnail painted on a used easel have the bytes they
// have on a fresh one.
TEST(Easel, AFigureOnAUsedEaselHasTheBytesOfAFreshOne) {
  ScratchDir dir;
  tk::Graph g = rising(65);
  g.markerStyle = 8;
  g.markerColor = 2;
  tk::Canvas figure("f", "f", 2000, 1000, tk::Style{});
  figure.DrawGraph(&g, true);
  tk::Canvas small("s", "s", 640, 480, tk::Style{});
  small.DrawGraph(&g, true);
  tk::Canvas other("o", "o", 2000, 1000, tk::Style{});
  std::vector<tk::Graph> looks(70, rising(65, 430));  // more looks than the book keeps
  for (std::size_t k = 0; k < looks.size(); ++k) {
    looks[k].markerStyle = k % 2 == 0 ? 8 : 21;
    looks[k].markerColor = static_cast<int>(k % 35) + 1;
    other.DrawGraph(&looks[k], k == 0);
  }
  std::string error;
  tk::Easel fresh, used;
  ASSERT_TRUE(figure.SaveAs(dir.file("fresh.png"), error, dir.file("fresh-thumb.png"), 400, &fresh)) << error;
  ASSERT_TRUE(small.SaveAs(dir.file("s.png"), error, dir.file("t.png"), 100, &used)) << error;
  for (const char* name : {"o1.png", "o2.png"}) ASSERT_TRUE(other.SaveAs(dir.file(name), error, dir.file("t.png"), 100, &used)) << error;
  EXPECT_TRUE(testsupport::readFile(dir.file("o1.png")) == testsupport::readFile(dir.file("o2.png")));
  ASSERT_TRUE(figure.SaveAs(dir.file("used.png"), error, dir.file("used-thumb.png"), 400, &used)) << error;
  EXPECT_TRUE(testsupport::readFile(dir.file("fresh.png")) == testsupport::readFile(dir.file("used.png")));
  EXPECT_TRUE(testsupport::readFile(dir.file("fresh-thumb.png")) == testsupport::readFile(dir.file("used-thumb.png")));
  EXPECT_EQ(testsupport::decodePng(dir.file("used-thumb.png")).width, 400);
}

// Figures drawn into a scratch directory; what they said is printed as a run
// prints it, on demand.
struct FigureRun {
  ScratchDir home, out;
  std::ostringstream log, err;
  tk::Console console{log, err};
  tk::Log said;
  tk::Failures kept;
  OutputPlace place{[h = home.path()](const std::string& name) { return name == "HOME" ? std::optional(h) : std::nullopt; },
                    "20240102", out.path()};
  FigureContext context(const char* extension = ".png") { return FigureContext{place, said, extension, false}; }
  std::string progress() { return console.print(said, kept), log.str(); }
  std::string errors() { return console.print(said, kept), err.str(); }
  const tk::Failures& failures() { return console.print(said, kept), kept; }
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
  EXPECT_NE(run.progress().find("INFO :: Drawing : figureStyle : not applied from " + run.home.file(".root/rootstyle.C") +
                               " : uLm->SetFillColor(3)\n"), std::string::npos) << run.progress();
}

TEST(CombinedFigure, EveryGapInItsProfileOrNothingDrawnAndSaid) {
  std::vector<tk::Graph> graphs{rising(40), rising(40, 500), rising(40, 450)};
  tk::Graph none;
  const std::vector<plotprofile> profiles{{"A-BOTTOM", 4, 8}, {"A-TOPNARROW", 3, 33}, {"A-TOPWIDE", 2, 22}};
  const ChamberIndexList gaps{{"A-BOTTOM", 0}, {"A-TOPNARROW", 1}, {"A-TOPWIDE", 2}};
  FigureRun run, emptyMax, outside, nothing;
  DrawingVectorTogether({&graphs[0], &graphs[1], &graphs[2]}, profiles, gaps, 1, "scan.csv", "Argon", run.context());
  EXPECT_EQ(testsupport::decodePng(run.out.file("ALLcurrents.png")).width, 2000);
  EXPECT_EQ(run.errors(), "");
  EXPECT_EQ(graphs[1].yTitle + " / " + graphs[1].xTitle, "J  [nA/cm^{2}] / HV [V]");
  // The gap of the largest current has no points: another gives the frame.
  DrawingVectorTogether({&graphs[0], &none, &graphs[2]}, profiles, gaps, 1, "scan.csv", "", emptyMax.context());
  EXPECT_EQ(testsupport::decodePng(emptyMax.out.file("ALLcurrents.png")).width, 2000);
  EXPECT_NE(emptyMax.errors().find("taken from gap A-BOTTOM"), std::string::npos) << emptyMax.errors();
  DrawingVectorTogether({&graphs[0], &graphs[1], &graphs[2]}, profiles, gaps, 7, "scan.csv", "", outside.context());
  DrawingVectorTogether({&none}, {{"G", 1, 20}}, {{"G", 0}}, 0, "scan.csv", "", nothing.context());
  ASSERT_EQ(outside.failures().all().size(), 1u);
  EXPECT_TRUE(outside.failures().all()[0].IsInvalidArgument());
  EXPECT_FALSE(run.failures().any() || emptyMax.failures().any() || nothing.failures().any());
  EXPECT_NE(nothing.errors().find("missing graph"), std::string::npos);
  EXPECT_EQ(testsupport::listDir(outside.out.path()).size() + testsupport::listDir(nothing.out.path()).size(), 0u);
}

TEST(GapFigure, SavedUnderTheSafeNameInTheFormatAskedOrNothingAndSaid) {
  tk::Graph g, none;  // flat leakage, then an ohmic rise with unit scatter, which the search accepts
  for (int i = 0; i < 65; ++i) g.AddPoint(1000 + 20.0 * i, 0.5 + (i >= 30 ? (i - 30) + (i % 2 ? -1 : 1) : 0.02));
  FigureRun run;
  std::pair<double, double> r{3000, 0}, o{3000, 0}, u{3000, 0};
  bool StatFit = false;
  PlottingEachAndDoLinearFit(&g, {"RE3/../X", 3, 20}, "scan.csv", r, o, u, StatFit, false, run.context(".svg"));
  ASSERT_TRUE(StatFit) << run.progress();
  const std::string svg = testsupport::readFile(run.out.file("RE3_.._X.svg"));
  std::size_t markers = 0;
  for (std::size_t at = svg.find("fill:rgb(0%,100%,0%)"); at != std::string::npos; at = svg.find("fill:rgb(0%,100%,0%)", at + 1)) ++markers;
  EXPECT_GE(markers, 65u);  // every marker, in green
  StatFit = true;
  PlottingEachAndDoLinearFit(&none, {"G", 2, 22}, "scan.csv", r, o, u, StatFit, false, run.context());
  EXPECT_FALSE(StatFit || testsupport::fileExists(run.out.file("G.png")));
  EXPECT_NE(run.errors().find("missing graph"), std::string::npos);
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
TEST(CanvasCopies, PaintsTheGraphsAsDrawn) {
  auto g = std::make_unique<tk::Graph>(rising(20));
  g->markerColor = 3, g->markerStyle = 21, g->markerSize = 1.5;
  g->function = tk::Function{};
  g->function->par[0] = 0.5, g->function->xmin = 400, g->function->xmax = 900, g->function->lineColor = 4;
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
}

// Functions and lines far beyond the frame are cut at its edges: a 400 x 200
// canvas, frame over columns 40-360 and rows 20-180, x and y from 0 to 11.
TEST(Primitives, FunctionsAndLinesClippedToTheFrame) {
  tk::Graph g;
  g.AddPoint(0, 0);
  g.AddPoint(10, 10);
  tk::Canvas canvas("c", "c", 400, 200, tk::Style{});
  canvas.DrawGraph(&g, true);
  tk::Function f;
  f.npar = 1, f.par[0] = 5.5, f.xmin = -50, f.xmax = 50, f.lineColor = 6;
  canvas.DrawFunction(f);                       // page height 100: rows 99-100
  canvas.DrawLine(-100, 2.75, 1e6, 2.75, 4, 2);  // page height 60: rows 139-140
  canvas.DrawLine(5.5, -50, 5.5, 50, 3, 2, 2);   // column 200, dashed
  const auto px = pixelsOf(canvas);
  auto count = [&](int c1, int r1, int c2, int r2, unsigned long rgb) {
    int n = 0;
    for (int r = r1; r < r2; ++r) {
      for (int c = c1; c < c2; ++c) n += px[static_cast<std::size_t>(r) * 400 + c] == rgb;
    }
    return n;
  };
  ASSERT_EQ(tk::layoutFigure(canvas).rowOf(5.5), 100);
  EXPECT_GT(count(45, 99, 355, 100, 0xff00ff), 300);
  EXPECT_GT(count(45, 139, 355, 140, 0x0000ff), 300);
  EXPECT_EQ(count(0, 99, 39, 100, 0xff00ff) + count(362, 99, 400, 100, 0xff00ff), 0);
  EXPECT_EQ(count(0, 139, 39, 140, 0x0000ff) + count(362, 139, 400, 140, 0x0000ff), 0);
  const int green = count(199, 0, 201, 200, 0x00ff00);
  EXPECT_GT(green, 50);  // dashed, so well short of the frame's 160 rows
  EXPECT_LT(green, 240);
  EXPECT_EQ(count(199, 0, 201, 19, 0x00ff00) + count(199, 182, 201, 200, 0x00ff00), 0);
}
