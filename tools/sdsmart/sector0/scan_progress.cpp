// SPDX-License-Identifier: MIT
#include "sector0/scan_progress.h"

#include <cstdio>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

// Quiet for the first seconds, then refreshed a few times a second.
constexpr auto kQuietFor = std::chrono::seconds(2);
constexpr auto kEvery = std::chrono::milliseconds(250);

void Put(int fd, const std::string &text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      return; // a progress line is not worth a failure
    done += static_cast<size_t>(n);
  }
}

} // namespace

ScanProgress::ScanProgress(std::string what, uint64_t capacity, int fd)
    : What(std::move(what)), Capacity(capacity), Fd(fd), Terminal(::isatty(fd) == 1),
      Start(Clock::now()), Last(Start) {}

void ScanProgress::At(uint64_t lba) {
  if (!Terminal || Capacity == 0 || lba < Furthest)
    return;
  Furthest = lba;
  const Clock::time_point now = Clock::now();
  if (now - Start < kQuietFor || (Shown && now - Last < kEvery))
    return;
  Last = now;
  char line[160];
  std::snprintf(line, sizeof line, "\r%s: %.1f of %.1f GiB (%d%%)", What.c_str(),
                static_cast<double>(lba) / (2048 * 1024),
                static_cast<double>(Capacity) / (2048 * 1024),
                static_cast<int>(lba * 100 / Capacity));
  Put(Fd, line);
  Shown = true;
}

void ScanProgress::Done() {
  if (Shown)
    Put(Fd, "\r\033[K");
  Shown = false;
  Terminal = false; // the reads after the scan are no part of it
}

} // namespace sdsmart_tool
