// SPDX-License-Identifier: MIT
// Sector 0 of a card, read and written through the library's own drives
// (the USB reader's SCSI path or the native host's MMC path, whichever the
// node is on), exactly as the library reaches it during an acquisition.
#pragma once

#include <sdsmart/locked_card.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace sdsmart_tool {

class RunStatus;

using Sector = std::array<uint8_t, 512>;

// It holds the card's lock (the one an acquisition takes) from before its
// descriptor is opened for writing until after it is closed: closing such a
// descriptor while sector 0 holds a pattern lets udev re-read the partition
// table unless the disk is locked, and no acquisition runs meanwhile.
// The library's CLockedCard takes the lock and opens the node; it throws
// CError (busy, SDSMART_E_DEVICE_NOT_FOUND) when it cannot.
class Sector0Device : public CLockedCard {
public:
  using CLockedCard::CLockedCard;

  // Both throw CError on a failed transfer.
  Sector Read();
  void Write(const Sector &s) { WriteSector0(s.data()); }
};

// Runs `body` (the exit bits it returns); a failed transfer or open in it
// is said as "<what>: <the library's error>" with its exit bit.
int GuardTransfers(const std::string &what, RunStatus &status, const std::function<int()> &body);

struct Options;

// After GetSmartInfo: what the run left in sector 0, in the record; where
// the run could not see it restored (a pulled card, a failed write), says so
// in one sentence with the journal and the command that restores it, and
// sets kExitSector0.
void ReportSector0(const Options &options, RunStatus &status, bool read);

// The bare 512-byte copy of sector 0 an sdsmart before the library's journal
// kept in the state directory ("sector0-dev_sdb.bin").
std::string LegacyJournalPath(const std::string &stateDir, const std::string &device);

// errno of opening the node, or of asking for read-write access to it (0
// when both succeed). Used to tell "permission denied" apart from a missing
// node before the library runs. The node is opened read-only: the close of
// a descriptor opened for writing would make udev re-read the partition
// table.
int ProbeOpen(const std::string &device);

} // namespace sdsmart_tool
