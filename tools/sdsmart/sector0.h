// SPDX-License-Identifier: MIT
// Sector 0 of a card, read and written through the library's own drive
// classes (the USB reader's SCSI path or the native host's MMC path), exactly
// as the library reaches it during an acquisition.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class CUsbDrive;
class CMmcDrive;

namespace sdsmart_tool {

using Sector = std::array<uint8_t, 512>;

// Open it only with the card's lock held (CAcquisitionLock): its descriptor
// is opened for writing, and closing such a descriptor while sector 0 holds
// a pattern lets udev re-read the partition table unless the disk is locked.
class Sector0Device {
public:
  // Opens the node; throws CError (SDSMART_E_DEVICE_NOT_FOUND) when it cannot be
  // opened.
  explicit Sector0Device(const std::string &device);
  ~Sector0Device();
  Sector0Device(const Sector0Device &) = delete;
  Sector0Device &operator=(const Sector0Device &) = delete;

  // Both throw CError on a failed transfer.
  Sector Read();
  void Write(const Sector &s);
  int Handle() const;

private:
  std::unique_ptr<CUsbDrive> Usb;
  std::unique_ptr<CMmcDrive> Mmc;
};

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
