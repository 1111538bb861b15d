#!/bin/sh
# SPDX-License-Identifier: MIT
# The JSON documents of the built tool, on virtual cards, validate against the
# schemas as `cmake --install` lays them out under share/sdsmart.
# Usage: json_schema_test.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -eu
build=$1 src=$2 work=$3
python=/usr/bin/python3 # Debian's, which python3-jsonschema serves
[ -x "$python" ] || { echo "no $python: skipped"; exit 77; }

rm -rf "$work" && mkdir -p "$work/state"
cmake --install "$build" --prefix "$work/prefix" --component tools >/dev/null
schemas="$work/prefix/share/sdsmart"

sim=$build/bin/sdsim
sdsmart=$build/bin/sdsmart
config=$build/demo/config

# A new card that reports no rated endurance: life 0 / 0 is null, verdict WARNING.
"$python" - "$src/sim/cards/usb.json" "$work/unrated-card.json" <<'PY'
import json, sys
card = json.load(open(sys.argv[1]))
card["node"] = "/dev/sdy"
card["header"]["PECycleCount"] = 0
card["erase_counts"] = [0, 0, 0, 0]
json.dump(card, open(sys.argv[2], "w"))
PY

run() { # run NAME EXPECTED_STATUS COMMAND...
  name=$1 expected=$2
  shift 2
  status=0
  "$@" >"$work/$name.json" 2>"$work/$name.err" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "$name: exit status $status, expected $expected"
    cat "$work/$name.err"
    exit 1
  fi
}
cards=$src/sim/cards
run usb 0 "$sim" --card "$cards/usb.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json /dev/sdx
run native 16 "$sim" --card "$cards/native.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json --select 7 /dev/mmcblk7
run sdsc 0 "$sim" --card "$cards/native_sdsc.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json /dev/mmcblk6
run unrated 16 "$sim" --card "$work/unrated-card.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json /dev/sdy
run failed 4 "$sim" --fail 3 --card "$cards/usb.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json /dev/sdx
run usage 1 "$sdsmart" --json
run all 16 "$sim" --card "$cards/usb.json" --card "$cards/native.json" \
  --card "$cards/native_sdsc.json" -- "$sdsmart" --config "$config" --state-dir "$work/state" \
  --json --all /dev/sdx /dev/mmcblk7 /dev/mmcblk6
run scan 2 "$sim" --card "$cards/usb.json" --card "$cards/native.json" -- \
  "$sdsmart" --scan --json /dev/sdx "$work/no-such-node"

run header 0 "$sim" --card "$cards/usb.json" -- "$sdsmart" --config "$config" \
  --state-dir "$work/state" --json --select 0 /dev/sdx

documents="card=$work/usb.json card=$work/native.json card=$work/sdsc.json \
  card=$work/unrated.json card=$work/failed.json card=$work/usage.json card=$work/header.json \
  scan=$work/scan.json all=$work/all.json"
# shellcheck disable=SC2086 # one word a document
"$python" "$src/tests/packaging/validate_json.py" "$schemas" $documents
# The machine's default python3 may carry a current jsonschema release too.
if python3 -c 'import jsonschema' 2>/dev/null; then
  # shellcheck disable=SC2086
  python3 "$src/tests/packaging/validate_json.py" "$schemas" $documents
else
  echo "the default python3 has no jsonschema: the current release was not tried"
fi
