#!/usr/bin/env bash
# Runs the benchmarks of the default build and prints their medians.
set -euo pipefail
cd "$(dirname "$0")/.."

for bench in build/default/bench/bench_*; do
    [ -x "$bench" ] || continue
    echo "=== $(basename "$bench")"
    "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
        --benchmark_min_time=0.2
done
