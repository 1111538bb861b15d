// SPDX-License-Identifier: MIT
// A C++ host of the installed library: the tool's use of a register decoder
// (the capacity of a CSD copy), through the installed public headers alone.
#include <sdsmart/csd.h>

#include <cstdio>
#include <memory>

int main() {
  // An SD CSD 2.0 with C_SIZE 0x3B37: (0x3B37 + 1) x 512 KiB.
  const unsigned char csd[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                                 0x3B, 0x37, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  const std::unique_ptr<CCSD> decoded(CCSD::Create(false, csd));
  const unsigned long long capacity = decoded ? decoded->GetCapacity() : 0;
  std::printf("CSD capacity %llu bytes\n", capacity);
  return capacity == (0x3B37ull + 1) * 512 * 1024 ? 0 : 1;
}
