#!/usr/bin/env bash
# Many writers on one store: a running Pavro, second launches (alone, in pairs at the same
# instant, and killed with SIGKILL in the middle of their save), and Sweepra deleting the section.
# After every round the file parses, every key holds a value one of the writers wrote, and the
# running copy does what the stored "OnOff" says.
# Environment: PAVRO_SOAK_SECONDS (default 60), PAVRO_SOAK_SEED.
source "$(dirname "$0")/../e2e/session.sh"
SECONDS_TO_RUN=${PAVRO_SOAK_SECONDS:-60}
RANDOM=${PAVRO_SOAK_SEED:-$$}

launches=0 pairs=0 kills=0 sweeps=0 rounds=0 unparsable=0 torn=0 disagreements=0

# parses: every line is blank, a [group] or key=value, and [Settings] appears at most once.
parses() {
    awk '/^$/ || /^\[[^]]*\]$/ || /^[^=[]+=/ { if ($0 == "[Settings]") n++; next } { bad = 1 }
         END { exit bad || n > 1 }' "$CONF"
}
# values_sound: "OnOff" is 0 or 1 or absent; the keys seeded at the start hold their seed
# unless Sweepra removed the section since.
values_sound() {
    local onoff
    onoff=$(conf_value OnOff) || onoff=absent
    [[ $onoff == 0 || $onoff == 1 || $onoff == absent ]] || return 1
    ((swept)) && return 0
    conf_is StdDist 30 && conf_is Refresh 20
}
# moves_on_right: a short press of Right moves the pointer (control is on) or not (off).
moves_on_right() {
    xdotool mousemove 640 400
    wait_until 5 pointer_at 640 400 || return 2
    xdotool keydown Right
    sleep 0.12
    xdotool keyup Right
    wait_until 5 pointer_still
    ! pointer_at 640 400
}
# agrees: the running copy's state is the stored one (a missing "OnOff" asks for nothing).
agrees() {
    local onoff
    onoff=$(conf_value OnOff) || return 0
    sleep 0.25  # time for the running copy to follow the stored state
    if moves_on_right; then [[ $onoff == 1 ]]; else [[ $onoff == 0 ]]; fi
}

start_desktop
xset r off
new_profile soak
mkdir -p "$(dirname "$CONF")"
printf '[Settings]\nStdDist=30\nRefresh=20\nOnOff=0\n' >"$CONF"
swept=0
start_pavro || abort "Pavro did not start"

deadline=$(($(now_ms) + SECONDS_TO_RUN * 1000))
while (($(now_ms) < deadline)); do
    case $((RANDOM % 8)) in
    0 | 1 | 2)
        timeout 10 "$PAVRO_BIN" >/dev/null 2>&1
        launches=$((launches + 1))
        ;;
    3 | 4)
        timeout 10 "$PAVRO_BIN" >/dev/null 2>&1 &
        timeout 10 "$PAVRO_BIN" >/dev/null 2>&1
        wait $!
        pairs=$((pairs + 1))
        ;;
    5 | 6)
        "$PAVRO_BIN" >/dev/null 2>&1 &
        victim=$!
        sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
        kill -KILL "$victim" 2>/dev/null
        wait "$victim" 2>/dev/null
        kills=$((kills + 1))
        ;;
    7)
        "$SWEEPRA_BIN" >/dev/null 2>&1 &
        sweeper=$!
        wait_until 5 bash -c "! grep -q '^\\[Settings\\]' '$CONF'"
        kill "$sweeper" 2>/dev/null
        wait "$sweeper" 2>/dev/null
        sweeps=$((sweeps + 1))
        swept=1
        ;;
    esac
    rounds=$((rounds + 1))
    pavro_alive || abort "the running copy died in round $rounds"
    parses || { unparsable=$((unparsable + 1)); fail "round $rounds: the store does not parse"; cat "$CONF" >&2; }
    values_sound || { torn=$((torn + 1)); fail "round $rounds: a value no writer wrote"; cat "$CONF" >&2; }
    agrees || { disagreements=$((disagreements + 1)); fail "round $rounds: the running copy disagrees with OnOff=$(conf_value OnOff)"; }
done

log "figure: $rounds rounds: $launches launches, $pairs simultaneous pairs, $kills killed mid-save, $sweeps sweeps; $unparsable unparsable, $torn torn, $disagreements disagreements"
check "the store parsed after every round" test "$unparsable" = 0
check "every value was one a writer wrote" test "$torn" = 0
check "the running copy always followed the stored state" test "$disagreements" = 0
stop_pid "$PAVRO_PID"
check "the running copy's exit saves over all of it" conf_is version "$STORED_VERSION"
finish
