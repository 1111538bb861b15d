// SPDX-License-Identifier: MIT
// TRandomMersenne: the 32-bit Mersenne Twister MT19937 (reference seeding,
// generation and tempering). The configuration loader depends on the exact
// sequence for a given seed.
#pragma once

#include <cstdint>

class TRandomMersenne {
public:
  explicit TRandomMersenne(unsigned int seed);

  void RandomInit(unsigned int seed);
  // Next raw MT19937 output.
  uint32_t BRandom();
  // BRandom() * 2^-32, in [0, 1).
  double Random();
  // min + floor(Random() * (max - min + 1)); always min for the full 32-bit
  // range (the span wraps to 0). No check of max < min.
  unsigned int IRandom(unsigned int min, unsigned int max);
  // Whole 4-byte groups get IRandom(0, 0x7FFFFFFE) in host byte order, the
  // remaining bytes IRandom(0, 254).
  void Generate(unsigned char *buffer, unsigned int length);

private:
  enum { N = 624, M = 397 };
  uint32_t mt[N];
  int32_t mti;
};
