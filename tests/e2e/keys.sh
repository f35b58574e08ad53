#!/usr/bin/env bash
# The keys while pointer control is on and off, seen from the pointer and from a probe window
# that has the focus.
source "$(dirname "$0")/session.sh"

# Pixels moved by a hold of |ticks| ticks with the default settings: 6 px on each of the first
# eleven ticks, then 20 px (steps 25 and 80 px per 100 ms at 25 ms, fast after 250 ms).
model_distance() {
    local ticks=$1
    if ((ticks <= 11)); then echo $((ticks * 6)); else echo $((66 + (ticks - 11) * 20)); fi
}

start_session
start_tray
new_profile keys
start_pavro || { fail "Pavro did not start"; finish; }
start_probe 100 150 1000 600
switch_by_second_launch 1 || finish

# --- A held arrow moves the pointer by the model's distance and never reaches the probe ---
xdotool mousemove 150 400
wait_until 5 bash -c '[[ $(xdotool getmouselocation --shell | sed -n "s/^X=//p") == 150 ]]'
x0=$(pointer_x)
y0=$(pointer_y)
t0=$(now_ms)
xdotool keydown Right
t1=$(now_ms)
sleep 1  # the hold itself
t2=$(now_ms)
xdotool keyup Right
t3=$(now_ms)
# The last tick of the hold may still be running when keyup returns: wait for two quiet reads.
wait_until 5 bash -c 'a=$(xdotool getmouselocation); sleep 0.06; [[ $a == $(xdotool getmouselocation) ]]'
x1=$(pointer_x)
y1=$(pointer_y)
moved=$((x1 - x0))
# The key was down at least from t1 to t2 and at most from t0 to t3. Ticks fall every 25 ms
# at an unknown phase, so the hold covers between floor(inner / 25) - 1 and
# ceil(outer / 25) + 1 of them; the first tick after the press already moves.
inner=$((t2 - t1))
outer=$((t3 - t0))
low_ticks=$((inner / 25 - 1))
high_ticks=$(((outer + 24) / 25 + 1))
low=$(model_distance "$low_ticks")
high=$(model_distance "$high_ticks")
log "figure: Right held ${inner}-${outer} ms moved the pointer ${moved} px; the model gives ${low}-${high} px ($(model_distance $((inner / 25))) px for $((inner / 25)) ticks)"
check "held Right moved ${moved} px, within the model's ${low}-${high} px" test "$moved" -ge "$low" -a "$moved" -le "$high"
check "held Right moved only horizontally" test "$y1" = "$y0"

# Down, from near the top so that the screen edge stays out of reach.
xdotool mousemove 700 60
wait_until 5 bash -c '[[ $(xdotool getmouselocation --shell | sed -n "s/^Y=//p") == 60 ]]'
y1=$(pointer_y)
t0=$(now_ms)
xdotool keydown Down
t1=$(now_ms)
sleep 0.5  # the hold itself
t2=$(now_ms)
xdotool keyup Down
t3=$(now_ms)
wait_until 5 bash -c 'a=$(xdotool getmouselocation); sleep 0.06; [[ $a == $(xdotool getmouselocation) ]]'
moved_down=$(($(pointer_y) - y1))
log "figure: Down held $((t2 - t1))-$((t3 - t0)) ms moved the pointer ${moved_down} px (model $(model_distance $(((t2 - t1) / 25))) px)"
check "held Down moved within the model" test "$moved_down" -ge "$(model_distance $(((t2 - t1) / 25 - 1)))" \
    -a "$moved_down" -le "$(model_distance $(((t3 - t0 + 24) / 25 + 1)))"

probe_mark
# The grab is dropped at each press, so the probe sees the arrow's release without its press.
check "held arrows never reached the probe" bash -c "! grep -Eq '^KeyPress (Right|Down) ' '$PROBE_LOG'"

# --- Another key typed while an arrow is held reaches the probe ---
xdotool keydown Left
xdotool key a
xdotool keyup Left
probe_mark
check "a typed while Left is held reached the probe" probe_has '^KeyPress a '
check "... and so did its release" probe_has '^KeyRelease a '
check "Left itself did not" bash -c "! grep -q '^KeyPress Left ' '$PROBE_LOG'"

# --- Enter clicks the probe where the pointer is ---
xdotool mousemove 500 500
wait_until 5 bash -c '[[ $(xdotool getmouselocation --shell | sed -n "s/^X=//p") == 500 ]]'
xdotool key Return
probe_mark
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
probe_mark
check "Alt+Left did not move the pointer" test "$(pointer_x),$(pointer_y)" = "$x0,$y0"
check "Alt+Left did not reach the probe" bash -c "! grep -q '^KeyPress Left ' '$PROBE_LOG'"
check "the probe saw Alt released" probe_has '^KeyRelease Alt_L '
# F12 was typed after the Alt release: had Alt stuck, its state would carry Mod1 (0x8).
check "no modifier stuck after Alt+Left" bash -c "tail -n 2 '$PROBE_LOG' | grep -q '^KeyRelease F12 state=0x0$'"

# --- Turned off, every key passes and nothing moves ---
switch_by_second_launch 0 || finish
probe_mark
PROBE_LOG_ON="$E2E_WORK/keys.probe.on.log"
cp "$PROBE_LOG" "$PROBE_LOG_ON"
: >"$PROBE_LOG"
x0=$(pointer_x)
y0=$(pointer_y)
xdotool keydown Right
sleep 0.2  # the hold itself
xdotool keyup Right
xdotool key Left Up Down Return KP_Enter a
probe_mark
check "off: the pointer stayed" test "$(pointer_x),$(pointer_y)" = "$x0,$y0"
for key in Right Left Up Down Return KP_Enter a; do
    check "off: $key reached the probe" probe_has "^KeyPress $key "
done
check "off: no click came from Enter" bash -c "! grep -q '^ButtonPress' '$PROBE_LOG'"
check "Pavro kept running" pavro_alive

finish
