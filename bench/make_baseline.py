#!/usr/bin/env python3
"""Two generated campaigns of the same gaps, a year apart, as the report reads
them: OUTDIR/baseline/scanNN/results.csv and OUTDIR/now/scanNN/results.csv, with
the truth in OUTDIR/truth.csv (gap, change in %). Every gap's rho_ref (log-uniform
1e10-5e11 Ohm cm at 20 C) is measured at 16-28 C with rho = rho_ref exp(-0.10 (T - 20)),
a relative error of 1-4 % and a scatter of that size; the files carry knee_rho_ref
for alpha 0.10 and T0 20, as runs with --temperature-coefficient 0.10 write them.
Two thirds of the gaps are unchanged, the others changed by -20, -5, +5 or +20 %;
a quarter of the gaps are measured twice now; 2 % of the gaps are in one campaign only.

  make_baseline.py OUTDIR [seed] [gaps]          (default seed 1, 600 gaps)
  make_baseline.py --measure GAPOHM [seeds] [gaps]
      runs `GAPOHM --report --baseline` over that many generated pairs (default 20
      of 300 gaps) and prints a Markdown table of the flags read back from baseline.csv.
"""
import csv, math, os, random, subprocess, sys, tempfile

ALPHA = 0.10
CHANGES = (-20.0, -5.0, 5.0, 20.0)
SCAN_GAPS = 50  # gaps a scan folder


def header():
    return ["scan", "gap", "knee_status", "knee_rho_ohm_cm", "knee_rho_err", "knee_rho_ref_ohm_cm", "knee_rho_ref_err",
            "knee_temperature_mean", "alpha_per_c", "reference_temperature_c", "scan_date"]


def result(rng, scan, gap, rho_ref, date):
    celsius = rng.uniform(16, 28)
    error = rng.uniform(0.01, 0.04)
    ref = rho_ref * math.exp(rng.gauss(0, error))
    rho = ref * math.exp(-ALPHA * (celsius - 20))
    return [scan, gap, "fitted", "%.10g" % rho, "%.10g" % (rho * error), "%.10g" % ref, "%.10g" % (ref * error),
            "%.4f" % celsius, "0.1", "20", date]


def write_campaign(root, rows):
    for k in range(0, len(rows), SCAN_GAPS):
        folder = os.path.join(root, "scan%03d" % (k // SCAN_GAPS))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "results.csv"), "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(header())
            w.writerows(rows[k:k + SCAN_GAPS])


def generate(outdir, seed, gaps):
    rng = random.Random(seed)
    before, now, truth = [], [], []
    for g in range(gaps):
        name = "RE%d-PK-%03d-%s" % (1 + g % 4, g // 3, ("BOTTOM", "TOPNARROW", "TOPWIDE")[g % 3])
        change = 0.0 if rng.random() < 2 / 3 else rng.choice(CHANGES)
        rho_ref = 10 ** rng.uniform(10, math.log10(5e11))
        alone = rng.random()
        if alone >= 0.01:
            before.append(result(rng, "base%03d.csv" % (g // SCAN_GAPS), name, rho_ref, "2025-03-01"))
        if alone < 0.01 or alone >= 0.02:
            for repeat in range(2 if rng.random() < 0.25 else 1):
                now.append(result(rng, "now%03d.csv" % repeat, name, rho_ref * (1 + change / 100), "2026-03-0%d" % (1 + repeat)))
        truth.append((name, change, alone < 0.02))
    rng.shuffle(now)
    write_campaign(os.path.join(outdir, "baseline"), before)
    write_campaign(os.path.join(outdir, "now"), now)
    with open(os.path.join(outdir, "truth.csv"), "w") as f:
        f.write("gap,change_pct,one_side_only\n")
        for name, change, alone in truth:
            f.write("%s,%g,%d\n" % (name, change, alone))
    return truth


def measure(gapohm, seeds, gaps):
    counts = {c: [0, 0] for c in (0.0,) + CHANGES}  # gaps, flagged
    pulls, alone_ok, alone_all = [], 0, 0
    for seed in range(1, seeds + 1):
        with tempfile.TemporaryDirectory() as work:
            truth = {name: (change, alone) for name, change, alone in generate(work, seed, gaps)}
            subprocess.run([gapohm, "--report", "--temperature-coefficient", "0.1", "--baseline", "baseline", "-o",
                            "out", "now"], cwd=work, check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(work, "out", "baseline.csv"), newline="") as f:
                rows = list(csv.DictReader(f))
        for row in rows:
            change, alone = truth[row["gap"]]
            if row["flag"] in ("ONLY BASELINE", "ONLY NOW"):
                alone_all += 1
                alone_ok += alone
                continue
            counts[change][0] += 1
            counts[change][1] += row["flag"] == "CHANGED"
            if change == 0.0:
                pulls.append(float(row["sigma"]))
    pulls.sort()
    width = (pulls[int(0.84 * len(pulls))] - pulls[int(0.16 * len(pulls))]) / 2
    print("| true change | gaps | flagged CHANGED |\n|---|---|---|")
    for change, (n, flagged) in sorted(counts.items()):
        print("| %+g %% | %d | %d (%.2f %%) |" % (change, n, flagged, 100.0 * flagged / max(n, 1)))
    print("\nunchanged gaps' sigma: 68 %% half-width %.3f; gaps in one campaign only named: %d of %d truly alone"
          % (width, alone_ok, alone_all))


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--measure":
        measure(os.path.abspath(sys.argv[2]), int(sys.argv[3]) if len(sys.argv) > 3 else 20,
                int(sys.argv[4]) if len(sys.argv) > 4 else 300)
    elif len(sys.argv) > 1:
        generate(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1, int(sys.argv[3]) if len(sys.argv) > 3 else 600)
    else:
        sys.exit(__doc__)
