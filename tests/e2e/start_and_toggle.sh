#!/usr/bin/env bash
# Start-up, the second launch that toggles the running copy, and the single-instance lock.
source "$(dirname "$0")/session.sh"

start_desktop

new_profile fresh-start
check "fresh start keeps running" start_pavro
check "fresh start stores OnOff 0" conf_is OnOff 0
check "fresh start shows no window" bash -c "! xdotool search --onlyvisible --name '^Cursor' >/dev/null"

if switch_by_second_launch 1; then
    pass "second launch ended at once (${SECOND_MS} ms) without error"
    pass "running copy switched on ${FOLLOW_MS} ms after the second launch wrote"
    log "figure: second launch to switch on: ${FOLLOW_MS} ms (second copy ran ${SECOND_MS} ms)"
fi
if switch_by_second_launch 0; then
    pass "running copy switched off ${FOLLOW_MS} ms after the second launch wrote"
    log "figure: second launch to switch off: ${FOLLOW_MS} ms (second copy ran ${SECOND_MS} ms)"
fi
# Off now ticks every 200 ms: the next switch on must still come within one such tick.
if switch_by_second_launch 1; then
    pass "switched on again from the 200 ms idle tick, ${FOLLOW_MS} ms after the second launch wrote"
    log "figure: second launch to switch on from idle: ${FOLLOW_MS} ms"
fi
check "the running copy is still the one running" pavro_alive
check "no second window or copy was left" bash -c "[[ \$(pgrep -c -f -- '^$PAVRO_BIN\$') == 1 ]]"

# A copy killed without its exit leaves its lock behind: the next start takes it over.
kill -KILL "$PAVRO_PID"
wait "$PAVRO_PID" 2>/dev/null
rm -f "$CONF"
check "a start after a crash runs as the running copy" start_pavro
check "it stored OnOff 0 as a fresh start" conf_is OnOff 0
stop_pid "$PAVRO_PID"

# Two launches at the same moment: exactly one stays.
new_profile simultaneous
"$PAVRO_BIN" >"$E2E_WORK/simultaneous.a.log" 2>&1 &
first=$!
"$PAVRO_BIN" >"$E2E_WORK/simultaneous.b.log" 2>&1 &
second=$!
track "$first"
track "$second"
exited_count() { local n=0; kill -0 "$first" 2>/dev/null || n=$((n + 1)); kill -0 "$second" 2>/dev/null || n=$((n + 1)); echo "$n"; }
wait_until 10 bash -c "! kill -0 $first 2>/dev/null || ! kill -0 $second 2>/dev/null"
wait_until 5 conf_value OnOff >/dev/null
check "of two simultaneous launches one ended" test "$(exited_count)" = 1
PAVRO_PID=$first
kill -0 "$first" 2>/dev/null || PAVRO_PID=$second
second_launch
check "a third launch finds the survivor running and ends" test "$SECOND_STATUS" = 0
check "the survivor keeps running" pavro_alive
stop_pid "$PAVRO_PID"

finish
