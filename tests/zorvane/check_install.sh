#!/usr/bin/env bash
# Installs Zorvane into a fresh prefix: the udev rule and the zorvane tool must be there and the
# tool must run from there; then builds a C program against it twice: with pkg-config
# (zorvane.pc) and with CMake (find_package(Zorvane) -> Zorvane::zorvane). Both programs then
# drive a simulated board.
#   check_install.sh <build dir> <consumer source dir> [extra C flags]
set -euo pipefail
build=$1
source=$2
cflags=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvane-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" --component Zorvane >/dev/null

libdir=$(dirname "$(find "$prefix" -name zorvane.pc -print -quit)")/..
libdir=$(cd "$libdir" && pwd)
for file in "$libdir/libzorvane.so" "$libdir/libzorvane.so.1" "$prefix/include/zorvane.h" \
            "$libdir/cmake/Zorvane/ZorvaneConfig.cmake"; do
    [ -e "$file" ] || { echo "not installed: $file"; exit 1; }
done
[ "$(readlink "$libdir/libzorvane.so")" = "libzorvane.so.1" ] || { echo "libzorvane.so is no soname link"; exit 1; }

# The udev rule, as it is in the source tree, where udev looks under the prefix.
rule=$prefix/lib/udev/rules.d/70-kelvard.rules
cmp -s "$rule" "$(dirname "$0")/../../packaging/udev/70-kelvard.rules" || { echo "udev rule not installed: $rule"; exit 1; }
# The tool finds the installed library by itself (no LD_LIBRARY_PATH).
listed=$(KELVARD_SIM_BOARDS='id=7;id=12' KELVARD_SIM_TRACE= "$prefix/bin/zorvane" --simulate list)
[ "$listed" = $'7\n12' ] || { echo "installed zorvane list printed: $listed"; exit 1; }

run() {
    local program=$1 trace=$work/trace-$(basename "$program")
    local output
    output=$(KELVARD_USB=sim KELVARD_SIM_BOARDS='id=7' KELVARD_SIM_TRACE=$trace \
             LD_LIBRARY_PATH=$libdir "$program")
    echo "$output"
    grep -qx 'ok' <<<"$output" || { echo "$program did not finish"; exit 1; }
    grep -qx '0 > 37 00 00 0f 00 00' "$trace" || { echo "$program: write-ports not on the wire"; exit 1; }
}

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion zorvane)" = "1.0.1" ] || { echo "zorvane.pc: wrong version"; exit 1; }
# shellcheck disable=SC2046,SC2086
cc $cflags -o "$work/consumer-pc" "$source/consumer.c" $(pkg-config --cflags --libs zorvane)
run "$work/consumer-pc"

# find_package
cmake -S "$source" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
run "$work/cmake-build/consumer"
echo "installed package found by pkg-config and find_package"
