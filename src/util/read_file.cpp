// SPDX-License-Identifier: MIT
#include "sdsmart/read_file.h"
#include "sdsmart/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool ReadWholeFileBounded(const std::string &path, std::string &text, std::size_t limit) {
  const CUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsOpen())
    return false;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return false;
    if (n == 0)
      return true;
    text.append(buf, static_cast<std::size_t>(n));
    if (text.size() > limit) {
      errno = EFBIG;
      return false;
    }
  }
}
