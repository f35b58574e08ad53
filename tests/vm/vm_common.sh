# What every virtual-machine stage shares, sourced by the run_*.sh scripts: the packages they
# need, Debian's kernel and the modules it loads, and QEMU booted under a timeout.

# The status that tells ctest a stage was skipped (SKIP_RETURN_CODE).
VM_SKIPPED=77

# vm_need_packages <package...>: installs those of the packages that are missing. Returns
# VM_SKIPPED when some are missing and this user cannot install them: the only case in which a
# stage cannot run here.
vm_need_packages() {
    local package missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "skipped: needs the Debian packages ${missing[*]} (run as root to install them)"
        return $VM_SKIPPED
    fi
    echo "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
}

# vm_kernel <cache>: the kernel the metapackage names today, fetched once into the cache with
# the module folders the stages load from. Sets VM_VMLINUZ and VM_MODULES (the folder holding
# kernel/ of that version).
vm_kernel() {
    local cache=$1 package root
    kernel_name() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
    package=$(kernel_name)
    if [ -z "$package" ]; then
        apt-get update -qq
        package=$(kernel_name)
    fi
    [ -n "$package" ] || { echo "no kernel package found (apt-get update?)"; return 1; }
    mkdir -p "$cache"
    root=$cache/$package-v2
    if [ ! -d "$root" ]; then
        (cd "$cache" && apt-get download -qq "$package") || return 1
        mkdir -p "$root.tmp"
        dpkg-deb --fsys-tarfile "$cache/${package}"_*.deb |
            tar -x -C "$root.tmp" --wildcards './boot/vmlinuz-*' '*/kernel/drivers/input/*' \
                '*/kernel/drivers/virtio/*' '*/kernel/net/9p/*' '*/kernel/fs/*' || return 1
        rm -f "$cache/${package}"_*.deb
        mv "$root.tmp" "$root"
    fi
    VM_VMLINUZ=$(ls "$root"/boot/vmlinuz-*)
    VM_MODULES=$(ls -d "$root"/lib/modules/*)
}

# vm_modules <folder> <module...>: copies the modules and those they depend on, uncompressed,
# into the folder, and writes their names in an order that loads (dependencies first) to
# <folder>/load-order. A module built into the kernel has no file and needs no loading.
vm_modules() {
    local folder=$1 module
    shift
    mkdir -p "$folder"
    : >"$folder/load-order"
    add_module() {
        local file dep
        grep -qx "$1" "$folder/load-order" && return 0
        file=$(find "$VM_MODULES/kernel" -name "$1.ko*" | head -n 1)
        [ -n "$file" ] || file=$(find "$VM_MODULES/kernel" -name "${1//_/-}.ko*" | head -n 1)
        [ -n "$file" ] || { echo "module $1 is not in the kernel package"; return 1; }
        for dep in $(modinfo -F depends "$file" | tr ',' ' '); do
            add_module "$dep" || return 1
        done
        case $file in
            *.xz) xz -dc "$file" >"$folder/$1.ko" ;;
            *.zst) zstd -qdc "$file" >"$folder/$1.ko" ;;
            *) cp "$file" "$folder/$1.ko" ;;
        esac
        echo "$1" >>"$folder/load-order"
    }
    for module in "$@"; do
        add_module "$module" || return 1
    done
}

# vm_run <root> <seconds> <commands> <qemu argument...>: boots a machine whose initramfs is the
# folder <root> with busybox added and an init that mounts the kernel's file systems, loads what
# vm_modules copied to /modules, runs the shell commands and powers off. Software emulation:
# nested KVM here never finished decompressing the kernel. Prints the serial log and the time;
# status 0 when the commands' status was 0 (QEMU itself exits 0 either way, so it is read from
# the log), and the boot is ended after <seconds> whatever happens inside.
vm_run() {
    local root=$1 seconds=$2 commands=$3 start log
    shift 3
    mkdir -p "$root"/{bin,dev,proc,sys,tmp}
    cp /bin/busybox "$root/bin/busybox"
    cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r module; do insmod "/modules/\$module.ko" || echo "PAVRO_VM_MODULE_FAILED \$module"; done </modules/load-order
echo "PAVRO_VM_BOOTED \$(cut -d" " -f1 /proc/uptime)"
$commands
echo "PAVRO_VM_RESULT=\$?"
poweroff -f
INIT
    chmod +x "$root/init"
    (cd "$root" && find . | cpio -o -H newc --quiet) >"$root.cpio"
    log=$root.log
    start=$(date +%s)
    timeout "$seconds" qemu-system-x86_64 -accel tcg -nographic -no-reboot -nic none -kernel "$VM_VMLINUZ" \
        -initrd "$root.cpio" -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off" "$@" \
        </dev/null 2>&1 | tr -d '\r' >"$log" || true
    cat "$log"
    echo "virtual machine: $(( $(date +%s) - start )) s"
    grep -qx 'PAVRO_VM_RESULT=0' "$log"
}
