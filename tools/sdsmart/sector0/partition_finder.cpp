// SPDX-License-Identifier: MIT
// Where to look for file systems on a card: formatters put the first one at
// LBA 63 (old), 2048, 8192 or 32768 and later ones right after the one
// before, or at the next 1 MiB or 4 MiB.
#include "sector0/partition_finder.h"

#include <cctype>

namespace sdsmart_tool {
namespace {

constexpr uint64_t kFine = 128;           // 64 KiB steps near where one is expected
constexpr uint64_t kFineSpan = 64 * 2048; // for 64 MiB
constexpr uint64_t kCoarse = 2048;        // 1 MiB steps beyond
constexpr uint64_t kExtBlockSectors = 8;  // a 4 KiB block

std::optional<FoundPartition> Probe(const CardReader &card, uint64_t lba) {
  std::optional<FoundPartition> p = FatAt(card, lba);
  if (!p)
    p = ExtAt(card, lba);
  if (p && (p->Sectors == 0 || p->Start + p->Sectors > card.Capacity))
    return std::nullopt;
  return p;
}

// The first file system at or after `from`: at `from` itself, every 64 KiB
// for 64 MiB, then every 1 MiB to the end of the card.
std::optional<FoundPartition> NextFrom(const CardReader &card, uint64_t from) {
  if (std::optional<FoundPartition> p = Probe(card, from))
    return p;
  const uint64_t fineEnd = from + kFineSpan;
  for (uint64_t lba = (from / kFine + 1) * kFine; lba < card.Capacity;) {
    if (std::optional<FoundPartition> p = Probe(card, lba))
      return p;
    lba = lba < fineEnd ? lba + kFine : (lba / kCoarse + 1) * kCoarse;
  }
  return std::nullopt;
}

} // namespace

bool CardReader::Sector(uint64_t lba, uint8_t *out) const {
  if (lba >= Capacity)
    return false;
  Read(lba, 1, out);
  return true;
}

std::vector<FoundPartition> FindPartitions(const CardReader &card) {
  std::vector<FoundPartition> found;
  for (uint64_t from = 63; found.size() < 4 && from < card.Capacity;) {
    std::optional<FoundPartition> p = NextFrom(card, from);
    if (!p)
      break;
    found.push_back(*p);
    from = p->Start + p->Sectors;
  }
  // ext counts whole blocks: a partition a little longer than its file
  // system ends where the next one (or the card) begins.
  for (size_t i = 0; i < found.size(); ++i) {
    FoundPartition &p = found[i];
    const uint64_t limit = i + 1 < found.size() ? found[i + 1].Start : card.Capacity;
    if (p.Type == 0x83 && limit - (p.Start + p.Sectors) < kExtBlockSectors)
      p.Sectors = limit - p.Start;
  }
  return found;
}

std::optional<uint32_t> PartUuidDiskId(const std::string &text) {
  static const std::string key = "PARTUUID=";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const std::string id = text.substr(at + key.size(), 11);
    bool hex = id.size() == 11 && id[8] == '-';
    for (size_t i = 0; hex && i < 11; ++i)
      hex = i == 8 || std::isxdigit(static_cast<unsigned char>(id[i]));
    if (hex)
      return static_cast<uint32_t>(std::stoul(id.substr(0, 8), nullptr, 16));
  }
  return std::nullopt;
}

} // namespace sdsmart_tool
