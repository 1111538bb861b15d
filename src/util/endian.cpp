#include "util/endian.h"

unsigned short CEndian::SwapWord(unsigned short v) const {
  return IsBigEndian() ? v : SwapBytes(v);
}

unsigned int CEndian::SwapDWord(unsigned int v) const { return IsBigEndian() ? v : SwapBytes(v); }

void CEndian::SwapWords(unsigned short *p, unsigned int n) const {
  for (unsigned int i = 0; i < n; ++i)
    p[i] = SwapWord(p[i]);
}

void CEndian::SwapDWords(unsigned int *p, unsigned int n) const {
  for (unsigned int i = 0; i < n; ++i)
    p[i] = SwapDWord(p[i]);
}
