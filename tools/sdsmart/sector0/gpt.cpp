// SPDX-License-Identifier: MIT
#include "sector0/gpt.h"

#include <sdsmart/partition_table.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sdsmart_tool {
namespace {

namespace PT = PartitionTable;

// No real GPT holds more than a few thousand entries; a larger array is
// taken for damage rather than read.
constexpr uint64_t kMaxEntryArrayBytes = 4 << 20;

std::string Guid(const uint8_t *g) {
  // The first three groups are little-endian, the last two bytes as stored.
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", PT::Le32(g),
                g[4] | g[5] << 8, g[6] | g[7] << 8, g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return text;
}

} // namespace

uint32_t Crc32(const uint8_t *data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i)
    crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::optional<GptHeader> GptHeaderAt(const CardReader &card, uint64_t lba) {
  Sector s{};
  if (!card.Sector(lba, s.data()) ||
      std::memcmp(s.data(), PT::GptSignature, PT::GptSignatureBytes) != 0)
    return std::nullopt;
  const uint32_t size = PT::Le32(s.data() + PT::GptHeaderSizeAt);
  if (size < PT::GptHeaderMinBytes || size > s.size() || PT::Le64(s.data() + PT::GptMyLbaAt) != lba)
    return std::nullopt;
  const uint32_t crc = PT::Le32(s.data() + PT::GptHeaderCrcAt);
  PT::PutLe32(s.data() + PT::GptHeaderCrcAt, 0);
  if (Crc32(s.data(), size) != crc)
    return std::nullopt;

  GptHeader h;
  h.Lba = lba;
  h.AlternateLba = PT::Le64(s.data() + PT::GptAlternateLbaAt);
  h.EntriesLba = PT::Le64(s.data() + PT::GptEntriesLbaAt);
  const uint32_t count = PT::Le32(s.data() + PT::GptEntryCountAt);
  const uint32_t entrySize = PT::Le32(s.data() + PT::GptEntrySizeAt);
  const uint64_t bytes = uint64_t{count} * entrySize;
  if (entrySize < PT::GptEntryMinBytes || entrySize % PT::GptEntryMinBytes != 0 ||
      bytes > kMaxEntryArrayBytes)
    return std::nullopt;
  const uint64_t sectors = (bytes + PT::SectorBytes - 1) / PT::SectorBytes;
  if (h.EntriesLba == 0 || h.EntriesLba + sectors > card.Capacity)
    return std::nullopt;
  std::vector<uint8_t> entries(sectors * PT::SectorBytes);
  for (uint64_t done = 0; done < sectors;) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(sectors - done, 64));
    card.Read(h.EntriesLba + done, chunk, entries.data() + done * PT::SectorBytes);
    done += chunk;
  }
  if (Crc32(entries.data(), bytes) != PT::Le32(s.data() + PT::GptEntriesCrcAt))
    return std::nullopt;
  for (uint64_t at = 0; at < bytes; at += entrySize)
    h.Entries += std::any_of(entries.begin() + at, entries.begin() + at + 16,
                             [](uint8_t b) { return b != 0; });
  h.DiskGuid = Guid(s.data() + PT::GptDiskGuidAt);
  return h;
}

GptDisk FindGpt(const CardReader &card) {
  GptDisk disk;
  if (card.Capacity < 3)
    return disk;
  Sector s{};
  disk.PrimarySeen = card.Sector(PT::GptHeaderLba, s.data()) &&
                     std::memcmp(s.data(), PT::GptSignature, PT::GptSignatureBytes) == 0;
  if (disk.PrimarySeen)
    disk.Primary = GptHeaderAt(card, PT::GptHeaderLba);
  disk.Backup = GptHeaderAt(card, card.Capacity - 1);
  if (!disk.Backup && disk.Primary && disk.Primary->AlternateLba != card.Capacity - 1)
    disk.Backup = GptHeaderAt(card, disk.Primary->AlternateLba);
  return disk;
}

Sector ProtectiveMbr(uint64_t capacity) {
  Sector s{};
  uint8_t *e = s.data() + PT::EntriesAt;
  std::copy(PT::GptProtectiveFirstChs.begin(), PT::GptProtectiveFirstChs.end(),
            e + PT::EntryFirstChsAt);
  e[PT::EntryTypeAt] = PT::GptProtectiveType;
  std::copy(PT::GptProtectiveLastChs.begin(), PT::GptProtectiveLastChs.end(),
            e + PT::EntryLastChsAt);
  PT::PutLe32(e + PT::EntryFirstLbaAt, PT::GptHeaderLba);
  PT::PutLe32(e + PT::EntrySectorCountAt,
              static_cast<uint32_t>(
                  std::min<uint64_t>(capacity - PT::GptHeaderLba, PT::GptProtectiveMaxSectors)));
  std::copy(PT::Signature.begin(), PT::Signature.end(), s.begin() + PT::SignatureAt);
  return s;
}

} // namespace sdsmart_tool
