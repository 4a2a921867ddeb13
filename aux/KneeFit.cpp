// The smooth-knee fit: grid start, Levenberg-Marquardt polish (GSL), one outlier
// pass, HC3 errors and the acceptance tests.
#include "aux/KneeFit.h"

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_min.h>
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
constexpr std::size_t kOutlierNeighbours = 21;
constexpr double kSignificance = 5.0;   // s / sigma_s
constexpr int kFewestAbove = 5;         // points above V0 + w
constexpr int kFewestBelow = 3;         // points below V0 - w
constexpr double kLowestDurbinWatson = 1.0;
constexpr double kSharpWidth = 1.0;     // V: at or below, the width is not a parameter of the errors
constexpr int kMaxIterations = 200;
constexpr std::size_t kGridPoints = 20000;  // more points: the grid runs on a thinning of them
constexpr double kLeastFreedom = 0.05;  // 1 - h below this: a point the fit passes through
constexpr double kSdFloor = 0.05;       // of the largest sd of the scatter model

double softplus(double t) { return std::max(t, 0.0) + std::log1p(std::exp(-std::fabs(t))); }

// ln(1 + e) for 0 <= e <= 1; below 1e-8 the series e - e^2/2, whose next term
// (e^3/3) is below the rounding of the sum: the same value as log1p, cheaper.
double log1pSmall(double e) { return e < 1e-8 ? e * (1.0 - 0.5 * e) : std::log1p(e); }

// The logistic function, the derivative of softplus, without overflow.
double logistic(double t) {
  const double e = std::exp(-std::fabs(t));
  return t >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
}

// The points of the gap sorted by HV, with where each stood in the caller's
// order; f the temperature factor of each (1 without a temperature model), t its
// temperature (empty without).
struct Points {
  std::vector<double> hv, j, f, t;
  std::vector<std::size_t> input;
  double alpha = 0, reference = 0;  // of the temperature model
  std::size_t size() const { return hv.size(); }
  void add(const Points& from, std::size_t i) {
    hv.push_back(from.hv[i]);
    j.push_back(from.j[i]);
    f.push_back(from.f[i]);
    if (!from.t.empty()) t.push_back(from.t[i]);
    input.push_back(from.input[i]);
  }
};

struct Knee {
  double c = kNaN, s = kNaN, v0 = kNaN, w = kNaN;
  double at(double hv, double f) const { return kneeCurrent(c, s, v0, w, hv, f); }
  // F = f w softplus((V - V0) / w): the ohmic term per unit slope.
  double ohmic(double hv, double f) const { return f * w * softplus((hv - v0) / w); }
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
  for (std::size_t i = 0; i < p.size(); ++i) r[i] = p.j[i] - k.at(p.hv[i], p.f[i]);
  return r;
}

double sumOfSquares(const std::vector<double>& r) {
  return std::inner_product(r.begin(), r.end(), r.begin(), 0.0);
}

Points sortedPoints(const std::vector<double>& hv, const std::vector<double>& current,
                    const KneeTemperature* temperature) {
  std::vector<std::size_t> order(hv.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Ties in HV are ordered by current, so any input order gives the same fit.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return hv[a] != hv[b] ? hv[a] < hv[b] : current[a] < current[b];
  });
  Points p;
  if (temperature != nullptr) p.alpha = temperature->alpha, p.reference = temperature->reference;
  for (std::size_t i : order) {
    p.hv.push_back(hv[i]);
    p.j.push_back(current[i]);
    p.input.push_back(i);
    if (temperature == nullptr) {
      p.f.push_back(1.0);
      continue;
    }
    p.t.push_back(temperature->celsius[i]);
    p.f.push_back(std::exp(p.alpha * (p.t.back() - p.reference)));
  }
  return p;
}

// ------------------------------------------------------------------ grid start

// The sums the grid needs, in coordinates centred on the mean HV and current.
// Above the knee's band (t > kTail) F = f (V - V0) exactly, so those points enter
// through suffix sums and only the points inside the band cost a softplus: for the
// narrow knees of the grid a few points instead of all.
struct GridSums {
  double meanV = 0, meanJ = 0, syy = 0;
  std::vector<double> x, y, f;  // centred HV and current, temperature factor, ascending HV
  // Suffix sums from index i to the end of f, f x, f^2, f^2 x, (f x)^2, f x y, f y.
  std::vector<double> sf, sfx, sff, sffx, sfxfx, sfxy, sfy;
};

GridSums gridSums(const Points& p) {
  const std::size_t n = p.size();
  GridSums g;
  g.meanV = std::accumulate(p.hv.begin(), p.hv.end(), 0.0) / static_cast<double>(n);
  g.meanJ = std::accumulate(p.j.begin(), p.j.end(), 0.0) / static_cast<double>(n);
  g.sf.assign(n + 1, 0.0), g.sfx = g.sff = g.sffx = g.sfxfx = g.sfxy = g.sfy = g.sf;
  g.f = p.f;
  for (std::size_t i = 0; i < n; ++i) {
    g.x.push_back(p.hv[i] - g.meanV);
    g.y.push_back(p.j[i] - g.meanJ);
    g.syy += g.y[i] * g.y[i];
  }
  for (std::size_t i = n; i-- > 0;) {
    const double f = g.f[i], fx = f * g.x[i];
    g.sf[i] = g.sf[i + 1] + f;
    g.sfx[i] = g.sfx[i + 1] + fx;
    g.sff[i] = g.sff[i + 1] + f * f;
    g.sffx[i] = g.sffx[i + 1] + f * f * g.x[i];
    g.sfxfx[i] = g.sfxfx[i + 1] + fx * fx;
    g.sfxy[i] = g.sfxy[i + 1] + fx * g.y[i];
    g.sfy[i] = g.sfy[i + 1] + f * g.y[i];
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
  Band(double width, std::size_t n, int stride = 1)
      : w(width), up(std::exp(stride * kGridStep / width)), down(1.0 / up), e(n, kNaN) {}
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
    const double F = g.f[i] * (b.w * ((Above ? t : 0.0) + log1pSmall(e)));
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
  const std::size_t h = b.hi;
  KneeSums s{g.sfx[h] - g.sf[h] * d, g.sfxfx[h] - 2 * d * g.sffx[h] + g.sff[h] * d * d,
             g.sfxy[h] - d * g.sfy[h]};
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
  few.alpha = p.alpha, few.reference = p.reference;
  for (std::size_t i = (p.size() - 1) % stride; i < p.size(); i += stride) few.add(p, i);
  return few;
}

// The best onset node of one width on the nodes from..to (inclusive, to < 0: to
// the highest HV), every `every`-th: its knee and SSR (infinite when none).
Model bestOnset(const GridSums& g, const Points& p, double w, int from, int to, int every) {
  Band band(w, g.x.size(), every);
  Model best;
  best.ssr = kInf;
  for (int m = std::max(from, 0); to < 0 || m <= to; m += every) {
    Knee k;
    k.w = w;
    k.v0 = p.hv[2] + kGridStep * m;
    if (!(k.v0 < p.hv.back())) break;
    const double ssr = lineOnKnee(g, k, band);
    if (ssr < best.ssr) best.ssr = ssr, best.k = k;
  }
  return best;
}

// One width's best onset. A wide knee's SSR changes smoothly over a quarter of
// its width, so the onset is first stepped by about half the width, then the
// fine steps are tried around the best coarse node only: the grid's cost is in
// the wide knees, whose bands hold every point.
Model widthStart(const GridSums& g, const Points& p, double w) {
  const int every = std::max(1, static_cast<int>(std::lround(0.5 * w / kGridStep)));
  const Model coarse = bestOnset(g, p, w, 0, -1, every);
  if (every == 1 || !std::isfinite(coarse.ssr)) return coarse;
  const int node = static_cast<int>(std::lround((coarse.k.v0 - p.hv[2]) / kGridStep));
  return bestOnset(g, p, w, node - every + 1, node + every - 1, 1);
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
    const Model m = widthStart(g, p, 0.5 * std::pow(1.5, kw));
    if (m.ssr < bestSsr) bestSsr = m.ssr, best.k = m.k;
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
std::array<double, 4> jacobianRow(const Knee& k, double hv, double f, bool clamped) {
  const double t = (hv - k.v0) / k.w;
  const double sp = softplus(t), sig = logistic(t);
  return {1.0, f * k.w * sp, -k.s * f * sig, clamped ? 0.0 : k.s * f * k.w * (sp - t * sig)};
}

int lmResiduals(const gsl_vector* x, void* data, gsl_vector* f) {
  const auto& d = *static_cast<const LmData*>(data);
  const Knee k = kneeOf(x, d);
  for (std::size_t i = 0; i < d.p->size(); ++i) gsl_vector_set(f, i, k.at(d.p->hv[i], d.p->f[i]) - d.p->j[i]);
  return GSL_SUCCESS;
}

int lmJacobian(const gsl_vector* x, void* data, gsl_matrix* J) {
  const auto& d = *static_cast<const LmData*>(data);
  const Knee k = kneeOf(x, d);
  const bool clamped = x->size == 4 && std::fabs(gsl_vector_get(x, 3)) > kThetaLimit;
  for (std::size_t i = 0; i < d.p->size(); ++i) {
    const auto row = jacobianRow(k, d.p->hv[i], d.p->f[i], clamped);
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

double robustSpread(const std::vector<double>& r) {
  const double mid = median(r);
  std::vector<double> dev(r.size());
  for (std::size_t i = 0; i < r.size(); ++i) dev[i] = std::fabs(r[i] - mid);
  return 1.4826 * median(dev);
}

// Whether point i's residual is also beyond 5 robust spreads of the residuals of
// its kOutlierNeighbours nearest points in HV order (it included): scatter that
// grows with the current makes the top points scatter more than the level, and
// they are not outliers for that.
bool beyondItsNeighbours(const std::vector<double>& r, std::size_t i) {
  const std::size_t n = r.size(), k = std::min(n, kOutlierNeighbours);
  const std::size_t from = std::min(i - std::min(i, k / 2), n - k);
  const std::vector<double> near(r.begin() + static_cast<std::ptrdiff_t>(from),
                                 r.begin() + static_cast<std::ptrdiff_t>(from + k));
  return std::fabs(r[i] - median(near)) > kOutlierSpreads * robustSpread(near);
}

// Drops the points whose residual exceeds 5 robust spreads (1.4826 MAD) of all
// residuals and of their neighbours', when at least kKneeFewestPoints remain.
// Returns how many were dropped.
int dropOutliers(Points& p, const std::vector<double>& r, std::vector<std::string>& trace) {
  const double spread = robustSpread(r);
  const double cut = kOutlierSpreads * spread;
  std::vector<bool> drop(r.size(), false);
  std::size_t beyond = 0, dropped = 0;
  for (std::size_t i = 0; i < r.size(); ++i) {
    if (!(std::fabs(r[i]) > cut)) continue;
    ++beyond;
    drop[i] = beyondItsNeighbours(r, i);
    dropped += drop[i] ? 1 : 0;
  }
  std::string line = "outlier pass: robust spread " + str(spread) + " nA/cm2, " +
                     std::to_string(beyond) + " point(s) beyond " + str(cut) + " nA/cm2";
  if (dropped < beyond) line += ", " + std::to_string(beyond - dropped) + " of them within the scatter of their neighbours";
  if (dropped == 0 || !(spread > 0) || p.size() - dropped < kKneeFewestPoints) {
    trace.push_back(line + (dropped == 0 ? "" : ", none dropped (too few would remain)"));
    return 0;
  }
  Points kept;
  kept.alpha = p.alpha, kept.reference = p.reference;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (drop[i]) {
      line += "; dropped HV " + str(p.hv[i]) + " V (residual " + str(r[i]) + ")";
      continue;
    }
    kept.add(p, i);
  }
  trace.push_back(line + "; refitted");
  p = std::move(kept);
  return static_cast<int>(dropped);
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

// The Jacobian rows of the first np parameters at every point and the inverse
// of their normal matrix (empty when it is singular).
struct Normal {
  std::vector<std::array<double, 4>> rows;
  Matrix inverse;
};

Normal normalOf(const Points& p, const Knee& k, std::size_t np) {
  Normal n;
  n.rows.resize(p.size());
  Matrix jtj(np, std::vector<double>(np, 0.0));
  for (std::size_t i = 0; i < p.size(); ++i) {
    n.rows[i] = jacobianRow(k, p.hv[i], p.f[i], false);
    for (std::size_t a = 0; a < np; ++a)
      for (std::size_t b = 0; b < np; ++b) jtj[a][b] += n.rows[i][a] * n.rows[i][b];
  }
  n.inverse = invert(jtj);
  return n;
}

// Standard errors of the first np parameters from the HC3 sandwich
// A (sum_i w_i J_i^T J_i) A, A = (J^T J)^-1, w_i = r_i^2 / max(1 - h_i, 1e-3)^2.
// Empty when J^T J is singular.
std::vector<double> hc3Errors(const Points& p, const Knee& k, const std::vector<double>& r,
                              std::size_t np) {
  const Normal normal = normalOf(p, k, np);
  const auto& rows = normal.rows;
  const Matrix& A = normal.inverse;
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

// ------------------------------------------------------------------ scatter model

// How the scatter grows with the current: sd = floor + growth F, F the model's
// ohmic term s w softplus((V - V0) / w), fitted by least squares to the absolute
// residuals. Each is first widened by sqrt(pi/2) (the mean of |z| is sqrt(2/pi)
// sd) and by 1/sqrt(1 - h) for its leverage h: the few points of a short scan
// above the knee pin the slope and keep little of their own scatter.
struct Scatter {
  double floor = 0, growth = 0;
};

Scatter scatterOf(const Points& p, const Knee& k, const std::vector<double>& r, std::size_t np) {
  const Normal normal = normalOf(p, k, np);
  const double n = static_cast<double>(p.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double h = normal.inverse.empty() ? static_cast<double>(np) / n
                                            : quadratic(normal.inverse, normal.rows[i], np);
    const double x = std::fabs(k.s * normal.rows[i][1]);  // d model / d s = F / s
    const double y = std::fabs(r[i]) * std::sqrt(0.5 * M_PI / std::max(1.0 - h, kLeastFreedom));
    sx += x, sy += y, sxx += x * x, sxy += x * y;
  }
  Scatter sc;
  const double spread = n * sxx - sx * sx;
  sc.growth = spread > 0 ? (n * sxy - sx * sy) / spread : 0;
  sc.floor = (sy - sc.growth * sx) / n;
  if (sc.growth < 0) sc.growth = 0, sc.floor = sy / n;          // scatter that does not grow
  if (sc.floor < 0) sc.floor = 0, sc.growth = sxx > 0 ? sxy / sxx : 0;  // none at no current
  return sc;
}

// Each point's weight 1/sd^2 under the scatter model, sd kept above a twentieth
// of the largest so a point of no current and no floor cannot take all the
// weight; all 1 when the scatter model has none (points on the curve exactly).
std::vector<double> weightsOf(const Points& p, const Knee& k, const Scatter& sc) {
  std::vector<double> sd(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    sd[i] = sc.floor + sc.growth * std::fabs(k.s * k.ohmic(p.hv[i], p.f[i]));
  }
  const double most = sd.empty() ? 0.0 : *std::max_element(sd.begin(), sd.end());
  std::vector<double> weight(p.size(), 1.0);
  if (!(most > 0) || !std::isfinite(most)) return weight;
  for (std::size_t i = 0; i < p.size(); ++i) weight[i] = 1 / std::pow(std::max(sd[i], kSdFloor * most), 2);
  return weight;
}

// ------------------------------------------------------------------ width profile

// The widths the profile visits besides the optimum: the start grid's and the
// widest bound.
std::vector<double> profileWidths() {
  std::vector<double> w(kGridWidths + 1, kKneeWidestWidth);
  for (int k = 0; k < kGridWidths; ++k) w[static_cast<std::size_t>(k)] = 0.5 * std::pow(1.5, k);
  return w;
}

// The best (c, s, V0) with the width held, and its residual sum.
struct Profiled {
  Knee k;
  double ssr = kInf;
};

// The profile of the residual sum over the width: for a width held, the model
// is linear in (c, s), so the residual sum is a function of V0 alone.
struct Projection {
  const Points* p = nullptr;
  std::vector<double> weight;  // 1 / sd^2 of each point
  std::vector<double> y;       // current minus its weighted mean
  double sumWeight = 0, meanJ = 0, syy = 0;
  Knee k;                      // the width held; c and s of the last V0 tried
};

Projection projectionOf(const Points& p, std::vector<double> weight) {
  Projection d;
  d.p = &p;
  d.weight = std::move(weight);
  for (std::size_t i = 0; i < p.size(); ++i) d.sumWeight += d.weight[i], d.meanJ += d.weight[i] * p.j[i];
  d.meanJ /= d.sumWeight;
  for (std::size_t i = 0; i < p.size(); ++i) {
    d.y.push_back(p.j[i] - d.meanJ);
    d.syy += d.weight[i] * d.y.back() * d.y.back();
  }
  return d;
}

// The weighted residual sum at V0 with c and s in closed form (set in the
// projection's knee).
double projectedSsr(double v0, void* data) {
  auto& d = *static_cast<Projection*>(data);
  const Points& p = *d.p;
  double sf = 0, sff = 0, sfy = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double F = p.f[i] * d.k.w * softplus((p.hv[i] - v0) / d.k.w), wF = d.weight[i] * F;
    sf += wF, sff += wF * F, sfy += wF * d.y[i];
  }
  const double cff = sff - sf * sf / d.sumWeight;
  if (!(cff > 0)) return std::numeric_limits<double>::max();
  d.k.v0 = v0, d.k.s = sfy / cff, d.k.c = d.meanJ - d.k.s * sf / d.sumWeight;
  return d.syy - sfy * sfy / cff;
}

struct MinimizerFree {
  void operator()(gsl_min_fminimizer* m) const { gsl_min_fminimizer_free(m); }
};

// The best V0 (and c, s) with the width held at w, sought from V0 = `from`: the
// bracket widens until the residual sum rises on both sides, then Brent's method
// (GSL) closes in to a millivolt.
Profiled heldAt(Projection& d, double from, double w) {
  d.k.w = w;
  double h = std::max(kGridStep, 0.5 * w), v = from, fv = projectedSsr(v, &d);
  double a = v - h, fa = projectedSsr(a, &d), b = v + h, fb = projectedSsr(b, &d);
  for (int k = 0; k < 30 && !(fa > fv && fb > fv); ++k) {
    h *= 2;
    if (fa < fb) {
      b = v, fb = fv, v = a, fv = fa, a = v - h, fa = projectedSsr(a, &d);
    } else {
      a = v, fa = fv, v = b, fv = fb, b = v + h, fb = projectedSsr(b, &d);
    }
  }
  if (fa > fv && fb > fv) {
    std::unique_ptr<gsl_min_fminimizer, MinimizerFree> brent(gsl_min_fminimizer_alloc(gsl_min_fminimizer_brent));
    gsl_function f{projectedSsr, &d};
    gsl_min_fminimizer_set_with_values(brent.get(), &f, v, fv, a, fa, b, fb);
    for (int k = 0; k < 100; ++k) {
      if (gsl_min_fminimizer_iterate(brent.get()) != GSL_SUCCESS) break;
      if (gsl_min_fminimizer_x_upper(brent.get()) - gsl_min_fminimizer_x_lower(brent.get()) < 1e-3) break;
    }
    v = gsl_min_fminimizer_x_minimum(brent.get());
  }
  Profiled out;
  out.ssr = projectedSsr(v, &d);
  out.k = d.k;
  return out;
}

// The width's 68 % set: the widths whose profiled residual sum lies within one
// variance per point (`unit`) of the best fit's, and the range of c, s and V0
// over them.
struct WidthSet {
  double unit = kNaN, best = kNaN;  // variance per point; the best fit's residual sum
  double low = kInf, high = -kInf;
  std::array<double, 3> least{kInf, kInf, kInf}, most{-kInf, -kInf, -kInf};  // c, s, V0
  std::array<double, 3> optimum{kNaN, kNaN, kNaN};                             // c, s, V0
  int fits = 0;
  bool within(const Profiled& f) const { return f.ssr - best <= unit; }
  void take(const Knee& k) {
    low = std::min(low, k.w), high = std::max(high, k.w);
    const std::array<double, 3> v{k.c, k.s, k.v0};
    for (std::size_t i = 0; i < 3; ++i) least[i] = std::min(least[i], v[i]), most[i] = std::max(most[i], v[i]);
  }
  // How far the set reaches from the optimum on its longer side. A set cut off by
  // the width's bound lies on one side of the optimum only: there half the spread
  // would claim twice the confidence the profile gives.
  double reach(std::size_t i) const {
    return std::max(most[i] - optimum[i], optimum[i] - least[i]);
  }
  double rhoReach(double perSlope) const {
    if (!(least[1] > 0)) return kInf;
    return perSlope * std::max(1 / least[1] - 1 / optimum[1], 1 / optimum[1] - 1 / most[1]);
  }
};

// Walks `ladder` (widths moving away from the optimum), each fit starting from
// the last one inside the set. At the first width outside, the crossing is
// closed in on by two interpolations in ln w, so a coarse ladder does not cut
// the set short.
void walkProfile(Projection& d, const Model& m, const std::vector<double>& ladder, WidthSet& set) {
  Profiled inside{m.k, m.ssr};
  for (double w : ladder) {
    Profiled outside = heldAt(d, inside.k.v0, w);
    ++set.fits;
    if (set.within(outside)) {
      set.take(outside.k);
      inside = outside;
      continue;
    }
    for (int step = 0; step < 2; ++step) {
      const double in = (inside.ssr - set.best) / set.unit, out = (outside.ssr - set.best) / set.unit;
      const double a = std::isfinite(out) ? std::clamp((1 - in) / (out - in), 0.1, 0.9) : 0.5;
      const double u = std::log(inside.k.w) + a * (std::log(outside.k.w) - std::log(inside.k.w));
      const Profiled mid = heldAt(d, inside.k.v0, std::exp(u));
      ++set.fits;
      if (set.within(mid)) {
        set.take(mid.k);
        inside = mid;
      } else {
        outside = mid;
      }
    }
    return;
  }
}

// The profile is weighted by the scatter model: with scatter that grows with the
// current, an unweighted residual sum counts a change at the top points in the
// small scatter of the low ones and makes the set far too narrow.
WidthSet profileWidth(const Points& p, const Model& m, const std::vector<double>& r,
                      std::vector<std::string>& trace) {
  const Scatter sc = scatterOf(p, m.k, r, m.held || m.k.w <= kSharpWidth ? 3 : 4);
  Projection d = projectionOf(p, weightsOf(p, m.k, sc));
  Model start = m;
  const Profiled here = heldAt(d, m.k.v0, m.k.w);
  start.k = here.k, start.ssr = here.ssr;
  WidthSet set;
  set.best = here.ssr;
  set.unit = here.ssr / (static_cast<double>(p.size()) - 4);
  set.take(start.k);
  set.optimum = {start.k.c, start.k.s, start.k.v0};
  if (set.unit > 0) {
    std::vector<double> down, up;
    for (double w : profileWidths()) {
      if (w < m.k.w * (1 - 1e-9)) down.insert(down.begin(), w);
      if (w > m.k.w * (1 + 1e-9)) up.push_back(w);
    }
    walkProfile(d, start, down, set);
    walkProfile(d, start, up, set);
  }
  trace.push_back("scatter model: sd " + str(sc.floor) + " nA/cm2 + " + str(sc.growth) + " x the ohmic current");
  trace.push_back("width profile: 68 % set " + str(set.low) + " to " + str(set.high) + " V (" +
                  std::to_string(set.fits) + " fits with the width held); reach from the optimum: s " +
                  str(set.reach(1)) + " nA/cm2 per V, V0 " + str(set.reach(2)) + " V");
  return set;
}

// ------------------------------------------------------------------ curvature

struct Curvature {
  double t = kNaN, bound = kNaN;
  int points = 0;
};

// The t statistic of the quadratic term when the residuals above `edge` are
// regressed on (1, F, F^2), F the model's ohmic term, with orthogonal
// polynomials in F scaled to [0, 1]; bound the two-sided 1 % point of Student's t
// with (points - 3) degrees of freedom. NaN with fewer than 5 points.
Curvature curvatureOf(const Points& p, const Knee& k, const std::vector<double>& r, double edge) {
  std::vector<double> z, e;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p.hv[i] <= edge) continue;
    z.push_back(k.ohmic(p.hv[i], p.f[i]));
    e.push_back(r[i]);
  }
  Curvature c;
  c.points = static_cast<int>(z.size());
  const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
  if (z.size() < 5 || !(*hi > *lo)) return c;
  const double m = static_cast<double>(z.size()), from = *lo, span = *hi - *lo;
  for (double& x : z) x = (x - from) / span;
  const double zMean = std::accumulate(z.begin(), z.end(), 0.0) / m;
  std::vector<double> q1(z.size()), q2(z.size());
  for (std::size_t i = 0; i < z.size(); ++i) q1[i] = z[i] - zMean, q2[i] = z[i] * z[i];
  const auto along = [](const std::vector<double>& a, const std::vector<double>& b) {
    return std::inner_product(a.begin(), a.end(), b.begin(), 0.0) / sumOfSquares(b);
  };
  const double q2Mean = std::accumulate(q2.begin(), q2.end(), 0.0) / m, b21 = along(q2, q1);
  for (std::size_t i = 0; i < z.size(); ++i) q2[i] -= q2Mean + b21 * q1[i];
  const double eMean = std::accumulate(e.begin(), e.end(), 0.0) / m;
  const double b1 = along(e, q1), b2 = along(e, q2);
  double rest = 0;
  for (std::size_t i = 0; i < z.size(); ++i) {
    const double d = e[i] - eMean - b1 * q1[i] - b2 * q2[i];
    rest += d * d;
  }
  const double dof = m - 3;
  c.t = b2 / std::sqrt(rest / dof / sumOfSquares(q2));
  c.bound = gsl_cdf_tdist_Qinv(0.005, dof);
  return c;
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

// The tests in order; the first failure sets the reason, all are traced. The
// points above the knee are counted above V0 + the widest width of the set.
bool accept(const Points& p, const Model& m, KneeFit& out) {
  int above = 0, below = 0;
  for (double v : p.hv) {
    above += v > m.k.v0 + out.widthHigh ? 1 : 0;
    below += v < m.k.v0 - m.k.w ? 1 : 0;
  }
  const double ratio = out.slope / out.slopeError;
  const std::string r = str(ratio), a = std::to_string(above), b = std::to_string(below);
  const std::string dw = str(out.durbinWatson);
  bool ok = check(m.k.s > 0 && ratio >= kSignificance, "slope", "s/sigma " + r + " (needs 5)",
                  "slope not significant (s/sigma " + r + " < 5)", out);
  ok &= check(above >= kFewestAbove, "points above the knee",
              a + " above V0 + " + str(out.widthHigh) + " V (needs 5)",
              "too few points above the knee (" + a + ", needs 5)", out);
  ok &= check(below >= kFewestBelow, "points below the knee", b + " below V0 - w (needs 3)",
              "too few points below the knee (" + b + ", needs 3)", out);
  ok &= check(out.durbinWatson >= kLowestDurbinWatson, "residuals", "Durbin-Watson " + dw + " (needs 1.0)",
              "residuals not random (Durbin-Watson " + dw + " < 1.0): not an ohmic curve", out);
  return ok;
}

// ------------------------------------------------------------------ the result

// The errors of the result. The HC3 error with the width free follows scatter
// that grows with the current, but it trusts a straight-line view of the width;
// the HC3 error with the width held, widened in quadrature by how far the
// parameter reaches over the width's set from the optimum, holds where that view fails (a width at
// its bound, a knee the scan barely passes). Each parameter takes the larger.
struct Errors {
  std::vector<double> held;  // c, s, V0
  std::vector<double> free;  // c, s, V0 with the width a parameter (as held when it is not)
  double width = kNaN;       // HC3 of w with the width free, NaN when it is not a parameter
  double of(std::size_t i, double reach) const { return std::max(free[i], std::hypot(held[i], reach)); }
};

double meanTemperatureAbove(const Points& p, double onset) {
  double sum = 0;
  int n = 0;
  for (std::size_t i = 0; i < p.t.size(); ++i) {
    if (p.hv[i] > onset) sum += p.t[i], ++n;
  }
  return n > 0 ? sum / n : kNaN;
}

// The median spacing of the distinct HV values: the finest detail of the knee's
// shape the scan can show.
double medianStep(std::vector<double> hv) {
  std::sort(hv.begin(), hv.end());
  std::vector<double> steps;
  for (std::size_t i = 1; i < hv.size(); ++i) {
    if (hv[i] > hv[i - 1]) steps.push_back(hv[i] - hv[i - 1]);
  }
  if (steps.empty()) return kNaN;
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
  return steps[steps.size() / 2];
}

void fillNumbers(const Points& p, const Model& m, const Errors& e, const WidthSet& set, KneeFit& out) {
  const double perSlope = 1e9 / kGapLength;
  const double rhoHalf = set.rhoReach(perSlope);
  const double refRho = perSlope / m.k.s;
  const double refRhoError = e.of(1, rhoHalf * m.k.s * m.k.s / perSlope) * perSlope / (m.k.s * m.k.s);
  // Without a temperature model the factor is 1 and the slope is the one fitted.
  double factor = 1.0;
  if (!p.t.empty()) {
    out.meanTemperature = meanTemperatureAbove(p, m.k.v0);
    factor = std::exp(p.alpha * (out.meanTemperature - p.reference));
    out.referenceResistivity = refRho, out.referenceResistivityError = refRhoError;
  }
  out.offset = m.k.c, out.offsetError = e.of(0, set.reach(0));
  out.slope = m.k.s * factor, out.slopeError = e.of(1, set.reach(1)) * factor;
  out.onset = m.k.v0, out.onsetError = e.of(2, set.reach(2));
  out.width = m.k.w;
  out.widthError = m.k.w * e.width;  // dw = w dtheta
  out.widthLow = set.low, out.widthHigh = set.high;
  out.widthAtBound = m.held || m.k.w <= kKneeNarrowestWidth * (1 + 1e-9);
  out.widthUnresolved = out.widthAtBound && !(set.high <= kKneeResolvedSteps * medianStep(p.hv));
  out.resistivity = refRho / factor;
  out.resistivityError = refRhoError / factor;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p.hv[i] > m.k.v0) out.usedAboveOnset.push_back(p.input[i]);
  }
}

void clearNumbers(KneeFit& out) {
  const KneeFit blank;
  out.offset = out.offsetError = out.slope = out.slopeError = blank.offset;
  out.onset = out.onsetError = out.width = out.widthError = blank.offset;
  out.resistivity = out.resistivityError = blank.offset;
  out.widthLow = out.widthHigh = out.meanTemperature = blank.offset;
  out.referenceResistivity = out.referenceResistivityError = blank.offset;
  out.widthAtBound = out.widthUnresolved = out.curved = false;
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
std::string refusal(const std::vector<double>& hv, const std::vector<double>& current,
                    const KneeTemperature* temperature) {
  if (hv.size() != current.size()) {
    return "hv and current differ in length (" + std::to_string(hv.size()) + " and " +
           std::to_string(current.size()) + ")";
  }
  if (temperature != nullptr && temperature->celsius.size() != hv.size()) {
    return "hv and temperature differ in length (" + std::to_string(hv.size()) + " and " +
           std::to_string(temperature->celsius.size()) + ")";
  }
  for (std::size_t i = 0; i < hv.size(); ++i) {
    if (!std::isfinite(hv[i]) || !std::isfinite(current[i]) ||
        (temperature != nullptr && !std::isfinite(temperature->celsius[i]))) {
      return "point " + std::to_string(i) + " has a value that is not a finite number";
    }
  }
  if (temperature != nullptr && !std::isfinite(temperature->alpha * temperature->reference)) {
    return "temperature coefficient or reference temperature not a finite number";
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

// The fit's errors at the optimum `m`; empty `held` when the normal matrix is singular.
Errors errorsAt(const Points& p, const Model& m, const std::vector<double>& r,
                std::vector<std::string>& trace) {
  Errors e;
  e.held = e.free = hc3Errors(p, m.k, r, 3);
  if (e.held.empty()) {
    trace.push_back("errors: the fit's normal matrix is singular");
    return e;
  }
  if (m.held || m.k.w <= kSharpWidth) return e;
  const std::vector<double> full = hc3Errors(p, m.k, r, 4);
  // Empty when no point lies in a knee a few volts wide: the points fix c, s and
  // V0 but not the width.
  if (full.empty()) trace.push_back("errors: the width is not determined by the points; errors of (c, s, V0)");
  if (!full.empty()) e.width = full[3], e.free.assign(full.begin(), full.begin() + 3);
  return e;
}

void testCurvature(const Points& p, const Model& m, const std::vector<double>& r, KneeFit& out) {
  const Curvature c = curvatureOf(p, m.k, r, m.k.v0 + out.widthHigh);
  out.curvature = c.t;
  out.curved = std::fabs(c.t) > c.bound;
  out.trace.push_back("curvature: t " + str(c.t) + " of the quadratic term over " + std::to_string(c.points) +
                      " points above V0 + " + str(out.widthHigh) + " V (flag beyond " + str(c.bound) + ")" +
                      (out.curved ? ": curved" : ""));
}

}  // namespace

double kneeCurrent(double offset, double slope, double onset, double width, double hv,
                   double temperatureFactor) {
  return offset + slope * temperatureFactor * width * softplus((hv - onset) / width);
}

KneeFit fitKnee(const std::vector<double>& hv, const std::vector<double>& current,
                const KneeTemperature* temperature) {
  KneeFit out;
  out.reason = refusal(hv, current, temperature);
  if (!out.reason.empty()) return out;
  Points p = sortedPoints(hv, current, temperature);
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
  const Errors err = errorsAt(p, m, r, out.trace);
  if (err.held.empty()) {
    out.reason = "fit parameters not determined (singular fit)";
    return out;
  }
  fillNumbers(p, m, err, profileWidth(p, m, r, out.trace), out);
  out.trace.push_back(resultLine(out));
  testCurvature(p, m, r, out);
  out.fitted = accept(p, m, out);
  if (out.fitted) {
    out.reason.clear();
  } else {
    clearNumbers(out);
  }
  return out;
}
