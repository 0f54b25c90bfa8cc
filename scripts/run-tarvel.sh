#!/usr/bin/env bash
# make run: starts Tarvel on the simulated boards (KELVARD_SIM_BOARDS, two boards when unset).
# Without a display it runs under a virtual X server instead, saves a screenshot of the dialog
# as build/tarvel.png, prints its path and exits after a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${DISPLAY:-}" ]; then
    exec build/default/tarvel/tarvel --simulate
fi
exec scripts/tarvel-screenshot.sh build/tarvel.png
