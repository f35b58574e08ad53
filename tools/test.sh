#!/usr/bin/env bash
# Sets up, builds and runs every test: the core's unit tests (also under AddressSanitizer
# and UBSan), the live X server tests, the end-to-end tests of the Linux programs under
# Xvfb, the Windows programs end to end under Wine, and the fuzz targets (clang's libFuzzer
# under ASan and UBSan) for a short run each.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh tests

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
