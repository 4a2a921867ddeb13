// What the figures of a run show, read back from the saved files: markers where
// the documented frame and axis ranges put the points, in the gap's colour; the
// accepted line and the level where the fits put them; the same bytes from
// every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <numeric>
#include <sstream>

#include "aux/KneeFit.h"
#include "aux/ResultsTable.h"
#include "tests/TestSupport.h"

namespace {

using namespace testsupport;

constexpr Rgb kGreen{0, 255, 0}, kCyan{0, 255, 255}, kBlue{0, 0, 255}, kRed{255, 0, 0}, kMagenta{255, 0, 255}, kBlack{0, 0, 0};

// The documented look: a 2000 x 1000 canvas, pad margins 0.1, so the frame spans
// columns 200-1800 and page heights 100-900 (rows 900-100 from the top), and the
// axis shows [low, high] of the graph's layout range.
struct Frame {
  double xlo, xhi, ylo, yhi;
  double col(double x) const { return 200.0 + (x - xlo) / (xhi - xlo) * 1600.0; }
  double row(double y) const { return 1000.0 - (100.0 + (y - ylo) / (yhi - ylo) * 800.0); }
};

// The share of the pixels within 5 px of the point's centre in colour c, and
// the number of pixels 10-11 px from it in colour c. A 16 px marker (size 2.0)
// fills the first, lines over it aside, and leaves the second ring alone; a
// marker shifted by 3 px or more reaches into the ring.
std::pair<double, int> markerPixels(const Picture& p, double col, double row, Rgb c) {
  int in = 0, inC = 0, ringC = 0;
  for (int dy = -12; dy <= 12; ++dy) {
    for (int dx = -12; dx <= 12; ++dx) {
      const double px = std::floor(col) + dx + 0.5, py = std::floor(row) + dy + 0.5;
      const double d = std::hypot(px - col, py - row);
      const bool hit = p.is(static_cast<int>(std::floor(px)), static_cast<int>(std::floor(py)), c);
      if (d <= 5.0) ++in, inC += hit;
      if (d >= 10.0 && d <= 11.0) ringC += hit;
    }
  }
  return {in > 0 ? static_cast<double>(inC) / in : 0.0, ringC};
}

void expectMarker(const Picture& p, const Frame& f, double x, double y, Rgb c, const std::string& what) {
  const auto [share, ring] = markerPixels(p, f.col(x), f.row(y), c);
  EXPECT_GE(share, 0.55) << what << " at (" << x << ", " << y << ")";
  EXPECT_EQ(ring, 0) << what << " at (" << x << ", " << y << ")";
}

// A line of width 2 in colour c passes through the point: some pixel next to it
// is (nearly) c, and none 7 px above or below it is.
void expectLine(const Picture& p, const Frame& f, double x, double y, Rgb c, const std::string& what) {
  const int col = static_cast<int>(std::floor(f.col(x))), row = static_cast<int>(std::floor(f.row(y)));
  bool near = false;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) near = near || p.is(col + dx, row + dy, c, 60);
  }
  EXPECT_TRUE(near) << what << " at (" << x << ", " << y << ")";
  for (int off : {-7, 7}) EXPECT_FALSE(p.is(col, row + off, c, 100)) << what << " offset " << off << " at x " << x;
}

// Two gaps: A with a flat leakage and a steep ohmic rise whose first window
// (points 15-21) passes option 1 (NDF / chi2 = 0.90), B flat and faint, with no
// pass. Pressure 990 mbar: the corrected HV equals the applied one.
const char* const kGapA = "KODEL-HXD-RE4-3-B002";  // catalogue colour 3, green
const char* const kGapB = "KODEL-HXD-RE4-3-B009";  // catalogue colour 7, cyan
const std::string kHeader = "DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]\n";
std::string gapLines(const char* gap, const std::vector<double>& x, const std::vector<double>& y) {
  std::ostringstream s;
  for (std::size_t i = 0; i < x.size(); ++i) s << gap << "," << x[i] << "," << x[i] << "," << y[i] << ",990,21,40\n";
  return s.str();
}
// Each span widened by 10% on both sides: the frame of points that need no clamp at 0.
Frame widened(const std::vector<double>& x, const std::vector<double>& y) {
  const auto [x0, x1] = std::minmax_element(x.begin(), x.end());
  const auto [y0, y1] = std::minmax_element(y.begin(), y.end());
  return {*x0 - 0.1 * (*x1 - *x0), *x1 + 0.1 * (*x1 - *x0), *y0 - 0.1 * (*y1 - *y0), *y1 + 0.1 * (*y1 - *y0)};
}
struct Scan {
  std::vector<double> ax, ay, bx, by;
  Scan() {
    for (int i = 0; i < 22; ++i) {
      ax.push_back(1000 + 50.0 * i);
      ay.push_back(3.0 + (i >= 15 ? 4.0 * (i - 14) + (i % 2 ? -0.9 : 0.9) : 0.01 * (i % 3)));
    }
    for (int i = 0; i < 20; ++i) bx.push_back(1025 + 50.0 * i), by.push_back(2.0 + 0.01 * i);
  }
  std::string csv() const { return kHeader + gapLines(kGapA, ax, ay) + gapLines(kGapB, bx, by); }
  // Gap A's frame: x 1000-2050 and y 3-27.6+..., the lower ends not clamped
  // (both stay above 0).
  Frame frameA() const { return widened(ax, ay); }
};

struct ScanRun {
  ScratchDir dir;
  RunResult result;
  explicit ScanRun(const std::vector<std::string>& extra = {}, const std::string& scan = Scan().csv()) {
    writeFile(dir.file("scan.csv"), scan);
    std::vector<std::string> args{"-o", "out"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("scan.csv");
    args.push_back("T");
    result = runGapohm(args, inHome(dir));
  }
  std::string out(const std::string& name) const { return dir.file("out/" + name); }
};

// A cell of results.csv by gap and column.
std::string resultCell(const ScanRun& run, const std::string& gap, const std::string& column) {
  std::vector<ResultsRow> rows;
  std::string error;
  EXPECT_TRUE(parseResultsCsv(readFile(run.out("results.csv")), "results.csv", rows, error)) << error;
  for (const ResultsRow& row : rows) {
    if (row.get("gap") == gap) return row.get(column);
  }
  return "";
}

int countWhere(const Picture& p, int c1, int r1, int c2, int r2, const std::function<bool(const unsigned char*)>& hit) {
  int n = 0;
  for (int r = std::max(r1, 0); r <= std::min(r2, p.height - 1); ++r) {
    for (int col = std::max(c1, 0); col <= std::min(c2, p.width - 1); ++col) n += hit(&p.rgb[3 * (static_cast<std::size_t>(r) * p.width + col)]);
  }
  return n;
}
int countColour(const Picture& p, int c1, int r1, int c2, int r2, Rgb c, int tolerance = 0) {
  return countWhere(p, c1, r1, c2, r2, [&](const unsigned char* px) {
    return std::abs(px[0] - c.r) <= tolerance && std::abs(px[1] - c.g) <= tolerance && std::abs(px[2] - c.b) <= tolerance;
  });
}
// Blue to magenta, with what antialiasing mixes of them: the two onset marks
// fall on one another when both methods agree.
int countBluish(const Picture& p, int c1, int r1, int c2, int r2) {
  return countWhere(p, c1, r1, c2, r2, [](const unsigned char* px) { return px[1] < 80 && px[2] > 180; });
}

// Gap A passes, gap B does not; the same scan run plain and with --annotate.
TEST(RunFigurePixels, MarkersInTheGapColoursTheFitsTheLegendAndTheAnnotations) {
  const ScanRun plain, annotated({"--annotate"});
  ASSERT_EQ(plain.result.status, 0) << plain.result.err;
  ASSERT_NE(readFile(plain.out("Resistance.csv")).find(kGapA), std::string::npos);
  ASSERT_EQ(resultCell(annotated, kGapB, "status"), "no ohmic region found");
  const Picture p = decodePng(plain.out(std::string(kGapA) + ".png")), all = decodePng(plain.out("ALLcurrents.png"));
  ASSERT_TRUE(p.width == 2000 && all.width == 2000);
  const Scan s;
  const Frame f = s.frameA();  // gap A holds the largest current: the combined figure's frame too
  for (std::size_t i = 0; i < s.ax.size(); ++i) {
    expectMarker(p, f, s.ax[i], s.ay[i], kGreen, "gap A marker");
    expectMarker(all, f, s.ax[i], s.ay[i], kGreen, "combined gap A marker");
  }
  for (std::size_t i = 0; i < s.bx.size(); ++i) expectMarker(all, f, s.bx[i], s.by[i], kCyan, "combined gap B marker");
  // The accepted window X[15]..X[21]: least squares by hand.
  const std::vector<double> wx(s.ax.begin() + 15, s.ax.end()), wy(s.ay.begin() + 15, s.ay.end());
  const double mx = std::accumulate(wx.begin(), wx.end(), 0.0) / 7, my = std::accumulate(wy.begin(), wy.end(), 0.0) / 7;
  double sxx = 0, sxy = 0;
  for (int k = 0; k < 7; ++k) sxx += (wx[k] - mx) * (wx[k] - mx), sxy += (wx[k] - mx) * (wy[k] - my);
  const double slope = sxy / sxx, intercept = my - slope * mx;
  for (double x : {1775.0, 1875.0, 1975.0}) expectLine(p, f, x, slope * x + intercept, kBlue, "line 600");
  // The level over X[0]..X[15], both ends included: the mean of 16 points.
  const double level = std::accumulate(s.ay.begin(), s.ay.begin() + 16, 0.0) / 16;
  for (double x : {1125.0, 1425.0, 1675.0}) expectLine(p, f, x, level, kRed, "level 632");
  EXPECT_FALSE(p.is(static_cast<int>(f.col(1500)), static_cast<int>(f.row(20)), kGreen)) << "green where no point is";
  // Legend box x 0.15-0.45, y 0.6-0.8: the header "T", then one row a gap, each
  // a third of 200 px high; samples centred an eighth into the box.
  for (const auto& [row, c] : {std::pair{1.5, kGreen}, std::pair{2.5, kCyan}}) {
    const auto [share, ring] = markerPixels(all, 375.0, 1000.0 - (800.0 - row * 200.0 / 3), c);
    EXPECT_TRUE(share >= 0.55 && ring == 0) << "legend sample in row " << row;
  }
  // Gap B: the plain figure keeps the last window's line, as it always did; the
  // annotated one draws no line where no window passed.
  EXPECT_GT(countColour(decodePng(plain.out(std::string(kGapB) + ".png")), 200, 100, 1800, 900, kBlue, 60), 0);
  EXPECT_EQ(countColour(decodePng(annotated.out(std::string(kGapB) + ".png")), 200, 100, 1800, 900, kBlue, 60), 0);
  EXPECT_GT(countColour(decodePng(annotated.out("ALLcurrents.png")), 1800, 0, 1995, 40, kBlack, 100), 20) << "scan name";
  EXPECT_EQ(countColour(all, 1800, 0, 1995, 40, kBlack, 100), 0);
}

// Every figure of a run, by name and bytes.
std::map<std::string, std::string> figures(const ScanRun& run) {
  std::map<std::string, std::string> out;
  for (const std::string& name : listDir(run.dir.file("out"))) {
    if (name != "thumbs") out[name] = readFile(run.out(name));
  }
  for (const std::string& name : listDir(run.dir.file("out/thumbs"))) out["thumbs/" + name] = readFile(run.out("thumbs/" + name));
  return out;
}

// A deflate encoder whose choices hang on where its state lies in memory gives
// other bytes for the same pixels in about one figure in a hundred, and only in
// another process: each PNG run here places it anew.
TEST(ReproducibleFigures, TheSameScanGivesTheSameFiguresInEveryProcessAndAtEveryJ) {
  for (const std::string format : {"png", "svg", "pdf"}) {
    const ScanRun first({"--verbose", "--format", format, "-j", "1"});
    ASSERT_EQ(first.result.status, 0) << first.result.err;
    const auto a = figures(first);
    // Two gap figures, their diagnostics, combined, three reports; PNG gap figures' thumbnails.
    EXPECT_EQ(a.size(), 2 + 2 * 3 + 4u + (format == "png" ? 2 : 0)) << format;
    for (int run = 1; run < (format == "png" ? 50 : 2); ++run) {
      const auto b = figures(ScanRun({"--verbose", "--format", format, "-j", run % 2 ? "2" : "1"}));
      ASSERT_EQ(b.size(), a.size()) << format;
      for (const auto& [name, bytes] : a) ASSERT_TRUE(b.count(name) && bytes == b.at(name)) << name << " differs in run " << run;
    }
  }
}
}  // namespace

// One gap with a rounded knee at 1700 V, 14 V wide, and noise of a fixed seed
// without correlation from one point to the next.
TEST(AnnotatedFigurePixels, KneeCurveOnsetMarksAndResultsBoxWhereTheResultsPutThem) {
  std::vector<double> x, y;
  for (int i = 0; i < 40; ++i) {
    const double h = std::sin(12.9898 * i) * 43758.5453;
    x.push_back(1000 + 33.0 * i);
    y.push_back(kneeCurrent(0.1, 0.02, 1700, 14, x.back()) + 0.24 * (h - std::floor(h) - 0.5));
  }
  const ScanRun plain({}, kHeader + gapLines(kGapA, x, y)), annotated({"--annotate"}, kHeader + gapLines(kGapA, x, y));
  ASSERT_EQ(resultCell(annotated, kGapA, "knee_status") + resultCell(annotated, kGapA, "status"), "fittedfitted");
  const Picture a = decodePng(annotated.out(std::string(kGapA) + ".png")), p = decodePng(plain.out(std::string(kGapA) + ".png"));
  const Frame f = widened(x, y);  // noise takes the lowest points below 0: no clamp
  // The window search's onset: a dashed blue line, about half of its rows painted.
  const double onset = std::stod(resultCell(annotated, kGapA, "onset_v"));
  const int col = static_cast<int>(std::floor(f.col(onset)));
  int painted = 0, rows = 0;
  for (int r = 120; r < 880; r += 3, ++rows) painted += countBluish(a, col - 1, r, col + 1, r) > 0;
  EXPECT_GT(painted, rows / 4) << "onset mark at column " << col;
  EXPECT_LT(painted, rows * 9 / 10) << "a dashed mark, not a solid one";
  EXPECT_EQ(countBluish(p, col - 1, 120, col + 1, 300), 0) << "no mark without --annotate";
  // The knee curve (magenta: gap A's markers are green) along the fitted model.
  auto cell = [&](const char* column) { return std::stod(resultCell(annotated, kGapA, column)); };
  int near = 0, samples = 0;
  for (double v = 1050; v < 2250; v += 7, ++samples) {
    const double j = kneeCurrent(cell("knee_offset_na_cm2"), 1e9 / (0.4 * cell("knee_rho_ohm_cm")), cell("knee_onset_v"),
                                 cell("knee_width_v"), v);
    const int col = static_cast<int>(std::floor(f.col(v))), row = static_cast<int>(std::floor(f.row(j)));
    near += countColour(a, col - 1, row - 3, col + 1, row + 3, kMagenta, 40) > 0;
  }
  EXPECT_GT(near, samples / 4) << "knee curve";
  EXPECT_EQ(countColour(p, 200, 100, 1800, 900, kMagenta, 40), 0);
  // The results box: a black border at its left edge, text inside; none in the plain figure.
  EXPECT_GT(countColour(a, 299, 430, 301, 440, kBlack, 140), 0);
  EXPECT_GT(countColour(a, 310, 430, 1150, 600, kBlack, 100), 300);
  EXPECT_EQ(countColour(p, 299, 430, 301, 440, kBlack, 140), 0);
}
