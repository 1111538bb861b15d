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

// Fields of a GPT header (the primary at GptHeaderLba, its backup in the
// disk's last sector), from its start. The CRC-32s are the IEEE one of
// zlib and Ethernet; the header's covers its first GptHeaderSize bytes with
// its own field as zero.
inline constexpr size_t GptSignatureBytes = 8;
inline constexpr size_t GptRevisionAt = 8;        // 32-bit
inline constexpr size_t GptHeaderSizeAt = 12;     // 32-bit
inline constexpr size_t GptHeaderCrcAt = 16;      // 32-bit
inline constexpr size_t GptMyLbaAt = 24;          // 64-bit: the sector this header is in
inline constexpr size_t GptAlternateLbaAt = 32;   // 64-bit: the other header's
inline constexpr size_t GptFirstUsableLbaAt = 40; // 64-bit
inline constexpr size_t GptLastUsableLbaAt = 48;  // 64-bit
inline constexpr size_t GptDiskGuidAt = 56;       // 16 bytes
inline constexpr size_t GptEntriesLbaAt = 72;     // 64-bit: the partition entry array
inline constexpr size_t GptEntryCountAt = 80;     // 32-bit
inline constexpr size_t GptEntrySizeAt = 84;      // 32-bit: 128 times a power of two
inline constexpr size_t GptEntriesCrcAt = 88;     // 32-bit, over count * size bytes
inline constexpr size_t GptHeaderMinBytes = 92;   // the fields above
inline constexpr size_t GptEntryMinBytes = 128;

// The protective MBR in front of a GPT: one entry of GptProtectiveType from
// LBA 1 to the end of the disk (its length capped at 0xFFFFFFFF), CHS from
// 0/0/2 to the all-ones "not representable" value, no boot code.
inline constexpr uint64_t GptProtectiveMaxSectors = 0xFFFFFFFF;
inline constexpr std::array<uint8_t, 3> GptProtectiveFirstChs{0x00, 0x02, 0x00};
inline constexpr std::array<uint8_t, 3> GptProtectiveLastChs{0xFF, 0xFF, 0xFF};

// The start of entry `i` (0..3) of the MBR at `sector`.
inline const uint8_t *Entry(const uint8_t *sector, size_t i) {
  return sector + EntriesAt + EntryBytes * i;
}

// A little-endian 32-bit field.
inline uint32_t Le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A little-endian 64-bit field.
inline uint64_t Le64(const uint8_t *p) {
  return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

// Writes a little-endian 32-bit field.
inline void PutLe32(uint8_t *p, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The sector ends in the MBR signature.
inline bool HasSignature(const uint8_t *sector) {
  return sector[SignatureAt] == Signature[0] && sector[SignatureAt + 1] == Signature[1];
}

} // namespace PartitionTable
