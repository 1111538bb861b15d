#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang and runs each for FUZZ_SECONDS (default
# 60) over its checked-in seeds. New corpus entries go to BUILD/corpus/<target>,
# crashes, leaks and hangs to BUILD/findings/<target>/. Exits non-zero when
# any target found something; every target runs either way.
#
#   fuzz/run_fuzzers.sh [BUILD]        (make fuzz runs it with BUILD=build-fuzz)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-2}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$build" -j "$jobs" || exit 1

failed=""
for fuzzer in "$build"/*_fuzzer; do
  target=$(basename "$fuzzer" _fuzzer)
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  echo "== $target: $seconds s"
  # -timeout: one input running 10 s is a hang; -rss_limit_mb: a run that
  # needs 2 GiB is a finding too.
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$target/" \
    "$build/corpus/$target" "$here/corpus/$target" >"$build/$target.log" 2>&1
  status=$?
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^SUMMARY|^fuzz check|Test unit written' \
    "$build/$target.log"
  if [ $status -ne 0 ]; then
    failed="$failed $target"
    echo "   $target FAILED (log: $build/$target.log)"
  fi
done
if [ -n "$failed" ]; then
  echo "fuzz findings in:$failed (inputs in $build/findings/)"
  exit 1
fi
echo "fuzz: no findings"
