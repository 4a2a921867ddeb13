#!/usr/bin/env python3
"""The verdict counts the page shows (check_page.js's log) are those of
verdicts.csv, read as pandas reads it (the strict csv module where pandas is
missing), and every FAIL, DRIFT and MARGINAL gap is listed.
Usage: check_counts.py VERDICTS.csv PAGE.log"""
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
print("check_counts: the page's counts are verdicts.csv's:", expected)
