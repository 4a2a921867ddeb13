#include "aux/CampaignFit.h"

#include <gsl/gsl_fit.h>
#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace {

// One gap's usable records as the fits take them: days from its first date, the
// weights, ln rho and T - T0.
struct GapSeries {
  std::string gap;
  std::vector<std::size_t> records;
  std::vector<double> t, w, y, x;  // t in days from firstDay
  double firstDay = 0.0;
  std::size_t dates = 0;
  // The parameters of the gap's own line in time: intercept, and a drift when
  // it was measured on two dates or more.
  std::size_t parameters() const { return dates >= 2 ? 2 : 1; }
};

bool usable(const CampaignRecord& r) {
  return std::isfinite(r.days) && std::isfinite(r.temperature) && std::isfinite(r.lnRho) &&
         std::isfinite(r.lnRhoError) && r.lnRhoError > 0.0;
}

std::vector<GapSeries> seriesOf(const std::vector<CampaignRecord>& records, double reference) {
  std::map<std::string, GapSeries> byGap;
  for (std::size_t k = 0; k < records.size(); ++k) {
    const CampaignRecord& r = records[k];
    if (!usable(r)) continue;
    GapSeries& s = byGap[r.gap];
    s.gap = r.gap;
    s.records.push_back(k);
  }
  std::vector<GapSeries> series;
  for (auto& [gap, s] : byGap) {
    double first = records[s.records.front()].days;
    for (const std::size_t k : s.records) first = std::min(first, records[k].days);
    std::set<double> dates;
    for (const std::size_t k : s.records) {
      const CampaignRecord& r = records[k];
      s.t.push_back(r.days - first);
      s.w.push_back(1.0 / (r.lnRhoError * r.lnRhoError));
      s.y.push_back(r.lnRho);
      s.x.push_back(r.temperature - reference);
      dates.insert(r.days);
    }
    s.dates = dates.size();
    s.firstDay = first;
    series.push_back(std::move(s));
  }
  return series;
}

// A weighted line c0 + c1 t through (t, y), or the weighted mean c0 when `slope`
// is false; cov11 is c1's variance from the weights alone.
struct Line {
  double c0 = 0.0, c1 = 0.0, cov11 = 0.0, chi2 = 0.0;
  double at(double t) const { return c0 + c1 * t; }
};

Line weightedLine(const std::vector<double>& t, const std::vector<double>& w, const std::vector<double>& y,
                  bool slope) {
  Line line;
  if (slope) {
    double cov00 = 0.0, cov01 = 0.0;
    gsl_fit_wlinear(t.data(), 1, w.data(), 1, y.data(), 1, t.size(), &line.c0, &line.c1, &cov00, &cov01,
                    &line.cov11, &line.chi2);
    return line;
  }
  line.c0 = gsl_stats_wmean(w.data(), 1, y.data(), 1, y.size());
  for (std::size_t i = 0; i < y.size(); ++i) line.chi2 += w[i] * (y[i] - line.c0) * (y[i] - line.c0);
  return line;
}

std::string celsius(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// The residuals of every informative gap from its own line in time, the
// records they belong to and what the partial residuals need.
struct Profiled {
  std::vector<double> y, x, w;         // residuals of ln rho and of T - T0, weights
  std::vector<double> xLine;           // T - T0 minus its residual: the gap's own line of T
  std::vector<std::size_t> records;
  std::size_t gaps = 0, parameters = 0;
  double lowest = HUGE_VAL, highest = -HUGE_VAL;
  std::set<double> temperatures;
};

Profiled profileOut(const std::vector<GapSeries>& series, const std::vector<CampaignRecord>& records) {
  Profiled p;
  for (const GapSeries& s : series) {
    if (s.records.size() <= s.parameters()) continue;  // fits its own line exactly: says nothing on alpha
    const bool slope = s.dates >= 2;
    const Line ly = weightedLine(s.t, s.w, s.y, slope);
    const Line lx = weightedLine(s.t, s.w, s.x, slope);
    for (std::size_t i = 0; i < s.records.size(); ++i) {
      p.y.push_back(s.y[i] - ly.at(s.t[i]));
      p.x.push_back(s.x[i] - lx.at(s.t[i]));
      p.xLine.push_back(lx.at(s.t[i]));
      p.w.push_back(s.w[i]);
      p.records.push_back(s.records[i]);
      const double T = records[s.records[i]].temperature;
      p.lowest = std::min(p.lowest, T), p.highest = std::max(p.highest, T);
      p.temperatures.insert(T);
    }
    ++p.gaps;
    p.parameters += s.parameters();
  }
  return p;
}

// Why `p` cannot give alpha, or "".
std::string alphaRefusal(const Profiled& p, AlphaState& state) {
  state = AlphaState::undetermined;
  if (p.gaps == 0) {
    return "No temperature coefficient from this campaign: no gap has more results than its own intercept and "
           "drift take (two results of one date, or three of two dates or more).";
  }
  if (p.temperatures.size() < 2 || p.highest - p.lowest < kLeastTemperatureSpread) {
    state = AlphaState::tooLittleSpread;
    return "Too little temperature spread for the campaign's own temperature coefficient: the results of gaps "
           "measured more than once span " + celsius(p.temperatures.empty() ? 0.0 : p.highest - p.lowest) +
           " C, at least " + celsius(kLeastTemperatureSpread) + " C at two temperatures or more is needed.";
  }
  double spread = 0.0, within = 0.0;
  const double mean = gsl_stats_wmean(p.w.data(), 1, p.xLine.data(), 1, p.w.size());
  for (std::size_t i = 0; i < p.w.size(); ++i) {
    within += p.w[i] * p.x[i] * p.x[i];
    spread += p.w[i] * (p.xLine[i] + p.x[i] - mean) * (p.xLine[i] + p.x[i] - mean);
  }
  if (!(within > 1e-9 * spread)) {
    return "No temperature coefficient from this campaign: each gap's temperature changed only along its drift "
           "in time, so the two cannot be told apart.";
  }
  return "";
}

AlphaFit fitAlpha(const std::vector<GapSeries>& series, const std::vector<CampaignRecord>& records) {
  AlphaFit fit;
  const Profiled p = profileOut(series, records);
  fit.gaps = p.gaps;
  fit.points = p.records.size();
  if (!p.temperatures.empty()) fit.spread = p.highest - p.lowest;
  fit.why = alphaRefusal(p, fit.state);
  if (!fit.why.empty()) return fit;
  double slope = 0.0, variance = 0.0, chi2 = 0.0;
  gsl_fit_wmul(p.x.data(), 1, p.w.data(), 1, p.y.data(), 1, p.w.size(), &slope, &variance, &chi2);
  fit.state = AlphaState::fitted;
  fit.alpha = -slope;
  fit.error = std::sqrt(variance);
  fit.chi2 = chi2;
  fit.ndf = static_cast<long>(fit.points) - static_cast<long>(p.parameters) - 1;
  if (fit.ndf > 0 && chi2 / static_cast<double>(fit.ndf) > 1.0) {
    fit.error *= std::sqrt(chi2 / static_cast<double>(fit.ndf));
    fit.errorScaled = true;
  }
  for (std::size_t i = 0; i < p.records.size(); ++i) {
    const double residual = p.y[i] - slope * p.x[i];
    fit.residuals.push_back({p.records[i], records[p.records[i]].temperature, residual,
                             p.y[i] - fit.alpha * p.xLine[i], 1.0 / std::sqrt(p.w[i])});
  }
  return fit;
}

// The drift of one gap at `alpha`; `alphaVariance` (0 for a given alpha) widens
// its error by how the gap's temperature moved along its dates.
GapDrift driftOf(const GapSeries& s, double alpha, double alphaVariance, double maxDriftPercent) {
  GapDrift d;
  d.gap = s.gap;
  d.records = s.records;
  d.dates = s.dates;
  d.firstDay = s.firstDay;
  std::vector<double> ref(s.y.size());
  for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = s.y[i] + alpha * s.x[i];
  const Line level = weightedLine(s.t, s.w, ref, false);
  d.constantChi2 = level.chi2;
  d.constantNdf = static_cast<double>(ref.size()) - 1.0;
  if (s.dates < 2) return d;
  const Line line = weightedLine(s.t, s.w, ref, true);
  d.fitted = true;
  d.lnAtFirst = line.c0, d.lnPerDay = line.c1;
  d.chi2 = line.chi2;
  d.ndf = static_cast<double>(ref.size()) - 2.0;
  double variance = line.cov11;
  if (d.ndf > 0 && d.chi2 / d.ndf > 1.0) {
    variance *= d.chi2 / d.ndf;
    d.errorScaled = true;
  }
  const double temperatureSlope = weightedLine(s.t, s.w, s.x, true).c1;
  variance += temperatureSlope * temperatureSlope * alphaVariance;
  const double perMonth = line.c1 * kDaysPerMonth, growth = std::exp(perMonth);
  const double error = std::sqrt(variance);
  d.perMonth = 100.0 * (growth - 1.0);
  d.perMonthError = 100.0 * growth * error * kDaysPerMonth;
  d.drifting = std::fabs(line.c1) > kDriftSignificance * error && std::fabs(d.perMonth) > maxDriftPercent;
  return d;
}

}  // namespace

CampaignFit fitCampaign(const std::vector<CampaignRecord>& records, const CampaignSettings& settings) {
  CampaignFit fit;
  const std::vector<GapSeries> series = seriesOf(records, settings.reference);
  fit.alphaFit = fitAlpha(series, records);
  double alphaVariance = 0.0;
  if (settings.alpha) {
    fit.source = AlphaSource::given;
    fit.alphaUsed = *settings.alpha;
  } else if (fit.alphaFit.state == AlphaState::fitted) {
    fit.source = AlphaSource::fitted;
    fit.alphaUsed = fit.alphaFit.alpha;
    alphaVariance = fit.alphaFit.error * fit.alphaFit.error;
  }
  for (const GapSeries& s : series) {
    if (s.records.size() >= 2) fit.drifts.push_back(driftOf(s, fit.alphaUsed, alphaVariance, settings.maxDriftPercent));
  }
  return fit;
}
