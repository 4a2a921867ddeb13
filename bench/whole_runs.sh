#!/usr/bin/env bash
# Whole-process timings of gapohm, with /usr/bin/time:
#   1. one 6-gap argon scan (examples/argon_scan.csv), the median of RUNS runs,
#      with its peak resident memory;
#   2. SCANS copies of it analysed by one --batch call, against SCANS single calls
#      in a row, and the ratio of the two;
#   3. a campaign of CAMPAIGN generated argon scans (3 or 4 of the example's gaps
#      each, currents scaled at random: about 3.5 gaps a scan) in one --batch
#      --annotate call, knee fits, thumbnails and report page included: wall,
#      user, system, peak memory, and its wall time over the single run's median.
# Usage: bench/whole_runs.sh [build dir]   (default build-rel, a Release build)
# Outputs go under $TMPDIR (else /tmp). On an ext4 file system without a journal,
# creating a file costs more the more files were deleted in the last seconds, so
# runs there slow each other down; TMPDIR=/dev/shm measures the program alone.
# Environment: RUNS (default 11), SCANS (default 100), CAMPAIGN (default 1000; 0
# skips it), JOBS (passed as -j when set).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-rel}
GAPOHM="$BUILD/gapohm"
RUNS=${RUNS:-11}
SCANS=${SCANS:-100}
CAMPAIGN=${CAMPAIGN:-1000}
JOBS_ARG=()
if [ -n "${JOBS:-}" ]; then JOBS_ARG=(-j "$JOBS"); fi
[ -x "$GAPOHM" ] || { echo "whole_runs: no $GAPOHM; build it first (cmake -DCMAKE_BUILD_TYPE=Release)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Prints "<elapsed s> <peak KiB>" of one command. The elapsed time is taken to
# the nanosecond around it: /usr/bin/time gives hundredths, a tenth of a single
# run's time.
measure() {
  local start
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr" ||
    { cat "$WORK/stderr" >&2; echo "whole_runs: command failed: $*" >&2; exit 1; }
  awk -v a="$start" -v b="$(date +%s.%N)" -v m="$(cat "$WORK/time")" 'BEGIN { printf "%.4f %d\n", b - a, m }'
}

# Each run into a directory of its own: a run that replaced the last one's files
# would delete them, and on ext4 without a journal the deletions would slow the
# phases measured after it.
for ((k = 0; k < RUNS; ++k)); do
  measure "$GAPOHM" "${JOBS_ARG[@]}" -o "$WORK/single-$k" examples/argon_scan.csv
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

[ "$CAMPAIGN" -gt 0 ] || exit 0
mkdir -p "$WORK/campaign"
python3 - "$WORK/campaign" "$CAMPAIGN" examples/argon_scan.csv <<'PY'
import random, sys
out, count, example = sys.argv[1], int(sys.argv[2]), sys.argv[3]
lines = open(example).read().splitlines()
header, gaps = lines[0], {}
for line in lines[1:]:
    gaps.setdefault(line.split(",")[0], []).append(line.split(","))
names = sorted(gaps)
for k in range(count):
    rng = random.Random(k)
    with open(f"{out}/scan_{k:04d}.csv", "w") as f:
        f.write(header + "\n")
        for gap in rng.sample(names, rng.choice((3, 4))):
            scale = rng.uniform(0.7, 1.4)
            for fields in gaps[gap]:
                fields = list(fields)
                fields[3] = "%.6g" % (float(fields[3]) * scale)
                f.write(",".join(fields) + "\n")
PY
/usr/bin/time -f "%e %U %S %M" -o "$WORK/time" "$GAPOHM" "${JOBS_ARG[@]}" --batch --annotate -o "$WORK/campaign-out" \
  "$WORK/campaign" >/dev/null 2>"$WORK/stderr" || { tail -5 "$WORK/stderr" >&2; echo "whole_runs: the campaign failed" >&2; }
gaps=$(($(wc -l <"$WORK/campaign-out/BatchSummary.csv") - 1))
read -r wall user sys peakKb <"$WORK/time"
awk -v n="$CAMPAIGN" -v g="$gaps" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peakKb" -v one="$median" 'BEGIN {
  printf "campaign of %d scans (%d gaps), one --batch --annotate call with its report: wall %.2f s, user %.2f s, system %.2f s, peak %.1f MiB: %.0fx one single run\n", n, g, w, u, s, p / 1024, w / one }'
