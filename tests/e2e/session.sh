# Shared by the X11 end-to-end scripts (sourced): the desktop of tests/lib/desktop.sh, a private
# store and runtime folder per test, and helpers to drive and watch Pavro.
source "$(dirname "${BASH_SOURCE[0]}")/../lib/desktop.sh"

: "${PAVRO_BIN:?PAVRO_BIN must name the Pavro program}"
: "${SWEEPRA_BIN:?SWEEPRA_BIN must name the Sweepra program}"
: "${PROBE_BIN:?PROBE_BIN must name the key probe}"
: "${SELECTION_OWNER_BIN:?SELECTION_OWNER_BIN must name the selection_owner helper}"
: "${PAVRO_VERSION:?PAVRO_VERSION must be the version that was built}"

# --- One test's private store and runtime folder ---

# new_profile <name>: exports XDG_CONFIG_HOME and XDG_RUNTIME_DIR for the programs run next.
new_profile() {
    E2E_CURRENT=$1
    export XDG_CONFIG_HOME="$E2E_WORK/$1/config"
    export XDG_RUNTIME_DIR="$E2E_WORK/$1/runtime"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    CONF="$XDG_CONFIG_HOME/Pavro/Pavro.conf"
}

# conf_value <key> [file]: the raw text after "key=" in the [Settings] group; status 1 if absent.
conf_value() {
    local file=${2:-$CONF}
    [[ -f $file ]] || return 1
    awk -v key="$1" '
        /^\[/ { in_settings = ($0 == "[Settings]"); next }
        in_settings && index($0, key "=") == 1 { print substr($0, length(key) + 2); found = 1; exit }
        END { exit !found }' "$file"
}

conf_is() { [[ "$(conf_value "$1" 2>/dev/null)" == "$2" ]]; }

# file_id: what tells one version of the settings file from the next. The modification time to
# the nanosecond: a rewrite of one value keeps the size, and the file system may hand the
# renamed file the inode its predecessor had two writes ago, within the same second.
file_id() { stat -c '%i %.9Y %s' "$CONF" 2>/dev/null || echo none; }
conf_changed() { [[ $(file_id) != "$1" ]]; }  # conf_changed <file_id before>

# --- Pavro ---

# start_pavro: starts the running copy and waits for its start-up to store "OnOff".
start_pavro() {
    local before
    before=$(file_id)
    "$PAVRO_BIN" >"$E2E_WORK/$E2E_CURRENT.pavro.log" 2>&1 &
    PAVRO_PID=$!
    track "$PAVRO_PID"
    wait_until 10 conf_changed "$before" && wait_until 5 conf_value OnOff >/dev/null
}

pavro_alive() { kill -0 "$PAVRO_PID" 2>/dev/null; }
pavro_ended() { process_ended "$PAVRO_PID"; }

# second_launch: runs a second copy in the foreground; sets SECOND_MS (its run time) and
# SECOND_STATUS.
second_launch() {
    local start
    start=$(now_ms)
    timeout 10 "$PAVRO_BIN" >>"$E2E_WORK/$E2E_CURRENT.second.log" 2>&1
    SECOND_STATUS=$?
    SECOND_MS=$(($(now_ms) - start))
}

# switch_by_second_launch <expected OnOff>: a second launch, then waits for the running copy to
# store the state itself (its switch rewrites the file). Every write replaces the file by a
# rename, so the two writes are counted as they happen: the running copy may follow before the
# second copy has even ended. Sets FOLLOW_MS, the time between the two writes.
switch_by_second_launch() {
    local expected=$1 writes=$E2E_WORK/$E2E_CURRENT.writes watcher times
    : >"$writes"
    inotifywait -m -e moved_to --format '%f' "$(dirname "$CONF")" 2>"$writes.log" \
        > >(while read -r name; do [[ $name == Pavro.conf ]] && now_ms; done >"$writes") &
    watcher=$!
    wait_until 10 grep -q 'Watches established' "$writes.log" || { fail "inotifywait did not start"; return 1; }
    second_launch
    [[ $SECOND_STATUS == 0 ]] || { kill "$watcher"; fail "second launch exited with $SECOND_STATUS"; return 1; }
    wait_until 5 bash -c "(( \$(wc -l <'$writes') >= 2 ))"
    kill "$watcher" 2>/dev/null
    mapfile -t times <"$writes"
    ((${#times[@]} >= 2)) || { fail "running copy did not follow the second launch"; return 1; }
    FOLLOW_MS=$((times[1] - times[0]))
    conf_is OnOff "$expected" || { fail "running copy stored OnOff=$(conf_value OnOff), not $expected"; return 1; }
}

# --- Windows of ours, the probe ---

parent_of() { xwininfo -children -id "$1" 2>/dev/null | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'; }
root_id() { xwininfo -root | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p'; }

# tray_icon: the docked icon, the viewable window of ours that the panel holds as its child.
tray_icon() {
    local w root
    root=$(root_id)
    for w in $(xdotool search --onlyvisible --class Pavro 2>/dev/null); do
        [[ $(parent_of "$w") != "$root" ]] && { echo "$w"; return 0; }
    done
    return 1
}

# menu_window [class]: a popup menu or message of ours (or of the program of that window class), a
# viewable override-redirect window on the root.
menu_window() {
    local w root
    root=$(root_id)
    for w in $(xdotool search --onlyvisible --class "${1:-Pavro}" 2>/dev/null); do
        [[ $(parent_of "$w") == "$root" ]] || continue
        xwininfo -id "$w" | grep -q 'Override Redirect State: yes' && { echo "$w"; return 0; }
    done
    return 1
}

# start_probe <x> <y> <w> <h>: a probe window with the focus; its log is $PROBE_LOG.
start_probe() {
    PROBE_LOG="$E2E_WORK/$E2E_CURRENT.probe.log"
    PROBE_F12='^KeyRelease F12'
    : >"$PROBE_LOG"
    "$PROBE_BIN" "$PROBE_LOG" "$@" &
    PROBE_PID=$!
    track "$PROBE_PID"
    wait_until 10 grep -q '^mapped' "$PROBE_LOG" || abort "probe did not map"
    PROBE_WINDOW=$(sed -n 's/^mapped //p' "$PROBE_LOG" | head -n 1)
    PROBE_WINDOW=$((PROBE_WINDOW))
    timeout 5 xdotool windowactivate --sync "$PROBE_WINDOW" >/dev/null 2>&1 ||
        xdotool windowfocus "$PROBE_WINDOW"
    wait_until 5 bash -c "[[ \$(xdotool getwindowfocus) == $PROBE_WINDOW ]]" || log "probe has no focus"
}

probe_has() { grep -q -- "$1" "$PROBE_LOG"; }
