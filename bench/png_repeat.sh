#!/usr/bin/env bash
# Whether each ISA-L deflate level writes the same PNG bytes in every process.
# Runs gapohm once on examples/argon_scan.csv, then re-encodes each of its
# figures RUNS times, each time in a new process (a new memory layout), and
# prints per level how many figures came out in more than one version.
# Usage: bench/png_repeat.sh [build dir] [levels...]   (default build-rel; 0 1 2 3)
# Environment: RUNS (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-rel}
shift || true
LEVELS=("$@"); [ ${#LEVELS[@]} -gt 0 ] || LEVELS=(0 1 2 3)
RUNS=${RUNS:-200}
for tool in gapohm png_repeat; do
  [ -x "$BUILD/$tool" ] || { echo "png_repeat: no $BUILD/$tool; build it first" >&2; exit 1; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/gapohm-png-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$BUILD/gapohm" -o "$WORK/figures" examples/argon_scan.csv >/dev/null 2>&1
mapfile -t FIGURES < <(find "$WORK/figures" -name '*.png' | sort)
for level in "${LEVELS[@]}"; do
  varied=0 versions=0
  for figure in "${FIGURES[@]}"; do
    for ((run = 0; run < RUNS; run++)); do
      "$BUILD/png_repeat" "$level" "$figure" "$WORK/out.png"
      md5sum < "$WORK/out.png"
    done | sort -u > "$WORK/sums"
    count=$(wc -l < "$WORK/sums")
    versions=$((versions + count))
    if [ "$count" -gt 1 ]; then varied=$((varied + 1)); fi
  done
  echo "level $level: $varied of ${#FIGURES[@]} figures came out in more than one version" \
       "over $RUNS processes ($versions versions in all)"
done
