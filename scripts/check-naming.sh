#!/usr/bin/env bash
# One way to write a name: clang-tidy's identifier-naming check (.clang-tidy) over every source
# file of the libraries and programs, with the compile commands of a build. Exit status 77 (a
# skipped test) where clang-tidy is not installed.
#   scripts/check-naming.sh BUILD_DIR
set -euo pipefail
build=$1
cd "$(dirname "$0")/.."
tidy=$(command -v clang-tidy || command -v clang-tidy-14 || true)
if [ -z "$tidy" ]; then
    echo "clang-tidy is not installed: naming not checked"
    exit 77
fi
git ls-files --cached --others --exclude-standard \
        'protocol/*.cpp' 'sim/*.cpp' 'firmware/*.cpp' 'zorvane/*.cpp' 'tarvel/*.cpp' |
    xargs -P 2 -n 8 "$tidy" -p "$build" --quiet 2>&1 | tee "$build/naming.log"
if grep -q "warning:\|error:" "$build/naming.log"; then
    echo "names that do not follow .clang-tidy: $(grep -c "warning:\|error:" "$build/naming.log")"
    exit 1
fi
echo "every name follows .clang-tidy"
