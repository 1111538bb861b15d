// SPDX-License-Identifier: MIT
// The numbers of the card's vendor protocol, in one place: the sector every
// transfer moves, the enter and leave patterns, where the SMART sectors lie,
// the detail functions a run may select, the markers of the detail tables,
// how long the card may answer busy, where the host-file command sector
// keeps its fields, and how many entries a detail table holds.
#pragma once

#include "sdsmart/smart_info_header_record.h"
#include "sdsmart/smart_info_reader.h"

#include <array>
#include <cstdint>

namespace CardProtocol {

// Every command, answer and detail page is one or more 512-byte sectors.
inline constexpr unsigned int SectorBytes = 512;
// Detail entries are big-endian 16-bit values.
inline constexpr unsigned int EntriesPerSector = SectorBytes / 2;
// DetailSectorCountEx value meaning "use DetailSectorCount" (as does 0).
inline constexpr unsigned int DetailSectorCountExUnset = 0xFFFF;
// DetailSectorCountEx counts at most 0xFFFF sectors (0xFFFF itself means
// "use DetailSectorCount", which is smaller still).
inline constexpr unsigned long long LargestDetailTable = 0xFFFFull * EntriesPerSector;

// A detail entry (erase count, native read count) of a VB not in use.
inline constexpr unsigned int UnusedEntry = 0xFFFE;
// An empty slot of a global read-count index or value sector.
inline constexpr unsigned int EmptyPairSlot = 0xFFFF;
// The largest count the library reports as a value (0xFFFFD); anything above
// is a marker: CSmartInfoReader::ReadCountNone, ::EraseCountUnused.
inline constexpr unsigned int LargestCount = CSmartInfoReader::LargestCount;

// SMART sectors while the card is in special mode: the header of detail
// type T at sector T, and detail sector k (from 0) at 256 (k + 1) + 128 + T.
inline constexpr unsigned int DetailSectorAddress(unsigned int k, unsigned char type) {
  return 256 * (k + 1) + 128 + type;
}

// What a version-2 run reads besides the header: a set of bits, or exactly
// PmtClean alone; None reads the header only.
struct FunctionSelect {
  enum Bit : unsigned int {
    None = 0,
    EraseCounts = 1,
    ReadCounts = 2,
    RuntimeBad = 4,
    PmtClean = 8
  };
  // Erase counts and run-time bad blocks: what a run reads unless told otherwise.
  static constexpr unsigned int Default = EraseCounts | RuntimeBad;
};

// The host-file method (version 3) asks for each detail function with a
// selector of its own: 0x101 erase counts, 0x102 read counts, 0x103 run-time
// bad blocks (0 asks for the header alone).
struct FileSelector {
  unsigned int Selector;
  unsigned int Bit; // FunctionSelect
};
inline constexpr FileSelector FileSelectors[] = {{0x101, FunctionSelect::EraseCounts},
                                                 {0x102, FunctionSelect::ReadCounts},
                                                 {0x103, FunctionSelect::RuntimeBad}};

// Busy headers the card may answer for one sector (a header, the first
// detail sector, a PMT clean poll) before the run gives up.
inline constexpr unsigned int BusyPolls = 5000;
// Busy re-reads that follow each other at once; after these the card is
// given a short pause before each further re-read.
inline constexpr unsigned int ImmediateBusyReads = 100;

// The command sector of the host-file method (version 3): the entry bytes at
// CommandAt (where a pattern has its command group), the extension unit
// (big-endian 16-bit) at UnitAt, the selector (big-endian 32-bit) at
// SelectorAt (where an enter pattern for that method has its marker).
inline constexpr unsigned int EntryLength = 8;
inline constexpr unsigned int CommandAt = 256;
inline constexpr unsigned int UnitAt = 266;
inline constexpr unsigned int SelectorAt = 268;

// The enter and leave patterns written to sector 0; zero but for:
//   0..7      entry bytes E0..E7 (enter) or E7..E0 (leave)
//   248..255  the same bytes mirrored: byte 255 - i equals byte i
//   256..263  the command group (at CommandAt)
//   268..271  DE AD BE EF in an enter for the host-file method (version 3),
//             at SelectorAt
//   504..511  the closing group
struct Pattern {
  using Group = std::array<unsigned char, 8>;
  using Marker = std::array<unsigned char, 4>;
  static constexpr unsigned int MirrorAt = 248;
  static constexpr unsigned int ClosingAt = 504;
  static constexpr Group EnterCommand{0x02, 0x01, 0, 0, 0, 0, 0, 0};
  static constexpr Group EnterClosing{0, 0, 0, 0, 0, 0, 0x01, 0x02};
  static constexpr Group LeaveCommand{0x02, 0, 0, 0, 0, 0, 0x01, 0x02};
  static constexpr Group LeaveClosing{0x02, 0x01, 0, 0, 0, 0, 0, 0};
  static constexpr Marker HostFileMarker{0xDE, 0xAD, 0xBE, 0xEF};
};

// Entries of a detail table: Base + Extra x (U - 1), U = TotalVBCount /
// VBsPerUnit (1 when VBsPerUnit is 0), in 64-bit arithmetic so that no header
// wraps it. `units` receives U; a U of 0 is damage the caller refuses.
inline uint64_t DetailEntryCount(const _SMART_INFO_HEADER &host, uint64_t *units = nullptr) {
  uint64_t u = 1;
  if (host.VBsPerUnit != 0)
    u = host.TotalVBCount / host.VBsPerUnit;
  if (units)
    *units = u;
  return host.BaseVBEntryCount + static_cast<uint64_t>(host.ExtraVBEntriesPerUnit) * (u - 1);
}

} // namespace CardProtocol
