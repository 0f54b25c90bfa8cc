#!/usr/bin/env bash
# Line and branch coverage of protocol/, firmware/, zorvane/, sim/ and tarvel/ from the whole
# default test suite: the coverage preset (its own build in build/coverage-build, compiled with
# --coverage), every test, then gcovr. Prints the summary of each area and of all five; the HTML
# report with every file and line is build/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/coverage-build
report=build/coverage
cmake --preset coverage
cmake --build --preset coverage
# Counts from earlier runs would add up: every run starts from zero.
find "$build" -name '*.gcda' -delete
# Instrumented programs carry the build tree's path for their counters, which the packaging
# test rightly refuses; it runs in the default build.
ctest --preset coverage -E '^packaging$'

rm -rf "$report"
mkdir -p "$report"
# Branches the compiler adds for exceptions and for code it proved unreachable are not
# decisions in our code, and are left out.
gcovr --root . --object-directory "$build" --exclude-directories "$build/CMakeFiles" \
    --filter 'protocol/' --filter 'firmware/' --filter 'zorvane/' --filter 'sim/' --filter 'tarvel/' \
    --exclude-unreachable-branches --exclude-throw-branches \
    --json "$report/coverage.json" \
    --html-details "$report/index.html" --html-title "Kelvard I/O coverage"

for area in protocol firmware zorvane sim tarvel; do
    echo "=== ${area}/"
    gcovr --root . --add-tracefile "$report/coverage.json" --filter "${area}/" --print-summary \
        --output /dev/null
done
echo "=== all four"
gcovr --root . --add-tracefile "$report/coverage.json" --print-summary --output /dev/null
echo "HTML report: $report/index.html"
