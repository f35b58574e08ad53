#!/usr/bin/env bash
# Runs the Windows suite (ctest --preset windows) RUNS times in a row (default 10), each from the
# state of a machine where Wine never ran: no font caches (the system's and the user's), no Wine
# download cache, no Wine server folder. Prints one line a run and a summary; exits 1 when a run
# failed. Needs a built windows preset (tools/test.sh, or cmake --build --preset windows) and
# root for the system's font cache, which fontconfig rebuilds when next asked.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
[ -d build-windows ] || { echo "build the windows preset first (cmake --preset windows && cmake --build --preset windows)"; exit 2; }

cache=${XDG_CACHE_HOME:-$HOME/.cache}
forget_wine() {
    rm -rf /var/cache/fontconfig/* "$cache/fontconfig" "$cache/wine" build-windows/tests/wine/prefix 2>/dev/null
    # The servers' folder, unless another Wine server (of another prefix) still uses it.
    pgrep -x wineserver >/dev/null || rm -rf "/tmp/.wine-$(id -u)"
}

passed=0
for ((run = 1; run <= runs; run++)); do
    forget_wine
    started=$SECONDS
    if ctest --preset windows --output-on-failure >"build-windows/fresh-run-$run.log" 2>&1; then
        passed=$((passed + 1))
        echo "run $run: passed in $((SECONDS - started)) s"
    else
        echo "run $run: FAILED in $((SECONDS - started)) s; output in build-windows/fresh-run-$run.log"
    fi
done
echo "$passed passed, $((runs - passed)) failed"
((passed == runs))
