#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every benchmark of a build (BUILD/bench/*_bench, Google Benchmark
# programs) and every bench/*_bench.sh script (given BUILD), then the phases
# of a run of --all (all_cards_phases.py), and ends with the figures they
# printed, one line each, in a fixed order:
#
#   figure: latency-1ms ratio X    acquisition_bench: 65536-VB card, 1 ms a transfer
#   figure: all-8-cards ratio X    all_cards_bench: sdsmart --all over 8 cards at 1 ms
#                                  a transfer against sdsmart on one
#   figure: zero-latency ratio X   acquisition_bench: 65536-VB card answering at once
#
# A figure no benchmark printed is named as missing before the list. The list
# also goes to BUILD/figures.txt with the date, the machine and its load
# average before the runs: docs/performance.md shows figures from there.
set -eu
build=${1:?usage: run_benchmarks.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

load=$(cut -d' ' -f1-3 /proc/loadavg)
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
echo "== $here/all_cards_phases.py"
"$here"/all_cards_phases.py "$build"

figures="latency-1ms all-8-cards zero-latency"
for name in $figures; do
  grep -q "^figure: $name ratio " "$log" || echo "(no benchmark printed the $name figure)"
done
{
  echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  echo "load average before the runs: $load"
  for name in $figures; do
    grep "^figure: $name ratio " "$log" | tail -n 1
  done
} >"$build/figures.txt"
grep '^figure: ' "$build/figures.txt" || true
echo "figures: $build/figures.txt"
