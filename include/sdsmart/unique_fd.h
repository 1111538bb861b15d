// SPDX-License-Identifier: MIT
// CUniqueFd: owns one POSIX descriptor and closes it on every path.
#pragma once

#include <unistd.h>

class CUniqueFd {
public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) : Fd(fd) {}
  ~CUniqueFd() { Close(); }
  CUniqueFd(const CUniqueFd &) = delete;
  CUniqueFd &operator=(const CUniqueFd &) = delete;
  CUniqueFd(CUniqueFd &&other) noexcept : Fd(other.Release()) {}
  CUniqueFd &operator=(CUniqueFd &&other) noexcept {
    if (this != &other) {
      Close();
      Fd = other.Release();
    }
    return *this;
  }

  int Get() const { return Fd; }
  bool IsOpen() const { return Fd >= 0; }
  // Hands the descriptor over, for a caller that must see close() fail.
  int Release() {
    int fd = Fd;
    Fd = -1;
    return fd;
  }
  void Close() {
    if (Fd >= 0) {
      ::close(Fd);
      Fd = -1;
    }
  }

private:
  int Fd = -1;
};
