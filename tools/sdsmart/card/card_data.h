// SPDX-License-Identifier: MIT
// Everything one acquisition tells about a card, copied out of the library's
// session so that the report, JSON and Prometheus writers work on plain data.
#pragma once

#include "device/guard.h"

#include <sdsmart/smart_info_reader.h>

#include <cstdint>
#include <optional>
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

// Counters the card gave in this run. The header's are read by every
// selection; the table minimum and maximum only with select bit 1 (erase
// counts) and the uncorrectable-ECC count only with bit 4 (run-time status):
// unread ones are empty, never 0.
struct CardCounters {
  std::optional<double> LifeUsedPercent; // unknown without rated cycles and blocks
  uint32_t PeCycleCount = 0;             // rated program/erase cycles
  uint32_t TotalEraseCount = 0;          // physical blocks
  uint32_t HeaderTotalEraseCount = 0;    // virtual blocks, as the header holds it
  uint32_t AverageEraseCount = 0;        // per VB, rounded up
  std::optional<uint32_t> MinEraseCount; // from the per-VB table
  std::optional<uint32_t> MaxEraseCount;
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
  std::optional<uint32_t> EccUncorrectable;
  uint32_t WriteProtectStatus = 0;
};

// Life in hundredths of a percent, as every output shows it: the two
// figures add up to 100.
struct LifeFigures {
  double Used = 0, Remaining = 0;
};
std::optional<LifeFigures> Life(const CardCounters &counters);

// A card whose header gives no rated P/E cycles, rated by the operator: its
// used life as the library figures it, 100 x erases / (cycles x VBs). false
// (nothing changed) when the header gives cycles or no VBs.
bool RateLife(CardCounters &counters, uint32_t ratedCycles);

// The selection bits of the tables.
constexpr unsigned kSelectEraseCounts = 1, kSelectReadCounts = 2, kSelectRuntime = 4;

struct CardData {
  std::string Device;
  CardTransport Transport = CardTransport::UsbReader; // as the device guard found it
  CardIdentity Identity;
  CardCounters Counters;
  unsigned Select = 0;               // the selection bits of the run
  bool EraseTableRead = false;       // select bit 1
  bool ReadTableRead = false;        // select bit 2
  std::vector<uint32_t> EraseCounts; // per VB, markers included
  std::vector<uint32_t> ReadCounts;
};

// Largest value that takes part in the statistics: above it, a table entry
// is one of the card's markers.
constexpr uint32_t kLargestCountedValue = CSmartInfoReader::LargestCount;

// Copies the results of the last successful GetSmartInfo, run with the
// selection bits select, out of the library.
CardData CollectCardData(const std::string &device, CardTransport transport, unsigned select);

} // namespace sdsmart_tool
