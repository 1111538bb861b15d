// SPDX-License-Identifier: MIT
#include "real_calls.h"

#include <dlfcn.h>

namespace sdsim {
namespace {

template <typename F> void Resolve(F &slot, const char *name) {
  slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

RealCalls ResolveAll() {
  RealCalls r{};
  Resolve(r.open, "open");
  Resolve(r.openat, "openat");
  Resolve(r.close, "close");
  Resolve(r.flock, "flock");
  Resolve(r.ioctl, "ioctl");
  Resolve(r.readlink, "readlink");
  Resolve(r.read, "read");
  Resolve(r.write, "write");
  Resolve(r.pread, "pread");
  Resolve(r.pwrite, "pwrite");
  Resolve(r.lseek, "lseek");
  Resolve(r.fsync, "fsync");
  Resolve(r.dup, "dup");
  Resolve(r.dup2, "dup2");
  Resolve(r.dup3, "dup3");
  Resolve(r.fopen, "fopen");
  Resolve(r.fopen64, "fopen64");
  Resolve(r.popen, "popen");
  Resolve(r.pclose, "pclose");
  Resolve(r.setmntent, "setmntent");
  Resolve(r.access, "access");
  Resolve(r.faccessat, "faccessat");
  Resolve(r.stat, "stat");
  Resolve(r.stat64, "stat64");
  Resolve(r.lstat, "lstat");
  Resolve(r.lstat64, "lstat64");
  Resolve(r.fstat, "fstat");
  Resolve(r.fstat64, "fstat64");
  Resolve(r.fstatat, "fstatat");
  Resolve(r.fstatat64, "fstatat64");
  Resolve(r.statx, "statx");
  Resolve(r.realpath, "realpath");
  return r;
}

} // namespace

const RealCalls &Real() {
  static const RealCalls calls = ResolveAll();
  return calls;
}

} // namespace sdsim
