// Helpers of the hardening tests: scratch directories, the configuration the
// virtual card answers to, a snapshot of a directory tree to prove nothing
// was written, and a child process for calls that could block or need other
// credentials.
#pragma once

#include "util/ini_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace hardening {

// A fresh directory under TMPDIR, removed with everything in it.
class ScratchDir {
public:
  ScratchDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/sdsmart-hard-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path = templ;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string File(const std::string &name) const { return path + "/" + name; }
  std::string path;
};

// The scrambled configuration that opens the virtual card's special mode.
inline void WriteCardConfig(const std::string &path, const std::wstring &entry = L"SDSMTEST") {
  const std::wstring name(path.begin(), path.end());
  CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
  ini.WriteInteger(L"Authorization", L"Vendor ID", 4660);
  ini.WriteString(L"SMART Entry", L"4660", entry);
  ini.WriteString(L"Flash Type Name", L"98 3A 98 A3 76 51", L"TLC");
  ini.UpdateFile(name, kConfigFileSeed);
}

inline std::string ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every entry of a tree with its type, size and (for small files) contents:
// equal snapshots mean nothing was created, removed or rewritten.
inline std::map<std::string, std::string> Snapshot(const std::string &dir) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           dir, std::filesystem::directory_options::skip_permission_denied, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec)
      break;
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0)
      continue;
    std::string what = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode) && st.st_size < (1 << 20))
      what += ":" + ReadBytes(it->path());
    out[it->path().string()] = what;
  }
  return out;
}

// Runs body in a child process and returns its exit status; a child still
// running after `seconds` is killed (SIGALRM) and reported as -SIGALRM.
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
  if (WIFSIGNALED(status))
    return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

} // namespace hardening
