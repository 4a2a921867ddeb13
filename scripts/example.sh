#!/usr/bin/env bash
# Installs the dependencies, builds gapohm and runs it on the bundled argon scan,
# writing into out/argon_scan/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target gapohm
build/gapohm --output-dir out/argon_scan examples/argon_scan.csv "Argon scan"
echo "outputs in out/argon_scan/:"
ls out/argon_scan
