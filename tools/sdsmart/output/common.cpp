// SPDX-License-Identifier: MIT
#include "output/output.h"

#include <cstdio>

namespace sdsmart_tool {

std::string Printable(const std::string &s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s)
    out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

std::string HexBytes(const std::vector<uint8_t> &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string HumanBytes(uint64_t bytes) {
  static const char *units[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1000.0 && u < 5) {
    v /= 1000.0;
    ++u;
  }
  char text[64];
  if (u == 0)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.2f %s", v, units[u]);
  return text;
}

} // namespace sdsmart_tool
