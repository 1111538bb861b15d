#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts the licence line at the top of every tracked source file (after a
# shebang), or with --check lists the files without it and fails.
# Usage: scripts/spdx.sh [--check] [SOURCE_DIR]
# Source files: C and C++, shell, Python, CMake and the Makefile; data (JSON,
# YAML, corpora, golden files) and documents carry none.
set -euo pipefail
check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
cd "${1:-$(dirname "$0")/..}"
git rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
  { echo "not a git checkout: skipped"; exit 77; }
tag='SPDX-License-Identifier: MIT'

# The comment leader of a source file, or nothing when it is not one.
leader() {
  case "$1" in
    *.c | *.h | *.cc | *.cpp | *.hpp) echo '//' ;;
    *.sh | *.py | *.cmake | *.cmake.in | */CMakeLists.txt | CMakeLists.txt | Makefile) echo '#' ;;
    *) head -n 1 -- "$1" | grep -qE '^#!.*(sh|bash|python3?)( |$)' && echo '#' ;;
  esac
  return 0
}

missing=0
while IFS= read -r -d '' f; do
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  mark=$(leader "$f")
  [ -n "$mark" ] || continue
  line="$mark $tag"
  first=$(head -n 1 -- "$f")
  # The line belongs first, or second after a shebang.
  if [ "${first#\#!}" != "$first" ]; then
    [ "$(sed -n 2p -- "$f")" = "$line" ] && continue
    pos=2
  else
    [ "$first" = "$line" ] && continue
    pos=1
  fi
  if [ "$check" -eq 1 ]; then
    echo "no '$line' at line $pos: $f"
    missing=1
    continue
  fi
  tmp=$(mktemp "$f.XXXXXX")
  if [ "$pos" -eq 2 ]; then
    { printf '%s\n%s\n' "$first" "$line"; tail -n +2 -- "$f"; } >"$tmp"
  else
    { printf '%s\n' "$line"; cat -- "$f"; } >"$tmp"
  fi
  chmod --reference="$f" "$tmp"
  mv -- "$tmp" "$f"
done < <(git ls-files -z)
exit "$missing"
