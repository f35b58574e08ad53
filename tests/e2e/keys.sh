#!/usr/bin/env bash
# The keys while pointer control is on and off, seen from the pointer and from a probe window
# that has the focus.
source "$(dirname "$0")/session.sh"

# within_model <pixels>: the last hold moved that far. The key was down at least HELD_MIN and at
# most HELD_MAX ms; ticks fall every 25 ms at an unknown phase, so the hold covers between
# floor(HELD_MIN / 25) - 1 and ceil(HELD_MAX / 25) + 1 of them; the first tick after the press
# already moves.
within_model() {
    (($1 >= $(model_distance $((HELD_MIN / 25 - 1))) && $1 <= $(model_distance $(((HELD_MAX + 24) / 25 + 1)))))
}

start_desktop
new_profile keys
start_pavro || abort "Pavro did not start"
start_probe 100 150 1000 600
switch_by_second_launch 1 || finish

# --- A held arrow moves the pointer by the model's distance and never reaches the probe ---
xdotool mousemove 150 400
wait_until 5 pointer_at 150 400 || abort "the pointer did not reach 150,400"
hold Right 1
moved=$(($(pointer_x) - 150))
log "figure: Right held ${HELD_MIN}-${HELD_MAX} ms moved the pointer ${moved} px (model $(model_distance $((HELD_MIN / 25))) px)"
check "held Right moved ${moved} px, within the model" within_model "$moved"
check "held Right moved only horizontally" test "$(pointer_y)" = 400

# Down, from near the top so that the screen edge stays out of reach.
xdotool mousemove 700 60
wait_until 5 pointer_at 700 60 || abort "the pointer did not reach 700,60"
hold Down 0.5
moved=$(($(pointer_y) - 60))
log "figure: Down held ${HELD_MIN}-${HELD_MAX} ms moved the pointer ${moved} px (model $(model_distance $((HELD_MIN / 25))) px)"
check "held Down moved ${moved} px, within the model" within_model "$moved"

probe_sync
# The grab is dropped at each press, so the probe sees the arrow's release without its press.
check "held arrows never reached the probe" bash -c "! grep -Eq '^KeyPress (Right|Down) ' '$PROBE_LOG'"

# --- Another key typed while an arrow is held reaches the probe ---
xdotool keydown Left
xdotool key a
xdotool keyup Left
probe_sync
check "a typed while Left is held reached the probe" probe_has '^KeyPress a '
check "... and so did its release" probe_has '^KeyRelease a '
check "Left itself did not" bash -c "! grep -q '^KeyPress Left ' '$PROBE_LOG'"

# --- Enter clicks the probe where the pointer is ---
xdotool mousemove 500 500
wait_until 5 pointer_at 500 500 || abort "the pointer did not reach 500,500"
xdotool key Return
probe_sync
check "Enter pressed the left button on the probe" probe_has '^ButtonPress 1 at 500,500'
check "Enter released it" probe_has '^ButtonRelease 1 at 500,500'
check "Enter itself did not reach the probe" bash -c "! grep -q '^KeyPress Return ' '$PROBE_LOG'"

# --- Alt+arrow neither moves nor reaches the probe, and leaves no Alt stuck ---
x0=$(pointer_x)
y0=$(pointer_y)
xdotool keydown Alt_L
xdotool keydown Left
sleep 0.3  # the hold itself
xdotool keyup Left
xdotool keyup Alt_L
probe_sync
check "Alt+Left did not move the pointer" test "$(pointer_x),$(pointer_y)" = "$x0,$y0"
check "Alt+Left did not reach the probe" bash -c "! grep -q '^KeyPress Left ' '$PROBE_LOG'"
check "the probe saw Alt released" probe_has '^KeyRelease Alt_L '
# F12 was typed after the Alt release: had Alt stuck, its state would carry Mod1 (0x8).
check "no modifier stuck after Alt+Left" bash -c "tail -n 2 '$PROBE_LOG' | grep -q '^KeyRelease F12 state=0x0$'"

# --- Turned off, every key passes and nothing moves ---
switch_by_second_launch 0 || finish
probe_sync
PROBE_LOG_ON="$E2E_WORK/keys.probe.on.log"
cp "$PROBE_LOG" "$PROBE_LOG_ON"
: >"$PROBE_LOG"
x0=$(pointer_x)
y0=$(pointer_y)
xdotool keydown Right
sleep 0.2  # the hold itself
xdotool keyup Right
xdotool key Left Up Down Return KP_Enter a
probe_sync
check "off: the pointer stayed" test "$(pointer_x),$(pointer_y)" = "$x0,$y0"
for key in Right Left Up Down Return KP_Enter a; do
    check "off: $key reached the probe" probe_has "^KeyPress $key "
done
check "off: no click came from Enter" bash -c "! grep -q '^ButtonPress' '$PROBE_LOG'"
check "Pavro kept running" pavro_alive

finish
