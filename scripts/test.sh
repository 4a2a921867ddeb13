#!/usr/bin/env bash
# Builds gapohm with warnings as errors and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-ci}
cmake -S . -B "$BUILD" -DGAPOHM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"
