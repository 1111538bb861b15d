// SPDX-License-Identifier: MIT
// The C library's own entry points behind the interposed ones. Every call the
// card makes for itself goes through these, never through the interposed
// names, so the card never sees its own I/O.
#pragma once

#include <cstdio>
#include <sys/types.h>

struct mntent;
struct stat;
struct stat64;
struct statx;

namespace sdsim {

struct RealCalls {
  int (*open)(const char *, int, ...);
  int (*openat)(int, const char *, int, ...);
  int (*close)(int);
  int (*flock)(int, int);
  int (*ioctl)(int, unsigned long, ...);
  ssize_t (*readlink)(const char *, char *, size_t);
  ssize_t (*read)(int, void *, size_t);
  ssize_t (*write)(int, const void *, size_t);
  ssize_t (*pread)(int, void *, size_t, off_t);
  ssize_t (*pwrite)(int, const void *, size_t, off_t);
  off_t (*lseek)(int, off_t, int);
  int (*fsync)(int);
  int (*dup)(int);
  int (*dup2)(int, int);
  int (*dup3)(int, int, int);
  FILE *(*fopen)(const char *, const char *);
  FILE *(*fopen64)(const char *, const char *);
  FILE *(*popen)(const char *, const char *);
  int (*pclose)(FILE *);
  FILE *(*setmntent)(const char *, const char *);
  int (*access)(const char *, int);
  int (*faccessat)(int, const char *, int, int);
  int (*stat)(const char *, struct stat *);
  int (*stat64)(const char *, struct stat64 *);
  int (*lstat)(const char *, struct stat *);
  int (*lstat64)(const char *, struct stat64 *);
  int (*fstat)(int, struct stat *);
  int (*fstat64)(int, struct stat64 *);
  int (*fstatat)(int, const char *, struct stat *, int);
  int (*fstatat64)(int, const char *, struct stat64 *, int);
  int (*statx)(int, const char *, int, unsigned int, struct statx *);
  char *(*realpath)(const char *, char *);
};

// Resolved on first use with dlsym(RTLD_NEXT); safe to call at any time.
const RealCalls &Real();

} // namespace sdsim
