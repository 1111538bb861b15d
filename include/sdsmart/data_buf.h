// SPDX-License-Identifier: MIT
// Hex dumps of byte buffers as wide text: fixed-width lines of lower-case hex
// units, optionally with an address column and a printable-character column.
// Every line ends with "\r\n".
#pragma once

#include <cstdint>
#include <string>

class CDataBuf {
public:
  // bytesPerLine and groupSize of 0 are taken as 1. groupOrder non-zero shows
  // a group's bytes in memory order, zero from last to first.
  CDataBuf(uint32_t bytesPerLine, uint32_t groupSize, uint32_t groupOrder, bool textColumn,
           uint32_t indent);

  // The n bytes as hex units, each followed by one space.
  std::wstring ToText(unsigned char *data, unsigned int n);
  std::wstring ToText(const unsigned char *data, unsigned int n);
  // One character per byte: the byte when printable (ASCII), else '.'.
  std::wstring ToAscii(const unsigned char *data, unsigned int n);
  // Lines without address column; bareFirstLine leaves out the first indent.
  // len 0 gives "\r\n".
  std::wstring Dump(unsigned char *data, unsigned int len, bool bareFirstLine);
  std::wstring Dump(const unsigned char *data, unsigned int len, bool bareFirstLine);
  // Lines with an address column counting units; len 0 gives "".
  std::wstring Dump(unsigned int address, unsigned int len, unsigned char *data);
  std::wstring Dump(unsigned int address, unsigned int len, const unsigned char *data);

  uint32_t BytesPerLine();
  uint32_t GroupSize();

private:
  uint32_t bytesPerLine;
  uint32_t indent;
  uint32_t groupSize;
  bool textColumn;
  uint32_t groupOrder;
};
