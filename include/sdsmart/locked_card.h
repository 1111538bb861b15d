// SPDX-License-Identifier: MIT
// CLockedCard: a card's device node open for sector transfers while the
// card's lock (CAcquisitionLock) is held, whichever way the card is attached:
// the drive of the node's transport is chosen inside the library, as an
// acquisition chooses it. For a host that repairs a card itself (the sdsmart
// tool's --restore-sector0 and --rebuild-sector0): no acquisition of the card
// runs meanwhile, and the lock outlasts the descriptor, so that udev does not
// re-read the partition table while sector 0 holds a command pattern.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CLockedCard {
public:
  // Takes the lock, then opens the node. Throws CError as CAcquisitionLock
  // does (busy, SDSMART_E_DEVICE_NOT_FOUND) and as the drive's open does.
  explicit CLockedCard(const std::string &node);
  ~CLockedCard(); // closes the drive, then releases the lock
  CLockedCard(const CLockedCard &) = delete;
  CLockedCard &operator=(const CLockedCard &) = delete;

  // `count` 512-byte sectors from `lba` into `buf`; throws CError on a
  // failed transfer.
  void ReadSectors(unsigned int lba, unsigned int count, unsigned char *buf);
  // The 512 bytes at `sector` become the card's sector 0; throws CError on a
  // failed transfer. Nothing else on the card is written through this class.
  void WriteSector0(const unsigned char *sector);
  // 512-byte sectors of the node, from BLKGETSIZE64 (nothing is sent to the
  // card); 0 when unknown.
  uint64_t CapacitySectors() const;
  // The drive's descriptor, for IdentifyCard (sdsmart/sector0_journal.h).
  int GetHandle() const;

private:
  class CState;
  std::unique_ptr<CState> State;
};
