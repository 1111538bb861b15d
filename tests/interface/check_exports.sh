#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the dynamic symbol table of the shared library against the C part of
# the recorded interface (the unmangled names of abi/symbols.list): every
# entry point and session variable under its own C name and none of them
# twice with C++ linkage; the two reference-taking functions under their C++
# names only.
# Usage: check_exports.sh path/to/libsdsmart.so path/to/abi/symbols.list
set -u
lib=${1:?usage: check_exports.sh libsdsmart.so symbols.list}
list=${2:?usage: check_exports.sh libsdsmart.so symbols.list}
nm=${NM:-nm}
table=$("$nm" -D --defined-only "$lib" | awk '{ print $NF }') || { echo "cannot read symbols of $lib"; exit 1; }
failed=0
has() { printf '%s\n' "$table" | grep -qx -- "$1"; }

names=$(awk 'NR > 1 && $1 !~ /^_Z/ { print $1 }' "$list")
[ -n "$names" ] || { echo "no C names in $list"; exit 1; }
for name in $names; do
  has "$name" || { echo "missing: $name"; failed=1; }
  # A C name exported with C++ linkage would carry its length-prefixed name
  # after _Z; make sure no such twin exists.
  if printf '%s\n' "$table" | grep -q "^_Z${#name}${name}"; then
    echo "C++ linkage for $name"
    failed=1
  fi
done

# int GetDetailEraseCount(char*, unsigned int, unsigned int&) and the read twin.
for name in _Z19GetDetailEraseCountPcjRj _Z18GetDetailReadCountPcjRj; do
  has "$name" || { echo "missing: $name"; failed=1; }
done
for name in GetDetailEraseCount GetDetailReadCount; do
  has "$name" && { echo "must not be exported with C linkage: $name"; failed=1; }
done

if [ "$failed" -ne 0 ]; then
  echo "exported symbol check FAILED for $lib"
  exit 1
fi
echo "all $(echo "$names" | wc -l) C interface symbols exported as expected"
