// SPDX-License-Identifier: MIT
// Runs files, or every file of directories, through a fuzz target without
// the fuzzer, so that a crash found by fuzzing reproduces in any build
// (including the ordinary sanitizer build of the test suite).
//
//   <target>_replay FILE_OR_DIR...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

bool RunFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  return true;
}

// Files of a directory in name order, so that runs are repeatable.
bool RunPath(const std::string &path, unsigned &count) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: no such file or directory: %s\n", path.c_str());
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    ++count;
    return RunFile(path);
  }
  struct dirent **names = nullptr;
  const int n = scandir(path.c_str(), &names, nullptr, alphasort);
  if (n < 0)
    return false;
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    const std::string name = names[i]->d_name;
    free(names[i]);
    if (name == "." || name == ".." || name.rfind(".", 0) == 0)
      continue;
    ok = RunPath(path + "/" + name, count) && ok;
  }
  free(names);
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize)
    LLVMFuzzerInitialize(&argc, &argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIR...\n", argv[0]);
    return 2;
  }
  bool ok = true;
  unsigned count = 0;
  for (int i = 1; i < argc; ++i)
    ok = RunPath(argv[i], count) && ok;
  std::fprintf(stderr, "replay: %u inputs, no crash\n", count);
  return ok ? 0 : 1;
}
