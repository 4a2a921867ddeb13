#!/usr/bin/env python3
"""How often a gap is PASS, MARGINAL or FAIL when its true onset lies d errors
inside (d > 0) or outside (d < 0) a limit's minimum: writes SCANS results.csv of
GAPS gaps for each d, each onset drawn with its error, runs `gapohm --report
--limits` over them and counts verdicts.csv's rows, beside the rates the rule
predicts (FAIL: x < min - 2 sigma; MARGINAL: within 2 sigma of min).
Usage: verdict_rates.py GAPOHM [SCANS] [GAPS]"""
import csv
import math
import os
import random
import subprocess
import sys
import tempfile

HEADER = ["scan", "gap", "status", "onset_v", "onset_err", "knee_status"]
LIMIT_MIN, SIGMA = 1850.0, 61.0


def phi(z):
    return 0.5 * (1.0 + math.erf(z / math.sqrt(2.0)))


def main():
    gapohm = os.path.abspath(sys.argv[1])
    scans = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    gaps = int(sys.argv[3]) if len(sys.argv) > 3 else 40
    rnd = random.Random(2026)
    print("| d (sigma inside) | gaps | PASS | MARGINAL | FAIL | predicted PASS / MARGINAL / FAIL |")
    print("|---|---|---|---|---|---|")
    for d in (-4.0, -2.0, -1.0, 0.0, 1.0, 2.0, 3.0, 4.0):
        with tempfile.TemporaryDirectory() as work:
            for s in range(scans):
                folder = os.path.join(work, "campaign", "s%03d" % s)
                os.makedirs(folder)
                with open(os.path.join(folder, "results.csv"), "w", newline="") as f:
                    w = csv.writer(f)
                    w.writerow(HEADER)
                    for g in range(gaps):
                        onset = rnd.gauss(LIMIT_MIN + d * SIGMA, SIGMA)
                        w.writerow(["s%03d.csv" % s, "G%03d" % g, "fitted", "%.10g" % onset, SIGMA, "x"])
            with open(os.path.join(work, "limits.csv"), "w") as f:
                f.write("gap,quantity,min,max\n*,onset_v,%g,\n" % LIMIT_MIN)
            subprocess.run([gapohm, "--report", "-o", "out", "--limits", "limits.csv", "campaign"], cwd=work,
                           check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(work, "out", "verdicts.csv"), newline="") as f:
                rows = list(csv.DictReader(line for line in f if not line.startswith("#")))
        n = len(rows)
        count = {v: sum(r["verdict"] == v for r in rows) / n for v in ("PASS", "MARGINAL", "FAIL")}
        predicted = (1 - phi(2 - d), phi(2 - d) - phi(-2 - d), phi(-2 - d))
        print("| %+.0f | %d | %.3f | %.3f | %.3f | %.3f / %.3f / %.3f |" % (
            d, n, count["PASS"], count["MARGINAL"], count["FAIL"], *predicted))


if __name__ == "__main__":
    main()
