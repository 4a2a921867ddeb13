// How often the watch mode's jump alarm fires on generated argon gaps without
// a discharge (false alarms), and how often it catches a spike added at a
// random step (detections), for each knee shape and scatter model and a few
// --jump-sigma values. Prints a table; run: build/jump_rates [gaps per row].
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/KneeCurves.h"
#include "tools/WatchRules.h"

namespace {

// Whether judging the gap point by point raises a jump alarm, and at which point first.
bool jumpAlarmAt(const kneecurves::Scan& s, double sigma, std::size_t point, bool anywhere) {
  AlarmRules rules;
  rules.jumpSigma = sigma;
  GapAlarmState state;
  for (std::size_t n = 1; n <= s.j.size(); ++n) {
    const std::vector<double> hv(s.hv.begin(), s.hv.begin() + static_cast<long>(n));
    const std::vector<double> j(s.j.begin(), s.j.begin() + static_cast<long>(n));
    for (const Alarm& a : judgeGap("g", hv, j, rules, state)) {
      if (anywhere || a.hv == s.hv[point]) return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int gaps = argc > 1 ? std::atoi(argv[1]) : 2000;
  const struct {
    const char* name;
    kneecurves::Shape shape;
    bool grows;
  } rows[] = {{"softplus", kneecurves::Shape::Softplus, false}, {"hinge", kneecurves::Shape::Hinge, false},
              {"gauss knee", kneecurves::Shape::GaussKnee, false}, {"softplus, scatter grows", kneecurves::Shape::Softplus, true},
              {"hinge, scatter grows", kneecurves::Shape::Hinge, true}};
  std::printf("%-26s %6s %12s %14s %14s %14s\n", "gaps", "sigma", "false alarm", "spike 10 sd", "spike 20 sd", "spike 50 sd");
  for (const auto& row : rows) {
    for (const double sigma : {6.0, 8.0, 10.0}) {
      std::mt19937 rng(20261208);
      int falseAlarms = 0, caught[3] = {0, 0, 0};
      for (int k = 0; k < gaps; ++k) {
        kneecurves::Gap g = kneecurves::randomGap(rng);
        g.shape = row.shape;
        g.scatterGrows = row.grows;
        const kneecurves::Scan clean = kneecurves::generate(g, rng);
        falseAlarms += jumpAlarmAt(clean, sigma, 0, true) ? 1 : 0;
        std::uniform_int_distribution<std::size_t> where(10, clean.j.size() - 2);
        const std::size_t at = where(rng);
        // The scatter at that point, as generate() draws it.
        const double top = kneecurves::shapeAt(g, g.high);
        const double sd = g.noise * top * (row.grows ? 0.2 + 0.8 * std::fabs(kneecurves::shapeAt(g, clean.hv[at]) / top) : 1.0);
        const double sizes[3] = {10, 20, 50};
        for (int m = 0; m < 3; ++m) {
          kneecurves::Scan spiked = clean;
          spiked.j[at] += sizes[m] * sd;
          caught[m] += jumpAlarmAt(spiked, sigma, at, false) ? 1 : 0;
        }
      }
      const auto pct = [&](int n) { return 100.0 * n / gaps; };
      std::printf("%-26s %6.0f %11.2f%% %13.1f%% %13.1f%% %13.1f%%\n", row.name, sigma, pct(falseAlarms), pct(caught[0]),
                  pct(caught[1]), pct(caught[2]));
    }
  }
  return 0;
}
