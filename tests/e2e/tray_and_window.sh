#!/usr/bin/env bash
# The tray icon, its popup menu and the settings window, driven with the mouse.
source "$(dirname "$0")/session.sh"

CAPTION='Cursor 1.0.16'

parent_of() { xwininfo -children -id "$1" 2>/dev/null | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'; }

# tray_icon: the docked icon, the viewable window of ours that the panel holds as its child.
tray_icon() {
    local w
    for w in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        [[ $(parent_of "$w") != "$ROOT_ID" ]] && { echo "$w"; return 0; }
    done
    return 1
}
settings_window() { xdotool search --name "^${CAPTION//./\\.}\$" 2>/dev/null | head -n 1; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/^.*window state: //p'; }
is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
# menu_window: the popup, a viewable override-redirect window of ours straight on the root.
menu_window() {
    local w
    for w in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        [[ $(parent_of "$w") == "$ROOT_ID" ]] || continue
        xwininfo -id "$w" | grep -q 'Override Redirect State: yes' && { echo "$w"; return 0; }
    done
    return 1
}

# click_menu_item <index>: opens the popup with the right button on the icon and clicks item
# <index> (0 "&Turn On"/"&Turn Off", 1 "Settings", 2 "&Exit").
click_menu_item() {
    local menu geometry x y w h
    xdotool mousemove --window "$ICON" 11 15 click 3
    wait_until 5 menu_window >/dev/null || { fail "the popup menu did not open"; return 1; }
    menu=$(menu_window)
    geometry=$(xwininfo -id "$menu")
    x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$geometry")
    y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$geometry")
    w=$(sed -n 's/^ *Width: *//p' <<<"$geometry")
    h=$(sed -n 's/^ *Height: *//p' <<<"$geometry")
    # Three items of equal height fill the menu apart from a thin frame.
    xdotool mousemove $((x + w / 2)) $((y + h * (2 * $1 + 1) / 6))
    xdotool click 1
    wait_until 5 bash -c "! xwininfo -id $menu 2>/dev/null | grep -q IsViewable"
}

double_click_icon() { xdotool mousemove --window "$ICON" 11 15 click --repeat 2 --delay 80 1; }

start_session
start_tray
ROOT_ID=$(xwininfo -root | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
new_profile tray
start_pavro || { fail "Pavro did not start"; finish; }
check "the icon docked in the tray" wait_until 10 bash -c "$(declare -f parent_of tray_icon); ROOT_ID=$ROOT_ID; tray_icon >/dev/null"
ICON=$(tray_icon)
[[ -n $ICON ]] || { fail "no tray icon to click"; finish; }

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
check "\"Settings\" showed the window" wait_until 5 bash -c "w=\$(xdotool search --onlyvisible --name '^Cursor 1\\.0\\.16\$' | head -n 1); [[ -n \$w ]]"
WINDOW=$(settings_window)
geometry=$(xwininfo -id "$WINDOW")
check "client area is 373 x 124" test "$(sed -n 's/^ *Width: *//p' <<<"$geometry")x$(sed -n 's/^ *Height: *//p' <<<"$geometry")" = 373x124
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
check "the close box hid the window" wait_until 5 bash -c "! xwininfo -id $WINDOW | grep -q IsViewable"
check "... withdrawn, not iconified" test "$(wm_state "$WINDOW")" != "Iconic"
check "... and Pavro runs on" pavro_alive

click_menu_item 1
wait_until 5 is_viewable "$WINDOW"
xdotool windowminimize "$WINDOW"
# The window manager iconifies it first; Pavro then withdraws it.
check "minimizing hid the window" wait_until 5 bash -c "! xwininfo -id $WINDOW | grep -q IsViewable && ! xprop -id $WINDOW WM_STATE | grep -q Iconic"
click_menu_item 1
check "\"Settings\" restored the minimized window" wait_until 5 is_viewable "$WINDOW"
check "... in its normal state" test "$(wm_state "$WINDOW")" = "Normal"

# --- The first slider: an arrow click steps 5, a click in the track beside the thumb 25 ---
geometry=$(xwininfo -id "$WINDOW")
left=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$geometry")
top=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$geometry")
# Slider 0 spans x 128..265, y 8..25 of the client area; its right arrow is the last 16 pixels.
xdotool mousemove $((left + 259)) $((top + 16)) click 1   # 25 -> 30
xdotool mousemove $((left + 230)) $((top + 16)) click 1   # right of the thumb: 30 -> 55
# (saved and checked at the exit below)

# --- The popup's "&Turn On", then "&Exit": the real exit saves the seven keys ---
click_menu_item 0
check "\"&Turn On\" switched on" wait_until 5 conf_is OnOff 1
click_menu_item 2
check "\"&Exit\" ended Pavro" wait_until 5 bash -c "! kill -0 $PAVRO_PID 2>/dev/null"
for key in StdDist=55 FastDist=80 TimeFast=250 Refresh=25 LoadStart=0 ScanCode=0 version=10016 OnOff=1; do
    check "exit stored $key" conf_is "${key%%=*}" "${key#*=}"
done
check "the icon left the tray" wait_until 5 bash -c "! xwininfo -id $ICON 2>/dev/null | grep -q IsViewable"

finish
