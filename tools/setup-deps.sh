#!/usr/bin/env bash
# Installs the Debian packages one or more purposes need, when any is missing:
#   tools/setup-deps.sh PURPOSE...
# Runs as root (CI) or through sudo; does nothing when everything is there. The purposes:
#   build      compile Pavro and Sweepra (the default preset, whose configure also wants GoogleTest;
#              rsvg-convert renders the icons)
#   wayland    run Pavro as a native Wayland client (Qt's wayland platform)
#   demo       the private X session tools/run.sh shows Pavro in when there is no display
#   tests      every test stage of tools/test.sh (the stages are listed below)
#   packages   print the packages of the purposes named after it, one a line, and install nothing
set -euo pipefail

declare -A needs=(
    [build]="build-essential cmake ninja-build qt6-base-dev libx11-dev libxtst-dev libxi-dev libgtest-dev libgmock-dev
        librsvg2-bin"
    [wayland]="qt6-wayland"
    # a private X server, a window manager, a tray panel, input, window queries, the screenshot
    [demo]="xvfb openbox trayer wmctrl x11-utils xdotool inotify-tools imagemagick"
    # the desktop tests: the demo's session, plus key repeat and device state, a StatusNotifierItem
    # host and a notification service on a private session bus, and the accessibility tree
    [test-desktop]="x11-xserver-utils xinput xfce4-panel xfce4-notifyd python3-pyatspi at-spi2-core dbus"
    # the evdev backend inside a virtual machine (the kernel package is fetched by the test), and
    # the whole Pavro there under a compositor reading its devices (sway, seatd, udev; wev reports)
    [test-vm]="qemu-system-x86 busybox-static cpio kmod sway wev seatd udev"
    # the shell under a Wayland compositor
    [test-wayland]="weston qt6-wayland"
    # the Windows build (its icons are converted with ImageMagick) and its tests under Wine
    [test-windows]="g++-mingw-w64-x86-64 wine wine64 imagemagick"
    # packages and what checks them: dpkg-shlibdeps and file (the .deb's computed dependencies),
    # unzip, the desktop entry and AppStream validators, the manual page formatter, lintian
    [test-package]="dpkg-dev file unzip desktop-file-utils appstream groff-base man-db lintian"
    # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
    [test-fuzz]="clang libfuzzer-14-dev libclang-rt-14-dev"
)
needs[tests]="${needs[build]} ${needs[demo]} ${needs[test-desktop]} ${needs[test-vm]} ${needs[test-wayland]}
    ${needs[test-windows]} ${needs[test-package]} ${needs[test-fuzz]}"

list_only=0
if [[ ${1:-} == packages ]]; then
    list_only=1
    shift
fi
(($#)) || { echo "usage: tools/setup-deps.sh [packages] PURPOSE... (${!needs[*]})" >&2; exit 2; }

packages=()
for purpose in "$@"; do
    [[ -n ${needs[$purpose]:-} ]] || { echo "setup-deps: no purpose '$purpose' (${!needs[*]})" >&2; exit 2; }
    read -ra listed <<<"${needs[$purpose]//$'\n'/ }"
    packages+=("${listed[@]}")
done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
if ((list_only)); then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
