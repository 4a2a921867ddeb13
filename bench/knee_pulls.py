#!/usr/bin/env python3
"""How honest the knee fit's resistivity errors are, on generated argon scans of
known truth: gaps of the knee fit's own model and scans cut short 3-12 HV steps
above the knee (the generators of bench/flag_rates.py), run through one --batch
of the built program. Pull = (rho - rho_true) / its error.

  bench/knee_pulls.py BUILD WORKDIR [gaps per kind] [seed]

Prints per kind: results, the pull width (half the 16-84 % range), the share
beyond 3 sigma, the same for the results whose width sits at its 0.5 V bound,
and the share of results carrying a knee flag."""
import csv, os, random, subprocess, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from flag_rates import random_gap, write_scan

GAP_LENGTH_CM = 0.4

def width(pulls):
    q = sorted(pulls)
    return (q[int(0.84 * len(q))] - q[int(0.16 * len(q))]) / 2 if len(q) > 2 else float("nan")

def main():
    build, work = sys.argv[1], sys.argv[2]
    per_kind = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 2026)
    scans, truth = os.path.join(work, "scans"), {}
    os.makedirs(scans, exist_ok=True)
    for kind in ("model", "cut"):
        for n in range(0, per_kind, 6):
            gaps = [(f"{kind.upper()}-{n + k:04d}", random_gap(kind, rng)) for k in range(min(6, per_kind - n))]
            truth.update({name: (kind, g) for name, g in gaps})
            write_scan(os.path.join(scans, f"{kind}_{n:04d}.csv"), gaps, kind, rng)
    subprocess.run([os.path.join(build, "gapohm"), "--batch", "-o", os.path.join(work, "out"), scans],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print("| kind | knee results | pull width | beyond 3 sigma | at bound | their pull width | knee-flagged |")
    print("|---|---|---|---|---|---|---|")
    rows = [r for r in csv.DictReader(open(os.path.join(work, "out", "BatchSummary.csv"))) if r["knee_status"] == "fitted"]
    for kind in ("model", "cut"):
        pulls, bound, flagged = [], [], 0
        for r in rows:
            k, g = truth[r["gap"]]
            if k != kind:
                continue
            p = (float(r["knee_rho_ohm_cm"]) - 1e9 / (GAP_LENGTH_CM * g["s"])) / float(r["knee_rho_err"])
            pulls.append(p)
            if float(r["knee_width_v"]) <= 0.5001:
                bound.append(p)
            flagged += any(f.startswith("knee-") for f in r["flags"].split(";"))
        beyond = sum(abs(p) > 3 for p in pulls)
        print(f"| {kind} | {len(pulls)} | {width(pulls):.2f} | {100 * beyond / max(len(pulls), 1):.1f} % | "
              f"{len(bound)} | {width(bound):.2f} | {100 * flagged / max(len(pulls), 1):.1f} % |")

main()
