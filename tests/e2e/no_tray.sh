#!/usr/bin/env bash
# Pavro started before any notification area exists: it keeps running, tells the user (a dialog
# and a line on stderr) how to switch meanwhile, and its icon docks once a panel starts.
source "$(dirname "$0")/session.sh"

start_session

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
ROOT_ID=$(xwininfo -root | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
parent_of() { xwininfo -children -id "$1" 2>/dev/null | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'; }
# docked: a viewable window of ours that the panel holds as its child.
docked() {
    local w
    for w in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        [[ $(parent_of "$w") != "$ROOT_ID" ]] && return 0
    done
    return 1
}
check "the icon docks once a panel starts" wait_until 10 docked
check "the icon came only once: no second message" \
    test "$(grep -c 'No notification area' "$PAVRO_LOG")" = 1
stop_pid "$PAVRO_PID"
finish
