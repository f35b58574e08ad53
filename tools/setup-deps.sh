#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Runs as root (CI) or through sudo; does nothing when everything is there.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build qt6-base-dev libx11-dev libxtst-dev libxi-dev
    libgtest-dev libgmock-dev
    # desktop tests: a private X server, a window manager, a tray panel, input and screenshots
    xvfb xauth openbox trayer xdotool x11-utils x11-xserver-utils wmctrl imagemagick
    # the evdev backend inside a virtual machine (the kernel package is fetched by the test)
    qemu-system-x86 busybox-static cpio
    # the shell under a Wayland compositor
    weston qt6-wayland inotify-tools
    # the Windows build and its tests
    g++-mingw-w64-x86-64 wine wine64
    # packages and what checks them: dpkg-shlibdeps and file (the .deb's computed dependencies),
    # unzip, the desktop entry and AppStream validators, the manual page formatter
    dpkg-dev file unzip desktop-file-utils appstream groff-base man-db
)

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
