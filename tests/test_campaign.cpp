#include <gsl/gsl_multifit.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "aux/BaselineCompare.h"
#include "aux/CampaignFit.h"
#include "tests/TestSupport.h"

namespace {

// ln rho of a gap at day `t` and temperature `T`: rho_ref 1e11 x (1 + gap / 10),
// drifting by `perMonth` percent a month, alpha per degree C about T0 = 20.
CampaignRecord record(int gap, double t, double T, double alpha, double perMonth, double error = 0.02) {
  const double ln = std::log(1e11 * (1 + gap / 10.0)) + std::log1p(perMonth / 100) * t / kDaysPerMonth - alpha * (T - 20);
  return {"GAP-" + std::to_string(gap), "scan" + std::to_string(static_cast<int>(t)), t, T, ln, error};
}

// The same fit with every intercept and drift a column of one design matrix.
double fullDesignAlpha(const std::vector<CampaignRecord>& rs, double& error, double& chi2) {
  std::vector<std::string> gaps;
  for (const auto& r : rs) {
    if (std::find(gaps.begin(), gaps.end(), r.gap) == gaps.end()) gaps.push_back(r.gap);
  }
  const std::size_t p = 2 * gaps.size() + 1;
  gsl_matrix* X = gsl_matrix_calloc(rs.size(), p);
  gsl_vector *w = gsl_vector_alloc(rs.size()), *y = gsl_vector_alloc(rs.size()), *c = gsl_vector_alloc(p);
  gsl_matrix* cov = gsl_matrix_alloc(p, p);
  for (std::size_t i = 0; i < rs.size(); ++i) {
    const std::size_t g = std::find(gaps.begin(), gaps.end(), rs[i].gap) - gaps.begin();
    gsl_matrix_set(X, i, 2 * g, 1.0);
    gsl_matrix_set(X, i, 2 * g + 1, rs[i].days);
    gsl_matrix_set(X, i, p - 1, -(rs[i].temperature - 20));
    gsl_vector_set(w, i, 1 / (rs[i].lnRhoError * rs[i].lnRhoError));
    gsl_vector_set(y, i, rs[i].lnRho);
  }
  gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(rs.size(), p);
  gsl_multifit_wlinear(X, w, y, c, cov, &chi2, work);
  const double alpha = gsl_vector_get(c, p - 1);
  error = std::sqrt(gsl_matrix_get(cov, p - 1, p - 1));
  gsl_multifit_linear_free(work), gsl_matrix_free(X), gsl_matrix_free(cov);
  gsl_vector_free(w), gsl_vector_free(y), gsl_vector_free(c);
  return alpha;
}

}  // namespace

// Profiling the gaps' intercepts and drifts out gives the full fit's alpha, error and chi-square.
TEST(CampaignFit, ProfiledAlphaEqualsTheFullDesignFit) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 0.02);
  std::uniform_real_distribution<double> warm(16, 28);
  std::vector<CampaignRecord> rs;
  for (int g = 0; g < 6; ++g) {
    for (int s = 0; s < 5; ++s) {
      rs.push_back(record(g, 30.0 * s + g, warm(rng), 0.1, g == 2 ? 10 : 0, 0.01 + 0.005 * s));
      rs.back().lnRho += noise(rng);
    }
  }
  double error = 0, chi2 = 0;
  const double alpha = fullDesignAlpha(rs, error, chi2);
  const AlphaFit fit = fitCampaign(rs, {}).alphaFit;
  ASSERT_EQ(fit.state, AlphaState::fitted) << fit.why;
  EXPECT_NEAR(fit.alpha, alpha, 1e-9);
  EXPECT_NEAR(fit.chi2, chi2, 1e-6 * chi2);
  EXPECT_EQ(fit.ndf, 30 - 12 - 1);
  EXPECT_NEAR(fit.error, error * (fit.errorScaled ? std::sqrt(chi2 / 17) : 1.0), 1e-9);
  EXPECT_EQ(fit.gaps, 6u);
  EXPECT_EQ(fit.residuals.size(), 30u);
}

// A gap ageing while the season warms: with its drift in the fit alpha stays exact,
// the drift is found at its size, and the partial residuals lie on -alpha (T - T0).
TEST(CampaignFit, DriftingGapDoesNotBiasAlpha) {
  std::vector<CampaignRecord> rs;
  for (int s = 0; s < 4; ++s) {
    for (int g = 0; g < 3; ++g) rs.push_back(record(g, 30.44 * s, 16 + 3 * s + (g + s) % 3, 0.1, g == 0 ? 10 : 0));
  }
  const CampaignFit fit = fitCampaign(rs, {});
  ASSERT_EQ(fit.alphaFit.state, AlphaState::fitted) << fit.alphaFit.why;
  EXPECT_NEAR(fit.alphaFit.alpha, 0.1, 1e-9);
  EXPECT_EQ(fit.source, AlphaSource::fitted);
  ASSERT_EQ(fit.drifts.size(), 3u);
  EXPECT_NEAR(fit.drifts[0].perMonth, 10.0, 1e-6);
  EXPECT_TRUE(fit.drifts[0].drifting);
  EXPECT_NEAR(fit.drifts[1].perMonth, 0.0, 1e-6);
  EXPECT_FALSE(fit.drifts[1].drifting);
  for (const AlphaResidual& r : fit.alphaFit.residuals) EXPECT_NEAR(r.partial, -0.1 * (r.temperature - 20), 1e-9);
}

// When there is no alpha of its own, and which drifts are DRIFT.
TEST(CampaignFit, SpreadDatesAndDriftThresholds) {
  struct Case {
    const char* what;
    std::vector<CampaignRecord> records;
    CampaignSettings settings;
    AlphaState alpha;
    std::vector<bool> fitted, drifting;
  };
  const std::vector<Case> cases = {
      {"1.5 C of spread", {record(0, 0, 20, .1, 0), record(0, 0, 21.5, .1, 0), record(1, 5, 20.5, .1, 0)}, {},
       AlphaState::tooLittleSpread, {false}, {false}},
      {"one date each: no drift terms, alpha from two gaps", {record(0, 3, 16, .1, 0), record(0, 3, 26, .1, 0),
       record(1, 9, 18, .1, 0), record(1, 9, 20, .1, 0)}, {}, AlphaState::fitted, {false, false}, {false, false}},
      {"two dates each: nothing left for alpha", {record(0, 0, 16, 0, 0), record(0, 30, 26, 0, 0)}, {},
       AlphaState::undetermined, {true}, {false}},
      {"4 %/month is significant but below --max-drift", {record(0, 0, 20, 0, 4, .001), record(0, 30.44, 20, 0, 4, .001),
       record(0, 60.88, 20, 0, 4, .001)}, {0.0, 20, 5}, AlphaState::tooLittleSpread, {true}, {false}},
      {"--max-drift 3 makes it DRIFT", {record(0, 0, 20, 0, 4, .001), record(0, 30.44, 20, 0, 4, .001),
       record(0, 60.88, 20, 0, 4, .001)}, {0.0, 20, 3}, AlphaState::tooLittleSpread, {true}, {true}},
      {"20 %/month within 3 errors", {record(0, 0, 20, 0, 20, .5), record(0, 30.44, 20, 0, 20, .5)}, {0.0, 20, 5},
       AlphaState::undetermined, {true}, {false}},
      {"unusable records left out", {record(0, 0, NAN, .1, 0), record(0, 1, 20, .1, 0, 0), record(1, 0, 20, .1, 0)},
       {}, AlphaState::undetermined, {}, {}},
  };
  for (const Case& c : cases) {
    const CampaignFit fit = fitCampaign(c.records, c.settings);
    EXPECT_EQ(fit.alphaFit.state, c.alpha) << c.what;
    EXPECT_EQ(fit.alphaFit.why.empty(), c.alpha == AlphaState::fitted) << c.what;
    ASSERT_EQ(fit.drifts.size(), c.fitted.size()) << c.what;
    for (std::size_t k = 0; k < fit.drifts.size(); ++k) {
      EXPECT_EQ(fit.drifts[k].fitted, c.fitted[k]) << c.what;
      EXPECT_EQ(fit.drifts[k].drifting, c.drifting[k]) << c.what;
    }
  }
}

// A gap's rho_ref in one campaign: ln of rho, its relative error, the temperature.
GapReference reference(const std::string& gap, double rho, double error = 0.02, double celsius = 20) {
  return {gap, std::log(rho), error, celsius};
}

// The change of rho_ref, its error from both sides (and alpha's), combined repeats, the flags and the lists.
TEST(BaselineCompare, ChangeErrorFlagsAndGapsInOneOnly) {
  const std::vector<GapReference> before = {
      reference("UP10", 1e11), reference("SAME", 2e11), reference("SAME", 2e11),
      reference("DOWN30", 1e11, 0.05), reference("WARM", 1e11, 0.02, 18), reference("OLD", 1e11),
      reference("NOREF", 1e11), reference("SCATTER", 1e11), reference("SCATTER", 1.2e11)};
  std::vector<GapReference> now = {
      reference("UP10", 1.1e11), reference("SAME", 2e11), reference("DOWN30", 0.7e11, 0.05),
      reference("WARM", 1e11, 0.02, 26), reference("NEW", 1e11), {"NOREF", std::nullopt, 0.02, 20},
      reference("NOREF", 1e11, 0.0), reference("SCATTER", 1.1e11)};
  const BaselineComparison c = compareCampaigns(before, now, 0.005);
  // Flagged first, the larger |sigma| first; then by name.
  std::vector<std::string> order;
  for (const BaselineChange& ch : c.changes) order.push_back(ch.gap + (ch.flagged ? "!" : ""));
  EXPECT_EQ(order, (std::vector<std::string>{"DOWN30!", "UP10!", "SAME", "SCATTER", "WARM"}));
  EXPECT_EQ(c.flagged, 2u);
  const BaselineChange& up = c.changes[1];
  EXPECT_NEAR(up.percent, 10.0, 1e-9);
  EXPECT_NEAR(up.percentError, 110 * 0.02 * std::sqrt(2.0), 1e-9);  // 100 e^d sigma_d
  EXPECT_NEAR(up.sigma, std::log(1.1) / (0.02 * std::sqrt(2.0)), 1e-9);
  EXPECT_NEAR(c.changes[0].percent, -30.0, 1e-9);
  const BaselineChange& same = c.changes[2];  // two results of 2 %: 1.41 %
  EXPECT_NEAR(same.baseline.lnError, 0.02 / std::sqrt(2.0), 1e-12);
  EXPECT_EQ(same.baseline.results, 2u);
  EXPECT_FALSE(same.baseline.errorScaled);
  // 1e11 and 1.2e11 at 2 % disagree: their mean's error is scaled by sqrt(chi2).
  const CombinedReference& scatter = c.changes[3].baseline;
  EXPECT_TRUE(scatter.errorScaled);
  EXPECT_NEAR(scatter.lnError, 0.02 / std::sqrt(2.0) * std::sqrt(scatter.chi2), 1e-12);
  EXPECT_NEAR(scatter.chi2, std::pow(std::log(1.2) / 0.02, 2) / 2, 1e-9);
  // 8 C warmer now: alpha's error 0.005 adds 4 % in quadrature.
  EXPECT_NEAR(c.changes[4].lnChangeError, std::sqrt(0.02 * 0.02 * 2 + 0.04 * 0.04), 1e-12);
  EXPECT_EQ(c.baselineOnly, std::vector<std::string>{"OLD"});
  EXPECT_EQ(c.nowOnly, std::vector<std::string>{"NEW"});
  EXPECT_EQ(c.noReference, std::vector<std::string>{"NOREF"});
}

// A campaign's page: a gap ageing 20 % a month is DRIFT, steady ones are not,
// the campaign's own alpha reaches the page, and every history figure is drawn.
TEST(CampaignReport, HistoryDriftAndTheCampaignsAlpha) {
  using namespace testsupport;
  ScratchDir dir;
  const char* const dates[] = {"2026-01-01", "2026-01-31", "2026-03-02", "2026-04-01"};  // 30 days apart
  for (int s = 0; s < 4; ++s) {
    const double celsius = 16 + 4 * s + (s % 2) * 3;
    std::string csv = "scan,gap,knee_status,knee_rho_ohm_cm,knee_rho_err,knee_temperature_mean,scan_date\n";
    for (int g = 0; g < 3; ++g) {
      const double ageing = g == 0 ? std::pow(1.2, 30.0 * s / kDaysPerMonth) : 1.0;
      const double rho = 1e11 * (1 + g) * std::exp(-0.1 * (celsius - 20)) * ageing;
      char line[200];
      std::snprintf(line, sizeof line, "s%d.csv,GAP-%d,fitted,%.10g,%.10g,%g,%s\n", s, g, rho, rho * 0.02, celsius,
                    dates[s]);
      csv += line;
    }
    mkdir(dir.file("s" + std::to_string(s)).c_str(), 0755);
    writeFile(dir.file("s" + std::to_string(s) + "/results.csv"), csv);
  }
  const RunResult r = runGapohm({"--report", "--temperature-coefficient", "fit", "-o", "out", "."}, inHome(dir));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string page = readFile(dir.file("out/index.html"));
  EXPECT_NE(page.find("<b>&alpha; = 0.100"), std::string::npos);
  for (const char* figure : {"drift.png", "history_1.png", "history_3.png", "alpha_residuals.png", "alpha_partial.png"}) {
    const Picture picture = decodePng(dir.file(std::string("out/figures/") + figure));
    EXPECT_GT(picture.width, 0) << figure;
    EXPECT_NE(page.find(std::string("figures/") + figure), std::string::npos) << figure;
  }
  const std::string verdicts = readFile(dir.file("out/verdicts.csv"));
  EXPECT_NE(verdicts.find("# alpha_fit_per_c=0.1"), std::string::npos) << verdicts;
  EXPECT_NE(verdicts.find(",GAP-0,DRIFT,"), std::string::npos) << verdicts;
  EXPECT_EQ(verdicts.find(",GAP-1,DRIFT,"), std::string::npos) << verdicts;
  // Allowed 25 % a month, the same gap is no longer DRIFT; fit needs --report.
  ASSERT_EQ(runGapohm({"--report", "--temperature-coefficient", "0.1", "--max-drift", "25", "-o", "wide", "."}, inHome(dir)).status, 0);
  EXPECT_EQ(readFile(dir.file("wide/verdicts.csv")).find("DRIFT"), std::string::npos);
  EXPECT_EQ(runGapohm({"--batch", "--temperature-coefficient", "fit", "."}, inHome(dir)).status, 2);
}
