// The smooth-knee fit: grid start, Levenberg-Marquardt polish (GSL), one outlier
// pass, HC3 errors and the acceptance tests.
#include "aux/KneeFit.h"

#include <gsl/gsl_multifit_nlinear.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numeric>
#include <sstream>

#include "aux/OhmicSearch.h"  // kGapLength

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kGridStep = 5.0;     // V, onset steps of the start grid
constexpr int kGridWidths = 16;       // widths 0.5 * 1.5^k V, k = 0..15
constexpr double kTail = 40.0;        // beyond |t| = 40, ln(1 + e^-|t|) < 5e-18: left out
constexpr double kThetaLimit = 20.0;  // |ln w| bound inside the model: exp cannot overflow
constexpr double kOutlierSpreads = 5.0;
constexpr double kSignificance = 5.0;   // s / sigma_s
constexpr int kFewestAbove = 5;         // points above V0 + w
constexpr int kFewestBelow = 3;         // points below V0 - w
constexpr double kLowestDurbinWatson = 1.0;
constexpr double kSharpWidth = 1.0;     // V: at or below, the width is not a parameter of the errors
constexpr int kMaxIterations = 200;
constexpr std::size_t kGridPoints = 20000;  // more points: the grid runs on a thinning of them

double softplus(double t) { return std::max(t, 0.0) + std::log1p(std::exp(-std::fabs(t))); }

// ln(1 + e) for 0 <= e <= 1; below 1e-8 the series e - e^2/2, whose next term
// (e^3/3) is below the rounding of the sum: the same value as log1p, cheaper.
double log1pSmall(double e) { return e < 1e-8 ? e * (1.0 - 0.5 * e) : std::log1p(e); }

// The logistic function, the derivative of softplus, without overflow.
double logistic(double t) {
  const double e = std::exp(-std::fabs(t));
  return t >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
}

// The points of the gap sorted by HV, with where each stood in the caller's order.
struct Points {
  std::vector<double> hv, j;
  std::vector<std::size_t> input;
  std::size_t size() const { return hv.size(); }
};

struct Knee {
  double c = kNaN, s = kNaN, v0 = kNaN, w = kNaN;
  double at(double hv) const { return kneeCurrent(c, s, v0, w, hv); }
};

// One knee fit of a set of points: the parameters and how they were found.
struct Model {
  Knee k;
  bool held = false;     // the width held at its grid value
  double ssr = kInf;
  int parameters = 4;
};

std::string str(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

std::vector<double> residualsOf(const Points& p, const Knee& k) {
  std::vector<double> r(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) r[i] = p.j[i] - k.at(p.hv[i]);
  return r;
}

double sumOfSquares(const std::vector<double>& r) {
  return std::inner_product(r.begin(), r.end(), r.begin(), 0.0);
}

Points sortedPoints(const std::vector<double>& hv, const std::vector<double>& current) {
  std::vector<std::size_t> order(hv.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Ties in HV are ordered by current, so any input order gives the same fit.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return hv[a] != hv[b] ? hv[a] < hv[b] : current[a] < current[b];
  });
  Points p;
  for (std::size_t i : order) {
    p.hv.push_back(hv[i]);
    p.j.push_back(current[i]);
    p.input.push_back(i);
  }
  return p;
}

// ------------------------------------------------------------------ grid start

// The sums the grid needs, in coordinates centred on the mean HV and current.
// Above the knee's band (t > kTail) F = V - V0 exactly, so those points enter
// through suffix sums and only the points inside the band cost a softplus: for the
// narrow knees of the grid a few points instead of all.
struct GridSums {
  double meanV = 0, meanJ = 0, syy = 0;
  std::vector<double> x, y;               // centred HV and current, ascending HV
  std::vector<double> sx, sxx, sxy, sy;   // suffix sums from index i to the end
};

GridSums gridSums(const Points& p) {
  const std::size_t n = p.size();
  GridSums g;
  g.meanV = std::accumulate(p.hv.begin(), p.hv.end(), 0.0) / static_cast<double>(n);
  g.meanJ = std::accumulate(p.j.begin(), p.j.end(), 0.0) / static_cast<double>(n);
  g.sx.assign(n + 1, 0.0), g.sxx = g.sxy = g.sy = g.sx;
  for (std::size_t i = 0; i < n; ++i) {
    g.x.push_back(p.hv[i] - g.meanV);
    g.y.push_back(p.j[i] - g.meanJ);
    g.syy += g.y[i] * g.y[i];
  }
  for (std::size_t i = n; i-- > 0;) {
    g.sx[i] = g.sx[i + 1] + g.x[i];
    g.sxx[i] = g.sxx[i + 1] + g.x[i] * g.x[i];
    g.sxy[i] = g.sxy[i + 1] + g.x[i] * g.y[i];
    g.sy[i] = g.sy[i + 1] + g.y[i];
  }
  return g;
}

// The points inside the band |t| <= kTail at the last onset tried for one width,
// with e = exp(-|t|) of each. The grid steps the onset by a fixed amount, so e
// changes by a fixed factor from one onset to the next and is carried over by one
// product (relative drift below 1e-13 over a whole scan); it is computed afresh
// where a point enters the band or passes below the onset.
struct Band {
  double w = kNaN, up = kNaN, down = kNaN;  // e factor at and above the onset, below it
  std::size_t lo = 0, hi = 0;                // the band's points [lo, hi)
  std::size_t onset = 0;                     // the first point at or above the onset
  std::vector<double> e;
  Band(double width, std::size_t n)
      : w(width), up(std::exp(kGridStep / width)), down(1.0 / up), e(n, kNaN) {}
};

struct KneeSums {
  double f = 0, ff = 0, fy = 0;  // sums of F, F^2 and F (J - mean J)
};

// Adds the band's points [from, to), all above (t >= 0) or all below the onset,
// to the sums: e carried over by one product, or computed afresh (Fresh).
template <bool Above, bool Fresh>
void addBandPoints(const GridSums& g, Band& b, std::size_t from, std::size_t to, double d,
                   KneeSums& s) {
  const double perW = 1.0 / b.w;
  for (std::size_t i = from; i < to; ++i) {
    const double t = (g.x[i] - d) * perW;
    double& e = b.e[i];
    if constexpr (Fresh) {
      e = std::exp(Above ? -t : t);
    } else {
      e *= Above ? b.up : b.down;
    }
    const double F = b.w * ((Above ? t : 0.0) + log1pSmall(e));
    s.f += F, s.ff += F * F, s.fy += F * g.y[i];
  }
}

// For fixed (V0, w) the model is linear in (c, s): the least-squares line of J on
// F = w softplus((V - V0) / w). Sets k.c and k.s; returns the SSR (infinite when F
// does not vary). Below the band F is below 5e-18 w and is left out. The onset
// only grows from one call to the next with the same band.
double lineOnKnee(const GridSums& g, Knee& k, Band& b) {
  const std::size_t n = g.x.size(), before = b.hi, onsetBefore = b.onset;
  const double d = k.v0 - g.meanV;
  while (b.lo < n && g.x[b.lo] < d - kTail * b.w) ++b.lo;
  while (b.hi < n && g.x[b.hi] <= d + kTail * b.w) ++b.hi;
  while (b.onset < n && g.x[b.onset] < d) ++b.onset;
  const double above = static_cast<double>(n - b.hi);
  KneeSums s{g.sx[b.hi] - above * d, g.sxx[b.hi] - 2 * d * g.sx[b.hi] + above * d * d,
             g.sxy[b.hi] - d * g.sy[b.hi]};
  const std::size_t z = std::clamp(b.onset, b.lo, b.hi);
  const std::size_t freshBelow = std::clamp(std::min(onsetBefore, before), b.lo, z);
  const std::size_t freshAbove = std::clamp(before, z, b.hi);
  addBandPoints<false, false>(g, b, b.lo, freshBelow, d, s);
  addBandPoints<false, true>(g, b, freshBelow, z, d, s);
  addBandPoints<true, false>(g, b, z, freshAbove, d, s);
  addBandPoints<true, true>(g, b, freshAbove, b.hi, d, s);
  const double sff = s.ff - s.f * s.f / static_cast<double>(n);
  if (!(sff > 0)) return kInf;
  k.s = s.fy / sff;
  k.c = g.meanJ - k.s * s.f / static_cast<double>(n);
  return g.syy - s.fy * s.fy / sff;
}

// Every stride-th point of p in HV order (the highest always among them): the
// grid's points for a large scan.
Points thinned(const Points& p, std::size_t stride) {
  Points few;
  for (std::size_t i = (p.size() - 1) % stride; i < p.size(); i += stride) {
    few.hv.push_back(p.hv[i]);
    few.j.push_back(p.j[i]);
  }
  return few;
}

// The (V0, w) pair of the grid with the smallest SSR, c and s in closed form;
// V0 from the third-lowest HV to below the highest. Its ssr is recomputed from
// the residuals. No pair: an infinite ssr. Beyond kGridPoints points the pair is
// chosen on an even thinning of them (each grid node costs a pass over the
// points of its band, all of them for the wide knees, and the grid only starts
// the polish, which takes every point); c and s then come from all the points.
Model gridStart(const Points& p) {
  const std::size_t stride = (p.size() + kGridPoints - 1) / kGridPoints;
  const Points few = stride > 1 ? thinned(p, stride) : Points{};
  const Points& grid = stride > 1 ? few : p;
  const GridSums g = gridSums(grid);
  Model best;
  double bestSsr = kInf;
  for (int kw = 0; kw < kGridWidths; ++kw) {
    Band band(0.5 * std::pow(1.5, kw), grid.size());
    for (int m = 0;; ++m) {
      Knee k;
      k.w = band.w;
      k.v0 = p.hv[2] + kGridStep * m;
      if (!(k.v0 < p.hv.back())) break;
      const double ssr = lineOnKnee(g, k, band);
      if (ssr < bestSsr) bestSsr = ssr, best.k = k;
    }
  }
  if (stride > 1 && std::isfinite(bestSsr)) {
    Band band(best.k.w, p.size());
    bestSsr = lineOnKnee(gridSums(p), best.k, band);
  }
  if (std::isfinite(bestSsr)) best.ssr = sumOfSquares(residualsOf(p, best.k));
  return best;
}

// ------------------------------------------------------------------ polish

// What the solver sees: the points, and the width when it is held.
struct LmData {
  const Points* p;
  double heldWidth;  // NaN: the width is the fourth parameter, as theta = ln w
};

Knee kneeOf(const gsl_vector* x, const LmData& d) {
  Knee k;
  k.c = gsl_vector_get(x, 0);
  k.s = gsl_vector_get(x, 1);
  k.v0 = gsl_vector_get(x, 2);
  k.w = std::isnan(d.heldWidth)
            ? std::exp(std::clamp(gsl_vector_get(x, 3), -kThetaLimit, kThetaLimit))
            : d.heldWidth;
  return k;
}

// df/dc, df/ds, df/dV0, df/dtheta at one HV; `clamped` zeroes the last (the
// model does not move with theta beyond its bound).
std::array<double, 4> jacobianRow(const Knee& k, double hv, bool clamped) {
  const double t = (hv - k.v0) / k.w;
  const double sp = softplus(t), sig = logistic(t);
  return {1.0, k.w * sp, -k.s * sig, clamped ? 0.0 : k.s * k.w * (sp - t * sig)};
}

int lmResiduals(const gsl_vector* x, void* data, gsl_vector* f) {
  const auto& d = *static_cast<const LmData*>(data);
  const Knee k = kneeOf(x, d);
  for (std::size_t i = 0; i < d.p->size(); ++i) gsl_vector_set(f, i, k.at(d.p->hv[i]) - d.p->j[i]);
  return GSL_SUCCESS;
}

int lmJacobian(const gsl_vector* x, void* data, gsl_matrix* J) {
  const auto& d = *static_cast<const LmData*>(data);
  const Knee k = kneeOf(x, d);
  const bool clamped = x->size == 4 && std::fabs(gsl_vector_get(x, 3)) > kThetaLimit;
  for (std::size_t i = 0; i < d.p->size(); ++i) {
    const auto row = jacobianRow(k, d.p->hv[i], clamped);
    for (std::size_t c = 0; c < J->size2; ++c) gsl_matrix_set(J, i, c, row[c]);
  }
  return GSL_SUCCESS;
}

struct Polish {
  Knee k;
  bool converged = false;
  int iterations = 0;
  double ssr = kInf;
};

struct WorkspaceFree {
  void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
};
struct VectorFree {
  void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};

// Levenberg-Marquardt from `start` on (c, s, V0, ln w), or on (c, s, V0) with the
// width held at start.w.
Polish levenbergMarquardt(const Points& p, const Knee& start, bool holdWidth) {
  LmData data{&p, holdWidth ? start.w : kNaN};
  const std::size_t np = holdWidth ? 3 : 4;
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = lmResiduals;
  fdf.df = lmJacobian;
  fdf.fvv = nullptr;
  fdf.n = p.size();
  fdf.p = np;
  fdf.params = &data;
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.trs = gsl_multifit_nlinear_trs_lm;
  std::unique_ptr<gsl_multifit_nlinear_workspace, WorkspaceFree> work(
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, p.size(), np));
  std::unique_ptr<gsl_vector, VectorFree> x0(gsl_vector_alloc(np));
  const double init[4] = {start.c, start.s, start.v0, std::log(start.w)};
  for (std::size_t i = 0; i < np; ++i) gsl_vector_set(x0.get(), i, init[i]);
  Polish out;
  if (gsl_multifit_nlinear_init(x0.get(), &fdf, work.get()) != GSL_SUCCESS) return out;
  int info = 0;
  const int status = gsl_multifit_nlinear_driver(kMaxIterations, 1e-10, 1e-10, 0.0, nullptr,
                                                 nullptr, &info, work.get());
  out.converged = status == GSL_SUCCESS;
  out.iterations = static_cast<int>(gsl_multifit_nlinear_niter(work.get()));
  out.k = kneeOf(gsl_multifit_nlinear_position(work.get()), data);
  out.ssr = sumOfSquares(residualsOf(p, out.k));
  if (!std::isfinite(out.ssr)) out.converged = false;
  return out;
}

std::string polishLine(const std::string& what, const Polish& r, double before) {
  return what + (r.converged ? ": converged in " : ": not converged after ") +
         std::to_string(r.iterations) + " iterations, SSR " + str(before) + " -> " + str(r.ssr);
}

// Steps 2 and 3: the grid start, then the full polish; when that fails, raises the
// SSR or leaves the width range, the polish with the width held at its grid value.
Model fitOnce(const Points& p, std::vector<std::string>& trace) {
  Model m = gridStart(p);
  if (!std::isfinite(m.ssr)) return m;
  trace.push_back("grid start: V0 " + str(m.k.v0) + " V, w " + str(m.k.w) + " V, c " +
                  str(m.k.c) + " nA/cm2, s " + str(m.k.s) + " nA/cm2 per V, SSR " + str(m.ssr));
  const Polish full = levenbergMarquardt(p, m.k, false);
  trace.push_back(polishLine("polish (c, s, V0, w)", full, m.ssr) + ", w " + str(full.k.w) + " V");
  if (full.converged && full.ssr <= m.ssr && full.k.w >= kKneeNarrowestWidth &&
      full.k.w <= kKneeWidestWidth) {
    m.k = full.k, m.ssr = full.ssr;
    return m;
  }
  m.held = true;
  m.parameters = 3;
  m.k.w = std::clamp(m.k.w, kKneeNarrowestWidth, kKneeWidestWidth);
  m.ssr = sumOfSquares(residualsOf(p, m.k));
  const Polish held = levenbergMarquardt(p, m.k, true);
  const bool take = held.converged && held.ssr <= m.ssr;
  trace.push_back(polishLine("width held at " + str(m.k.w) + " V; polish (c, s, V0)", held, m.ssr) +
                  (take ? "" : "; grid values kept"));
  if (take) m.k = held.k, m.ssr = held.ssr;
  return m;
}

// ------------------------------------------------------------------ outliers

double median(std::vector<double> v) {
  const std::size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h), v.end());
  const double upper = v[h];
  if (v.size() % 2 == 1) return upper;
  return 0.5 * (upper + *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h)));
}

// Drops the points whose residual exceeds 5 robust spreads (1.4826 MAD), when at
// least kKneeFewestPoints remain. Returns how many were dropped.
int dropOutliers(Points& p, const std::vector<double>& r, std::vector<std::string>& trace) {
  const double mid = median(r);
  std::vector<double> dev(r.size());
  for (std::size_t i = 0; i < r.size(); ++i) dev[i] = std::fabs(r[i] - mid);
  const double spread = 1.4826 * median(dev);
  const double cut = kOutlierSpreads * spread;
  std::size_t beyond = 0;
  for (double x : r) beyond += std::fabs(x) > cut ? 1 : 0;
  std::string line = "outlier pass: robust spread " + str(spread) + " nA/cm2, " +
                     std::to_string(beyond) + " point(s) beyond " + str(cut) + " nA/cm2";
  if (beyond == 0 || !(spread > 0) || p.size() - beyond < kKneeFewestPoints) {
    trace.push_back(line + (beyond == 0 ? "" : ", none dropped (too few would remain)"));
    return 0;
  }
  Points kept;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (std::fabs(r[i]) > cut) {
      line += "; dropped HV " + str(p.hv[i]) + " V (residual " + str(r[i]) + ")";
      continue;
    }
    kept.hv.push_back(p.hv[i]);
    kept.j.push_back(p.j[i]);
    kept.input.push_back(p.input[i]);
  }
  trace.push_back(line + "; refitted");
  p = std::move(kept);
  return static_cast<int>(beyond);
}

// ------------------------------------------------------------------ errors

using Matrix = std::vector<std::vector<double>>;

// The inverse of a small symmetric positive matrix, equilibrated to a unit
// diagonal first (the columns differ by many orders of magnitude). Empty when
// singular.
Matrix invert(Matrix m) {
  const std::size_t n = m.size();
  std::vector<double> d(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!(m[i][i] > 0)) return {};
    d[i] = 1.0 / std::sqrt(m[i][i]);
  }
  Matrix inv(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    inv[i][i] = 1.0;
    for (std::size_t j = 0; j < n; ++j) m[i][j] *= d[i] * d[j];
  }
  for (std::size_t c = 0; c < n; ++c) {  // Gauss-Jordan with partial pivoting
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < n; ++r) if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    if (!(std::fabs(m[piv][c]) > 1e-13)) return {};
    std::swap(m[c], m[piv]);
    std::swap(inv[c], inv[piv]);
    const double pv = m[c][c];
    for (std::size_t j = 0; j < n; ++j) m[c][j] /= pv, inv[c][j] /= pv;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = m[r][c];
      for (std::size_t j = 0; j < n; ++j) m[r][j] -= f * m[c][j], inv[r][j] -= f * inv[c][j];
    }
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) inv[i][j] *= d[i] * d[j];
  return inv;
}

double quadratic(const Matrix& a, const std::array<double, 4>& x, std::size_t n) {
  double q = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) q += x[i] * a[i][j] * x[j];
  return q;
}

// Standard errors of the first np parameters from the HC3 sandwich
// A (sum_i w_i J_i^T J_i) A, A = (J^T J)^-1, w_i = r_i^2 / max(1 - h_i, 1e-3)^2.
// Empty when J^T J is singular.
std::vector<double> hc3Errors(const Points& p, const Knee& k, const std::vector<double>& r,
                              std::size_t np) {
  std::vector<std::array<double, 4>> rows(p.size());
  Matrix jtj(np, std::vector<double>(np, 0.0));
  for (std::size_t i = 0; i < p.size(); ++i) {
    rows[i] = jacobianRow(k, p.hv[i], false);
    for (std::size_t a = 0; a < np; ++a)
      for (std::size_t b = 0; b < np; ++b) jtj[a][b] += rows[i][a] * rows[i][b];
  }
  const Matrix A = invert(jtj);
  if (A.empty()) return {};
  Matrix meat(np, std::vector<double>(np, 0.0));
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double lever = std::max(1.0 - quadratic(A, rows[i], np), 1e-3);
    const double wi = r[i] * r[i] / (lever * lever);
    for (std::size_t a = 0; a < np; ++a)
      for (std::size_t b = 0; b < np; ++b) meat[a][b] += wi * rows[i][a] * rows[i][b];
  }
  std::vector<double> err(np);
  for (std::size_t q = 0; q < np; ++q) {  // (A meat A)_qq
    double v = 0;
    for (std::size_t a = 0; a < np; ++a)
      for (std::size_t b = 0; b < np; ++b) v += A[q][a] * meat[a][b] * A[b][q];
    err[q] = std::sqrt(std::max(v, 0.0));
  }
  return err;
}

// ------------------------------------------------------------------ acceptance

double durbinWatson(const std::vector<double>& r) {
  double num = 0;
  for (std::size_t i = 1; i < r.size(); ++i) num += (r[i] - r[i - 1]) * (r[i] - r[i - 1]);
  const double den = sumOfSquares(r);
  return den > 0 ? num / den : kNaN;
}

// One acceptance test: its trace line, and the reason when it fails.
bool check(bool pass, const std::string& name, const std::string& numbers,
           const std::string& reason, KneeFit& out) {
  out.trace.push_back("test " + name + ": " + numbers + (pass ? ": pass" : ": fail"));
  if (!pass && out.reason.empty()) out.reason = reason;
  return pass;
}

// The tests in order; the first failure sets the reason, all are traced.
bool accept(const Points& p, const Model& m, KneeFit& out) {
  int above = 0, below = 0;
  for (double v : p.hv) {
    above += v > m.k.v0 + m.k.w ? 1 : 0;
    below += v < m.k.v0 - m.k.w ? 1 : 0;
  }
  const double ratio = m.k.s / out.slopeError;
  const std::string r = str(ratio), a = std::to_string(above), b = std::to_string(below);
  const std::string dw = str(out.durbinWatson);
  bool ok = check(m.k.s > 0 && ratio >= kSignificance, "slope", "s/sigma " + r + " (needs 5)",
                  "slope not significant (s/sigma " + r + " < 5)", out);
  ok &= check(above >= kFewestAbove, "points above the knee", a + " above V0 + w (needs 5)",
              "too few points above the knee (" + a + ", needs 5)", out);
  ok &= check(below >= kFewestBelow, "points below the knee", b + " below V0 - w (needs 3)",
              "too few points below the knee (" + b + ", needs 3)", out);
  ok &= check(out.durbinWatson >= kLowestDurbinWatson, "residuals", "Durbin-Watson " + dw + " (needs 1.0)",
              "residuals not random (Durbin-Watson " + dw + " < 1.0): not an ohmic curve", out);
  return ok;
}

// ------------------------------------------------------------------ the result

void fillNumbers(const Points& p, const Model& m, const std::vector<double>& err, KneeFit& out) {
  out.offset = m.k.c, out.offsetError = err[0];
  out.slope = m.k.s, out.slopeError = err[1];
  out.onset = m.k.v0, out.onsetError = err[2];
  out.width = m.k.w;
  out.widthError = err.size() > 3 ? m.k.w * err[3] : kNaN;  // dw = w dtheta
  const double perSlope = 1e9 / kGapLength;
  out.resistivity = perSlope / m.k.s;
  out.resistivityError = perSlope * err[1] / (m.k.s * m.k.s);
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p.hv[i] > m.k.v0) out.usedAboveOnset.push_back(p.input[i]);
  }
}

void clearNumbers(KneeFit& out) {
  const KneeFit blank;
  out.offset = out.offsetError = out.slope = out.slopeError = blank.offset;
  out.onset = out.onsetError = out.width = out.widthError = blank.offset;
  out.resistivity = out.resistivityError = blank.offset;
  out.usedAboveOnset.clear();
}

std::string resultLine(const KneeFit& f) {
  return "result: c " + str(f.offset) + " +/- " + str(f.offsetError) + " nA/cm2, s " +
         str(f.slope) + " +/- " + str(f.slopeError) + " nA/cm2 per V, V0 " + str(f.onset) +
         " +/- " + str(f.onsetError) + " V, w " + str(f.width) +
         (f.widthHeld ? " V (held)" : " +/- " + str(f.widthError) + " V") + ", rho " +
         str(f.resistivity) + " +/- " + str(f.resistivityError) + " Ohm*cm, noise " +
         str(f.noise) + " nA/cm2, " + std::to_string(f.points) + " points";
}

// Refuses what the fit cannot look at; the reason, or "" when the points will do.
std::string refusal(const std::vector<double>& hv, const std::vector<double>& current) {
  if (hv.size() != current.size()) {
    return "hv and current differ in length (" + std::to_string(hv.size()) + " and " +
           std::to_string(current.size()) + ")";
  }
  for (std::size_t i = 0; i < hv.size(); ++i) {
    if (!std::isfinite(hv[i]) || !std::isfinite(current[i])) {
      return "point " + std::to_string(i) + " has a value that is not a finite number";
    }
  }
  if (hv.size() < kKneeFewestPoints) {
    return "too few points (" + std::to_string(hv.size()) + ", needs " +
           std::to_string(kKneeFewestPoints) + ")";
  }
  if (std::all_of(hv.begin(), hv.end(), [&](double v) { return v == hv.front(); })) {
    return "all points at one HV";
  }
  return "";
}

}  // namespace

double kneeCurrent(double offset, double slope, double onset, double width, double hv) {
  return offset + slope * width * softplus((hv - onset) / width);
}

KneeFit fitKnee(const std::vector<double>& hv, const std::vector<double>& current) {
  KneeFit out;
  out.reason = refusal(hv, current);
  if (!out.reason.empty()) return out;
  Points p = sortedPoints(hv, current);
  Model m = fitOnce(p, out.trace);
  if (std::isfinite(m.ssr)) {
    out.dropped = dropOutliers(p, residualsOf(p, m.k), out.trace);
    if (out.dropped > 0) m = fitOnce(p, out.trace);
  }
  out.points = static_cast<int>(p.size());
  if (!std::isfinite(m.ssr)) {
    out.reason = "no start value (HV range too narrow for a knee)";
    return out;
  }
  const std::vector<double> r = residualsOf(p, m.k);
  out.widthHeld = m.held;
  out.noise = std::sqrt(m.ssr / (static_cast<double>(p.size()) - m.parameters));
  out.durbinWatson = durbinWatson(r);
  const std::size_t np = m.held || m.k.w <= kSharpWidth ? 3 : 4;
  std::vector<double> err = hc3Errors(p, m.k, r, np);
  if (err.empty() && np == 4) {
    // No point lies in a knee a few volts wide: the points fix c, s and V0 but
    // not the width, as for a width held or at the sharp end of its range.
    out.trace.push_back("errors: the width is not determined by the points; errors of (c, s, V0)");
    err = hc3Errors(p, m.k, r, 3);
  }
  if (err.empty()) {
    out.reason = "fit parameters not determined (singular fit)";
    out.trace.push_back("errors: the fit's normal matrix is singular");
    return out;
  }
  fillNumbers(p, m, err, out);
  out.trace.push_back(resultLine(out));
  out.fitted = accept(p, m, out);
  if (out.fitted) {
    out.reason.clear();
  } else {
    clearNumbers(out);
  }
  return out;
}
