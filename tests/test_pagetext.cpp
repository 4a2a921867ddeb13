// Strings drawn by the text book land on the very pixels the plotting library's
// cairo device gives them, whatever their alignment, direction, scripts, font
// and characters, and again when the book draws them a second time.
#include <gtest/gtest.h>

#include <cairo.h>
#include <plplot.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/Layout.h"
#include "toolkit/Look.h"
#include "toolkit/PageText.h"

namespace {

struct Case {
  const char* markup;
  double x, y, just;
  bool vertical;
  double sizePx;  // the line height, as the painter sizes text
  PLINT family, weight;
};

const Case kCases[] = {
    {"HV [V]", 1800, 60, 1.0, false, 35, PL_FCI_SANS, PL_FCI_MEDIUM},             // right-aligned axis title
    {"J  [nA/cm^{2}]", 60, 900, 1.0, true, 35, PL_FCI_SANS, PL_FCI_MEDIUM},      // upwards, superscript
    {"1500", 600.3, 70.7, 0.5, false, 35, PL_FCI_SANS, PL_FCI_MEDIUM},           // centred, off the pixel grid
    {"p_{1} = 0.08 #pm 0.01", 1210.45, 800.2, 0, false, 28.4, PL_FCI_SANS, PL_FCI_BOLD},
    {"x^{a^{b}}_{c} & <gap> \"#\" 50%", 300, 500, 0, false, 40, PL_FCI_SERIF, PL_FCI_MEDIUM},
    {"a_{i_{j}}^{2} #times10^{-3} #alpha#Omega", 1000, 300, 0.5, false, 21, PL_FCI_MONO, PL_FCI_MEDIUM},
    {"RE3-\xc3\xa9-GAP \xe2\x88\x9e \xe4\xb8\xad", 1500, 450, 1.0, false, 33, PL_FCI_SANS, PL_FCI_MEDIUM},
    {"upwards, centred", 1900.6, 500.5, 0.5, true, 30, PL_FCI_SERIF, PL_FCI_BOLD},
};

// A white 2000 x 1000 page with a library stream on it set up as the painter
// sets one (page pixels as its window), each case drawn by `draw` with the
// case's font in dark blue. Returns the pixels.
std::vector<unsigned char> page(const std::function<void(const Case&, const std::string&, cairo_t*)>& draw) {
  constexpr int kW = 2000, kH = 1000;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(kW) * kH * 4, 0xff);
  cairo_surface_t* surface = cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_RGB24, kW, kH, kW * 4);
  cairo_t* context = cairo_create(surface);
  PLINT previous = 0, stream = 0;
  plgstrm(&previous);
  plmkstrm(&stream);
  plsdev("extcairo");
  plspage(0.0, 0.0, kW, kH, 0, 0);
  plinit();
  pl_cmd(PLESC_DEVINIT, context);
  pladv(0);
  plvpor(0.0, 1.0, 0.0, 1.0);
  plwind(0.0, kW, 0.0, kH);
  plscol0(1, 20, 30, 140);
  plcol0(1);
  for (const Case& c : kCases) {
    plschr(c.sizePx * tk::kCapitalPerSize / (72.0 / 25.4), 1.0);
    plsfont(c.family, PL_FCI_UPRIGHT, c.weight);
    draw(c, tk::toPlplotText(c.markup), context);
  }
  plend1();
  plsstrm(previous);
  cairo_destroy(context);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return pixels;
}

std::size_t inked(const std::vector<unsigned char>& pixels) {
  std::size_t n = 0;
  for (std::size_t k = 0; k + 3 < pixels.size(); k += 4) n += pixels[k] != 0xff || pixels[k + 1] != 0xff ? 1 : 0;
  return n;
}

TEST(PageText, StringsHaveThePixelsTheLibraryGivesThemFirstAndAgain) {
  const auto library = page([](const Case& c, const std::string& text, cairo_t*) {
    plptex(c.x, c.y, c.vertical ? 0.0 : 1.0, c.vertical ? 1.0 : 0.0, c.just, text.c_str());
  });
  ASSERT_GT(inked(library), 5000U);  // every case shows
  tk::PageTextBook book;
  for (const char* pass : {"first", "again"}) {
    const auto drawn = page([&book](const Case& c, const std::string& text, cairo_t* context) {
      EXPECT_TRUE(book.draw(context, c.x, c.y, c.vertical ? 0.0 : 1.0, c.vertical ? 1.0 : 0.0, c.just, text)) << text;
    });
    std::size_t differ = 0;
    for (std::size_t k = 0; k < drawn.size(); ++k) differ += drawn[k] != library[k] ? 1 : 0;
    EXPECT_EQ(differ, 0U) << pass;
  }
}

// Escapes the book does not take (Greek by letter, a symbol number, a font
// change) are left to the library untouched: nothing is drawn.
TEST(PageText, OtherEscapesAreLeftToTheLibrary) {
  tk::PageTextBook book;
  const auto drawn = page([&book](const Case& c, const std::string&, cairo_t* context) {
    for (const char* text : {"#ga", "#(229)", "#fiitalic", "a#[0x2192]"}) EXPECT_FALSE(book.draw(context, c.x, c.y, 1, 0, 0, text)) << text;
    EXPECT_TRUE(book.draw(context, c.x, c.y, 1, 0, 0, ""));
  });
  EXPECT_EQ(inked(drawn), 0U);
}

}  // namespace

namespace {

// Ticks as an axis draws them (primaries, then secondaries, one on a primary
// and one a pixel beside another), and a clipped one the library must cut.
TEST(PageText, TicksJoinedInRunsHaveThePixelsOfOneStrokeEach) {
  std::vector<std::array<double, 4>> ticks;
  for (double x = 200.3; x < 1800; x += 160.7) ticks.push_back({x, 100.2, x, 124.6});
  for (double x = 200.3; x < 1800; x += 32.14) ticks.push_back({x, 100.2, x, 112.4});
  ticks.push_back({361.7, 100.2, 361.7, 112.4});
  for (double y = 100.4; y < 900; y += 17.3) ticks.push_back({200.3, y, 212.0, y});
  const auto library = page([&](const Case& c, const std::string&, cairo_t*) {
    if (&c != &kCases[0]) return;
    plwidth(2.0);
    for (const auto& t : ticks) pljoin(t[0], t[1], t[2], t[3]);
  });
  ASSERT_GT(inked(library), 2000U);
  const auto joined = page([&](const Case& c, const std::string&, cairo_t* context) {
    if (&c != &kCases[0]) return;
    plwidth(2.0);
    EXPECT_TRUE(tk::joinApart(context, ticks));
    EXPECT_FALSE(tk::joinApart(context, {{1990.0, 500.0, 2100.0, 500.0}}));  // beyond the page
  });
  EXPECT_TRUE(joined == library);
}

}  // namespace
