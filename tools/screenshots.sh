#!/usr/bin/env bash
# Takes the README's screenshots in a private X session (Xvfb, openbox, a trayer panel) from
# the programs of the default build, and writes them to docs/screenshots/:
#   tray-icon.png        the docked icon in the panel (pointer control off), enlarged 4x
#   tray-menu.png        the menu the right button opens on the icon
#   settings-window.png  the settings window with its default values
# Pavro runs with a settings folder of its own, so the user's settings stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/docs/screenshots

if [[ ${1:-} != session ]]; then
    tools/setup-deps.sh build demo
    cmake --preset default >/dev/null
    cmake --build --preset default --target Pavro
    mkdir -p "$OUT"
    exec tests/x11/run_with_xvfb.sh --wm "$0" session
fi

work=$(mktemp -d /tmp/pavro-screenshots.XXXXXX)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
wait_for() {  # wait_for <what> <command...>: polls for up to 10 s
    local what=$1
    shift
    for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
    echo "screenshots: timed out waiting for $what" >&2
    exit 1
}
geometry() {  # geometry <window>: x y width height on the screen
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
                             /Width:/ { w = $2 } /Height:/ { h = $2 } END { print x, y, w, h }'
}

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# A plain desktop colour behind the panel and the menu (display sets it and ends; its status is 1
# even then).
convert -size 8x8 xc:'#3a5f7f' "$work/desktop.png"
display -window root "$work/desktop.png" || true
trayer --edge top --align right --SetDockType true --expand true --widthtype request --height 32 \
    --transparent false --tint 0x808080 >"$work/trayer.log" 2>&1 &
pids+=($!)
panel() { xwininfo -root -tree | awk '/\("panel" "trayer"\)/ { print $1; exit }'; }
panel_up() { [[ -n $(panel) ]]; }
wait_for "the panel" panel_up

"$ROOT/build/bin/Pavro" >"$work/pavro.log" 2>&1 &
pids+=($!)
# The docked icon: a small visible window of Pavro's class inside the panel at the top.
icon() {
    local window _ y w h
    for window in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        read -r _ y w h <<<"$(geometry "$window")"
        ((w <= 64 && h <= 64 && y < 32)) && { echo "$window"; return 0; }
    done
    return 1
}
wait_for "the tray icon" icon >/dev/null
sleep 0.5  # let the panel paint the icon
read -r x y w h <<<"$(geometry "$(panel)")"
import -window root -crop "$((w + 16))x$((h + 8))+$((x - 16))+$y" +repage "$work/panel.png"
convert "$work/panel.png" -sample 400% "$OUT/tray-icon.png"

read -r x y w h <<<"$(geometry "$(icon)")"
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 3
menu() {  # the popup: an override-redirect window of Pavro's class
    local window
    for window in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        xwininfo -id "$window" | grep -q 'Override Redirect State: yes' && { echo "$window"; return 0; }
    done
    return 1
}
wait_for "the tray menu" menu >/dev/null
sleep 0.3  # let the menu paint
# The menu with the panel it came from, on a margin of desktop.
read -r mx my mw mh <<<"$(geometry "$(menu)")"
read -r px _ pw ph <<<"$(geometry "$(panel)")"
screen_width=$(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1] }')
left=$(((mx < px ? mx : px) - 12))
right=$(((mx + mw > px + pw ? mx + mw : px + pw) + 12))
((left >= 0)) || left=0
((right <= screen_width)) || right=$screen_width
bottom=$(((my + mh > ph ? my + mh : ph) + 12))
import -window root -crop "$((right - left))x$bottom+$left+0" +repage "$OUT/tray-menu.png"

# Settings is the menu's second item.
xdotool key Down Down Return
settings() { xdotool search --onlyvisible --name '^Cursor [0-9]' 2>/dev/null | head -n 1; }
settings_up() { [[ -n $(settings) ]]; }
wait_for "the settings window" settings_up
sleep 0.5
import -frame -window "$(settings)" "$OUT/settings-window.png"
# Without time stamps, unchanged pictures stay byte for byte the same in the repository.
mogrify -strip -define png:exclude-chunks=date,time "$OUT"/tray-icon.png "$OUT"/tray-menu.png "$OUT"/settings-window.png
echo "screenshots written to $OUT: $(cd "$OUT" && echo *.png)"
