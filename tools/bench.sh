#!/usr/bin/env bash
# Builds the default preset and prints the benchmarks' figures: the core's key path and tick,
# the X11 key source's latency, the capture's install time and the click path in a private X
# server.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target core_key_path_bench x11_key_latency x11_grab_install x11_click_latency
echo "== core: key path and tick"
build/bin/core_key_path_bench
echo "== X11: key sent through XTest to the key source's sink"
tests/x11/run_with_xvfb.sh --wm build/bin/x11_key_latency
echo "== X11: installing and removing the key capture (the switch), with a window manager"
tests/x11/run_with_xvfb.sh --wm build/bin/x11_grab_install
echo "== X11: Enter to a client's ButtonPress, by stage, beside the server's MouseKeys"
tests/x11/run_with_xvfb.sh build/bin/x11_click_latency 200
