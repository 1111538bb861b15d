// SPDX-License-Identifier: MIT
#include "card/card_registers.h"

#include <sdsmart/cid.h>
#include <sdsmart/csd.h>
#include <sdsmart/sd_status.h>

#include <cstdio>
#include <memory>

namespace sdsmart_tool {
namespace {

// SD Status codes (SD Physical Layer: SPEED_CLASS, VIDEO_SPEED_CLASS,
// AU_SIZE) and what they stand for; nullopt for a reserved code.
std::optional<unsigned> SpeedClassOf(unsigned code) {
  static const unsigned classes[] = {0, 2, 4, 6, 10};
  return code < 5 ? std::optional<unsigned>(classes[code]) : std::nullopt;
}

std::optional<unsigned> VideoClassOf(unsigned code) {
  switch (code) {
  case 0:
  case 6:
  case 10:
  case 30:
  case 60:
  case 90:
    return code;
  }
  return std::nullopt;
}

std::optional<uint64_t> AuBytesOf(unsigned code) {
  // 1..10: 16 KiB doubling to 8 MiB; 11..15: 12, 16, 24, 32, 64 MiB.
  static const uint64_t large[] = {12, 16, 24, 32, 64};
  if (code >= 1 && code <= 10)
    return uint64_t{16384} << (code - 1);
  if (code >= 11 && code <= 15)
    return large[code - 11] << 20;
  return std::nullopt;
}

} // namespace

std::vector<uint8_t> RegisterBytes(const std::string &hex) {
  std::vector<uint8_t> bytes;
  if (hex.size() % 2 != 0)
    return bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    char end = 0;
    const std::string pair = hex.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
        std::sscanf(pair.c_str(), "%2x%c", &value, &end) != 1)
      return {};
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

void DecodeRegisters(CardRegisters &r) {
  if (r.Cid.size() == 16) {
    CSdCID cid(static_cast<const unsigned char *>(r.Cid.data()));
    r.ManufacturerId = cid.GetMID();
    const unsigned oid = cid.GetOID();
    r.OemId = {static_cast<char>(oid >> 8), static_cast<char>(oid & 0xFF)};
    r.ProductName = cid.GetProductName();
    r.ProductRevision = cid.GetProductRevision();
    r.SerialNumber = cid.GetSerialNumber();
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u", cid.GetYear(), cid.GetMonth());
    r.ManufacturingDate = date;
  }
  if (r.Csd.size() == 16) {
    const std::unique_ptr<CCSD> csd(CCSD::Create(false, r.Csd.data()));
    if (csd && csd->GetCapacity())
      r.CapacityBytes = csd->GetCapacity();
  }
  if (r.Ssr.size() == 64) {
    CSdStatus status(true, false, static_cast<const unsigned char *>(r.Ssr.data()));
    r.SpeedClass = SpeedClassOf(status.GetSpeedClass());
    r.UhsSpeedGrade = status.Get_UHS_SpeedGrade();
    r.VideoSpeedClass = VideoClassOf(status.GetVideoSpeedClass());
    r.AuSizeBytes = AuBytesOf(status.Get_AU_Size());
  }
}

} // namespace sdsmart_tool
