#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libusb-1.0-0-dev umockdev libumockdev-dev
    srecord gcovr clang-tidy git
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core xvfb xauth imagemagick
    dpkg-dev fakeroot file lintian scdoc man-db groff-base desktop-file-utils appstream
    python3 python3-pytest python3-mypy python3-setuptools python3-wheel python3-venv python3-pip
    mosquitto mosquitto-clients libmosquitto-dev systemd
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
