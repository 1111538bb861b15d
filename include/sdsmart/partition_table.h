// SPDX-License-Identifier: MIT
// The layout of a card's partition sector (sector 0): the MBR with its four
// primary entries, and where a GPT starts. One home for these numbers, for
// the library and its hosts alike. Multi-byte fields of an entry are
// little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace PartitionTable {

// Sector 0 as an MBR: boot code, four 16-byte entries, the signature.
inline constexpr size_t SectorBytes = 512;
inline constexpr size_t BootCodeBytes = 446;
inline constexpr size_t EntriesAt = BootCodeBytes;
inline constexpr size_t EntryBytes = 16;
inline constexpr size_t EntryCount = 4;
inline constexpr size_t SignatureAt = 510;
inline constexpr size_t DiskIdAt = 440; // 32-bit disk identifier, before the entries
// 0x55AA: byte 510 is 0x55, byte 511 0xAA. Every partition table and boot
// sector ends in it.
inline constexpr std::array<uint8_t, 2> Signature{0x55, 0xAA};
static_assert(EntriesAt + EntryCount * EntryBytes == SignatureAt, "the entries fill the gap");

// Fields of an entry, from its start.
inline constexpr size_t EntryStatusAt = 0;       // EntryBootable or 0
inline constexpr size_t EntryFirstChsAt = 1;     // 3 bytes
inline constexpr size_t EntryTypeAt = 4;         // 0: unused entry
inline constexpr size_t EntryLastChsAt = 5;      // 3 bytes
inline constexpr size_t EntryFirstLbaAt = 8;     // 32-bit
inline constexpr size_t EntrySectorCountAt = 12; // 32-bit

inline constexpr uint8_t EntryBootable = 0x80;

// The entry type of a protective MBR: the disk holds a GPT.
inline constexpr uint8_t GptProtectiveType = 0xEE;
// The GPT header's sector and the signature its first 8 bytes hold.
inline constexpr uint64_t GptHeaderLba = 1;
inline constexpr char GptSignature[] = "EFI PART"; // 8 bytes, no terminator on disk

// The start of entry `i` (0..3) of the MBR at `sector`.
inline const uint8_t *Entry(const uint8_t *sector, size_t i) {
  return sector + EntriesAt + EntryBytes * i;
}

// A little-endian 32-bit field.
inline uint32_t Le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The sector ends in the MBR signature.
inline bool HasSignature(const uint8_t *sector) {
  return sector[SignatureAt] == Signature[0] && sector[SignatureAt + 1] == Signature[1];
}

} // namespace PartitionTable
