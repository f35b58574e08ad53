#!/bin/bash
# The running copy rests between ticks and learns of a second launch only from the registry's
# change notification: it still follows after Sweepra deleted the Settings key and after the whole
# application key was deleted, each then made again by the second launch.
source "$(dirname "$0")/session.sh"

start_desktop
start_wineserver
reset_store
start_pavro
check "Pavro started off" wait_until 10 onoff_is 0
start_probe

"$WINE" "$PAVRO_BIN_DIR/Sweepra.exe" >"$E2E_WORK/sweepra.out" 2>&1 &
sweepra=$!
wait_until 30 window_exists Form1 || abort "Sweepra's window did not appear"
wmctrl -c Form1
wait_until 10 process_ended "$sweepra" || abort "Sweepra did not end"
check "Sweepra deleted the Settings key under the running copy" not reg_key_exists "$SETTINGS_KEY"
second_launch
check "a second launch into the Settings key made again switches on" wait_until 5 capture_is on

reset_store
check "the whole application key is gone" not reg_key_exists "$APP_KEY"
# Nothing stored counts as off: this launch asks for on, which the running copy already is.
second_launch
check "the application key is made again with OnOff 1" onoff_is 1
second_launch
check "a second launch into the application key made again switches off" wait_until 5 capture_is off
finish
