// SPDX-License-Identifier: MIT
// The extended CSD of an MMC/eMMC device (512 bytes, CMD8 in MMC mode),
// addressed by the standard's byte index; multi-byte fields are little-endian.
#pragma once

#include <cstdint>
#include <string>

// A field of the extended CSD: its name, first byte and width in bytes.
struct ExtCsdField {
  const char *name;
  unsigned int offset;
  unsigned int bytes;
};

namespace ExtCsdFieldOf {
// clang-format off
//                                  name                    byte  width
inline constexpr ExtCsdField S_CMD_SET           {"S_CMD_SET",            504, 1};
inline constexpr ExtCsdField SEC_COUNT           {"SEC_COUNT",            212, 4};
inline constexpr ExtCsdField MIN_PERF_W_8_52     {"MIN_PERF_W_8_52",      210, 1};
inline constexpr ExtCsdField MIN_PERF_R_8_52     {"MIN_PERF_R_8_52",      209, 1};
inline constexpr ExtCsdField MIN_PERF_W_8_26_4_52{"MIN_PERF_W_8_26_4_52", 208, 1};
inline constexpr ExtCsdField MIN_PERF_R_8_26_4_52{"MIN_PERF_R_8_26_4_52", 207, 1};
inline constexpr ExtCsdField MIN_PERF_W_4_26     {"MIN_PERF_W_4_26",      206, 1};
inline constexpr ExtCsdField MIN_PERF_R_4_26     {"MIN_PERF_R_4_26",      205, 1};
inline constexpr ExtCsdField PWR_CL_26_360       {"PWR_CL_26_360",        203, 1};
inline constexpr ExtCsdField PWR_CL_52_360       {"PWR_CL_52_360",        202, 1};
inline constexpr ExtCsdField PWR_CL_26_195       {"PWR_CL_26_195",        201, 1};
inline constexpr ExtCsdField PWR_CL_52_195       {"PWR_CL_52_195",        200, 1};
inline constexpr ExtCsdField CARD_TYPE           {"CARD_TYPE",            196, 1};
inline constexpr ExtCsdField CSD_STRUCTURE       {"CSD_STRUCTURE",        194, 1};
inline constexpr ExtCsdField EXT_CSD_REV         {"EXT_CSD_REV",          192, 1};
inline constexpr ExtCsdField CMD_SET             {"CMD_SET",              191, 1};
inline constexpr ExtCsdField CMD_SET_REV         {"CMD_SET_REV",          189, 1};
inline constexpr ExtCsdField POWER_CLASS         {"POWER_CLASS",          187, 1};
inline constexpr ExtCsdField HS_TIMING           {"HS_TIMING",            185, 1};
inline constexpr ExtCsdField BUS_WIDTH           {"BUS_WIDTH",            183, 1};
// The device's life estimate (eMMC 5.0, EXT_CSD_REV 7 and later): not part
// of Parse's listing, which stays as it was.
inline constexpr ExtCsdField DEVICE_LIFE_TIME_EST_TYP_B{"DEVICE_LIFE_TIME_EST_TYP_B", 269, 1};
inline constexpr ExtCsdField DEVICE_LIFE_TIME_EST_TYP_A{"DEVICE_LIFE_TIME_EST_TYP_A", 268, 1};
inline constexpr ExtCsdField PRE_EOL_INFO        {"PRE_EOL_INFO",         267, 1};
// clang-format on
// clang-format off
inline constexpr ExtCsdField All[] = {
    S_CMD_SET, SEC_COUNT, MIN_PERF_W_8_52, MIN_PERF_R_8_52, MIN_PERF_W_8_26_4_52,
    MIN_PERF_R_8_26_4_52, MIN_PERF_W_4_26, MIN_PERF_R_4_26, PWR_CL_26_360, PWR_CL_52_360,
    PWR_CL_26_195, PWR_CL_52_195, CARD_TYPE, CSD_STRUCTURE, EXT_CSD_REV, CMD_SET, CMD_SET_REV,
    POWER_CLASS, HS_TIMING, BUS_WIDTH};
// clang-format on
} // namespace ExtCsdFieldOf

class CExtCSD {
public:
  explicit CExtCSD(unsigned char *extCsd);
  explicit CExtCSD(const unsigned char *extCsd);

  uint32_t Get(const ExtCsdField &f) const;

  unsigned int GetSupportedCmdSet();
  uint32_t GetSectorCount();
  unsigned int GetMinPerfW_8_52();
  unsigned int GetMinPerfR_8_52();
  unsigned int GetMinPerfW_8_26_4_52();
  unsigned int GetMinPerfR_8_26_4_52();
  unsigned int GetMinPerfW_4_26();
  unsigned int GetMinPerfR_4_26();
  unsigned int GetPowerClass_26_360();
  unsigned int GetPowerClass_52_360();
  unsigned int GetPowerClass_26_195();
  unsigned int GetPowerClass_52_195();
  unsigned int GetCardType();
  unsigned int GetCSDStructureVersion();
  unsigned int GetExtendedCSDRevision();
  unsigned int GetCmdSet();
  unsigned int GetCmdSetRevision();
  unsigned int GetPowerClass();
  unsigned int GetHighSpeedTiming();
  unsigned int GetBusWidth();

  std::wstring Parse(unsigned int indent);

private:
  unsigned char data[512];
};
