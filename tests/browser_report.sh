#!/usr/bin/env bash
# The campaign report as a person sees it: a campaign tree with real figures,
# `gapohm --report` over it, and the page opened in headless Chromium, which
# must show every image and fetch nothing from a network; its screenshot must
# not be blank. Exit 77 (skipped) when Chromium or Node.js is missing.
# Usage: tests/browser_report.sh GAPOHM_BINARY [SCREENSHOT.png]
set -euo pipefail
. "$(dirname "$0")/browser/setup.sh" browser_report "$1"
# Real per-gap figures from the bundled argon scan, one copied as every gap's figure.
"$gapohm" -o "$work/run" "$here/../examples/argon_scan.csv" > "$work/run.log" 2>&1
python3 "$here/../bench/make_results.py" "$work/campaign" 6 "$work/run/RE3-PK-154-BOTTOM.png"
printf 'gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e11\nbottom,onset_v,1860,\n' > "$work/limits.csv"
(cd "$work" && "$gapohm" --report -o report --limits limits.csv campaign)
# The report folder and the tree copied elsewhere together still read whole.
mkdir "$work/copy" && cp -r "$work/report" "$work/campaign" "$work/copy/"
rm -rf "$work/report" "$work/campaign"
node "$here/browser/check_page.js" "$work/copy/report/index.html" "${2:-$work/screenshot.png}" | tee "$work/page.log"
# The counts the page shows are those of verdicts.csv; every FAIL, DRIFT and MARGINAL gap is listed.
"${PYTHON:-python3}" "$here/browser/check_counts.py" "$work/copy/report/verdicts.csv" "$work/page.log"
# The check itself must see a broken image: without its thumbnail the page fails.
rm "$work/copy/report/thumbs/1.png"
if node "$here/browser/check_page.js" "$work/copy/report/index.html" "$work/broken.png" > "$work/broken.log" 2>&1 ||
   ! grep -q "broken images: thumbs/1.png" "$work/broken.log"; then
  echo "browser_report: a missing thumbnail was not seen as a broken image"; cat "$work/broken.log"; exit 1
fi
echo "browser_report: a missing thumbnail is seen as a broken image"
