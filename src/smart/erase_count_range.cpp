// SPDX-License-Identifier: MIT
#include "smart/erase_count_range.h"

#include <cstddef>

// Built twice, for processors with AVX2 (unsigned 32-bit minimum and maximum
// in one instruction, 8 lanes) and for every other; the loader picks one.
// The clones stay inside this file: callers elsewhere see one plain function,
// whatever the compiler names the clones.
namespace {

__attribute__((target_clones("avx2", "default"))) EraseCountRange
FindRange(const unsigned int *counts, std::size_t n) {
  // Plain minimum and maximum reductions, which the compiler vectorises. The
  // markers (0xFFFFFFFE, 0xFFFFFFFF) lie above every count in use, so the
  // minimum of all entries is the minimum in use when there is one; shifted
  // up by 2 they wrap to 0 and 1, below every count in use, for the maximum.
  unsigned int low = 0xFFFFFFFF;
  unsigned int shiftedHigh = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned int v = counts[i];
    low = v < low ? v : low;
    const unsigned int shifted = v + 2;
    shiftedHigh = shifted > shiftedHigh ? shifted : shiftedHigh;
  }
  return {low <= 0xFFFFFFFD ? low : 0xFFFFFFFF, shiftedHigh >= 2 ? shiftedHigh - 2 : 0};
}

} // namespace

EraseCountRange FindEraseCountRange(const std::vector<unsigned int> &counts) {
  return FindRange(counts.data(), counts.size());
}
