#!/usr/bin/env bash
# The tray icon, its popup menu and the settings window, driven with the mouse.
source "$(dirname "$0")/session.sh"

settings_window() {
    local w
    w=$(xdotool search --onlyvisible --name "^${CAPTION//./\\.}\$" 2>/dev/null | head -n 1)
    [[ -n $w ]] && echo "$w"
}
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/^.*window state: //p'; }
withdrawn() { window_hidden "$1" && [[ $(wm_state "$1") != Iconic ]]; }

# click_menu_item <index>: opens the popup with the right button on the icon and clicks an item.
click_menu_item() {
    xdotool mousemove --window "$ICON" 11 15 click 3
    wait_until 5 menu_window >/dev/null || { fail "the popup menu did not open"; return 1; }
    choose_item "$1" "$(menu_window)"
}

double_click_icon() { xdotool mousemove --window "$ICON" 11 15 click --repeat 2 --delay 80 1; }

start_desktop
new_profile tray
start_pavro || abort "Pavro did not start"
check "the icon docked in the tray" wait_until 10 tray_icon >/dev/null
ICON=$(tray_icon) || abort "no tray icon to click"

# --- Double click toggles, a single click does nothing ---
double_click_icon
check "a double click on the icon switched on" wait_until 5 conf_is OnOff 1
double_click_icon
check "a second double click switched off" wait_until 5 conf_is OnOff 0
xdotool mousemove --window "$ICON" 11 15 click 1
sleep 0.6  # longer than the double-click interval, so the next two clicks are a pair of their own
double_click_icon
# Had the single click switched, the double click would have switched back to 0.
check "a single click did nothing (the double click after it switched on)" wait_until 5 conf_is OnOff 1
double_click_icon
wait_until 5 conf_is OnOff 0

# --- The popup's "Settings" shows the window; its close box and minimizing hide it ---
click_menu_item 1
check "\"Settings\" showed the window" wait_until 5 settings_window >/dev/null
WINDOW=$(settings_window) || abort "no settings window to go on with"
check "client area is 373 x 124" test "$(window_size "$WINDOW")" = 373x124
if [[ -n ${PAVRO_E2E_SCREENSHOTS:-} ]]; then
    mkdir -p "$PAVRO_E2E_SCREENSHOTS"
    import -window root "$PAVRO_E2E_SCREENSHOTS/settings-window.png"
fi

# Access keys work in the window: Alt+T is the "&Turn On" button.
timeout 5 xdotool windowactivate --sync "$WINDOW" >/dev/null 2>&1
xdotool keydown Alt_L key t keyup Alt_L
check "Alt+T in the window switched on" wait_until 5 conf_is OnOff 1
xdotool keydown Alt_L key t keyup Alt_L
check "Alt+T again switched off" wait_until 5 conf_is OnOff 0

wmctrl -c "$CAPTION"
check "the close box hid the window" wait_until 5 window_hidden "$WINDOW"
check "... withdrawn, not iconified" test "$(wm_state "$WINDOW")" != "Iconic"
check "... and Pavro runs on" pavro_alive

click_menu_item 1
wait_until 5 window_viewable "$WINDOW"
xdotool windowminimize "$WINDOW"
# The window manager iconifies it first; Pavro then withdraws it.
check "minimizing hid the window" wait_until 5 withdrawn "$WINDOW"
click_menu_item 1
check "\"Settings\" restored the minimized window" wait_until 5 window_viewable "$WINDOW"
check "... in its normal state" test "$(wm_state "$WINDOW")" = "Normal"

# --- The first slider: an arrow click steps 5, a click in the track beside the thumb 25 ---
read -r left top _ <<<"$(window_geometry "$WINDOW")"
# Slider 0 spans x 128..265, y 8..25 of the client area; its right arrow is the last 16 pixels.
xdotool mousemove $((left + 259)) $((top + 16)) click 1   # 25 -> 30
xdotool mousemove $((left + 230)) $((top + 16)) click 1   # right of the thumb: 30 -> 55
# (saved and checked at the exit below)

# --- The popup's "&Turn On", then "&Exit": the real exit saves the seven keys ---
click_menu_item 0
check "\"&Turn On\" switched on" wait_until 5 conf_is OnOff 1
click_menu_item 2
check "\"&Exit\" ended Pavro" wait_until 5 pavro_ended
for key in StdDist=55 FastDist=80 TimeFast=250 Refresh=25 LoadStart=0 ScanCode=0 version=$STORED_VERSION OnOff=1; do
    check "exit stored $key" conf_is "${key%%=*}" "${key#*=}"
done
check "the icon left the tray" wait_until 5 window_hidden "$ICON"

finish
