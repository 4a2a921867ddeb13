#!/usr/bin/env python3
"""Stops a batch with SIGINT or SIGTERM at random moments and checks what it leaves.

    bench/signal_trials.py BUILD/gapohm [TRIALS] [SEED]

A campaign of generated scans (the examples, and scans of many gaps so that the
report phase is long) is run once whole to time it; then each trial starts the
same batch in a fresh directory and sends SIGINT or SIGTERM after a random delay
between 0 and that time. A trial passes when, after the batch ends:
  - its exit status is 128 + the signal (or 0 when it had already finished);
  - no hidden (temporary) file is left under the outputs, and nothing in TMPDIR
    (the batch's private directory included);
  - no process of the batch is left running (none names the trial's TMPDIR);
  - every PNG under the outputs is whole (signature, IEND at its end) and every
    index.html ends its document.
Prints one line per failed trial and a table of trials by the phase the signal
came in (scans, report page, after the end). Exit status 1 when any trial failed.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def campaign(directory):
    """Writes the trial's scans: each example twice and two scans of many gaps."""
    scans = os.path.join(directory, "scans")
    os.makedirs(scans)
    argon = open(os.path.join(ROOT, "examples", "argon_scan.csv")).read().splitlines()
    standard = os.path.join(ROOT, "examples", "standard_scan.csv")
    for k in range(2):
        shutil.copy(os.path.join(ROOT, "examples", "argon_scan.csv"), os.path.join(scans, "argon%d.csv" % k))
        shutil.copy(standard, os.path.join(scans, "standard%d.csv" % k))
    lab = [l for l in argon if l.startswith("LAB-GAP-07,")]
    for k, gaps in enumerate((25, 40)):
        with open(os.path.join(scans, "many%d.csv" % k), "w") as f:
            f.write(argon[0] + "\n")
            for g in range(gaps):
                f.write("".join("GAP-%d%s\n" % (g, l[len("LAB-GAP-07"):]) for l in lab))
    return scans


def run(binary, scans, work, delay, which):
    """One batch in `work`, stopped by `which` after `delay` s (None: never)."""
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp)
    env = dict(os.environ, TMPDIR=tmp, HOME=work)
    start = time.monotonic()
    proc = subprocess.Popen([binary, "--batch", "-j", "2", "-o", os.path.join(work, "out"), scans],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env, text=True)
    if delay is not None:
        try:
            proc.wait(timeout=delay)
        except subprocess.TimeoutExpired:
            proc.send_signal(which)
    out, _ = proc.communicate(timeout=300)
    return proc.returncode, out, time.monotonic() - start, tmp


def phase(out, scans):
    """When the signal came, from what the batch printed: a scan marked
    interrupted (or no closing line): the scans; a closing line counting none
    interrupted: the summary or the report page; one without the count: after."""
    total = len(os.listdir(scans))
    if ": interrupted\n" in out or "[%d/%d]" % (total, total) not in out:
        return "scans"
    if " 0 interrupted; summary in " in out:
        return "report page"
    return "after the end" if "; summary in " in out else "report page"


def leftovers(work, tmp):
    """What the trial left that it must not have."""
    found = []
    for base, dirs, files in os.walk(os.path.join(work, "out")):
        for name in dirs + files:
            path = os.path.join(base, name)
            if name.startswith("."):
                found.append("hidden " + path)
            elif name.endswith(".png"):
                data = open(path, "rb").read()
                if not (data.startswith(b"\x89PNG\r\n\x1a\n") and data[-8:-4] == b"IEND"):
                    found.append("partial " + path)
            elif name == "index.html" and not open(path, "rb").read().endswith(b"</html>\n"):
                found.append("partial " + path)
    found += ["in TMPDIR " + name for name in os.listdir(tmp)]
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if tmp.encode() in open("/proc/%s/cmdline" % pid, "rb").read():
                found.append("process %s still running" % pid)
        except OSError:
            pass
    return found


def main():
    binary = os.path.abspath(sys.argv[1])
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 21)
    base = tempfile.mkdtemp(prefix="signal-trials-")
    scans = campaign(base)
    status, _, whole, tmp = run(binary, scans, os.path.join(base, "whole"), None, None)
    print("whole batch: status %d, %.1f s" % (status, whole))
    table = {}
    failed = 0
    for k in range(trials):
        which = rng.choice((signal.SIGINT, signal.SIGTERM))
        work = os.path.join(base, "t%d" % k)
        status, out, took, tmp = run(binary, scans, work, rng.uniform(0, whole * 1.05), which)
        where = phase(out, scans)
        wrong = leftovers(work, tmp)
        if status not in (128 + which, 0) or (status == 0 and where != "after the end"):
            wrong.append("exit status %d" % status)
        row = table.setdefault(where, [0, 0, 0])
        row[0 if which == signal.SIGINT else 1] += 1
        if wrong:
            row[2] += 1
            failed += 1
            print("trial %d (%s, %s after %.2f s): %s" % (k, which.name, where, took, "; ".join(wrong)))
        shutil.rmtree(work, ignore_errors=True)
    print("%-14s %7s %8s %7s" % ("signal came in", "SIGINT", "SIGTERM", "failed"))
    for where in ("scans", "report page", "after the end"):
        row = table.get(where, [0, 0, 0])
        print("%-14s %7d %8d %7d" % (where, row[0], row[1], row[2]))
    print("%d trials, %d failed" % (trials, failed))
    shutil.rmtree(base, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
