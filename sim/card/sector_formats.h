// SPDX-License-Identifier: MIT
// The command sectors the card's firmware recognises: the special-mode
// patterns written to sector 0 and the command sector of the host file. The
// card's own copy of these layouts, independent of the library's.
#pragma once

#include <cstdint>
#include <string>

namespace sdsim {

enum class Pattern { None, Enter, EnterV3, Leave };

// Exactly the enter pattern (version 3: with the DE AD BE EF marker) or the
// leave pattern for `entry`; anything else, a stray byte included, is None.
Pattern ClassifySector0(const std::uint8_t *sector, const std::string &entry);

// A host-file command sector for `entry` on a card of `capacitySectors`:
// entry bytes at 256, 00 00 and the unit at 264, the selector (0, 0x101,
// 0x102 or 0x103) at 268, all else zero.
bool IsCommandSector(const std::uint8_t *sector, const std::string &entry,
                     std::uint64_t capacitySectors, std::uint32_t &selector);

} // namespace sdsim
