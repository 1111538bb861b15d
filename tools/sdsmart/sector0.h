// Sector 0 of a card, read and written through the library's own drive
// classes (the USB reader's SCSI path or the native host's MMC path), exactly
// as the library reaches it during an acquisition.
#pragma once

#include "journal.h"

#include <memory>
#include <string>

class CUsbDrive;
class CMmcDrive;

namespace sdsmart_tool {

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

private:
  std::unique_ptr<CUsbDrive> Usb;
  std::unique_ptr<CMmcDrive> Mmc;
};

// errno of opening the node read-write (0 when it opens). Used to tell
// "permission denied" apart from a missing node before the library runs.
int ProbeOpen(const std::string &device);

} // namespace sdsmart_tool
