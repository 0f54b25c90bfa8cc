#!/usr/bin/env bash
# Runs the benchmarks of the default build and prints their medians, then the Python module's.
set -euo pipefail
cd "$(dirname "$0")/.."

for bench in build/default/bench/bench_*; do
    [ -x "$bench" ] || continue
    echo "=== $(basename "$bench")"
    "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
        --benchmark_min_time=0.2
done

echo "=== bench_kelvard.py (the Python module's read beside the C call)"
/usr/bin/python3 bench/bench_kelvard.py --c-benchmark build/default/bench/bench_protocol
