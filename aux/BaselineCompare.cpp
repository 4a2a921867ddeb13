#include "aux/BaselineCompare.h"

#include <gsl/gsl_statistics_double.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

bool usable(const GapReference& r) {
  return r.lnRhoRef && std::isfinite(*r.lnRhoRef) && std::isfinite(r.lnError) && r.lnError > 0.0;
}

// Each gap's results, by name.
std::map<std::string, std::vector<const GapReference*>> byGap(const std::vector<GapReference>& results) {
  std::map<std::string, std::vector<const GapReference*>> gaps;
  for (const GapReference& r : results) gaps[r.gap].push_back(&r);
  return gaps;
}

BaselineChange change(const std::string& gap, const CombinedReference& baseline, const CombinedReference& now,
                      double alphaError) {
  BaselineChange c;
  c.gap = gap;
  c.baseline = baseline, c.now = now;
  c.lnChange = now.lnRhoRef - baseline.lnRhoRef;
  double variance = baseline.lnError * baseline.lnError + now.lnError * now.lnError;
  const double warmer = now.temperature - baseline.temperature;
  if (alphaError > 0.0 && std::isfinite(warmer)) variance += (alphaError * warmer) * (alphaError * warmer);
  c.lnChangeError = std::sqrt(variance);
  c.percent = 100.0 * std::expm1(c.lnChange);
  c.percentError = 100.0 * std::exp(c.lnChange) * c.lnChangeError;
  c.sigma = c.lnChange / c.lnChangeError;
  c.flagged = std::fabs(c.sigma) > kBaselineSignificance;
  return c;
}

}  // namespace

CombinedReference combineReferences(const std::vector<const GapReference*>& results) {
  CombinedReference c;
  std::vector<double> w, ln, t;
  for (const GapReference* r : results) {
    if (!usable(*r)) continue;
    w.push_back(1.0 / (r->lnError * r->lnError));
    ln.push_back(*r->lnRhoRef);
    t.push_back(r->temperature);
  }
  c.results = w.size();
  if (w.empty()) return c;
  c.lnRhoRef = gsl_stats_wmean(w.data(), 1, ln.data(), 1, ln.size());
  c.temperature = gsl_stats_wmean(w.data(), 1, t.data(), 1, t.size());  // NaN when one is unknown
  double weight = 0.0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    weight += w[k];
    c.chi2 += w[k] * (ln[k] - c.lnRhoRef) * (ln[k] - c.lnRhoRef);
  }
  c.lnError = 1.0 / std::sqrt(weight);
  const double ndf = static_cast<double>(w.size() - 1);
  if (ndf > 0 && c.chi2 > ndf) {
    c.lnError *= std::sqrt(c.chi2 / ndf);
    c.errorScaled = true;
  }
  return c;
}

BaselineComparison compareCampaigns(const std::vector<GapReference>& baseline, const std::vector<GapReference>& now,
                                    double alphaError) {
  BaselineComparison out;
  const auto before = byGap(baseline), after = byGap(now);
  for (const auto& [gap, results] : before) {
    const auto other = after.find(gap);
    if (other == after.end()) {
      out.baselineOnly.push_back(gap);
      continue;
    }
    const CombinedReference b = combineReferences(results), n = combineReferences(other->second);
    if (b.results == 0 || n.results == 0) {
      out.noReference.push_back(gap);
      continue;
    }
    out.changes.push_back(change(gap, b, n, alphaError));
    out.flagged += out.changes.back().flagged ? 1 : 0;
  }
  for (const auto& [gap, results] : after) {
    if (before.count(gap) == 0) out.nowOnly.push_back(gap);
  }
  // The map gives them by name; flagged ones to the front, the largest first.
  std::stable_sort(out.changes.begin(), out.changes.end(), [](const BaselineChange& a, const BaselineChange& b) {
    if (a.flagged != b.flagged) return a.flagged;
    return a.flagged && std::fabs(a.sigma) > std::fabs(b.sigma);
  });
  return out;
}
