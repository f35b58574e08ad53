#!/bin/bash
# Odd stored values, the tray icon's double click, the popup's items, the settings window (close
# box, minimizing, Alt+T) and the real exit that saves the seven keys.
source "$(dirname "$0")/session.sh"

start_desktop
start_wineserver
reset_store
# Odd stored values must not stop the program: a number as REG_DWORD, raw bytes, and a
# 20000-character text where a number belongs.
long_text=$(head -c 20000 /dev/zero | tr '\0' 'x')
reg_add "$SETTINGS_KEY" StdDist REG_DWORD 64
reg_add "$SETTINGS_KEY" FastDist REG_BINARY 0badf00d
reg_add "$SETTINGS_KEY" TimeFast REG_SZ "$long_text"
reg_add "$SETTINGS_KEY" Refresh REG_SZ 50
[[ $(reg_type StdDist) == REG_DWORD ]] || abort "could not seed the odd values"

start_pavro
check "Pavro started over odd stored values and stored OnOff 0" wait_until 10 onoff_is 0
double_click_tray_icon
check "a double click on the tray icon switches on" wait_until 5 onoff_is 1
double_click_tray_icon
check "a second double click switches off" wait_until 5 onoff_is 0

window=$(window_by_title "$CAPTION")
check "the settings window is hidden after start-up" window_unmapped "$window"
choose_popup_item 1
check "popup \"Settings\" shows the window \"$CAPTION\"" wait_until 5 window_viewable "$window"
check "... with a 373x124 client area" test "$(window_size "$window")" = 373x124
wmctrl -c "$CAPTION"
check "the close box hides the window" wait_until 5 window_unmapped "$window"
check "... and the program runs on" not pavro_ended

choose_popup_item 1
check "\"Settings\" shows the window again" wait_until 5 window_viewable "$window"
check "... with the focus" wait_until 5 active_window_is "$CAPTION"
# Alt held explicitly: `xdotool key alt+t` can release Alt before t (lost presses under load).
xdotool keydown alt key t keyup alt
check "Alt+T presses \"&Turn On\"" wait_until 5 onoff_is 1
xdotool keydown alt key t keyup alt
check "Alt+T presses \"&Turn Off\"" wait_until 5 onoff_is 0
xdotool windowminimize "$window"
check "minimizing hides the window" wait_until 5 window_unmapped "$window"
check "... and the program runs on" not pavro_ended
choose_popup_item 1
check "\"Settings\" restores the minimized window" wait_until 5 window_viewable "$window"
check "... with its 373x124 client area" test "$(window_size "$window")" = 373x124
wmctrl -c "$CAPTION"
check "the close box hides it again" wait_until 5 window_unmapped "$window"

choose_popup_item 0
check "popup \"&Turn On\" switches on" wait_until 5 onoff_is 1

choose_popup_item 2
check "\"&Exit\" ends the program" wait_until 10 pavro_ended
for pair in StdDist=25 FastDist=80 Refresh=50 LoadStart=0 ScanCode=0 version=$STORED_VERSION OnOff=1; do
    check "\"&Exit\" saved $pair" test "$(reg_value "${pair%%=*}")" = "${pair#*=}"
    check "... as REG_SZ" test "$(reg_type "${pair%%=*}")" = REG_SZ
done
# Unreadable odd values went back to the defaults above; the long text is kept.
check "the 20000-character TimeFast round-trips" test "$(reg_value TimeFast)" = "$long_text"
check "the tray icon is gone after exit" wait_until 5 tray_icon_gone
finish
