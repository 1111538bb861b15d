// Preloaded into sdsmart ahead of the card library (libsdsim.so): kills the
// process with SIGKILL before host-file step N, where N is the value of
// SDSMART_CRASH_FILE_STEP. Steps are counted as the card counts them: every
// read, write, pread and pwrite on the extension-mode host file
// (".../SmartFile6459.txt"). The card's own Kill fault only concerns ioctl
// transfers; this gives the host-file steps of a version-3 run the same
// treatment. Every call goes on to the next definition (the card library,
// then the C library) unchanged.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr const char kHostFile[] = "/SmartFile6459.txt";

std::atomic<int> g_host_fd{-1};
std::atomic<long> g_steps{0};

template <typename F> F Next(const char *name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// The next definition of a function, looked up once.
#define NEXT(type, name)                                                                           \
  static const auto next = Next<type>(name);                                                       \
  if (!next) {                                                                                     \
    errno = ENOSYS;                                                                                \
    return -1;                                                                                     \
  }

long Target() {
  static const long target = [] {
    const char *v = std::getenv("SDSMART_CRASH_FILE_STEP");
    return v && *v ? std::strtol(v, nullptr, 10) : -1L;
  }();
  return target;
}

bool IsHostFile(const char *path) {
  if (!path)
    return false;
  const size_t n = std::strlen(path), m = sizeof kHostFile - 1;
  return n >= m && std::strcmp(path + n - m, kHostFile) == 0;
}

void Opened(const char *path, int fd) {
  if (fd >= 0 && IsHostFile(path))
    g_host_fd = fd;
}

// Before step n of the host file: die when n is the target.
void Step(int fd) {
  if (fd < 0 || fd != g_host_fd.load())
    return;
  if (g_steps++ == Target())
    ::kill(::getpid(), SIGKILL);
}

mode_t ModeOf(int flags, va_list ap) {
  return (flags & (O_CREAT | __O_TMPFILE)) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeOf(flags, ap);
  va_end(ap);
  NEXT(int (*)(const char *, int, ...), "open");
  const int fd = next(path, flags, mode);
  Opened(path, fd);
  return fd;
}

int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeOf(flags, ap);
  va_end(ap);
  NEXT(int (*)(const char *, int, ...), "open64");
  const int fd = next(path, flags, mode);
  Opened(path, fd);
  return fd;
}

int close(int fd) {
  int expected = fd;
  g_host_fd.compare_exchange_strong(expected, -1);
  NEXT(int (*)(int), "close");
  return next(fd);
}

ssize_t read(int fd, void *buf, size_t len) {
  Step(fd);
  NEXT(ssize_t(*)(int, void *, size_t), "read");
  return next(fd, buf, len);
}

ssize_t write(int fd, const void *buf, size_t len) {
  Step(fd);
  NEXT(ssize_t(*)(int, const void *, size_t), "write");
  return next(fd, buf, len);
}

ssize_t pread(int fd, void *buf, size_t len, off_t at) {
  Step(fd);
  NEXT(ssize_t(*)(int, void *, size_t, off_t), "pread");
  return next(fd, buf, len, at);
}

ssize_t pwrite(int fd, const void *buf, size_t len, off_t at) {
  Step(fd);
  NEXT(ssize_t(*)(int, const void *, size_t, off_t), "pwrite");
  return next(fd, buf, len, at);
}

ssize_t pread64(int fd, void *buf, size_t len, off64_t at) {
  Step(fd);
  NEXT(ssize_t(*)(int, void *, size_t, off64_t), "pread64");
  return next(fd, buf, len, at);
}

ssize_t pwrite64(int fd, const void *buf, size_t len, off64_t at) {
  Step(fd);
  NEXT(ssize_t(*)(int, const void *, size_t, off64_t), "pwrite64");
  return next(fd, buf, len, at);
}

} // extern "C"
