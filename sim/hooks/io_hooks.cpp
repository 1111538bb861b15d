// SPDX-License-Identifier: MIT
// Reads, writes and ioctls on a card's descriptors: node I/O is plain block
// I/O on the stored sectors, ioctls go to the card's transport, and every
// read or write of the host file is one host-file step.
#include "hooks/hook_support.h"
#include "hooks/real_calls.h"
#include "transport/targets.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <linux/fs.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sdsim {
namespace {

bool Aligned(const FdEntry &entry, const void *buf, std::size_t len, off_t at) {
  if (!entry.ODirect)
    return true;
  return reinterpret_cast<std::uintptr_t>(buf) % 512 == 0 && len % 512 == 0 && at % 512 == 0;
}

std::uint32_t Sectors(std::size_t len) { return static_cast<std::uint32_t>((len + 511) / 512); }

// Host-file and node I/O, the same for reads and writes: `transfer` makes the
// real call, `describe` names the completed host-file step for the transcript.
// `latency` receives the delay the step owes (a host-file step only).
template <typename Transfer, typename Describe>
ssize_t FileIoLocked(int fd, const void *buf, std::size_t len, off_t at, bool positioned,
                     const char *op, Transfer transfer, Describe describe, std::uint32_t &latency) {
  Registry &registry = Registry::Get();
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (!registry.Lookup(fd, entry))
    return transfer();
  if (!entry.HostFile) {
    if (entry.Card->Vanished()) {
      errno = EIO;
      return -1;
    }
    return transfer(); // plain block I/O on the stored sectors
  }
  const off_t pos = positioned ? at : Real().lseek(fd, 0, SEEK_CUR);
  latency = entry.Card->Config().FileStepLatencyUs;
  if (entry.Card->BeginFileStep()) {
    entry.Card->Record(op, static_cast<std::uint32_t>(pos / 512), Sectors(len), "file failed");
    errno = EIO;
    return -1;
  }
  if (!Aligned(entry, buf, len, pos)) {
    errno = EINVAL;
    return -1;
  }
  const ssize_t done = transfer();
  if (entry.Card->Replayer())
    return entry.Card->ReplayFileStep(op[0] == 'w', static_cast<std::uint64_t>(pos),
                                      const_cast<void *>(buf), len, done);
  entry.Card->Record(op, static_cast<std::uint32_t>(pos / 512), Sectors(len),
                     describe(entry, pos, done));
  return done;
}

template <typename Transfer, typename Describe>
ssize_t FileIoHook(int fd, const void *buf, std::size_t len, off_t at, bool positioned,
                   const char *op, Transfer transfer, Describe describe) {
  if (!Registry::Get().Ours(fd))
    return transfer();
  std::uint32_t latency = 0;
  const ssize_t result =
      FileIoLocked(fd, buf, len, at, positioned, op, transfer, describe, latency);
  Pause(latency); // after the lock is released: other cards keep answering
  return result;
}

ssize_t ReadHook(int fd, void *buf, std::size_t len, off_t at, bool positioned) {
  return FileIoHook(
      fd, buf, len, at, positioned, "read",
      [&] { return positioned ? Real().pread(fd, buf, len, at) : Real().read(fd, buf, len); },
      [](const FdEntry &, off_t, ssize_t) { return std::string("file readback"); });
}

ssize_t WriteHook(int fd, const void *buf, std::size_t len, off_t at, bool positioned) {
  return FileIoHook(
      fd, buf, len, at, positioned, "write",
      [&] { return positioned ? Real().pwrite(fd, buf, len, at) : Real().write(fd, buf, len); },
      [&](const FdEntry &entry, off_t pos, ssize_t put) {
        if (put > 0 && pos >= 0)
          return entry.Card->FileWritten(fd, static_cast<std::uint64_t>(pos),
                                         static_cast<const std::uint8_t *>(buf),
                                         static_cast<std::size_t>(put));
        return std::string("file write");
      });
}

// The block device ioctls a card's node answers; -1 with ENOTTY for others.
int BlockIoctl(const CardState &card, unsigned long request, void *arg) {
  const std::uint64_t sectors = card.Config().CapacitySectors;
  switch (request) {
  case BLKGETSIZE64:
  case BLKGETSIZE:
  case BLKSSZGET:
  case BLKPBSZGET:
  case BLKROGET:
    if (!arg) {
      errno = EFAULT;
      return -1;
    }
    if (request == BLKGETSIZE64)
      *static_cast<std::uint64_t *>(arg) = sectors * 512;
    else if (request == BLKGETSIZE)
      *static_cast<unsigned long *>(arg) = static_cast<unsigned long>(sectors);
    else if (request == BLKROGET)
      *static_cast<int *>(arg) = 0;
    else
      *static_cast<int *>(arg) = 512;
    return 0;
  case BLKFLSBUF:
    return 0;
  default:
    errno = ENOTTY;
    return -1;
  }
}

// The card's answer to an ioctl on one of its descriptors; `latency`
// receives the delay owed by a transfer that reached the card.
int CardIoctl(int fd, unsigned long request, void *arg, std::uint32_t &latency) {
  Registry &registry = Registry::Get();
  Lock lock(registry.Mutex());
  FdEntry entry;
  if (!registry.Lookup(fd, entry) || entry.HostFile)
    return Real().ioctl(fd, request, arg);
  CardState &card = *entry.Card;
  if (request == BLKRRPART) {
    // Recorded, never acted on: the card has no partitions of its own.
    card.RecordEvent("ioctl", "reread partitions");
    return 0;
  }
  if (card.Vanished()) {
    errno = ENODEV;
    return -1;
  }
  const std::uint64_t before = card.TransferCount();
  int result = 0;
  if (request == SG_IO && !card.IsNative()) {
    result = card.Replayer() ? ReplayIoctl(card, true, arg) : ScsiIoctl(card, arg);
  } else if (request == MMC_IOC_CMD && card.IsNative()) {
    result = card.Replayer() ? ReplayIoctl(card, false, arg) : MmcIoctl(card, arg);
  } else if (request == SG_IO || request == MMC_IOC_CMD) {
    errno = ENOTTY;
    return -1;
  } else {
    return BlockIoctl(card, request, arg);
  }
  // Requests refused before they reach the card take no index and no time.
  if (card.TransferCount() != before)
    latency = card.Config().TransferLatencyUs;
  return result;
}

} // namespace
} // namespace sdsim

using namespace sdsim;

extern "C" {

ssize_t read(int fd, void *buf, size_t len) { return ReadHook(fd, buf, len, 0, false); }
ssize_t write(int fd, const void *buf, size_t len) { return WriteHook(fd, buf, len, 0, false); }
ssize_t pread(int fd, void *buf, size_t len, off_t at) { return ReadHook(fd, buf, len, at, true); }
ssize_t pread64(int fd, void *buf, size_t len, off_t at) {
  return ReadHook(fd, buf, len, at, true);
}
ssize_t pwrite(int fd, const void *buf, size_t len, off_t at) {
  return WriteHook(fd, buf, len, at, true);
}
ssize_t pwrite64(int fd, const void *buf, size_t len, off_t at) {
  return WriteHook(fd, buf, len, at, true);
}

// SG_IO on a native card and MMC_IOC_CMD on a reader card fail with ENOTTY,
// as on the kernel.
int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  if (!Registry::Get().Ours(fd))
    return Real().ioctl(fd, request, arg);
  std::uint32_t latency = 0;
  const int result = CardIoctl(fd, request, arg, latency);
  Pause(latency); // after the lock is released: other cards keep answering
  return result;
}

} // extern "C"
