#!/usr/bin/env bash
# The Debian packages of a build, made by CPack into a scratch folder and never installed into
# this machine: each package's files against expected-files.txt, its version and dependencies,
# python3-kelvard's maintainer scripts, lintian (any error fails; warnings are shown); then all
# of them unpacked into a scratch root and used from there: a C program built through
# zorvane.pc and find_package(Zorvane), the programs' --version, zorvane --simulate list,
# tarvel --simulate --screenshot, zorvane.pc's flags, every option of kelvard-sim --help in its
# manual page, man finding and groff rendering every manual page without a warning, the
# desktop entry and the metainfo; the zorvane-mqtt unit through systemd-analyze verify.
#   check_packages.sh <build dir> <version> <libdir> <udev rules dir> <systemd unit dir>
set -euo pipefail
build=$1
version=$2
libdir=$3
rules=$4
units=$5
here=$(cd "$(dirname "$0")" && pwd)
# CMake names one export file after the build type (relwithdebinfo, debug for coverage...).
config=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvard-packages-XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/debs/*.deb)

# Every file by package: directories aside, symbolic links as their own paths.
for deb in "${debs[@]}"; do
    package=$(dpkg-deb -f "$deb" Package)
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package: version is not $version"
    dpkg-deb -c "$deb" | awk -v p="$package" '$1 !~ /^d/ { sub(/^\./, "", $6); print p, $6 }'
done | sort >"$work/files.txt"
sed -e "s|@VERSION@|$version|" -e "s|@LIBDIR@|$libdir|" -e "s|@UDEV_RULES_DIR@|$rules|" \
    -e "s|@SYSTEMD_UNIT_DIR@|$units|" \
    -e "s|@CONFIG@|${config:-noconfig}|" \
    "$here/expected-files.txt" | sort | diff -u - "$work/files.txt" || fail "package contents differ (-expected +made)"

depends() { dpkg-deb -f "$(ls "$work"/debs/"$1"_"$version"_*.deb)" Depends; }
grep -q "libzorvane1 (= $version)" <<<"$(depends libzorvane-dev)" || fail "libzorvane-dev does not depend on libzorvane1 (= $version)"
grep -q "libkelvard1 (= $version)" <<<"$(depends libkelvard-dev)" || fail "libkelvard-dev does not depend on libkelvard1 (= $version)"
# The core inside libzorvane1 keeps no interface from one version to the next: its users need its
# very version.
grep -q "libmosquitto1" <<<"$(depends zorvane-tools)" || fail "zorvane-tools: no computed dependency on libmosquitto1"
for package in zorvane-tools tarvel libkelvard1; do
    grep -q "libzorvane1 (= $version)" <<<"$(depends $package)" || fail "$package does not depend on libzorvane1 (= $version)"
done
grep -q "libusb-1.0-0" <<<"$(depends libzorvane1)" || fail "libzorvane1: no computed dependencies"
grep -q "libqt6widgets6" <<<"$(depends tarvel)" || fail "tarvel: no computed dependencies"
grep -q "python3:any" <<<"$(depends python3-kelvard)" || fail "python3-kelvard does not depend on python3"
grep -q "libkelvard1 (= $version)" <<<"$(depends python3-kelvard)" || fail "python3-kelvard does not depend on libkelvard1 (= $version)"

# python3-kelvard byte-compiles its module when configured and removes the byte code before
# removal, with Debian's tools: its scripts run here with stand-ins that log their calls.
dpkg-deb -e "$(ls "$work"/debs/python3-kelvard_"$version"_*.deb)" "$work/python3-kelvard"
mkdir "$work/stubs"
for tool in py3compile py3clean; do
    printf '#!/bin/sh\necho %s "$*" >>"%s"\n' "$tool" "$work/called" >"$work/stubs/$tool"
    chmod +x "$work/stubs/$tool"
done
for script in postinst:configure prerm:remove; do
    PATH=$work/stubs:$PATH sh "$work/python3-kelvard/${script%:*}" "${script#*:}" ||
        fail "python3-kelvard: ${script%:*} failed"
done
grep -qx "py3compile -p python3-kelvard" "$work/called" || fail "python3-kelvard: postinst runs no py3compile"
grep -qx "py3clean -p python3-kelvard" "$work/called" || fail "python3-kelvard: prerm runs no py3clean"

status=0
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" >"$work/lintian.log" 2>&1 || status=$?
grep -v "root privileges" "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian found errors"

root=$work/root
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$root"
done
if grep -rlF -e "$build" -e "$(cd "$here/../.." && pwd)" "$root"; then
    fail "the files above refer to the build or source tree"
fi

"$here/../zorvane/check_install.sh" --prefix "$root/usr" "$here/../zorvane/consumer"

for program in zorvane kelvard-sim tarvel; do
    printed=$("$root/usr/bin/$program" --version)
    [ "$printed" = "$program $version" ] || fail "$program --version printed: $printed"
done
# The Python module as Debian's python3 finds it, over the unpacked library.
printed=$(PYTHONPATH=$root/usr/lib/python3/dist-packages KELVARD_LIBRARY=$root/usr/$libdir/libkelvard.so.1 \
    KELVARD_USB=sim KELVARD_SIM_BOARDS='id=7;id=12' /usr/bin/python3 -c \
    'import kelvard; print(*(board.name for board in kelvard.boards()))')
[ "$printed" = "7 12" ] || fail "the installed module found: $printed"

shot=$work/tarvel.png
printed=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config \
    KELVARD_SIM_BOARDS='id=7;id=12' timeout 60 "$root/usr/bin/tarvel" --simulate --screenshot "$shot")
[ "$printed" = "$shot" ] && [ -s "$shot" ] || fail "installed tarvel made no screenshot: $printed"

# zorvane.pc as on a system with libzorvane-dev: /usr's folders are the system's own.
printed=$(PKG_CONFIG_PATH=$root/usr/$libdir/pkgconfig pkg-config --cflags --libs zorvane)
[ "${printed% }" = "-lzorvane" ] || fail "pkg-config --cflags --libs zorvane printed: $printed"

export MANPATH=$root/usr/share/man
# Every option that kelvard-sim --help names has its entry in the manual page.
for option in $("$root/usr/bin/kelvard-sim" --help | grep -o -- '--[a-z-]*' | sort -u); do
    zcat "$MANPATH/man1/kelvard-sim.1.gz" | grep -q "^\\\\fB$option\\\\fR" ||
        fail "kelvard-sim(1) does not document $option"
done
[ "$(man -w zorvane)" = "$MANPATH/man1/zorvane.1.gz" ] || fail "man zorvane finds $(man -w zorvane)"
[ "$(man -w 3 zorvane)" = "$MANPATH/man3/zorvane.3.gz" ] || fail "man 3 zorvane finds $(man -w 3 zorvane)"
[ "$(man -w 3 kelvard)" = "$MANPATH/man3/kelvard.3.gz" ] || fail "man 3 kelvard finds $(man -w 3 kelvard)"
for page in "$MANPATH"/man*/*.gz; do
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

desktop-file-validate "$root/usr/share/applications/tarvel.desktop" || fail "tarvel.desktop"
# The unit as systemd reads it, its program taken from the scratch root; nothing enables it.
sed "s|/usr/bin/zorvane|$root/usr/bin/zorvane|" "$root$units/zorvane-mqtt.service" >"$work/zorvane-mqtt.service"
systemd-analyze verify "$work/zorvane-mqtt.service" || fail "systemd-analyze verify zorvane-mqtt.service"
dpkg-deb -I "$(ls "$work"/debs/zorvane-tools_"$version"_*.deb)" conffiles | grep -qx /etc/default/zorvane-mqtt ||
    fail "zorvane-tools: /etc/default/zorvane-mqtt is no conffile"
for metainfo in "$root"/usr/share/metainfo/*.xml; do
    appstreamcli validate --no-net --pedantic "$metainfo" >"$work/appstream.log" 2>&1 ||
        { cat "$work/appstream.log"; fail "$metainfo"; }
done
echo "${#debs[@]} packages built, checked and used from a scratch root"
