#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check_symbols.sh OBJECT LIBRARY CXX: every symbol the host object needs from
# the library must be in the library's dynamic symbol table. Symbols the C and
# C++ runtime libraries provide are not the library's business.
set -euo pipefail
obj=$1 lib=$2 cxx=$3

runtime=$(mktemp)
trap 'rm -f "$runtime"' EXIT
for so in libstdc++.so.6 libc.so.6 libm.so.6 libgcc_s.so.1; do
  path=$("$cxx" -print-file-name="$so")
  [ -e "$path" ] && nm -D --defined-only "$path" | awk '{print $NF}' | sed 's/@.*//'
done | sort -u >"$runtime"

needed=$(nm -u "$obj" | awk '{print $NF}' | sed 's/@.*//' | sort -u | comm -23 - "$runtime" |
  grep -v -E '^(__asan|__ubsan|__sanitizer|__lsan|_GLOBAL_OFFSET_TABLE_$)' || true)
exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort -u)
missing=$(comm -23 <(echo "$needed") <(echo "$exported"))

# Vtables and type information come with the classes; they must resolve but
# are not members of their own.
members=$(echo "$needed" | grep -v -E '^_ZT[VIS]' | grep -c . || true)
unresolved=$(echo "$missing" | grep -v -E '^_ZT[VIS]' | grep -c . || true)
echo "documented members: $members referenced, $((members - unresolved)) resolved"
if [ -n "$missing" ]; then
  echo "not exported by $(basename "$lib"):"
  echo "$missing" | c++filt | sed 's/^/  /'
  exit 1
fi
