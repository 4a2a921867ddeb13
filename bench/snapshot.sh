#!/usr/bin/env bash
# Runs a build of gapohm on the examples and on generated good and bad scans with
# the main option sets, and leaves every output, the standard output and the
# standard error of each run in one directory tree, so that two builds can be
# compared byte for byte:
#   bench/snapshot.sh build-old /tmp/before; bench/snapshot.sh build /tmp/after
#   diff -r /tmp/before /tmp/after
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:?build directory}
OUT=${2:?snapshot directory}
BIN=$(realpath "$BUILD/gapohm")
rm -rf "$OUT"
mkdir -p "$OUT/scans"
python3 bench/snapshot_scans.py "$OUT/scans"
cp examples/*.csv "$OUT/scans/"
run() {  # name, then the program's arguments
  local name=$1
  shift
  (cd "$OUT" && "$BIN" "$@" >"$name.stdout" 2>"$name.stderr"; echo "exit $?" >>"$name.stdout")
}
for scan in "$OUT"/scans/*.csv; do
  base=$(basename "$scan" .csv)
  run "$base-plain" -o "plain/$base" "scans/$base.csv" "Title $base"
  run "$base-full" -o "full/$base" --entries --annotate --temperature-coefficient 0.1 "scans/$base.csv"
  run "$base-verbose" -o "verbose/$base" --verbose --format svg "scans/$base.csv"
done
run batch -o batch --batch --annotate -j 1 scans
run report -o report --report batch
# Timestamps and directory names of the run itself are not the program's output.
find "$OUT" -name 'index.html' -exec sed -i -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2}[ T][0-9:]{5,8}//g' {} +
