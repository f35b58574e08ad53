# Shared by the package tests (sourced): messages, and waits for a condition with a deadline.

log() { echo "$*" >&2; }
fail() { log "FAIL: $*"; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# wait_until <seconds> <command...>: polls every 20 ms until the command succeeds; status 1 when
# the time ran out first.
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.02
    done
}

# icon_image_changed <window> <before.png> <after.png>: takes the window's pixels into
# after.png and succeeds when they differ from before.png (a tray icon switched images).
icon_image_changed() {
    import -window "$1" "$3" && ! cmp -s "$2" "$3"
}
