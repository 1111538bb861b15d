// SPDX-License-Identifier: MIT
// How far a long read of a card has come, on a terminal: a scan of a large
// card at a slow reader takes tens of seconds. Shown on standard error once
// the scan has run a while, and only when standard error is a terminal;
// nothing otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace sdsmart_tool {

class ScanProgress {
public:
  // `what`: "searching /dev/sdb for file systems"; `capacity` in sectors.
  ScanProgress(std::string what, uint64_t capacity, int fd);
  ~ScanProgress() { Done(); }
  ScanProgress(const ScanProgress &) = delete;
  ScanProgress &operator=(const ScanProgress &) = delete;

  // The scan reads at `lba`.
  void At(uint64_t lba);
  // Clears the line, if one was shown; nothing is shown after it.
  void Done();

private:
  using Clock = std::chrono::steady_clock;
  std::string What;
  uint64_t Capacity;
  int Fd;
  bool Terminal;
  bool Shown = false;
  uint64_t Furthest = 0;
  Clock::time_point Start, Last;
};

} // namespace sdsmart_tool
