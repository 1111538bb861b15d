// SPDX-License-Identifier: MIT
#include "sdsmart/crc.h"

namespace {

constexpr std::array<unsigned short, 256> MakeCrc16Table() {
  std::array<unsigned short, 256> table{};
  for (unsigned int i = 0; i < 256; ++i) {
    unsigned int reg = i << 8;
    for (int bit = 0; bit < 8; ++bit)
      reg = (reg & 0x8000u) ? ((reg << 1) ^ 0x1021u) : (reg << 1);
    table[i] = static_cast<unsigned short>(reg & 0xFFFFu);
  }
  return table;
}

} // namespace

const std::array<unsigned short, 256> CCRC16::CRC16Table = MakeCrc16Table();

unsigned int CCRC7::Generate(const unsigned char *data, unsigned int length) {
  unsigned int reg = 0;
  for (unsigned int i = 0; i < length; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      reg <<= 1;
      if (reg & 0x80u)
        reg ^= 0x89u;
      if ((data[i] >> bit) & 1u)
        reg ^= 0x89u;
    }
  }
  return ((reg & 0x7Fu) << 1) + 1;
}

unsigned short CCRC16::Generate(const unsigned char *data, unsigned int length) {
  unsigned int reg = 0;
  for (unsigned int i = 0; i < length; ++i)
    reg = ((reg << 8) ^ CRC16Table[((reg >> 8) ^ data[i]) & 0xFFu]) & 0xFFFFu;
  return static_cast<unsigned short>(reg);
}

unsigned int CCRC7::Generate(unsigned char *data, unsigned int length) {
  return Generate(static_cast<const unsigned char *>(data), length);
}

unsigned short CCRC16::Generate(unsigned char *data, unsigned int length) {
  return Generate(static_cast<const unsigned char *>(data), length);
}
