#include "tools/CampaignHistory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "aux/ScanDate.h"
#include "toolkit/Canvas.h"
#include "tools/ReportFigures.h"

namespace {

// A number with `digits` significant digits ("%.*g").
std::string shortText(double v, int digits = 3) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  return text;
}

// A number with `decimals` decimals ("%.*f").
std::string fixedText(double v, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// The value all knee results of the campaign agree on, or none.
std::optional<double> commonValue(const std::vector<ScanTable>& scans, std::optional<double> ResultsRow::*member) {
  std::optional<double> common;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) {
      if (!row.knee.status.fitted()) continue;
      const std::optional<double>& v = row.*member;
      if (!v || (common && *common != *v)) return std::nullopt;
      common = v;
    }
  }
  return common;
}

// Where alpha for the reference values comes from: settings for the fit, words for the page.
CampaignSettings settingsFor(const std::vector<ScanTable>& scans, const HistoryOptions& options,
                             CampaignHistory& h, bool& fromFit) {
  CampaignSettings settings;
  settings.maxDriftPercent = options.maxDriftPercent;
  h.maxDriftPercent = options.maxDriftPercent;
  const std::optional<double> filesAlpha = commonValue(scans, &ResultsRow::alpha);
  const std::optional<double> filesReference = commonValue(scans, &ResultsRow::referenceTemperature);
  h.reference = options.reference.value_or(filesReference.value_or(20.0));
  settings.reference = h.reference;
  fromFit = false;
  if (options.alpha) {
    settings.alpha = options.alpha;
    h.alphaText = "alpha = " + shortText(*options.alpha, 4) + " per C, as given (--temperature-coefficient)";
  } else if (options.fitAlpha) {
    fromFit = true;  // settings.alpha stays empty: the campaign's own
  } else if (filesAlpha) {
    settings.alpha = filesAlpha;
    h.alphaText = "alpha = " + shortText(*filesAlpha, 4) + " per C, the one the results files were made with";
  } else {
    settings.alpha = 0.0;
    h.alphaText = "none: rho_ref is rho as measured, not corrected for temperature (give --temperature-coefficient "
                  "ALPHA or fit)";
  }
  return settings;
}

}  // namespace

CampaignHistory campaignHistory(const std::vector<ScanTable>& scans, const HistoryOptions& options) {
  CampaignHistory h;
  bool fromFit = false;
  const CampaignSettings settings = settingsFor(scans, options, h, fromFit);
  for (std::size_t s = 0; s < scans.size(); ++s) {
    for (std::size_t n = 0; n < scans[s].rows.size(); ++n) {
      const ResultsRow& row = scans[s].rows[n];
      const Measured& rho = row.knee.rho;
      if (!row.knee.status.fitted() || !rho.value || !rho.error || !(*rho.value > 0.0)) continue;
      const std::optional<long> days = daysSinceEpoch(row.scanDate);
      const std::optional<double> celsius = row.kneeTemperatureMean ? row.kneeTemperatureMean : row.temperatureMean;
      if (!days) {
        ++h.undated;
        continue;
      }
      if (!celsius) {
        ++h.noTemperature;
        continue;
      }
      h.records.push_back({row.gap, row.scan, static_cast<double>(*days), *celsius, std::log(*rho.value), *rho.error / *rho.value});
      h.points.push_back({s, n, row.scanDate});
    }
  }
  h.fit = fitCampaign(h.records, settings);
  if (fromFit) {
    const AlphaFit& a = h.fit.alphaFit;
    h.alphaText = a.state == AlphaState::fitted
                      ? "alpha = " + shortText(a.alpha, 4) + " +/- " + shortText(a.error, 2) +
                            " per C, fitted from this campaign (--temperature-coefficient fit)"
                      : "none: the campaign holds no temperature coefficient of its own, so rho_ref is rho as "
                        "measured";
  }
  return h;
}

void addDriftVerdicts(const std::vector<ScanTable>& scans, const CampaignHistory& history, CampaignVerdicts& verdicts) {
  for (const GapDrift& d : history.fit.drifts) {
    if (!d.drifting) continue;
    std::size_t latest = d.records.front();
    for (const std::size_t k : d.records) {
      if (history.records[k].days >= history.records[latest].days) latest = k;
    }
    const HistoryPoint& at = history.points[latest];
    const ResultsRow& result = scans[at.scan].rows[at.row];
    VerdictRow row;
    row.scan = scanLabel(scans[at.scan], result);
    row.gap = d.gap;
    row.verdict = VerdictKind::drift;
    row.quantity = "drift_percent_per_month";
    row.value = d.perMonth, row.error = d.perMonthError;
    row.min = -history.maxDriftPercent, row.max = history.maxDriftPercent;
    row.flags = result.flags;
    row.sigmasOutside = (std::fabs(d.perMonth) - history.maxDriftPercent) / d.perMonthError;
    row.why = "drifts " + shortText(d.perMonth) + " \xC2\xB1 " + shortText(d.perMonthError, 2) +
              " % a month since " + history.points[d.records.front()].date + ", beyond " +
              shortText(history.maxDriftPercent) + " % and " + shortText(kDriftSignificance) + "\xCF\x83";
    GapVerdict& gap = verdicts.byScan[at.scan][at.row];
    gap.rows.push_back(std::move(row));
    gap.kind = worstVerdict(gap.rows);
  }
  verdicts.gaps = verdicts.checks = VerdictCounts{};
  for (const std::vector<GapVerdict>& scan : verdicts.byScan) {
    for (const GapVerdict& gap : scan) {
      ++verdicts.gaps[gap.kind];
      for (const VerdictRow& row : gap.rows) ++verdicts.checks[row.verdict];
    }
  }
}

std::vector<std::string> historyComments(const CampaignHistory& history) {
  const AlphaFit& a = history.fit.alphaFit;
  if (a.state != AlphaState::fitted) return {commentItems({{"alpha_fit_per_c", "none"}, {"alpha_fit_err", "none"}})};
  return {commentItems({{"alpha_fit_per_c", shortText(a.alpha, 6)},
                        {"alpha_fit_err", shortText(a.error, 3)},
                        {"alpha_fit_err_scaled", a.errorScaled ? "yes" : "no"},
                        {"alpha_fit_gaps", std::to_string(a.gaps)},
                        {"alpha_fit_points", std::to_string(a.points)},
                        {"alpha_fit_chi2_ndf", shortText(a.chi2, 4) + "/" + std::to_string(a.ndf)},
                        {"alpha_fit_reference_temperature_c", shortText(history.reference)}})};
}

ReportProvenance withHistory(ReportProvenance provenance, const CampaignHistory& history) {
  if (history.fit.source != AlphaSource::none) {
    provenance.alpha = history.fit.alphaUsed;
    provenance.reference = history.reference;
  }
  return provenance;
}

namespace {

// One gap's history: log10 rho as measured and at T0 against the scan date, the
// drift line through rho_ref, the limits of knee_rho_ohm_cm as a band.
bool paintGapHistory(const CampaignHistory& h, const GapDrift& d, const Limits* limits, const std::string& path,
                     std::string& error) {
  tk::Graph measured = markerSeries(1, 20), reference = markerSeries(4, 21);
  const bool corrected = h.fit.alphaUsed != 0.0;
  double first = HUGE_VAL, last = -HUGE_VAL;
  std::vector<std::pair<double, std::string>> labels;
  for (const std::size_t k : d.records) {
    const CampaignRecord& r = h.records[k];
    const double e = r.lnRhoError / std::log(10.0);
    addPointWithError(measured, r.days, r.lnRho / std::log(10.0), e);
    if (corrected) addPointWithError(reference, r.days, lnRhoReference(r, h.fit.alphaUsed, h.reference) / std::log(10.0), e);
    first = std::min(first, r.days), last = std::max(last, r.days);
    labels.emplace_back(r.days, h.points[k].date);
  }
  const std::vector<double> band = limitBounds(d.gap, "knee_rho_ohm_cm", limits, true);
  const auto [low, high] = spanWithErrors({&measured, &reference}, band);
  const double margin = std::max(3.0, 0.1 * (last - first));
  tk::Graph frame = tk::frameGraph(first - margin, last + margin, low - 0.1 * (high - low), high + 0.1 * (high - low),
                            "scan date", "log_{10}(#rho [#Omega cm])");
  frame.xCategoryLabels = labels;
  tk::Canvas canvas("history", d.gap, 900, 450, sideLegendStyle());
  canvas.DrawGraph(&frame, true);
  for (const double b : band) canvas.DrawLine(first - margin, b, last + margin, b, 3, 2, 2);
  if (d.fitted) {
    const double at = d.lnAtFirst / std::log(10.0), slope = d.lnPerDay / std::log(10.0);
    canvas.DrawLine(first, at, last, at + slope * (last - first), corrected ? 4 : 1, 1, 2);
  }
  tk::Legend legend;
  legend.x1 = kSideLegendX, legend.y1 = 0.62, legend.x2 = 0.99, legend.y2 = 0.9;
  legend.header = d.gap;
  canvas.DrawGraph(&measured, false);
  legend.AddEntry(&measured, "#rho at its T", "p");
  if (corrected) {
    canvas.DrawGraph(&reference, false);
    legend.AddEntry(&reference, "#rho_{ref} at " + shortText(h.reference) + " C", "p");
  }
  canvas.DrawLegend(legend);
  if (!band.empty()) canvas.DrawText(kSideLegendX, 0.55, "limits: green dashes", 0.03);
  return canvas.SaveAs(path, error);
}

}  // namespace

namespace {

// Each gap's drift in percent per month; DRIFT in red, the largest drift allowed dashed.
bool paintDrifts(const CampaignHistory& h, double maxDrift, const std::string& path, std::string& error) {
  tk::Graph steady = markerSeries(1, 20), drifting = markerSeries(2, 21);
  std::vector<std::pair<double, std::string>> labels;
  for (const GapDrift& d : h.fit.drifts) {
    if (!d.fitted) continue;
    const double x = static_cast<double>(labels.size());
    addPointWithError(d.drifting ? drifting : steady, x, d.perMonth, d.perMonthError);
    labels.emplace_back(x, d.gap);
  }
  if (labels.empty()) return true;
  const auto [low, high] = spanWithErrors({&steady, &drifting}, {-maxDrift, maxDrift});
  tk::Graph frame = tk::frameGraph(-0.5, static_cast<double>(labels.size()) - 0.5, low - 0.1 * (high - low),
                            high + 0.1 * (high - low), "gap", "drift [% per month]");
  frame.xCategoryLabels = labels;
  tk::Style style = sideLegendStyle();
  style.padBottomMargin = 0.3;
  tk::Canvas canvas("drift", "drift", 1200, 600, style);
  canvas.DrawGraph(&frame, true);
  const double x0 = -0.5, x1 = static_cast<double>(labels.size()) - 0.5;
  canvas.DrawLine(x0, 0.0, x1, 0.0, 16, 1, 1);
  for (const double b : {-maxDrift, maxDrift}) canvas.DrawLine(x0, b, x1, b, 2, 1, 2);
  tk::Legend legend;
  legend.x1 = kSideLegendX, legend.y1 = 0.75, legend.x2 = 0.99, legend.y2 = 0.9;
  canvas.DrawGraph(&steady, false);
  canvas.DrawGraph(&drifting, false);
  legend.AddEntry(&steady, "drift", "p");
  legend.AddEntry(&drifting, "DRIFT", "p");
  canvas.DrawLegend(legend);
  return canvas.SaveAs(path, error);
}

// The alpha fit against temperature: its residuals (`partial` false), or the
// partial residuals ln rho - a_g - b_g t beside the line -alpha (T - T0).
bool paintAlpha(const CampaignHistory& h, bool partial, const std::string& path, std::string& error) {
  const AlphaFit& a = h.fit.alphaFit;
  tk::Graph points = markerSeries(4, 20);
  double cold = HUGE_VAL, warm = -HUGE_VAL;
  for (const AlphaResidual& r : a.residuals) {
    addPointWithError(points, r.temperature, 100.0 * (partial ? r.partial : r.residual), 100.0 * r.error);
    cold = std::min(cold, r.temperature), warm = std::max(warm, r.temperature);
  }
  const double line0 = partial ? -100.0 * a.alpha * (cold - h.reference) : 0.0;
  const double line1 = partial ? -100.0 * a.alpha * (warm - h.reference) : 0.0;
  const auto [low, high] = spanWithErrors({&points}, {line0, line1});
  const double pad = 0.05 * (warm - cold);
  const tk::Graph frame = tk::frameGraph(cold - pad, warm + pad, low - 0.1 * (high - low), high + 0.1 * (high - low),
                                  "T above the knee [C]",
                                  partial ? "100 (ln #rho - a_{gap} - b_{gap} t)" : "100 x residual of ln #rho");
  tk::Canvas canvas(partial ? "alpha_partial" : "alpha_residuals", "alpha", 900, 450, sideLegendStyle());
  canvas.DrawGraph(&frame, true);
  canvas.DrawLine(cold - pad, line0 - (partial ? -100.0 * a.alpha * pad : 0.0), warm + pad,
                  line1 + (partial ? -100.0 * a.alpha * pad : 0.0), 2, 2, 1);
  canvas.DrawGraph(&points, false);
  tk::Legend legend;
  legend.x1 = kSideLegendX, legend.y1 = 0.75, legend.x2 = 0.99, legend.y2 = 0.9;
  legend.AddEntry(&points, "knee results", "p");
  canvas.DrawLegend(legend);
  canvas.DrawText(kSideLegendX, 0.68, partial ? "red: -#alpha (T - T_{0})" : "red: zero", 0.03);
  return canvas.SaveAs(path, error);
}

std::string driftCell(const GapDrift& d) {
  if (!d.fitted) return "<td class=\"note\">one date</td>";
  const RoundedValue r = roundValueWithError(d.perMonth, d.perMonthError);
  return "<td class=\"num\">" + r.value + " &plusmn; " + r.error + (d.errorScaled ? " (scaled)" : "") + "</td>";
}

std::string ratioCell(double chi2, double ndf) {
  if (!(ndf > 0)) return "<td class=\"num\">&ndash;</td>";
  return "<td class=\"num\">" + fixedText(chi2 / ndf, 2) + " (" + shortText(ndf) + ")</td>";
}

std::string driftRow(const CampaignHistory& h, const GapDrift& d, const std::string& figure) {
  double first = HUGE_VAL, last = -HUGE_VAL;
  std::string firstDate, lastDate;
  for (const std::size_t k : d.records) {
    const double t = h.records[k].days;
    if (t < first) first = t, firstDate = h.points[k].date;
    if (t > last) last = t, lastDate = h.points[k].date;
  }
  std::string row = "<tr><td>" + htmlEscape(d.gap) + "</td><td class=\"num\">" + std::to_string(d.records.size()) +
                    "</td><td>" + htmlEscape(firstDate) + " &ndash; " + htmlEscape(lastDate) + "</td>" + driftCell(d) +
                    ratioCell(d.chi2, d.ndf) + ratioCell(d.constantChi2, d.constantNdf);
  row += d.drifting ? std::string("<td class=\"") + verdictClass(VerdictKind::drift) + "\">" + verdictWord(VerdictKind::drift) + "</td>"
                    : "<td>&ndash;</td>";
  return row + "<td>" + (figure.empty() ? "" : "<a href=\"figures/" + figure + "\">figure</a>") + "</td></tr>\n";
}

}  // namespace

namespace {

std::string leftOutNote(const CampaignHistory& h) {
  std::string html;
  if (h.undated > 0 || h.noTemperature > 0) {
    html += "<p class=\"note\">Not in the history: " + std::to_string(h.undated) +
            " knee results without a scan date, " + std::to_string(h.noTemperature) + " without a temperature.</p>\n";
  }
  return html;
}

std::string historyIntro(const CampaignHistory& h, std::size_t gaps, double maxDrift) {
  std::string html = "<h2 id=\"history\">History</h2>\n<p>" + std::to_string(gaps) +
                     " gaps are found in two or more results files. Reference values rho_ref at T0 = " +
                     shortText(h.reference) + " C with " + htmlEscape(h.alphaText) +
                     ". A gap's drift is the weighted straight line of ln rho_ref against the scan date (weights "
                     "1/&sigma;&sup2;, &sigma; = knee_rho_err / knee_rho), given as 100 (e<sup>30.44 b</sup> &minus; "
                     "1) % per month of 30.44 days; its error is scaled by &radic;(&chi;&sup2;/ndf) where that "
                     "exceeds 1";
  if (h.fit.source == AlphaSource::fitted) html += " and includes the fitted alpha's error";
  html += ". <b>DRIFT</b> when it lies more than " + shortText(kDriftSignificance) + " errors from zero and exceeds " +
          shortText(maxDrift) + " % per month (--max-drift). The last column but two tells whether the gap's "
          "rho_ref agree with their weighted mean (&chi;&sup2;/ndf, ndf in brackets).</p>\n";
  return html + leftOutNote(h);
}

std::string historySection(const CampaignHistory& h, const Limits* limits, double maxDrift, FigurePlace& place) {
  if (h.fit.drifts.empty()) {
    return "<h2 id=\"history\">History</h2>\n<p>No gap is found in two or more results files with a scan date and "
           "a knee-fit result.</p>\n" + leftOutNote(h);
  }
  std::string html = historyIntro(h, h.fit.drifts.size(), maxDrift);
  html += place.figure("drift.png", "Drift of each gap measured on two dates or more, % per month (red: DRIFT; "
                       "dashed: the largest drift allowed)", false,
                       [&](const std::string& path, std::string& error) { return paintDrifts(h, maxDrift, path, error); });
  std::string table = "<table>\n<tr><th>Gap</th><th>Results</th><th>Dates</th><th>Drift [% per month]</th>"
                      "<th>Line &chi;&sup2;/ndf</th><th>&rho;<sub>ref</sub> agree &chi;&sup2;/ndf</th>"
                      "<th>Verdict</th><th>Figure</th></tr>\n";
  std::string figures;
  for (std::size_t n = 0; n < h.fit.drifts.size(); ++n) {
    const GapDrift& d = h.fit.drifts[n];
    const std::string name = "history_" + std::to_string(n + 1) + ".png";
    const std::string shown = place.figure(name, d.gap + ": knee rho against the scan date", true,
                                           [&](const std::string& path, std::string& error) {
                                             return paintGapHistory(h, d, limits, path, error);
                                           });
    figures += shown;
    table += driftRow(h, d, shown.empty() ? "" : name);
  }
  html += table + "</table>\n" + figures;
  if (place.stopped) html += "<p class=\"note\">The report was stopped before all history figures were painted.</p>\n";
  return html;
}

std::string alphaSection(const CampaignHistory& h, FigurePlace& place) {
  const AlphaFit& a = h.fit.alphaFit;
  std::string html = "<h2 id=\"alpha\">Temperature coefficient from the campaign</h2>\n";
  if (a.state != AlphaState::fitted) return html + "<p>" + htmlEscape(a.why) + "</p>\n";
  const RoundedValue r = roundValueWithError(a.alpha, a.error);
  html += "<p><b>&alpha; = " + r.value + " &plusmn; " + r.error + " per &deg;C</b> from " + std::to_string(a.points) +
          " knee results of " + std::to_string(a.gaps) + " gaps spanning " + fixedText(a.spread, 1) +
          " &deg;C; &chi;&sup2;/ndf = " + fixedText(a.chi2, 1) + "/" + std::to_string(a.ndf) + " = " +
          fixedText(a.ndf > 0 ? a.chi2 / static_cast<double>(a.ndf) : NAN, 2) +
          (a.errorScaled ? "; &sigma;&alpha; is scaled by &radic;(&chi;&sup2;/ndf), which exceeds 1" : "") + ".</p>\n";
  html += "<p>Model: ln &rho;<sub>knee</sub> = a<sub>gap</sub> + b<sub>gap</sub> t &minus; &alpha; (T &minus; T0), "
          "T the mean temperature of the points the knee fit used above the knee (knee_temperature_mean; "
          "temperature_mean for tables without it), t the scan date, a drift b for every gap measured on two dates "
          "or more, weights 1/&sigma;&sup2;. Each gap's intercept and drift are profiled out exactly (its ln &rho; "
          "and T replaced by their residuals from its own weighted line in time), which leaves a fit of &alpha; alone "
          "with the full fit's value, error and &chi;&sup2;. It assumes one &alpha; for every gap, ln &rho; linear in "
          "T and in time, and knee errors that are the results' scatter; a gap measured once, or only as often as "
          "its intercept and drift take, tells nothing of &alpha;.</p>\n";
  html += place.figure("alpha_residuals.png", "Residuals of the alpha fit against temperature (100 x ln rho, about % of rho)", true,
                       [&](const std::string& path, std::string& error) { return paintAlpha(h, false, path, error); });
  html += place.figure("alpha_partial.png", "ln rho minus each gap's intercept and drift against temperature, and "
                       "-alpha (T - T0)", true,
                       [&](const std::string& path, std::string& error) { return paintAlpha(h, true, path, error); });
  return html;
}

}  // namespace

std::string historySections(const CampaignHistory& history, const Limits* limits, const std::string& figuresDir,
                            tk::Console& console, tk::Failures& failures, const StopAsked& stopAsked) {
  FigurePlace place{figuresDir, console, failures, stopAsked};
  const double maxDrift = history.maxDriftPercent;
  return historySection(history, limits, maxDrift, place) + alphaSection(history, place);
}
