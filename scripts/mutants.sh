#!/usr/bin/env bash
# A small mutation check of the test suite: each mutant below changes one thing
# a user relies on (a comparison, a constant, a statement) in aux/, tools/ or
# toolkit/ (axis layout, fit errors, histogram bins, colours, ticks); the
# program and its tests are rebuilt with it and ctest is run. A mutant no test
# fails on "survives". Not run by CI: it takes about 20 minutes on two cores.
#
# The tree itself is never edited: the sources are copied into $MUT_DIR/src
# (only files whose content changed are rewritten, so rebuilds stay incremental),
# each mutant is applied to that copy and undone there, also on Ctrl-C.
# A mutant is found by an exact snippet that must occur exactly once in its
# file; one that does not (the code moved on) is "stale": the check then fails,
# since a mutant that cannot be applied silently stops guarding anything.
#
#   MUT_DIR      work directory (default build-mut)
#   MUT_ONLY     regular expression: run only the mutants whose id matches
#   MUT_ALL=1    run every test for each mutant and list all that fail
#   MUT_JOBS     parallel build and test jobs (default 2)
#   MUT_TIMEOUT  seconds per test (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
export MUT_DIR=${MUT_DIR:-build-mut}
exec python3 - "$@" <<'PYTHON'
import os, re, resource, shutil, subprocess, sys, time

ROOT = os.getcwd()
WORK = os.path.join(ROOT, os.environ["MUT_DIR"])
SRC = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
JOBS = os.environ.get("MUT_JOBS", "2")
TIMEOUT = os.environ.get("MUT_TIMEOUT", "60")
ONLY = os.environ.get("MUT_ONLY", "")
ALL = os.environ.get("MUT_ALL", "") == "1"

G, D, H = "tools/gapohm.cpp", "aux/Drawing.cpp", "aux/Drawing.h"
CL = "tools/CommandLine.cpp"
S, O, R = "aux/ScanInput.cpp", "aux/OutputPlaces.cpp", "aux/Regression.cpp"
TG, TF, TH = "toolkit/Graph.cpp", "toolkit/Fit.cpp", "toolkit/Histogram.cpp"
TL, TY = "toolkit/Look.cpp", "toolkit/Layout.cpp"
RN, OS, OSH = "tools/Run.cpp", "aux/OhmicSearch.cpp", "aux/OhmicSearch.h"
RT, WS, SF = "aux/ResultsTable.cpp", "aux/WindowScan.cpp", "toolkit/SafeFile.cpp"
AN, RS, KF, AA = "tools/Analysis.cpp", "tools/Results.cpp", "aux/KneeFit.cpp", "aux/Annotation.cpp"
BA, BO, SP = "tools/Batch.cpp", "tools/BatchOutcome.cpp", "tools/ScanProcess.cpp"

# (id, file, exact snippet, replacement, what it breaks)
MUTANTS = [
    ("knee-hc3-plain", KF, "const double wi = r[i] * r[i] / (lever * lever);", "const double wi = lever > 0 ? sumOfSquares(r) / static_cast<double>(r.size()) : 0.0;", "knee errors from one residual variance"),
    ("results-t-h-swapped", RS, "row.temperatureMean = shown(mean(g.points.temperature, g.points.implausible));\n  row.humidityMean = shown(mean(g.points.humidity, g.points.implausible));", "row.temperatureMean = shown(mean(g.points.humidity, g.points.implausible));\n  row.humidityMean = shown(mean(g.points.temperature, g.points.implausible));", "temperature and humidity means swapped"),
    ("box-knee-shows-window", AA, "withError(knee->resistivity, knee->resistivityError, \"\\u03a9 cm\")", "withError(search.resistivity.first, search.resistivity.second, \"\\u03a9 cm\")", "results box shows the window's rho as the knee's"),
    ("write-failure-ok", SF, "    if (n < 0) return false;\n", "    if (n < 0) return true;\n", "a failed write() counted as written"),
    ("areas-ignored", AN, "const auto given = areas.find(name);", "const auto given = areas.end();", "--areas ignored"),
    ("pressure-weight", S, "kPressureWeight = 0.8;", "kPressureWeight = 0.7;", "pressure correction weight"),
    ("pressure-inverted", S, "(m.presure / kReferencePressure)", "(kReferencePressure / m.presure)", "P/P0 inverted"),
    ("onepoint-corrected", S, "if (m.chambern.find(\"OnePoint\") != std::string::npos) return m.HVeff;", "", "OnePoint gaps corrected too"),
    ("semicolon-accepted", S, "if (fields[0].find(';') != std::string::npos) {", "if (false) {", "decimal-comma exports misread"),
    ("cut-line-equal", S, "if (fields.size() < previous.size() || fields.size() < 5) {", "if (fields.size() <= previous.size() || fields.size() < 5) {", "complete last line without LF dropped"),
    ("cut-line-unseen", S, "    previous = fields;\n", "", "cut last line accepted"),
    ("pressure-zero-ok", S, "if (!(value > 0.0)) {", "if (value < 0.0) {", "zero pressure accepted"),
    ("duplicates-kept", S, "if (!first) {", "if (false) {", "repeated lines counted twice"),
    ("no-lines-ok", RN, "if (run.usedLines == 0) return console.error(", "if (run.usedLines < 0) return console.error(", "empty scan not a failure"),
    ("cr-only-kept", AN, "    std::replace(content.begin(), content.end(), '\\r', '\\n');\n", "", "CR-only files read as one line"),
    ("descending-searched", AN, "if (g.points.notAscendingLine != 0) {", "if (false) {", "non-ascending gaps searched"),
    ("argon-test-flipped", AN, "(type == ScanType::told && axisEnd < kArgonScanLimit)", "(type == ScanType::told && axisEnd >= kArgonScanLimit)", "argon/standard scan swapped"),
    ("negative-silent", RN, "} else if (g.fitted() && !(g.search.resistivity.first > 0.0)) {", "} else if (false) {", "negative resistivity not warned"),
    ("too-few-silent", RN, "if (!warning.empty() && g.noResult != NoResult::NotAscending) {", "if (!warning.empty() && g.noResult == NoResult::AxisTooHigh) {", "too-few-points and no-window messages lost"),
    ("exit-always-0", RN, "return kept.any() ? 1 : 0;", "return 0;", "failed run exits 0"),
    ("quiet-ignored", CL, "tk::Console console(out, err, c.quiet && !c.batch && !c.report);", "tk::Console console(out, err);", "--quiet writes the INFO lines"),
    ("unused-option-silent", CL, "    console.warning(list + ", "    if (false) console.warning(list + ", "options without effect not named"),
    ("usage-exit-1", CL, "return code == 0 ? 0 : 2;", "return code == 0 ? 0 : 1;", "usage error exits 1"),
    ("report-resistance", AN, "v.resistance = Resistance.first * kGapLength / area;", "v.resistance = Resistance.first * kGapLength * area;", "resistance column"),
    ("report-rxa", AN, "v.resistanceArea = Resistance.first * kGapLength;", "v.resistanceArea = Resistance.first / kGapLength;", "resistance x area column"),
    ("report-header", G, 'Onset [V] \\n";', 'Onset [V]\\n";', "report header bytes"),
    ("latex-underscore", RT, "case '_': case '&':", "case '&':", "'_' not escaped"),
    ("entries-8000", G, "m.HVeff <= step1 ? 0", "m.HVeff < step1 ? 0", "8000 V counted in step 2"),
    ("entries-9000", G, "m.HVeff <= step2 ? 1 : 2", "m.HVeff < step2 ? 1 : 2", "9000 V counted in step 3"),
    ("entries-kind", G, "c.argon[0] > 2 && c.standard[0] > 8", "c.argon[0] >= 2 && c.standard[0] > 8", "argon/standard line kind"),
    ("area-topwide", "aux/GapRules.cpp", "kTopWideArea = 13130.0;", "kTopWideArea = 13310.0;", "top-wide area"),
    ("style-catalogue", G, "{4, 22}, {2, 8}, {2, 22}, {2, 33}", "{4, 22}, {2, 8}, {2, 33}, {2, 22}", "catalogue markers swapped"),
    ("argon-limit", OSH, "kArgonScanLimit = 2500.0;", "kArgonScanLimit = 3000.0;", "argon scan limit"),
    ("first-window", OSH, "kFirstWindowPoint = 15;", "kFirstWindowPoint = 14;", "first point of the search windows"),
    ("option-2-edge", OS, "if (top < 15) test = 2;", "if (top <= 15) test = 2;", "goodness option at y = 15"),
    ("search-narrowest", WS, "      out.resize(k + 1);\n      break;\n", "", "search goes on past the widest pass"),
    ("level-window", OS, "fitLevel(gap, X[0], s.windows.back().from);", "fitLevel(gap, X[0], X[static_cast<std::size_t>(s.windows.back().first) - 1]);", "level window misses the first window point"),
    ("flat-slope-ok", OS, "if (A == 0 || !std::isfinite(A)", "if (!std::isfinite(A)", "zero slope reported"),
    ("onset-sign", OS, "const double U = (L - B) / A;", "const double U = (B - L) / A;", "onset sign"),
    ("onset-error", OS, " + sA / std::fabs(A));", ");", "onset error without the slope term"),
    ("canvas-colour", D, "  style.canvasColor = 0;\n", "", "macro canvas colour wins"),
    ("marker-size", D, "kMarkerSize = 2.0;", "kMarkerSize = 1.0;", "marker size"),
    ("marker-colour", D, "graph.markerColor = static_cast<std::int16_t>(profile.color);", "graph.markerColor = 1;", "marker colour"),
    ("pressure-column", S, "{&HVeff, &HVapp, &current, &presure, &temp, &humidity}", "{&HVeff, &HVapp, &current, &temp, &presure, &humidity}", "pressure read from column 6"),
    ("header-listed", S, "if (name == kHeaderName || name.empty() ||", "if (name.empty() ||", "header listed as a gap"),
    ("hex-accepted", S, "if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;", "", "hexadecimal read as a number"),
    ("dir-904", O, '"_904HVscan/" : "_KVTHVscan/"', '"_KVTHVscan/" : "_904HVscan/"', "CAEN904 directory suffix"),
    ("outdir-slash", O, "if (dir.empty() || dir.back() != '/') dir += '/';", "", "--output-dir without '/'"),
    ("safe-slash", O, "if (c == '/' || c == '\\\\' ||", "if (c == '\\\\' ||", "'/' kept in figure names"),
    ("safe-utf8-cut", O, "    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;\n", "", "long names cut inside a character"),
    ("atomic-leftover", SF, "  if (failure != 0) {\n    ::unlink(tempPath.c_str());\n", "  if (failure != 0) {\n", "temporary file left on failure"),
    ("mkdir-file-ok", O, "if (!S_ISDIR(info.st_mode)) {", "if (false) {", "a file where a directory goes"),
    ("band-1-upper", R, "{0.8, 2}, {0.07, 0.12}", "{0.8, 2.5}, {0.07, 0.12}", "option 1 upper bound"),
    ("band-inclusive", R, "good = (upper > Goodness) && (Goodness > lower);", "good = (upper >= Goodness) && (Goodness >= lower);", "bounds inclusive"),
    ("line-colour", R, "kBlue = 600;", "kBlue = 601;", "fit line colour"),
    ("diag-suffix", R, '{&ChiSquaredH, "_ChiS"}', '{&ChiSquaredH, "_Chi"}', "diagnostic figure name"),
    ("tk-axis-margin", TG, "const double margin = 0.1 * (top - vmin);", "const double margin = 0.05 * (top - vmin);", "axis range widened by 5%, not 10%"),
    ("tk-axis-clamp-low", TG, "  if (r.low < 0.0 && vmin >= 0.0) r.low = 0.0;\n", "", "lower axis end not clamped at 0"),
    ("tk-axis-degenerate", TG, "if (vmin == top) top += 1.0;", "if (vmin == top) top += 0.5;", "single-value axis widened by 0.5"),
    ("tk-axis-clamp-upper", TG, "  if (clampUpper && r.high > 0.0 && top <= 0.0) r.high = 0.0;\n", "", "upper x end not clamped at 0"),
    ("tk-fit-window-open", TF, "if (start <= gx[i] && gx[i] <= end) {", "if (start <= gx[i] && gx[i] < end) {", "fit window's upper end exclusive"),
    ("tk-fit-no-swap", TF, "  if (start > end) std::swap(start, end);\n", "", "reversed window not swapped"),
    ("tk-fit-ndf", TF, "f.ndf = std::max(0, f.npoints - npar);", "f.ndf = std::max(0, f.npoints - 1);", "NDF counts one parameter"),
    ("tk-fit-const-error", TF, "std::sqrt(f.chi2 / f.ndf) * unitError : unitError", "std::sqrt(f.chi2 / f.ndf) : unitError", "level error without 1/sqrt(n)"),
    ("tk-fit-scale-guard", TF, "return ndf > 0 && chi2 > 0.0;", "return ndf > 0;", "errors scaled by a zero scatter"),
    ("tk-hist-lower-edge", TH, "    if (x < low) {", "    if (x <= low) {", "lower bin edge to the underflow"),
    ("tk-hist-auto-margin", TH, "const double margin = 0.1 * (hi - lo);", "const double margin = 0.2 * (hi - lo);", "automatic range widened by 20%"),
    ("tk-hist-auto-clamp", TH, "  if (lo < 0.0 && dataMin >= 0.0) lo = 0.0;\n", "", "automatic range below 0"),
    ("tk-hist-auto-round", TH, "if (step > 0.0 && std::isfinite(step)) {", "if (false) {", "automatic edges not rounded"),
    ("tk-colour-8", TL, "case 8: return {89, 211, 84};", "case 8: return {84, 211, 89};", "colour 8"),
    ("tk-colour-600", TL, "case 600: return {0, 0, 255};", "case 600: return {0, 0, 153};", "colour 600 of the fitted line"),
    ("tk-colour-632", TL, "case 632: return {255, 0, 0};", "case 632: return {204, 0, 0};", "colour 632 of the level"),
    ("tk-colour-unknown", TL, "  return {0, 0, 0};\n}\n\nint colourIndexOfName", "  return {255, 255, 255};\n}\n\nint colourIndexOfName", "unknown colour drawn white"),
    ("tk-marker-size", TL, "std::min(8.0 * size, 200.0)", "std::min(7.0 * size, 200.0)", "marker 7 px per unit of size"),
    ("tk-marker-33-open", TL, "case 33: return {MarkerShape::Diamond, true, across};", "case 33: return {MarkerShape::Diamond, false, across};", "style 33 drawn open"),
    ("tk-tick-step", TL, "const double raw = span / (divisions * 1.25);", "const double raw = span / divisions;", "coarser tick steps"),
    ("tk-tick-exponent", TL, "if (largest >= 1e5) {", "if (largest > 1e6) {", "six-digit labels without x10^n"),
    ("tk-frame-left", TY, "f.frame = {style.padLeftMargin * W,", "f.frame = {style.padLeftMargin * W + 3,", "frame shifted by 3 px"),
    ("tk-tick-length", TY, "f.x.primaryLength = 0.03 * (fr.y2 - fr.y1);", "f.x.primaryLength = 0.02 * (fr.y2 - fr.y1);", "x tick length"),
    ("tk-legend-rows", TY, "legend.entries.size() + (legend.header.empty() ? 0 : 1);", "legend.entries.size() + 1;", "legend row for an empty header"),
    ("batch-fitted-all", BA, 'std::to_string(o.fitted) + " fitted"', 'std::to_string(o.gaps) + " fitted"', "batch progress line counts every gap as fitted"),
    ("batch-outcome-fitted", BO, '"\\nfitted " + std::to_string(fitted)', '"\\nfitted " + std::to_string(rows.size())', "outcome file counts every gap as fitted"),
    ("batch-scan-mask", SP, "  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);", "", "scan process runs with the stop signals blocked"),
    ("batch-scan-ignored", SP, "    if (current.sa_handler == SIG_IGN) continue;\n", "", "scan process loses the SIGINT its batch ignored"),
]


def sources():
    """Relative paths of every file the build reads."""
    out = ["CMakeLists.txt"]
    for top in ("tools", "aux", "toolkit", "tests", "examples", "bench"):
        for d, _, files in os.walk(top):
            out += [os.path.join(d, f) for f in files]
    return sorted(out)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)  # a fresh mtime, so make rebuilds it


def sync():
    """Makes SRC a copy of the tree, rewriting only files whose content differs."""
    wanted = set(sources())
    for rel in wanted:
        data, dst = read(rel), os.path.join(SRC, rel)
        if not os.path.exists(dst) or read(dst) != data:
            write(dst, data)
            shutil.copymode(os.path.join(ROOT, rel), dst)  # test scripts stay executable
    for d, _, files in os.walk(SRC):
        for f in files:
            rel = os.path.relpath(os.path.join(d, f), SRC)
            if rel not in wanted:
                os.remove(os.path.join(d, f))


def limit_memory():
    # A mutant that loops while allocating must not take the shared machine down.
    resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))


def build():
    r = subprocess.run(["cmake", "--build", BUILD, "-j" + JOBS], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout


def ctest():
    # The browser check reads only the report page (no mutant's code) and its
    # browser cannot start inside the address-space limit below.
    cmd = ["ctest", "--test-dir", BUILD, "-j" + JOBS, "--timeout", TIMEOUT, "-E", "^browser_report$"]
    if not ALL:
        cmd.append("--stop-on-failure")
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       preexec_fn=limit_memory)
    failed = re.findall(r"^\s*\d+ - (\S+) \(", r.stdout, re.M)
    return r.returncode == 0, failed


def main():
    os.makedirs(BUILD, exist_ok=True)
    sync()
    subprocess.run(["cmake", "-S", SRC, "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DGAPOHM_TESTS=ON", "-DGAPOHM_BENCH=OFF", "-DGAPOHM_FUZZ=OFF",
                    "-DGAPOHM_WERROR=OFF"], check=True, stdout=subprocess.DEVNULL)
    ok, log = build()
    if not ok:
        sys.exit("mutants: the unmutated tree does not build:\n" + log[-3000:])
    passed, failed = ctest()
    if not passed:
        sys.exit("mutants: the unmutated tree fails tests: " + " ".join(failed))

    chosen = [m for m in MUTANTS if re.search(ONLY, m[0])]
    pristine = {f: read(os.path.join(SRC, f)) for f in {m[1] for m in chosen}}
    rows = []
    start = time.time()
    for ident, rel, old, new, why in chosen:
        text = pristine[rel].decode()
        if text.count(old) != 1:
            rows.append((ident, rel, why, "stale", "snippet found %d times" % text.count(old)))
            print("%-24s stale" % ident, flush=True)
            continue
        target = os.path.join(SRC, rel)
        try:
            write(target, text.replace(old, new).encode())
            ok, log = build()
            if not ok:
                verdict, detail = "no-build", log.strip().splitlines()[-1][:60]
            else:
                passed, failed = ctest()
                verdict = "survived" if passed else "killed"
                detail = ", ".join(failed) if failed else ""
        finally:
            write(target, pristine[rel])  # also on Ctrl-C; rebuilt by the next build
        rows.append((ident, rel, why, verdict, detail))
        print("%-24s %-8s %s" % (ident, verdict, detail[:100]), flush=True)

    print("\n%-24s %-22s %-9s %s" % ("mutant", "file", "result", "what it breaks / killed by"))
    for ident, rel, why, verdict, detail in rows:
        print("%-24s %-22s %-9s %s%s" % (ident, rel, verdict, why,
                                         (" [" + detail + "]") if detail else ""))
    killed = sum(r[3] == "killed" for r in rows)
    counted = sum(r[3] in ("killed", "survived") for r in rows)
    stale = sum(r[3] == "stale" for r in rows)
    nobuild = sum(r[3] == "no-build" for r in rows)
    print("\nmutants: %d of %d killed (%.0f%%); %d stale, %d did not build; %.0f s"
          % (killed, counted, 100.0 * killed / max(counted, 1), stale, nobuild, time.time() - start))
    survivors = [r[0] for r in rows if r[3] == "survived"]
    if survivors:
        print("survivors: " + " ".join(survivors))
    if stale:
        sys.exit("mutants: %d stale mutant(s): their snippets must be brought up to date" % stale)


main()
PYTHON
