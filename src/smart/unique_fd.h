// CUniqueFd: owns one POSIX descriptor and closes it on every path.
#pragma once

#include <unistd.h>

class CUniqueFd {
public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) : fd(fd) {}
  ~CUniqueFd() { Close(); }
  CUniqueFd(const CUniqueFd &) = delete;
  CUniqueFd &operator=(const CUniqueFd &) = delete;
  CUniqueFd(CUniqueFd &&other) noexcept : fd(other.fd) { other.fd = -1; }
  CUniqueFd &operator=(CUniqueFd &&other) noexcept {
    if (this != &other) {
      Close();
      fd = other.fd;
      other.fd = -1;
    }
    return *this;
  }

  int Get() const { return fd; }
  bool IsOpen() const { return fd >= 0; }
  void Close() {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }

private:
  int fd = -1;
};
