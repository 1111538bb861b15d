#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that one use of the tree needs, and only those
# that are missing. Usage: install-deps.sh [--promtool DIR] [--prometheus-servers DIR]
# [--mqtt-broker DIR] [--kernel DIR] SET...
#   build  configure and build the library, the tool and the virtual card
#          (make, make demo, make install)
#   test   the suite (make test; it also builds the package: add deb)
#   deb    make the Debian packages (make deb)
#   bench  make bench     fuzz  make fuzz
# --promtool DIR: unpacks promtool from Debian's prometheus package into DIR
# (DIR/usr/bin/promtool) without installing the package, whose server would
# start on a machine with systemd.
# --prometheus-servers DIR: unpacks the servers of Debian's prometheus and
# prometheus-node-exporter packages into DIR (DIR/usr/bin/prometheus,
# DIR/usr/bin/prometheus-node-exporter), not installed for the same reason;
# the Grafana dashboard's test starts them on ports of its own.
# --mqtt-broker DIR: unpacks the broker of Debian's mosquitto package
# (DIR/usr/sbin/mosquitto, DIR/usr/bin/mosquitto_passwd), not installed: its
# service would start on port 1883; the MQTT test starts it on a port of its
# own. The libraries it links come with the test set.
# --kernel DIR: unpacks the kernel that Debian's linux-image-amd64 stands for
# (DIR/boot/vmlinuz-RELEASE, DIR/lib/modules/RELEASE) for the QEMU test,
# without installing it: an installed kernel runs the initramfs and boot
# loader hooks of the machine it lands on.
set -euo pipefail

# One list a set; a package belongs to the first set that needs it.
build_packages=(cmake ninja-build g++ make nlohmann-json3-dev)
test_packages=(libgtest-dev libgmock-dev binutils abigail-tools
  python3-jsonschema # the schema tests
  kmod               # depmod, for the unpacked kernel's modules (--kernel)
  systemd            # systemd-analyze, for the units
  # the real-kernel test (tests/kernel): QEMU, busybox, sfdisk, cpio (the
  # kernel is unpacked into the build tree: --kernel)
  qemu-system-x86 busybox-static fdisk cpio
  # the card images the sector-0 rebuild is tested against, and sgdisk -v
  # that checks a rebuilt GPT card
  dosfstools mtools exfatprogs e2fsprogs gdisk
  # the MQTT hook and its test: the client library, mosquitto_sub, and what
  # the unpacked broker links (--mqtt-broker)
  python3-paho-mqtt mosquitto-clients libcjson1 libdlt2 libssl3 libwrap0 libcap2 libsystemd0
  # mmc extcsd read: a second reading of an eMMC's extended CSD
  mmc-utils
)
deb_packages=(dpkg-dev file lintian pkg-config)
bench_packages=(
  libbenchmark-dev
  # the phases of a run of --all (bench/all_cards_phases.py), traced by perf
  linux-perf python3
)
fuzz_packages=(clang libclang-rt-14-dev)

promtool_dir="" servers_dir="" broker_dir="" kernel_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --promtool) promtool_dir=$2 ;;
    --prometheus-servers) servers_dir=$2 ;;
    --mqtt-broker) broker_dir=$2 ;;
    --kernel) kernel_dir=$2 ;;
    *) break ;;
  esac
  shift 2
done
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

# A folder for apt-get download, removed on exit.
download=""
download_dir() {
  if [ -z "$download" ]; then
    download=$(mktemp -d)
    trap 'rm -rf "$download"' EXIT
    # apt's download user must be able to write the folder.
    chmod 777 "$download"
  fi
}

# unpack PACKAGE DIR FILE...: FILEs (./usr/bin/...) of the package into DIR,
# unless they are there.
unpack() {
  local package=$1 dir=$2 file missing=0
  shift 2
  for file in "$@"; do
    [ -x "$dir/$file" ] || missing=1
  done
  [ "$missing" -eq 1 ] || return 0
  echo "unpacking $* from Debian's $package package into $dir"
  download_dir
  if ! ls "$download/${package}"_*.deb >/dev/null 2>&1; then
    update
    (cd "$download" && apt-get download -qq "$package")
  fi
  mkdir -p "$dir"
  dpkg-deb --fsys-tarfile "$download/${package}"_*.deb | tar -x -C "$dir" "$@"
}
if [ -n "$promtool_dir" ]; then
  unpack prometheus "$promtool_dir" ./usr/bin/promtool
fi
if [ -n "$servers_dir" ]; then
  unpack prometheus "$servers_dir" ./usr/bin/prometheus
  unpack prometheus-node-exporter "$servers_dir" ./usr/bin/prometheus-node-exporter
fi
if [ -n "$broker_dir" ]; then
  unpack mosquitto "$broker_dir" ./usr/sbin/mosquitto ./usr/bin/mosquitto_passwd
fi

# The metapackage names the versioned kernel package (linux-image-RELEASE);
# that one holds the image and the modules, whose modules.dep its installation
# would make: depmod makes it here. A newer kernel replaces the folder.
if [ -n "$kernel_dir" ]; then
  kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
      awk '$1 ~ /^[|]?Depends:$/ && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
  }
  unpacked() { # PACKAGE
    [ -r "$kernel_dir/boot/vmlinuz-${1#linux-image-}" ] &&
      [ -f "$kernel_dir/lib/modules/${1#linux-image-}/modules.dep" ]
  }
  package=$(kernel_package)
  if [ -z "$package" ] || ! unpacked "$package"; then
    update # the package apt names now, and one it can still download
    package=$(kernel_package)
    [ -n "$package" ] || { echo "install-deps: apt knows no linux-image-amd64" >&2; exit 1; }
  fi
  if ! unpacked "$package"; then
    echo "unpacking $package (linux-image-amd64) into $kernel_dir"
    download_dir
    (cd "$download" && apt-get download -qq "$package")
    rm -rf "$kernel_dir"
    mkdir -p "$kernel_dir"
    dpkg-deb -x "$download/$package"_*.deb "$kernel_dir"
    # A merged-/usr package has its modules under usr/lib.
    if [ ! -d "$kernel_dir/lib/modules" ] && [ -d "$kernel_dir/usr/lib/modules" ]; then
      ln -s usr/lib "$kernel_dir/lib"
    fi
    PATH=$PATH:/usr/sbin:/sbin depmod -b "$kernel_dir" "${package#linux-image-}"
  fi
fi
