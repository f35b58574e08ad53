#!/bin/bash
# Runs a program against a private Xvfb that lives exactly as long as the program:
#   run_with_xvfb.sh [--wm] program [args...]
# --wm also starts openbox first, for tests that need a window manager holding its key bindings.
# Xvfb picks a free display number itself (-displayfd), so parallel runs never collide, and
# writes it only once it accepts connections.
set -u

with_wm=0
if [ "${1:-}" = "--wm" ]; then
    with_wm=1
    shift
fi

workdir=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# -noreset: otherwise the server resets whenever its last client disconnects.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$workdir/display" \
    >"$workdir/xvfb.log" 2>&1 &
xvfb_pid=$!

for _ in $(seq 200); do
    if grep -q '[0-9]' "$workdir/display" 2>/dev/null; then break; fi
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
    sleep 0.05
done
number=$(tr -dc '0-9' <"$workdir/display")
if [ -z "$number" ]; then
    echo "run_with_xvfb: Xvfb did not start" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$number"
# Started from a Wayland desktop's terminal, these would still point at that desktop.
unset WAYLAND_DISPLAY XDG_SESSION_TYPE

if [ "$with_wm" = 1 ]; then
    openbox >"$workdir/wm.log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 200); do
        if wmctrl -m >/dev/null 2>&1; then break; fi
        sleep 0.05
    done
    if ! wmctrl -m >/dev/null 2>&1; then
        echo "run_with_xvfb: openbox did not start" >&2
        cat "$workdir/wm.log" >&2
        exit 1
    fi
fi

"$@"
