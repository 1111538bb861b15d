// SPDX-License-Identifier: MIT
// The wall clock of the program: with SDSIM_NOW (seconds since the epoch)
// set, time(), gettimeofday() and clock_gettime() on the real-time clocks
// answer that instant, so that a test can place runs at any date. Monotonic
// and CPU clocks, and every call without SDSIM_NOW, go to the C library.
#include "hooks/hook_support.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <sys/time.h>

namespace {

// The set instant, false when there is none (or it is no number).
bool FixedNow(time_t &now) {
  const char *text = std::getenv("SDSIM_NOW");
  if (!text || !*text)
    return false;
  char *end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0')
    return false;
  now = static_cast<time_t>(value);
  return true;
}

bool IsWallClock(clockid_t clock) {
  return clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE;
}

template <typename F> F Real(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

time_t time(time_t *out) noexcept {
  time_t now = 0;
  if (!FixedNow(now)) {
    static const auto real = Real<time_t (*)(time_t *)>("time");
    return real(out);
  }
  if (out)
    *out = now;
  return now;
}

int clock_gettime(clockid_t clock, struct timespec *ts) noexcept {
  time_t now = 0;
  if (!IsWallClock(clock) || !FixedNow(now)) {
    static const auto real = Real<int (*)(clockid_t, struct timespec *)>("clock_gettime");
    return real(clock, ts);
  }
  if (sdsim::IsNull(ts)) {
    errno = EFAULT;
    return -1;
  }
  ts->tv_sec = now;
  ts->tv_nsec = 0;
  return 0;
}

int gettimeofday(struct timeval *tv, void *tz) noexcept {
  time_t now = 0;
  if (!FixedNow(now)) {
    static const auto real = Real<int (*)(struct timeval *, void *)>("gettimeofday");
    return real(tv, tz);
  }
  if (!sdsim::IsNull(tv)) {
    tv->tv_sec = now;
    tv->tv_usec = 0;
  }
  return 0;
}

} // extern "C"
