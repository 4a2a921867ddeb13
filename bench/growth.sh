#!/usr/bin/env bash
# Whole runs that grow: writes scans of each LINES size (4 gaps, HVeff rising from
# 1000 to 2300 V over each gap's points, a flat 0.5 nA/cm2 below 1800 V and then
# ohmic at 0.08 nA/cm2 per V, 1 % gaussian noise, fixed seed) and times one run of
# the build on each with /usr/bin/time, capped at TIMEOUT seconds (default 120).
# Prints "lines wall_s user_s sys_s peak_KiB cpu_us_per_line" or "did not finish".
# GAPS (1 to 4, default 4) sets how many gaps share the lines: GAPS=1 gives one
# gap of all of them.
# Usage: [GAPS=n] bench/growth.sh [build dir] [lines...]   (default build-rel; 10000 100000 1000000)
set -uo pipefail
cd "$(dirname "$0")/.."
GAPOHM="$(cd "${1:-build-rel}" && pwd)/gapohm"
shift || true
SIZES=("$@"); [ ${#SIZES[@]} -gt 0 ] || SIZES=(10000 100000 1000000)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-growth-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
for n in "${SIZES[@]}"; do
  python3 - "$n" "${GAPS:-4}" >"$WORK/scan_$n.csv" <<'EOF'
import random, sys
n, gaps = int(sys.argv[1]), int(sys.argv[2]); per = n // gaps; rnd = random.Random(12345)
print("DETECTOR,HVeff [V],HVapp [V],Current [nA/cm2],Pressure [mbar],Temperature [C],Humidity [%]")
for g in ("GROW-01-BOTTOM", "GROW-02-TOPNARROW", "GROW-03-TOPWIDE", "GROW-04-BOTTOM")[:gaps]:
    for k in range(per):
        hv = 1000.0 + 1300.0 * k / (per - 1)
        p, t = 990.0 + 10.0 * rnd.random(), 21.0 + rnd.random()
        i = 0.5 + (0.08 * (hv - 1800.0) if hv > 1800.0 else 0.0)
        print(f"{g},{hv:.3f},{hv * (990.0 / p) * (t + 273.15) / 293.15:.3f},"
              f"{i * (1.0 + 0.01 * rnd.gauss(0.0, 1.0)):.5f},{p:.1f},{t:.2f},40.0")
EOF
  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" timeout "${TIMEOUT:-120}" \
    "$GAPOHM" -o "$WORK/out_$n" "$WORK/scan_$n.csv" >/dev/null 2>"$WORK/err_$n"
  rc=$?
  if [ "$rc" -eq 124 ]; then echo "$n did not finish in ${TIMEOUT:-120} s"
  elif [ "$rc" -ne 0 ]; then echo "$n failed (exit $rc): $(tail -1 "$WORK/err_$n")"
  else awk -v n="$n" '{ printf "%d %s %s %s %s %.2f\n", n, $1, $2, $3, $4, ($2 + $3) * 1e6 / n }' "$WORK/time"; fi
done
