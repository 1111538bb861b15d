#!/bin/sh
# SPDX-License-Identifier: MIT
# `make deb` builds five packages that lintian passes without errors or
# warnings and that work once unpacked: host programs in C and C++ build
# against libsdsmart-dev + libsdsmart1 alone (pkg-config and find_package),
# the tool runs with the packaged library, sdsmart-sim on its own runs the
# packaged tool against its sample card, and python3-sdsmart's summary reads
# it there.
# Usage: deb_test.sh SOURCE_DIR WORK_DIR CONSUMER_DIR
set -eu
src=$1 work=$2 consumer=$3
for t in dpkg-deb dpkg-buildflags dpkg-shlibdeps cpack pkg-config lintian c++ python3; do
  command -v "$t" >/dev/null || { echo "$t is not installed: skipped"; exit 77; }
done
fail() { echo "$*"; exit 1; }

mkdir -p "$work/build"
# The package tree stays between runs, so a second run only rebuilds what
# changed. The job server of an outer make is not ours to use.
rm -f "$work"/build/*.deb
if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL \
    make -C "$src" deb DEB_BUILD="$work/build" JOBS=2 >"$work/make-deb.log" 2>&1; then
  cat "$work/make-deb.log"
  fail "make deb failed"
fi
version=$(sed -n 's/^project(sdsmart VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$multiarch
set -- "$work"/build/*.deb
[ $# -eq 5 ] || fail "expected five packages in $work/build: $*"
# The Python module is the one package for every architecture.
deb() {
  case $1 in python3-*) echo "$work/build/${1}_${version}_all.deb" ;;
  *) echo "$work/build/${1}_${version}_$arch.deb" ;; esac
}
for p in libsdsmart1 libsdsmart-dev sdsmart sdsmart-sim python3-sdsmart; do
  [ -f "$(deb "$p")" ] || fail "no package $p: $*"
done

# Each file in the package it belongs to, and only there.
expect() {
  package=$1
  shift
  dpkg-deb -c "$(deb "$package")" | awk '{print $6}' | sed 's|^\./||' >"$work/$package.list"
  for f in "$@" "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.gz"; do
    grep -qx "$f" "$work/$package.list" || fail "$package lacks /$f"
  done
}
expect libsdsmart1 "$lib/libsdsmart.so.1.0.0" "$lib/libsdsmart.so.1"
expect libsdsmart-dev usr/include/sdsmart/sdsmart.h "$lib/libsdsmart.so" \
  "$lib/pkgconfig/sdsmart.pc" "$lib/cmake/sdsmart/sdsmartConfig.cmake"
expect sdsmart usr/bin/sdsmart usr/share/man/man1/sdsmart.1.gz etc/sdsmart/config.ini \
  usr/share/doc/sdsmart/README \
  usr/share/sdsmart/sdsmart-card.schema.json usr/share/sdsmart/sdsmart-scan.schema.json \
  usr/share/sdsmart/sdsmart-all.schema.json usr/share/sdsmart/prometheus/sdsmart.rules.yml \
  usr/share/sdsmart/grafana/sdsmart-dashboard.json \
  usr/lib/systemd/system/sdsmart-textfile.service usr/lib/systemd/system/sdsmart-textfile.timer
expect sdsmart-sim usr/bin/sdsim usr/share/man/man1/sdsim.1.gz usr/share/sdsmart-sim/config \
  usr/share/sdsmart-sim/cards/usb.json usr/share/sdsmart-sim/cards/native.json
python=usr/lib/python3/dist-packages/sdsmart
expect python3-sdsmart $python/__init__.py $python/__main__.py $python/run.py $python/state.py
for p in libsdsmart-dev sdsmart sdsmart-sim python3-sdsmart; do
  if grep -E '/libsdsmart\.so\.1' "$work/$p.list"; then fail "$p carries the library"; fi
done
grep -E '__pycache__|\.pyc$' "$work/python3-sdsmart.list" && fail "python3-sdsmart carries byte code"
[ "$(dpkg-deb -f "$(deb python3-sdsmart)" Depends)" = "python3:any, sdsmart (>= $version)" ] ||
  fail "python3-sdsmart Depends: $(dpkg-deb -f "$(deb python3-sdsmart)" Depends)"
grep -E 'include/|\.pc$|libsdsmart\.so$' "$work/libsdsmart1.list" && fail "libsdsmart1 carries development files"

# Control data: shlibs and a symbols file of the interface, versioned
# dependencies between the packages, the sample configuration a conffile.
[ "$(dpkg-deb -I "$(deb libsdsmart1)" shlibs)" = "libsdsmart 1 libsdsmart1 (>= $version)" ] ||
  fail "shlibs: $(dpkg-deb -I "$(deb libsdsmart1)" shlibs)"
dpkg-deb -I "$(deb libsdsmart1)" symbols >"$work/symbols"
[ "$(head -n 1 "$work/symbols")" = "libsdsmart.so.1 libsdsmart1 #MINVER#" ] &&
  grep -qx " GetSmartInfo@Base $version" "$work/symbols" ||
  fail "symbols: $(head -n 3 "$work/symbols")"
for p in libsdsmart-dev sdsmart; do
  dpkg-deb -f "$(deb "$p")" Depends | grep -q "libsdsmart1 (= $version)" ||
    fail "$p Depends: $(dpkg-deb -f "$(deb "$p")" Depends)"
done
dpkg-deb -f "$(deb sdsmart)" Depends | grep -q 'libc6 (>=' || fail "sdsmart Depends no libc6"
[ "$(dpkg-deb -I "$(deb sdsmart)" conffiles)" = /etc/sdsmart/config.ini ] || fail "conffiles"

lintian --fail-on error,warning "$@"

# libsdsmart-dev + libsdsmart1 alone serve host programs.
root=$work/dev-root
rm -rf "$root" "$work/consumer"
mkdir -p "$work/consumer"
dpkg-deb -x "$(deb libsdsmart1)" "$root"
dpkg-deb -x "$(deb libsdsmart-dev)" "$root"
libdir=$root/$lib
[ "$(readlink "$libdir/libsdsmart.so")" = libsdsmart.so.1 ] &&
  [ "$(readlink "$libdir/libsdsmart.so.1")" = libsdsmart.so.1.0.0 ] ||
  fail "SONAME links: $(ls -l "$libdir"/libsdsmart.so*)"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
include=$(pkg-config --cflags-only-I sdsmart)
include=${include#-I}
[ "$(cd "${include%% }" && pwd -P)" = "$(cd "$root/usr/include" && pwd -P)" ] ||
  fail "pkg-config points elsewhere: $include"
flags=$(pkg-config --cflags --libs sdsmart)
# Every public header stands alone in a C++ host.
for h in "$root"/usr/include/sdsmart/*; do
  echo "#include <sdsmart/${h##*/}>" | c++ -std=c++17 -fsyntax-only -Werror -x c++ - \
    -I"$root/usr/include" || fail "${h##*/} does not compile on its own"
done
cat >"$work/consumer/consumer.cpp" <<'EOF'
#include <sdsmart/sdsmart.h>

#include <string>

int main() {
  const std::string version = GetLibraryVersion();
  return version.compare(0, 5, "6459.") == 0 && GetErrorCode() == -1 ? 0 : 1;
}
EOF
# shellcheck disable=SC2086 # the flags are words
cc "$consumer/consumer.c" $flags -o "$work/consumer/c"
# shellcheck disable=SC2086
c++ "$work/consumer/consumer.cpp" $flags -o "$work/consumer/cxx"
LD_LIBRARY_PATH=$libdir "$work/consumer/c"
LD_LIBRARY_PATH=$libdir "$work/consumer/cxx" || fail "the C++ consumer failed"
cmake -S "$consumer" -B "$work/consumer/cmake" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer/cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/consumer/cmake/consumer"

# The tool, with the library of its package.
tool=$work/tool-root
rm -rf "$tool"
dpkg-deb -x "$(deb libsdsmart1)" "$tool"
dpkg-deb -x "$(deb sdsmart)" "$tool"
LD_LIBRARY_PATH=$tool/$lib ldd "$tool/usr/bin/sdsmart" | grep -q "=> $tool/$lib/libsdsmart.so.1 " ||
  fail "the tool does not load the packaged library"
LD_LIBRARY_PATH=$tool/$lib "$tool/usr/bin/sdsmart" --version | grep -q "$version" ||
  fail "unexpected version text"
grep -q '^ExecStart=/usr/bin/sdsmart --all ' "$tool/usr/lib/systemd/system/sdsmart-textfile.service" ||
  fail "the service does not run the packaged tool"

# sdsmart-sim unpacked on its own runs that tool against its sample card.
sim=$work/sim-root
rm -rf "$sim" "$work/state"
mkdir -p "$work/state"
dpkg-deb -x "$(deb sdsmart-sim)" "$sim"
"$sim/usr/bin/sdsim" --help | grep -q " /usr/share/sdsmart-sim/cards/usb.json" ||
  fail "the launcher's default card is not the packaged one"
status=0
LD_LIBRARY_PATH=$tool/$lib "$sim/usr/bin/sdsim" --card "$sim/usr/share/sdsmart-sim/cards/usb.json" -- \
  "$tool/usr/bin/sdsmart" --config "$sim/usr/share/sdsmart-sim/config" --state-dir "$work/state" \
  --json /dev/sdx >"$work/sim.json" || status=$?
# 16: the sample card is worn enough for a warning; any other bit is a failure.
[ $((status & ~16)) -eq 0 ] || { cat "$work/sim.json"; fail "sdsmart under sdsim: $status"; }
grep -q '"VC-A100-SDSIM"' "$work/sim.json" || fail "no card in $(head -c 300 "$work/sim.json")"

# python3-sdsmart unpacked runs that tool there: one line for the card.
py=$work/python-root
rm -rf "$py" "$work/state"
mkdir -p "$work/state"
dpkg-deb -x "$(deb python3-sdsmart)" "$py"
status=0
PYTHONPATH=$py/usr/lib/python3/dist-packages PYTHONDONTWRITEBYTECODE=1 LD_LIBRARY_PATH=$tool/$lib \
  "$sim/usr/bin/sdsim" --card "$sim/usr/share/sdsmart-sim/cards/usb.json" -- python3 -m sdsmart \
  --program "$tool/usr/bin/sdsmart" --config "$sim/usr/share/sdsmart-sim/config" \
  --state-dir "$work/state" >"$work/python.txt" || status=$?
[ $((status & ~16)) -eq 0 ] && grep -Eq '^/dev/sdx [0-9a-f]{32} (PASSED|WARNING) life ' "$work/python.txt" ||
  fail "python3 -m sdsmart: $status: $(cat "$work/python.txt")"
