#!/usr/bin/env bash
# Runs a static test program as the init of a small QEMU machine: Debian's own kernel in
# software emulation (TCG), an initramfs of busybox, evdev.ko and uinput.ko. The result is read
# from the serial log; QEMU itself exits 0 either way.
# Usage: run_vm.sh TEST_PROGRAM CACHE_DIR
set -euo pipefail
test_program=$1
cache=$2
source "$(dirname "$0")/vm_common.sh"

vm_need_packages qemu-system-x86 busybox-static cpio kmod || exit $?
vm_kernel "$cache"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
vm_modules "$root/modules" evdev uinput
cp "$test_program" "$root/tests"
vm_run "$root" 90 '/tests --gtest_color=no' -m 256M
