// SPDX-License-Identifier: MIT
// The smallest and largest erase counts of a table that are in use, found
// together: the acquisition needs both, and one pass over a table of up to
// 65536 entries costs half of two.
#pragma once

#include <vector>

struct EraseCountRange {
  unsigned int Min; // 0xFFFFFFFF when no entry is in use
  unsigned int Max; // 0 when no entry is in use
};

// Entries above 0xFFFFFFFD (the marker of a VB not in use) take no part.
EraseCountRange FindEraseCountRange(const std::vector<unsigned int> &counts);
