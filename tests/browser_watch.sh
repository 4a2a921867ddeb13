#!/usr/bin/env bash
# The live page of `gapohm --watch` as an operator sees it: half of the example
# scan written, the watch started on it, and live.html, once it shows those
# lines, opened in headless Chromium, which must show every image (the combined
# figure) and fetch nothing from a network. Exit 77 (skipped) when Chromium or
# Node.js is missing.
# Usage: tests/browser_watch.sh GAPOHM_BINARY [SCREENSHOT.png]
set -euo pipefail
gapohm=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
for tool in "${CHROMIUM:-/usr/bin/chromium}" node; do
  command -v "$tool" > /dev/null || { echo "browser_watch: $tool not installed: skipped"; exit 77; }
done
work=$(mktemp -d)
watcher=
cleanup() {
  if [ -n "$watcher" ]; then kill "$watcher" 2> /dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
head -n 191 "$here/../examples/argon_scan.csv" > "$work/scan.csv"
# A long interval: the page reloads itself that often, not while it is checked.
"$gapohm" --watch --interval 60 --idle 600 -o "$work/out" "$work/scan.csv" > "$work/watch.out" 2> "$work/watch.err" &
watcher=$!
for _ in $(seq 600); do
  grep -q '<p>191 lines read' "$work/out/live.html" 2> /dev/null && break
  sleep 0.1
done
grep -q '<p>191 lines read' "$work/out/live.html" || { echo "browser_watch: no live page"; cat "$work/watch.err"; exit 1; }
node "$here/browser/check_page.js" "$work/out/live.html" "${2:-$work/screenshot.png}"
kill -TERM "$watcher"
status=0
wait "$watcher" || status=$?
watcher=
[ "$status" -eq 143 ] || { echo "browser_watch: the watch ended with status $status, not 143"; exit 1; }
grep -q 'watch stopped by SIGTERM' "$work/out/live.html" || { echo "browser_watch: the page does not say it ended"; exit 1; }
echo "browser_watch: live page whole; the watch ended by SIGTERM with status 143"
