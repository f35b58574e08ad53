#!/usr/bin/env bash
# The settings window as a screen reader reads it (AT-SPI, in a private D-Bus session), and its
# keyboard-only operation; the checks are in accessibility_tree.py.
E2E_PRIVATE_BUS=1
source "$(dirname "$0")/session.sh"

start_x
start_wm
new_profile a11y
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$PAVRO_BIN" --settings >"$E2E_WORK/a11y.pavro.log" 2>&1 &
PAVRO_PID=$!
track "$PAVRO_PID"
# Debian's own Python: pyatspi is a Debian package, absent from other Pythons.
/usr/bin/python3 "$(dirname "$0")/accessibility_tree.py" "$CAPTION" || fail "the window as a screen reader reads it"
finish
