#!/usr/bin/env python3
"""Writes a set of scans, good and bad, into the directory given: the argon model
with departures (descending HV, a cut last line, bad lines, CR line ends, odd gap
names, temperature drift, a never-conducting gap, an exponential gap). The
snapshot script runs the program on them so that two builds can be compared
byte for byte. Deterministic: the same files every time."""
import math
import os
import random
import sys

HEADER = "DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]"


def steps(top=2300.0):
    v, out = 400.0, []
    while v <= top + 1e-9:
        out.append(v)
        v += 100.0 if v < 1700 else (10.0 if v < 2000 else 15.0)
    return out


def current(v, rho, onset, offset, shape):
    if shape == "dead":
        return offset
    if shape == "exp":
        return offset + 0.05 * math.exp((v - 1700.0) / 120.0)
    ohmic = max(0.0, v - onset) * 1e9 / (0.4 * rho)
    if shape == "knee":
        w = 40.0
        ohmic = w * math.log1p(math.exp((v - onset) / w)) * 1e9 / (0.4 * rho)
    return offset + ohmic


def gap_lines(rng, name, rho, onset, offset, noise, shape="line", top=2300.0, tdrift=0.0):
    lines = []
    vs = steps(top)
    for k, v in enumerate(vs):
        p = 975.0 + rng.uniform(-3, 3)
        t = 21.0 + tdrift * k / max(1, len(vs) - 1)
        applied = v * (0.2 + 0.8 * p / 990.0)
        j = current(v, rho, onset, offset, shape) + rng.gauss(0, noise)
        lines.append(f"{name},{v:.1f},{applied:.1f},{j:.4f},{p:.1f},{t:.2f},{40 + rng.uniform(-1, 1):.1f}")
    return lines


def write(path, lines, end="\n", final_end=True):
    text = end.join(lines) + (end if final_end else "")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def main(out):
    os.makedirs(out, exist_ok=True)
    rng = random.Random(2026)
    gaps = [("RE3-PK-200-BOTTOM", 2.5e10, 1880, 0.5, 0.3), ("RE3-PK-200-TOPNARROW", 3e10, 1900, 0.3, 0.3),
            ("RE3-PK-200-TOPWIDE", 1.2e11, 1900, 0.2, 0.05), ("LAB-GAP-11", 4e11, 1900, 0.1, 0.02)]
    good = [HEADER]
    for g in gaps:
        good += gap_lines(rng, *g)
    write(f"{out}/good.csv", good)
    desc = [HEADER]
    for g in gaps[:2]:
        desc += list(reversed(gap_lines(rng, *g)))
    write(f"{out}/descending.csv", desc)
    cut = good[:-1] + [good[-1][: len(good[-1]) - 3]]
    write(f"{out}/cut_last.csv", cut, final_end=False)
    bad = list(good)
    bad[5] = "RE3-PK-200-BOTTOM,abc,1,2,3,4,5"
    bad[9] = "RE3-PK-200-BOTTOM,1200"
    bad[12] = bad[11]
    bad.insert(20, "")
    bad[30] = bad[30].replace(",", ";", 2)
    write(f"{out}/bad_lines.csv", bad)
    write(f"{out}/cr_only.csv", good, end="\r")
    odd = [HEADER]
    for name in ["ALLcurrents", "a/b", "a_b", "gap with space", "ümlaut-Ω", "x&y%z"]:
        odd += gap_lines(rng, name, 5e10, 1900, 0.2, 0.05)
    write(f"{out}/odd_names.csv", odd)
    shapes = [HEADER]
    shapes += gap_lines(rng, "KNEE-B", 6e10, 1900, 0.3, 0.05, "knee")
    shapes += gap_lines(rng, "DEAD-B", 6e10, 1900, 0.3, 0.05, "dead")
    shapes += gap_lines(rng, "EXP-B", 6e10, 1900, 0.3, 0.05, "exp")
    shapes += gap_lines(rng, "WARM-B", 6e10, 1900, 0.3, 0.05, "line", tdrift=2.0)
    shapes += gap_lines(rng, "SHORT-B", 6e10, 1900, 0.3, 0.05, "line", top=1960)
    write(f"{out}/shapes.csv", shapes)
    std = [HEADER]
    for g in gaps[:2]:
        std += gap_lines(rng, *g, top=2300.0)
    std += gap_lines(rng, "HIGH-B", 3e10, 1900, 0.2, 0.05, top=2600.0)
    write(f"{out}/high_axis.csv", std)
    mixed = [HEADER]
    mixed += gap_lines(rng, "LOW-B", 3e10, 1800, 0.2, 0.05, top=2100.0)
    mixed += gap_lines(rng, "HIGH-TOPWIDE", 3e10, 1900, 0.2, 0.05, top=2600.0)
    mixed += gap_lines(rng, "FEW-B", 3e10, 1900, 0.2, 0.05)[:12]
    write(f"{out}/mixed_axes.csv", mixed)
    write(f"{out}/empty.csv", [HEADER])
    write(f"{out}/garbage.csv", ["\x00\x01binary", "no,commas,here"])


if __name__ == "__main__":
    main(sys.argv[1])
