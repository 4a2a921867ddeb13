#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the whole program instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for a
# bounded time from the seed corpus in tests/fuzz/corpus/scans. Fails on any
# crash, broken promise (the targets abort), leak, timeout or sanitizer report;
# the input that did it is kept in $BUILD/findings/.
#
#   FUZZ_SECONDS: scale of the times below, in percent (default 100: about 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-fuzz}
JOBS=${JOBS:-$(( $(nproc) < 2 ? $(nproc) : 2 ))}
SCALE=${FUZZ_SECONDS:-100}
CORPUS=$PWD/tests/fuzz/corpus

mapfile -t TARGETS < <(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')

# fuzzer-no-link puts coverage into every object of the program, not only into
# the fuzz targets; the targets themselves link libFuzzer.
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DGAPOHM_FUZZ=ON -DGAPOHM_SANITIZE=ON \
  -DGAPOHM_TESTS=OFF -DGAPOHM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link"
cmake --build "$BUILD" -j"$JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

mkdir -p "$BUILD/findings"
status=0
fuzz() {  # target seconds max_len seed-directory
  local target=$1 seconds=$(( $2 * SCALE / 100 )) maxlen=$3 seeds=$4
  [ "$seconds" -ge 1 ] || seconds=1
  # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
  local work="$BUILD/corpus-$target"
  rm -rf "$work" && mkdir -p "$work"
  local dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "fuzz: $target for ${seconds}s (inputs up to $maxlen bytes)"
  if ! "$BUILD/$target" "${dirs[@]}" -max_total_time="$seconds" -max_len="$maxlen" \
      -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$BUILD/findings/$target-" 2>"$BUILD/$target.log"; then
    echo "fuzz: $target FAILED; see $BUILD/$target.log and $BUILD/findings/" >&2
    grep -v -E '^#[0-9]+' "$BUILD/$target.log" | tail -n 60 >&2
    status=1
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$BUILD/$target.log" || true
  fi
}
for target in "${TARGETS[@]}"; do
  case $target in
    # The reader is cheap: long inputs and many of them.
    fuzz_scanreader) fuzz "$target" 15 65536 "$CORPUS/scans" ;;
    # A whole run draws figures, so its inputs stay small enough for a few runs a second.
    fuzz_run) fuzz "$target" 35 4096 "$CORPUS/scans" ;;
    fuzz_stylemacro) fuzz "$target" 10 8192 "$CORPUS/stylemacro" ;;
    *) fuzz "$target" 10 8192 "$CORPUS/${target#fuzz_}" ;;
  esac
done
exit $status
