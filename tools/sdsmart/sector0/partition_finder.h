// SPDX-License-Identifier: MIT
// Finding a card's partitions by what lies on it, for a card whose sector 0
// (its partition table) was lost: FAT12/16/32 and exFAT boot sectors and
// ext2/3/4 superblocks carry the start and length of their own file system.
// Nothing here writes; every read goes through the given reader.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

// Reads `count` 512-byte sectors from `lba`; throws CError on a failed
// transfer. The finders never ask for sectors past the capacity.
using SectorSource = std::function<void(uint64_t lba, uint32_t count, uint8_t *out)>;

struct FoundPartition {
  uint64_t Start = 0;   // LBA
  uint64_t Sectors = 0; // length
  uint8_t Type = 0;     // MBR partition type
  bool Boot = false;    // the boot flag
  std::string Kind;     // "FAT32", "exFAT", "ext4", ...
  std::string Label;    // the volume label, "" when none
};

struct CardReader {
  SectorSource Read;
  uint64_t Capacity = 0; // sectors
  // One sector; false past the capacity.
  bool Sector(uint64_t lba, uint8_t *out) const;
};

// A file system whose first sector (FAT, exFAT) or superblock (ext) starts
// at `lba`; its length is what the file system says of itself.
std::optional<FoundPartition> FatAt(const CardReader &card, uint64_t lba);
std::optional<FoundPartition> ExtAt(const CardReader &card, uint64_t lba);

// Every file system found, in order, at most four (one MBR's worth). The
// first is searched at LBA 63 and every 64 KiB up to 64 MiB; each next one
// right after the last one's end, then at every 1 MiB up to the capacity.
std::vector<FoundPartition> FindPartitions(const CardReader &card);

// The text of a small file: the root directory's `name` (8.3 name, such as
// "CMDLINE TXT") of a FAT file system, or the file at `path` ("etc/fstab")
// of an ext one; nothing when it is not there. At most 64 KiB.
std::optional<std::string> FatFileText(const CardReader &card, const FoundPartition &p,
                                       const std::string &name);
std::optional<std::string> ExtFileText(const CardReader &card, const FoundPartition &p,
                                       const std::string &path);

// The disk identifier named as PARTUUID=xxxxxxxx-NN in `text`.
std::optional<uint32_t> PartUuidDiskId(const std::string &text);

} // namespace sdsmart_tool
