// SPDX-License-Identifier: MIT
// The card's entry sector (sector 0) as special mode 2 uses it: the layout of
// the enter and leave command patterns, and the one test that tells them from
// the card's own data. The channel writes the patterns, the acquisition
// refuses to run over one left behind, and the tool's journal names them.
//
// Both patterns are zero but for:
//   0..7      entry bytes E0..E7 (enter) or E7..E0 (leave)
//   248..255  the same bytes mirrored: byte 255 - i equals byte i
//   256..263  enter 02 01 00 00 00 00 00 00, leave 02 00 00 00 00 00 01 02
//   268..271  DE AD BE EF in an enter for the host-file method (version 3)
//   504..511  enter 00 00 00 00 00 00 01 02, leave 02 01 00 00 00 00 00 00
#pragma once

#include "smart/card_protocol.h"

#include <array>

namespace EntrySector {

using Group = std::array<unsigned char, 8>;
using Marker = std::array<unsigned char, 4>;

inline constexpr unsigned int Bytes = CardProtocol::SectorBytes;
inline constexpr unsigned int EntryLength = CardProtocol::EntryLength;
inline constexpr unsigned int MirrorAt = 248;
inline constexpr unsigned int CommandAt = CardProtocol::CommandAt;
inline constexpr unsigned int MarkerAt = CardProtocol::SelectorAt;
inline constexpr unsigned int ClosingAt = 504;
inline constexpr unsigned int BootSignatureAt = 510;

inline constexpr Group EnterCommand{0x02, 0x01, 0, 0, 0, 0, 0, 0};
inline constexpr Group EnterClosing{0, 0, 0, 0, 0, 0, 0x01, 0x02};
inline constexpr Group LeaveCommand{0x02, 0, 0, 0, 0, 0, 0x01, 0x02};
inline constexpr Group LeaveClosing{0x02, 0x01, 0, 0, 0, 0, 0, 0};
inline constexpr Marker HostFileMarker{0xDE, 0xAD, 0xBE, 0xEF};
// Every partition table and boot sector ends in 55 AA; neither pattern does.
inline constexpr std::array<unsigned char, 2> BootSignature{0x55, 0xAA};

// At most this many of a pattern's 28 signature bytes may be off (see
// Classify).
inline constexpr unsigned int ToleratedDifferences = 2;

enum class Kind { OtherData, Enter, EnterVersion3, Leave };

// Fill the Bytes bytes at `sector` with a pattern for the EntryLength bytes
// at `entry`.
void BuildEnter(unsigned char *sector, const unsigned char *entry, bool hostFileMarker);
void BuildLeave(unsigned char *sector, const unsigned char *entry);

// What the Bytes bytes at `sector` hold, whatever entry string a pattern was
// built from.
//
// A pattern that reached the card may not come back whole (a stray byte, a
// flipped bit in a group, half a marker), and a run over such a sector would
// back it up as the card's own and so lose the only good copy: it must still
// count as a pattern. So a sector is the pattern it is nearest to when at
// most ToleratedDifferences of its 28 signature bytes differ from it (the 20
// fixed bytes at 256..263, 268..271 and 504..511, one for each of the 8 entry
// pairs that is not mirrored), whatever the rest of it holds. The tolerance
// stays small because the fixed bytes are few: an all-zero sector is 4 bytes
// from an enter and 5 from a leave. And a sector ending in the boot signature
// is never a pattern: every partition table and boot sector carries it.
Kind Classify(const unsigned char *sector);

} // namespace EntrySector
