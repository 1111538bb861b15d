// A private scratch directory per test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

class TempDir {
public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sdsmart-util-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
      ADD_FAILURE() << "mkdtemp failed";
    path = pattern;
  }
  ~TempDir() {
    if (DIR *d = opendir(path.c_str())) {
      while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
          unlink((path + "/" + name).c_str());
      }
      closedir(d);
    }
    rmdir(path.c_str());
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  std::string File(const std::string &name) const { return path + "/" + name; }
  std::wstring WideFile(const std::string &name) const {
    std::string p = File(name);
    return std::wstring(p.begin(), p.end());
  }

private:
  std::string path;
};
