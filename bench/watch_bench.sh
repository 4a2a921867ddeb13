#!/usr/bin/env bash
# The watch mode's costs, on the 6-gap example scan (examples/argon_scan.csv):
#   1. an idle watcher (the scan not growing) for IDLE seconds: its CPU time, as
#      a share of one core, at --interval 2 (the default) and 0.5;
#   2. one update (one line appended to the scan less its last line, until
#      live.html shows it): the watcher's CPU time and the wall time from the
#      append, against a plain run of the whole scan (CPU and wall, /usr/bin/time);
#      the median of RUNS of each.
# Usage: bench/watch_bench.sh [build dir]   (default build)
# Environment: IDLE (default 60), RUNS (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."
GAPOHM=$(pwd)/${1:-build}/gapohm
IDLE=${IDLE:-60}
RUNS=${RUNS:-7}
[ -x "$GAPOHM" ] || { echo "watch_bench: no $GAPOHM" >&2; exit 1; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-watch-bench-XXXXXX")
watcher=
cleanup() {
  if [ -n "$watcher" ]; then kill "$watcher" 2> /dev/null || true; wait "$watcher" 2> /dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
TICKS=$(getconf CLK_TCK)
SCAN=examples/argon_scan.csv
LINES=$(wc -l < "$SCAN")

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
# Waits until the live page shows $2 lines read.
wait_page() {
  for _ in $(seq 1200); do
    grep -q "<p>$2 lines read" "$1/live.html" 2> /dev/null && return 0
    sleep 0.05
  done
  echo "watch_bench: the page never showed $2 lines" >&2
  exit 1
}
start_watch() {  # dir interval
  "$GAPOHM" --watch --interval "$2" --idle 3600 -o "$1/out" "$1/scan.csv" > /dev/null 2> "$1/err" &
  watcher=$!
}
stop_watch() { kill -TERM "$watcher"; wait "$watcher" || true; watcher=; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "idle watcher, $IDLE s, scan not growing:"
printf '  %-10s %12s %12s\n' interval "cpu s" "% of a core"
for interval in 2 0.5; do
  dir="$WORK/idle$interval"; mkdir -p "$dir"; cp "$SCAN" "$dir/scan.csv"
  start_watch "$dir" "$interval"
  wait_page "$dir/out" "$LINES"
  sleep 1
  before=$(cpu_ticks "$watcher")
  sleep "$IDLE"
  after=$(cpu_ticks "$watcher")
  stop_watch
  awk -v t="$((after - before))" -v hz="$TICKS" -v s="$IDLE" -v i="$interval" \
    'BEGIN {printf "  %-10s %12.2f %11.3f%%\n", i, t / hz, 100 * t / hz / s}'
done

: > "$WORK/update_cpu"; : > "$WORK/update_wall"; : > "$WORK/plain_cpu"; : > "$WORK/plain_wall"
for r in $(seq "$RUNS"); do
  dir="$WORK/update$r"; mkdir -p "$dir"; head -n $((LINES - 1)) "$SCAN" > "$dir/scan.csv"
  start_watch "$dir" 2
  wait_page "$dir/out" $((LINES - 1))
  sleep 2.5  # past the interval: the next update starts at the append
  before=$(cpu_ticks "$watcher"); t0=$(now)
  tail -n 1 "$SCAN" >> "$dir/scan.csv"
  wait_page "$dir/out" "$LINES"
  t1=$(now); sleep 0.3
  after=$(cpu_ticks "$watcher")
  stop_watch
  awk -v t="$((after - before))" -v hz="$TICKS" 'BEGIN {print t / hz}' >> "$WORK/update_cpu"
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}' >> "$WORK/update_wall"
  /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$GAPOHM" -q -o "$dir/plain" "$SCAN" > /dev/null 2>&1
  awk '{print $1}' "$WORK/time" >> "$WORK/plain_wall"
  awk '{print $2 + $3}' "$WORK/time" >> "$WORK/plain_cpu"
done
echo "one update of the 6-gap scan against one plain run of it, median of $RUNS:"
printf '  %-14s %10s %10s\n' "" "cpu s" "wall s"
printf '  %-14s %10s %10s\n' "update" "$(median < "$WORK/update_cpu")" "$(median < "$WORK/update_wall")"
printf '  %-14s %10s %10s\n' "plain run" "$(median < "$WORK/plain_cpu")" "$(median < "$WORK/plain_wall")"
