// Window verdicts of the ohmic-region search from moments grown once over the gap.
#include "aux/WindowScan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "aux/Regression.h"
#include "toolkit/Fit.h"
#include "toolkit/Graph.h"

namespace {

using Real = long double;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void requireInput(const std::vector<double>& x, const std::vector<double>& y, int firstPoint) {
  if (x.size() != y.size()) {
    throw std::invalid_argument("window scan: " + std::to_string(x.size()) + " HV values but " +
                                std::to_string(y.size()) + " current densities");
  }
  if (firstPoint < 0) {
    throw std::invalid_argument("window scan: first window point " + std::to_string(firstPoint) +
                                " is negative");
  }
}

void markUndetermined(WindowJudgement& w) {
  w.determined = false;
  w.ndf = 0;
  w.chi2 = 0.0;
  w.slope = w.intercept = w.slopeError = w.interceptError = kNaN;
}

tk::Graph graphOf(const std::vector<double>& x, const std::vector<double>& y) {
  tk::Graph g;
  for (std::size_t i = 0; i < x.size(); ++i) g.AddPoint(x[i], y[i]);
  return g;
}

// Window j refitted as the search always did: the same call on the same points,
// so the numbers are those the search would print.
WindowJudgement judgeExactly(tk::Graph& graph, int j, int fitTest) {
  const std::vector<double>& x = graph.GetX();
  const double end = x.back();
  WindowJudgement w;
  w.first = j;
  w.exact = true;
  const auto line = tk::fitLine(graph, x[j], end, "f2");
  if (line) {
    w.determined = true;
    w.points = line->npoints;
    w.ndf = line->ndf;
    w.chi2 = line->chi2;
    w.slope = line->par[1];
    w.intercept = line->par[0];
    w.slopeError = line->err[1];
    w.interceptError = line->err[0];
  } else {
    markUndetermined(w);
    const double low = std::min(x[j], end), high = std::max(x[j], end);
    w.points = static_cast<int>(
        std::count_if(x.begin(), x.end(), [&](double v) { return low <= v && v <= high; }));
  }
  std::ostream quiet(nullptr);  // goodFit writes nothing when not asked to
  w.good = goodFit(w.chi2, w.ndf, w.goodness, fitTest, false, quiet) && w.determined;
  return w;
}

// Centred moments of a set of points, grown one point at a time (Welford): each
// step adds a non-negative amount to the sums of squares, so nothing cancels while
// they grow, and the chi-square later loses only what its own formula loses.
struct Moments {
  int count = 0;
  Real mx = 0, my = 0, cxx = 0, cxy = 0, cyy = 0;  // x about the shift, y as given
  double lowX = 0, highX = 0;                      // HV range held, as stored

  void add(double rawX, Real x, Real y) {
    lowX = count == 0 ? rawX : std::min(lowX, rawX);
    highX = count == 0 ? rawX : std::max(highX, rawX);
    ++count;
    const Real dx = x - mx;
    const Real dy = y - my;
    mx += dx / count;
    my += dy / count;
    cxx += dx * (x - mx);
    cxy += dx * (y - my);
    cyy += dy * (y - my);
  }
};

// The gap's points in ascending HV (stable), about a shift to the last point: the
// windows all reach that point, so the narrow ones, whose spread is smallest,
// lie nearest the shift.
struct Scan {
  const std::vector<double>& x;
  const std::vector<double>& y;
  double x0, y0;
  bool ascending;
  std::vector<int> order;

  Scan(const std::vector<double>& xs, const std::vector<double>& ys)
      : x(xs), y(ys), x0(xs.back()), y0(ys.back()),
        ascending(std::is_sorted(xs.begin(), xs.end())), order(xs.size()) {
    std::iota(order.begin(), order.end(), 0);
    if (!ascending) {
      std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return x[a] < x[b]; });
    }
  }
  int at(int position) const { return order[static_cast<std::size_t>(position)]; }
  double hvAt(int position) const { return x[static_cast<std::size_t>(at(position))]; }
};

// A window growing one point at a time over a run of sorted positions. Its moments
// are of the residuals from a reference line, not of the currents: the chi-square
// is the small remainder Cyy - Cxy^2 / Cxx, and residuals keep Cyy near it where
// a steep line would make it many orders larger and the remainder mostly rounding.
// Each time the window doubles, the reference becomes the window's own line and
// the moments are grown again over its points: 2N additions at most in all.
class GrowingWindow {
 public:
  explicit GrowingWindow(const Scan& s) : s_(s) {}

  void add(int position) {
    low_ = m_.count == 0 ? position : std::min(low_, position);
    high_ = m_.count == 0 ? position : std::max(high_, position);
    grow(position);
    if (m_.count == nextRebuild_) rebuild();
  }
  const Moments& moments() const { return m_; }
  Real a0() const { return a0_; }  // reference line about the shift: a0 + b0 (x - x0)
  Real b0() const { return b0_; }

 private:
  void grow(int position) {
    const std::size_t i = static_cast<std::size_t>(s_.at(position));
    const Real x = static_cast<Real>(s_.x[i]) - s_.x0;
    const Real r = static_cast<Real>(s_.y[i]) - s_.y0 - (a0_ + b0_ * x);
    m_.add(s_.x[i], x, r);
  }
  void rebuild() {
    nextRebuild_ *= 2;
    if (!(m_.cxx > 0)) return;  // one HV so far: no line to refer to yet
    const Real beta = m_.cxy / m_.cxx;
    a0_ += m_.my - beta * m_.mx;
    b0_ += beta;
    m_ = Moments{};
    for (int p = low_; p <= high_; ++p) grow(p);
  }

  const Scan& s_;
  Moments m_;
  Real a0_ = 0, b0_ = 0;
  int low_ = 0, high_ = 0;  // sorted positions held
  int nextRebuild_ = 4;
};

// A generous bound on how far the chi-square from the moments may lie from the
// one tk::fitLine computes: the latter in double on the raw points (rounded
// residuals, their plain sum, running means), the former in long double on the
// residuals from the reference line, worse the further they sit from their mean
// against their spread. syy and my are those of the raw currents.
double chi2Noise(const Moments& m, Real chi2, Real slope, Real mx, Real my, Real syyRaw) {
  const double ed = std::numeric_limits<double>::epsilon();
  const double el = static_cast<double>(std::numeric_limits<Real>::epsilon());
  const double n = m.count;
  const double c = static_cast<double>(chi2);
  const double syy = static_cast<double>(std::max<Real>(syyRaw, 0));
  const double sxx = static_cast<double>(m.cxx);
  const double b = std::fabs(static_cast<double>(slope));
  const double reach = std::fabs(static_cast<double>(my)) + std::sqrt(syy) +
                       b * (std::fabs(static_cast<double>(mx)) + std::sqrt(sxx));
  const double line = 64 * ed * std::sqrt(c * syy) + 256 * ed * ed * syy + 8 * n * ed * c +
                      16 * n * std::pow(n * ed * reach, 2);
  const double srr = static_cast<double>(m.cyy);
  const double smx = static_cast<double>(m.mx), smr = static_cast<double>(m.my);
  const double kx = std::sqrt(1 + n * smx * smx / sxx);
  const double kr = srr > 0 ? std::sqrt(1 + n * smr * smr / srr) : 1.0;
  // Forming each residual rounds it by about el times the point's reach.
  const double moments = 64 * n * el * (kx + kr) * (srr + c) + 16 * el * std::sqrt(c * n) * reach;
  return 4 * (line + moments);
}

// The line of window j from its moments; `noise` gets chi2Noise, or infinity when
// the numbers are not to be trusted at all.
WindowJudgement fromMoments(int j, const GrowingWindow& g, const Scan& s, double& noise) {
  const Moments& m = g.moments();
  WindowJudgement w;
  w.first = j;
  w.points = m.count;
  noise = 0.0;
  if (m.count < 2 || m.lowX == m.highX) {
    markUndetermined(w);
    return w;
  }
  w.determined = true;
  w.ndf = m.count - 2;
  const Real beta = m.cxy / m.cxx;  // of the residuals
  const Real chi2 = std::max<Real>(m.cyy - m.cxy * beta, 0);
  const Real slope = g.b0() + beta;
  const Real mx = m.mx + s.x0;                                 // raw HV mean
  const Real my = s.y0 + g.a0() + g.b0() * m.mx + m.my;        // raw current mean
  const Real syyRaw = m.cyy + 2 * g.b0() * m.cxy + g.b0() * g.b0() * m.cxx;
  const Real scale = (w.ndf > 0 && chi2 > 0) ? chi2 / w.ndf : 1;
  w.chi2 = static_cast<double>(chi2);
  w.slope = static_cast<double>(slope);
  w.intercept = static_cast<double>(my - slope * mx);
  w.slopeError = static_cast<double>(std::sqrt(scale / m.cxx));
  w.interceptError = static_cast<double>(std::sqrt(scale * (1 / Real(m.count) + mx * mx / m.cxx)));
  noise = chi2Noise(m, chi2, slope, mx, my, syyRaw);
  if (!(m.cxx > 0) || !std::isfinite(w.chi2) || !std::isfinite(noise)) {
    noise = std::numeric_limits<double>::infinity();
  }
  return w;
}

// Windows reaching down from the last point's HV e: [x[j], e] for x[j] <= e, taken
// in descending x[j], each holding the one before plus the points down to x[j].
void sweepDown(const Scan& s, const std::vector<int>& queries, int firstPoint,
               std::vector<WindowJudgement>& out, std::vector<double>& noise) {
  const double e = s.x.back();
  const int n = static_cast<int>(s.order.size());
  int p = n - 1;
  while (p >= 0 && s.hvAt(p) > e) --p;
  GrowingWindow g(s);
  for (int j : queries) {
    for (; p >= 0 && s.hvAt(p) >= s.x[static_cast<std::size_t>(j)]; --p) g.add(p);
    const auto k = static_cast<std::size_t>(j - firstPoint);
    out[k] = fromMoments(j, g, s, noise[k]);
  }
}

// Windows reaching up from e: [e, x[j]] for x[j] > e, in ascending x[j].
void sweepUp(const Scan& s, const std::vector<int>& queries, int firstPoint,
             std::vector<WindowJudgement>& out, std::vector<double>& noise) {
  const double e = s.x.back();
  const int n = static_cast<int>(s.order.size());
  int p = 0;
  while (p < n && s.hvAt(p) < e) ++p;
  GrowingWindow g(s);
  for (int j : queries) {
    for (; p < n && s.hvAt(p) <= s.x[static_cast<std::size_t>(j)]; ++p) g.add(p);
    const auto k = static_cast<std::size_t>(j - firstPoint);
    out[k] = fromMoments(j, g, s, noise[k]);
  }
}

// True when the rounding of either computation could put the chi-square on the
// other side of a band edge. The edges are goodFit's bands read as chi-square:
// option 1 passes for NDF / chi2 in (0.8, 2), so for chi2 in (NDF / 2, NDF / 0.8).
bool nearBandEdge(double chi2, int ndf, int fitTest, double noise) {
  if (!std::isfinite(noise) || !std::isfinite(chi2)) return true;
  double edges[2] = {0.0, 0.0};
  switch (fitTest) {
    case 1:
      if (ndf <= 0) return false;  // NDF / chi2 is then 0 or NaN: never good
      edges[0] = ndf / 2.0;
      edges[1] = ndf / 0.8;
      break;
    case 2:
      edges[0] = 0.07;
      edges[1] = 0.12;
      break;
    case 3:
      edges[0] = 0.007;
      edges[1] = 0.02;
      break;
    default:
      return false;  // no band: never good
  }
  return std::any_of(std::begin(edges), std::end(edges),
                     [&](double e) { return std::fabs(chi2 - e) <= noise + 1e-9 * e; });
}

// Verdicts in window order up to the first good one; a window near a band edge is
// refitted in full and keeps the full fit's numbers.
void decide(std::vector<WindowJudgement>& out, const std::vector<double>& noise,
            const std::vector<double>& x, const std::vector<double>& y, int fitTest) {
  std::optional<tk::Graph> graph;  // built at the first window that needs a full fit
  std::ostream quiet(nullptr);
  for (std::size_t k = 0; k < out.size(); ++k) {
    WindowJudgement& w = out[k];
    if (w.determined && nearBandEdge(w.chi2, w.ndf, fitTest, noise[k])) {
      if (!graph) graph = graphOf(x, y);
      w = judgeExactly(*graph, w.first, fitTest);
    } else {
      w.good = goodFit(w.chi2, w.ndf, w.goodness, fitTest, false, quiet) && w.determined;
    }
    if (w.good) {
      out.resize(k + 1);
      break;
    }
  }
  out.shrink_to_fit();
}

bool allFinite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

}  // namespace

std::vector<WindowJudgement> judgeWindowsExact(const std::vector<double>& x,
                                               const std::vector<double>& y, int firstPoint,
                                               int fitTest) {
  requireInput(x, y, firstPoint);
  std::vector<WindowJudgement> out;
  if (static_cast<std::size_t>(firstPoint) >= x.size()) return out;
  tk::Graph graph = graphOf(x, y);
  for (int j = firstPoint; j < graph.GetN(); ++j) {
    out.push_back(judgeExactly(graph, j, fitTest));
    if (out.back().good) break;
  }
  return out;
}

std::vector<WindowJudgement> judgeWindows(const std::vector<double>& x, const std::vector<double>& y,
                                          int firstPoint, int fitTest) {
  requireInput(x, y, firstPoint);
  if (static_cast<std::size_t>(firstPoint) >= x.size()) return {};
  // A NaN has no place in an HV order and an infinity no finite moments; such a
  // gap is judged the slow, sure way.
  if (!allFinite(x) || !allFinite(y)) return judgeWindowsExact(x, y, firstPoint, fitTest);

  const Scan scan(x, y);
  const int n = static_cast<int>(x.size());
  std::vector<int> down, up;  // window starts below / above the last point's HV
  for (int j = n - 1; j >= firstPoint; --j) (x[j] <= x.back() ? down : up).push_back(j);
  if (!scan.ascending) {
    std::stable_sort(down.begin(), down.end(), [&](int a, int b) { return x[a] > x[b]; });
    std::stable_sort(up.begin(), up.end(), [&](int a, int b) { return x[a] < x[b]; });
  }
  std::vector<WindowJudgement> out(static_cast<std::size_t>(n - firstPoint));
  std::vector<double> noise(out.size());
  sweepDown(scan, down, firstPoint, out, noise);
  sweepUp(scan, up, firstPoint, out, noise);
  decide(out, noise, x, y, fitTest);
  return out;
}

int lastFittedWindow(const std::vector<WindowJudgement>& judged) {
  const auto it = std::find_if(judged.rbegin(), judged.rend(),
                               [](const WindowJudgement& w) { return w.determined; });
  return it == judged.rend() ? -1 : it->first;
}
