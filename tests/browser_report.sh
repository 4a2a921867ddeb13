#!/usr/bin/env bash
# The campaign report as a person sees it: a campaign tree with real figures,
# `gapohm --report` over it, and the page opened in headless Chromium, which
# must show every image and fetch nothing from a network; its screenshot must
# not be blank. Exit 77 (skipped) when Chromium or Node.js is missing.
# Usage: tests/browser_report.sh GAPOHM_BINARY [SCREENSHOT.png]
set -euo pipefail
gapohm=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
for tool in "${CHROMIUM:-/usr/bin/chromium}" node python3; do
  command -v "$tool" > /dev/null || { echo "browser_report: $tool not installed: skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Real per-gap figures from the bundled argon scan, one copied as every gap's figure.
"$gapohm" -o "$work/run" "$here/../examples/argon_scan.csv" > "$work/run.log" 2>&1
python3 "$here/../bench/make_results.py" "$work/campaign" 6 "$work/run/RE3-PK-154-BOTTOM.png"
printf 'gap,quantity,min,max\n*,knee_rho_ohm_cm,1e10,1e11\nbottom,onset_v,1860,\n' > "$work/limits.csv"
(cd "$work" && "$gapohm" --report -o report --limits limits.csv campaign)
# The report folder and the tree copied elsewhere together still read whole.
mkdir "$work/copy" && cp -r "$work/report" "$work/campaign" "$work/copy/"
rm -rf "$work/report" "$work/campaign"
node "$here/browser/check_page.js" "$work/copy/report/index.html" "${2:-$work/screenshot.png}" | tee "$work/page.log"
# The counts the page shows are those of verdicts.csv, read as pandas reads it
# (the strict csv module where pandas is missing); every FAIL, DRIFT and MARGINAL gap is listed.
"${PYTHON:-python3}" - "$work/copy/report/verdicts.csv" "$work/page.log" <<'CHECK'
import collections, csv, json, re, sys
severity = ["PASS", "NO RESULT", "MARGINAL", "DRIFT", "FAIL"]
header = "scan,gap,verdict,quantity,value,error,min,max,flags".split(",")
try:
    import pandas
    table = pandas.read_csv(sys.argv[1], comment="#", keep_default_na=False, dtype=str)
    assert list(table.columns) == header, list(table.columns)
    rows = table.to_dict("records")
except ImportError:
    with open(sys.argv[1], newline="") as f:
        lines = [line for line in f if not line.startswith("#")]
    reader = csv.reader(lines, strict=True)
    assert next(reader) == header
    rows = [dict(zip(header, r)) for r in reader if len(r) == len(header) or sys.exit("row of %d fields" % len(r))]
checks = collections.Counter(r["verdict"] for r in rows)
worst = {}
for r in rows:
    key = (r["scan"], r["gap"])
    worst[key] = max(worst.get(key, "PASS"), r["verdict"], key=severity.index)
gaps = collections.Counter(worst.values())
shown = json.loads(re.search(r"verdict counts: (\{.*\}); listed: (\d+)", open(sys.argv[2]).read()).group(1))
listed = int(re.search(r"listed: (\d+)", open(sys.argv[2]).read()).group(1))
expected = {v: [gaps[v], checks[v]] for v in severity}
assert shown == expected, (shown, expected)
assert listed == gaps["FAIL"] + gaps["DRIFT"] + gaps["MARGINAL"] > 0, (listed, gaps)
print("browser_report: the page's counts are verdicts.csv's:", expected)
CHECK
# The check itself must see a broken image: without its thumbnail the page fails.
rm "$work/copy/report/thumbs/1.png"
if node "$here/browser/check_page.js" "$work/copy/report/index.html" "$work/broken.png" > "$work/broken.log" 2>&1 ||
   ! grep -q "broken images: thumbs/1.png" "$work/broken.log"; then
  echo "browser_report: a missing thumbnail was not seen as a broken image"; cat "$work/broken.log"; exit 1
fi
echo "browser_report: a missing thumbnail is seen as a broken image"
