// SPDX-License-Identifier: MIT
// Card capacity for the production-tool version text.
#include "interface/capacity.h"
#include "interface/session.h"
#include "registers/csd.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"

#include <cstdint>

unsigned int GetCapacityMB() {
  try {
    if (_Header.HeaderVersion >= 2) {
      const std::unique_ptr<CCSD> csd(CCSD::Create(false, _Header.CSD));
      return static_cast<unsigned int>(csd->GetCapacity() >> 20);
    }
    // Older headers carry no CSD copy: ask the drive of the last acquisition,
    // if there is one for the path in use.
    if (_IsUsbDevice) {
      if (!_UsbDrive)
        return 0;
      const uint64_t sectors = _UsbDrive->ReadCapacity();
      return static_cast<unsigned int>((sectors * 512) >> 20);
    }
    if (!_MmcDrive)
      return 0;
    return _MmcDrive->ReadCapacity();
  } catch (...) {
    // The drive cannot tell (it may be gone): no capacity, no recorded error.
    return 0;
  }
}
