#!/usr/bin/env bash
# Where no tray exists: the settings window and the exit reached from the command line and from
# the menu entry's actions (Pavro --settings, Pavro --exit), beside the plain second launch.
source "$(dirname "$0")/session.sh"

DESKTOP_FILE="$(dirname "$0")/../../data/pavro.desktop"
# action <id> [args...]: runs the Exec line of the menu entry's action <id> with the built Pavro.
action() {
    local exec
    exec=$(sed -n "/^\[Desktop Action $1\]/,/^\[/s/^Exec=Pavro//p" "$DESKTOP_FILE")
    timeout 10 "$PAVRO_BIN" $exec >"$E2E_WORK/action-$1.log" 2>&1
}
settings_shown() { xdotool search --onlyvisible --name "^${CAPTION//./\\.}\$" >/dev/null 2>&1; }

start_x
start_wm
new_profile options

action exit
check "\"Exit\" with no copy running fails" test $? = 1
check "... and says so" grep -q "not running" "$E2E_WORK/action-exit.log"
check "... starting nothing and storing nothing" test ! -e "$CONF"

"$PAVRO_BIN" --settings >"$E2E_WORK/options.pavro.log" 2>&1 &
PAVRO_PID=$!
track "$PAVRO_PID"
check "--settings with no copy running starts one that shows its window" wait_until 10 settings_shown
check "... after its ordinary start-up" wait_until 5 conf_is OnOff 0
wmctrl -c "$CAPTION"
wait_until 5 not settings_shown

action settings
check "\"Settings\" with a copy running ends at once, with status 0" test $? = 0
check "... and the running copy shows its window" wait_until 5 settings_shown
check "a plain second launch still switches" switch_by_second_launch 1
"$PAVRO_BIN" --no-such-option >"$E2E_WORK/bad-option.log" 2>&1
check "an unknown option is refused" test $? != 0
check "... and switches nothing" conf_is OnOff 1

action exit
check "\"Exit\" with a copy running ends with status 0" test $? = 0
check "... the running copy ended" wait_until 5 pavro_ended
check "... saving the settings as \"&Exit\" does" conf_is version "$STORED_VERSION"
finish
