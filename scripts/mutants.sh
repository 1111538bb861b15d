#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Mutation sample: applies each mutant of scripts/mutants.txt, one at a time, to
# a scratch copy of the tree, rebuilds one plain (-O0, no sanitizer) build
# incrementally and runs the suite; a failing suite kills the mutant.
#
#   scripts/mutants.sh [--tests DIR | --tests-rev REV] [--list FILE] [--work DIR]
#                      [--exclude REGEX] [--only N,M,...]
#
#   --tests DIR      use DIR as tests/ (default: this tree's tests/)
#   --tests-rev REV  use tests/ as of git revision REV (to measure an older suite
#                    against the same sources)
#   --work DIR       scratch copy and build (default: $TMPDIR/sdsmart-mutants)
#   --exclude REGEX  ctest -E (default: the install test, which only builds a
#                    consumer against the installed tree)
#   --only LIST      run only these mutant numbers (1-based)
#   --timeout S      ctest's limit per test (default 300 s: the crash sweeps take
#                    over 120 s on two busy CPUs; a test that runs out counts as
#                    failing, so a larger limit never adds kills)
#   --no-baseline    skip the run of the unmutated suite (when it just passed)
#
# Prints one line per mutant and a summary; a mutant whose build fails is
# counted apart, not as killed. So is one that compiles but fails the build's
# own check: the build scrambles the demo configuration with the fresh tool,
# which reads back what it wrote (BUILD-CHECK: caught, but not by the suite).
# The summary also goes to WORK/mutants-figures.txt with the date, the machine
# and which tests/ ran: the figures docs/reliability.md shows come from there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/scripts/mutants.txt
work=${TMPDIR:-/tmp}/sdsmart-mutants
tests=""
tests_rev=""
exclude='Install\.'
only=""
timeout=300
baseline=1
while [ $# -gt 0 ]; do
  case $1 in
  --tests) tests=$(cd "$2" && pwd); shift 2 ;;
  --tests-rev) tests_rev=$2; shift 2 ;;
  --list) list=$2; shift 2 ;;
  --work) work=$2; shift 2 ;;
  --exclude) exclude=$2; shift 2 ;;
  --only) only=$2; shift 2 ;;
  --timeout) timeout=$2; shift 2 ;;
  --no-baseline) baseline=0; shift ;;
  *) echo "usage: $0 [--tests DIR | --tests-rev REV] [--list FILE] [--work DIR] [--exclude REGEX] [--only N,...] [--timeout S] [--no-baseline]" >&2; exit 2 ;;
  esac
done

tree=$work/tree
sources=$(cd "$root" && git rev-parse --short HEAD)
build=$work/build
rm -rf "$tree" && mkdir -p "$tree"
# The scratch tree: this checkout's tracked files, as they are on disk.
(cd "$root" && git ls-files -z | xargs -0 tar -cf - --no-recursion) | tar -xf - -C "$tree"
if [ -n "$tests" ]; then
  rm -rf "$tree/tests" && cp -a "$tests" "$tree/tests"
elif [ -n "$tests_rev" ]; then
  rm -rf "$tree/tests" && (cd "$root" && git archive "$tests_rev" tests) | tar -xf - -C "$tree"
fi

# mutate check|count|file N|apply N: the mutants as data; every original must
# occur exactly once in its file, else the list is stale and we stop.
mutate() {
  python3 - "$list" "$tree" "$@" <<'EOF'
import sys
listing, tree, action = sys.argv[1], sys.argv[2], sys.argv[3]
muts, cur = [], None
for raw in open(listing, encoding="utf-8").read().split("\n"):
    if raw.startswith("@ "):
        cur = {"file": raw[2:].strip(), "old": [], "new": []}
        muts.append(cur)
    elif raw.startswith("- ") and cur is not None:
        cur["old"].append(raw[2:])
    elif (raw.startswith("+ ") or raw == "+") and cur is not None:
        cur["new"].append(raw[2:])
def text(m, key):
    return "\n".join(m[key])
if action == "count":
    print(len(muts)); sys.exit(0)
if action == "check":
    bad = 0
    for i, m in enumerate(muts, 1):
        body = open(f"{tree}/{m['file']}", encoding="utf-8").read()
        n = body.count(text(m, "old"))
        if not m["old"] or n != 1:
            print(f"mutant {i} ({m['file']}): original found {n} times:\n{text(m, 'old')}", file=sys.stderr)
            bad += 1
    sys.exit(1 if bad else 0)
i = int(sys.argv[4]); m = muts[i - 1]
if action == "file":
    print(f"{tree}/{m['file']}"); sys.exit(0)
path = f"{tree}/{m['file']}"
body = open(path, encoding="utf-8").read()
a, b = text(m, "old"), text(m, "new")
if body.count(a) != 1:
    sys.exit(f"mutant {i}: cannot {action} in {m['file']}")
open(path, "w", encoding="utf-8").write(body.replace(a, b, 1))
print(f"{m['file']}: {m['old'][0].strip()}  ->  {(m['new'] or [''])[0].strip()}")
EOF
}

mutate check
total=$(mutate count)
# Files a mutant touched in an earlier run are rebuilt from the clean copy.
(cd "$tree" && grep '^@ ' "$list" | cut -c3- | sort -u | xargs touch)
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS=-O0 -DCMAKE_CXX_FLAGS=-O0 >/dev/null
run_suite() {
  # Without cost data from earlier runs ctest starts the tests in their order,
  # the long sweeps last, so a failing test stops the run early; which
  # mutants are killed does not change.
  rm -f "$build/Testing/Temporary/CTestCostData.txt"
  ctest --test-dir "$build" -j2 --stop-on-failure --timeout "$timeout" -E "$exclude" >"$work/ctest.log" 2>&1
}
cmake --build "$build" -j2 >/dev/null
if [ "$baseline" -eq 1 ] && ! run_suite; then
  echo "the unmutated suite fails; see $work/ctest.log" >&2
  exit 1
fi

killed=0 survived=0 broken=0 checked=0 ran=0 applied=0 survivors=""
start=$(date +%s)
for i in $(seq 1 "$total"); do
  if [ -n "$only" ] && ! [[ ",$only," == *",$i,"* ]]; then continue; fi
  # Revert the previous mutant (from the copy kept before it) and apply this
  # one before one rebuild.
  [ "$applied" -ne 0 ] && cp "$work/original" "$(mutate file "$applied")"
  cp "$(mutate file "$i")" "$work/original"
  what=$(mutate apply "$i")
  applied=$i
  ran=$((ran + 1))
  if ! cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
    if grep -q '^FAILED: demo/config' "$work/build.log" &&
      ! grep '^FAILED: ' "$work/build.log" | grep -qv '^FAILED: demo/config'; then
      verdict="BUILD-CHECK"; checked=$((checked + 1))
    else
      verdict="BUILD-FAILED"; broken=$((broken + 1))
    fi
  elif run_suite; then
    verdict="SURVIVED"; survived=$((survived + 1)); survivors="$survivors $i"
  else
    verdict="KILLED"; killed=$((killed + 1))
  fi
  printf '[%2d/%d] %-12s %s\n' "$i" "$total" "$verdict" "$what"
done
[ "$applied" -ne 0 ] && cp "$work/original" "$(mutate file "$applied")"
summary="mutants: $ran, killed: $killed, survived: $survived, build failed: $broken, failed the build's check: $checked, time: $(($(date +%s) - start)) s"
echo "$summary"
echo "survivors:${survivors:- none}"
{
  echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ -n "$tests" ]; then
    echo "tests: $tests"
  else
    echo "tests: tests/ of ${tests_rev:-the working tree} ($sources sources)"
  fi
  echo "only: ${only:-all}"
  echo "$summary"
  echo "survivors:${survivors:- none}"
} >"$work/mutants-figures.txt"
echo "figures: $work/mutants-figures.txt"
