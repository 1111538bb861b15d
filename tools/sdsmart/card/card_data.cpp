// SPDX-License-Identifier: MIT
#include "card/card_data.h"

#include "sdsmart/convert.h"
#include "sdsmart/csd.h"

#include <sdsmart/sdsmart.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace sdsmart_tool {
namespace {

std::string Text(const char *s) { return s ? std::string(s) : std::string(); }

std::vector<uint8_t> Register(int (*get)(unsigned char *, unsigned int), unsigned size) {
  std::vector<uint8_t> bytes(size);
  int n = get(bytes.data(), size);
  if (n <= 0)
    return {};
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

std::vector<uint32_t> Table(int (*get)(char *, unsigned int, unsigned int &)) {
  unsigned int bytes = 0;
  get(nullptr, 0, bytes);
  std::vector<uint32_t> table(bytes / 4);
  if (table.empty())
    return table;
  if (get(reinterpret_cast<char *>(table.data()), static_cast<unsigned>(table.size() * 4), bytes) !=
      0)
    table.clear();
  return table;
}

// Card capacity from a raw 16-byte CSD copy, by the library's decoder; 0 when
// it does not decode.
uint64_t CapacityFromCsd(const std::vector<uint8_t> &csd) {
  if (csd.size() != 16)
    return 0;
  const std::unique_ptr<CCSD> decoded(CCSD::Create(false, csd.data()));
  return decoded ? decoded->GetCapacity() : 0;
}

// The library's maker name for the first byte of the flash-ID text
// ("45 DE 94 93 76 51"); "Unknown" for an empty or malformed ID.
std::string FlashMakerName(const std::string &flashId) {
  if (flashId.size() < 2)
    return "Unknown";
  char *end = nullptr;
  std::string first = flashId.substr(0, 2);
  long maker = std::strtol(first.c_str(), &end, 16);
  if (end != first.c_str() + 2)
    return "Unknown";
  return GetFlashMakerName(static_cast<unsigned int>(maker));
}

} // namespace

std::optional<LifeFigures> Life(const CardCounters &c) {
  if (!c.LifeUsedPercent)
    return std::nullopt;
  LifeFigures f;
  f.Used = std::round(*c.LifeUsedPercent * 100.0) / 100.0;
  f.Remaining = (10000.0 - std::round(*c.LifeUsedPercent * 100.0)) / 100.0;
  return f;
}

bool RateLife(CardCounters &c, uint32_t rated) {
  if (c.PeCycleCount != 0 || c.TotalVbCount == 0 || rated == 0)
    return false;
  c.PeCycleCount = rated;
  c.LifeUsedPercent =
      100.0 * c.HeaderTotalEraseCount / (static_cast<double>(rated) * c.TotalVbCount);
  return true;
}

CardData CollectCardData(const std::string &device, CardTransport transport, unsigned select) {
  CardData d;
  d.Device = device;
  d.Transport = transport;

  CardIdentity &id = d.Identity;
  id.Manufacturer = Text(GetManufactureName_CID());
  id.OemProduct = Text(GetCustomizedID_CID());
  id.ProductRevision = GetProductRevision_CID();
  id.SerialNumber = GetSerialNumber_CID();
  id.ManufacturingDate = Text(GetManufacturingDate_CID());
  id.HeaderVersion = GetHeaderVersion();
  id.Cid = Register(GetSD_CID, 16);
  id.Csd = Register(GetSD_CSD, 16);
  id.Scr = Register(GetSD_SCR, 8);
  id.RegistersPresent = id.Cid.size() == 16;
  if (id.RegistersPresent) {
    id.ManufacturerId = id.Cid[0];
    id.OemId.assign(id.Cid.begin() + 1, id.Cid.begin() + 3);
    id.ProductName.assign(id.Cid.begin() + 3, id.Cid.begin() + 8);
  }
  id.CapacityBytes = CapacityFromCsd(id.Csd);
  id.FirmwareVersion = Text(GetFWVersion());
  id.HardwareVersion = Text(GetHWVersion());
  id.MpVersion = Text(GetMPVersion());
  id.LibraryVersion = Text(GetLibraryVersion());
  id.FlashId = Text(GetFlashID());
  while (!id.FlashId.empty() && id.FlashId.back() == ' ')
    id.FlashId.pop_back();
  id.FlashMaker = FlashMakerName(id.FlashId);
  id.FlashType = Text(GetFlashType());
  id.ClientMark = Text(GetClientMark());

  CardCounters &c = d.Counters;
  d.Select = select;
  d.EraseTableRead = (select & kSelectEraseCounts) != 0;
  d.ReadTableRead = (select & kSelectReadCounts) != 0;
  c.PeCycleCount = GetPECycleCount();
  c.TotalVbCount = GetTotalVBCountOfFlash();
  // The library's figure is 100 x erases / (cycles x VBs): without both
  // factors there is no life to tell.
  if (c.PeCycleCount != 0 && c.TotalVbCount != 0 && std::isfinite(GetLifeMonitor()))
    c.LifeUsedPercent = GetLifeMonitor();
  c.TotalEraseCount = GetTotalEraseCount();
  c.AverageEraseCount = GetAverageEraseCount();
  if (d.EraseTableRead) {
    c.MinEraseCount = GetMinEraseCount();
    c.MaxEraseCount = GetMaxEraseCount();
  }
  c.MinEraseCountHeader = GetMinEraseCountFromHeader();
  c.MaxEraseCountHeader = GetMaxEraseCountFromHeader();
  c.EraseCountOffset = GetEraseCountOffset();
  c.InitialBadBlocks = GetInitialBadBlockCount();
  c.LaterBadBlocks = GetLaterBadBlockCount();
  c.MinSpareBlocks = GetMinSpareBlockCount();
  c.TotalPhysicalBlocks = GetTotalPhysicalBlockCountOfFlash();
  c.BlocksPerVb = c.TotalVbCount ? c.TotalPhysicalBlocks / c.TotalVbCount : 0;
  c.HeaderTotalEraseCount = c.BlocksPerVb ? c.TotalEraseCount / c.BlocksPerVb : 0;
  c.TotalCeCount = GetTotalCECount();
  c.EccCapacity = GetECCCapacity();
  c.PowerCycles = GetPowerCycleCount();
  c.AbnormalShutdowns = GetAbnormalShutdownCount();
  if (select & kSelectRuntime)
    c.EccUncorrectable = GetECCUncorrectableCount();
  c.WriteProtectStatus = GetWPStatus();

  if (d.EraseTableRead)
    d.EraseCounts = Table(GetDetailEraseCount);
  if (d.ReadTableRead)
    d.ReadCounts = Table(GetDetailReadCount);
  return d;
}

} // namespace sdsmart_tool
