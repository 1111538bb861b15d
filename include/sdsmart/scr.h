// SPDX-License-Identifier: MIT
// The SD configuration register (SCR, 64 bits): physical layer version,
// security, bus widths and command support.
#pragma once

#include <string>

#include "sdsmart/register_field.h"

namespace ScrField {
// clang-format off
//                                    name                     high low
inline constexpr RegisterField SCR_STRUCTURE        {"SCR_STRUCTURE",        63, 60};
inline constexpr RegisterField SD_SPEC              {"SD_SPEC",              59, 56};
inline constexpr RegisterField DATA_STAT_AFTER_ERASE{"DATA_STAT_AFTER_ERASE",55, 55};
inline constexpr RegisterField SD_SECURITY          {"SD_SECURITY",          54, 52};
inline constexpr RegisterField SD_BUS_WIDTHS        {"SD_BUS_WIDTHS",        51, 48};
inline constexpr RegisterField SD_SPEC3             {"SD_SPEC3",             47, 47};
inline constexpr RegisterField EX_SECURITY          {"EX_SECURITY",          46, 43};
inline constexpr RegisterField SD_SPEC4             {"SD_SPEC4",             42, 42};
inline constexpr RegisterField SD_SPECX             {"SD_SPECX",             41, 38};
// CMD_SUPPORT is [35:32]: CMD20, CMD23, CMD48/49, CMD58/59 from bit 32 up.
// The accessor returns it with the bits around it, [37:24].
inline constexpr RegisterField CMD_SUPPORT_WIDE     {"CMD_SUPPORT",          37, 24};
// clang-format on
// clang-format off
inline constexpr RegisterField All[] = {
    SCR_STRUCTURE, SD_SPEC, DATA_STAT_AFTER_ERASE, SD_SECURITY, SD_BUS_WIDTHS, SD_SPEC3,
    EX_SECURITY, SD_SPEC4, SD_SPECX, CMD_SUPPORT_WIDE};
// clang-format on
} // namespace ScrField

class CSCR {
public:
  explicit CSCR(unsigned char *scr);
  explicit CSCR(const unsigned char *scr);

  unsigned int GetSCRVersion();
  unsigned int GetSDMemoryCardSpec();
  bool GetDataAfterErase();
  unsigned int GetSDSecurityVersion();
  unsigned int GetDataBusWidth();
  bool IsSdSpec3();
  bool IsSdSpec4();
  unsigned int GetSDSpecX();
  // Bits 8..11 of the value are register bits 32..35: CMD20, CMD23,
  // CMD48/CMD49 and CMD58/CMD59 support.
  unsigned int GetCmdSupport();
  bool IsSdSpec5();

  std::wstring Parse(unsigned int indent);

private:
  uint32_t Field(const RegisterField &f) const { return ReadField(image, f); }

  unsigned char image[8];
};
