#!/usr/bin/env bash
# Pavro started before any notification area exists: it keeps running, tells the user (a dialog
# and a line on stderr) how to switch meanwhile, and its icon docks once a panel starts.
source "$(dirname "$0")/session.sh"

start_x
start_wm

new_profile no-tray
check "starts without a notification area" start_pavro
PAVRO_LOG="$E2E_WORK/$E2E_CURRENT.pavro.log"
check "tells on stderr that there is no notification area" \
    wait_until 15 grep -q "No notification area" "$PAVRO_LOG"
check "tells the user in a dialog" \
    wait_until 5 bash -c "timeout 2 xdotool search --onlyvisible --name '^Pavro\$' >/dev/null"
check "keeps running" pavro_alive
check "a second launch still switches it on" switch_by_second_launch 1

start_tray
check "the icon docks once a panel starts" wait_until 10 tray_icon >/dev/null
check "the icon came only once: no second message" \
    test "$(grep -c 'No notification area' "$PAVRO_LOG")" = 1
stop_pid "$PAVRO_PID"
finish
