// SPDX-License-Identifier: MIT
// Register images of real cards, and images built field by field.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "sdsmart/register_field.h"

// A 512 GB SDXC card from 2021.
inline constexpr std::array<unsigned char, 16> kSn512Cid = {
    0x03, 0x53, 0x44, 0x53, 0x4e, 0x35, 0x31, 0x32, 0x80, 0xff, 0xf7, 0xb1, 0x7b, 0x01, 0x57, 0x00};
inline constexpr std::array<unsigned char, 16> kSn512Csd = {
    0x40, 0x0e, 0x00, 0x32, 0xdb, 0x79, 0x00, 0x0e, 0xe5, 0xb7, 0x7f, 0x80, 0x0a, 0x40, 0x40, 0x00};
inline constexpr std::array<unsigned char, 8> kSn512Scr = {0x02, 0x45, 0x84, 0x87,
                                                           0x00, 0x00, 0x00, 0x00};
// A 16 GB SDHC card from 2015; its CID and CSD carry their CRC bytes.
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
