#!/usr/bin/env bash
# The watch mode's end against a plain run, on the generated scans of
# bench/snapshot_scans.py (good and bad: a cut last line, bad lines, CR line
# ends, odd gap names, descending HV, ...): each scan is written in CHUNKS
# pieces cut at random bytes (mid-line too), a pause between them, while
# `gapohm --watch` follows it; then the outputs are compared with those of a
# plain run on the same file, byte for byte, and the exit statuses. One table
# line a scan. Usage: bench/watch_equal.sh [build dir]   (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
GAPOHM=$(pwd)/${1:-build}/gapohm
CHUNKS=${CHUNKS:-6}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-watch-equal-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
python3 bench/snapshot_scans.py "$WORK/scans" > /dev/null
printf '%-34s %6s %6s %6s %9s\n' scan watch plain files differing
total=0 bad=0
for scan in "$WORK"/scans/*.csv; do
  name=$(basename "$scan"); dir="$WORK/run/$name"; mkdir -p "$dir"; : > "$dir/$name"
  (cd "$dir" && "$GAPOHM" --watch --interval 0.2 --idle 2 -o watch "$name" > watch.out 2> watch.err) &
  watcher=$!
  size=$(stat -c %s "$scan")
  cuts=$(python3 -c "import random,sys; r=random.Random(sys.argv[1]); n=int(sys.argv[2]); print(' '.join(map(str, sorted(r.sample(range(1, max(n, 2)), min($CHUNKS - 1, max(n - 1, 1)))) + [n])))" "$name" "$size")
  at=0
  for cut in $cuts; do
    head -c "$cut" "$scan" | tail -c $((cut - at)) >> "$dir/$name"
    at=$cut
    sleep 0.3
  done
  ws=0; wait "$watcher" || ws=$?
  ps=0; (cd "$dir" && "$GAPOHM" -o plain "$name" > plain.out 2> plain.err) || ps=$?
  files=0 differing=0
  for f in "$dir"/plain/*; do
    [ -f "$f" ] || continue
    files=$((files + 1))
    cmp -s "$f" "$dir/watch/$(basename "$f")" || differing=$((differing + 1))
  done
  extra=$(comm -13 <(ls "$dir/plain" 2> /dev/null) <(ls "$dir/watch" 2> /dev/null) | grep -cvx 'live.html\|alarms.csv' || true)
  differing=$((differing + extra))
  [ "$ws" -eq "$ps" ] && [ "$differing" -eq 0 ] || bad=$((bad + 1))
  total=$((total + 1))
  printf '%-34s %6s %6s %6s %9s\n' "$name" "$ws" "$ps" "$files" "$differing"
done
echo "watch_equal: $((total - bad)) of $total scans: the watch ended as the plain run did, byte for byte"
