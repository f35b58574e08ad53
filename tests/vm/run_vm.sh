#!/usr/bin/env bash
# Runs a static test program as the init of a small QEMU machine: Debian's own kernel in
# software emulation (TCG), an initramfs of busybox, evdev.ko and uinput.ko. The result is read
# from the serial log; QEMU itself exits 0 either way.
# Usage: run_vm.sh TEST_PROGRAM CACHE_DIR
set -euo pipefail
test_program=$1
cache=$2

need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[ -x /bin/busybox ] || need+=(busybox-static)
command -v cpio >/dev/null || need+=(cpio)
if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The kernel the metapackage names today, fetched once into the cache.
mkdir -p "$cache"
kernel_name() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
kernel_package=$(kernel_name)
if [ -z "$kernel_package" ]; then
    apt-get update -qq
    kernel_package=$(kernel_name)
fi
[ -n "$kernel_package" ] || { echo "no kernel package found (apt-get update?)"; exit 1; }
kernel_root=$cache/$kernel_package
if [ ! -d "$kernel_root" ]; then
    (cd "$cache" && apt-get download -qq "$kernel_package")
    # Only what the machine boots: the kernel and the two modules.
    mkdir -p "$kernel_root.tmp"
    dpkg-deb --fsys-tarfile "$cache/${kernel_package}"_*.deb |
        tar -x -C "$kernel_root.tmp" --wildcards './boot/vmlinuz-*' '*/evdev.ko*' '*/uinput.ko*'
    rm -f "$cache/${kernel_package}"_*.deb
    mv "$kernel_root.tmp" "$kernel_root"
fi
vmlinuz=$(ls "$kernel_root"/boot/vmlinuz-*)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp /bin/busybox "$root/bin/busybox"
for module in evdev uinput; do
    file=$(find "$kernel_root/lib/modules" -name "$module.ko*" | head -n 1)
    case $file in
        *.xz) xz -dc "$file" >"$root/modules/$module.ko" ;;
        *.zst) zstd -qdc "$file" >"$root/modules/$module.ko" ;;
        *) cp "$file" "$root/modules/$module.ko" ;;
    esac
done
cp "$test_program" "$root/tests"
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
insmod /modules/evdev.ko
insmod /modules/uinput.ko
echo "PAVRO_VM_BOOTED $(cut -d" " -f1 /proc/uptime)"
/tests --gtest_color=no
echo "PAVRO_VM_RESULT=$?"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

log=$work/serial.log
start=$(date +%s)
timeout 90 qemu-system-x86_64 -accel tcg -m 256M -smp 1 -nographic -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off" </dev/null >"$log" 2>&1 || true
tr -d '\r' <"$log"
echo "virtual machine: $(( $(date +%s) - start )) s"
tr -d '\r' <"$log" | grep -qx 'PAVRO_VM_RESULT=0'
