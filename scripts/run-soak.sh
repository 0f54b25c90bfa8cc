#!/usr/bin/env bash
# The soak of the default build for SOAK_SECONDS (default 600): exports on USB boards that come
# and go, a COM-port board on a pseudo-terminal and the tool's network link to a network board,
# all at once; resident memory and open files must stay flat after the warm-up. (make test runs
# it for 30 s under AddressSanitizer.)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default
cmake --build --preset default --target kelvard_soak
SOAK_SECONDS="${SOAK_SECONDS:-600}" KELVARD_DEBUG= XDG_RUNTIME_DIR="$PWD/build/default/tests/soak/runtime" \
    build/default/tests/soak/kelvard_soak
