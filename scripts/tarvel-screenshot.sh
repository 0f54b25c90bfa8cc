#!/usr/bin/env bash
# Runs Tarvel on the simulated boards under a virtual X server and saves a picture of its
# dialog, polled for 2 s, as PATH (default docs/tarvel.png, the one the README shows). Needs a
# build in build/default (make build), or the program named by TARVEL. The dialog starts with
# a fresh settings folder, so its address field shows 0.0.0.0.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/tarvel.png}
tarvel=${TARVEL:-build/default/tarvel/tarvel}
if [ ! -x "$tarvel" ]; then
    echo "tarvel-screenshot: $tarvel is missing; run make build first" >&2
    exit 1
fi
mkdir -p "$(dirname "$out")"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/runtime"
XDG_RUNTIME_DIR="$scratch/runtime" XDG_CONFIG_HOME="$scratch/config" \
    xvfb-run -a -s "-screen 0 1024x768x24" \
    "$tarvel" --simulate --screenshot "$out" --quit-after 4
