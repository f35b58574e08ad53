#!/usr/bin/env bash
# Runs compositor_session.sh inside a QEMU machine that boots Debian's kernel with this host's
# own root file system, shared read-only over 9p under a tmpfs overlay: the compositor, its
# client and Pavro are the host's installed programs and this build, with no disk image. A
# second, writable share carries the session's logs back. The result is read from the serial
# log; QEMU itself exits 0 either way.
# Usage: run_compositor_vm.sh PAVRO PHYSICAL_KEYBOARD CACHE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$3
source "$here/vm_common.sh"

vm_need_packages qemu-system-x86 busybox-static cpio kmod sway wev seatd udev || exit $?
vm_kernel "$cache"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{host,upper,new} "$work/out"
vm_modules "$root/modules" 9p 9pnet_virtio virtio_pci overlay evdev uinput
cat >"$work/out/programs" <<PROGRAMS
PAVRO_BIN=$(realpath "$1")
KEYBOARD_BIN=$(realpath "$2")
UDEV_RULES=$(realpath "$here/../../data/60-pavro-uinput.rules")
PROGRAMS
session="mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 host /host &&
    mount -t tmpfs -o size=512M tmpfs /upper && mkdir /upper/data /upper/work &&
    mount -t overlay -o lowerdir=/host,upperdir=/upper/data,workdir=/upper/work overlay /new &&
    mkdir -p /new/vm-out && mount -t 9p -o trans=virtio,version=9p2000.L out /new/vm-out &&
    chroot /new /bin/bash $here/compositor_session.sh /vm-out"
vm_run "$root" 200 "$session" -m 1536M \
    -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$work/out,mount_tag=out,security_model=none,multidevs=remap" || {
    for file in "$work"/out/*.log; do
        [ -f "$file" ] && { echo "--- $(basename "$file")"; tail -n 40 "$file"; }
    done
    rm -rf "$cache/compositor-logs" && cp -r "$work/out" "$cache/compositor-logs"
    echo "the session's logs: $cache/compositor-logs"
    exit 1
}
