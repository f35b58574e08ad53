#!/usr/bin/env bash
# The benchmarks: bench/run does it all (see the README's Benchmarks section).
exec "$(dirname "$0")/../bench/run" "$@"
