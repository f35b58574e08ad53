#!/usr/bin/env bash
# Ctrl+Z on a Pavro started from a terminal: while it is stopped the keyboard belongs to the
# desktop (a stopped grabber would freeze it at the first arrow), and once continued the arrows
# are captured again.
source "$(dirname "$0")/session.sh"

# The third field of /proc/PID/stat: T while stopped by a signal.
pavro_state() { awk '{ print $3 }' "/proc/$PAVRO_PID/stat" 2>/dev/null; }
pavro_stopped() { [[ $(pavro_state) == T ]]; }
pavro_running() { local state; state=$(pavro_state); [[ -n $state && $state != T ]]; }
# A tap of Down moves the pointer once the capture is back.
down_moves() {
    local before
    before=$(pointer)
    xdotool key Down
    wait_until 1 not pointer_at "${before% *}" "${before#* }"
}

start_desktop
new_profile stop
# A job of its own, as a terminal's shell starts it: the kernel ignores a stop signal sent to a
# process group that no process of the session outside it looks after.
set -m
start_pavro || abort "Pavro did not start"
set +m
start_probe 100 150 1000 600
switch_by_second_launch 1 || finish
xdotool mousemove 300 400
wait_until 5 pointer_at 300 400 || abort "the pointer did not reach 300,400"

kill -TSTP "$PAVRO_PID"
check "SIGTSTP stops Pavro" wait_until 5 pavro_stopped
xdotool key Right Return a
probe_sync
check "while stopped, Right reaches the probe" probe_has '^KeyPress Right '
check "... so do Enter" probe_has '^KeyPress Return '
check "... and a letter" probe_has '^KeyPress a '
check "... and the pointer stays" pointer_at 300 400
check "... no click came from Enter" not probe_has '^ButtonPress'

kill -CONT "$PAVRO_PID"
check "SIGCONT continues Pavro" wait_until 5 pavro_running
check "... and the capture comes back" wait_until 5 down_moves
xdotool mousemove 300 400
wait_until 5 pointer_at 300 400 || abort "the pointer did not reach 300,400"
marker=$(wc -l <"$PROBE_LOG")
xdotool key Right
probe_sync
check "continued, Right is swallowed" not bash -c "tail -n +$((marker + 1)) '$PROBE_LOG' | grep -q '^KeyPress Right '"
check "... and moves the pointer" wait_until 2 not pointer_at 300 400

# A continue right behind the stop request, before Pavro got to stop, is not lost. Both come from
# one process, some microseconds apart: a continue that comes before the request is handled
# discards it, one that comes later must find Pavro running on.
left_stopped=()
for gap in 0 30 100 300 1000; do
    perl -MTime::HiRes=usleep -e 'kill "TSTP", $ARGV[0]; usleep($ARGV[1]); kill "CONT", $ARGV[0]' "$PAVRO_PID" "$gap"
    wait_until 1 pavro_stopped && left_stopped+=("$gap us") && kill -CONT "$PAVRO_PID"
done
check "a stop request continued at once leaves Pavro running (stopped after: ${left_stopped[*]:-none})" \
    test ${#left_stopped[@]} = 0
check "... with the capture" wait_until 5 down_moves
check "Pavro kept running" pavro_alive
finish
