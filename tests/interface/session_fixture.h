// Helpers of the interface tests: a session put back to its load-time state,
// scratch directories, and configuration files written the way the vendor
// tool writes them (the library's INI writer, scrambled with the fixed seed).
#pragma once

#include "interface/session.h"
#include "util/ini_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace sdsmart_test {

using ConfigSections = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

// Writes sections as the configuration file at path, scrambled unless plain.
inline void WriteConfig(const std::string &path, const ConfigSections &sections,
                        bool plain = false) {
  const std::wstring name(path.begin(), path.end());
  CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
  for (const auto &section : sections)
    for (const auto &entry : section.second)
      ini.WriteString(section.first, entry.first, entry.second);
  if (plain)
    ini.UpdateFile(name);
  else
    ini.UpdateFile(name, kConfigFileSeed);
}

// A fresh directory under TMPDIR, removed with everything in it.
struct ScratchDir {
  ScratchDir() {
    const char *base = std::getenv("TMPDIR");
    path = std::string(base && *base ? base : "/tmp") + "/sdsmart-iface-XXXXXX";
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
  std::string path;
};

// Restores the working directory when it goes out of scope.
struct CwdGuard {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  CwdGuard() = default;
  ~CwdGuard() {
    if (fd != -1) {
      [[maybe_unused]] const int rc = fchdir(fd);
      close(fd);
    }
  }
  CwdGuard(const CwdGuard &) = delete;
  CwdGuard &operator=(const CwdGuard &) = delete;
};

// Puts every session value the tests touch back to its load-time state.
inline void ResetSession() {
  _DiskName.clear();
  _IsUsbDevice = 1;
  _AppExePath.clear();
  _ConfigPath.clear();
  _AuthorCode = 0;
  _EntryStr.clear();
  _SmartVerSupport = 2;
  _ExternelSDKName.clear();
  _UseExternelSDKName = false;
  _FuncSel = 5;
  _Terminated = false;
  _Header = _SMART_INFO_HEADER{};
  _ECCUncorrectableCnt = 0;
  _EraseCount.clear();
  _ReadCount.clear();
  _MinEraseCount = 0;
  _MaxEraseCount = 0;
  _FlashType.clear();
  _FlashID.clear();
  _Error = CError();
}

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSession(); }
  void TearDown() override { ResetSession(); }
};

} // namespace sdsmart_test
