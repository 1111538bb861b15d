// SPDX-License-Identifier: MIT
// The numbers of the card's vendor protocol, in one place: the sector every
// transfer moves, the detail functions a version-2 run may select, how long
// the card may answer busy, where the host-file command sector keeps its
// fields, and how many entries a detail table holds.
#pragma once

#include "sdsmart/smart_info_header_record.h"

#include <cstdint>

namespace CardProtocol {

// Every command, answer and detail page is one or more 512-byte sectors.
inline constexpr unsigned int SectorBytes = 512;
// Detail entries are big-endian 16-bit values.
inline constexpr unsigned int EntriesPerSector = SectorBytes / 2;
// DetailSectorCountEx counts at most 0xFFFF sectors (0xFFFF itself means
// "use DetailSectorCount", which is smaller still).
inline constexpr unsigned long long LargestDetailTable = 0xFFFFull * EntriesPerSector;

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

// Busy headers the card may answer for one sector (a header, the first
// detail sector, a PMT clean poll) before the run gives up.
inline constexpr unsigned int BusyPolls = 5000;
// Busy re-reads that follow each other at once; after these the card is
// given a short pause before each further re-read.
inline constexpr unsigned int ImmediateBusyReads = 100;

// The command sector of the host-file method (version 3) and of the enter
// pattern: the entry bytes at CommandAt, the extension unit (big-endian
// 16-bit) at UnitAt, the selector (big-endian 32-bit) at SelectorAt, where an
// enter pattern for that method carries its marker instead.
inline constexpr unsigned int EntryLength = 8;
inline constexpr unsigned int CommandAt = 256;
inline constexpr unsigned int UnitAt = 266;
inline constexpr unsigned int SelectorAt = 268;

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
