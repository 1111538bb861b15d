// SPDX-License-Identifier: MIT
// The 512-byte SMART header as the card sends it: packed, every field at its
// wire offset. Multi-byte counters are big-endian on the card; in memory the
// record is kept in host order (see CSmartInfoHeader::Invert).
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct _SMART_INFO_HEADER {
  unsigned char Signature[3];               // 0: "SI0"
  unsigned char HWVersion[16];              // 3
  unsigned char FWVersion[16];              // 19
  unsigned char FlashTypeCode;              // 35
  unsigned char FlashID[6];                 // 36: byte 36 is the maker code
  uint32_t PECycleCount;                    // 42
  uint32_t BaseVBEntryCount;                // 46
  uint16_t InitialBadBlockCount;            // 50
  uint16_t LaterBadBlockCount;              // 52
  uint16_t MinSpareBlockCount;              // 54
  unsigned char ECCCapacity;                // 56
  uint32_t TotalEraseCount;                 // 57
  uint32_t AbnormalShutdownCount;           // 61
  uint32_t PowerCycleCount;                 // 65
  unsigned char DetailSectorCount;          // 69
  unsigned char DetailType;                 // 70: 0 none, 1 erase, 2 read, 3 run-time bad, 16 PMT
  unsigned char CECount;                    // 71
  unsigned char BlocksPerVB;                // 72
  unsigned char BusyFlag;                   // 73
  uint16_t MPVersionMajor;                  // 74
  uint16_t MPVersionMinor;                  // 76
  uint32_t TotalVBCount;                    // 78
  uint16_t VBsPerUnit;                      // 82
  uint16_t ExtraVBEntriesPerUnit;           // 84
  uint32_t Reserved86;                      // 86
  uint16_t Reserved90;                      // 90
  uint16_t Reserved92;                      // 92
  unsigned char GlobalRemainderSectorCount; // 94
  unsigned char CID[16];                    // 95
  unsigned char CSD[16];                    // 111
  unsigned char SCR[8];                     // 127
  unsigned char Reserved135[3];             // 135
  uint16_t DetailSectorCountEx;             // 138
  uint16_t MinEraseCount;                   // 140
  uint16_t MaxEraseCount;                   // 142
  uint16_t EraseCountOffset;                // 144
  uint32_t Reserved146;                     // 146
  uint16_t Reserved150;                     // 150
  unsigned char ClientMark[356];            // 152
  unsigned char WPStatus;                   // 508
  unsigned char Reserved509;                // 509
  unsigned char HeaderVersion;              // 510
  unsigned char Reserved511;                // 511
};
#pragma pack(pop)

static_assert(sizeof(_SMART_INFO_HEADER) == 512, "the SMART header is one sector");
static_assert(offsetof(_SMART_INFO_HEADER, HWVersion) == 3, "HWVersion offset");
static_assert(offsetof(_SMART_INFO_HEADER, FlashTypeCode) == 35, "FlashTypeCode offset");
static_assert(offsetof(_SMART_INFO_HEADER, FlashID) == 36, "FlashID offset");
static_assert(offsetof(_SMART_INFO_HEADER, PECycleCount) == 42, "PECycleCount offset");
static_assert(offsetof(_SMART_INFO_HEADER, TotalEraseCount) == 57, "TotalEraseCount offset");
static_assert(offsetof(_SMART_INFO_HEADER, PowerCycleCount) == 65, "PowerCycleCount offset");
static_assert(offsetof(_SMART_INFO_HEADER, DetailType) == 70, "DetailType offset");
static_assert(offsetof(_SMART_INFO_HEADER, BusyFlag) == 73, "BusyFlag offset");
static_assert(offsetof(_SMART_INFO_HEADER, TotalVBCount) == 78, "TotalVBCount offset");
static_assert(offsetof(_SMART_INFO_HEADER, GlobalRemainderSectorCount) == 94,
              "GlobalRemainderSectorCount offset");
static_assert(offsetof(_SMART_INFO_HEADER, CID) == 95, "CID offset");
static_assert(offsetof(_SMART_INFO_HEADER, CSD) == 111, "CSD offset");
static_assert(offsetof(_SMART_INFO_HEADER, SCR) == 127, "SCR offset");
static_assert(offsetof(_SMART_INFO_HEADER, DetailSectorCountEx) == 138,
              "DetailSectorCountEx offset");
static_assert(offsetof(_SMART_INFO_HEADER, EraseCountOffset) == 144, "EraseCountOffset offset");
static_assert(offsetof(_SMART_INFO_HEADER, ClientMark) == 152, "ClientMark offset");
static_assert(offsetof(_SMART_INFO_HEADER, WPStatus) == 508, "WPStatus offset");
static_assert(offsetof(_SMART_INFO_HEADER, HeaderVersion) == 510, "HeaderVersion offset");
