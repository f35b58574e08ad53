#!/usr/bin/env bash
# Builds the default preset and prints the benchmarks' figures: the core's key path and tick,
# and the X11 key source's latency in a private X server.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target core_key_path_bench x11_key_latency
echo "== core: key path and tick"
build/bin/core_key_path_bench
echo "== X11: key sent through XTest to the key source's sink"
tests/x11/run_with_xvfb.sh --wm build/bin/x11_key_latency
