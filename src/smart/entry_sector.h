// SPDX-License-Identifier: MIT
// The card's entry sector (sector 0) as special mode 2 uses it: the enter
// and leave command patterns (laid out in card_protocol.h), and the one test
// that tells them from the card's own data. The channel writes the patterns,
// the acquisition refuses to run over one left behind, and the tool's journal
// names them.
#pragma once

#include "smart/card_protocol.h"

namespace EntrySector {

// At most this many of a pattern's 28 signature bytes may be off (see
// Classify).
inline constexpr unsigned int ToleratedDifferences = 2;

enum class Kind { OtherData, Enter, EnterVersion3, Leave };

// Fill the sector at `sector` with a pattern for the CardProtocol::EntryLength
// bytes at `entry`.
void BuildEnter(unsigned char *sector, const unsigned char *entry, bool hostFileMarker);
void BuildLeave(unsigned char *sector, const unsigned char *entry);

// What the sector at `sector` holds, whatever entry string a pattern was
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
