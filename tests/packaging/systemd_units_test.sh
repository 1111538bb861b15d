#!/bin/sh
# SPDX-License-Identifier: MIT
# systemd-analyze verify finds nothing to say about the units, with the
# service's ExecStart pointing at the built tool (verify wants it to exist),
# and the service's exposure (systemd-analyze security) stays below 4.
# Usage: systemd_units_test.sh BUILD_DIR SOURCE_DIR INSTALL_BINDIR WORK_DIR
set -eu
build=$1 src=$2 bindir=$3 work=$4
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed: skipped"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
sed "s|^ExecStart=$bindir/sdsmart |ExecStart=$build/bin/sdsmart |" \
  "$build/contrib/sdsmart-textfile.service" >"$work/sdsmart-textfile.service"
grep -q "^ExecStart=$build/bin/sdsmart --all " "$work/sdsmart-textfile.service" ||
  { echo "no ExecStart of $bindir/sdsmart --all in the service"; exit 1; }
cp "$src/contrib/systemd/sdsmart-textfile.timer" "$work/"
status=0
out=$(systemd-analyze verify --man=no "$work/sdsmart-textfile.service" \
  "$work/sdsmart-textfile.timer" 2>&1) || status=$?
echo "$out"
[ "$status" -eq 0 ] && [ -z "$out" ] || exit 1
# The threshold counts tenths of the printed exposure.
status=0
out=$(cd "$work" && systemd-analyze security --offline=yes --threshold=39 --no-pager \
  ./sdsmart-textfile.service 2>&1) || status=$?
echo "$out" | tail -n 1
[ "$status" -eq 0 ] || { echo "$out"; exit 1; }
