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
# The compile commands without the options that only GCC knows.
commands=$(mktemp -d)
trap 'rm -rf "$commands"' EXIT
sed 's/ -fno-gnu-unique//g' "$build/compile_commands.json" > "$commands/compile_commands.json"
git ls-files --cached --others --exclude-standard \
        'protocol/*.cpp' 'sim/*.cpp' 'firmware/*.cpp' 'zorvane/*.cpp' 'tarvel/*.cpp' \
        'kelvard/*.cpp' |
    while read -r file; do [ -e "$file" ] && echo "$file"; done |
    xargs -P 2 -n 8 "$tidy" -p "$commands" --quiet 2>&1 | tee "$build/naming.log"
if grep -q "warning:\|error:" "$build/naming.log"; then
    echo "names that do not follow .clang-tidy: $(grep -c "warning:\|error:" "$build/naming.log")"
    exit 1
fi
echo "every name follows .clang-tidy"
