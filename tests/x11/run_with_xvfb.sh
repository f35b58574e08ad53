#!/bin/bash
# Runs a program against a private Xvfb that lives exactly as long as the program:
#   run_with_xvfb.sh [--wm] program [args...]
# --wm also starts openbox first, for tests that need a window manager holding its key bindings.
source "$(dirname "$0")/../lib/desktop.sh"

start_x
if [[ ${1:-} == --wm ]]; then
    shift
    start_wm
fi
"$@"
