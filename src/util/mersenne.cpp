// SPDX-License-Identifier: MIT
#include "sdsmart/mersenne.h"

#include <cstring>

TRandomMersenne::TRandomMersenne(unsigned int seed) { RandomInit(seed); }

void TRandomMersenne::RandomInit(unsigned int seed) {
  mt[0] = seed;
  for (uint32_t i = 1; i < N; ++i)
    mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;
  mti = N;
}

uint32_t TRandomMersenne::BRandom() {
  static const uint32_t mag01[2] = {0, 0x9908B0DFu};
  const uint32_t upper = 0x80000000u, lower = 0x7FFFFFFFu;
  if (mti >= N) {
    int kk = 0;
    for (; kk < N - M; ++kk) {
      uint32_t y = (mt[kk] & upper) | (mt[kk + 1] & lower);
      mt[kk] = mt[kk + M] ^ (y >> 1) ^ mag01[y & 1];
    }
    for (; kk < N - 1; ++kk) {
      uint32_t y = (mt[kk] & upper) | (mt[kk + 1] & lower);
      mt[kk] = mt[kk + (M - N)] ^ (y >> 1) ^ mag01[y & 1];
    }
    uint32_t y = (mt[N - 1] & upper) | (mt[0] & lower);
    mt[N - 1] = mt[M - 1] ^ (y >> 1) ^ mag01[y & 1];
    mti = 0;
  }
  uint32_t y = mt[mti++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

double TRandomMersenne::Random() { return BRandom() * 2.3283064365386963e-10; }

unsigned int TRandomMersenne::IRandom(unsigned int min, unsigned int max) {
  const uint32_t span = max - min + 1;
  return min + static_cast<uint32_t>(Random() * span);
}

void TRandomMersenne::Generate(unsigned char *buffer, unsigned int length) {
  unsigned int i = 0;
  for (; i + 4 <= length; i += 4) {
    uint32_t word = IRandom(0, 0x7FFFFFFE);
    std::memcpy(buffer + i, &word, sizeof word);
  }
  for (; i < length; ++i)
    buffer[i] = static_cast<unsigned char>(IRandom(0, 254));
}
