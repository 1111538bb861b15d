// SPDX-License-Identifier: MIT
#include "sdsmart/endian.h"

unsigned short CEndian::SwapWord(unsigned short v) { return IsBigEndian() ? v : SwapBytes(v); }

unsigned int CEndian::SwapDWord(unsigned int v) { return IsBigEndian() ? v : SwapBytes(v); }

void CEndian::SwapWords(unsigned short *p, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i)
    p[i] = SwapWord(p[i]);
}

void CEndian::SwapDWords(unsigned int *p, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i)
    p[i] = SwapDWord(p[i]);
}

CEndian::CEndian() : word(1) {}

bool CEndian::IsBigEndian() { return *reinterpret_cast<const unsigned char *>(&word) == 0; }

// Hosts reach the unconditional reversal of 32-bit values by name.
template unsigned int SwapBytes<unsigned int>(unsigned int);
