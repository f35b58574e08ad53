#!/bin/bash
# Makes the fresh Wine prefix that every Wine test of this ctest run shares (a fixture: wineboot
# takes several seconds, a test only milliseconds to start a program in a booted prefix).
source "$(dirname "$0")/session.sh"

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
started=$SECONDS
start_wineserver
boot() { "$WINE" wineboot -i >"$E2E_WORK/wineboot.log" 2>&1; }
check "wineboot created the prefix" boot
stop_programs
check "the prefix has a registry" test -f "$WINEPREFIX/system.reg"
log "fresh prefix in $((SECONDS - started))s"
finish
