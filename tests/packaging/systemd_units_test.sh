#!/bin/sh
# SPDX-License-Identifier: MIT
# systemd-analyze verify finds nothing to say about the units, with the
# service's ExecStart pointing at the built tool (verify wants it to exist);
# the service's exposure (systemd-analyze security) stays below 4; a run
# has a start timeout that ends it before the timer's next start (45 minutes
# at the earliest); and the drop-in of contrib/README.md that gives an
# --on-change hook the network verifies and does give it.
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

# TimeoutStartSec, in microseconds, set and shorter than 45 minutes.
limit=$(sed -n 's/^TimeoutStartSec=//p' "$work/sdsmart-textfile.service")
[ -n "$limit" ] || { echo "the service has no TimeoutStartSec"; exit 1; }
us=$(systemd-analyze timespan "$limit" | sed -n '2s/^.*: //p') # the line of microseconds
[ -n "$us" ] && [ "$us" -gt 0 ] && [ "$us" -lt 2700000000 ] ||
  { echo "TimeoutStartSec=$limit does not end a run before the next one"; exit 1; }

# The README's drop-in (its ini block), next to the unit where verify finds it.
mkdir -p "$work/sdsmart-textfile.service.d"
sed -n '/^```ini$/,/^```$/{/^```/d;p}' "$src/contrib/README.md" \
  >"$work/sdsmart-textfile.service.d/on-change.conf"
grep -q '^PrivateNetwork=no$' "$work/sdsmart-textfile.service.d/on-change.conf" ||
  { echo "no network drop-in in contrib/README.md"; exit 1; }
# The man page shows the same drop-in (its one .RS block, with roff's \-).
sed -n '/^\.RS$/,/^\.RE$/{/^\.R[SE]$/d;p}' "$src/man/sdsmart.1" | sed 's/\\-/-/g' |
  cmp -s - "$work/sdsmart-textfile.service.d/on-change.conf" ||
  { echo "the drop-in of sdsmart(1) is not the one of contrib/README.md"; exit 1; }
out=$(systemd-analyze verify --man=no "$work/sdsmart-textfile.service" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; }
out=$(cd "$work" && systemd-analyze security --offline=yes --no-pager ./sdsmart-textfile.service 2>&1) || true
for lifted in "has access to the host's network" "may allocate Internet sockets" \
  "does not define an IP address allow list"; do
  echo "$out" | grep -q "$lifted" || { echo "with the README's drop-in, systemd-analyze security does not say: $lifted"; exit 1; }
done
