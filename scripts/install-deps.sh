#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that one use of the tree needs, and only those
# that are missing. Usage: install-deps.sh [--promtool DIR] SET...
#   build  configure and build the library, the tool and the virtual card
#          (make, make demo, make install)
#   test   the suite (make test; it also builds the package: add deb)
#   deb    make the Debian packages (make deb)
#   bench  make bench     fuzz  make fuzz
# --promtool DIR: unpacks promtool from Debian's prometheus package into DIR
# (DIR/usr/bin/promtool) without installing the package, whose server would
# start on a machine with systemd.
set -euo pipefail

# One list a set; a package belongs to the first set that needs it.
build_packages=(cmake ninja-build g++ make nlohmann-json3-dev)
test_packages=(libgtest-dev libgmock-dev binutils abigail-tools
  python3-jsonschema # the schema tests
  systemd            # systemd-analyze, for the units
  # the real-kernel test (tests/kernel): QEMU, Debian's kernel, busybox, sfdisk, cpio
  qemu-system-x86 linux-image-amd64 busybox-static fdisk cpio
  # the card images the sector-0 rebuild is tested against
  dosfstools mtools exfatprogs e2fsprogs
)
deb_packages=(dpkg-dev file lintian pkg-config)
bench_packages=(
  libbenchmark-dev
  # the phases of a run of --all (bench/all_cards_phases.py), traced by perf
  linux-perf python3
)
fuzz_packages=(clang libclang-rt-14-dev)

promtool_dir=""
if [ "${1:-}" = --promtool ]; then
  promtool_dir=$2
  shift 2
fi
[ $# -gt 0 ] || set -- build

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=0
update() {
  [ "$updated" -eq 1 ] || $SUDO apt-get update -qq
  updated=1
}

missing=()
for set in "$@"; do
  case "$set" in
    build | test | deb | bench | fuzz) ;;
    *) echo "install-deps: no package set '$set'" >&2; exit 2 ;;
  esac
  declare -n list="${set}_packages"
  for p in "${list[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  unset -n list
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  update
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ -n "$promtool_dir" ] && [ ! -x "$promtool_dir/usr/bin/promtool" ]; then
  echo "unpacking promtool from Debian's prometheus package into $promtool_dir"
  update
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  # apt's download user must be able to write the folder.
  chmod 777 "$download"
  (cd "$download" && apt-get download -qq prometheus)
  mkdir -p "$promtool_dir"
  dpkg-deb --fsys-tarfile "$download"/prometheus_*.deb |
    tar -x -C "$promtool_dir" ./usr/bin/promtool
fi
