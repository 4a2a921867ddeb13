#!/usr/bin/env python3
"""Compares two trees made by bench/snapshot.sh byte for byte, except that the
results tables of the second may hold columns the first has not (a column added
on purpose): those are left out before comparing. Prints each difference; exit
status 1 when there is one.
Run: python3 bench/snapshot_diff.py BEFORE AFTER"""
import csv
import filecmp
import io
import os
import sys

TABLES = ("results.csv", "BatchSummary.csv")


def table_without_new_columns(old_text, new_text):
    old = list(csv.reader(io.StringIO(old_text, newline="")))
    new = list(csv.reader(io.StringIO(new_text, newline="")))
    if not old or not new:
        return new_text
    keep = [k for k, name in enumerate(new[0]) if name in old[0]]
    out = io.StringIO(newline="")
    writer = csv.writer(out, lineterminator="\n")
    for row in new:
        writer.writerow([row[k] for k in keep if k < len(row)])
    return out.getvalue()


def main(before, after):
    differ = 0
    for root, dirs, files in os.walk(before):
        rel = os.path.relpath(root, before)
        for name in sorted(files):
            a, b = os.path.join(root, name), os.path.join(after, rel, name)
            if not os.path.exists(b):
                print("missing in after:", os.path.join(rel, name))
                differ = 1
            elif name in TABLES:
                old = open(a, encoding="utf-8", newline="").read()
                new = open(b, encoding="utf-8", newline="").read()
                old_norm = table_without_new_columns(old, old)
                if table_without_new_columns(old, new) != old_norm:
                    print("differs:", os.path.join(rel, name))
                    differ = 1
            elif not filecmp.cmp(a, b, shallow=False):
                print("differs:", os.path.join(rel, name))
                differ = 1
    for root, dirs, files in os.walk(after):
        rel = os.path.relpath(root, after)
        for name in files:
            if not os.path.exists(os.path.join(before, rel, name)):
                print("new in after:", os.path.join(rel, name))
                differ = 1
    return differ


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
