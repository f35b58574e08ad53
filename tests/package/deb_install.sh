#!/usr/bin/env bash
# The .deb as a user gets it: packed from this build, installed with dpkg, the installed Pavro
# started in an X session with a window manager and a tray panel, switched on by a second
# launch of the installed program, Enter clicking a probe window, then removed with dpkg -r,
# which must leave none of the package's files behind, only the user's settings.
# Skips (status 77) unless run as root on a machine where Pavro is not installed yet.
#   deb_install.sh            the whole test
#   deb_install.sh session    the X session part (run inside run_with_xvfb.sh --wm)
set -u
: "${PAVRO_BUILD_DIR:?}" "${PROBE_BIN:?}" "${RUN_WITH_XVFB:?}"

source "$(dirname "$0")/package_lib.sh"

# --- Inside the X session: the installed programs only ---
if [[ ${1:-} == session ]]; then
    work=${2:?}
    # The programs' own messages tell why a step failed.
    fail() { log "FAIL: $*"; tail -n 20 "$work"/*.log >&2; exit 1; }
    pids=()
    trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done' EXIT
    export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
    mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
    conf=$XDG_CONFIG_HOME/Pavro/Pavro.conf
    on_off() { sed -n 's/^OnOff=//p' "$conf" 2>/dev/null; }
    file_id() { stat -c '%i %.9Y %s' "$conf" 2>/dev/null; }

    trayer --edge top --align right --SetDockType true --expand true --widthtype request --height 32 \
        --transparent false --tint 0x808080 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    panel_exists() { xwininfo -root -tree | grep -q '("panel" "trayer")'; }
    wait_until 20 panel_exists || fail "trayer did not start"

    /usr/bin/Pavro >"$work/pavro.log" 2>&1 &
    pavro=$!
    pids+=("$pavro")
    on_off_is() { [[ $(on_off) == "$1" ]]; }
    wait_until 30 on_off_is 0 ||
        fail "the installed Pavro did not start (no OnOff=0 stored): $(cat "$work/pavro.log")"
    # The docked icon: a small visible window of Pavro's class that the panel, not the window
    # manager, holds (the window manager frames top-level windows, which makes them large).
    docked_icon() {
        local window
        for window in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
            xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
                /Absolute upper-left Y:/ { y = $4 } END { exit !(w <= 64 && h <= 64 && y < 32) }' &&
                { echo "$window"; return 0; }
        done
        return 1
    }
    wait_until 20 docked_icon >/dev/null || fail "the tray icon did not dock in the panel"
    icon=$(docked_icon)
    import -window "$icon" "$work/icon-off.png"

    start=$(now_ms)
    timeout 30 /usr/bin/Pavro >"$work/second.log" 2>&1
    status=$?
    [[ $status == 0 ]] || fail "the second launch ended with status $status"
    log "second launch of /usr/bin/Pavro ran $(($(now_ms) - start)) ms"
    [[ $(on_off) == 1 ]] || fail "the second launch stored OnOff=$(on_off), not 1"
    written_by_second=$(file_id)
    # The running copy follows on its next tick: its switch rewrites the store and its icon.
    rewritten() { [[ $(file_id) != "$written_by_second" ]]; }
    wait_until 10 rewritten ||
        fail "the running copy did not follow the second launch"
    wait_until 10 icon_image_changed "$icon" "$work/icon-off.png" "$work/icon-on.png" || fail "the tray icon kept its image after the switch"
    kill -0 "$pavro" 2>/dev/null || fail "the running copy ended"

    probe_log=$work/probe.log
    "$PROBE_BIN" "$probe_log" 100 150 800 500 &
    pids+=($!)
    wait_until 10 grep -q '^mapped' "$probe_log" || fail "the probe window did not map"
    probe=$(($(sed -n 's/^mapped //p' "$probe_log")))
    timeout 5 xdotool windowactivate --sync "$probe" >/dev/null 2>&1 || xdotool windowfocus "$probe"
    probe_focused() { [[ $(xdotool getwindowfocus) == "$probe" ]]; }
    wait_until 5 probe_focused || fail "the probe window did not get the focus"
    xdotool mousemove 400 400
    xdotool key Return
    wait_until 5 grep -q '^ButtonPress 1 ' "$probe_log" || fail "Enter did not click the probe window"
    # F12 passes through; once it arrived, Enter would have too had it not been swallowed.
    xdotool key F12
    wait_until 5 grep -q '^KeyRelease F12' "$probe_log" || fail "F12 did not reach the probe window"
    grep -q '^KeyPress Return' "$probe_log" && fail "Enter reached the probe window as a key"

    kill -TERM "$pavro"
    wait "$pavro"
    status=$?
    [[ $status == 0 ]] || fail "Pavro ended with status $status on SIGTERM"
    grep -q '^StdDist=25$' "$conf" || fail "Pavro did not save its settings at exit"
    exit 0
fi

# --- Outside: pack, install, run the session, remove ---
if [[ $(id -u) != 0 ]]; then
    log "skipped: installing a package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' pavro 2>/dev/null | grep -q 'install ok installed'; then
    log "skipped: pavro is installed on this machine; the test would replace and remove it (dpkg -r pavro first)"
    exit 77
fi

work=$(mktemp -d /tmp/pavro-deb.XXXXXX)
installed=0
cleanup() {
    ((installed)) && dpkg -r pavro >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

start=$(now_ms)
cpack -G DEB --config "$PAVRO_BUILD_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/out/pavro_*_amd64.deb 2>/dev/null | head -n 1)
[[ -n $deb ]] || fail "no pavro_*_amd64.deb in $work/out"
log "packed $(basename "$deb") in $(($(now_ms) - start)) ms"

# The dependencies come from the libraries the programs link, found by dpkg-shlibdeps.
depends=$(dpkg-deb -f "$deb" Depends)
log "Depends: $depends"
names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libx11-6 libxtst6 libxi6; do
    grep -qxF "$library" <<<"$names" || fail "Depends lacks $library"
done

start=$(now_ms)
dpkg -i "$deb" >"$work/dpkg-i.log" 2>&1 || { cat "$work/dpkg-i.log" >&2; fail "dpkg -i"; }
installed=1
log "installed in $(($(now_ms) - start)) ms"
dpkg -L pavro >"$work/files.list"
ours=$(while read -r path; do [[ -f $path || -L $path ]] && echo "$path"; done <"$work/files.list")
[[ -x /usr/bin/Pavro && -x /usr/bin/Sweepra ]] || fail "the programs are not in /usr/bin"

mkdir "$work/session"
"$RUN_WITH_XVFB" --wm bash "$0" session "$work/session" || fail "the installed Pavro failed in the X session"

start=$(now_ms)
dpkg -r pavro >"$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log" >&2; fail "dpkg -r"; }
installed=0
log "removed in $(($(now_ms) - start)) ms"
left=$(while read -r path; do [[ -e $path || -L $path ]] && echo "$path"; done <<<"$ours")
[[ -z $left ]] || fail "dpkg -r left files of the package behind: $left"
dpkg-query -W -f='${Status}' pavro 2>/dev/null | grep -q 'ok installed' && fail "dpkg still lists pavro as installed"
[[ -f $work/session/config/Pavro/Pavro.conf ]] || fail "the user's settings went with the package"
echo "package: packed, installed ($(wc -l <<<"$ours") files), ran, switched, clicked, removed cleanly"
