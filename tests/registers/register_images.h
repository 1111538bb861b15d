// Register images of real cards and helpers to build images field by field.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "registers/register_field.h"

// A 512 GB SDXC card from 2021 (a real card's registers, read back exactly).
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

using FieldValues = std::initializer_list<std::pair<RegisterField, uint32_t>>;

// A zeroed image of N bytes with the given fields set.
template <size_t N> std::array<unsigned char, N> ImageWith(FieldValues fields) {
  std::array<unsigned char, N> image{};
  for (const auto &[field, value] : fields)
    WriteField(image.data(), N, field, value);
  return image;
}

// Every value of a field up to 12 bits wide, else the edges and a spread between.
inline std::vector<uint32_t> ValuesOf(const RegisterField &f) {
  if (f.Width() > 12)
    return {0u, 1u, 2u, f.Max() / 3, f.Max() / 2, f.Max() - 1, f.Max()};
  std::vector<uint32_t> values;
  for (uint32_t v = 0; v <= f.Max(); ++v)
    values.push_back(v);
  return values;
}

// Splits a report into its lines, noting whether every line ends with "\r\n".
inline std::vector<std::wstring> Lines(const std::wstring &text, bool *allTerminated = nullptr) {
  std::vector<std::wstring> lines;
  size_t start = 0, end = 0;
  while (start < text.size() && (end = text.find(L"\r\n", start)) != std::wstring::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size())
    lines.push_back(text.substr(start));
  if (allTerminated)
    *allTerminated = start >= text.size();
  return lines;
}

// Writes each value of each field into `base` in turn and checks the report
// (built with indentation 1) comes out whole: every line indented and closed
// with "\r\n", and as many lines as `lineCount(image)` says.
template <size_t N, class Fields, class Report, class LineCount>
void CheckEveryFieldValue(const std::array<unsigned char, N> &base, const Fields &fields,
                          Report report, LineCount lineCount) {
  for (const RegisterField &field : fields)
    for (uint32_t value : ValuesOf(field)) {
      std::array<unsigned char, N> image = base;
      WriteField(image.data(), N, field, value);
      bool terminated = false;
      const auto lines = Lines(report(image.data()), &terminated);
      ASSERT_TRUE(terminated) << field.name << " = " << value;
      ASSERT_EQ(lines.size(), size_t(lineCount(image.data()))) << field.name << " = " << value;
      for (const auto &line : lines)
        ASSERT_EQ(line.substr(0, 1), L" ") << field.name << " = " << value;
    }
}
