#!/bin/bash
# The capture at its edges: a release whose press the application saw reaches that application,
# a held Enter presses the button once, the tray icon lives on through "TaskbarCreated", and the
# diagnostic log is written, quiet about the hook in normal use and free of keys.
source "$(dirname "$0")/session.sh"

# The diagnostic log in the prefix's per-user application data (%LOCALAPPDATA%\Pavro).
log_file() { find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Pavro/Pavro.log' 2>/dev/null | head -n 1; }
# probe_count MARK REGEX: how many of the probe's lines after the first MARK match.
probe_count() { tail -n +"$(($1 + 1))" "$PROBE_LOG" | grep -cE -- "$2"; }

start_desktop
start_wineserver
reset_store
old_log=$(log_file)
[[ -n $old_log ]] && rm -f "$old_log"
start_pavro
check "Pavro started off" wait_until 10 onoff_is 0
start_probe
xdotool mousemove 150 300

# Without auto-repeat the press stays the one the probe saw while the capture goes on.
xset r off
mark=$(probe_lines)
xdotool keydown Return
check "Enter's press reaches the probe while off" wait_until 5 probe_after "$mark" '^KEYDOWN 13$'
second_launch
check "the capture goes on while Enter is held" wait_until 5 capture_is on
xdotool keyup Return
probe_sync
check "Enter's release reaches the probe that saw its press" probe_after "$mark" '^KEYUP 13$'
check "... and no button event comes of it" not probe_after "$mark" 'LBUTTON'
xset r on

# The desktop repeats a held key (else the next check could not fail): seen while off.
second_launch
check "the capture goes off" wait_until 5 capture_is off
mark=$(probe_lines)
hold Return 1.2
probe_sync
repeats=$(probe_count "$mark" '^KEYDOWN 13$')
((repeats > 1)) || abort "a held Enter gave $repeats key-downs while off: the desktop does not repeat keys"
second_launch
check "the capture goes on again" wait_until 5 capture_is on
mark=$(probe_lines)
hold Return 1.2
probe_sync
check "a held Enter (repeating $repeats times while off) presses the button once" \
    test "$(probe_count "$mark" '^LBUTTONDOWN$') $(probe_count "$mark" '^LBUTTONUP$')" = "1 1"

"$WINE" "$PAVRO_PROBE" --taskbar-created >>"$WINE_LOG" 2>&1
check "after \"TaskbarCreated\" the tray icon is docked" wait_until 5 tray_icon_docked
double_click_tray_icon
check "... and its double click still switches" wait_until 5 onoff_is 0

choose_popup_item 2
check "\"&Exit\" ends the program" wait_until 10 pavro_ended
log=$(log_file)
check "the diagnostic log is in %LOCALAPPDATA%\\Pavro" test -n "$log"
# Each line: date, time, message; the time stamp's digits are not the program's words.
words=$(cut -d' ' -f3- "$log" 2>/dev/null | tr -d '\r')
check "... telling the start and the end" bash -c "grep -q 'started' <<<\"\$1\" && grep -q 'ended' <<<\"\$1\"" _ "$words"
check "... with no word of a lost hook in normal use" not grep -q 'key capture' <<<"$words"
check "... and no key" not grep -qiE 'key ?(down|up)|vk|\b(13|37|38|39|40)\b|enter|return|arrow' <<<"$words"
finish
