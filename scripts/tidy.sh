#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the program's own sources in
# tools/, aux/ and toolkit/, with the compile flags CMake records. Fails on any
# finding.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-tidy}
JOBS=${JOBS:-$(( $(nproc) < 2 ? $(nproc) : 2 ))}

# Configuring is enough: clang-tidy needs compile_commands.json, not objects.
cmake -S . -B "$BUILD" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DGAPOHM_TESTS=OFF -DGAPOHM_BENCH=OFF \
  >/dev/null
mapfile -t SOURCES < <(ls tools/*.cpp aux/*.cpp toolkit/*.cpp)
echo "tidy: ${#SOURCES[@]} files"
run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" "${SOURCES[@]/#/$PWD/}" > "$BUILD/tidy.log" 2>&1 || {
  sed 's/\x1b\[[0-9;]*m//g' "$BUILD/tidy.log" | grep -E -A3 'warning:|error:' >&2
  echo "tidy: findings above (full log in $BUILD/tidy.log)" >&2
  exit 1
}
echo "tidy: clean"
