#!/usr/bin/env bash
# Whole-process timings of gapohm, with /usr/bin/time:
#   1. one 6-gap argon scan (examples/argon_scan.csv), the median of RUNS runs,
#      with its peak resident memory;
#   2. SCANS copies of it analysed by one --batch call, against SCANS single calls
#      in a row, and the ratio of the two.
# Usage: bench/whole_runs.sh [build dir]   (default build-rel, a Release build)
# Environment: RUNS (default 11), SCANS (default 100), JOBS (passed as -j when set).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-rel}
GAPOHM="$BUILD/gapohm"
RUNS=${RUNS:-11}
SCANS=${SCANS:-100}
JOBS_ARG=()
if [ -n "${JOBS:-}" ]; then JOBS_ARG=(-j "$JOBS"); fi
[ -x "$GAPOHM" ] || { echo "whole_runs: no $GAPOHM; build it first (cmake -DCMAKE_BUILD_TYPE=Release)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Prints "<elapsed s> <peak KiB>" of one command.
measure() {
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr" ||
    { cat "$WORK/stderr" >&2; echo "whole_runs: command failed: $*" >&2; exit 1; }
  cat "$WORK/time"
}

for ((k = 0; k < RUNS; ++k)); do
  measure "$GAPOHM" "${JOBS_ARG[@]}" -o "$WORK/single" examples/argon_scan.csv
done | sort -n >"$WORK/singles"
median=$(awk -v n="$RUNS" 'NR == int((n + 1) / 2) { print $1 }' "$WORK/singles")
peak=$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { printf "%.1f", m / 1024 }' "$WORK/singles")
echo "one 6-gap argon scan: median ${median} s of $RUNS runs, peak ${peak} MiB"

mkdir -p "$WORK/scans"
for ((k = 1; k <= SCANS; ++k)); do cp examples/argon_scan.csv "$WORK/scans/$(printf 'scan_%03d.csv' "$k")"; done

start=$(date +%s.%N)
for f in "$WORK"/scans/*.csv; do
  "$GAPOHM" "${JOBS_ARG[@]}" -o "$WORK/singles-out/$(basename "$f" .csv)" "$f" >/dev/null 2>&1
done
singles=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')

read -r batch batchPeak < <(measure "$GAPOHM" "${JOBS_ARG[@]}" --batch -o "$WORK/batch-out" "$WORK/scans")
awk -v n="$SCANS" -v s="$singles" -v b="$batch" -v p="$batchPeak" 'BEGIN {
  printf "%d scans: %d single calls %.2f s, one batch call %.2f s (peak %.1f MiB): %.2fx faster\n", n, n, s, b, p / 1024, s / b }'
