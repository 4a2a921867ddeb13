#!/usr/bin/env python3
"""How often results carry flags, by kind of gap: generated argon scans of known
shape (the knee fit's own model, a sharp hinge, a Gaussian-smoothed knee, a pure
exponential, a gap that never conducts), run through one --batch of the built
program, then counted from the batch summary.

  bench/flag_rates.py BUILD WORKDIR [gaps per kind] [seed]

Prints a Markdown table: per kind, the gaps, the window-search results, the
share of them that carry a flag, the knee results and the share of all results
carrying a flag of their own (or the gap's), and the flags seen most."""
import csv, math, os, random, subprocess, sys
from collections import Counter

def softplus(t):
    return t + math.log1p(math.exp(-t)) if t > 0 else math.log1p(math.exp(t))

def shape(kind, g, v):
    x = v - g["v0"]
    if kind in ("model", "cut"):
        return g["c"] + g["s"] * g["w"] * softplus(x / g["w"])
    if kind == "hinge":
        return g["c"] + g["s"] * max(x, 0.0)
    if kind == "gauss":
        u = x / g["w"]
        pdf = math.exp(-0.5 * u * u) / math.sqrt(2 * math.pi)
        return g["c"] + g["s"] * (x * 0.5 * math.erfc(-u / math.sqrt(2)) + g["w"] * pdf)
    if kind == "exponential":
        return g["c"] + g["s"] * g["w"] * math.exp(min(x / g["w"], 50))
    return g["c"]  # never conducts

def random_gap(kind, rng):
    while True:
        g = dict(low=950 + 150 * rng.random(), high=2150 + 150 * rng.random(), points=45 + int(36 * rng.random()),
                 v0=1500 + 400 * rng.random(), c=0.5 * rng.random(), w=2 + 38 * rng.random(),
                 noise=0.01 + 0.02 * rng.random())
        g["s"] = 1e9 / (0.4 * 10 ** (10 + math.log10(50) * rng.random()))
        if kind == "exponential":
            g["w"] = 60 + 100 * rng.random()
            g["v0"] = g["high"] - g["w"] * math.log(200 * rng.random() + 20)
        if kind == "never":
            g["noise"] = 0.05 + 0.2 * rng.random()
        step = (g["high"] - g["low"]) / (g["points"] - 1)
        if kind == "cut":  # stopped 3-12 points above the knee
            g["high"] = g["v0"] + g["w"] + step * rng.randint(3, 12)
        if kind in ("never", "exponential", "cut") or (g["high"] - g["v0"] - 2 * g["w"]) / step >= 8:
            return g

def write_scan(path, gaps, kind, rng):
    with open(path, "w") as f:
        f.write("DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]\n")
        for name, g in gaps:
            top = shape(kind, g, g["high"])
            sigma = g["noise"] * (top if kind != "never" else 1.0)
            for i in range(g["points"]):
                v = g["low"] + (g["high"] - g["low"]) * i / (g["points"] - 1)
                j = shape(kind, g, v) + rng.gauss(0, sigma)
                f.write(f"{name},{v:.1f},{v:.1f},{j:.6g},990.0,{20 + rng.random():.2f},40.0\n")

def main():
    build, work = sys.argv[1], sys.argv[2]
    per_kind = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 2026)
    kinds = ["model", "hinge", "gauss", "cut", "exponential", "never"]
    scans = os.path.join(work, "scans")
    os.makedirs(scans, exist_ok=True)
    for kind in kinds:
        for n in range(0, per_kind, 6):
            gaps = [(f"{kind.upper()}-{n + k:04d}", random_gap(kind, rng)) for k in range(min(6, per_kind - n))]
            write_scan(os.path.join(scans, f"{kind}_{n:04d}.csv"), gaps, kind, rng)
    subprocess.run([os.path.join(build, "gapohm"), "--batch", "-o", os.path.join(work, "out"), scans],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rows = list(csv.DictReader(open(os.path.join(work, "out", "BatchSummary.csv"))))
    print("| kind | gaps | window results | window flagged | knee results | knee flagged | most seen |")
    print("|---|---|---|---|---|---|---|")
    for kind in kinds:
        mine = [r for r in rows if r["gap"].startswith(kind.upper() + "-")]
        window = [r for r in mine if r["status"] == "fitted"]
        knee = [r for r in mine if r["knee_status"] == "fitted"]
        flags = lambda r: [f for f in r["flags"].split(";") if f]
        window_flag = lambda f: f.startswith("window") or f == "methods-disagree"
        seen = Counter(f for r in mine for f in r["flags"].split(";") if f)
        share = lambda part, whole: f"{100 * len(part) / len(whole):.1f} %" if whole else "-"
        print(f"| {kind} | {len(mine)} | {len(window)} | "
              f"{share([r for r in window if any(window_flag(f) for f in flags(r))], window)} | {len(knee)} | "
              f"{share([r for r in knee if any(not window_flag(f) for f in flags(r))], knee)} | "
              f"{', '.join(f'{k} {v}' for k, v in seen.most_common(3))} |")

if __name__ == "__main__":
    main()
