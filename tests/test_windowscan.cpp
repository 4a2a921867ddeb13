// The window verdicts from moments against the full refit of every window: the same
// windows judged, the same verdicts, the same first good window, on generated scans
// of every HV order the search can meet and on scans built to sit on a band edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

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
    const double x = hv + (order == Order::Jittered ? 1200.0 / (n - 1) * (unit(rng) - 0.5) * 2 : 0.0);
    p.x.push_back(x);
    p.y.push_back((x < knee ? 0.5 : 0.5 + slope * (x - knee)) + noise(rng));
  }
  std::vector<std::size_t> perm(p.x.size());
  std::iota(perm.begin(), perm.end(), 0);
  if (order == Order::Descending) std::reverse(perm.begin(), perm.end());
  if (order == Order::Shuffled) std::shuffle(perm.begin(), perm.end(), rng);
  if (order == Order::EndInside) std::swap(perm.back(), perm[perm.size() / 2 + rng() % (perm.size() / 3)]);
  Points q;
  for (std::size_t i : perm) q.x.push_back(p.x[i]), q.y.push_back(p.y[i]);
  return q;
}

// "" when the moments judge the windows of p as the full refit does, else what differs first.
std::string compare(const Points& p, int option, std::vector<WindowJudgement>* judged = nullptr) {
  const auto fast = judgeWindows(p.x, p.y, 15, option), full = judgeWindowsExact(p.x, p.y, 15, option);
  if (judged) *judged = fast;
  std::ostringstream why;
  if (fast.size() != full.size()) why << "judged " << fast.size() << " windows, the full refit " << full.size();
  for (std::size_t k = 0; k < fast.size() && k < full.size() && why.str().empty(); ++k) {
    const WindowJudgement &a = fast[k], &b = full[k];
    const bool sameChi2 = a.chi2 == b.chi2 || (std::isnan(a.chi2) && std::isnan(b.chi2));
    if (a.first != b.first || a.points != b.points || a.ndf != b.ndf || a.determined != b.determined ||
        a.good != b.good || (a.exact && !sameChi2) ||
        (a.determined && std::fabs(a.chi2 - b.chi2) > 1e-9 * std::max(1.0, std::fabs(b.chi2)) + 1e-9) ||
        (a.determined && std::fabs(a.slope - b.slope) > 1e-8 * std::fabs(b.slope) + 1e-12)) {
      why << "window " << b.first << ": points " << a.points << "/" << b.points << " good " << a.good << "/"
          << b.good << " chi2 " << a.chi2 << "/" << b.chi2;
    }
  }
  return why.str();
}

// The search's caller judges the windows, then refits the last fitted one with
// fit(): the graph must carry the very function the window-by-window search left
// on it (it is painted in the gap's figure), and a pass the same numbers.
bool refitsAsTheSearch(const Points& p, int option) {
  tk::Canvas pad("KVT MeasurementsGAP", "KVT Measurements GAP", 2000, 1000, tk::Style{});
  std::ostringstream log;
  tk::Graph old, now;
  for (std::size_t i = 0; i < p.x.size(); ++i) old.AddPoint(p.x[i], p.y[i]), now.AddPoint(p.x[i], p.y[i]);
  fitstatus a{}, b{};
  bool before = false, after = false;
  for (std::size_t j = 15; j < p.x.size() && !before; ++j) before = fit(&old, p.x[j], p.x.back(), a, option, false, pad, log);
  const int j = lastFittedWindow(judgeWindows(p.x, p.y, 15, option));
  if (j >= 0) after = fit(&now, p.x[static_cast<std::size_t>(j)], p.x.back(), b, option, false, pad, log);
  auto line = [](const tk::Graph& g) {
    const tk::Function f = g.function.value_or(tk::Function{});
    return std::make_tuple(g.function.has_value(), f.par[0], f.par[1], f.err[0], f.err[1], f.chi2, f.npoints, f.xmin, f.xmax, f.lineColor);
  };
  auto status = [](const fitstatus& s) { return std::tie(s.ChiSquared, s.NDF, s.Goodness, s.ParameterA, s.ErrorA, s.ParameterB, s.ErrorB); };
  return before == after && line(old) == line(now) && (!before || status(a) == status(b));
}

class GeneratedScans : public ::testing::TestWithParam<std::tuple<Order, int>> {};

// Sizes 18 to 150, scatter from 1e-3 to 3 (log-uniform), so that every option
// meets scans that pass early, late and never; scans in order are refitted too.
TEST_P(GeneratedScans, SameWindowsSameVerdictsAsTheFullRefit) {
  const auto [order, option] = GetParam();
  std::mt19937 rng(2026u + static_cast<unsigned>(option) * 97u + static_cast<unsigned>(order));
  std::uniform_int_distribution<int> size(18, 150);
  std::uniform_real_distribution<double> decade(-3.0, 0.5);
  int passes = 0, fails = 0;
  for (int scan = 0; scan < 250; ++scan) {
    std::vector<WindowJudgement> judged;
    const Points p = generate(rng, size(rng), std::pow(10.0, decade(rng)), order);
    ASSERT_EQ(compare(p, option, &judged), "") << scan;
    EXPECT_TRUE((order != Order::Ascending && order != Order::EndInside) || refitsAsTheSearch(p, option)) << scan;
    (judged.back().good ? passes : fails)++;
  }
  EXPECT_GT(passes, 5);  // both outcomes really met
  EXPECT_GT(fails, 5);
}

INSTANTIATE_TEST_SUITE_P(WindowScan, GeneratedScans,
                         ::testing::Combine(::testing::Values(Order::Ascending, Order::Repeated, Order::Jittered,
                                                              Order::EndInside, Order::Descending, Order::Shuffled),
                                            ::testing::Values(1, 2, 3)));

// 15 dark points, 5 knee points 6 above the line, then 40 points on a line with
// scatter scaled so that the full refit of window 20 (the line alone) gives a
// chi-square `edge` times (1 + nudge): the verdict there is decided by the last
// bits, and the moments must defer to the full refit. Option 1 edges are NDF / 2 and NDF / 0.8.
class BandEdges : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(BandEdges, AWindowOnTheEdgeGetsTheFullRefitsVerdict) {
  const auto [option, edge] = GetParam();
  std::mt19937 rng(7u + static_cast<unsigned>(option));
  std::normal_distribution<double> noise(0.0, 1.0);
  Points base;
  std::vector<double> r;
  for (int i = 0; i < 60; ++i) {
    base.x.push_back(1000 + 20.0 * i);
    base.y.push_back(i < 15 ? 0.5 : 0.05 * (base.x.back() - 1300) + (i < 20 ? 6 : 0));
    r.push_back(i < 20 ? 0.0 : noise(rng));
  }
  auto scaled = [&](double s) {
    Points p = base;
    for (std::size_t i = 0; i < r.size(); ++i) p.y[i] += s * r[i];
    return p;
  };
  const Points unit = scaled(1.0);
  const double s0 = std::sqrt(edge / judgeWindowsExact(unit.x, unit.y, 20, 2).front().chi2);
  int confirmed = 0, good = 0, cases = 0;
  for (double nudge : {-1e-6, -1e-11, -1e-14, -4e-16, 0.0, 4e-16, 1e-14, 1e-11, 1e-6}) {
    for (int ulp = -3; ulp <= 3; ++ulp, ++cases) {
      std::vector<WindowJudgement> judged;
      ASSERT_EQ(compare(scaled(s0 * std::sqrt(1 + nudge) * (1 + ulp * 1.1e-16)), option, &judged), "")
          << "nudge " << nudge << " ulp " << ulp;
      confirmed += judged.size() > 5 && judged[5].exact;
      good += judged.size() == 6 && judged.back().good;
    }
  }
  EXPECT_GT(confirmed, 0);  // the edge was seen as one
  EXPECT_GT(good, 0);       // and the verdicts fell on both sides of it
  EXPECT_LT(good, cases);
}

INSTANTIATE_TEST_SUITE_P(WindowScan, BandEdges,
                         ::testing::Values(std::make_tuple(1, 38 / 2.0), std::make_tuple(1, 38 / 0.8),
                                           std::make_tuple(2, 0.07), std::make_tuple(2, 0.12),
                                           std::make_tuple(3, 0.007), std::make_tuple(3, 0.02)));

// Windows whose points share one HV hold no line and never pass, however small
// their chi-square; points of the window's HV stored before its start belong to it.
TEST(WindowScan, OneHvHoldsNoLine) {
  struct Degenerate {
    const char* name;
    std::vector<double> tail;  // x of the points after 15 at 1000 + 10 i V
    std::vector<int> points;   // points of windows 15, 16, ...
    std::vector<bool> determined;
    int lastFitted;  // the window whose line the graph keeps
  };
  const Degenerate cases[] = {
      {"singlePoint", {1150}, {1}, {false}, -1},
      {"lastHvThreeTimes", {1150, 1150, 1150}, {3, 3, 3}, {false, false, false}, -1},
      {"lastHvAlsoEarlier", {1140, 1150, 1140}, {3, 4, 3}, {false, true, false}, 16},
      {"endBelowTheRest", {1200, 1210, 1100}, {7, 8, 2}, {true, true, false}, 16},
      {"twoPointsTwoHvs", {1150, 1160}, {2, 1}, {true, false}, 15}};
  for (const Degenerate& d : cases) {
    Points p;
    for (int i = 0; i < 15; ++i) p.x.push_back(1000 + 10.0 * i), p.y.push_back(0.5 + (i % 2) * 0.3);
    for (std::size_t i = 0; i < d.tail.size(); ++i) p.x.push_back(d.tail[i]), p.y.push_back(2.0 + 3.0 * i);
    for (int option : {1, 2, 3}) {
      std::vector<WindowJudgement> fast;
      ASSERT_EQ(compare(p, option, &fast), "") << d.name;
      ASSERT_EQ(fast.size(), d.points.size()) << d.name;
      EXPECT_EQ(lastFittedWindow(fast), d.lastFitted) << d.name;
      for (std::size_t k = 0; k < fast.size(); ++k) {
        EXPECT_EQ(fast[k].points, d.points[k]) << d.name << " window " << k + 15;
        EXPECT_EQ(fast[k].determined, d.determined[k]) << d.name << " window " << k + 15;
        EXPECT_TRUE(d.determined[k] || (!fast[k].good && std::isnan(fast[k].slope))) << d.name << " " << k + 15;
      }
    }
  }
}

// What the caller can get wrong is refused; no window, nothing judged; a gap with a
// non-finite value is judged as the full refit judges it, and so are steep, nearly
// perfect lines at large HV, whose chi-square is a tiny remainder of large sums
// (unshifted sums would lose it).
TEST(WindowScan, RefusesMismatchedInputAndJudgesOddGapsAsTheFullRefit) {
  const std::vector<double> x(20, 1.0), y(19, 1.0);
  EXPECT_THROW(judgeWindows(x, y, 15, 1), std::invalid_argument);
  EXPECT_THROW(judgeWindows(x, x, -1, 1), std::invalid_argument);
  EXPECT_TRUE(judgeWindows(x, x, 20, 1).empty() && judgeWindows({}, {}, 15, 1).empty());
  std::mt19937 rng(5);
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    for (std::size_t at : {3u, 30u, 39u}) {
      Points p = generate(rng, 40, 0.3, Order::Ascending);
      p.y[at] = bad;
      EXPECT_EQ(compare(p, 1), "") << at;
      p.x[at] = bad;
      EXPECT_EQ(compare(p, 1), "") << at;
    }
  }
  for (int option : {1, 2, 3}) {
    for (double sigma : {1e-3, 1e-2, 3e-2}) {
      Points p;
      std::normal_distribution<double> noise(0.0, sigma);
      for (int i = 0; i < 2000; ++i) p.x.push_back(1e4 + 0.05 * i), p.y.push_back(1e3 + 2.0 * i + noise(rng));
      EXPECT_EQ(compare(p, option), "") << option << " " << sigma;
    }
  }
  // An option without a band judges every window and passes none.
  const Points p = generate(rng, 40, 0.3, Order::Ascending);
  const auto none = judgeWindows(p.x, p.y, 15, 4);
  EXPECT_EQ(none.size(), 25u);
  EXPECT_TRUE(std::none_of(none.begin(), none.end(), [](const WindowJudgement& w) { return w.good; }));
}

}  // namespace
