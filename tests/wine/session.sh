# Shared by the Wine end-to-end scripts (sourced): the desktop of tests/lib/desktop.sh, the Wine
# prefix that prefix.sh made for this ctest run, the registry, and the Windows programs' windows
# as X sees them. Wine delivers hooked keys and injected clicks to Wine windows only, so every key
# and click here goes to a Wine window (the probe, the tray icon, the popup, the settings window).
source "$(dirname "${BASH_SOURCE[0]}")/../lib/desktop.sh"

: "${PAVRO_BIN_DIR:?PAVRO_BIN_DIR must name the folder of Pavro.exe and Sweepra.exe}"
: "${PAVRO_PROBE:?PAVRO_PROBE must name PavroProbe.exe}"
: "${PAVRO_WINEPREFIX:?PAVRO_WINEPREFIX must name the shared Wine prefix}"
: "${PAVRO_VERSION:?PAVRO_VERSION must be the version that was built}"

readonly WINE=/usr/lib/wine/wine64
readonly WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$PAVRO_WINEPREFIX
export WINEDEBUG=${PAVRO_WINEDEBUG:--all}
# No Mono or Gecko installers, and no menu entries or MIME types written into the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

readonly SETTINGS_KEY='HKCU\Software\Pavro\Settings'
readonly APP_KEY='HKCU\Software\Pavro'
WINE_LOG=$E2E_WORK/wine.log
SERVER_STARTED=0

start_wineserver() {
    "$WINESERVER" -p >/dev/null 2>&1
    SERVER_STARTED=1
}

# Ends every Wine process of the prefix (Pavro, the probe, explorer) and the server. A Wine helper
# (winedevice) started while the server was going down can outlive it: what still runs in this
# prefix, found by its environment, is ended too.
stop_programs() {
    ((SERVER_STARTED)) || return 0
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    SERVER_STARTED=0
    local environ pid
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && kill "$pid" 2>/dev/null
    done
}

# --- Registry ---

# reg_value NAME [KEY]: the REG_SZ text of a value; status 1 when it is missing.
reg_value() {
    "$WINE" reg query "${2:-$SETTINGS_KEY}" /v "$1" 2>/dev/null | tr -d '\r' |
        awk -v n="$1" '$1 == n && $2 ~ /^REG_/ { $1 = ""; $2 = ""; sub(/^ +/, ""); print; found = 1 } END { exit !found }'
}

reg_type() { "$WINE" reg query "$SETTINGS_KEY" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { print $2 }'; }
reg_key_exists() { "$WINE" reg query "$1" >>"$WINE_LOG" 2>&1; }
reg_add() { "$WINE" reg add "$1" /v "$2" /t "$3" /d "$4" /f >>"$WINE_LOG" 2>&1; }  # reg_add KEY NAME TYPE DATA
reset_store() { "$WINE" reg delete "$APP_KEY" /f >>"$WINE_LOG" 2>&1; }
onoff_is() { [[ $(reg_value OnOff) == "$1" ]]; }

# --- Windows on the X display ---

# tray_icon: explorer's docked window inside the panel at the top; prints "id x y" with the
# centre in screen pixels.
tray_icon() {
    xwininfo -root -tree 2>/dev/null | awk '
        /^         +0x[0-9a-f]+ .*\("explorer.exe" "explorer.exe"\)/ {
            if (match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+/)) {
                split(substr($0, RSTART, RLENGTH), g, /[x+ ]+/)
                # g: width height x y absx absy. The icon is nested (indented) at 0,0
                # inside the panel socket; the other windows of the tray host are top-level.
                if (g[1] >= 8 && g[2] >= 8 && g[3] == 0 && g[4] == 0 && g[6] < 40) {
                    print $1, int(g[5] + g[1] / 2), int(g[6] + g[2] / 2)
                    exit
                }
            }
        }'
}

tray_icon_docked() { [[ -n $(tray_icon) ]]; }
tray_icon_gone() { [[ -z $(tray_icon) ]]; }

# window_by_title TITLE: the X window of a top-level Wine window with exactly this title.
window_by_title() { xwininfo -root -tree 2>/dev/null | awk -v t=" \"$1\": (" 'index($0, t) { print $1; exit }'; }
window_exists() { [[ -n $(window_by_title "$1") ]]; }
active_window_is() { [[ $(xdotool getactivewindow getwindowname 2>/dev/null) == "$1" ]]; }

# popup_menu: the tray popup, a nameless mapped window of pavro.exe larger than Wine's 1x1 helpers.
popup_menu() {
    local id size
    for id in $(xwininfo -root -tree 2>/dev/null | awk '/\(has no name\): \("pavro.exe" "pavro.exe"\)/ { print $1 }'); do
        window_viewable "$id" || continue
        size=$(window_size "$id")
        ((${size%x*} > 20 && ${size#*x} > 20)) && { echo "$id"; return 0; }
    done
    return 1
}

# choose_popup_item N: opens the tray popup with the right button and clicks item N.
choose_popup_item() {
    local icon
    read -ra icon <<<"$(tray_icon)"
    ((${#icon[@]})) || abort "no tray icon to open the popup from"
    xdotool mousemove "${icon[1]}" "${icon[2]}" click 3
    wait_until 5 popup_menu >/dev/null || abort "the tray popup did not open"
    choose_item "$1" "$(popup_menu)" || fail "the popup did not close"
}

double_click_tray_icon() {
    local icon
    read -ra icon <<<"$(tray_icon)"
    ((${#icon[@]})) || abort "no tray icon to double-click"
    # Wine tells the window under the pointer from the motion events: move onto the icon first.
    xdotool mousemove "$((icon[1] + 1))" "$((icon[2] + 1))"
    xdotool mousemove "${icon[1]}" "${icon[2]}" click --repeat 2 --delay 80 1
}

# --- Programs ---

start_pavro() {
    "$WINE" "$PAVRO_BIN_DIR/Pavro.exe" >"$E2E_WORK/pavro.out" 2>&1 &
    PAVRO_PID=$!
    wait_until 60 window_exists "$CAPTION" || abort "Pavro's window did not appear"
    wait_until 20 tray_icon_docked || abort "Pavro's tray icon did not dock"
}

pavro_ended() { process_ended "$PAVRO_PID"; }

# second_launch: a second copy must flip "OnOff" and end by itself, without a window.
second_launch() {
    local started=$SECONDS
    timeout 30 "$WINE" "$PAVRO_BIN_DIR/Pavro.exe" >"$E2E_WORK/second.out" 2>&1 ||
        fail "the second launch did not end by itself (status $?)"
    log "second launch ended after $((SECONDS - started))s"
}

# start_probe: the probe window, with the focus. It logs one line per message ("KEYDOWN 39").
start_probe() {
    PROBE_LOG=$E2E_WORK/probe.log
    PROBE_F12='^KEYUP 123$'
    "$WINE" "$PAVRO_PROBE" "Z:$(tr '/' '\\' <<<"$PROBE_LOG")" >/dev/null 2>&1 &
    wait_until 30 grep -qs '^FOCUS' "$PROBE_LOG" || abort "the probe window did not take the focus"
    wait_until 10 active_window_is PavroProbe || abort "the probe is not the active window"
}

# probe_after MARK REGEX: a line after the first MARK ones of the probe's log matches (MARK from
# probe_lines).
probe_lines() { wc -l <"$PROBE_LOG"; }
probe_after() { tail -n +"$(($1 + 1))" "$PROBE_LOG" | grep -qE -- "$2"; }

# capture_is on|off: taps Right once and tells whether the running copy swallowed it (on) or let
# it through to the probe (off).
capture_is() {
    local mark
    mark=$(probe_lines)
    xdotool key Right
    probe_sync
    if probe_after "$mark" '^KEYDOWN 39$'; then [[ $1 == off ]]; else [[ $1 == on ]]; fi
}
