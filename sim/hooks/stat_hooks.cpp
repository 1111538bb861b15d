// SPDX-License-Identifier: MIT
// What stat(2), statx(2) and access(2) say about a card's node and its
// partitions' nodes: a block device of the disk group, numbered as sysfs
// says (major 8 for reader cards, 179 for native ones); gone (ENOENT) once
// the card vanished.
#include "hooks/hook_support.h"
#include "hooks/real_calls.h"
#include "hooks/sysfs.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

namespace sdsim {
namespace {

void AsBlockDevice(Registry &registry, const SysfsEntry &entry, struct stat *st) {
  st->st_mode = S_IFBLK | 0660;
  st->st_rdev = DeviceNumber(registry, entry);
  st->st_size = 0;
  st->st_blksize = 4096;
  st->st_blocks = 0;
  st->st_nlink = 1;
  st->st_uid = 0;
  st->st_gid = 6; // disk
}

// stat of a node path (a card's or one of its partitions'): 1 answered, 0
// not a card, -1 failed (errno set).
int StatNode(const char *path, struct stat *st) {
  Registry &registry = Registry::Get();
  if (IsNull(path) || path[0] != '/' || registry.Empty())
    return 0;
  Lock lock(registry.Mutex());
  SysfsEntry entry;
  if (!SysfsByNode(registry, path, entry)) {
    if (!registry.ByNode(path))
      return 0;
    errno = ENOENT; // the card vanished
    return -1;
  }
  std::memset(st, 0, sizeof *st);
  st->st_dev = makedev(0, 5); // devtmpfs
  st->st_ino = 7000 + (DeviceNumber(registry, entry) & 0xFFFF);
  const struct timespec now = {::time(nullptr), 0};
  st->st_atim = st->st_mtim = st->st_ctim = now;
  AsBlockDevice(registry, entry, st);
  return 1;
}

// fstat of a node descriptor: the real answer with the block device's fields.
int FstatHook(int fd, struct stat *st) {
  Registry &registry = Registry::Get();
  const int rc = Real().fstat(fd, st);
  if (rc != 0 || !registry.Ours(fd))
    return rc;
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (registry.Lookup(fd, entry) && !entry.HostFile)
    AsBlockDevice(registry, SysfsEntry{entry.Card, 0}, st);
  return rc;
}

int AccessNode(const char *path) {
  Registry &registry = Registry::Get();
  if (IsNull(path) || path[0] != '/' || registry.Empty())
    return 0;
  Lock lock(registry.Mutex());
  SysfsEntry entry;
  if (SysfsByNode(registry, path, entry))
    return 1;
  if (!registry.ByNode(path))
    return 0;
  errno = ENOENT; // the card vanished
  return -1;
}

// statx of a descriptor (AT_EMPTY_PATH): 1 with `st` filled for a node
// descriptor of ours, 0 for any other descriptor (the real answer in `buf`),
// -1 when the real call failed.
int StatxDescriptor(int dirFd, const char *path, int flags, unsigned int mask, struct statx *buf,
                    struct stat *st) {
  Registry &registry = Registry::Get();
  const int rc = Real().statx(dirFd, path, flags, mask, buf);
  if (rc != 0)
    return -1;
  if (!registry.Ours(dirFd))
    return 0;
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (!registry.Lookup(dirFd, entry) || entry.HostFile)
    return 0;
  AsBlockDevice(registry, SysfsEntry{entry.Card, 0}, st);
  return 1;
}

void FillStatx(const struct stat &st, struct statx *buf) {
  buf->stx_mask |= STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID | STATX_SIZE |
                   STATX_BLOCKS | STATX_INO;
  buf->stx_mode = static_cast<std::uint16_t>(st.st_mode);
  buf->stx_nlink = static_cast<std::uint32_t>(st.st_nlink);
  buf->stx_uid = st.st_uid;
  buf->stx_gid = st.st_gid;
  buf->stx_size = 0;
  buf->stx_blocks = 0;
  buf->stx_blksize = static_cast<std::uint32_t>(st.st_blksize);
  buf->stx_rdev_major = major(st.st_rdev);
  buf->stx_rdev_minor = minor(st.st_rdev);
}

bool EmptyPath(const char *path, int flags) {
  return !IsNull(path) && path[0] == '\0' && (flags & AT_EMPTY_PATH);
}

} // namespace
} // namespace sdsim

using namespace sdsim;

extern "C" {

// struct stat and struct stat64 are one layout on this platform.
static_assert(sizeof(struct stat) == sizeof(struct stat64), "stat layouts");

int stat(const char *path, struct stat *st) {
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().stat(path, st);
}
int stat64(const char *path, struct stat64 *st) {
  const int node = StatNode(path, reinterpret_cast<struct stat *>(st));
  return node ? (node > 0 ? 0 : -1) : Real().stat64(path, st);
}
int lstat(const char *path, struct stat *st) {
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().lstat(path, st);
}
int lstat64(const char *path, struct stat64 *st) {
  const int node = StatNode(path, reinterpret_cast<struct stat *>(st));
  return node ? (node > 0 ? 0 : -1) : Real().lstat64(path, st);
}
int fstat(int fd, struct stat *st) { return FstatHook(fd, st); }
int fstat64(int fd, struct stat64 *st) {
  return FstatHook(fd, reinterpret_cast<struct stat *>(st));
}
int fstatat(int dirFd, const char *path, struct stat *st, int flags) {
  if (EmptyPath(path, flags))
    return FstatHook(dirFd, st);
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().fstatat(dirFd, path, st, flags);
}
int fstatat64(int dirFd, const char *path, struct stat64 *st, int flags) {
  auto *plain = reinterpret_cast<struct stat *>(st);
  if (EmptyPath(path, flags))
    return FstatHook(dirFd, plain);
  const int node = StatNode(path, plain);
  return node ? (node > 0 ? 0 : -1) : Real().fstatat64(dirFd, path, st, flags);
}

int statx(int dirFd, const char *path, int flags, unsigned int mask, struct statx *buf) {
  struct stat st {};
  if (EmptyPath(path, flags)) {
    const int ours = StatxDescriptor(dirFd, path, flags, mask, buf, &st);
    if (ours <= 0)
      return ours;
  } else {
    const int node = StatNode(path, &st);
    if (node < 0)
      return -1;
    if (node == 0)
      return Real().statx(dirFd, path, flags, mask, buf);
    std::memset(buf, 0, sizeof *buf);
    buf->stx_ino = st.st_ino;
    buf->stx_dev_major = major(st.st_dev);
    buf->stx_dev_minor = minor(st.st_dev);
    buf->stx_atime.tv_sec = buf->stx_mtime.tv_sec = buf->stx_ctime.tv_sec = st.st_mtim.tv_sec;
  }
  FillStatx(st, buf);
  return 0;
}

int access(const char *path, int mode) {
  const int node = AccessNode(path);
  return node ? (node > 0 ? 0 : -1) : Real().access(path, mode);
}
int faccessat(int dirFd, const char *path, int mode, int flags) {
  const int node = AccessNode(path);
  return node ? (node > 0 ? 0 : -1) : Real().faccessat(dirFd, path, mode, flags);
}

} // extern "C"
