// SPDX-License-Identifier: MIT
// What the test areas share: scratch directories, files, big-endian bytes,
// child processes. Everything lives in namespace sdtest.
#pragma once

#include "sdsmart/error.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace sdtest {

using Sector = std::array<std::uint8_t, 512>;

// A fresh directory under TMPDIR, removed with everything in it.
class ScratchDir {
public:
  ScratchDir() {
    const char *base = std::getenv("TMPDIR");
    path = std::string(base && *base ? base : "/tmp") + "/sdsmart-test-XXXXXX";
    if (mkdtemp(path.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string File(const std::string &name) const { return path + "/" + name; }
  std::wstring WideFile(const std::string &name) const {
    const std::string p = File(name);
    return std::wstring(p.begin(), p.end());
  }
  std::string path;
};

// Puts the working directory back when it goes out of scope.
class CwdGuard {
public:
  CwdGuard() = default;
  ~CwdGuard() {
    if (fd != -1) {
      [[maybe_unused]] const int rc = fchdir(fd);
      close(fd);
    }
  }
  CwdGuard(const CwdGuard &) = delete;
  CwdGuard &operator=(const CwdGuard &) = delete;

private:
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
};

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool Exists(const std::string &path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

inline int OpenDescriptorCount() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d))
      ++n;
    closedir(d);
  }
  return n;
}

// The code and text of the CError a call throws (code 0 when it throws none).
struct Caught {
  int64_t code = 0;
  std::wstring text;
  bool operator==(const Caught &o) const { return code == o.code && text == o.text; }
  friend std::ostream &operator<<(std::ostream &os, const Caught &c) {
    return os << c.code << " \"" << std::string(c.text.begin(), c.text.end()) << "\"";
  }
};
template <typename F> Caught CatchError(F &&call) {
  try {
    call();
  } catch (const CError &e) {
    return {e.GetCode(), e.GetText()};
  }
  return {};
}

// Big-endian fields, as the card stores them.
inline void PutBe16(unsigned char *p, size_t at, unsigned v) {
  p[at] = static_cast<unsigned char>(v >> 8);
  p[at + 1] = static_cast<unsigned char>(v);
}
inline void PutBe32(unsigned char *p, size_t at, unsigned v) {
  PutBe16(p, at, v >> 16);
  PutBe16(p, at + 2, v & 0xFFFF);
}

// Long expected texts live in golden files under tests/data. After a
// deliberate change, rewrite them with SDSMART_REGENERATE=1 and the test
// filter, e.g.
//   SDSMART_REGENERATE=1 build-asan/tests/registers_tests --gtest_filter='Reports.*'
// and review the difference like code.
inline void ExpectGolden(const std::string &name, const std::string &text) {
  const std::string path = std::string(SDSMART_TEST_DATA) + "/" + name;
  if (std::getenv("SDSMART_REGENERATE"))
    WriteFile(path, text);
  EXPECT_EQ(text, ReadFile(path)) << "differs from " << path;
}

// Runs a shell command; its exit status (128 + signal when killed), with
// standard output in *out when asked for.
inline int RunShell(const std::string &command, std::string *out = nullptr) {
  std::fflush(nullptr);
  FILE *p = popen(command.c_str(), "r");
  if (!p)
    return -1;
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
    text.append(buf, n);
  const int status = pclose(p);
  if (out)
    *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs body in a child process and returns its exit status (-signal when
// killed); the child is killed after `seconds` if it hangs.
template <typename F> int RunInChild(F &&body, unsigned int seconds) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  if (pid < 0)
    return -1000;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace sdtest
