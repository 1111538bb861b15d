// SPDX-License-Identifier: MIT
#include "hooks/hook_support.h"

#include "hooks/real_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace sdsim {
namespace {

struct TextCookie {
  std::string Text;
  std::size_t Position = 0;
};

ssize_t TextRead(void *cookie, char *buffer, std::size_t size) {
  auto &c = *static_cast<TextCookie *>(cookie);
  if (c.Position >= c.Text.size())
    return 0;
  const std::size_t n = std::min(size, c.Text.size() - c.Position);
  std::memcpy(buffer, c.Text.data() + c.Position, n);
  c.Position += n;
  return static_cast<ssize_t>(n);
}

// As lseek on a file: any position at or after the start, beyond the end too.
int TextSeek(void *cookie, off64_t *offset, int whence) {
  auto &c = *static_cast<TextCookie *>(cookie);
  off64_t base = 0;
  if (whence == SEEK_CUR)
    base = static_cast<off64_t>(c.Position);
  else if (whence == SEEK_END)
    base = static_cast<off64_t>(c.Text.size());
  else if (whence != SEEK_SET) {
    errno = EINVAL;
    return -1;
  }
  off64_t to = 0;
  if (__builtin_add_overflow(base, *offset, &to) || to < 0) {
    errno = EINVAL;
    return -1;
  }
  c.Position = static_cast<std::size_t>(to);
  *offset = to;
  return 0;
}

int TextClose(void *cookie) {
  delete static_cast<TextCookie *>(cookie);
  return 0;
}

} // namespace

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

FILE *TextStream(std::string text) {
  auto cookie = std::make_unique<TextCookie>();
  cookie->Text = std::move(text);
  FILE *stream = fopencookie(cookie.get(), "r", {TextRead, nullptr, TextSeek, TextClose});
  if (stream)
    cookie.release(); // the stream's close frees it
  return stream;
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
