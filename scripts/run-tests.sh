#!/usr/bin/env bash
# Builds and runs every test: the default build, then AddressSanitizer + UBSan, then the tests
# labelled threads under ThreadSanitizer, then the fuzz targets for a bounded time where clang
# is present.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in default asan; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    echo "=== ${preset}: tests"
    ctest --preset "$preset"
done

# ThreadSanitizer: only the tests labelled threads, and only what they need is built (each such
# test is named after its target, as kelvard_add_test makes them).
echo "=== tsan: configure and build the tests labelled threads"
cmake --preset tsan
mapfile -t tsan_targets < <(ctest --preset tsan -N | sed -n 's/^ *Test *#[0-9]*: *//p')
cmake --build --preset tsan --target "${tsan_targets[@]}"
echo "=== tsan: tests"
ctest --preset tsan -L threads

scripts/run-fuzz.sh
