// SPDX-License-Identifier: MIT
#include "registers/report_text.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace RegisterText {

std::wstring Dec(uint64_t value) {
  std::wostringstream s;
  s.imbue(std::locale::classic());
  s << value;
  return s.str();
}

std::wstring Hex(uint64_t value, unsigned int width) {
  std::wostringstream s;
  s.imbue(std::locale::classic());
  s << std::hex << std::nouppercase << std::setfill(L'0') << std::setw(static_cast<int>(width))
    << value;
  return s.str();
}

} // namespace RegisterText
