# Shared by the end-to-end scripts (sourced): a private X session with a window manager and a
# tray panel, a private store and runtime folder per test, and helpers to drive and watch Pavro.
# Every wait is for a condition, bounded by a deadline; `sleep` appears only where holding a
# key for a while is the action under test.

set -u

: "${PAVRO_BIN:?PAVRO_BIN must name the Pavro program}"
: "${SWEEPRA_BIN:?SWEEPRA_BIN must name the Sweepra program}"
: "${PROBE_BIN:?PROBE_BIN must name the key probe}"
: "${SELECTION_OWNER_BIN:?SELECTION_OWNER_BIN must name the selection_owner helper}"

E2E_WORK=$(mktemp -d /tmp/pavro-e2e.XXXXXX)
E2E_PIDS=()
E2E_FAILURES=0
E2E_CURRENT=""

log() { printf '%s\n' "$*" >&2; }

fail() {
    log "FAIL [$E2E_CURRENT]: $*"
    E2E_FAILURES=$((E2E_FAILURES + 1))
}

pass() { log "ok   [$E2E_CURRENT]: $*"; }

check() {  # check <description> <command...>
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_until <timeout seconds> <command...>: polls every 10 ms until the command succeeds.
wait_until() {
    local limit=$1
    shift
    local deadline=$(($(now_ms) + limit * 1000))
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.01
    done
}

track() { E2E_PIDS+=("$1"); }

stop_pid() {  # stop_pid <pid>: TERM, then KILL after 5 s
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    wait_until 5 bash -c "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local index
    for ((index = ${#E2E_PIDS[@]} - 1; index >= 0; index--)); do
        stop_pid "${E2E_PIDS[index]}"
    done
    if [[ -n ${E2E_DISPLAY_NUMBER:-} ]]; then
        wait_until 5 test ! -e "/tmp/.X${E2E_DISPLAY_NUMBER}-lock" || true
    fi
    rm -rf "$E2E_WORK"
}
trap cleanup EXIT

# --- The X session ---

start_session() {
    local number
    # The private session is X11 whatever desktop the tests were started from.
    unset WAYLAND_DISPLAY XDG_SESSION_TYPE
    export QT_QPA_PLATFORM=xcb
    for number in $(seq 70 199); do
        [[ -e /tmp/.X${number}-lock || -e /tmp/.X11-unix/X${number} ]] && continue
        Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp -noreset >"$E2E_WORK/xvfb.log" 2>&1 &
        local xvfb=$!
        export DISPLAY=":$number"
        if wait_until 10 xdpyinfo >/dev/null 2>&1 && kill -0 "$xvfb" 2>/dev/null; then
            track "$xvfb"
            E2E_DISPLAY_NUMBER=$number
            break
        fi
        # Another server took the number first: try the next one.
        kill "$xvfb" 2>/dev/null
        wait "$xvfb" 2>/dev/null
    done
    [[ -n ${E2E_DISPLAY_NUMBER:-} ]] || { log "no free display"; exit 1; }

    openbox >"$E2E_WORK/openbox.log" 2>&1 &
    track $!
    wait_until 10 wmctrl -m >/dev/null 2>&1 || { log "openbox did not start"; exit 1; }
}

start_tray() {
    trayer --edge top --align right --SetDockType true --expand true --widthtype request --height 32 \
        --transparent false --tint 0x808080 >"$E2E_WORK/trayer.log" 2>&1 &
    E2E_TRAYER=$!
    track "$E2E_TRAYER"
    wait_until 10 "$SELECTION_OWNER_BIN" _NET_SYSTEM_TRAY_S0 >/dev/null || { log "trayer did not start"; exit 1; }
}

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

file_id() { stat -c '%i %Y %s' "$CONF" 2>/dev/null || echo none; }

# --- Pavro ---

# start_pavro: starts the running copy and waits for its start-up to store "OnOff".
start_pavro() {
    local before
    before=$(file_id)
    "$PAVRO_BIN" >"$E2E_WORK/$E2E_CURRENT.pavro.log" 2>&1 &
    PAVRO_PID=$!
    track "$PAVRO_PID"
    wait_until 10 bash -c "[[ \"\$(stat -c '%i %Y %s' '$CONF' 2>/dev/null || echo none)\" != '$before' ]]" \
        && wait_until 5 conf_value OnOff >/dev/null
}

pavro_alive() { kill -0 "$PAVRO_PID" 2>/dev/null; }

# second_launch: runs a second copy in the foreground; sets SECOND_MS (its run time) and
# SECOND_STATUS.
second_launch() {
    local start
    start=$(now_ms)
    timeout 10 "$PAVRO_BIN" >>"$E2E_WORK/$E2E_CURRENT.second.log" 2>&1
    SECOND_STATUS=$?
    SECOND_MS=$(($(now_ms) - start))
}

# mtime_ms: the store file's modification time in ms (nanoseconds as stored, cut to ms).
mtime_ms() { local t; t=$(stat -c '%.9Y' "$CONF") && echo $((${t/./} / 1000000)); }

# switch_by_second_launch <expected OnOff>: a second launch, then waits for the running copy to
# store the state itself (its switch rewrites the file). Sets FOLLOW_MS, the time between the
# second launch's write and the running copy's write, both from the file's own timestamps.
switch_by_second_launch() {
    local expected=$1 written signalled
    second_launch
    [[ $SECOND_STATUS == 0 ]] || { fail "second launch exited with $SECOND_STATUS"; return 1; }
    conf_is OnOff "$expected" || { fail "second launch stored OnOff=$(conf_value OnOff), not $expected"; return 1; }
    written=$(file_id)
    signalled=$(mtime_ms)
    if ! wait_until 5 bash -c "[[ \"\$(stat -c '%i %Y %s' '$CONF' 2>/dev/null)\" != '$written' ]]"; then
        fail "running copy did not follow the second launch"
        return 1
    fi
    FOLLOW_MS=$(($(mtime_ms) - signalled))
    conf_is OnOff "$expected" || { fail "running copy stored OnOff=$(conf_value OnOff)"; return 1; }
}

# --- Pointer and probe ---

pointer_x() { xdotool getmouselocation --shell | sed -n 's/^X=//p'; }
pointer_y() { xdotool getmouselocation --shell | sed -n 's/^Y=//p'; }

# start_probe <x> <y> <w> <h>: a probe window with the focus; its log is $PROBE_LOG.
start_probe() {
    PROBE_LOG="$E2E_WORK/$E2E_CURRENT.probe.log"
    : >"$PROBE_LOG"
    "$PROBE_BIN" "$PROBE_LOG" "$@" &
    PROBE_PID=$!
    track "$PROBE_PID"
    wait_until 10 grep -q '^mapped' "$PROBE_LOG" || { log "probe did not map"; exit 1; }
    PROBE_WINDOW=$(sed -n 's/^mapped //p' "$PROBE_LOG" | head -n 1)
    PROBE_WINDOW=$((PROBE_WINDOW))
    timeout 5 xdotool windowactivate --sync "$PROBE_WINDOW" >/dev/null 2>&1 ||
        xdotool windowfocus "$PROBE_WINDOW"
    wait_until 5 bash -c "[[ \$(xdotool getwindowfocus) == $PROBE_WINDOW ]]" || log "probe has no focus"
}

probe_has() { grep -q -- "$1" "$PROBE_LOG"; }

# probe_mark: a known key typed into the probe; once it shows up, every earlier event has been
# logged (X delivers in order), so "not received" can be checked without waiting blindly.
probe_mark() {
    local before
    before=$(grep -c '^KeyRelease F12' "$PROBE_LOG")
    xdotool key F12
    wait_until 5 bash -c "(( \$(grep -c '^KeyRelease F12' '$PROBE_LOG') > $before ))"
}

finish() {
    if ((E2E_FAILURES > 0)); then
        log "$E2E_FAILURES check(s) failed; logs in $E2E_WORK kept as $E2E_WORK.failed"
        cp -r "$E2E_WORK" "$E2E_WORK.failed" 2>/dev/null
        exit 1
    fi
    exit 0
}
