#!/usr/bin/env bash
# Builds gapohm and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole test suite on that build. Any memory error, leak of our own
# code or undefined behaviour (conversions of out-of-range doubles included, which
# GCC leaves out of -fsanitize=undefined) fails the run (the tests that start the program see
# the sanitizer's exit status of the child too).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-asan}
JOBS=${JOBS:-$(( $(nproc) < 2 ? $(nproc) : 2 ))}

# The manual page is the plain build's: it would run the instrumented program at
# build time, before the sanitizer options below are set.
cmake -S . -B "$BUILD" -DGAPOHM_SANITIZE=ON -DGAPOHM_WERROR=ON -DGAPOHM_BENCH=OFF -DGAPOHM_MANPAGE=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="-fsanitize=float-cast-overflow"
cmake --build "$BUILD" -j"$JOBS"

# Only third-party libraries are in the leak suppressions (tests/lsan.supp).
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS"
