#!/usr/bin/env bash
# The real exit from signals, odd and hostile stored values, a capture that fails, and Sweepra.
source "$(dirname "$0")/session.sh"

SAVED_KEYS=(StdDist FastDist TimeFast Refresh LoadStart ScanCode version)

# expect_values <key=value>...: after an exit, each key holds exactly that raw text.
expect_values() {
    local pair
    for pair in "$@"; do
        check "stored ${pair%%=*} is '${pair#*=}'" conf_is "${pair%%=*}" "${pair#*=}"
    done
}

write_store() {  # write_store <content>: the store as a user's editor would leave it
    mkdir -p "$(dirname "$CONF")"
    printf '%b' "$1" >"$CONF"
}

start_desktop

# --- SIGTERM, SIGINT and SIGHUP take the real exit ---
for signal in TERM INT HUP; do
    new_profile "signal-$signal"
    start_pavro || { fail "Pavro did not start"; continue; }
    switch_by_second_launch 1
    kill -"$signal" "$PAVRO_PID"
    check "SIG$signal ended Pavro" wait_until 5 pavro_ended
    wait "$PAVRO_PID"
    check "... with status 0" test $? = 0
    expect_values StdDist=25 FastDist=80 TimeFast=250 Refresh=25 LoadStart=0 ScanCode=0 version=$STORED_VERSION OnOff=1
    check "... and released the keys: an arrow reaches the desktop again" bash -c '
        x=$(xdotool getmouselocation --shell | sed -n "s/^X=//p")
        xdotool keydown Right; sleep 0.1; xdotool keyup Right
        [[ $(xdotool getmouselocation --shell | sed -n "s/^X=//p") == "$x" ]]'
done

# --- While the exit's save waits for another process's hold on the store, keys are the desktop's ---
new_profile exit-waits
start_pavro || abort "Pavro did not start"
start_probe 100 150 1000 600
switch_by_second_launch 1
flock "$(dirname "$CONF")" sleep 3 &
track $!
wait_until 5 bash -c "! flock -n '$(dirname "$CONF")' true" || abort "the store could not be held"
kill -TERM "$PAVRO_PID"
right_reaches_probe() { xdotool key Right; sleep 0.05; probe_has '^KeyPress Right '; }
check "during the exit's wait for the store, Right reaches the probe" wait_until 1 right_reaches_probe
check "... while Pavro still waits" pavro_alive
check "... and Pavro ends" wait_until 10 pavro_ended

# --- Odd and hostile values keep Pavro running and are written back as they were ---
new_profile hostile-text
write_store '[Settings]\nStdDist=abc\nFastDist=1e400\nTimeFast=99999999999999999999\nRefresh=\nLoadStart=0\nScanCode=2\nOnOff=0\n'
start_pavro || fail "Pavro did not start on odd numbers"
check "odd numbers: the running copy still follows a second launch" switch_by_second_launch 1
kill -TERM "$PAVRO_PID"
check "odd numbers: SIGTERM ended Pavro" wait_until 5 pavro_ended
expect_values StdDist=abc FastDist=1e400 TimeFast=99999999999999999999 Refresh= LoadStart=0 ScanCode=2 version=$STORED_VERSION

new_profile hostile-forms
write_store '[Other]\nKeep=yes\n\n[Settings]\nStdDist=line\\nbreak\nFastDist=@ByteArray(80)\nTimeFast=1, 5\nRefresh=99999999999\nLoadStart=@Invalid()\nScanCode=abc\nOnOff=0\n'
start_pavro || fail "Pavro did not start on odd forms"
check "odd forms: the running copy still follows a second launch" switch_by_second_launch 1
kill -TERM "$PAVRO_PID"
check "odd forms: SIGTERM ended Pavro" wait_until 5 pavro_ended
# A list and a byte array read as their text and go back in their own form; a value with no
# text (@Invalid) and a check box value that is no number leave the boxes clear.
expect_values 'StdDist=line\nbreak' 'FastDist=@ByteArray(80)' 'TimeFast=1, 5' Refresh=99999999999 LoadStart=0 ScanCode=0 version=$STORED_VERSION
check "odd forms: the other group stayed" bash -c "grep -qx 'Keep=yes' '$CONF' && grep -qx '\\[Other\\]' '$CONF'"

new_profile hostile-bytes
write_store '\x00\x01\xff[Set\ntings]\n==\n[\nStdDist\n\xfe\xfe=\x00\n'
start_pavro || fail "Pavro did not start on a garbled file"
check "garbled file: the running copy still follows a second launch" switch_by_second_launch 1
kill -TERM "$PAVRO_PID"
check "garbled file: SIGTERM ended Pavro" wait_until 5 pavro_ended
expect_values StdDist=25 FastDist=80 TimeFast=250 Refresh=25 version=$STORED_VERSION

# --- A capture that fails is told to the user, and Pavro runs on ---
new_profile capture-failure
HOLDER_LOG="$E2E_WORK/holder.log"
"$(dirname "$PROBE_BIN")/key_holder" >"$HOLDER_LOG" 2>&1 &
HOLDER=$!
track "$HOLDER"
wait_until 5 grep -q holding "$HOLDER_LOG"
start_pavro
second_launch
check "capture failure: the reason went to stderr" \
    wait_until 5 grep -q 'could not capture the arrow keys' "$E2E_WORK/capture-failure.pavro.log"
check "capture failure: a message appeared on screen" wait_until 5 menu_window >/dev/null
check "capture failure: Pavro runs on" pavro_alive
stop_pid "$PAVRO_PID"
stop_pid "$HOLDER"

# --- Sweepra removes the section and nothing else ---
new_profile sweepra
write_store '[Other]\nKeep=yes\n\n[Settings]\nStdDist=30\nOnOff=1\nversion=$STORED_VERSION\n'
mkdir -p "$XDG_CONFIG_HOME/Neighbour"
printf '[Settings]\nStdDist=99\n' >"$XDG_CONFIG_HOME/Neighbour/Neighbour.conf"
cp "$XDG_CONFIG_HOME/Neighbour/Neighbour.conf" "$E2E_WORK/neighbour.before"
"$SWEEPRA_BIN" >"$E2E_WORK/sweepra.log" 2>&1 &
SWEEPRA=$!
track "$SWEEPRA"
check "Sweepra shows its window" wait_until 5 bash -c "[[ -n \$(xdotool search --onlyvisible --name '^Form1\$' 2>/dev/null) ]]"
check "its client area is 312 x 206" test "$(window_size "$(xdotool search --onlyvisible --name '^Form1$' | head -n 1)")" = 312x206
check "the [Settings] section is gone" bash -c "! grep -q '^\\[Settings\\]' '$CONF' && ! grep -q '^StdDist' '$CONF'"
check "the other group stayed" bash -c "grep -qx 'Keep=yes' '$CONF'"
check "another program's file stayed as it was" cmp -s "$E2E_WORK/neighbour.before" "$XDG_CONFIG_HOME/Neighbour/Neighbour.conf"
wmctrl -c Form1
check "closing its window ends Sweepra" wait_until 5 bash -c "! kill -0 $SWEEPRA 2>/dev/null"
wait "$SWEEPRA"
check "... with status 0" test $? = 0

# Nothing stored: Sweepra still shows its window and creates nothing.
new_profile sweepra-empty
"$SWEEPRA_BIN" >"$E2E_WORK/sweepra-empty.log" 2>&1 &
SWEEPRA=$!
track "$SWEEPRA"
check "Sweepra with nothing stored shows its window" wait_until 5 bash -c "[[ -n \$(xdotool search --onlyvisible --name '^Form1\$' 2>/dev/null) ]]"
check "... and creates no store" test ! -e "$CONF"
wmctrl -c Form1
check "... and ends when closed" wait_until 5 bash -c "! kill -0 $SWEEPRA 2>/dev/null"

# While Pavro runs: the section goes, and Pavro's exit writes its keys anew.
new_profile sweepra-running
start_pavro
"$SWEEPRA_BIN" >"$E2E_WORK/sweepra-running.log" 2>&1 &
SWEEPRA=$!
track "$SWEEPRA"
wait_until 5 bash -c "[[ -n \$(xdotool search --onlyvisible --name '^Form1\$' 2>/dev/null) ]]"
check "Sweepra removed the running copy's section" bash -c "! grep -q '^OnOff' '$CONF'"
wmctrl -c Form1
wait_until 5 bash -c "! kill -0 $SWEEPRA 2>/dev/null"
check "Pavro runs on without its section" pavro_alive
kill -TERM "$PAVRO_PID"
wait_until 5 pavro_ended
expect_values StdDist=25 FastDist=80 TimeFast=250 Refresh=25 LoadStart=0 ScanCode=0 version=$STORED_VERSION

finish
