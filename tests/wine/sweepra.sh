#!/bin/bash
# Sweepra.exe removes Pavro's Settings key with its subkeys and nothing else, shows its window and
# ends when the window closes, also when there is nothing to remove.
source "$(dirname "$0")/session.sh"

start_desktop
start_wineserver
reset_store
reg_add "$SETTINGS_KEY" StdDist REG_SZ 30
reg_add "$SETTINGS_KEY" OnOff REG_SZ 1
reg_add "$SETTINGS_KEY\\Nested" Inner REG_SZ x
reg_add "$APP_KEY" Other REG_SZ keep
reg_add "$APP_KEY\\Neighbour" Keep REG_SZ yes
reg_add 'HKCU\Software\PavroSettings' Keep REG_SZ yes

"$WINE" "$PAVRO_BIN_DIR/Sweepra.exe" >"$E2E_WORK/sweepra.out" 2>&1 &
pid=$!
wait_until 60 window_exists Form1 || abort "Sweepra's window \"Form1\" did not appear"
window=$(window_by_title Form1)
check "the window shows" wait_until 5 window_viewable "$window"
check "its client area is 312x206" test "$(window_size "$window")" = 312x206
check "the Settings key is gone" not reg_key_exists "$SETTINGS_KEY"
check "the value beside the Settings key stayed" test "$(reg_value Other "$APP_KEY")" = keep
check "a neighbouring key stayed" test "$(reg_value Keep "$APP_KEY\\Neighbour")" = yes
check "a key with a similar name stayed" test "$(reg_value Keep 'HKCU\Software\PavroSettings')" = yes
check "Sweepra runs until its window is closed" kill -0 "$pid"
wmctrl -c Form1
check "closing the window ends Sweepra" wait_until 10 process_ended "$pid"

# Nothing left to delete: still no crash, still the window.
"$WINE" "$PAVRO_BIN_DIR/Sweepra.exe" >>"$E2E_WORK/sweepra.out" 2>&1 &
pid=$!
wait_until 30 window_exists Form1 || abort "Sweepra's window with nothing to delete did not appear"
check "with nothing to delete the window shows" wait_until 5 window_viewable "$(window_by_title Form1)"
wmctrl -c Form1
check "... and closing it ends Sweepra" wait_until 10 process_ended "$pid"
wait "$pid"
check "... with status 0" test $? = 0
finish
