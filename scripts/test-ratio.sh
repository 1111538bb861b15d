#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the size of the tests (tests/ and the host-side declarations in
# abi/host/) against the code they test, counted as
# non-blank, non-comment C and C++ lines of the tracked files:
#   tests: T lines, code: C lines, ratio: R
# The ratio stays at or below 0.35 (aim: a quarter to a third).
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  git ls-files -- "$@" | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' | xargs -r cat |
    grep -c -v -E '^\s*(//.*)?$' || true
}
tests=$(count tests abi/host)
code=$(count src include sim tools)
echo "tests: $tests lines, code: $code lines, ratio: $(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", t / c }')"
