// SPDX-License-Identifier: MIT
// A GPT disk told by its headers, for a card whose sector 0 (the protective
// MBR in front of its GPT) was lost: the primary header at LBA 1 and the
// backup in the last sector, each with its own and its partition entry
// array's CRC-32 checked. Nothing here writes.
#pragma once

#include "sector0/partition_finder.h"
#include "sector0/sector0.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sdsmart_tool {

struct GptHeader {
  uint64_t Lba = 0;          // where it is
  uint64_t AlternateLba = 0; // where it says the other one is
  uint64_t EntriesLba = 0;   // its partition entry array
  uint32_t Entries = 0;      // entries in use (a type GUID not all zero)
  std::string DiskGuid;      // as sfdisk and gdisk print it
};

// A command pattern overwrites sector 0 alone, so a GPT card that lost its
// protective MBR still has its primary header. A valid backup with no
// primary header at all is more likely what is left of a GPT the card had
// before a DOS table was made on it (DOS tools leave the last sector be).
struct GptDisk {
  bool PrimarySeen = false; // "EFI PART" at LBA 1, valid or not
  std::optional<GptHeader> Primary, Backup;
  // The disk is GPT: its primary header is there, intact or with a valid
  // backup to stand in for it.
  bool Valid() const { return Primary || (PrimarySeen && Backup); }
  // A valid backup alone: a remnant of an earlier GPT.
  bool Remnant() const { return !PrimarySeen && Backup; }
};

// The header at `lba`, when its signature, size, own LBA and both CRC-32s
// are right.
std::optional<GptHeader> GptHeaderAt(const CardReader &card, uint64_t lba);
// Both headers of the card: LBA 1, and its last sector or, where that holds
// none, where the primary says the backup is (an image written to a larger
// card keeps it at the image's end).
GptDisk FindGpt(const CardReader &card);

// The protective MBR of a disk of `capacity` sectors, as sfdisk writes it:
// disk identifier and boot code zero.
Sector ProtectiveMbr(uint64_t capacity);

// IEEE CRC-32 (reflected, 0xEDB88320) of `size` bytes.
uint32_t Crc32(const uint8_t *data, size_t size);

} // namespace sdsmart_tool
