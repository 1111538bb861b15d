// SPDX-License-Identifier: MIT
#include "hooks/hook_support.h"

#include "hooks/real_calls.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sdsim {

__attribute__((noinline)) bool IsNull(const void *p) { return p == nullptr; }

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

int ContentFd(const std::string &text, int flags) {
  const int fd = memfd_create("sdsim-text", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
  if (fd < 0)
    return -1;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = Real().write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  Real().lseek(fd, 0, SEEK_SET);
  return fd;
}

void Pause(std::uint32_t us) {
  if (us == 0)
    return;
  const int saved = errno; // the hooked call's own errno is what the caller sees
  timespec until{};
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += us / 1000000;
  until.tv_nsec += static_cast<long>(us % 1000000) * 1000;
  if (until.tv_nsec >= 1000000000) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000;
  }
  // An absolute deadline: a signal handler that interrupts the sleep does not
  // restart the whole delay.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  errno = saved;
}

} // namespace sdsim
