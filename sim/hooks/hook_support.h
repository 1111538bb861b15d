// SPDX-License-Identifier: MIT
// Small helpers shared by the interposed C library calls (hooks/*.cpp).
#pragma once

#include "registry/registry.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace sdsim {

using Lock = std::lock_guard<std::recursive_mutex>;

// Arguments the C library declares non-null may still be null at run time.
bool IsNull(const void *p);
bool StartsWith(const std::string &text, const char *prefix);
// A descriptor holding fixed text, read like a file.
int ContentFd(const std::string &text, int flags);
// A read-only stream of fixed text, which it owns: read, seek and closed like
// a file's, but with no descriptor behind it (fileno gives -1).
FILE *TextStream(std::string text);
// The card's latency: sleeps `us` microseconds of the monotonic clock (signals
// do not shorten it). Called with no lock held.
void Pause(std::uint32_t us);

} // namespace sdsim
