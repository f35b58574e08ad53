#!/usr/bin/env bash
# Sets up (Debian packages, when any is missing), builds and runs Pavro.
# With a display ($DISPLAY or $WAYLAND_DISPLAY set) Pavro starts there. With none, a private X session (Xvfb,
# openbox, trayer) shows it working: a second launch turns it on, a held arrow moves the
# pointer, Enter clicks a probe window, a screenshot is saved; then everything started here stops.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

# Only what running needs: the build, Qt's Wayland platform in a Wayland session, and the
# private X session's tools when there is no display. The test rig is tools/test.sh's.
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    purposes=(build)
    [[ -n ${WAYLAND_DISPLAY:-} ]] && purposes+=(wayland)
    tools/setup-deps.sh "${purposes[@]}"
    cmake --preset default >/dev/null
    cmake --build --preset default --target Pavro Sweepra
    exec "$ROOT/build/bin/Pavro"
fi

tools/setup-deps.sh build demo
cmake --preset default >/dev/null
# Pavro and Sweepra, and the demonstration's probe window and tray-selection check.
cmake --build --preset default --target Pavro Sweepra key_probe selection_owner

export PAVRO_BIN="$ROOT/build/bin/Pavro"
export SWEEPRA_BIN="$ROOT/build/bin/Sweepra"
export PROBE_BIN="$ROOT/build/bin/key_probe"
export SELECTION_OWNER_BIN="$ROOT/build/bin/selection_owner"
PAVRO_VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/CMakeCache.txt")
export PAVRO_VERSION
set +e
# The session helpers of the desktop tests: start_desktop, start_pavro, ... and a
# cleanup on exit that stops every process they started.
source "$ROOT/tests/e2e/session.sh"

echo "No display: demonstrating Pavro in a private X session"
start_desktop
echo "  X server $DISPLAY with openbox and a tray panel"
# A store and runtime folder of the demonstration's own: the user's settings stay untouched.
new_profile demo
start_pavro || { echo "Pavro did not start"; exit 1; }
echo "  Pavro is running (pid $PAVRO_PID), pointer control off; settings in $CONF (a private folder, removed at the end)"

switch_by_second_launch 1 || { echo "the second launch did not turn Pavro on"; exit 1; }
echo "  a second launch (it ran ${SECOND_MS} ms) turned pointer control on ${FOLLOW_MS} ms after it wrote the switch"

start_probe 100 150 1000 600
xdotool mousemove 200 400
wait_until 5 pointer_at 200 400
echo "  pointer before holding Right: $(pointer_x),$(pointer_y)"
hold Right 1
echo "  pointer after holding Right for 1 s: $(pointer_x),$(pointer_y) (the default tick model: a step at key-down and one every 25 ms, 11 of 6 px, then 20 px each)"

xdotool key Return
probe_sync
if probe_has '^ButtonPress 1 '; then
    echo "  Enter clicked the probe window: $(grep -m1 '^ButtonPress 1 ' "$PROBE_LOG")"
else
    echo "  Enter did NOT click the probe window"
fi
if probe_has '^KeyPress Right '; then
    echo "  the held Right reached the probe window (it should not have)"
else
    echo "  the probe window never saw the Right key"
fi

# The settings window, opened from the tray icon's menu, for the screenshot.
if icon=$(tray_icon); then
    xdotool mousemove --window "$icon" 11 15 click 3
    # The menu is open once an override-redirect window of ours sits on the root window.
    wait_until 5 menu_window >/dev/null
    # The open menu holds the keyboard, so these reach it even with pointer control on.
    xdotool key Down Down Return
    wait_until 5 bash -c "[[ -n \$(xdotool search --onlyvisible --name '^Cursor ' 2>/dev/null) ]]"
fi
SCREENSHOT="$ROOT/build/pavro-demo.png"
import -window root "$SCREENSHOT"
echo "  screenshot: $SCREENSHOT"

kill -TERM "$PAVRO_PID"
wait_until 5 pavro_ended
echo "  Pavro ended on SIGTERM and saved: $(tr '\n' ' ' <"$CONF")"
echo "Stopping the X session"
