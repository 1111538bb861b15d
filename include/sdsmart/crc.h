// SPDX-License-Identifier: MIT
// The two checksums of the SD/MMC bus: CRC-7 closing the CID and CSD
// registers (and every command frame), CRC-16 of the data lines.
#pragma once

#include <array>

class CCRC7 {
public:
  // The register's closing byte: the CRC-7 (x^7 + x^3 + 1, MSB first, zero
  // start) in bits 7..1 and the end bit 1 in bit 0.
  unsigned int Generate(unsigned char *data, unsigned int length);
  unsigned int Generate(const unsigned char *data, unsigned int length);
};

class CCRC16 {
public:
  // CRC-16/XMODEM: polynomial 0x1021, zero start, MSB first, no final XOR.
  unsigned short Generate(unsigned char *data, unsigned int length);
  unsigned short Generate(const unsigned char *data, unsigned int length);

  // Entry i is the register after feeding byte i into a zero register.
  static const std::array<unsigned short, 256> CRC16Table;
};
