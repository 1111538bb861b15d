#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tool on Linux's own drivers: boots Debian's kernel in QEMU (software
# emulation) with a removable USB disk behind xHCI, an SD card on an SDHCI
# host and a virtio disk, runs guest_init.sh as the guest's /init and then
# compares every disk image with its copy from before the boot.
#
#   vm_test.sh SDSMART CONFIG WORKDIR KERNELDIR
#
# KERNELDIR holds Debian's kernel unpacked, not installed (boot/vmlinuz-R and
# lib/modules/R: scripts/install-deps.sh --kernel, run by make test).
# Exit 77 (skipped) when QEMU, the unpacked kernel, a static busybox, sfdisk
# or cpio are missing.
# SDSMART_VM_TIMEOUT (seconds, default 480) bounds the guest's run: software
# emulation on a busy machine takes minutes to boot (62 s idle, over 150 s
# under a load of 13 on 2 CPUs), and ctest stops the test at 600 s.
set -euo pipefail

tool=$1 config=$2 work=$3 kernels=$4
here=$(cd "$(dirname "$0")" && pwd)
limit=${SDSMART_VM_TIMEOUT:-480}
modules_wanted="xhci_pci usb_storage sd_mod sdhci_pci mmc_block virtio_pci virtio_blk"

skip() {
  echo "kernel test skipped: $*"
  exit 77
}

qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 is not installed"
for program in busybox sfdisk mkfs.vfat cpio timeout; do
  command -v "$program" >/dev/null || skip "$program is not installed"
done
[ "$(uname -m)" = x86_64 ] || skip "the guest's tool is built for x86_64 only"
kernel="" release=""
while read -r candidate; do
  r=${candidate#"$kernels"/boot/vmlinuz-}
  if [ -r "$candidate" ] && [ -f "$kernels/lib/modules/$r/modules.dep" ]; then
    kernel=$candidate release=$r
  fi
done < <(printf '%s\n' "$kernels"/boot/vmlinuz-* | sort -V)
[ -n "$kernel" ] ||
  skip "no kernel unpacked in $kernels (scripts/install-deps.sh --kernel $kernels unpacks linux-image-amd64's)"
moddir=$kernels/lib/modules/$release

rm -rf "$work"
mkdir -p "$work/root"/{bin,etc/sdsmart,modules,proc,sys,dev,tmp}
root=$work/root

# Disk images with partition tables made by sfdisk; the guest tells the two
# USB disks apart by their sizes, handed over on the kernel command line.
# QEMU wants an SD card of a power-of-two size.
make_image() { # FILE SIZE LAYOUT
  truncate -s "$2" "$1"
  printf '%s\n' "$3" | sfdisk --quiet "$1" >/dev/null
  cp "$1" "$1.before"
}
make_image "$work/usb.img" 8M 'label: dos
label-id: 0x5d5a0001
start=2048, size=8192, type=c
type=83'
make_image "$work/usb-kill.img" 12M 'label: dos
label-id: 0x5d5a0002
start=2048, type=6'
# The kill disk carries a FAT16 file system, from which the rebuild check
# finds its partition again.
mkfs.vfat -F 16 --offset 2048 "$work/usb-kill.img" 11264 >/dev/null
cp "$work/usb-kill.img" "$work/usb-kill.img.before"
make_image "$work/sd.img" 16M 'label: dos
label-id: 0x5d5a0003
start=8192, type=c'
make_image "$work/virtio.img" 4M 'label: gpt
type=L'

# Each module after the ones it needs; modules.dep lists a module's whole
# chain of dependencies, the ones loaded last first.
declare -A seen=()
add_module() { # PATH relative to moddir
  local path=$1 name
  [ -n "${seen[$path]:-}" ] && return
  seen[$path]=1
  name=$(basename "$path")
  case $name in
    *.ko.xz) xz -dc "$moddir/$path" >"$root/modules/${name%.xz}" ;;
    *.ko.zst) zstd -qdc "$moddir/$path" >"$root/modules/${name%.zst}" ;;
    *.ko.gz) gzip -dc "$moddir/$path" >"$root/modules/${name%.gz}" ;;
    *) cp "$moddir/$path" "$root/modules/$name" ;;
  esac
  echo "${name%.ko*}.ko" >>"$root/modules/order"
}
for module in $modules_wanted; do
  line=$(awk -F: -v want="$module" '{ n = $1; sub(/.*\//, "", n); sub(/\.ko.*/, "", n);
    gsub(/-/, "_", n); if (n == want) { print; exit } }' "$moddir/modules.dep")
  [ -n "$line" ] || skip "module $module is not in $moddir (a kernel without it built in?)"
  read -r -a deps <<<"${line#*:}"
  for ((i = ${#deps[@]} - 1; i >= 0; i--)); do add_module "${deps[i]}"; done
  add_module "${line%%:*}"
done

# Programs with the shared libraries ldd names, at the same paths, without
# their debugging sections (a third of the initramfs to load otherwise).
copy_elf() { # FROM TO
  cp -L "$1" "$2"
  if command -v strip >/dev/null; then strip --strip-debug "$2"; fi
}
add_program() { # FILE NAME-IN-/bin
  local libs lib
  copy_elf "$1" "$root/bin/$2"
  # ldd fails for a static program: it has no libraries to copy
  libs=$(ldd "$1" 2>/dev/null |
    awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }') || true
  for lib in $libs; do
    mkdir -p "$root$(dirname "$lib")"
    copy_elf "$lib" "$root$lib"
  done
}
add_program "$(command -v busybox)" busybox
ln -s busybox "$root/bin/sh"
add_program "$tool" sdsmart
cp "$config" "$root/etc/sdsmart/config"
cp "$here/guest_init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio --quiet -o -H newc) >"$work/initrd.cpio"

# NAME=SECTORS of an image: the kernel hands it to /init as a variable.
sectors() { # NAME IMAGE
  echo "$1=$(($(stat -c %s "$work/$2") / 512))"
}
disk() { # ID FILE [DRIVE OPTIONS]
  echo "-drive if=none,id=$1,file=$2,format=raw${3:+,$3}"
}
sizes="$(sectors usb_sectors usb.img) $(sectors kill_sectors usb-kill.img)"
started=$(date +%s)
echo "booting $kernel with a $(($(stat -c %s "$work/initrd.cpio") / 1048576)) MiB initramfs"
set +e
# shellcheck disable=SC2046
timeout --kill-after=5 "$limit" "$qemu" -machine pc,accel=tcg -smp 1 -m 512 \
  -nodefaults -no-user-config -display none -monitor none -no-reboot \
  -serial "file:$work/console.log" \
  -kernel "$kernel" -initrd "$work/initrd.cpio" \
  -append "console=ttyS0 quiet panic=-1 mitigations=off $sizes" \
  -device qemu-xhci,id=xhci \
  $(disk usb "$work/usb.img") -device usb-storage,bus=xhci.0,drive=usb,removable=on \
  $(disk usbkill "$work/usb-kill.img" throttling.iops-write=10) \
  -device usb-storage,bus=xhci.0,drive=usbkill,removable=on \
  -device sdhci-pci $(disk sd "$work/sd.img") -device sd-card,drive=sd \
  $(disk vd "$work/virtio.img") -device virtio-blk-pci,drive=vd
status=$?
set -e
elapsed=$(($(date +%s) - started))
cat "$work/console.log"
echo "guest ran ${elapsed}s"

failures=0
problem() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
if ! grep -q '^kernel-test: done' "$work/console.log"; then
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    problem "the guest did not answer within ${limit}s (SDSMART_VM_TIMEOUT); its console is above"
  else
    problem "the guest stopped before its checks were done (QEMU exit $status)"
  fi
fi
checks=$(sed -n 's/^CHECKS="\(.*\)"$/\1/p' "$here/guest_init.sh")
for check in $checks; do
  grep -q "^check $check: pass" "$work/console.log" || problem "check $check did not pass"
done
for image in usb sd virtio; do
  cmp "$work/$image.img.before" "$work/$image.img" || problem "$image.img changed"
done
# The kill disk's sector 0 was rebuilt: the same partition table as sfdisk
# wrote (its CHS bytes may be our own), and every other byte as it was.
cmp -i 512 "$work/usb-kill.img.before" "$work/usb-kill.img" || problem "usb-kill.img changed"
table() { sfdisk --dump "$1" | sed "s|$1||g"; } # without the file's name
[ "$(table "$work/usb-kill.img.before")" = "$(table "$work/usb-kill.img")" ] ||
  problem "the rebuilt partition table of usb-kill.img is not the one sfdisk wrote"
if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "kernel test passed: $checks; every image as it was"
