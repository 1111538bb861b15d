// SPDX-License-Identifier: MIT
#include "card/smart_pages.h"

#include <algorithm>
#include <cstring>

namespace sdsim {
namespace {

struct NumberField {
  const char *Name;
  unsigned Offset;
  unsigned Width;
};

// Header fields kept in the card's big-endian order (offset, width).
const NumberField kFields[] = {{"FlashTypeCode", 35, 1},
                               {"PECycleCount", 42, 4},
                               {"BaseVBEntryCount", 46, 4},
                               {"InitialBadBlockCount", 50, 2},
                               {"LaterBadBlockCount", 52, 2},
                               {"MinSpareBlockCount", 54, 2},
                               {"ECCCapacity", 56, 1},
                               {"TotalEraseCount", 57, 4},
                               {"AbnormalShutdownCount", 61, 4},
                               {"PowerCycleCount", 65, 4},
                               {"CECount", 71, 1},
                               {"BlocksPerVB", 72, 1},
                               {"MPVersionMajor", 74, 2},
                               {"MPVersionMinor", 76, 2},
                               {"TotalVBCount", 78, 4},
                               {"VBsPerUnit", 82, 2},
                               {"ExtraVBEntriesPerUnit", 84, 2},
                               {"MinEraseCount", 140, 2},
                               {"MaxEraseCount", 142, 2},
                               {"EraseCountOffset", 144, 2},
                               {"WPStatus", 508, 1},
                               {"HeaderVersion", 510, 1}};

void PutBig(std::uint8_t *p, unsigned width, std::uint32_t value) {
  for (unsigned i = 0; i < width; ++i)
    p[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

void PutLittle(std::uint8_t *p, unsigned width, std::uint32_t value) {
  for (unsigned i = 0; i < width; ++i)
    p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put16(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 8);
  out[at + 1] = static_cast<std::uint8_t>(value);
}

std::uint32_t SectorsFor16BitEntries(std::uint32_t n) {
  return static_cast<std::uint32_t>((2 * std::size_t{n} + kSector - 1) / kSector);
}

// The configured numbers with the erase-count totals filled in where the card
// file leaves them out (or asks for "auto").
std::map<std::string, std::uint32_t> HeaderNumbers(const CardConfig &config) {
  std::map<std::string, std::uint32_t> numbers = config.Numbers;
  const std::uint32_t n = EntryCount(config);
  const std::uint32_t offset = numbers.count("EraseCountOffset") ? numbers["EraseCountOffset"] : 0;
  const std::vector<std::uint16_t> &counts = config.Tables().EraseCounts;
  std::uint32_t total = 0, low = 0xFFFF, high = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t count = counts[i];
    if (count == 0xFFFE)
      continue;
    total += count + offset;
    low = std::min(low, count + offset);
    high = std::max(high, count + offset);
  }
  numbers.emplace("TotalEraseCount", total);
  numbers.emplace("MinEraseCount", low == 0xFFFF && high == 0 ? 0 : low);
  numbers.emplace("MaxEraseCount", high);
  return numbers;
}

} // namespace

std::uint32_t SmartPages::DetailSectors(unsigned type) const {
  const std::uint32_t n = EntryCount(Config);
  switch (type) {
  case 1:
  case 3:
    return SectorsFor16BitEntries(n);
  case 2: {
    if (!Config.GlobalReadCounts)
      return SectorsFor16BitEntries(n);
    const std::vector<std::uint32_t> &reads = Config.Tables().ReadCounts;
    const auto named = static_cast<std::uint32_t>(std::count_if(
        reads.begin(), reads.end(), [](std::uint32_t reads) { return reads != kNoReadCount; }));
    return 2 * ((named + 255) / 256);
  }
  default:
    return 0;
  }
}

unsigned SmartPages::RemainderSectorCount() const {
  if (Config.RemainderSectors)
    return Config.RemainderSectors;
  return std::max(1u, (EntryCount(Config) + 511) / 512);
}

const std::vector<std::uint8_t> &SmartPages::Detail(unsigned type) const {
  auto it = DetailCache.find(type);
  if (it == DetailCache.end())
    it = DetailCache.emplace(type, BuildDetail(type)).first;
  return it->second;
}

const std::vector<std::uint8_t> &SmartPages::Header(unsigned type, bool busy) const {
  auto &cache = HeaderCache[busy ? 1 : 0];
  auto it = cache.find(type);
  if (it == cache.end())
    it = cache.emplace(type, BuildHeader(type, busy)).first;
  return it->second;
}

std::vector<std::uint8_t> SmartPages::BuildDetail(unsigned type) const {
  if (type == 2 && Config.GlobalReadCounts)
    return BuildGlobalReadCounts();
  const std::uint32_t n = EntryCount(Config);
  std::vector<std::uint8_t> out(std::size_t{DetailSectors(type)} * kSector, 0);
  const VbTables &tables = Config.Tables();
  if (type == 1) {
    for (std::uint32_t i = 0; i < n; ++i)
      Put16(out, 2 * i, tables.EraseCounts[i]);
  } else if (type == 3) {
    for (std::uint32_t i = 0; i < n; ++i)
      Put16(out, 2 * i, tables.RuntimeStatus[i]);
  } else if (type == 2) { // native read counts: reads / 255, 0xFFFE for none
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t reads = tables.ReadCounts[i];
      Put16(out, 2 * i,
            reads == kNoReadCount ? 0xFFFE : std::min<std::uint32_t>(reads / 255, 0xFFFD));
    }
  }
  return out;
}

// Pairs of (index sector, value sector) for the VBs that have a count, then
// the remainder bytes: byte v mod (R * 512) holds reads mod 255.
std::vector<std::uint8_t> SmartPages::BuildGlobalReadCounts() const {
  const std::uint32_t n = EntryCount(Config);
  const std::vector<std::uint32_t> &counts = Config.Tables().ReadCounts;
  std::vector<std::uint8_t> out(std::size_t{DetailSectors(2)} * kSector, 0xFF);
  std::uint32_t slot = 0;
  for (std::uint32_t vb = 0; vb < n; ++vb) {
    const std::uint32_t reads = counts[vb];
    if (reads == kNoReadCount)
      continue;
    const std::size_t pair = slot / 256, j = slot % 256;
    Put16(out, (2 * pair) * kSector + 2 * j, vb);
    Put16(out, (2 * pair + 1) * kSector + 2 * j, reads / 255);
    ++slot;
  }
  std::vector<std::uint8_t> remainder(std::size_t{RemainderSectorCount()} * kSector, 0xFF);
  for (std::uint32_t vb = 0; vb < n; ++vb)
    if (counts[vb] != kNoReadCount)
      remainder[vb % remainder.size()] = static_cast<std::uint8_t>(counts[vb] % 255);
  out.insert(out.end(), remainder.begin(), remainder.end());
  return out;
}

std::vector<std::uint8_t> SmartPages::BuildHeader(unsigned type, bool busy) const {
  std::vector<std::uint8_t> h(kSector, 0);
  std::memcpy(&h[0], Config.Signature.data(), 3);
  std::memcpy(&h[3], Config.HwVersion.data(), Config.HwVersion.size());
  std::memcpy(&h[19], Config.FwVersion.data(), Config.FwVersion.size());
  std::memcpy(&h[36], Config.FlashId.data(), 6);
  std::memcpy(&h[95], Config.Cid.data(), 16);
  std::memcpy(&h[111], Config.Csd.data(), 16);
  std::memcpy(&h[127], Config.Scr.data(), 8);
  std::memcpy(&h[152], Config.ClientMark.data(), Config.ClientMark.size());

  // The NV6461 keeps its unit fields little-endian; the model is read from
  // the text at offset 3 up to its first NUL.
  const char *text = reinterpret_cast<const char *>(&h[3]);
  const std::string model(text, strnlen(text, kSector - 3));
  const bool nv6461 = model.find("NV6461") != std::string::npos;
  const std::map<std::string, std::uint32_t> numbers = HeaderNumbers(Config);
  for (const auto &field : kFields) {
    auto it = numbers.find(field.Name);
    if (it == numbers.end())
      continue;
    if (nv6461 && (field.Offset == 82 || field.Offset == 84))
      PutLittle(&h[field.Offset], field.Width, it->second);
    else
      PutBig(&h[field.Offset], field.Width, it->second);
  }

  const std::uint32_t sectors = busy ? 0 : DetailSectors(type);
  h[70] = static_cast<std::uint8_t>(type);
  h[73] = busy ? 1 : 0;
  h[69] = static_cast<std::uint8_t>(std::min<std::uint32_t>(sectors, 255));
  PutBig(&h[138], 2, Config.UseDetailCountEx ? sectors : 0xFFFF);
  if (type == 2 && Config.GlobalReadCounts)
    h[94] = static_cast<std::uint8_t>(RemainderSectorCount());
  return h;
}

} // namespace sdsim
