#!/usr/bin/env bash
# Builds and runs every test: the default build, then AddressSanitizer + UBSan, then the fuzz
# targets for a bounded time where clang is present.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in default asan; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    echo "=== ${preset}: tests"
    ctest --preset "$preset"
done

scripts/run-fuzz.sh
