// SPDX-License-Identifier: MIT
// Reading a whole file through a descriptor, with a bound on its size.
#pragma once

#include <cstddef>
#include <string>

// Appends the file's bytes to text. False with errno set when the file cannot
// be opened or read, or (EFBIG) when it holds more than limit bytes.
bool ReadWholeFileBounded(const std::string &path, std::string &text, std::size_t limit);
