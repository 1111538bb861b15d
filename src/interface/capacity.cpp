// SPDX-License-Identifier: MIT
// Card capacity for the production-tool version text.
#include "interface/capacity.h"
#include "interface/session.h"
#include "interface/session_record.h"
#include "sdsmart/csd.h"
#include "smart/card_protocol.h"
#include "transport/sector_device.h"

#include <cstdint>

unsigned int GetCapacityMB() {
  try {
    if (_Header.HeaderVersion >= 2) {
      const std::unique_ptr<CCSD> csd(CCSD::Create(false, _Header.CSD));
      return static_cast<unsigned int>(csd->GetCapacity() >> 20);
    }
    // Older headers carry no CSD copy: ask the drive of the last acquisition,
    // if there is one for the path in use.
    CSectorDevice device = RecordDevice();
    if (!device)
      return 0;
    return static_cast<unsigned int>((device.CapacitySectors() * CardProtocol::SectorBytes) >> 20);
  } catch (...) {
    // The drive cannot tell (it may be gone): no capacity, no recorded error.
    return 0;
  }
}
