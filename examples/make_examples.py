#!/usr/bin/env python3
"""Writes the example scans of gapohm: an argon scan and a standard scan.

The argon scan's gaps follow a known model: a constant leakage level below an
onset voltage and an ohmic rise above it,
    J(V) = offset                          for V <= onset
    J(V) = offset + slope * (V - onset)    above,
with slope = 1e9 / (0.4 cm * resistivity), plus Gaussian noise. The resistivities
the file was made from are printed and listed in examples/README.md; the tests
check that gapohm finds them again. Run: python3 examples/make_examples.py
"""
import math
import random

ALPHA, P0 = 0.8, 990.0
HEADER = "DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]"

# name, resistivity [Ohm cm], onset [V], offset [nA/cm2], noise sd [nA/cm2], seed
ARGON_GAPS = [
    ("RE3-PK-154-BOTTOM", 2.5e10, 1880.0, 0.50, 0.85, 11),
    ("RE3-PK-154-TOPNARROW", 3.0e10, 1900.0, 0.30, 0.85, 12),
    ("RE3-PK-154-TOPWIDE", 1.25e11, 1900.0, 0.20, 0.062, 13),
    ("RE3-PK-065-BOTTOM", 2.0e10, 1900.0, 0.40, 0.85, 34),
    ("KODEL-HXD-RE4-3-B002", 1.0e11, 1950.0, 0.25, 0.062, 15),
    ("LAB-GAP-07", 4.0e11, 1900.0, 0.10, 0.025, 16),
]


def argon_steps():
    """65 effective-HV steps: 14 up to 1700 V, 31 up to 2000 V, 20 up to 2300 V."""
    low = [400.0 + k * 100.0 for k in range(14)]            # 400 .. 1700
    mid = [1710.0 + k * (290.0 / 30.0) for k in range(31)]   # 1710 .. 2000
    high = [2015.0 + k * 15.0 for k in range(20)]           # 2015 .. 2300
    return low + mid + high


def weather(rng, k, n):
    """Slowly drifting pressure, temperature and humidity over a scan."""
    pressure = 980.0 + 25.0 * math.sin(2.0 * math.pi * k / n) + rng.gauss(0.0, 0.3)
    temperature = 21.0 + 1.5 * k / n + rng.gauss(0.0, 0.05)
    humidity = 38.0 + 4.0 * math.cos(math.pi * k / n) + rng.gauss(0.0, 0.2)
    return pressure, temperature, humidity


def correction(pressure):
    return (1.0 - ALPHA) + ALPHA * pressure / P0


def write_argon(path):
    lines = [HEADER]
    steps = argon_steps()
    for name, rho, onset, offset, sd, seed in ARGON_GAPS:
        rng = random.Random(seed)
        slope = 1e9 / (0.4 * rho)
        for k, hveff in enumerate(steps):
            pressure, temperature, humidity = weather(rng, k, len(steps))
            hvapp = round(hveff * correction(pressure), 1)
            v = hvapp / correction(pressure)  # the HV the program will plot
            j = offset + (slope * (v - onset) if v > onset else 0.0) + rng.gauss(0.0, sd)
            lines.append(f"{name},{hveff:.1f},{hvapp:.1f},{j:.4f},{pressure:.1f},{temperature:.2f},{humidity:.1f}")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


STANDARD_GAPS = [("RE3-PK-154-BOTTOM", 21), ("RE3-PK-154-TOPNARROW", 22), ("RE3-PK-154-TOPWIDE", 23)]


def write_standard(path):
    # 8 steps up to 8000 V, 1 up to 9000 V, 11 above: the planned standard scan.
    steps = [1000.0, 1500.0, 3000.0, 4500.0, 6000.0, 7000.0, 7500.0, 8000.0, 8800.0] + \
            [9100.0 + k * 100.0 for k in range(11)]
    lines = [HEADER]
    for name, seed in STANDARD_GAPS:
        rng = random.Random(seed)
        for k, hveff in enumerate(steps):
            pressure, temperature, humidity = weather(rng, k, len(steps))
            hvapp = round(hveff * correction(pressure), 1)
            ohmic = hveff / 8.0e3
            gain = 0.02 * math.exp((hveff - 9000.0) / 350.0)
            j = ohmic + gain + abs(rng.gauss(0.0, 0.01))
            lines.append(f"{name},{hveff:.1f},{hvapp:.1f},{j:.4f},{pressure:.1f},{temperature:.2f},{humidity:.1f}")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    import os
    here = os.path.dirname(os.path.abspath(__file__))
    write_argon(os.path.join(here, "argon_scan.csv"))
    write_standard(os.path.join(here, "standard_scan.csv"))
    for name, rho, onset, offset, sd, seed in ARGON_GAPS:
        print(f"{name}: resistivity {rho:g} Ohm cm, onset {onset:g} V, offset {offset:g} nA/cm2")
