#!/bin/bash
# The tray icon at logon: the taskbar is there but refuses icons for a while (a stand-in found
# before the shell's own). Pavro must keep trying, quietly, and show its icon once the
# notification area takes it; a later "TaskbarCreated" must not add a second one.
source "$(dirname "$0")/session.sh"

start_desktop
start_wineserver
reset_store
ready=$E2E_WORK/refusing-tray.ready
"$WINE" "$PAVRO_PROBE" --refusing-tray "Z:$(tr '/' '\\' <<<"$ready")" >/dev/null 2>&1 &
wait_until 30 test -e "$ready" || abort "the refusing taskbar did not start"

"$WINE" "$PAVRO_BIN_DIR/Pavro.exe" >"$E2E_WORK/pavro.out" 2>&1 &
PAVRO_PID=$!
wait_until 60 window_exists "$CAPTION" || abort "Pavro's window did not appear"
check "Pavro stored OnOff 0 while the taskbar refused its icon" wait_until 10 onoff_is 0
sleep 3
check "no icon while the taskbar refuses it" tray_icon_gone
check "... and no box tells of a failure yet" not window_exists Pavro
rm -f "$ready"
check "the icon shows once the notification area takes it" wait_until 10 tray_icon_docked
check "... without a box" not window_exists Pavro

# The taskbar restarts: the icon is there after it, once.
"$WINE" "$PAVRO_PROBE" --taskbar-created >/dev/null 2>&1
sleep 1
check "a \"TaskbarCreated\" keeps the icon docked" tray_icon_docked
double_click_tray_icon
check "... and it answers a double click" wait_until 5 onoff_is 1
finish
