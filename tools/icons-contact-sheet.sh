#!/usr/bin/env bash
# Draws every rendered size of the icon, active and inactive, on a light and a dark background,
# at its own size and (up to 48 px) enlarged 6x with hard pixel edges, into
# docs/icons-contact-sheet.png: the sheet to look at after changing data/pavro.svg or
# data/icon_hint.cpp. Uses the renders of the default build (built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RENDERED=$ROOT/build/data/rendered
OUT=${1:-$ROOT/docs/icons-contact-sheet.png}
SIZES=(16 20 22 24 32 40 48 64 128 256)
ENLARGED=(16 20 22 24 32 48)

cmake --preset default >/dev/null
cmake --build --preset default --target pavro_icons >/dev/null

work=$(mktemp -d /tmp/pavro-sheet.XXXXXX)
trap 'rm -rf "$work"' EXIT

# One row: the icons of one state on one background, each labelled with its size.
row() {
    local state=$1 background=$2 foreground=$3 scale=$4 name=$5
    shift 5
    local tiles=()
    for size in "$@"; do
        local tile=$work/$name-$size.png
        convert "$RENDERED/pavro-$state-$size.png" -filter point -resize "$((size * scale))x" \
            -background "$background" -gravity center -extent "$((size * scale < 48 ? 64 : size * scale + 16))x$((size * scale + 16))" \
            -fill "$foreground" -font DejaVu-Sans -pointsize 12 label:"${size} px" -append "$tile"
        tiles+=("$tile")
    done
    convert -background "$background" "${tiles[@]}" -gravity south +append \
        -fill "$foreground" -font DejaVu-Sans -pointsize 14 -gravity west -splice 150x0 \
        -annotate +8+0 "$state, $( ((scale == 1)) && echo "actual size" || echo "${scale}x")" -extent 1240x "$work/$name.png"
}

rows=()
for background in "#f2f2f2:#202020:light" "#202020:#f2f2f2:dark"; do
    IFS=: read -r bg fg tone <<<"$background"
    for state in active inactive; do
        row "$state" "$bg" "$fg" 1 "$tone-$state-1x" "${SIZES[@]}"
        row "$state" "$bg" "$fg" 6 "$tone-$state-6x" "${ENLARGED[@]}"
        rows+=("$work/$tone-$state-1x.png" "$work/$tone-$state-6x.png")
    done
done
convert -background "#808080" "${rows[@]}" -gravity north -splice 0x4 -append +repage -depth 8 -strip -define png:exclude-chunks=date,time "$OUT"
echo "wrote $OUT"
