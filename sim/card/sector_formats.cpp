// SPDX-License-Identifier: MIT
#include "card/sector_formats.h"

#include "card/card_config.h"

#include <cstring>

namespace sdsim {
namespace {

// Enter: entry at 0, reversed at 248, 02 01 at 256, 01 02 at 510.
void EnterPattern(const std::uint8_t *entry, std::uint8_t *expect) {
  std::memset(expect, 0, kSector);
  for (int i = 0; i < 8; ++i) {
    expect[i] = entry[i];
    expect[248 + i] = entry[7 - i];
  }
  expect[256] = 0x02, expect[257] = 0x01;
  expect[510] = 0x01, expect[511] = 0x02;
}

// Leave: reversed entry at 0, entry at 248, 02 00 .. 01 02 at 256, 02 01 at 504.
void LeavePattern(const std::uint8_t *entry, std::uint8_t *expect) {
  std::memset(expect, 0, kSector);
  for (int i = 0; i < 8; ++i) {
    expect[i] = entry[7 - i];
    expect[248 + i] = entry[i];
  }
  expect[256] = 0x02, expect[262] = 0x01, expect[263] = 0x02;
  expect[504] = 0x02, expect[505] = 0x01;
}

} // namespace

Pattern ClassifySector0(const std::uint8_t *sector, const std::string &entry) {
  const auto *e = reinterpret_cast<const std::uint8_t *>(entry.data());
  std::uint8_t expect[kSector];
  EnterPattern(e, expect);
  if (std::memcmp(expect, sector, kSector) == 0)
    return Pattern::Enter;
  expect[268] = 0xDE, expect[269] = 0xAD, expect[270] = 0xBE, expect[271] = 0xEF;
  if (std::memcmp(expect, sector, kSector) == 0)
    return Pattern::EnterV3;
  LeavePattern(e, expect);
  if (std::memcmp(expect, sector, kSector) == 0)
    return Pattern::Leave;
  return Pattern::None;
}

bool IsCommandSector(const std::uint8_t *sector, const std::string &entry,
                     std::uint64_t capacitySectors, std::uint32_t &selector) {
  if (std::memcmp(sector + 256, entry.data(), 8) != 0)
    return false;
  const std::uint32_t unit = capacitySectors * kSector > 0x83FFFFFFFull ? 1024 : 128;
  if (sector[264] != 0 || sector[265] != 0 || sector[266] != (unit >> 8) ||
      sector[267] != (unit & 0xFF))
    return false;
  for (std::size_t i = 0; i < kSector; ++i)
    if ((i < 256 || i >= 272) && sector[i] != 0)
      return false;
  selector = std::uint32_t{sector[268]} << 24 | std::uint32_t{sector[269]} << 16 |
             std::uint32_t{sector[270]} << 8 | sector[271];
  return selector == 0 || selector == 0x101 || selector == 0x102 || selector == 0x103;
}

} // namespace sdsim
