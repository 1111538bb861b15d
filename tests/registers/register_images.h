// Register images of real cards and helpers to build images field by field.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "registers/register_field.h"

// SanDisk-made card "SN512" (512 GB, 2021).
inline constexpr std::array<unsigned char, 16> kSn512Cid = {
    0x03, 0x53, 0x44, 0x53, 0x4e, 0x35, 0x31, 0x32, 0x80, 0xff, 0xf7, 0xb1, 0x7b, 0x01, 0x57, 0x00};
inline constexpr std::array<unsigned char, 16> kSn512Csd = {
    0x40, 0x0e, 0x00, 0x32, 0xdb, 0x79, 0x00, 0x0e, 0xe5, 0xb7, 0x7f, 0x80, 0x0a, 0x40, 0x40, 0x00};
inline constexpr std::array<unsigned char, 8> kSn512Scr = {0x02, 0x45, 0x84, 0x87,
                                                           0x00, 0x00, 0x00, 0x00};
// Card "SD16G" (16 GB, 2015); its CID and CSD carry their CRC bytes.
inline constexpr std::array<unsigned char, 16> kSd16gCid = {
    0x27, 0x50, 0x48, 0x53, 0x44, 0x31, 0x36, 0x47, 0x30, 0xda, 0x89, 0xb8, 0x29, 0x00, 0xfb, 0x61};
inline constexpr std::array<unsigned char, 16> kSd16gCsd = {
    0x40, 0x0e, 0x00, 0x32, 0x5b, 0x59, 0x00, 0x00, 0x73, 0xa7, 0x7f, 0x80, 0x0a, 0x40, 0x00, 0xeb};
inline constexpr std::array<unsigned char, 8> kSd16gScr = {0x02, 0x35, 0x80, 0x02,
                                                           0x01, 0x00, 0x00, 0x00};

// A zeroed image of N bytes with the given fields set.
template <size_t N>
std::array<unsigned char, N>
ImageWith(std::initializer_list<std::pair<RegisterField, uint32_t>> fields) {
  std::array<unsigned char, N> image{};
  for (const auto &[field, value] : fields)
    WriteField(image.data(), N, field, value);
  return image;
}

// The values a field loop visits: every value of a field up to 12 bits wide,
// else the edges and a spread of values between them.
inline std::vector<uint32_t> ValuesOf(const RegisterField &f) {
  std::vector<uint32_t> values;
  if (f.Width() <= 12) {
    for (uint32_t v = 0; v <= f.Max(); ++v)
      values.push_back(v);
  } else {
    for (uint32_t v : {0u, 1u, 2u, f.Max() / 3, f.Max() / 2, f.Max() - 1, f.Max()})
      values.push_back(v);
  }
  return values;
}

// Splits a report into its lines, checking every line ends with "\r\n".
inline std::vector<std::wstring> Lines(const std::wstring &text, bool *allTerminated = nullptr) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  bool ok = true;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) {
      ok = false;
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (allTerminated)
    *allTerminated = ok;
  return lines;
}
