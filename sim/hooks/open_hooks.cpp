// SPDX-License-Identifier: MIT
// Opening a card's node, its sysfs files, the mount table and the host file;
// the descriptor table follows close and dup.
#include "hooks/hook_support.h"
#include "hooks/mount_table.h"
#include "hooks/real_calls.h"
#include "hooks/sysfs.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sdsim {
namespace {

int OpenHook(int dirFd, const char *path, int flags, mode_t mode, bool at) {
  auto real = [&] {
    return at ? Real().openat(dirFd, path, flags, mode) : Real().open(path, flags, mode);
  };
  Registry &registry = Registry::Get();
  if (!path || path[0] != '/' || registry.Empty())
    return real();
  Lock lock(registry.Mutex());
  const std::string p = path;
  if (CardState *card = registry.ByNode(p)) {
    const int fd = card->OpenDescriptor(flags);
    if (fd >= 0)
      registry.Add(fd, FdEntry{card, false, false, (flags & O_ACCMODE) != O_RDONLY, 0});
    return fd;
  }
  int sysfsFd = -1;
  if (SysfsOpen(registry, p, flags, sysfsFd))
    return sysfsFd;
  const bool reading = (flags & O_ACCMODE) == O_RDONLY;
  if (reading && IsMountTable(p)) {
    std::string text;
    return MountTable(registry, text) ? ContentFd(text, flags) : -1;
  }
  if (reading && IsMountInfo(p))
    return ContentFd(MountInfo(registry), flags);
  // The kernel's identity of this boot: SDSIM_BOOT_ID plays a reboot.
  if (const char *boot = std::getenv("SDSIM_BOOT_ID");
      reading && boot && p == "/proc/sys/kernel/random/boot_id")
    return ContentFd(std::string(boot) + "\n", flags);
  if (CardState *card = registry.ByHostFile(p)) {
    // The host file lives in an ordinary folder whose file system may refuse
    // direct I/O; the card keeps the alignment rules of direct I/O itself.
    const bool direct = flags & O_DIRECT;
    const int fd = Real().open(path, flags & ~O_DIRECT, mode);
    if (fd >= 0)
      registry.Add(fd, FdEntry{card, true, direct, false, 0});
    return fd;
  }
  return real();
}

mode_t ModeArg(int flags, va_list ap) {
  if (flags & (O_CREAT | __O_TMPFILE))
    return static_cast<mode_t>(va_arg(ap, int));
  return 0;
}

// True when fopen of `path` must go through our open: a node, or a card's
// text read from sysfs or the mount table.
bool FopenIsOurs(Registry &registry, const std::string &path, bool writing) {
  Lock lock(registry.Mutex());
  const bool cardText =
      !writing && (IsMountTable(path) || IsMountInfo(path) || IsSysfsFile(registry, path));
  return cardText || registry.ByNode(path);
}

FILE *FopenHook(const char *path, const char *mode, bool large) {
  auto real = [&] { return large ? Real().fopen64(path, mode) : Real().fopen(path, mode); };
  Registry &registry = Registry::Get();
  if (IsNull(path) || IsNull(mode) || path[0] != '/' || registry.Empty())
    return real();
  const bool writing = std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+');
  if (!FopenIsOurs(registry, path, writing))
    return real();
  const int fd = OpenHook(AT_FDCWD, path, (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0, false);
  if (fd < 0)
    return nullptr;
  FILE *stream = fdopen(fd, mode);
  if (!stream) {
    const int saved = errno;
    ::close(fd); // through the hook: forgets a node descriptor
    errno = saved;
  }
  return stream;
}

// A node descriptor's close goes into the card's events: how it was opened,
// whether this process keeps the card locked through another descriptor, and
// whether sector 0 holds a pattern (udev re-reads the partition table after
// the close of a writable descriptor unless the disk is locked).
void Forget(int fd) {
  Registry &registry = Registry::Get();
  if (!registry.Ours(fd))
    return;
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (registry.Lookup(fd, entry) && !entry.HostFile) {
    const bool locked = registry.LockHeld(entry.Card, fd);
    entry.Card->RecordEvent("close",
                            std::string("close ") + (entry.Writable ? "writable" : "read-only") +
                                (locked ? " locked" : " unlocked") +
                                (entry.Card->PatternInSectorZero() ? " pattern" : " data"));
    if (entry.LockMode != 0 && !locked)
      entry.Card->RecordEvent("lock", "unlock");
  }
  registry.Remove(fd);
}

// flock on a node descriptor: the lock itself is the real one (the card's
// data is a real file), its changes go into the card's events.
int FlockHook(int fd, int operation) {
  Registry &registry = Registry::Get();
  if (!registry.Ours(fd))
    return Real().flock(fd, operation);
  // A blocking lock waits without the registry's lock held.
  const int rc = Real().flock(fd, operation);
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (rc != 0 || !registry.Lookup(fd, entry) || entry.HostFile)
    return rc;
  const int mode = operation & (LOCK_SH | LOCK_EX | LOCK_UN);
  const int now = mode == LOCK_UN ? 0 : mode;
  if (now != entry.LockMode) {
    entry.Card->RecordEvent("lock", now == LOCK_EX   ? "lock exclusive"
                                    : now == LOCK_SH ? "lock shared"
                                                     : "unlock");
    entry.LockMode = now;
    registry.Add(fd, entry);
  }
  return rc;
}

void Duplicated(int from, int to) {
  Registry &registry = Registry::Get();
  if (to < 0)
    return;
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (registry.Ours(from) && registry.Lookup(from, entry))
    registry.Add(to, entry);
  else if (registry.Ours(to))
    registry.Remove(to);
}

} // namespace
} // namespace sdsim

using namespace sdsim;

extern "C" {

int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(AT_FDCWD, path, flags, mode, false);
}

int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(AT_FDCWD, path, flags, mode, false);
}

int __open_2(const char *path, int flags) { return OpenHook(AT_FDCWD, path, flags, 0, false); }
int __open64_2(const char *path, int flags) { return OpenHook(AT_FDCWD, path, flags, 0, false); }

int openat(int dirFd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(dirFd, path, flags, mode, true);
}

int openat64(int dirFd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(dirFd, path, flags, mode, true);
}

int __openat_2(int dirFd, const char *path, int flags) {
  return OpenHook(dirFd, path, flags, 0, true);
}
int __openat64_2(int dirFd, const char *path, int flags) {
  return OpenHook(dirFd, path, flags, 0, true);
}

FILE *fopen(const char *path, const char *mode) { return FopenHook(path, mode, false); }
FILE *fopen64(const char *path, const char *mode) { return FopenHook(path, mode, true); }

int close(int fd) {
  Forget(fd);
  return Real().close(fd);
}

int flock(int fd, int operation) { return FlockHook(fd, operation); }

int dup(int fd) {
  const int to = Real().dup(fd);
  Duplicated(fd, to);
  return to;
}

int dup2(int fd, int to) {
  const int got = Real().dup2(fd, to);
  if (got >= 0 && fd != to)
    Duplicated(fd, got);
  return got;
}

int dup3(int fd, int to, int flags) {
  const int got = Real().dup3(fd, to, flags);
  Duplicated(fd, got);
  return got;
}

} // extern "C"
