#!/usr/bin/env bash
# Nothing stays pressed and nothing keeps moving: releases under Alt, control switched off while
# Enter and an arrow are held, a flood of random keys, and the display going away. Also what the
# program leaves behind while it sees keys: nothing but its store and lock, no key in its output.
source "$(dirname "$0")/session.sh"
: "${FLOOD_BIN:?FLOOD_BIN must name the key flood driver}"
FLOOD_EVENTS=${PAVRO_FLOOD_EVENTS:-3000}

# The XTEST pointer carries the presses Pavro injects for Enter.
button_up() { xinput --query-state "Virtual core XTEST pointer" | grep -q 'button\[1\]=up'; }
# press_and_hold <key...>: keys down, long enough for ticks to run, shorter than auto-repeat.
press_and_hold() {
    xdotool mousemove 300 400
    wait_until 5 pointer_at 300 400 || abort "the pointer did not reach 300,400"
    local key
    for key in "$@"; do xdotool keydown "$key"; done
    sleep 0.15
}

start_desktop
XVFB_PID=${E2E_PIDS[0]}
xset r off  # holds and floods are the tests' own; the server's repeat would only add noise
new_profile stuck
start_pavro || abort "Pavro did not start"
start_probe 100 150 1000 600
switch_by_second_launch 1 || finish

# --- A release under Alt ends its press ---
press_and_hold Right
xdotool keydown Alt_L keyup Right keyup Alt_L
check "Right released while Alt is down stops the pointer" still_for 0.3
press_and_hold Return
xdotool keydown Alt_L keyup Return keyup Alt_L
check "Enter released while Alt is down releases the button" wait_until 2 button_up

# --- Switched off while Enter and an arrow are held: the button goes up, the pointer stops ---
press_and_hold Right Return
second_launch
check "a second launch switches off while keys are held" wait_until 5 conf_is OnOff 0
check "... the button is up" wait_until 2 button_up
check "... the pointer stopped" still_for 0.3
xdotool keyup Right keyup Return
switch_by_second_launch 1 || finish

press_and_hold Right Return
stop_pid "$PAVRO_PID"
check "SIGTERM ends Pavro while keys are held" pavro_ended
check "... the button is up" wait_until 2 button_up
check "... the pointer stopped" still_for 0.3
xdotool keyup Right keyup Return

# --- A flood of random keys: every other key reaches the probe in order, nothing stays down ---
new_profile flood
start_pavro || abort "Pavro did not start again"
switch_by_second_launch 1 || finish
# The flood's arrows take the pointer anywhere and its Enter clicks there: on the desktop the
# window manager takes the focus, on a frame a drag moves the window under its keyboard grab,
# and either way keys miss the probe. Full screen, the probe is under every click.
wmctrl -i -r "$PROBE_WINDOW" -b add,fullscreen
probe_fills_screen() { [[ $(window_size "$PROBE_WINDOW") == 1280x800 ]]; }
wait_until 5 probe_fills_screen || abort "the probe did not go full screen"
timeout 5 xdotool windowactivate --sync "$PROBE_WINDOW" >/dev/null 2>&1 || xdotool windowfocus "$PROBE_WINDOW"
probe_sync
marker=$(wc -l <"$PROBE_LOG")
xdotool mousemove 640 400
"$FLOOD_BIN" 7 "$FLOOD_EVENTS" "$E2E_WORK/flood.expected" || abort "the flood driver failed"
received() {
    tail -n +"$((marker + 1))" "$PROBE_LOG" | awk '/^Key(Press|Release) / { print $1, $2 }' |
        grep -Ev ' (Left|Up|Right|Down|Return|F12)$' >"$E2E_WORK/flood.received"
    (($(wc -l <"$E2E_WORK/flood.received") >= $(wc -l <"$E2E_WORK/flood.expected")))
}
# Every captured press holds the keyboard until Pavro lets it go: a long flood drains slowly.
wait_until $((5 + FLOOD_EVENTS / 500)) received
probe_sync
received
log "figure: $FLOOD_EVENTS random key events, $(wc -l <"$E2E_WORK/flood.expected") for the probe"
check "the probe got every other key of the flood, in order" cmp -s "$E2E_WORK/flood.expected" "$E2E_WORK/flood.received"
check "no press of the five keys reached the probe" \
    bash -c "! tail -n +$((marker + 1)) '$PROBE_LOG' | grep -Eq '^KeyPress (Left|Up|Right|Down|Return) '"
check "after the flood the button is up" wait_until 2 button_up
xdotool mousemove 640 400  # away from the edges, where a held arrow could not move it further
check "... and the pointer is still" still_for 0.3
check "... and a second launch is still followed at once" switch_by_second_launch 0
check "Pavro wrote no key anywhere: its output names none" \
    not grep -Eq '\<(Left|Right|Up|Down|Return|Alt_L|Shift_L|Control_L|Num_Lock)\>|KeyPress|keycode' "$E2E_WORK/flood.pavro.log"
unexpected=$(find "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" -type f ! -name Pavro.conf ! -name Pavro.lock ! -name '*.conf.lock')
check "... and left no file but its store and lock" test -z "$unexpected"

# --- The display goes away: the settings are saved, the exit says why and is not 0 ---
new_profile display-loss
start_pavro || abort "Pavro did not start for the display check"
switch_by_second_launch 1 || finish
press_and_hold Return
kill -KILL "$XVFB_PID"
gone=$(now_ms)
check "losing the display ends Pavro within a second" wait_until 1 pavro_ended
log "figure: Pavro ended $(($(now_ms) - gone)) ms after the display went away"
wait "$PAVRO_PID"
status=$?
check "... with a nonzero status ($status)" test "$status" != 0
check "... saying why" grep -q 'display went away' "$E2E_WORK/display-loss.pavro.log"
check "... after saving the settings" conf_is version "$STORED_VERSION"
# Killed, the server left its lock behind.
rm -f "/tmp/.X$E2E_DISPLAY_NUMBER-lock" "/tmp/.X11-unix/X$E2E_DISPLAY_NUMBER"
finish
