// SPDX-License-Identifier: MIT
#include "sdsmart/data_buf.h"

namespace {

const wchar_t kHexDigits[] = L"0123456789abcdef";

void AppendByte(std::wstring &out, unsigned char b) {
  out += kHexDigits[b >> 4];
  out += kHexDigits[b & 0x0F];
}

void AppendAddress(std::wstring &out, unsigned int address, unsigned int digits) {
  for (unsigned int i = digits; i-- > 0;)
    out += kHexDigits[(address >> (4 * i)) & 0x0F];
}

} // namespace

CDataBuf::CDataBuf(uint32_t perLine, uint32_t group, uint32_t order, bool text, uint32_t ind)
    : bytesPerLine(perLine ? perLine : 1), indent(ind), groupSize(group ? group : 1),
      textColumn(text), groupOrder(order) {}

std::wstring CDataBuf::ToText(const unsigned char *data, unsigned int n) {
  std::wstring out;
  if (groupSize == 1) {
    for (unsigned int i = 0; i < n; ++i) {
      AppendByte(out, data[i]);
      out += L' ';
    }
    return out;
  }
  for (unsigned int done = 0; done < n; done += groupSize) {
    unsigned int k = n - done < groupSize ? n - done : groupSize;
    if (groupOrder != 0) {
      for (unsigned int i = 0; i < k; ++i)
        AppendByte(out, data[done + i]);
    } else {
      for (unsigned int i = k; i-- > 0;)
        AppendByte(out, data[done + i]);
    }
    out += L' ';
    if (n - done <= groupSize)
      break;
  }
  return out;
}

std::wstring CDataBuf::ToAscii(const unsigned char *data, unsigned int n) {
  std::wstring out;
  out.reserve(n);
  for (unsigned int i = 0; i < n; ++i)
    out += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<wchar_t>(data[i]) : L'.';
  return out;
}

std::wstring CDataBuf::Dump(const unsigned char *data, unsigned int len, bool bareFirstLine) {
  if (len == 0)
    return L"\r\n";
  std::wstring out;
  const std::wstring pad(indent, L' ');
  const unsigned int lines = len / bytesPerLine;
  for (unsigned int line = 0; line < lines; ++line, data += bytesPerLine) {
    if (line != 0 || !bareFirstLine)
      out += pad;
    out += ToText(data, bytesPerLine);
    if (textColumn)
      out += L" ;" + ToAscii(data, bytesPerLine);
    out += L"\r\n";
  }
  const unsigned int rest = len % bytesPerLine;
  if (rest != 0) {
    if (lines != 0 || !bareFirstLine)
      out += pad;
    out += ToText(data, rest);
    if (textColumn) {
      out += std::wstring(static_cast<size_t>(2 * groupSize + 1) * (bytesPerLine - rest), L' ');
      out += L" ;" + ToAscii(data, rest);
    }
    out += L"\r\n";
  }
  return out;
}

std::wstring CDataBuf::Dump(unsigned int address, unsigned int len, const unsigned char *data) {
  std::wstring out;
  // Measured in 64 bits so that a dump near the top of the address space
  // still gets the wide column.
  const unsigned int digits = static_cast<uint64_t>(address) + len < 0x10000 ? 4 : 8;
  const std::wstring pad(indent, L' ');
  const unsigned int lines = len / bytesPerLine;
  for (unsigned int line = 0; line < lines; ++line, data += bytesPerLine) {
    out += pad;
    AppendAddress(out, address, digits);
    out += L" : ";
    out += ToText(data, bytesPerLine);
    if (textColumn)
      out += L" ;" + ToAscii(data, bytesPerLine);
    out += L"\r\n";
    address += bytesPerLine / groupSize;
  }
  const unsigned int rest = len % bytesPerLine;
  if (rest != 0) {
    out += pad;
    AppendAddress(out, address, digits);
    out += L" : ";
    out += ToText(data, rest);
    out += std::wstring(static_cast<size_t>(2 * groupSize + 1) * (bytesPerLine - rest), L' ');
    if (textColumn)
      out += L" ;" + ToAscii(data, rest);
    out += L"\r\n";
  }
  return out;
}

uint32_t CDataBuf::BytesPerLine() { return bytesPerLine; }

uint32_t CDataBuf::GroupSize() { return groupSize; }

std::wstring CDataBuf::ToText(unsigned char *data, unsigned int n) {
  return ToText(static_cast<const unsigned char *>(data), n);
}

std::wstring CDataBuf::Dump(unsigned char *data, unsigned int len, bool bareFirstLine) {
  return Dump(static_cast<const unsigned char *>(data), len, bareFirstLine);
}

std::wstring CDataBuf::Dump(unsigned int address, unsigned int len, unsigned char *data) {
  return Dump(address, len, static_cast<const unsigned char *>(data));
}
