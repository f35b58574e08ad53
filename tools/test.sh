#!/usr/bin/env bash
# Sets up, builds and runs every test: the core's unit tests (also under AddressSanitizer
# and UBSan), the live X server tests, the end-to-end tests of the Linux programs under
# Xvfb, and the Windows programs end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset windows
cmake --build --preset windows
ctest --preset windows
