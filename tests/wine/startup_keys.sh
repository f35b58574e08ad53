#!/bin/bash
# Start-up, the second launch that switches the running copy on and off, and the keys while on
# and off, seen from the pointer and from the probe window that has the focus.
source "$(dirname "$0")/session.sh"

# right_passes <when>: Right reaches the probe and leaves the pointer where it is.
right_passes() {
    local mark x0
    mark=$(probe_lines)
    x0=$(pointer_x)
    xdotool key Right
    probe_sync
    check "$1, Right reaches the probe" probe_after "$mark" '^KEYDOWN 39$'
    check "$1, Right leaves the pointer" test "$(pointer_x)" = "$x0"
}

# whole_ticks <pixels> <low> <high>: the distance of a whole number of ticks between low and high.
whole_ticks() {
    local n
    for ((n = $2; n <= $3; n++)); do
        (($(model_distance "$n") == $1)) && return 0
    done
    return 1
}

start_desktop
start_wineserver
reset_store
start_pavro
check "Pavro started off and stored OnOff 0" wait_until 10 onoff_is 0
# The probe starts after Pavro: starting the tray host (explorer) takes Wine's focus.
start_probe
xdotool mousemove 150 300
right_passes "while off"

second_launch
check "the second launch stored OnOff 1" onoff_is 1
# The running copy follows at its next tick; each look is one tap of Right.
check "the running copy switched on" wait_until 5 capture_is on
xdotool mousemove 150 300

# A held arrow moves the pointer by the model's distance and never reaches the probe.
mark=$(probe_lines)
read -r x0 y0 <<<"$(pointer)"
hold Right 0.5
probe_sync
check "no arrow reached the probe while on" not probe_after "$mark" ' (37|38|39|40)$'
check "Right moved the pointer only horizontally" test "$(pointer_y)" = "$y0"
moved=$(($(pointer_x) - x0))
expected=$((HELD_MAX / 25))
# Tolerance: the tick phase at press and at release (one tick each), the delivery of the press
# and the release from xdotool through Wine's input path, and the time xdotool itself takes
# between the time stamps (two ticks together, measured 0-1 here).
check "Right held ${HELD_MAX} ms moved $moved px: whole ticks of the model, about $expected" \
    whole_ticks "$moved" $((expected - 3)) $((expected + 2))

mark=$(probe_lines)
xdotool key a
check "'a' key-up reaches the probe" wait_until 5 probe_after "$mark" '^KEYUP 65$'
check "'a' key-down reaches the probe" probe_after "$mark" '^KEYDOWN 65$'

mark=$(probe_lines)
xdotool keydown Return keyup Return
check "Enter releases the button on the probe" wait_until 5 probe_after "$mark" '^LBUTTONUP$'
check "Enter presses the button on the probe" probe_after "$mark" '^LBUTTONDOWN$'
probe_sync
check "Enter never reaches the probe as a key" not probe_after "$mark" 'KEY(DOWN|UP) 13$'

mark=$(probe_lines)
read -r x0 y0 <<<"$(pointer)"
# xdotool key alt+Left would release Alt before Left; hold it explicitly.
xdotool keydown alt keydown Left keyup Left keyup alt
probe_sync
check "Alt+Left does not reach the probe" not probe_after "$mark" ' 37$'
check "Alt+Left does not move the pointer" pointer_at "$x0" "$y0"

# A release while Alt is down ends its press: the pointer stops and the button goes up.
xdotool mousemove 150 300
xdotool keydown Right
sleep 0.2
xdotool keydown alt keyup Right keyup alt
wait_until 5 pointer_still
read -r x0 y0 <<<"$(pointer)"
sleep 0.3
check "Right released while Alt is down stops the pointer" pointer_at "$x0" "$y0"
xdotool mousemove 150 300
mark=$(probe_lines)
xdotool keydown Return keydown alt keyup Return keyup alt
check "Enter released while Alt is down releases the button" wait_until 5 probe_after "$mark" '^LBUTTONUP$'

second_launch
check "the second launch stored OnOff 0" onoff_is 0
check "the running copy switched off" wait_until 5 capture_is off
right_passes "after switching off"
finish
