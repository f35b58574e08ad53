#!/usr/bin/env bash
# The store, the single-instance lock and the second launch under hostile or unlucky
# surroundings, with the real programs. Shapes that need root (a read-only mount, an immutable
# file, a folder of another user, a device node) are skipped without it.
source "$(dirname "$0")/../e2e/session.sh"

AS_ROOT=0
[[ $EUID == 0 ]] && AS_ROOT=1
MOUNTS=()
IMMUTABLE=()
undo_shapes() {
    local item
    for item in "${IMMUTABLE[@]}"; do chattr -i "$item" 2>/dev/null; done
    for item in "${MOUNTS[@]}"; do umount "$item" 2>/dev/null; done
}
trap 'undo_shapes; cleanup' EXIT

pavro_log() { echo "$E2E_WORK/$E2E_CURRENT.pavro.log"; }
second_log() { echo "$E2E_WORK/$E2E_CURRENT.second.log"; }
skip() { log "skip [$E2E_CURRENT]: $* (needs root)"; }
# small_tmpfs <dir>: <dir> becomes a small tmpfs of its own, to be made read-only later.
small_tmpfs() { mount -t tmpfs -o size=256k,mode=0700 tmpfs "$1" && MOUNTS+=("$1"); }
read_only() { mount -o remount,ro "$1"; }
immutable() { chattr +i "$1" && IMMUTABLE+=("$1"); }

# start_refused <text>: Pavro on a store it can't use; waits until stderr says <text>.
start_refused() {
    "$PAVRO_BIN" >"$(pavro_log)" 2>&1 &
    PAVRO_PID=$!
    track "$PAVRO_PID"
    wait_until 10 grep -q -- "$1" "$(pavro_log)"
}
told_once() { [[ $(grep -c -- "$1" "$(pavro_log)") == 1 ]]; }
ended() { ! kill -0 "$PAVRO_PID" 2>/dev/null; }
# arrow_moves: pointer control is on (a held Right moves the pointer).
arrow_moves() {
    local x
    xdotool mousemove 640 400
    x=$(pointer_x)
    xdotool keydown Right
    sleep 0.3
    xdotool keyup Right
    [[ $(pointer_x) != "$x" ]]
}
control_is() {  # control_is on|off; switching on may still be grabbing the keys: retry for 3 s
    if [[ $1 == on ]]; then wait_until 3 arrow_moves; else ! arrow_moves; fi
}
# failed_launch: a second launch that must fail: nonzero status and exactly one line on stderr.
# A launch stuck in the store may ignore SIGTERM: timeout kills it 2 s later.
failed_launch() {
    : >"$(second_log)"
    timeout -k 2 10 "$PAVRO_BIN" >>"$(second_log)" 2>&1
    SECOND_STATUS=$?
    [[ $SECOND_STATUS != 0 && $SECOND_STATUS -lt 124 && $(wc -l <"$(second_log)") == 1 ]]
}

start_desktop

# --- A settings file that is no file: refused at once, on defaults, told once; nothing written through ---
for shape in fifo device-link dangling-link folder big-file; do
    new_profile "shape-$shape"
    mkdir -p "$(dirname "$CONF")"
    case $shape in
        fifo) mkfifo "$CONF" ;;
        device-link)
            if ((!AS_ROOT)); then skip "a device node"; continue; fi
            mknod "$E2E_WORK/$E2E_CURRENT/node" c 1 3 && ln -s "$E2E_WORK/$E2E_CURRENT/node" "$CONF" ;;
        dangling-link) ln -s "$E2E_WORK/$E2E_CURRENT/nothing" "$CONF" ;;
        folder) mkdir "$CONF" ;;
        big-file) printf '[Settings]\nLoadStart=1\n' >"$CONF" && truncate -s 200M "$CONF" ;;
    esac
    type_before=$(stat -L -c %F "$CONF" 2>/dev/null || echo none)
    started=$(now_ms)
    check "$shape: Pavro starts and says why it runs on defaults" start_refused "The settings cannot be read"
    log "figure: $shape: start to message $(($(now_ms) - started)) ms"
    check "$shape: ... within 5 s" test $(($(now_ms) - started)) -lt 5000
    check "$shape: ... once" told_once "The settings cannot be"
    check "$shape: a second launch fails with one line" failed_launch
    check "$shape: Pavro keeps running" pavro_alive
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$PAVRO_PID/status")
    log "figure: $shape: resident memory ${rss} kB"
    check "$shape: under 150 MB of memory" test "$rss" -lt 150000
    kill -TERM "$PAVRO_PID"
    check "$shape: SIGTERM ends it" wait_until 5 ended
    check "$shape: the file's shape is untouched" test "$(stat -L -c %F "$CONF" 2>/dev/null || echo none)" = "$type_before"
done

# --- A runtime folder that can't be used: the store and the lock work all the same ---
for runtime in read-only other-user; do
    new_profile "runtime-$runtime"
    if ((!AS_ROOT)); then skip "a $runtime runtime folder"; continue; fi
    mkdir -p "$(dirname "$CONF")"
    printf '[Settings]\nLoadStart=1\nOnOff=0\n' >"$CONF"
    case $runtime in
        read-only) small_tmpfs "$XDG_RUNTIME_DIR" && read_only "$XDG_RUNTIME_DIR" ;;
        other-user) chown 65534:65534 "$XDG_RUNTIME_DIR" ;;
    esac
    check "$runtime runtime: Pavro starts and stores" start_pavro
    check "$runtime runtime: the stored LoadStart=1 switched control on" control_is on
    check "$runtime runtime: a second launch switches it off" switch_by_second_launch 0
    check "$runtime runtime: ... and left no second copy" test "$(pgrep -c -f -- "^$PAVRO_BIN\$")" = 1
    "$SWEEPRA_BIN" >"$E2E_WORK/$E2E_CURRENT.sweepra.log" 2>&1 &
    sweepra=$!
    track "$sweepra"
    check "$runtime runtime: Sweepra removes the section" wait_until 5 bash -c "! grep -q '^OnOff' '$CONF'"
    stop_pid "$sweepra"
    stop_pid "$PAVRO_PID"
done

# --- Every second launch counts: three launches 150 ms apart, ten rounds; then ten pairs at once ---
new_profile launches
start_pavro
state=off
lost=0
for round in $(seq 10); do
    pids=()
    for _ in 1 2 3; do
        timeout -k 2 10 "$PAVRO_BIN" >>"$(second_log)" 2>&1 &
        pids+=($!)
        sleep 0.15
    done
    wait "${pids[@]}"
    [[ $state == off ]] && state=on || state=off
    sleep 0.5
    expected=$([[ $state == on ]] && echo 1 || echo 0)
    conf_is OnOff "$expected" && control_is "$state" || { lost=$((lost + 1)); state=$([[ $(conf_value OnOff) == 1 ]] && echo on || echo off); }
done
log "figure: rounds of three launches that lost a switch: $lost of 10"
check "no switch of 30 launches 150 ms apart was lost" test "$lost" = 0
changed=0
for pair in $(seq 10); do
    before=$(conf_value OnOff)
    timeout -k 2 10 "$PAVRO_BIN" >>"$(second_log)" 2>&1 &
    a=$!
    timeout -k 2 10 "$PAVRO_BIN" >>"$(second_log)" 2>&1 &
    b=$!
    wait "$a" "$b"
    sleep 0.3
    [[ $(conf_value OnOff) == "$before" ]] || { changed=$((changed + 1)); }
done
log "figure: pairs of simultaneous launches that changed the state: $changed of 10"
check "ten pairs of simultaneous launches each cancelled out" test "$changed" = 0
check "... and the running copy agrees with the store" control_is "$([[ $(conf_value OnOff) == 1 ]] && echo on || echo off)"
stop_pid "$PAVRO_PID"

# --- A store that stops taking writes: the second launch fails and says why; the switch holds ---
for store in immutable read-only folder; do
    new_profile "unwritable-$store"
    if [[ $store != folder ]] && ((!AS_ROOT)); then skip "an $store store"; continue; fi
    [[ $store == read-only ]] && small_tmpfs "$XDG_CONFIG_HOME"
    start_pavro
    case $store in
        immutable) immutable "$CONF" ;;
        read-only) read_only "$XDG_CONFIG_HOME" ;;
        folder) mv "$CONF" "$CONF.away" && mkdir "$CONF" ;;
    esac
    check "$store store: a second launch fails with one line on stderr" failed_launch
    log "second launch said: $(cat "$(second_log)")"
    sleep 0.3
    check "$store store: the running copy did not switch" control_is off
    stop_pid "$PAVRO_PID"
done

# The user's switch on a store that refuses the write holds, and the user hears it once.
new_profile unsaved-switch
if ((AS_ROOT)); then
    mkdir -p "$(dirname "$CONF")"
    printf '[Settings]\nLoadStart=1\nOnOff=0\n' >"$CONF"
    immutable "$CONF"
    check "unsaved switch: Pavro says once that settings cannot be saved" start_refused "The settings cannot be saved"
    sleep 1
    check "unsaved switch: control stays on, ticks later" control_is on
    check "unsaved switch: ... told once" told_once "The settings cannot be"
    kill -TERM "$PAVRO_PID"
    wait_until 5 ended
    check "unsaved switch: the exit says so on stderr" grep -q "could not all be saved: " "$(pavro_log)"
else
    skip "an immutable store"
fi

# --- A lock that names no live process is taken over; a runtime folder open to others is refused ---
for lock in empty garbled open-folder; do
    new_profile "lock-$lock"
    case $lock in
        empty) : >"$XDG_RUNTIME_DIR/Pavro.lock" ;;
        garbled) printf '\x01\xffnot a pid\n' >"$XDG_RUNTIME_DIR/Pavro.lock" ;;
        open-folder) chmod 0777 "$XDG_RUNTIME_DIR" ;;
    esac
    start_pavro
    check "$lock lock: Pavro starts as the running copy" pavro_alive
    check "$lock lock: a second launch switches it" switch_by_second_launch 1
    [[ $lock == open-folder ]] && check "$lock: the refusal is told" grep -q "XDG_RUNTIME_DIR refused" "$(pavro_log)"
    stop_pid "$PAVRO_PID"
done

# --- nohup keeps SIGHUP ignored; SIGKILL leaves no folder behind ---
new_profile nohup
nohup "$PAVRO_BIN" >"$(pavro_log)" 2>&1 &
PAVRO_PID=$!
track "$PAVRO_PID"
wait_until 10 conf_value OnOff >/dev/null
kill -HUP "$PAVRO_PID"
sleep 1
check "under nohup, SIGHUP leaves Pavro running" pavro_alive
stop_pid "$PAVRO_PID"

new_profile sigkill
start_pavro
second_launch
kill -KILL "$PAVRO_PID"
wait "$PAVRO_PID" 2>/dev/null
check "SIGKILL left no folder in the runtime folder" test -z "$(find "$XDG_RUNTIME_DIR" -mindepth 1 -type d)"

finish
