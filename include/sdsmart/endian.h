// SPDX-License-Identifier: MIT
// Byte order of card and SCSI data, which is big-endian: on a little-endian
// host the conversions reverse the bytes, on a big-endian host they do nothing.
#pragma once

#include <cstddef>
#include <cstdint>

class CEndian {
public:
  CEndian();
  bool IsBigEndian();
  unsigned short SwapWord(unsigned short v);
  unsigned int SwapDWord(unsigned int v);
  void SwapWords(unsigned short *p, unsigned int n);
  void SwapDWords(unsigned int *p, unsigned int n);

private:
  uint32_t word;
};

// Unconditional byte reversal.
template <typename T> T SwapBytes(T v) {
  unsigned char *b = reinterpret_cast<unsigned char *>(&v);
  for (size_t i = 0; i < sizeof(T) / 2; ++i) {
    unsigned char t = b[i];
    b[i] = b[sizeof(T) - 1 - i];
    b[sizeof(T) - 1 - i] = t;
  }
  return v;
}
