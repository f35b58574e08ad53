#!/bin/bash
# The Windows backends against the real system calls: registry store and its watch, instance
# lock, timer arithmetic and clock request, twip scaling, the keyboard hook
# (win32_backend_checks.exe reports each, then "passed").
source "$(dirname "$0")/session.sh"
: "${PAVRO_BACKEND_CHECKS:?PAVRO_BACKEND_CHECKS must name win32_backend_checks.exe}"

start_desktop
start_wineserver
output=$("$WINE" "$PAVRO_BACKEND_CHECKS" 2>/dev/null)
status=$?
output=$(tr -d '\r' <<<"$output")
log "$output"
check "the backend checks passed" bash -c "[[ $status == 0 ]] && grep -q '^passed' <<<'$output'"
finish
