#!/usr/bin/env bash
# Pavro under a real Wayland compositor: Weston's headless backend, Qt's wayland platform.
# Start-up, the second launch that switches the running copy (whose key capture must fail with
# the fix named: this machine offers no input devices), the exit, the settings window.
source "$(dirname "$0")/../e2e/session.sh"
: "${WINDOW_CHECK_BIN:?WINDOW_CHECK_BIN must name the settings window check}"

# --- The compositor, with no X display anywhere in reach ---
unset DISPLAY
export XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=pavro-test QT_QPA_PLATFORM=wayland
new_profile wayland
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$E2E_WORK/weston.log" 2>&1 &
track $!
wait_until 15 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || { log "weston did not start"; exit 1; }
# By its full path, so that programs with runtime folders of their own find it too.
export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY

check "Pavro starts on Wayland and stores OnOff 0" start_pavro
check "it stored OnOff 0" conf_is OnOff 0

# Every write of the store replaces the file by a rename: count them to see who wrote.
inotifywait -m -e moved_to --format '%e %f' "$XDG_CONFIG_HOME/Pavro" >"$E2E_WORK/writes.log" 2>"$E2E_WORK/inotify.log" &
track $!
wait_until 10 grep -q 'Watches established' "$E2E_WORK/inotify.log" || { log "inotifywait did not start"; exit 1; }
writes() { grep -c 'MOVED_TO Pavro.conf$' "$E2E_WORK/writes.log"; }
at_least_writes() { (($(writes) >= $1)); }

# toggle <expected OnOff>: a second copy stores the switch, then the running copy follows and
# stores it once more.
toggle() {
    local before
    before=$(writes)
    second_launch
    check "a second launch ends at once, without error" test "$SECOND_STATUS" = 0
    check "it stores OnOff $1" conf_is OnOff "$1"
    check "the running copy follows and stores the switch itself" wait_until 10 at_least_writes $((before + 2))
    check "the store shows OnOff $1" conf_is OnOff "$1"
}

PAVRO_LOG=$E2E_WORK/$E2E_CURRENT.pavro.log
toggle 1
# The capture needs /dev/uinput and keyboards under /dev/input, neither of which exists here.
told() { grep -q 'could not capture' "$PAVRO_LOG" && grep -q 'input group' "$PAVRO_LOG" \
    && grep -q '60-pavro-uinput.rules' "$PAVRO_LOG"; }
check "the capture failure is told with the fix named" wait_until 10 told
check "no X11 connection was tried" bash -c "! grep -qi 'xcb\|X display' '$PAVRO_LOG'"
toggle 0

stop_pid "$PAVRO_PID"
check "the exit saved the settings" conf_is StdDist 25
check "and kept OnOff 0" conf_is OnOff 0

# --- The settings window: the same handler the popup's "Settings" calls ---
new_profile window-wayland
"$WINDOW_CHECK_BIN" "$E2E_WORK/window-wayland.png" >"$E2E_WORK/window-wayland.txt" 2>"$E2E_WORK/window-wayland.log"
check "the window program ran to its exit on Wayland" test $? = 0
check "it ran on the wayland platform" grep -qx 'platform wayland' "$E2E_WORK/window-wayland.txt"
check "the compositor showed the settings window" grep -qx 'exposed 1' "$E2E_WORK/window-wayland.txt"
check "its client area is 373 x 124" grep -qx 'client 373x124' "$E2E_WORK/window-wayland.txt"
check "its exit saved the settings" conf_is StdDist 25
new_profile window-offscreen
QT_QPA_PLATFORM=offscreen "$WINDOW_CHECK_BIN" "$E2E_WORK/window-offscreen.png" >"$E2E_WORK/window-offscreen.txt" 2>/dev/null
check "every control keeps the layout it has off screen" \
    diff <(grep '^control' "$E2E_WORK/window-offscreen.txt") <(grep '^control' "$E2E_WORK/window-wayland.txt")
[[ -n ${PAVRO_WAYLAND_PICTURE:-} ]] && cp "$E2E_WORK/window-wayland.png" "$PAVRO_WAYLAND_PICTURE"

finish
