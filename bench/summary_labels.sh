#!/usr/bin/env bash
# The summary panels' gap labels as a browser shows them, over generated
# campaigns of several sizes and seeds (bench/make_results.py --gaps): per
# campaign the report's time, its panels, the gaps they label per quantity and
# the smallest gap label as shown at WIDTHS (headless Chromium, check_page.js).
# Usage: bench/summary_labels.sh BUILD_DIR  (CASES="gaps:scans:seed ...", WIDTHS="1400 1200")
set -euo pipefail
build=${1:?usage: bench/summary_labels.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
gapohm=$(cd "$build" && pwd)/gapohm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e11\nbottom,onset_v,1860,\n' > "$work/limits.csv"
printf '| gaps | scans | seed | report s | width | panels | gaps labelled (rho, onset) | smallest label shown px | page check |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for case in ${CASES:-30:10:1 123:20:1 123:20:2 600:75:1 600:75:2 600:75:3 1000:125:1}; do
  IFS=: read -r gaps scans seed <<< "$case"
  rm -rf "$work/campaign" "$work/report"
  python3 "$here/make_results.py" "$work/campaign" "$scans" --gaps "$gaps" --seed "$seed"
  start=$(date +%s.%N)
  (cd "$work" && "$gapohm" --report -o report --limits limits.csv campaign > /dev/null 2>&1) || true
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  for width in ${WIDTHS:-1400 1200}; do
    log=$(WIDTH=$width node "$here/../tests/browser/check_page.js" "$work/report/index.html" "$work/shot.png" 2>&1 || true)
    panels=$(sed -n 's/^summary panels: \([0-9]*\);.*/\1/p' <<< "$log")
    labelled=$(sed -n 's/.*"resistivity":\([0-9]*\),"onset":\([0-9]*\).*/\1, \2/p' <<< "$log")
    smallest=$(sed -n 's/.*smallest gap label shown \([0-9.]*\) px.*/\1/p' <<< "$log")
    printf '| %s | %s | %s | %.2f | %s | %s | %s | %s | %s |\n' "$gaps" "$scans" "$seed" "$seconds" "$width" \
      "$panels" "$labelled" "$smallest" "$(tail -1 <<< "$log" | cut -c1-60)"
  done
done
