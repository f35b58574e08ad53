#!/usr/bin/env bash
# The Windows .zip as a user gets it: packed from this build, holding one folder with the two
# programs and README.txt, unpacked, and the programs started from that folder under Wine in an
# X session with a window manager and a tray panel: Pavro starts and docks its icon, a second
# launch switches it on, Sweepra deletes the stored settings.
#   zip_under_wine.sh            the whole test
#   zip_under_wine.sh session    the Wine part (run inside run_with_xvfb.sh --wm)
set -u
: "${PAVRO_BUILD_DIR:?}" "${RUN_WITH_XVFB:?}"

source "$(dirname "$0")/package_lib.sh"

readonly WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
readonly SETTINGS_KEY='HKCU\Software\Pavro\Settings'

if [[ ${1:-} == session ]]; then
    work=${2:?} folder=${3:?}
    export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64
    pids=()
    cleanup() {
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
        for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    }
    trap cleanup EXIT
    # WORKAROUND: Wine keeps its first picture of a panel that grows as icons dock, so a
    # fixed-width panel is the one whose icon Wine draws where X shows it.
    trayer --edge top --align left --SetDockType true --expand false --widthtype pixel --width 64 --height 32 \
        --transparent false --tint 0x808080 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p >/dev/null 2>&1
    start=$(now_ms)
    "$WINE" wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot: $(cat "$work/wineboot.log")"
    log "Wine prefix ready in $(($(now_ms) - start)) ms"

    on_off() { "$WINE" reg query "$SETTINGS_KEY" /v OnOff 2>/dev/null | tr -d '\r' | awk '$1 == "OnOff" { print $3 }'; }
    on_off_is() { [[ $(on_off) == "$1" ]]; }
    settings_gone() { ! "$WINE" reg query "$SETTINGS_KEY" >/dev/null 2>&1; }
    started() { [[ -n $(xdotool search --name '^Cursor 1\.0\.16$' 2>/dev/null) ]]; }
    # explorer's window that holds Pavro's icon, nested (indented) inside the panel at the top
    # left; explorer's top-level windows of the same kind are not the icon.
    docked_icon() {
        xwininfo -root -tree 2>/dev/null | awk '
            /^         +0x[0-9a-f]+ .*\("explorer.exe" "explorer.exe"\)/ {
                if (match($0, /[0-9]+x[0-9]+\+0\+0 +\+[0-9]+\+[0-9]+/)) {
                    split(substr($0, RSTART, RLENGTH), g, /[x+ ]+/)
                    if (g[1] >= 8 && g[2] >= 8 && g[6] < 40) { print $1; found = 1; exit }
                }
            }
            END { exit !found }'
    }

    cd "$folder" || fail "no folder $folder"
    "$WINE" ./Pavro.exe >"$work/pavro.log" 2>&1 &
    pids+=($!)
    wait_until 60 started ||
        fail "Pavro.exe from the zip did not start"
    wait_until 20 on_off_is 0 ||
        fail "Pavro.exe stored no OnOff=0 at start"
    wait_until 20 docked_icon >/dev/null || fail "Pavro.exe's tray icon did not dock"
    icon=$(docked_icon)
    import -window "$icon" "$work/icon-off.png"

    timeout 30 "$WINE" ./Pavro.exe >"$work/second.log" 2>&1 || fail "the second launch did not end by itself"
    [[ $(on_off) == 1 ]] || fail "the second launch stored OnOff=$(on_off), not 1"
    wait_until 10 icon_image_changed "$icon" "$work/icon-off.png" "$work/icon-on.png" || fail "the running copy did not switch its icon after the second launch"

    "$WINE" ./Sweepra.exe >"$work/sweepra.log" 2>&1 &
    pids+=($!)
    wait_until 20 settings_gone ||
        fail "Sweepra.exe from the zip did not delete $SETTINGS_KEY"
    exit 0
fi

work=$(mktemp -d /tmp/pavro-zip.XXXXXX)
trap 'rm -rf "$work"' EXIT
start=$(now_ms)
cpack -G ZIP --config "$PAVRO_BUILD_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
zip=$(ls "$work"/out/Pavro-*-windows-x64.zip 2>/dev/null | head -n 1)
[[ -n $zip ]] || fail "no Pavro-*-windows-x64.zip in $work/out"
log "packed $(basename "$zip") in $(($(now_ms) - start)) ms"

name=$(basename "$zip" .zip)
contents=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/Pavro.exe" "$name/README.txt" "$name/Sweepra.exe")
[[ $contents == "$expected" ]] || fail "the zip holds $(tr '\n' ' ' <<<"$contents"), not $(tr '\n' ' ' <<<"$expected")"
unzip -q "$zip" -d "$work/unpacked" || fail "unzip"
folder=$work/unpacked/$name
# Each program carries its icons as resources (an icon group, resource type 14).
for program in Pavro Sweepra; do
    x86_64-w64-mingw32-objdump -p "$folder/$program.exe" | grep -Eq '^[0-9a-f]{3}   Entry: ID: 0x00000e,' ||
        fail "$program.exe carries no icon"
done
grep -q $'\r$' "$folder/README.txt" || fail "README.txt lacks Windows line ends"
grep -qF 'HKEY_CURRENT_USER\Software\Pavro\Settings' "$folder/README.txt" || fail "README.txt does not name the registry key"

mkdir "$work/session"
"$RUN_WITH_XVFB" --wm bash "$0" session "$work/session" "$folder" || fail "the programs from the zip failed under Wine"
echo "zip: $(basename "$zip") holds the two programs and README.txt; they run from the unpacked folder"
