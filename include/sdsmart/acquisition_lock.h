// SPDX-License-Identifier: MIT
// CAcquisitionLock: an exclusive advisory lock (flock) on the card's device
// node, held for the whole time an acquisition may write sector 0. Two
// acquisitions of one card - from two processes, or two handles in one -
// would otherwise back up each other's command patterns as the card's entry
// sector. A host that writes to the card itself (the sdsmart tool restoring
// sector 0) takes the same lock, or uses CLockedCard (sdsmart/locked_card.h),
// which holds it.
#pragma once

#include <string>

class CAcquisitionLock {
public:
  // Retries for this long while another holder keeps the lock.
  static constexpr unsigned int WaitMilliseconds = 2000;
  static constexpr unsigned int RetryMilliseconds = 50;

  // Opens the node read-only with its own descriptor and takes the lock.
  // Throws CError: SDSMART_E_DEVICE_NOT_FOUND when the node cannot be
  // opened; uncoded, saying the device is busy, when the lock stays taken.
  explicit CAcquisitionLock(const std::string &node);
  ~CAcquisitionLock(); // closing the descriptor releases the lock
  CAcquisitionLock(const CAcquisitionLock &) = delete;
  CAcquisitionLock &operator=(const CAcquisitionLock &) = delete;

private:
  int fd = -1;
};
