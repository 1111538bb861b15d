// A private scratch directory per test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

struct TempDir {
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    path = std::string(base && *base ? base : "/tmp") + "/sdsmart-util-XXXXXX";
    if (mkdtemp(&path[0]) == nullptr)
      ADD_FAILURE() << "mkdtemp failed";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  std::string File(const std::string &name) const { return path + "/" + name; }
  std::wstring WideFile(const std::string &name) const {
    const std::string p = File(name);
    return std::wstring(p.begin(), p.end());
  }
  std::string path;
};
