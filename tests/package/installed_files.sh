#!/usr/bin/env bash
# What `cmake --install` puts in place, checked with the tools a desktop and a distribution use
# on it: exactly the expected files, the icon as the build rendered it at each size of the theme
# and as its scalable drawing, the desktop entries, the AppStream metainfo and the manual pages.
set -u
: "${PAVRO_BUILD_DIR:?}" "${PAVRO_SOURCE_DIR:?}"

work=$(mktemp -d /tmp/pavro-installed.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

root=$work/usr
cmake --install "$PAVRO_BUILD_DIR" --prefix "$root" >"$work/install.log" || {
    cat "$work/install.log" >&2
    exit 1
}

sizes="16 22 24 32 48 64 128 256"
expected=$(
    printf '%s\n' bin/Pavro bin/Sweepra share/applications/pavro.desktop share/applications/sweepra.desktop \
        share/metainfo/org.pavro.pavro.metainfo.xml share/man/man1/Pavro.1.gz share/man/man1/Sweepra.1.gz \
        share/doc/pavro/copyright share/doc/pavro/changelog.gz lib/udev/rules.d/60-pavro-uinput.rules
    for size in $sizes; do echo "share/icons/hicolor/${size}x$size/apps/pavro.png"; done
    echo share/icons/hicolor/scalable/apps/pavro.svg
)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||')
if [[ $(sort <<<"$expected") != $(sort <<<"$actual") ]]; then
    fail "installed files differ from the expected list:"
    diff <(sort <<<"$expected") <(sort <<<"$actual") >&2
fi

for size in $sizes; do
    png=$root/share/icons/hicolor/${size}x$size/apps/pavro.png
    [[ -f $png ]] || continue
    [[ $(identify -format '%m %wx%h' "$png") == "PNG ${size}x$size" ]] ||
        fail "$png is $(identify -format '%m %wx%h' "$png"), not a ${size}x$size PNG"
    cmp -s "$png" "$PAVRO_BUILD_DIR/data/rendered/pavro-active-$size.png" ||
        fail "$png is not the build's active render at $size px"
done
# The scalable icon is the drawing itself, and rsvg (what icon themes load SVG with) reads it.
svg=$root/share/icons/hicolor/scalable/apps/pavro.svg
[[ $(rsvg-convert --width 48 --height 48 "$svg" | identify -format '%m %wx%h' -) == "PNG 48x48" ]] ||
    fail "$svg does not render as a 48x48 image"

desktop-file-validate "$root"/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/share/metainfo/org.pavro.pavro.metainfo.xml >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
for page in "$root"/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -ww -man -Tutf8 -z 2>&1)
    [[ -z $warnings ]] || fail "groff -ww on $page: $warnings"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man --warnings -l $page: $warnings"
done

((failures == 0)) || exit 1
echo "installed files: $(wc -l <<<"$actual") files, icons at $sizes and scalable, entries, metainfo and manual pages valid"
