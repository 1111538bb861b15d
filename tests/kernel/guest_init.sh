#!/bin/sh
# SPDX-License-Identifier: MIT
# /init of the kernel test's virtual machine (busybox sh). Loads the drivers,
# runs the checks named in CHECKS on the real USB-storage, SDHCI and virtio
# drivers, prints one "check NAME: pass" or "check NAME: FAIL: why" line for
# each and "kernel-test: done" at the end, and powers off. The host compares
# the disk images afterwards.
#
# A check is a function check_NAME that calls `fail` for what went wrong; to
# add one, write the function and put its name in CHECKS (before
# kernel_log, which looks at everything the others did).
CHECKS="scan read_usb never_sd read_sd guard kill_usb rebuild_usb kernel_log"

/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# /tmp is the initramfs's own (writable) folder, not a tmpfs over it: the
# tool's libraries may lie under /tmp, where the build tree lies.
mkdir -p /var/lib/sdsmart
# Leaks are the suite's business on the host; here they would only cost time.
export ASAN_OPTIONS=detect_leaks=0

say() { echo "kernel-test: $*"; }

finish() {
  say "done"
  sync
  poweroff -f
}

# The drivers, dependencies first (the host wrote the order). usb-storage
# waits a second for a new disk to settle unless told not to.
while read -r module; do
  params=""
  [ "$module" = usb-storage.ko ] && params="delay_use=0"
  insmod "/modules/$module" $params || say "insmod $module failed"
done </modules/order

# The USB disks are told apart by their sizes in sectors, from the kernel
# command line (usb_sectors, kill_sectors).
disk_of_size() {
  for entry in /sys/class/block/*; do
    [ -e "$entry/partition" ] && continue
    [ "$(cat "$entry/size" 2>/dev/null)" = "$1" ] && basename "$entry" && return 0
  done
  return 1
}

tries=0
# shellcheck disable=SC2154 # both come from the kernel command line
until USB_READ=$(disk_of_size "$usb_sectors") && USB_KILL=$(disk_of_size "$kill_sectors") &&
  [ -e /sys/class/block/mmcblk0p1 ] && [ -e /sys/class/block/vda1 ] &&
  [ -e "/sys/class/block/${USB_READ}1" ] && [ -e "/sys/class/block/${USB_KILL}1" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then
    say "the disks did not appear: $(echo /sys/class/block/*)"
    finish
  fi
  sleep 0.1
done
say "disks: usb $USB_READ, usb (kill) $USB_KILL, sd mmcblk0, virtio vda"

current=""
failed=0
fail() {
  echo "check $current: FAIL: $*"
  failed=1
}

# run CMD...: the command's output in /tmp/out (also shown), its status in rc;
# a sanitizer's report fails the check.
run() {
  "$@" >/tmp/out 2>&1
  rc=$?
  echo "\$ $* (exit $rc)"
  sanitizer_quiet /tmp/out "$1"
}

sanitizer_quiet() { # OUTPUT PROGRAM
  sed 's/^/  | /' "$1"
  if grep -q -e "Sanitizer" -e "runtime error:" "$1"; then
    fail "$2 reported a memory or undefined-behaviour error"
  fi
}

# Sector 0 as the card holds it. The tool writes around the page cache
# (SG_IO, MMC ioctl), so the cache may still hold what the partition scan
# read; it is dropped first (busybox dd cannot help: for a buffer that is not
# aligned it quietly turns iflag=direct into a cached read).
sector0() {
  blockdev --flushbufs "$1" && dd if="$1" of="$2" bs=512 count=1 2>/dev/null
}

# The data writes the SD host was asked for, as the MMC core traces each
# request it starts (data_flags bit 8: MMC_DATA_WRITE). The tool's transfers
# are MMC ioctls, which the block layer's count of sectors written (its
# stat) leaves out: it stays 0 while a run writes the enter pattern.
trace=/sys/kernel/tracing
if ! { mount -t tracefs tracefs $trace &&
  echo "data_flags & 256" >$trace/events/mmc/mmc_request_start/filter &&
  echo 1 >$trace/events/mmc/mmc_request_start/enable; }; then
  say "the MMC core's requests cannot be traced"
fi

# sd_writes: how many were traced since the last call.
sd_writes() {
  grep -c "mmc_request_start:" $trace/trace
  : >$trace/trace
}

# no_sd_writes WHEN: fails when any was traced since the last sd_writes.
no_sd_writes() {
  writes=$(sd_writes)
  [ "$writes" = 0 ] || fail "${writes:-an unknown number of} data writes went to the SD card $1"
}

no_journal_left() {
  if ls /var/lib/sdsmart/sector0-* >/dev/null 2>&1; then
    fail "a sector-0 journal was left: $(ls /var/lib/sdsmart)"
  fi
}

check_scan() {
  run sdsmart --scan
  for disk in "$USB_READ" "$USB_KILL" mmcblk0; do
    grep -q -w "/dev/$disk" /tmp/out || fail "/dev/$disk is not listed"
  done
  if grep -q -e "/dev/vda" -e "/dev/${USB_READ}1" -e "/dev/mmcblk0p" /tmp/out; then
    fail "the virtio disk or a partition is listed"
  fi
}

# A card of another family takes the enter pattern as data and answers no
# SMART header: the tool says so and puts sector 0 back, on two runs.
read_foreign() {
  sector0 "$1" /tmp/before
  for attempt in 1 2; do
    run sdsmart "$1"
    [ "$rc" -ne 0 ] || fail "exit status 0 for a card of another family"
    grep -q "answered no SMART header" /tmp/out || fail "run $attempt: not refused as a card of another family"
    # A skip quotes the same words; here each run has to try the card.
    grep -q "not supported (remembered since" /tmp/out && fail "run $attempt skipped the card as remembered"
    sector0 "$1" /tmp/after
    cmp -s /tmp/before /tmp/after || fail "sector 0 of $1 differs after run $attempt"
    no_journal_left
  done
}

check_read_usb() { read_foreign "/dev/$USB_READ"; }

# The SD card's registers in the JSON document in /tmp/out: each one the
# kernel shows, as it shows it.
registers_as_kernel() {
  for register in cid csd scr ssr; do
    file=/sys/class/block/mmcblk0/device/$register
    [ -e "$file" ] || continue
    grep -q "\"$register\": \"$(cat "$file")\"" /tmp/out || fail "$register is not the kernel's"
  done
}

# untouched_reading SAYS WHEN: a run on the SD card that has to be its
# registers reading, saying SAYS, with nothing written to the card.
untouched_reading() {
  sector0 /dev/mmcblk0 /tmp/before
  sd_writes >/dev/null
  run sdsmart --json /dev/mmcblk0
  grep -q "$1" /tmp/out || fail "no \"$1\" $2"
  grep -q '"health_source": "registers"' /tmp/out || fail "not a registers reading $2"
  registers_as_kernel
  no_sd_writes "$2"
  sector0 /dev/mmcblk0 /tmp/after
  cmp -s /tmp/before /tmp/after || fail "sector 0 of /dev/mmcblk0 changed $2"
}

# A model the operator lists as never to be written (the default rules file,
# naming the card as sysfs does) gets the registers reading on its very first
# run: nothing written, and no run counted towards "not supported" (read_sd,
# after this check, needs two runs that try the card).
check_never_sd() {
  rules=/etc/sdsmart/cards.conf
  device=/sys/class/block/mmcblk0/device
  echo "manfid=$(cat $device/manfid) oemid=$(cat $device/oemid) name=$(cat $device/name) path=never" >$rules
  remembered=$(ls /var/lib/sdsmart/unsupported-* 2>/dev/null)
  untouched_reading "is of a model never to be written ($rules line 1)" "on its first run"
  [ "$(ls /var/lib/sdsmart/unsupported-* 2>/dev/null)" = "$remembered" ] ||
    fail "the run was noted as one of a card not supported: $(ls /var/lib/sdsmart)"
  no_journal_left
  rm -f $rules
}

# The SD card's CID (in sysfs) tells it from any clone, so after two runs
# without a header it is remembered and a third run writes nothing.
# That run shows the card by what sysfs holds.
check_read_sd() {
  sd_writes >/dev/null
  read_foreign /dev/mmcblk0
  # The trace has to see the enter pattern for a count of 0 to mean much.
  [ "$(sd_writes)" -gt 0 ] 2>/dev/null || fail "the enter pattern was not traced as a write"
  untouched_reading "not supported (remembered since" "on the third run"
}

check_guard() {
  for node in /dev/vda "/dev/${USB_READ}1" /dev/mmcblk0p1; do
    run sdsmart "$node"
    [ "$rc" -ne 0 ] || fail "exit status 0 for $node"
    grep -q "$node is not an SD card" /tmp/out || fail "$node not refused by the device guard"
  done
}

# Killed while sector 0 holds a pattern. A kill lands between two transfers
# (an SG_IO in flight completes first), and the tool's own state tells when
# the transfer in flight leaves a pattern: once its journal is on disk,
# every transfer up to the restoring write does (enter, leave, enter, header
# read, leave). The kill disk takes 10 writes a second (the host throttles
# it, like a slow reader), so the poll below finds the tool inside one of
# them. Polling sector 0 itself would race: one poll takes longer than a
# transfer under emulation, and a pattern seen in the last leave is gone by
# the time the kill lands after the restoring write.
#
# kill_in_window DEV: starts a reading of DEV and kills it inside the write
# window; rc is 137 when the kill, not the tool's end, stopped it.
kill_in_window() {
  journal="/var/lib/sdsmart/sector0-dev_${1#/dev/}.journal"
  sdsmart "$1" >/tmp/killed 2>&1 &
  pid=$!
  polls=0 syscall="" state=""
  read -r now _ </proc/uptime
  until=$((${now%.*} + 30))
  while read -r state </proc/$pid/stat 2>/dev/null; do
    polls=$((polls + 1))
    case $state in *") Z "*) break ;; esac
    read -r now _ </proc/uptime
    [ "${now%.*}" -lt "$until" ] || break
    [ -e "$journal" ] || continue
    read -r syscall </proc/$pid/syscall 2>/dev/null || continue
    # ioctl (16) with request SG_IO (0x2285)
    case $syscall in "16 "*" 0x2285 "*) break ;; esac
  done
  kill -9 "$pid"
  wait "$pid"
  rc=$?
  sanitizer_quiet /tmp/killed sdsmart
}

check_kill_usb() {
  dev="/dev/$USB_KILL"
  sector0 "$dev" /tmp/orig
  kill_in_window "$dev"
  [ "$rc" -eq 137 ] || fail "the tool ended before the kill (exit $rc, $polls polls, $syscall)"
  sector0 "$dev" /tmp/now
  grep -q SDSMTEST /tmp/now || fail "no command pattern in sector 0 after the kill"
  saved=$(sed -n 's/^sector0 //p' "$journal" 2>/dev/null | tr 'A-F' 'a-f')
  [ "$saved" = "$(od -An -v -tx1 /tmp/orig | tr -d ' \n')" ] ||
    fail "the journal $journal does not hold the original sector 0"
  run sdsmart --restore-sector0 "$dev"
  [ "$rc" -eq 0 ] || fail "--restore-sector0 failed"
  sector0 "$dev" /tmp/now
  cmp -s /tmp/now /tmp/orig || fail "sector 0 is not the original after --restore-sector0"
  no_journal_left
}

# fields DEV: the disk identifier and, for each of the four partition
# entries, its boot flag, type, start and length, as hex.
fields() {
  for at in 440:4 446:1 450:1 454:8 462:1 466:1 470:8 478:1 482:1 486:8 494:1 498:1 502:8; do
    dd if="$1" bs=1 skip="${at%:*}" count="${at#*:}" 2>/dev/null | od -An -v -tx1
  done | tr -d ' \n'
}

# A run killed in the window again, its journal lost: --rebuild-sector0
# finds the FAT16 partition on the card and writes back a sector 0 with the
# partition and the disk identifier the original had.
check_rebuild_usb() {
  dev="/dev/$USB_KILL"
  sector0 "$dev" /tmp/orig
  kill_in_window "$dev"
  [ "$rc" -eq 137 ] || fail "the tool ended before the kill (exit $rc)"
  rm -f "$journal"
  run sdsmart --rebuild-sector0 --force --disk-id 5d5a0002 "$dev"
  [ "$rc" -eq 0 ] || fail "--rebuild-sector0 failed (exit $rc)"
  sector0 "$dev" /tmp/now
  [ "$(fields /tmp/now)" = "$(fields /tmp/orig)" ] ||
    fail "rebuilt entries $(fields /tmp/now), original $(fields /tmp/orig)"
  no_journal_left
}

# The drivers saw no I/O error, and no partition table was read again after
# the probe at boot (one " sdX: sdX1" line per disk).
check_kernel_log() {
  dmesg >/tmp/dmesg
  grep -i -e "I/O error" -e "critical medium error" -e "blk_update_request" \
    -e "Buffer I/O" -e "mmcblk0: error" -e "timed out" /tmp/dmesg >/tmp/errors
  [ -s /tmp/errors ] && fail "kernel errors: $(cat /tmp/errors)"
  for disk in "$USB_READ" "$USB_KILL" mmcblk0 vda; do
    scans=$(grep -c "]  $disk: " /tmp/dmesg)
    [ "$scans" -eq 1 ] || fail "the partitions of $disk were read $scans times"
  done
  say "kernel log of the disks:"
  grep -e " sd[a-z]" -e mmc -e vda -e usb-storage -e error /tmp/dmesg | sed 's/^/  | /'
}

for name in $CHECKS; do
  current=$name
  failed=0
  say "running $name at $(cut -d' ' -f1 /proc/uptime)s"
  "check_$name"
  [ "$failed" -eq 0 ] && echo "check $name: pass"
done
finish
