#!/usr/bin/env bash
# The campaign page at scale, as a reviewer sees it at 1400 px: 600 gaps of
# their own over 75 results files (some measured again, one onset with a wild
# error), `gapohm --report --limits` over them, and the page opened in headless
# Chromium. Every gap of every summary panel must be labelled, each label at
# least 10 px high as shown, no verdict cell may wrap, every image must load,
# and the counts and the FAIL/MARGINAL list must be those of verdicts.csv. The
# check must also see labels that are too small (a narrow window).
# Exit 77 (skipped) when Chromium or Node.js is missing.
# Usage: tests/browser_report600.sh GAPOHM_BINARY [SCREENSHOT.png]
set -euo pipefail
. "$(dirname "$0")/browser/setup.sh" browser_report600 "$1"
python3 "$here/../bench/make_results.py" "$work/campaign" 75 --gaps 600
printf 'gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e11\nbottom,onset_v,1860,\n' > "$work/limits.csv"
(cd "$work" && "$gapohm" --report -o report --limits limits.csv campaign > report.log)
WIDTH=1400 node "$here/browser/check_page.js" "$work/report/index.html" "${2:-$work/screenshot.png}" | tee "$work/page.log"
grep -q 'gaps per quantity: {"resistivity":600,"onset":600}' "$work/page.log" ||
  { echo "browser_report600: the summary panels do not hold the 600 gaps once each"; exit 1; }
"${PYTHON:-python3}" "$here/browser/check_counts.py" "$work/report/verdicts.csv" "$work/page.log"
# In a window too narrow for them the same labels are too small, and the check says so.
if WIDTH=700 node "$here/browser/check_page.js" "$work/report/index.html" "$work/narrow.png" > "$work/narrow.log" 2>&1 ||
   ! grep -q "gap labels under 10 px as shown: fig-resistivity_bottom_1" "$work/narrow.log"; then
  echo "browser_report600: labels shown too small were not seen"; cat "$work/narrow.log"; exit 1
fi
echo "browser_report600: labels shown too small are seen"
