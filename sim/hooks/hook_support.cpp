#include "hooks/hook_support.h"

#include "hooks/real_calls.h"

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

} // namespace sdsim
