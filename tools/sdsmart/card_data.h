// SPDX-License-Identifier: MIT
// Everything one acquisition tells about a card, copied out of the library's
// session so that the report, JSON and Prometheus writers work on plain data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct CardIdentity {
  std::string Manufacturer;      // "Tolvarex" or "UnKnow" (from the header signature)
  std::string OemProduct;        // the library's text of CID bytes 0..7 (zero bytes left out)
  unsigned ManufacturerId = 0;   // CID byte 0
  std::string OemId;             // CID bytes 1..2
  std::string ProductName;       // CID bytes 3..7
  unsigned ProductRevision = 0;  // CID byte 8
  uint32_t SerialNumber = 0;     // CID bytes 9..12
  std::string ManufacturingDate; // "March 2015"
  bool RegistersPresent = false; // the header carries CID/CSD/SCR copies
  std::vector<uint8_t> Cid, Csd, Scr;
  uint64_t CapacityBytes = 0; // from the CSD copy; 0 when unknown
  std::string FirmwareVersion;
  std::string HardwareVersion;
  std::string MpVersion;
  std::string LibraryVersion;
  std::string FlashId; // "45 DE 94 93 76 51"
  std::string FlashMaker;
  std::string FlashType;
  std::string ClientMark;
  unsigned HeaderVersion = 0;
};

struct CardCounters {
  float RemainingLifePercent = 0; // 100 - used; may be negative or NaN
  double LifeUsedPercent = 0;
  uint32_t PeCycleCount = 0;      // rated program/erase cycles
  uint32_t TotalEraseCount = 0;   // physical blocks
  uint32_t AverageEraseCount = 0; // per VB, rounded up
  uint32_t MinEraseCount = 0;     // from the per-VB table
  uint32_t MaxEraseCount = 0;
  uint32_t MinEraseCountHeader = 0;
  uint32_t MaxEraseCountHeader = 0;
  uint32_t EraseCountOffset = 0;
  uint32_t InitialBadBlocks = 0;
  uint32_t LaterBadBlocks = 0;
  uint32_t MinSpareBlocks = 0;
  uint32_t TotalVbCount = 0;
  uint32_t TotalPhysicalBlocks = 0;
  uint32_t BlocksPerVb = 0;
  uint32_t TotalCeCount = 0;
  uint32_t EccCapacity = 0;
  uint32_t PowerCycles = 0;
  uint32_t AbnormalShutdowns = 0;
  uint32_t EccUncorrectable = 0;
  uint32_t WriteProtectStatus = 0;
};

struct CardData {
  std::string Device;
  std::string Transport; // "usb" or "mmc"
  CardIdentity Identity;
  CardCounters Counters;
  std::vector<uint32_t> EraseCounts; // per VB, markers included
  std::vector<uint32_t> ReadCounts;
};

// Marker of an unused entry in the per-VB erase-count table.
constexpr uint32_t kUnusedEraseCount = 0xFFFFFFFEu;
// Largest value that takes part in the statistics.
constexpr uint32_t kLargestCountedValue = 0xFFFFDu;

// Copies the results of the last successful GetSmartInfo out of the library.
CardData CollectCardData(const std::string &device);

// "usb" for SCSI disk nodes behind a card reader, "mmc" for /dev/mmcblk*.
std::string TransportOf(const std::string &device);

} // namespace sdsmart_tool
