// SPDX-License-Identifier: MIT
#include "card/card_registers.h"

#include <cstring>

namespace sdsim {
namespace {

void SetBits(std::array<std::uint8_t, 16> &reg, unsigned hi, unsigned lo, std::uint64_t value) {
  for (unsigned bit = lo; bit <= hi; ++bit) {
    const unsigned byte = 15 - bit / 8, shift = bit % 8;
    const bool on = (value >> (bit - lo)) & 1u;
    reg[byte] = static_cast<std::uint8_t>((reg[byte] & ~(1u << shift)) | (on ? 1u << shift : 0u));
  }
}

// EXT_CSD byte offsets (JESD84-B51).
constexpr std::size_t kExtCsdRev = 192, kCsdStructure = 194, kCardType = 196, kSecCount = 212,
                      kHcWpGrpSize = 221, kHcEraseGrpSize = 224, kBootSizeMult = 226,
                      kFirmwareVersion = 254, kPreEolInfo = 267, kLifeTimeA = 268, kLifeTimeB = 269,
                      kRpmbSizeMult = 168, kPartitionSupport = 160;

void SetCrc(std::array<std::uint8_t, 16> &r) {
  r[15] = static_cast<std::uint8_t>(Crc7(r.data(), 15) << 1 | 1);
}

} // namespace

std::uint8_t Crc7(const std::uint8_t *data, std::size_t n) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned in = (data[i] >> bit) & 1u;
      const unsigned top = (crc >> 6) & 1u;
      crc = static_cast<std::uint8_t>((crc << 1) & 0x7F);
      if (in ^ top)
        crc ^= 0x09;
    }
  return crc;
}

std::array<std::uint8_t, 16> DefaultCsd(std::uint64_t sectors, bool byteAddressed) {
  std::array<std::uint8_t, 16> r{};
  if (!byteAddressed) {
    SetBits(r, 127, 126, 1); // CSD version 2.0
    SetBits(r, 119, 112, 0x0E);
    SetBits(r, 103, 96, 0x32); // 25 MHz
    SetBits(r, 95, 84, 0x5B5);
    SetBits(r, 83, 80, 9);
    SetBits(r, 69, 48, sectors / 1024 ? sectors / 1024 - 1 : 0);
    SetBits(r, 46, 46, 1);
    SetBits(r, 45, 39, 0x7F);
    SetBits(r, 28, 26, 2);
    SetBits(r, 25, 22, 9);
    SetBits(r, 14, 14, 0);
  } else {
    std::uint64_t count = (sectors * 512) >> 14;
    unsigned mult = 3, bl = 9;
    while (count > 4096) {
      if (mult < 7)
        ++mult;
      else
        ++bl;
      count >>= 1;
    }
    SetBits(r, 127, 126, 0); // CSD version 1.0: byte-addressed
    SetBits(r, 119, 112, 0x2E);
    SetBits(r, 103, 96, 0x32);
    SetBits(r, 95, 84, 0x5F5);
    SetBits(r, 83, 80, bl);
    SetBits(r, 79, 79, 1);
    SetBits(r, 73, 62, count ? count - 1 : 0);
    SetBits(r, 61, 59, 7);
    SetBits(r, 58, 56, 6);
    SetBits(r, 55, 53, 7);
    SetBits(r, 52, 50, 6);
    SetBits(r, 49, 47, mult);
    SetBits(r, 46, 46, 1);
    SetBits(r, 45, 39, 0x1F);
    SetBits(r, 28, 26, 4);
    SetBits(r, 25, 22, bl);
  }
  SetCrc(r);
  return r;
}

std::array<std::uint8_t, 16> DefaultCid(std::uint32_t serial) {
  std::array<std::uint8_t, 16> r{{0x9F, 'T', 'I', 'S', 'D', 'S', 'I', 'M', 0x10}};
  r[9] = static_cast<std::uint8_t>(serial >> 24);
  r[10] = static_cast<std::uint8_t>(serial >> 16);
  r[11] = static_cast<std::uint8_t>(serial >> 8);
  r[12] = static_cast<std::uint8_t>(serial);
  r[13] = 0x01; // manufactured 2025-03
  r[14] = 0x93;
  SetCrc(r);
  return r;
}

std::array<std::uint8_t, 16> DefaultEmmcCid(std::uint32_t serial) {
  // MID, CBX 1 (BGA), OID, PNM (6), PRV 1.0, PSN, MDT.
  std::array<std::uint8_t, 16> r{{0x9E, 0x01, 0x5A, 'S', 'I', 'M', 'M', 'C', '0', 0x10}};
  for (int i = 0; i < 4; ++i)
    r[10 + i] = static_cast<std::uint8_t>(serial >> (24 - 8 * i));
  r[14] = 0x3A; // month 3, year code 10: 2023 from EXT_CSD_REV 5 on
  SetCrc(r);
  return r;
}

std::array<std::uint8_t, 16> DefaultEmmcCsd() {
  std::array<std::uint8_t, 16> r{};
  SetBits(r, 127, 126, 3); // version coded in EXT_CSD
  SetBits(r, 125, 122, 4); // SPEC_VERS: 4.x and later
  SetBits(r, 119, 112, 0x27);
  SetBits(r, 111, 104, 0x01);
  SetBits(r, 103, 96, 0x32);
  SetBits(r, 95, 84, 0x0F5);
  SetBits(r, 83, 80, 9);
  SetBits(r, 73, 62, 0xFFF); // above 2 GiB: the size is SEC_COUNT's
  SetBits(r, 61, 47, 0x7FFF);
  SetBits(r, 46, 32, 0x7FEF); // erase and write-protect groups
  SetBits(r, 31, 31, 1);
  SetBits(r, 28, 26, 2);
  SetBits(r, 25, 22, 9);
  SetCrc(r);
  return r;
}

std::array<std::uint8_t, 512> ExtCsd(const CardConfig &config) {
  std::array<std::uint8_t, 512> e{};
  e[kPartitionSupport] = 0x07;
  e[kRpmbSizeMult] = 0x20; // 4 MiB
  e[kExtCsdRev] = config.Emmc.ExtCsdRev;
  e[kCsdStructure] = 2;
  e[kCardType] = 0x57; // HS 26/52, DDR 1.8 V, HS200 and HS400 at 1.8 V
  for (int i = 0; i < 4; ++i)
    e[kSecCount + i] = static_cast<std::uint8_t>(config.CapacitySectors >> (8 * i));
  e[kHcWpGrpSize] = 0x10;
  e[kHcEraseGrpSize] = 0x01;
  e[kBootSizeMult] = kEmmcBootSectors / 256; // in 128 KiB
  const std::uint8_t firmware[8] = {0x01, 0x07, 0x22, 0, 0, 0, 0, 0};
  std::memcpy(&e[kFirmwareVersion], firmware, sizeof firmware);
  e[kPreEolInfo] = config.Emmc.PreEolInfo;
  e[kLifeTimeA] = config.Emmc.LifeTimeA;
  e[kLifeTimeB] = config.Emmc.LifeTimeB;
  return e;
}

std::array<std::uint8_t, 64> DefaultSsr(std::uint64_t sectors, bool byteAddressed) {
  std::array<std::uint8_t, 64> s{};
  const bool extended = sectors > (32ull << 30) / 512;
  s[0] = 0x80;                                           // 4-bit bus
  s[8] = byteAddressed ? 0x01 : 0x04;                    // speed class 2 or 10
  s[10] = byteAddressed ? 0x70 : extended ? 0xC0 : 0x90; // AU 1, 16 or 4 MiB
  s[12] = 0x08;                                          // ERASE_SIZE: 8 AUs
  s[13] = 16 << 2 | 1;                                   // ERASE_TIMEOUT 16 s, ERASE_OFFSET 1 s
  s[14] = byteAddressed ? 0x00 : 0x19;                   // UHS speed grade 1, UHS AU 4 MiB
  s[15] = byteAddressed ? 0x00 : 0x0A;                   // video speed class 10
  return s;
}

std::array<std::uint8_t, 512> DefaultMbr(std::uint64_t sectors) {
  std::array<std::uint8_t, 512> s{};
  const std::uint32_t start = 8192;
  const std::uint64_t rest = sectors > start ? sectors - start : 0;
  const std::uint32_t size = rest > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rest);
  const std::uint8_t sig[4] = {0x5D, 0x1C, 0x3B, 0x9A};
  std::memcpy(&s[440], sig, 4);
  std::uint8_t *p = &s[446];
  p[0] = 0x00;                           // not bootable
  p[1] = 0xFE, p[2] = 0xFF, p[3] = 0xFF; // CHS unused: LBA only
  p[4] = 0x0C;                           // FAT32 with LBA
  p[5] = 0xFE, p[6] = 0xFF, p[7] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    p[8 + i] = static_cast<std::uint8_t>(start >> (8 * i));
    p[12 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

} // namespace sdsim
