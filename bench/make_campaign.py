#!/usr/bin/env python3
"""Writes the scan files of a generated QC campaign whose truth is known: chambers
of three gaps (BOTTOM, TOPNARROW, TOPWIDE), each chamber scanned on several dates
(OUTDIR/scans/chamberNN_YYYY-MM-DD.csv, the date in the name), the resistivity of every
gap following rho_ref exp(-ALPHA (T - 20)) point by point with the scan's
temperature, knee-shaped curves as the knee fit models them (argon scans).

  make_campaign.py OUTDIR [alpha|drift] [seed] [chambers]

  alpha  10 chambers (30 gaps) x 6 monthly scans, each at 16-28 C, no drift
  drift  10 chambers x 4 monthly scans while the season warms (16 C in the first
         month to 28 C in the fourth, +-2 C); gap BOTTOM of chambers 00 and 01
         ages +10 % a month
Writes OUTDIR/truth.csv (gap, rho_ref at 20 C, drift in % a month)."""
import datetime, math, os, random, sys

ALPHA = 0.10
HEADER = "DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]\n"


def softplus(t):
    return t + math.log1p(math.exp(-t)) if t > 0 else math.log1p(math.exp(t))


def random_gap(rng):
    while True:
        g = dict(low=950 + 150 * rng.random(), high=2150 + 150 * rng.random(), points=45 + int(36 * rng.random()),
                 v0=1500 + 400 * rng.random(), c=0.5 * rng.random(), w=2 + 38 * rng.random(),
                 noise=0.01 + 0.02 * rng.random(), rho=10 ** (10 + math.log10(50) * rng.random()))
        step = (g["high"] - g["low"]) / (g["points"] - 1)
        if (g["high"] - g["v0"] - 2 * g["w"]) / step >= 8:
            return g


def current(g, v, rho, celsius):
    s = 1e9 / (0.4 * rho) * math.exp(ALPHA * (celsius - 20))
    return g["c"] + s * g["w"] * softplus((v - g["v0"]) / g["w"])


def write_scan(path, gaps, celsius, rng):
    with open(path, "w") as f:
        f.write(HEADER)
        for name, g, rho in gaps:
            sigma = g["noise"] * current(g, g["high"], rho, celsius)
            for i in range(g["points"]):
                v = g["low"] + (g["high"] - g["low"]) * i / (g["points"] - 1)
                t = celsius + rng.uniform(-0.1, 0.1)
                j = current(g, v, rho, t) + rng.gauss(0, sigma)
                f.write(f"{name},{v:.1f},{v:.1f},{j:.6g},990.0,{t:.2f},40.0\n")


def main():
    out = sys.argv[1]
    kind = sys.argv[2] if len(sys.argv) > 2 else "alpha"
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    chambers = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    scans = 6 if kind == "alpha" else 4
    os.makedirs(os.path.join(out, "scans"), exist_ok=True)
    start = datetime.date(2026, 1, 5)
    truth = ["gap,rho_ref_ohm_cm,drift_percent_per_month"]
    for k in range(chambers):
        gaps = [(f"RE4-CF-{k:03d}-{kind_}", random_gap(rng)) for kind_ in ("BOTTOM", "TOPNARROW", "TOPWIDE")]
        ageing = {name: 10.0 if kind == "drift" and k < 2 and name.endswith("BOTTOM") else 0.0 for name, _ in gaps}
        truth += [f"{name},{g['rho']:.6g},{ageing[name]:g}" for name, g in gaps]
        for s in range(scans):
            day = round(30.44 * s + rng.uniform(-3, 3)) + k
            if kind == "alpha":
                celsius = rng.uniform(16, 28)
            else:
                celsius = min(28.0, max(16.0, 16 + 4 * s + rng.uniform(-2, 2)))
            date = start + datetime.timedelta(days=day)
            rhos = [(name, g, g["rho"] * (1 + ageing[name] / 100) ** (day / 30.44)) for name, g in gaps]
            write_scan(os.path.join(out, "scans", f"chamber{k:02d}_{date.isoformat()}.csv"), rhos, celsius, rng)
    with open(os.path.join(out, "truth.csv"), "w") as f:
        f.write("\n".join(truth) + "\n")


main()
