#!/usr/bin/env bash
# The X11 capture's install/uninstall time and Enter-to-click latency, of an older commit and of
# the working tree, measured alternately on one private X server with a window manager:
#   bench/x11_before_after.sh BASE_COMMIT [rounds] [samples]
# The older commit is built from `git archive` in a temporary folder with the benches of this
# tree; its click bench is the first one committed (engine path only, no click ahead).
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:?usage: bench/x11_before_after.sh BASE_COMMIT [rounds] [samples]}
rounds=${2:-40}
samples=${3:-200}
first_click_bench=$(git log --diff-filter=A --format=%H -- bench/x11_click_latency.cpp | tail -1)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git archive "$base" | tar -x -C "$work"
cp bench/CMakeLists.txt bench/x11_grab_install.cpp "$work/bench/"
git show "$first_click_bench:bench/x11_click_latency.cpp" >"$work/bench/x11_click_latency.cpp"
targets=(x11_grab_install x11_click_latency)
(cd "$work" && cmake --preset default -DPAVRO_BUILD_TESTS=OFF >/dev/null \
    && cmake --build --preset default --target "${targets[@]}" >/dev/null)
cmake --preset default >/dev/null
cmake --build --preset default --target "${targets[@]}" >/dev/null

tests/x11/run_with_xvfb.sh --wm bash -c "
    for build in '$work/build' build; do
        echo \"== \$([ \"\$build\" = build ] && echo after || echo 'before ($base)')\"
        \"\$build/bin/x11_grab_install\" $rounds
        \"\$build/bin/x11_click_latency\" $samples
    done"
