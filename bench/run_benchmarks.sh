#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every benchmark of a build (BUILD/bench/*_bench, Google Benchmark
# programs) and every bench/*_bench.sh script (given BUILD), then ends with
# the figures they printed, one line each, in a fixed order:
#
#   figure: latency-1ms ratio X    acquisition_bench: 65536-VB card, 1 ms a transfer
#   figure: all-8-cards ratio X    the `sdsmart --all` benchmark: 8 cards at 1 ms a
#                                  transfer against one card (a bench/*_bench.sh or
#                                  *_bench program printing that line; comes with --all)
#   figure: zero-latency ratio X   acquisition_bench: 65536-VB card answering at once
#
# A figure no benchmark printed is named as missing before the list.
set -eu
build=${1:?usage: run_benchmarks.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

echo "machine load: $(uptime)"
for bench in "$build"/bench/*_bench "$here"/*_bench.sh; do
  [ -x "$bench" ] || continue
  echo "== $bench"
  case "$bench" in
  *.sh) "$bench" "$build" >"$log.part" ;;
  *) "$bench" >"$log.part" ;;
  esac || { cat "$log.part"; rm -f "$log.part"; exit 1; }
  cat "$log.part"
  cat "$log.part" >>"$log"
  rm -f "$log.part"
done

figures="latency-1ms all-8-cards zero-latency"
for name in $figures; do
  grep -q "^figure: $name ratio " "$log" || echo "(no benchmark printed the $name figure)"
done
for name in $figures; do
  grep "^figure: $name ratio " "$log" | tail -n 1
done
