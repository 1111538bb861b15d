#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# abi.sh check|update LIBRARY MEMBERS_OBJECT
#
# The exported interface of libsdsmart.so.1 against the baseline in abi/.
# The interface is the documented class members (the symbols the host-side
# object tests/abi/members.o needs from the library) and the C interface (every
# unmangled symbol the library exports). Internal helpers are exported as well
# but are nobody's interface, so abi/symbols.list restricts both abidw and
# abidiff to the interface. Paths and locations are left out, so the baseline
# does not depend on where the tree was built.
#   check:  fails when abidiff finds an incompatible change (a removed or
#           changed symbol, a changed type layout); additions are fine.
#   update: rewrites abi/symbols.list and abi/libsdsmart.so.1.abi.
set -euo pipefail
mode=$1 lib=$2 members=$3
here=$(cd "$(dirname "$0")/.." && pwd)
list=$here/abi/symbols.list
baseline=$here/abi/libsdsmart.so.1.abi
abidw_flags=(--no-corpus-path --no-comp-dir-path --no-show-locs
  --no-elf-needed --drop-undefined-syms --type-id-style hash)

symbols() {
  local runtime exported
  exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u)
  {
    nm -u "$members" | awk '{print $NF}' | sed 's/@.*//' | sort -u | comm -12 - <(echo "$exported")
    echo "$exported" | grep -v -E '^(_Z|__|_init$|_fini$|_edata$|_end$)'
  } | sort -u
}

case $mode in
update)
  mkdir -p "$here/abi"
  { echo "[abi_whitelist]"; symbols | sed 's/^/  /'; } >"$list"
  abidw "${abidw_flags[@]}" --kmi-whitelist "$list" --out-file "$baseline" "$lib"
  # Translation units are named by their source path: keep it relative.
  sed -i "s|path='$here/|path='|g" "$baseline"
  echo "abi: $(grep -c '^  ' "$list") interface symbols recorded in ${baseline#"$here"/}"
  ;;
check)
  status=0
  abidiff --no-added-syms --kmi-whitelist "$list" "$baseline" "$lib" || status=$?
  # Bit 1 (value 1): abidiff itself failed; bit 2 (2): usage error; bit 3 (4):
  # the interface changed; bit 4 (8): the change is incompatible. With added
  # symbols ignored, any remaining change alters what hosts already use.
  if ((status & 3)); then
    echo "abi: abidiff failed ($status)" >&2
    exit 1
  fi
  if ((status & 12)); then
    echo "abi: the exported interface changed incompatibly; if that is intended, run make abi-update" >&2
    exit 1
  fi
  echo "abi: the exported interface matches ${baseline#"$here"/}"
  ;;
*)
  echo "usage: $0 check|update LIBRARY MEMBERS_OBJECT" >&2
  exit 2
  ;;
esac
