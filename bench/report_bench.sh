#!/usr/bin/env bash
# Time and peak memory of `gapohm --report` over a campaign of SCANS results.csv
# files (8 gaps each, default 1000; target: at most 3 s on two cores, history and the campaign alpha fit included). With
# FIGURES=1 every gap also has a per-gap figure, so that the report makes one
# thumbnail per gap (the figure of the bundled argon scan).
# Usage: bench/report_bench.sh BUILD_DIR [SCANS]
set -euo pipefail
build=${1:?usage: bench/report_bench.sh BUILD_DIR [SCANS]}
scans=${2:-1000}
here=$(cd "$(dirname "$0")" && pwd)
gapohm=$(cd "$build" && pwd)/gapohm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figure=""
if [ "${FIGURES:-0}" = 1 ]; then
  "$gapohm" -o "$work/run" "$here/../examples/argon_scan.csv" > /dev/null 2>&1
  figure="$work/run/RE3-PK-154-BOTTOM.png"
fi
python3 "$here/make_results.py" "$work/campaign" "$scans" $figure
printf 'gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e11\nbottom,onset_v,1860,\n' > "$work/limits.csv"
cd "$work"
/usr/bin/time -f "report: %e s wall, %U s user, %M KiB peak" \
  "$gapohm" --report -o report --limits limits.csv campaign
echo "index.html: $(wc -c < report/index.html) bytes, $(ls report/thumbs | wc -l) thumbnails, figures: $(ls report/figures | tr '\n' ' ')"
