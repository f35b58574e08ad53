# The private desktop of the tests that drive real programs (sourced): an X server of its own, a
# window manager, a tray panel, and what the X11 and the Wine end-to-end suites share: checks that
# count failures, bounded waits, the pointer, windows, the probe's sentinel key and the
# pointer-distance model. Every wait is for a condition with a deadline; `sleep` appears only
# where holding a key for a while is the action under test.
# Environment: PAVRO_VERSION, the build's version (for CAPTION and STORED_VERSION).

set -u

# A suite that sets E2E_PRIVATE_BUS=1 before sourcing runs again inside a D-Bus session bus of its
# own, which ends with it (and with it the services the bus started). The bus starts the system's
# session services on demand, except those whose file names match E2E_BUS_WITHOUT (a pattern).
if [[ -n ${E2E_PRIVATE_BUS:-} && -z ${E2E_IN_PRIVATE_BUS:-} ]]; then
    E2E_BUS_DIR=$(mktemp -d /tmp/pavro-bus.XXXXXX)
    mkdir "$E2E_BUS_DIR/services"
    for service in /usr/share/dbus-1/services/*.service; do
        # shellcheck disable=SC2053  # a pattern on purpose
        [[ -n ${E2E_BUS_WITHOUT:-} && $(basename "$service") == $E2E_BUS_WITHOUT ]] ||
            ln -s "$service" "$E2E_BUS_DIR/services/"
    done
    cat >"$E2E_BUS_DIR/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$E2E_BUS_DIR/services</servicedir>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
CONF
    exec env E2E_IN_PRIVATE_BUS=1 E2E_BUS_DIR="$E2E_BUS_DIR" \
        dbus-run-session --config-file="$E2E_BUS_DIR/session.conf" -- bash "$0" "$@"
fi

E2E_WORK=$(mktemp -d /tmp/pavro-e2e.XXXXXX)
E2E_CURRENT=$(basename "$0" .sh)
E2E_PIDS=()
E2E_FAILURES=0

# What the programs show and store for the build's version: the window's caption, and "version"
# as major * 10000 + minor * 100 + revision.
CAPTION="Cursor ${PAVRO_VERSION:-}"
IFS=. read -r major minor revision <<<"${PAVRO_VERSION:-0.0.0}"
STORED_VERSION=$((major * 10000 + minor * 100 + revision))

log() { printf '%s\n' "$*" >&2; }
pass() { log "ok   [$E2E_CURRENT]: $*"; }
fail() {
    log "FAIL [$E2E_CURRENT]: $*"
    E2E_FAILURES=$((E2E_FAILURES + 1))
}

check() {  # check <description> <command...>
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# finish: the end of a script; status 1 when a check failed, the logs kept beside the work folder.
finish() {
    if ((E2E_FAILURES > 0)); then
        log "$E2E_FAILURES check(s) failed; logs in $E2E_WORK kept as $E2E_WORK.failed"
        cp -r "$E2E_WORK" "$E2E_WORK.failed" 2>/dev/null
        exit 1
    fi
    exit 0
}

# abort <description>: a failed check after which nothing can be checked any more.
abort() {
    fail "$*"
    finish
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_until <timeout seconds> <command...>: polls every 10 ms (E2E_POLL_SECONDS) until the
# command succeeds.
wait_until() {
    local limit=$1
    shift
    local deadline=$(($(now_ms) + limit * 1000))
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep "${E2E_POLL_SECONDS:-0.01}"
    done
}

not() { ! "$@"; }
process_ended() { ! kill -0 "$1" 2>/dev/null; }
track() { E2E_PIDS+=("$1"); }

stop_pid() {  # stop_pid <pid>: TERM, then KILL after 5 s
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    wait_until 5 process_ended "$pid" || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
}

# A suite may define stop_programs, run first, for programs that are not its own children.
cleanup() {
    declare -F stop_programs >/dev/null && stop_programs
    local index
    for ((index = ${#E2E_PIDS[@]} - 1; index >= 0; index--)); do
        stop_pid "${E2E_PIDS[index]}"
    done
    if [[ -n ${E2E_DISPLAY_NUMBER:-} ]]; then
        wait_until 5 test ! -e "/tmp/.X${E2E_DISPLAY_NUMBER}-lock" || true
    fi
    rm -rf "$E2E_WORK" "${E2E_BUS_DIR:-}"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The desktop ---

# start_x: a private Xvfb. It picks a free display number itself (-displayfd) and writes it only
# once it accepts connections; -noreset, or it resets whenever its last client disconnects.
# E2E_SCREEN may give another size (the bench's long holds need a wide screen).
start_x() {
    # The private session is X11 whatever desktop the tests were started from.
    unset WAYLAND_DISPLAY XDG_SESSION_TYPE
    export QT_QPA_PLATFORM=xcb
    Xvfb -displayfd 3 -screen 0 "${E2E_SCREEN:-1280x800x24}" -nolisten tcp -noreset 3>"$E2E_WORK/display" \
        >"$E2E_WORK/xvfb.log" 2>&1 &
    track $!
    wait_until 10 grep -q '[0-9]' "$E2E_WORK/display" || { cat "$E2E_WORK/xvfb.log" >&2; abort "Xvfb did not start"; }
    E2E_DISPLAY_NUMBER=$(tr -dc '0-9' <"$E2E_WORK/display")
    export DISPLAY=":$E2E_DISPLAY_NUMBER"
}

start_wm() {
    openbox >"$E2E_WORK/openbox.log" 2>&1 &
    track $!
    wait_until 10 wmctrl -m >/dev/null 2>&1 || abort "openbox did not start"
}

# start_tray: a trayer panel at the top left that hosts the tray icons.
# WORKAROUND: a panel that grows as an icon docks keeps its first size (2 px wide) in Wine's
# picture of the foreign windows, so Wine's hit test never reaches the icon and clicks on it go
# nowhere (measured: most runs). A fixed-width panel never resizes.
start_tray() {
    trayer --edge top --align left --SetDockType true --expand false --widthtype pixel --width 64 --height 32 \
        --transparent false --tint 0x808080 >"$E2E_WORK/trayer.log" 2>&1 &
    track $!
    wait_until 10 tray_ready || abort "trayer did not start"
}

# tray_ready: the panel is up and owns the tray selection, which it takes a moment after its
# window appears. The Windows build has no host helper to ask X for the owner: there the panel's
# window is the sign.
tray_ready() {
    xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")' &&
        { [[ -z ${SELECTION_OWNER_BIN:-} ]] || "$SELECTION_OWNER_BIN" _NET_SYSTEM_TRAY_S0 >/dev/null; }
}

# start_sni_tray: xfce4-panel with nothing but its status tray, the StatusNotifierItem host, on a
# private bus (E2E_PRIVATE_BUS); the icon's centre is then at PANEL_ICON. Its settings daemon is
# started by the bus, so the bus is told where the panel's configuration and caches live.
start_sni_tray() {
    local config=$E2E_WORK/panel/config
    mkdir -p "$config/xfce4/xfconf/xfce-perchannel-xml"
    cat >"$config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<'PANEL'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
PANEL
    XDG_CONFIG_HOME=$config XDG_CACHE_HOME=$E2E_WORK/panel/cache XDG_DATA_HOME=$E2E_WORK/panel/data \
        dbus-update-activation-environment DISPLAY XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
    XDG_CONFIG_HOME=$config XDG_CACHE_HOME=$E2E_WORK/panel/cache xfce4-panel >"$E2E_WORK/xfce4-panel.log" 2>&1 &
    track $!
    wait_until 20 sni_host_registered || abort "xfce4-panel did not host StatusNotifierItems"
    PANEL_ICON="12 12"
}

# sni_watcher_property <name>: a property of the StatusNotifierWatcher, as dbus-send prints it.
sni_watcher_property() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher "string:$1" 2>/dev/null
}

sni_host_registered() { sni_watcher_property IsStatusNotifierHostRegistered | grep -q 'boolean true'; }

start_desktop() {
    start_x
    start_wm
    start_tray
}

# --- Windows and the pointer ---

# window_info <id>: what xwininfo tells of a window; status 1 for no id (xwininfo would wait
# for a click).
window_info() { [[ -n $1 ]] && xwininfo -id "$1" 2>/dev/null; }
window_viewable() { window_info "$1" | grep -q 'Map State: IsViewable'; }
window_hidden() { ! window_viewable "$1"; }
window_unmapped() { window_info "$1" | grep -q 'Map State: IsUnMapped'; }

# window_geometry <id>: "x y width height", the position on the screen and the client area.
window_geometry() {
    window_info "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
                            /Width:/ { w = $2 } /Height:/ { h = $2 } END { print x, y, w, h }'
}

window_size() {  # window_size <id>: "widthxheight"
    local g
    read -ra g <<<"$(window_geometry "$1")"
    echo "${g[2]}x${g[3]}"
}

# choose_item <index> <menu>: clicks item <index> of a popup of three items of equal height
# (0 "&Turn On"/"&Turn Off", 1 "Settings", 2 "&Exit") and waits for the popup to close.
choose_item() {
    local g
    read -ra g <<<"$(window_geometry "$2")"
    xdotool mousemove $((g[0] + g[2] / 2)) $((g[1] + g[3] * (2 * $1 + 1) / 6))
    sleep 0.1  # the menu highlights the item under the pointer before it takes the click
    xdotool click 1
    wait_until 5 window_hidden "$2"
}

pointer() { xdotool getmouselocation | sed -n 's/^x:\(-*[0-9]*\) y:\(-*[0-9]*\).*/\1 \2/p'; }
pointer_x() { local p; p=$(pointer) && echo "${p% *}"; }
pointer_y() { local p; p=$(pointer) && echo "${p#* }"; }
pointer_at() { [[ $(pointer) == "$1 $2" ]]; }
# pointer_still: the pointer stays put for longer than a tick (after a release the next tick
# moves nothing).
pointer_still() {
    local before
    before=$(pointer)
    sleep 0.1
    [[ $(pointer) == "$before" ]]
}
# still_for <seconds>: the pointer does not move for that long (several ticks).
still_for() {
    local before
    before=$(pointer)
    sleep "$1"
    [[ $(pointer) == "$before" ]]
}

# --- Holding an arrow, and the distance it moves the pointer ---

# hold <key> <seconds>: holds the key that long and waits for the pointer to come to rest. Sets
# HELD_MIN and HELD_MAX: the key was down for at least and at most that many milliseconds.
hold() {
    local t0 t1 t2 t3
    t0=$(now_ms)
    xdotool keydown "$1"
    t1=$(now_ms)
    sleep "$2"  # the hold itself
    t2=$(now_ms)
    xdotool keyup "$1"
    t3=$(now_ms)
    HELD_MIN=$((t2 - t1))
    HELD_MAX=$((t3 - t0))
    wait_until 5 pointer_still
}

# model_distance <ticks>: pixels a held arrow moves in that many ticks with the default settings
# (speeds 25 and 80, fast after 250 ms, a 25 ms tick): 6 px on each of the first eleven ticks,
# 20 px on every later one.
model_distance() {
    if (($1 <= 11)); then echo $(($1 * 6)); else echo $((66 + ($1 - 11) * 20)); fi
}

# --- The probe: a window with the focus that logs what it receives to $PROBE_LOG ---

# probe_sync: types F12 and waits until the probe has logged it ($PROBE_F12 matches that line):
# events arrive in order, so every earlier one has been logged and "not received" can be
# checked without waiting blindly; without the sentinel no such check would mean anything.
probe_sync() {
    local before
    before=$(grep -c "$PROBE_F12" "$PROBE_LOG")
    xdotool key F12
    wait_until 5 bash -c "(( \$(grep -c '$PROBE_F12' '$PROBE_LOG') > $before ))" ||
        abort "the probe did not get the sentinel key F12"
}
