#!/bin/sh
# SPDX-License-Identifier: MIT
# make demo: read the bundled virtual card with the bundled configuration and
# print the full report. Usage: demo/run.sh BUILD_DIR
set -u
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
card="$here/sim/cards/usb.json"
for f in "$build/bin/sdsmart" "$build/bin/sdsim" "$build/demo/config"; do
  if [ ! -e "$f" ]; then
    echo "demo: $f is missing; run 'make' first" >&2
    exit 1
  fi
done
# The card's device node as the virtual card presents it.
node=$(sed -n 's/^[[:space:]]*"node"[[:space:]]*:[[:space:]]*"\([^"]*\)".*/\1/p' "$card" | head -n 1)
[ -n "$node" ] || { echo "demo: no node in $card" >&2; exit 1; }
state="$build/demo/state"
mkdir -p "$state"

echo "\$ sdsim --card sim/cards/usb.json -- sdsmart --config $build/demo/config $node"
echo
"$build/bin/sdsim" --card "$card" -- \
  "$build/bin/sdsmart" --config "$build/demo/config" --state-dir "$state" "$node"
rc=$?
echo
case $rc in
  0) echo "exit status 0: health PASSED" ;;
  8) echo "exit status 8 (bit 3): health FAILED" ;;
  16) echo "exit status 16 (bit 4): health WARNING; the reasons are listed under Health" ;;
  *) echo "exit status $rc: the demo did not work (see the messages above)" >&2; exit 1 ;;
esac
echo "More: sdsmart --help, man man/sdsmart.1, and --json / --prometheus / -H on the same card."
