#!/bin/bash
# Makes the fresh Wine prefix that every Wine test of this ctest run shares (a fixture: wineboot
# takes several seconds, a test only milliseconds to start a program in a booted prefix).
#
# The prefix is judged by what the tests need of it, not by wineboot's exit status: Debian's
# 64-bit Wine has no 32-bit half, so wineboot reports a failed syswow64 start on every boot, and
# on a machine where Wine never ran before (no font caches, no server folder) it has also ended
# with an error after making a prefix that works. A boot that leaves no usable prefix is tried
# once more from nothing; when that fails too, the logs of both tries are kept and shown.
source "$(dirname "$0")/session.sh"
: "${PAVRO_PREFIX_CHECK:?PAVRO_PREFIX_CHECK must name wine_prefix_check.exe}"

readonly ATTEMPTS=2
readonly BOOT_SECONDS=120

# prefix_ready: the registry files exist and a 64-bit program of ours runs, uses HKCU and ends
# cleanly.
prefix_ready() {
    [[ -s $WINEPREFIX/system.reg && -s $WINEPREFIX/user.reg ]] || {
        log "no registry files in the prefix"
        return 1
    }
    local output status
    output=$(timeout 60 "$WINE" "$PAVRO_PREFIX_CHECK" 2>>"$WINE_LOG")
    status=$?
    output=$(tr -d '\r' <<<"$output")
    log "prefix check: status $status, \"$output\""
    [[ $status == 0 && $output == "prefix ready" ]]
}

# boot N: a new prefix from nothing; wineboot's status and output go to wineboot-N.log.
boot() {
    local attempt=$1 status
    stop_programs
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    start_wineserver
    timeout "$BOOT_SECONDS" "$WINE" wineboot -i >"$E2E_WORK/wineboot-$attempt.log" 2>&1
    status=$?
    log "wineboot (try $attempt) ended with status $status"
    # The server writes the registry files when it ends; the check runs on a new one.
    stop_programs
    start_wineserver
    prefix_ready
}

started=$SECONDS
ready=0
for ((attempt = 1; attempt <= ATTEMPTS; attempt++)); do
    if boot "$attempt"; then
        ready=1
        break
    fi
    log "the prefix is not usable after try $attempt; wineboot's output:"
    grep -v 'could not open working directory' "$E2E_WORK/wineboot-$attempt.log" | tail -n 20 >&2
done
stop_programs
check "a 64-bit program of ours runs in the fresh prefix and uses its registry" test "$ready" = 1
log "fresh prefix in $((SECONDS - started))s, $((ready ? attempt : ATTEMPTS)) boot(s)"
finish
