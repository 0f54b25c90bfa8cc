#!/usr/bin/env bash
# An installed Zorvane and libkelvard: the libraries, headers, CMake packages and the zorvane tool
# (which must run from there); C programs built against each with pkg-config (zorvane.pc,
# kelvard.pc) and with CMake (find_package(Zorvane) -> Zorvane::zorvane, find_package(Kelvard) ->
# Kelvard::kelvard), all run on a simulated board.
#   check_install.sh --build <build dir> <consumer source dir> [extra C flags]
#       installs the build into a fresh prefix first, the udev rule under it included
#   check_install.sh --prefix <prefix> <consumer source dir> [extra C flags]
#       an installed tree as it is (the Debian packages unpacked into a scratch root: zorvane.pc
#       names /usr, and pkg-config finds the tree through the root as its sysroot)
set -euo pipefail
mode=$1
source=$3
cflags=${4:-}
fail() { echo "$*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvane-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ "$mode" = --build ]; then
    prefix=$work/prefix
    cmake --install "$2" --prefix "$prefix" >/dev/null
    cmp -s "$prefix/lib/udev/rules.d/70-kelvard.rules" "$(dirname "$0")/../../packaging/udev/70-kelvard.rules" ||
        fail "udev rule not installed under $prefix/lib/udev/rules.d"
else
    prefix=$2
fi

libdir=$(cd "$(dirname "$(find "$prefix" -name zorvane.pc -print -quit)")/.." && pwd)
for file in "$libdir/libzorvane.so.1" "$prefix/include/zorvane.h" "$libdir/cmake/Zorvane/ZorvaneConfig.cmake" \
    "$libdir/libkelvard.so.1" "$prefix/include/kelvard.h" "$libdir/cmake/Kelvard/KelvardConfig.cmake"; do
    [ -e "$file" ] || fail "not installed: $file"
done
for lib in zorvane kelvard; do
    [ "$(readlink "$libdir/lib$lib.so")" = "lib$lib.so.1" ] || fail "lib$lib.so is no soname link"
done
# The tool finds the installed library by itself (no LD_LIBRARY_PATH).
listed=$(KELVARD_SIM_BOARDS='id=7;id=12' KELVARD_SIM_TRACE= "$prefix/bin/zorvane" --simulate list)
[ "$listed" = $'7\n12' ] || fail "installed zorvane list printed: $listed"

run() {
    local trace=$work/trace-$(basename "$1") output
    output=$(KELVARD_USB=sim KELVARD_SIM_BOARDS='id=7' KELVARD_SIM_TRACE=$trace LD_LIBRARY_PATH=$libdir "$1")
    grep -qx 'ok' <<<"$output" || fail "$1 did not finish: $output"
    grep -qx '0 > 37 00 00 0f 00 00' "$trace" || fail "$1: write-ports not on the wire"
}

export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion zorvane)" = "1.0.1" ] || fail "zorvane.pc: wrong version"
# zorvane.pc names the prefix it was installed under: this one, or its tail under a root.
named=$(pkg-config --variable=prefix zorvane)
if [ "$mode" = --build ]; then
    [ "$named" = "$prefix" ] || fail "zorvane.pc names prefix $named, installed in $prefix"
else
    [ -n "$named" ] && [ "${prefix%"$named"}$named" = "$prefix" ] ||
        fail "zorvane.pc names prefix $named, not in $prefix"
    export PKG_CONFIG_SYSROOT_DIR=${prefix%"$named"}
fi
# shellcheck disable=SC2046,SC2086
cc $cflags -o "$work/consumer-pc" "$source/consumer.c" $(pkg-config --cflags --libs zorvane)
run "$work/consumer-pc"
# shellcheck disable=SC2046,SC2086
cc $cflags -o "$work/kelvard-consumer-pc" "$source/kelvard_consumer.c" $(pkg-config --cflags --libs kelvard)
run "$work/kelvard-consumer-pc"

cmake -S "$source" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
run "$work/cmake-build/consumer"
run "$work/cmake-build/kelvard_consumer"
echo "installed package found by pkg-config and find_package"
