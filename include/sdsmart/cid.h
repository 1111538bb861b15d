// SPDX-License-Identifier: MIT
// The card identification register (CID): manufacturer, product, revision,
// serial number and manufacturing date. Two layouts, SD and MMC, decode a
// 16-byte image into fields and rebuild the image with a fresh CRC-7.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdsmart/register_field.h"

namespace SdCidField {
// clang-format off
//                          name                 high  low
inline constexpr RegisterField MID      {"MID",       127, 120};
inline constexpr RegisterField OID      {"OID",       119, 104};
inline constexpr RegisterField PNM      {"PNM",       103,  64}; // 5 characters
inline constexpr RegisterField PRV      {"PRV",        63,  56};
inline constexpr RegisterField PSN      {"PSN",        55,  24};
// The year offset from 2000 is read with the reserved bits [23:20] above it,
// and written with them cleared.
inline constexpr RegisterField MDT_YEAR_WITH_RESERVED {"MDT year", 23, 12};
inline constexpr RegisterField MDT_YEAR {"MDT year",   19,  12};
inline constexpr RegisterField MDT_MONTH{"MDT month",  11,   8};
inline constexpr RegisterField CRC      {"CRC",         7,   0};
// clang-format on
// The decoded fields (the name is read byte by byte).
inline constexpr RegisterField All[] = {MID, OID, PRV, PSN, MDT_YEAR_WITH_RESERVED, MDT_MONTH, CRC};
} // namespace SdCidField

namespace MmcCidField {
// clang-format off
//                          name                 high  low
inline constexpr RegisterField MID      {"MID",       127, 120};
inline constexpr RegisterField OID      {"OID",       119, 104}; // with CBX and the reserved bits
inline constexpr RegisterField PNM      {"PNM",       103,  56}; // 6 characters
inline constexpr RegisterField PRV      {"PRV",        55,  48};
inline constexpr RegisterField PSN      {"PSN",        47,  16};
inline constexpr RegisterField MDT_MONTH{"MDT month",  15,  12};
inline constexpr RegisterField MDT_YEAR {"MDT year",   11,   8}; // offset from 1997
inline constexpr RegisterField CRC      {"CRC",         7,   0};
// clang-format on
// The decoded fields (the name is read byte by byte).
inline constexpr RegisterField All[] = {MID, OID, PRV, PSN, MDT_MONTH, MDT_YEAR, CRC};
} // namespace MmcCidField

class CCID {
public:
  // The caller owns the object and deletes it through the virtual destructor.
  static CCID *Create(bool isMmc);
  static CCID *Create(bool isMmc, const unsigned char *cid);

  CCID();
  virtual ~CCID();

  // The 16-byte image of the current fields, closed with a fresh CRC-7 (the
  // stored CRC7 field is not changed).
  virtual void ToBuffer(unsigned char *out) = 0;
  // The text report, the same for both layouts.
  std::wstring Parse(unsigned int indent);

  unsigned int GetMID();
  unsigned int GetOID();
  std::string GetProductName();
  unsigned int GetProductRevision();
  unsigned int GetSerialNumber();
  unsigned int GetYear();
  unsigned int GetMonth();
  unsigned int GetCRC7();

  void SetMID(unsigned int v);
  void SetOID(unsigned int v);
  void SetProductName(const std::string &v);
  void SetProductRevision(unsigned int v);
  void SetSerialNumber(unsigned int v);
  void SetYear(unsigned int v);
  void SetMonth(unsigned int v);

protected:
  unsigned int mid = 0;
  unsigned int oid = 0;
  std::string productName;
  unsigned int prv = 0;
  unsigned int psn = 0;
  unsigned int year = 0;
  unsigned int month = 0;
  unsigned int crc7 = 0;
};

class CSdCID : public CCID {
public:
  CSdCID();
  explicit CSdCID(const unsigned char *cid);
  void ToBuffer(unsigned char *out) override;
};

class CMmcCID : public CCID {
public:
  CMmcCID();
  explicit CMmcCID(const unsigned char *cid);
  void ToBuffer(unsigned char *out) override;
};
