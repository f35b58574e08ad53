#!/bin/bash
# A flood of random keys at full speed (arrows, Enter, Shift, Ctrl, Alt, NumLock and letters,
# releases under modifiers among them, every key up at the end), sent with XTest from the
# Linux side: what Wine's low-level hook sees. Afterwards no arrow is held, the left button is
# up, the probe got every other key in order, and the running copy still follows a second launch.
# Environment: PAVRO_FLOOD_BIN (the driver), PAVRO_FLOOD_EVENTS (default 3000).
source "$(dirname "$0")/session.sh"
: "${PAVRO_FLOOD_BIN:?PAVRO_FLOOD_BIN must name the key flood driver}"
FLOOD_EVENTS=${PAVRO_FLOOD_EVENTS:-3000}

# The driver names keys as X does, the probe as Windows does (virtual-key codes). Alt held makes
# Windows send the system-key variants: the same key event for this comparison.
as_windows() {
    awk 'BEGIN { vk["Shift_L"] = 16; vk["Control_L"] = 17; vk["Alt_L"] = 18; vk["Num_Lock"] = 144
                 vk["a"] = 65; vk["b"] = 66; vk["c"] = 67 }
         { print ($1 == "KeyPress" ? "KEYDOWN" : "KEYUP"), ($2 in vk ? vk[$2] : $2) }' "$1"
}
# received: the key lines after the mark but the sentinel's, as the driver's file has them.
received() {
    tail -n +"$((mark + 1))" "$PROBE_LOG" | sed -n 's/^SYS//; /^KEY\(DOWN\|UP\) /p' | grep -v ' 123$' \
        >"$E2E_WORK/flood.received"
}
# Wine keeps its NumLock state in step with the X server's by adding NumLock presses of its own
# (a press and its release) before a key whose event tells a different state than Wine's: what
# NumLock the probe sees depends on Wine, the rest must come exactly as sent.
no_numlock() { grep -v ' 144$' "$1"; }
drained() {
    received
    (($(no_numlock "$E2E_WORK/flood.received" | wc -l) >= $(no_numlock "$E2E_WORK/flood.expected" | wc -l)))
}
# numlock_whole <file>: its NumLock presses and releases alternate, from a press to a release;
# prints the number of presses.
numlock_whole() {
    grep ' 144$' "$1" | awk '{ if (($1 == "KEYDOWN") != (NR % 2 == 1)) bad = 1 } END { print int(NR / 2); exit bad || NR % 2 }'
}
left_button_up() { "$WINE" "$PAVRO_PROBE" --left-button >>"$WINE_LOG" 2>&1; }

start_desktop
start_wineserver
reset_store
xset r off  # the flood's holds are its own; the server's repeat would only add noise
start_pavro
check "Pavro started off" wait_until 10 onoff_is 0
start_probe
# The flood's arrows take the pointer anywhere and its Enter clicks there: two on the tray icon
# would switch control off. Full screen, the probe is under every click.
probe=$(window_by_title PavroProbe)
wmctrl -i -r "$probe" -b add,fullscreen
probe_fills_screen() { [[ $(window_size "$probe") == 1280x800 ]]; }
wait_until 10 probe_fills_screen || abort "the probe did not go full screen"
second_launch
check "the running copy switched on" wait_until 5 capture_is on
xdotool mousemove 450 350
mark=$(probe_lines)
started=$(now_ms)
"$PAVRO_FLOOD_BIN" 7 "$FLOOD_EVENTS" "$E2E_WORK/flood.raw" || abort "the flood driver failed"
as_windows "$E2E_WORK/flood.raw" >"$E2E_WORK/flood.expected"
# Wine passes each key through the hook in the running copy before the probe sees it.
wait_until $((10 + FLOOD_EVENTS / 200)) drained
probe_sync
received
log "figure: $FLOOD_EVENTS random key events in $(($(now_ms) - started)) ms, $(wc -l <"$E2E_WORK/flood.expected") for the probe"
check "the probe got every other key of the flood in order, NumLock aside" \
    cmp <(no_numlock "$E2E_WORK/flood.expected") <(no_numlock "$E2E_WORK/flood.received")
sent=$(numlock_whole "$E2E_WORK/flood.expected")
seen=$(numlock_whole "$E2E_WORK/flood.received") || fail "a NumLock press reached the probe without its release"
log "figure: $sent NumLock presses sent, $seen seen by the probe"
check "... and at least every NumLock press sent" test "$seen" -ge "$sent"
check "no event of the five keys reached the probe" not probe_after "$mark" ' (13|37|38|39|40)$'
check "after the flood the left button is up" wait_until 2 left_button_up
# Away from the edges, where a held arrow could not move it any further.
xdotool mousemove 640 400
check "... and the pointer is still" still_for 0.5
second_launch
check "... and a second launch is still followed" wait_until 5 capture_is off
finish
