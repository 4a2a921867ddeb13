// The window verdicts from moments against the full refit of every window: the same
// windows judged, the same verdicts, the same first good window, on generated scans
// of every HV order the search can meet and on scans built to sit on a band edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>

#include "aux/Regression.h"
#include "aux/WindowScan.h"
#include "toolkit/Canvas.h"
#include "toolkit/Graph.h"
#include "toolkit/Style.h"

namespace {

struct Points {
  std::vector<double> x, y;
};

// How the HV values of a generated scan are stored.
enum class Order {
  Ascending,   // the reader's normal case
  Repeated,    // ascending, each HV measured one to three times
  Jittered,    // pressure-corrected: ascending with scatter, locally out of order
  EndInside,   // ascending but the last stored point taken from inside the range
  Descending,  // a scan run downwards
  Shuffled     // no order at all
};

// n points from 1000 V to 2200 V: a dark level up to a knee, then a line, with
// Gaussian scatter `sigma`; the HV order as asked.
Points generate(std::mt19937& rng, int n, double sigma, Order order) {
  std::normal_distribution<double> noise(0.0, sigma);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double knee = 1100 + 600 * unit(rng), slope = 0.01 + 0.1 * unit(rng);
  Points p;
  int repeat = 0;
  double hv = 1000;
  for (int i = 0; i < n; ++i) {
    if (order != Order::Repeated || repeat-- <= 0) {
      hv = 1000 + 1200.0 * i / (n - 1);
      repeat = static_cast<int>(3 * unit(rng));
    }
    double x = hv;
    if (order == Order::Jittered) x += 1200.0 / (n - 1) * (unit(rng) - 0.5) * 2;
    p.x.push_back(x);
    p.y.push_back((x < knee ? 0.5 : 0.5 + slope * (x - knee)) + noise(rng));
  }
  std::vector<std::size_t> perm(p.x.size());
  for (std::size_t i = 0; i < perm.size(); ++i) perm[i] = i;
  if (order == Order::Descending) std::reverse(perm.begin(), perm.end());
  if (order == Order::Shuffled) std::shuffle(perm.begin(), perm.end(), rng);
  if (order == Order::EndInside) std::swap(perm.back(), perm[perm.size() / 2 + rng() % (perm.size() / 3)]);
  Points q;
  for (std::size_t i : perm) q.x.push_back(p.x[i]), q.y.push_back(p.y[i]);
  return q;
}

// Equal, NaN counting as equal to NaN.
bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// "" when the judgements agree, else what differs first.
std::string compare(const std::vector<WindowJudgement>& fast, const std::vector<WindowJudgement>& full) {
  std::ostringstream why;
  if (fast.size() != full.size()) {
    why << "judged " << fast.size() << " windows, the full refit " << full.size();
    return why.str();
  }
  for (std::size_t k = 0; k < fast.size(); ++k) {
    const WindowJudgement &a = fast[k], &b = full[k];
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(b.chi2)) + 1e-9;
    if (a.first != b.first || a.points != b.points || a.ndf != b.ndf || a.determined != b.determined ||
        a.good != b.good || (a.determined && std::fabs(a.chi2 - b.chi2) > tolerance) ||
        (a.determined && std::fabs(a.slope - b.slope) > 1e-8 * std::fabs(b.slope) + 1e-12) ||
        (a.exact && !same(a.chi2, b.chi2))) {
      why << "window " << b.first << ": points " << a.points << "/" << b.points << " good " << a.good
          << "/" << b.good << " chi2 " << a.chi2 << "/" << b.chi2;
      return why.str();
    }
  }
  return "";
}

struct Family {
  const char* name;
  Order order;
  int option;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

class GeneratedScans : public ::testing::TestWithParam<Family> {};

// Sizes 18 to 150, scatter from 1e-3 to 3 (log-uniform), so that every option
// meets scans that pass early, late and never.
TEST_P(GeneratedScans, SameWindowsSameVerdictsAsTheFullRefit) {
  const Family f = GetParam();
  std::mt19937 rng(2026u + static_cast<unsigned>(f.option) * 97u + static_cast<unsigned>(f.order));
  std::uniform_int_distribution<int> size(18, 150);
  std::uniform_real_distribution<double> decade(-3.0, 0.5);
  int passes = 0, fails = 0;
  for (int scan = 0; scan < 250; ++scan) {
    const Points p = generate(rng, size(rng), std::pow(10.0, decade(rng)), f.order);
    const auto fast = judgeWindows(p.x, p.y, 15, f.option);
    const auto full = judgeWindowsExact(p.x, p.y, 15, f.option);
    ASSERT_EQ(compare(fast, full), "") << f.name << " scan " << scan;
    (full.back().good ? passes : fails)++;
  }
  EXPECT_GT(passes, 5) << f.name;  // both outcomes really met
  EXPECT_GT(fails, 5) << f.name;
}

INSTANTIATE_TEST_SUITE_P(
    WindowScan, GeneratedScans,
    ::testing::Values(Family{"ascending1", Order::Ascending, 1}, Family{"ascending2", Order::Ascending, 2},
                      Family{"ascending3", Order::Ascending, 3}, Family{"repeated1", Order::Repeated, 1},
                      Family{"repeated3", Order::Repeated, 3}, Family{"jittered1", Order::Jittered, 1},
                      Family{"jittered2", Order::Jittered, 2}, Family{"endInside1", Order::EndInside, 1},
                      Family{"endInside3", Order::EndInside, 3}, Family{"descending2", Order::Descending, 2},
                      Family{"shuffled1", Order::Shuffled, 1}, Family{"shuffled3", Order::Shuffled, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// 15 dark points, 5 knee points 6 above the line, then 40 points on a line with
// scatter scaled so that the full refit of window 20 (the line alone) gives a
// chi-square `edge` times (1 + nudge): the verdict there is decided by the last
// bits, and the moments must defer to the full refit.
struct Edge {
  int option;
  double edge;  // as chi-square; option 1 edges are NDF / 2 and NDF / 0.8
};

void PrintTo(const Edge& e, std::ostream* os) { *os << "option " << e.option << " edge " << e.edge; }

class BandEdges : public ::testing::TestWithParam<Edge> {};

TEST_P(BandEdges, AWindowOnTheEdgeGetsTheFullRefitsVerdict) {
  const Edge e = GetParam();
  std::mt19937 rng(7u + static_cast<unsigned>(e.option));
  std::normal_distribution<double> noise(0.0, 1.0);
  Points base;
  std::vector<double> r;
  for (int i = 0; i < 60; ++i) {
    const double hv = 1000 + 20.0 * i;
    base.x.push_back(hv);
    base.y.push_back(i < 15 ? 0.5 : 0.05 * (hv - 1300) + (i < 20 ? 6 : 0));
    r.push_back(i < 20 ? 0.0 : noise(rng));
  }
  auto scaled = [&](double s) {
    Points p = base;
    for (std::size_t i = 0; i < r.size(); ++i) p.y[i] += s * r[i];
    return p;
  };
  const Points unit = scaled(1.0);
  const auto probe = judgeWindowsExact(unit.x, unit.y, 20, 2);
  const double s0 = std::sqrt(e.edge / probe.front().chi2);

  int confirmed = 0, good = 0, cases = 0;
  for (double nudge : {-1e-6, -1e-11, -1e-14, -4e-16, 0.0, 4e-16, 1e-14, 1e-11, 1e-6}) {
    for (int ulp = -3; ulp <= 3; ++ulp) {
      const double s = s0 * std::sqrt(1 + nudge) * (1 + ulp * 1.1e-16);
      const Points p = scaled(s);
      const auto fast = judgeWindows(p.x, p.y, 15, e.option);
      const auto full = judgeWindowsExact(p.x, p.y, 15, e.option);
      ASSERT_EQ(compare(fast, full), "") << "nudge " << nudge << " ulp " << ulp;
      ASSERT_EQ(full.size(), fast.size());
      confirmed += fast.size() > 5 && fast[5].exact;
      good += full.size() == 6 && full.back().good;
      ++cases;
    }
  }
  EXPECT_GT(confirmed, 0);                  // the edge was seen as one
  EXPECT_GT(good, 0);                       // and the verdicts fell on both sides of it
  EXPECT_LT(good, cases);
}

INSTANTIATE_TEST_SUITE_P(WindowScan, BandEdges,
                         ::testing::Values(Edge{1, 38 / 2.0}, Edge{1, 38 / 0.8}, Edge{2, 0.07}, Edge{2, 0.12},
                                           Edge{3, 0.007}, Edge{3, 0.02}));

// Windows whose points share one HV hold no line and never pass, however small
// their chi-square; points of the window's HV stored before its start belong to it.
struct Degenerate {
  const char* name;
  std::vector<double> tail;  // x of the points after 15 at 1000 + 10 i V
  std::vector<int> points;   // points of windows 15, 16, ...
  std::vector<bool> determined;
  int lastFitted;  // the window whose line the graph keeps
};

void PrintTo(const Degenerate& d, std::ostream* os) { *os << d.name; }

class DegenerateWindows : public ::testing::TestWithParam<Degenerate> {};

TEST_P(DegenerateWindows, OneHvHoldsNoLine) {
  const Degenerate d = GetParam();
  Points p;
  for (int i = 0; i < 15; ++i) p.x.push_back(1000 + 10.0 * i), p.y.push_back(0.5 + (i % 2) * 0.3);
  for (std::size_t i = 0; i < d.tail.size(); ++i) p.x.push_back(d.tail[i]), p.y.push_back(2.0 + 3.0 * static_cast<double>(i));
  for (int option : {1, 2, 3}) {
    const auto fast = judgeWindows(p.x, p.y, 15, option);
    ASSERT_EQ(compare(fast, judgeWindowsExact(p.x, p.y, 15, option)), "") << d.name;
    ASSERT_EQ(fast.size(), d.points.size()) << d.name;
    EXPECT_EQ(lastFittedWindow(fast), d.lastFitted) << d.name;
    for (std::size_t k = 0; k < fast.size(); ++k) {
      EXPECT_EQ(fast[k].points, d.points[k]) << d.name << " window " << k + 15;
      EXPECT_EQ(fast[k].determined, d.determined[k]) << d.name << " window " << k + 15;
      if (!d.determined[k]) {
        EXPECT_FALSE(fast[k].good);
        EXPECT_TRUE(std::isnan(fast[k].slope));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    WindowScan, DegenerateWindows,
    ::testing::Values(
        Degenerate{"singlePoint", {1150}, {1}, {false}, -1},
        Degenerate{"lastHvThreeTimes", {1150, 1150, 1150}, {3, 3, 3}, {false, false, false}, -1},
        Degenerate{"lastHvAlsoEarlier", {1140, 1150, 1140}, {3, 4, 3}, {false, true, false}, 16},
        Degenerate{"endBelowTheRest", {1200, 1210, 1100}, {7, 8, 2}, {true, true, false}, 16},
        Degenerate{"twoPointsTwoHvs", {1150, 1160}, {2, 1}, {true, false}, 15}),
    [](const auto& info) { return std::string(info.param.name); });

// What the caller can get wrong is refused; no window, nothing judged; a gap with a
// non-finite value is judged as the full refit judges it.
TEST(WindowScan, RefusesMismatchedInputAndJudgesOddGapsAsTheFullRefit) {
  const std::vector<double> x(20, 1.0), y(19, 1.0);
  EXPECT_THROW(judgeWindows(x, y, 15, 1), std::invalid_argument);
  EXPECT_THROW(judgeWindows(x, x, -1, 1), std::invalid_argument);
  EXPECT_TRUE(judgeWindows(x, x, 20, 1).empty());
  EXPECT_TRUE(judgeWindows({}, {}, 15, 1).empty());

  std::mt19937 rng(5);
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    for (std::size_t at : {3u, 30u, 39u}) {
      Points p = generate(rng, 40, 0.3, Order::Ascending);
      p.y[at] = bad;
      EXPECT_EQ(compare(judgeWindows(p.x, p.y, 15, 1), judgeWindowsExact(p.x, p.y, 15, 1)), "") << at;
      p.x[at] = bad;
      EXPECT_EQ(compare(judgeWindows(p.x, p.y, 15, 1), judgeWindowsExact(p.x, p.y, 15, 1)), "") << at;
    }
  }
  // An option without a band judges every window and passes none.
  const Points p = generate(rng, 40, 0.3, Order::Ascending);
  const auto none = judgeWindows(p.x, p.y, 15, 4);
  EXPECT_EQ(none.size(), 25u);
  EXPECT_TRUE(std::none_of(none.begin(), none.end(), [](const WindowJudgement& w) { return w.good; }));
}

// Steep, nearly perfect lines at large HV: the chi-square is a tiny remainder of
// large sums, where unshifted sums would lose it; the verdicts still match.
TEST(WindowScan, ATinyChiSquareUnderLargeSumsKeepsItsVerdict) {
  std::mt19937 rng(11);
  for (int option : {1, 2, 3}) {
    for (double sigma : {1e-3, 1e-2, 3e-2}) {
      Points p;
      std::normal_distribution<double> noise(0.0, sigma);
      for (int i = 0; i < 2000; ++i) p.x.push_back(1e4 + 0.05 * i), p.y.push_back(1e3 + 40.0 * (0.05 * i) + noise(rng));
      EXPECT_EQ(compare(judgeWindows(p.x, p.y, 15, option), judgeWindowsExact(p.x, p.y, 15, option)), "")
          << option << " " << sigma;
    }
  }
}

// The search's caller judges the windows, then refits the last fitted one with
// fit(): the graph must carry the very function the window-by-window search left
// on it (it is painted in the gap's figure), and a pass the same numbers.
TEST(WindowScan, RefittingTheLastFittedWindowLeavesTheGraphAsTheSearchDid) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> size(16, 90);
  std::uniform_real_distribution<double> decade(-3.0, 0.5);
  tk::Canvas pad("KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{});
  std::ostringstream log;
  int passes = 0, withoutPass = 0;
  for (int scan = 0; scan < 300; ++scan) {
    const int option = 1 + scan % 3;
    const auto order = scan % 2 ? Order::Ascending : Order::EndInside;
    const Points p = generate(rng, size(rng), std::pow(10.0, decade(rng)), order);
    tk::Graph old, now;
    for (std::size_t i = 0; i < p.x.size(); ++i) old.AddPoint(p.x[i], p.y[i]), now.AddPoint(p.x[i], p.y[i]);
    fitstatus a{}, b{};
    bool passedBefore = false, passedNow = false;
    for (std::size_t j = 15; j < p.x.size() && !passedBefore; ++j) {
      passedBefore = fit(&old, p.x[j], p.x.back(), a, option, false, pad, log);
    }
    const int j = lastFittedWindow(judgeWindows(p.x, p.y, 15, option));
    if (j >= 0) passedNow = fit(&now, p.x[static_cast<std::size_t>(j)], p.x.back(), b, option, false, pad, log);
    ASSERT_EQ(passedNow, passedBefore) << scan;
    ASSERT_EQ(now.function.has_value(), old.function.has_value()) << scan;
    if (old.function) {
      const tk::Function &f = *old.function, &g = *now.function;
      EXPECT_TRUE(f.par[0] == g.par[0] && f.par[1] == g.par[1] && f.err[0] == g.err[0] && f.err[1] == g.err[1] &&
                  f.chi2 == g.chi2 && f.npoints == g.npoints && f.xmin == g.xmin && f.xmax == g.xmax &&
                  f.lineColor == g.lineColor)
          << scan;
    }
    if (passedBefore) {
      EXPECT_TRUE(a.ChiSquared == b.ChiSquared && a.NDF == b.NDF && a.Goodness == b.Goodness &&
                  a.ParameterA == b.ParameterA && a.ErrorA == b.ErrorA && a.ParameterB == b.ParameterB &&
                  a.ErrorB == b.ErrorB)
          << scan;
    }
    (passedBefore ? passes : withoutPass)++;
  }
  EXPECT_GT(passes, 20);
  EXPECT_GT(withoutPass, 20);
}

}  // namespace
