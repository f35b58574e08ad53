#!/usr/bin/env bash
# The icon as the build rendered it: every size of both states is a square PNG of that size, and
# at 16 px, where a scaled-down drawing loses most, the square keeps its dark frame on all four
# sides and the arrow keeps its dark outline (no pixel of its light fill touches the field). In
# the Windows build, each .ico holds exactly the rendered sizes, 32 x 32 among them.
# Environment: PAVRO_RENDERED_ICONS (the folder of pavro-<state>-<size>.png), PAVRO_ICON_SIZES,
# and in the Windows build PAVRO_ICO_FILES.
set -u
: "${PAVRO_RENDERED_ICONS:?}" "${PAVRO_ICON_SIZES:?}"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# outline_faults <png>: prints what the 16 px picture lacks, nothing when it is sound.
# Dark: opaque, every channel under 128 (darker than either field). Light (the arrow's fill): opaque, every channel over 170.
# Field: the square's most common colour, unblended. From every light pixel, each of the four
# directions must meet a dark pixel before the field (blended edge pixels may lie between).
outline_faults() {
    convert "$1" -depth 8 txt:- | awk -F'[(),: ]+' '
        NR > 1 {
            x = $1; y = $2; r = $3; g = $4; b = $5; a = $6
            opaque[x, y] = a > 200
            dark[x, y] = a > 200 && r < 128 && g < 128 && b < 128
            light[x, y] = a > 200 && r > 170 && g > 170 && b > 170
            colour[x, y] = r "," g "," b
            if (a > 200) count[r "," g "," b]++
            if (x > w) w = x
            if (y > h) h = y
        }
        function isField(x, y,   p, q) {
            split(colour[x, y], p, ","); split(field, q, ",")
            return opaque[x, y] && (p[1] - q[1]) ^ 2 < 36 && (p[2] - q[2]) ^ 2 < 36 && (p[3] - q[3]) ^ 2 < 36
        }
        function outlined(x, y, dx, dy) {
            for (;;) {
                x += dx; y += dy
                if (x < 0 || x > w || y < 0 || y > h || isField(x, y)) return 0
                if (dark[x, y]) return 1
            }
        }
        END {
            for (c in count) if (count[c] > most) { most = count[c]; field = c }
            # The square: the bounding box of the opaque pixels; its sides without the corners.
            left = w; top = h
            for (x = 0; x <= w; x++) for (y = 0; y <= h; y++) if (opaque[x, y]) {
                if (x < left) left = x; if (x > right) right = x
                if (y < top) top = y; if (y > bottom) bottom = y
            }
            for (i = top + 2; i <= bottom - 2; i++) {
                if (!dark[left, i]) gaps["left"]++
                if (!dark[right, i]) gaps["right"]++
            }
            for (i = left + 2; i <= right - 2; i++) {
                if (!dark[i, top]) gaps["top"]++
                if (!dark[i, bottom]) gaps["bottom"]++
            }
            for (side in gaps) printf "the frame'\''s %s side has %d pixels that are not dark\n", side, gaps[side]
            for (x = 0; x <= w; x++) for (y = 0; y <= h; y++) if (light[x, y]) {
                fill++
                if (!outlined(x, y, -1, 0) || !outlined(x, y, 1, 0) || !outlined(x, y, 0, -1) || !outlined(x, y, 0, 1))
                    open++
            }
            if (fill < 8) printf "the arrow has %d light pixels, fewer than 8\n", fill
            if (open) printf "%d light pixels of the arrow reach the field without crossing its outline\n", open
        }'
}

for state in active inactive; do
    for size in $PAVRO_ICON_SIZES; do
        png=$PAVRO_RENDERED_ICONS/pavro-$state-$size.png
        found=$(identify -format '%m %wx%h %[channels]' "$png" 2>/dev/null)
        [[ $found == "PNG ${size}x$size srgba" ]] || fail "$png is '$found', not a ${size}x$size PNG with alpha"
    done
    faults=$(outline_faults "$PAVRO_RENDERED_ICONS/pavro-$state-16.png")
    [[ -z $faults ]] || fail "the $state icon at 16 px: $faults"
done

expected=$(for size in $PAVRO_ICON_SIZES; do echo "${size}x$size"; done | sort)
for ico in ${PAVRO_ICO_FILES:-}; do
    held=$(identify -format '%wx%h\n' "$ico" 2>/dev/null | sort)
    [[ $held == "$expected" ]] || fail "$ico holds $(echo $held), not $(echo $expected)"
    grep -qx 32x32 <<<"$held" || fail "$ico holds no 32x32 image"
done

((failures == 0)) || exit 1
echo "rendered icons: sizes $PAVRO_ICON_SIZES of both states, the 16 px frame and arrow outline intact"
