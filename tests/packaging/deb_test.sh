#!/bin/sh
# SPDX-License-Identifier: MIT
# `make deb` builds a package that works once unpacked: the tool runs with the
# packaged library, host programs build against it through pkg-config and
# find_package, and lintian reports no errors.
# Usage: deb_test.sh SOURCE_DIR WORK_DIR CONSUMER_DIR
set -eu
src=$1 work=$2 consumer=$3
for t in dpkg-deb dpkg-buildflags dpkg-shlibdeps cpack pkg-config lintian; do
  command -v "$t" >/dev/null || { echo "$t is not installed: skipped"; exit 77; }
done
fail() { echo "$*"; exit 1; }

mkdir -p "$work"
# The package tree stays between runs, so a second run only rebuilds what
# changed. The job server of an outer make is not ours to use.
if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL \
    make -C "$src" deb DEB_BUILD="$work/build" JOBS=2 >"$work/make-deb.log" 2>&1; then
  cat "$work/make-deb.log"
  fail "make deb failed"
fi
set -- "$work"/build/sdsmart_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one package in $work/build: $*"
deb=$1

root=$work/root
rm -rf "$root" "$work/consumer"
dpkg-deb -x "$deb" "$root"
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in usr/bin/sdsmart usr/include/sdsmart/sdsmart.h "${libdir#"$root/"}/libsdsmart.so.1.0.0" \
  "${libdir#"$root/"}/pkgconfig/sdsmart.pc" "${libdir#"$root/"}/cmake/sdsmart/sdsmartConfig.cmake" \
  usr/share/man/man1/sdsmart.1.gz usr/share/sdsmart/sdsmart-card.schema.json \
  usr/share/sdsmart/sdsmart-scan.schema.json usr/share/sdsmart/sdsmart-all.schema.json \
  usr/share/sdsmart/prometheus/sdsmart.rules.yml \
  usr/lib/systemd/system/sdsmart-textfile.service usr/lib/systemd/system/sdsmart-textfile.timer \
  usr/share/doc/sdsmart/copyright usr/share/doc/sdsmart/changelog.gz; do
  [ -f "$root/$f" ] || fail "not in the package: /$f"
done
[ "$(readlink "$libdir/libsdsmart.so")" = libsdsmart.so.1 ] &&
  [ "$(readlink "$libdir/libsdsmart.so.1")" = libsdsmart.so.1.0.0 ] ||
  fail "SONAME links: $(ls -l "$libdir"/libsdsmart.so*)"
if dpkg-deb -c "$deb" | grep sdsim; then fail "the virtual card is in the package"; fi
[ "$(dpkg-deb -I "$deb" shlibs)" = "libsdsmart 1 sdsmart (>= $(dpkg-deb -f "$deb" Version))" ] ||
  fail "shlibs: $(dpkg-deb -I "$deb" shlibs)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
grep -q '^ExecStart=/usr/bin/sdsmart --all ' "$root/usr/lib/systemd/system/sdsmart-textfile.service" ||
  fail "the service does not run the packaged tool"

# The unpacked tool, with the unpacked library.
LD_LIBRARY_PATH=$libdir ldd "$root/usr/bin/sdsmart" | grep -q "=> $libdir/libsdsmart.so.1 " ||
  fail "the tool does not load the packaged library: $(LD_LIBRARY_PATH=$libdir ldd "$root/usr/bin/sdsmart")"
version=$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/sdsmart" --version)
echo "$version"
echo "$version" | grep -q "$(dpkg-deb -f "$deb" Version)" || fail "unexpected version text"

# Host programs through pkg-config and through find_package(sdsmart).
mkdir -p "$work/consumer"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
include=$(pkg-config --cflags-only-I sdsmart)
include=${include#-I}
[ "$(cd "${include%% }" && pwd -P)" = "$(cd "$root/usr/include" && pwd -P)" ] ||
  fail "pkg-config points elsewhere: $include"
flags=$(pkg-config --cflags --libs sdsmart)
# shellcheck disable=SC2086 # the flags are words
cc "$consumer/consumer.c" $flags -o "$work/consumer/pc"
LD_LIBRARY_PATH=$libdir "$work/consumer/pc"
cmake -S "$consumer" -B "$work/consumer/cmake" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer/cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/consumer/cmake/consumer"

lintian --fail-on error "$deb"
