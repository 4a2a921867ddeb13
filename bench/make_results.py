#!/usr/bin/env python3
"""Writes N scan folders, each with a results.csv of 8 gaps, as runs of gapohm
leave them: the campaign tree the report benchmark and the browser test read.
The same 8 gaps are measured in every scan, a day apart, at 16-28 C with
rho following exp(-0.1 (T - 20)), so that the report's history and temperature
fit run over every scan.
Usage: make_results.py OUTDIR N [FIGURE.png] [--gaps G [--seed S]]  (FIGURE,
when given, is copied as each gap's figure).
With --gaps, the campaign holds G gaps of their own (chambers of a BOTTOM, a
TOPNARROW and a TOPWIDE gap, some named as long as real ones), dealt out over the
N scans in order; about one chamber in eight is measured again in a later scan,
and one knee onset has a wild error (+-3600 V), as a QC campaign of many chambers
has them: the case of the report's summary figures at scale."""
import datetime
import math
import os
import random
import shutil
import sys

COLUMNS = ("scan,gap,status,area_cm2,area_source,points,rho_ohm_cm,rho_err,resistance_ohm,"
           "resistance_err,rho_area_ohm_cm2,rho_area_err,offset_na_cm2,offset_err,onset_v,onset_err,"
           "chi2,ndf,fit_test,window_start_v,window_points,pressure_mean,temperature_mean,humidity_mean,"
           "knee_status,knee_rho_ohm_cm,knee_rho_err,knee_resistance_ohm,knee_resistance_err,knee_onset_v,"
           "knee_onset_err,knee_offset_na_cm2,knee_offset_err,knee_width_v,knee_noise,knee_points,"
           "knee_dropped,knee_durbin_watson,rho_ref_ohm_cm,rho_ref_err,knee_rho_ref_ohm_cm,"
           "knee_rho_ref_err,knee_temperature_mean,scan_date").split(",")
GAPS = [("KODEL-HXD-RE4-3-B002", 19660), ("KODEL-HXD-RE4-3-B009", 19660),
        ("RE3-PK-154-BOTTOM", 19660), ("RE3-PK-154-TOPNARROW", 5550),
        ("RE3-PK-154-TOPWIDE", 13130), ("RE3-PK-065-BOTTOM", 19660),
        ("RE3-PK-065-TOPWIDE", 13130), ("RE3-PK-065-TOPNARROW", 5550)]


def g(v):
    return "%.10g" % v


def row(scan, gap, area, rnd, day):
    cells = dict.fromkeys(COLUMNS, "")
    cells.update(scan=scan, gap=gap, area_cm2=g(area), area_source="type word", points="40")
    if rnd.random() < 0.1:
        cells["status"] = "no ohmic region found"
    else:
        rho = 10 ** rnd.uniform(10, 11.5)
        cells.update(status="fitted", rho_ohm_cm=g(rho), rho_err=g(rho * 0.01),
                     resistance_ohm=g(rho * 0.4 / area), resistance_err=g(rho * 0.004 / area),
                     rho_area_ohm_cm2=g(rho * 0.4), rho_area_err=g(rho * 0.004),
                     offset_na_cm2=g(rnd.uniform(0.1, 0.8)), offset_err=g(0.05),
                     onset_v=g(rnd.uniform(1850, 1950)), onset_err=g(20))
    celsius = rnd.uniform(16, 28)
    cells.update(temperature_mean=g(celsius), knee_temperature_mean=g(celsius),
                 scan_date=(datetime.date(2024, 1, 1) + datetime.timedelta(days=day)).isoformat())
    if rnd.random() < 0.15:
        cells["knee_status"] = "only 12 points (the fit needs 18)"
    else:
        rho = 10 ** rnd.uniform(10, 11.5) * math.exp(-0.1 * (celsius - 20))
        cells.update(knee_status="fitted", knee_rho_ohm_cm=g(rho), knee_rho_err=g(rho * 0.02),
                     knee_resistance_ohm=g(rho * 0.4 / area), knee_resistance_err=g(rho * 0.008 / area),
                     knee_onset_v=g(rnd.uniform(1850, 1950)), knee_onset_err=g(15),
                     knee_offset_na_cm2=g(rnd.uniform(0.1, 0.8)), knee_offset_err=g(0.04))
    return ",".join(cells[c] for c in COLUMNS)


def many_gaps(count, rnd):
    """`count` gap names with their areas, three to a chamber, names of 17 to 31 characters."""
    gaps, k = [], 0
    while len(gaps) < count:
        chamber = rnd.choice(["RE3-PK-%03d", "RE4-2-BARC-%03d", "KODEL-RE4-3-PROD-%04d"]) % k
        for word, area in (("BOTTOM", 19660), ("TOPNARROW", 5550), ("TOPWIDE", 13130))[:count - len(gaps)]:
            gaps.append((chamber + "-" + word, area))
        k += 1
    return gaps


def write_scan(out, k, figure, rows, gaps):
    scan = "hvscan_%04d" % k
    folder = os.path.join(out, "site%d" % (k % 4), scan)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "results.csv"), "w") as f:
        f.write("\n".join([",".join(COLUMNS)] + rows) + "\n")
    if figure:
        for gap, _ in gaps:
            shutil.copyfile(figure, os.path.join(folder, gap + ".png"))


def many_gap_campaign(out, n, figure, count, seed):
    rnd = random.Random(seed)
    gaps = many_gaps(count, rnd)
    share = [gaps[k * len(gaps) // n:(k + 1) * len(gaps) // n] for k in range(n)]
    chamber = {gap: i // 3 for i, gap in enumerate(gaps)}
    for k in range(n - 1):  # a chamber in eight measured again in a later scan
        again = [gap for gap in share[k] if chamber[gap] % 8 == 3]
        share[k + 1 + rnd.randrange(n - 1 - k)] += again
    wild = rnd.randrange(len(gaps))
    for k in range(n):
        rows = [row("hvscan_%04d.csv" % k, gap, area, rnd, 7 * k) for gap, area in share[k]]
        rows = [wild_onset(line) if gap == gaps[wild] else line for line, gap in zip(rows, share[k])]
        write_scan(out, k, figure, rows, share[k])


def wild_onset(line):
    """The row with each onset it has given an error of 3600 V."""
    cells = dict(zip(COLUMNS, line.split(",")))
    for column in ("onset_v", "knee_onset_v"):
        if cells[column]:
            cells[column.replace("_v", "_err")] = "3600"
    return ",".join(cells[c] for c in COLUMNS)


def main():
    args = sys.argv[1:]
    options = {}
    for name in ("--gaps", "--seed"):
        if name in args:
            at = args.index(name)
            options[name] = int(args[at + 1])
            del args[at:at + 2]
    out, n = args[0], int(args[1])
    figure = args[2] if len(args) > 2 else None
    if "--gaps" in options:
        many_gap_campaign(out, n, figure, options["--gaps"], options.get("--seed", 1))
        return
    rnd = random.Random(12345)
    for k in range(n):
        scan = "hvscan_%04d" % k
        folder = os.path.join(out, "site%d" % (k % 4), scan)
        os.makedirs(folder, exist_ok=True)
        lines = [",".join(COLUMNS)] + [row(scan + ".csv", gap, area, rnd, k) for gap, area in GAPS]
        with open(os.path.join(folder, "results.csv"), "w") as f:
            f.write("\n".join(lines) + "\n")
        if figure:
            for gap, _ in GAPS:
                shutil.copyfile(figure, os.path.join(folder, gap + ".png"))


if __name__ == "__main__":
    main()
