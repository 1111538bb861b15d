// SPDX-License-Identifier: MIT
// Building blocks of the register reports: every line starts with the
// caller's indentation and ends with "\r\n"; numbers are plain decimal and
// hexadecimal is lowercase, whatever locale the host has set.
#pragma once

#include <cstdint>
#include <string>

namespace RegisterText {

class CReportText {
public:
  explicit CReportText(unsigned int indent) : indent(indent, L' ') {}

  // One whole line: the indentation, the text and the line end.
  CReportText &Line(const std::wstring &text) {
    out += indent;
    out += text;
    out += L"\r\n";
    return *this;
  }
  // Text that carries its own indentation and line ends (hex dumps).
  CReportText &Raw(const std::wstring &text) {
    out += text;
    return *this;
  }
  const std::wstring &Text() const { return out; }

private:
  std::wstring indent;
  std::wstring out;
};

std::wstring Dec(uint64_t value);
// Lowercase hexadecimal, zero-padded to at least `width` digits.
std::wstring Hex(uint64_t value, unsigned int width = 0);
// Picks a table entry; an index past the end gives the fallback.
template <size_t N>
const wchar_t *TableText(const wchar_t *const (&table)[N], uint64_t index,
                         const wchar_t *fallback = L"reserved") {
  return index < N ? table[index] : fallback;
}

} // namespace RegisterText
