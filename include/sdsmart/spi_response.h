// SPDX-License-Identifier: MIT
// The SPI-mode responses R1 (one byte) and R2 (R1 followed by a status byte).
#pragma once

#include <string>

class CSpiR1 {
public:
  explicit CSpiR1(unsigned char r1);
  std::wstring Parse(unsigned int indent);

  unsigned char GetR1();

protected:
  unsigned char r1;
};

class CSpiR2 : public CSpiR1 {
public:
  // Two bytes, R1 first.
  explicit CSpiR2(unsigned char *r2);
  explicit CSpiR2(const unsigned char *r2);
  std::wstring Parse(unsigned int indent);

  unsigned char GetStatus();

private:
  unsigned char status;
};
