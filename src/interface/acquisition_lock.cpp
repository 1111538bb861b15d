// SPDX-License-Identifier: MIT
#include "sdsmart/acquisition_lock.h"
#include "sdsmart/convert.h"
#include "util/error_catalogue.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

CAcquisitionLock::CAcquisitionLock(const std::string &node) {
  // Non-blocking: the lock is taken before the drive opens the node, and
  // opening a FIFO named as the card for reading would wait for a writer.
  do
    fd = open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd == -1 && errno == EINTR);
  if (fd == -1)
    throw MakeError(Errors::DriveNotFound, {ToWideString(node)});

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMilliseconds);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
      return;
    const int error = errno;
    if (error == EINTR)
      continue;
    if (error == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(RetryMilliseconds));
      continue;
    }
    close(fd);
    fd = -1;
    if (error == EWOULDBLOCK)
      throw MakeError(Errors::DeviceBusy, {ToWideString(node)});
    throw MakeError(Errors::DeviceNotLockable, {ToWideString(node)});
  }
}

CAcquisitionLock::~CAcquisitionLock() {
  if (fd != -1)
    close(fd);
}
