// SPDX-License-Identifier: MIT
#include "card/card_storage.h"

#include "hooks/real_calls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsim {

bool WriteAll(int fd, const void *data, std::size_t len, off_t at) {
  const auto *p = static_cast<const std::uint8_t *>(data);
  while (len) {
    const ssize_t n = Real().pwrite(fd, p, len, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n, len -= static_cast<std::size_t>(n), at += n;
  }
  return true;
}

namespace {

// A program started with a standard descriptor closed must not find the
// card's storage there (its output would land on the card).
int AboveStandardDescriptors(int fd) {
  if (fd < 0 || fd > 2)
    return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  Real().close(fd);
  return moved;
}

} // namespace

CardStorage::CardStorage(const CardConfig &config) {
  const off_t bytes = static_cast<off_t>(config.CapacitySectors * kSector);
  bool fresh = true;
  if (!config.Image.empty()) {
    DataFd = AboveStandardDescriptors(
        Real().open(config.Image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (DataFd < 0)
      throw std::runtime_error("sdsim: cannot open card image " + config.Image + ": " +
                               std::strerror(errno));
    struct stat st {};
    if (fstat(DataFd, &st) == 0 && st.st_size > 0)
      fresh = false;
    if (st.st_size < bytes && ftruncate(DataFd, bytes) != 0) {
      Real().close(DataFd);
      throw std::runtime_error("sdsim: cannot size card image " + config.Image);
    }
    DataPath = config.Image;
  } else {
    DataFd = AboveStandardDescriptors(memfd_create(("sdsim:" + config.Node).c_str(), MFD_CLOEXEC));
    if (DataFd < 0 || ftruncate(DataFd, bytes) != 0) {
      if (DataFd >= 0)
        Real().close(DataFd);
      throw std::runtime_error("sdsim: cannot create the card's memory: " +
                               std::string(std::strerror(errno)));
    }
    DataPath = "/proc/self/fd/" + std::to_string(DataFd);
  }
  if (fresh)
    Write(0, 1, config.Sector0.data());
}

CardStorage::~CardStorage() {
  if (DataFd >= 0)
    Real().close(DataFd);
}

int CardStorage::OpenDescriptor(int flags) const {
  // A block device node takes no creation flags; O_TRUNC must never reach the
  // backing image.
  const int keep = O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_SYNC | O_DSYNC | O_NOATIME;
  return Real().open(DataPath.c_str(), flags & keep);
}

void CardStorage::Read(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const {
  std::size_t len = std::size_t{count} * kSector;
  off_t at = static_cast<off_t>(lba * kSector);
  while (len) {
    const ssize_t n = Real().pread(DataFd, out, len, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      std::memset(out, 0, len);
      return;
    }
    out += n, len -= static_cast<std::size_t>(n), at += n;
  }
}

void CardStorage::Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in) {
  WriteAll(DataFd, in, std::size_t{count} * kSector, static_cast<off_t>(lba * kSector));
}

} // namespace sdsim
