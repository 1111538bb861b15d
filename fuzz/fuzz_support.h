// SPDX-License-Identifier: MIT
// Helpers shared by the fuzz targets: a reader that takes typed values off
// the front of the input, and a file in memory for code that reads by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// A broken promise of the library: print why and abort, so that the fuzzer
// and the replay both stop on it with the input kept.
#define FUZZ_CHECK(cond, what)                                                                     \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__);           \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

class CFuzzInput {
public:
  CFuzzInput(const uint8_t *data, size_t size) : data(data), size(size) {}

  size_t Left() const { return size - pos; }
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  uint32_t Word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v = v << 8 | Byte();
    return v;
  }
  // Copies n bytes; what the input lacks is filled with zeros.
  void Bytes(uint8_t *out, size_t n) {
    const size_t take = n < Left() ? n : Left();
    if (take != 0)
      std::memcpy(out, data + pos, take);
    std::memset(out + take, 0, n - take);
    pos += take;
  }
  // A text of at most max bytes, ended by a zero byte or the input's end.
  std::string Text(size_t max) {
    std::string s;
    while (pos < size && s.size() < max) {
      const char c = static_cast<char>(data[pos++]);
      if (c == '\0')
        break;
      s += c;
    }
    return s;
  }
  // Everything not yet taken.
  std::string Rest() {
    std::string s(reinterpret_cast<const char *>(data + pos), size - pos);
    pos = size;
    return s;
  }

private:
  const uint8_t *data;
  size_t size;
  size_t pos = 0;
};

// A file held in memory, reachable by a path (/proc/self/fd/N) for code that
// opens files by name. Nothing touches the disk.
class CMemoryFile {
public:
  CMemoryFile(const void *bytes, size_t n) {
    fd = memfd_create("sdsmart-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd != -1, "memfd_create");
    const char *p = static_cast<const char *>(bytes);
    while (n != 0) {
      const ssize_t w = write(fd, p, n);
      FUZZ_CHECK(w > 0, "write to the memory file");
      p += w;
      n -= static_cast<size_t>(w);
    }
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  ~CMemoryFile() { close(fd); }
  CMemoryFile(const CMemoryFile &) = delete;
  CMemoryFile &operator=(const CMemoryFile &) = delete;

  const std::string &Path() const { return path; }

private:
  int fd = -1;
  std::string path;
};
