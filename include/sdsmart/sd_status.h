// SPDX-License-Identifier: MIT
// The SD Status (64 bytes, returned by ACMD13), kept as the card sends it
// and decoded on demand.
#pragma once

#include <string>

#include "sdsmart/register_field.h"

namespace SdStatusField {
// clang-format off
//                                   name                      high low
inline constexpr RegisterField DAT_BUS_WIDTH         {"DAT_BUS_WIDTH",         511, 510};
inline constexpr RegisterField SECURED_MODE          {"SECURED_MODE",          509, 509};
inline constexpr RegisterField SD_CARD_TYPE          {"SD_CARD_TYPE",          495, 480};
inline constexpr RegisterField SIZE_OF_PROTECTED_AREA{"SIZE_OF_PROTECTED_AREA",479, 448};
inline constexpr RegisterField SPEED_CLASS           {"SPEED_CLASS",           447, 440};
inline constexpr RegisterField PERFORMANCE_MOVE      {"PERFORMANCE_MOVE",      439, 432};
inline constexpr RegisterField AU_SIZE               {"AU_SIZE",               431, 428};
inline constexpr RegisterField ERASE_SIZE            {"ERASE_SIZE",            423, 408};
inline constexpr RegisterField ERASE_TIMEOUT         {"ERASE_TIMEOUT",         407, 402};
inline constexpr RegisterField ERASE_OFFSET          {"ERASE_OFFSET",          401, 400};
inline constexpr RegisterField UHS_SPEED_GRADE       {"UHS_SPEED_GRADE",       399, 396};
inline constexpr RegisterField UHS_AU_SIZE           {"UHS_AU_SIZE",           395, 392};
inline constexpr RegisterField VIDEO_SPEED_CLASS     {"VIDEO_SPEED_CLASS",     391, 384};
inline constexpr RegisterField VSC_AU_SIZE           {"VSC_AU_SIZE",           377, 368};
inline constexpr RegisterField SUS_ADDR              {"SUS_ADDR",              367, 346};
inline constexpr RegisterField APP_PERF_CLASS        {"APP_PERF_CLASS",        339, 336};
inline constexpr RegisterField DISCARD_SUPPORT       {"DISCARD_SUPPORT",       313, 313};
inline constexpr RegisterField FULE_SUPPORT          {"FULE_SUPPORT",          312, 312};
// Reserved bits that some setters clear along with their field.
inline constexpr RegisterField RESERVED_383_378      {"reserved",              383, 378};
inline constexpr RegisterField RESERVED_345_344      {"reserved",              345, 344};
inline constexpr RegisterField RESERVED_343_340      {"reserved",              343, 340};
inline constexpr RegisterField RESERVED_319_314      {"reserved",              319, 314};
// clang-format on
// clang-format off
inline constexpr RegisterField All[] = {
    DAT_BUS_WIDTH, SECURED_MODE, SD_CARD_TYPE, SIZE_OF_PROTECTED_AREA, SPEED_CLASS,
    PERFORMANCE_MOVE, AU_SIZE, ERASE_SIZE, ERASE_TIMEOUT, ERASE_OFFSET, UHS_SPEED_GRADE,
    UHS_AU_SIZE, VIDEO_SPEED_CLASS, VSC_AU_SIZE, SUS_ADDR, APP_PERF_CLASS, DISCARD_SUPPORT,
    FULE_SUPPORT};
// clang-format on
} // namespace SdStatusField

class CSdStatus {
public:
  // extendedFields enables the report lines from the video speed class on;
  // protectedAreaInBytes is true for high-capacity cards.
  CSdStatus(bool extendedFields, bool protectedAreaInBytes, unsigned char *status);
  CSdStatus(bool extendedFields, bool protectedAreaInBytes, const unsigned char *status);

  // Copies min(length, 64) bytes out.
  void GetContent(unsigned char *out, unsigned int length);

  unsigned char GetDataBusWidth();
  bool GetSecuredMode();
  unsigned short GetCardType();
  unsigned int GetProtectedAreaSize();
  unsigned char GetSpeedClass();
  unsigned char GetPerformanceMove();
  unsigned char Get_AU_Size();
  unsigned short GetEraseSize();
  unsigned char GetEraseTimeout();
  unsigned char GetEraseOffset();
  unsigned char Get_UHS_SpeedGrade();
  unsigned char Get_UHS_AU_Size();
  unsigned char GetVideoSpeedClass();
  unsigned short Get_VSC_AU_Size();
  unsigned int GetSuspentionAddress();
  unsigned char GetAppPerformanceClass();
  unsigned char Get_Discard_Support();
  unsigned char Get_FULE_Support();

  // Each setter replaces its field and keeps the other bits of its bytes,
  // except where noted.
  void SetProtectedAreaSize(unsigned int v);
  void SetSpeedClass(unsigned char v);
  void SetPerformanceMove(unsigned char v);
  void Set_AU_Size(unsigned char v);
  void SetEraseSize(unsigned short v);
  void SetEraseTimeout(unsigned char v);
  void SetEraseOffset(unsigned char v);
  void Set_UHS_SpeedGrade(unsigned char v);
  void Set_UHS_AU_Size(unsigned char v);
  void SetVideoSpeedClass(unsigned char v);
  // Also clears the reserved bits above the field in byte 16.
  void Set_VSC_AU_Size(unsigned short v);
  // Also clears the two low bits of byte 20.
  void SetSuspentionAddress(unsigned int v);
  // Also clears the high nibble of byte 21.
  void SetAppPerformanceClass(unsigned char v);
  // Both also clear bits 7..2 of byte 24.
  void Set_Discard_Support(unsigned char v);
  void Set_FULE_Support(unsigned char v);

  // The speed-unit size in MB for a video AU size: the first of 10, 9, 8, 7
  // dividing it, else 8.
  unsigned char Get_SU_Size_By_AU_Size(unsigned short vscAuSize);

  std::wstring Parse(unsigned int indent);

private:
  uint32_t Field(const RegisterField &f) const { return ReadField(status, f); }
  unsigned char Byte(const RegisterField &f) const { return static_cast<unsigned char>(Field(f)); }
  unsigned short Short(const RegisterField &f) const {
    return static_cast<unsigned short>(Field(f));
  }
  void Put(const RegisterField &f, uint32_t v) { WriteField(status, f, v); }

  unsigned char status[64];
  bool protectedAreaInBytes;
  bool extendedFields;
};
