// SPDX-License-Identifier: MIT
// The read-only reading of a card: what sysfs shows of it (device/registers
// of a native SD host's card; the USB reader's identity), the node never
// opened.
#pragma once

#include "card/card_registers.h"
#include "device/guard.h"

#include <string>

namespace sdsmart_tool {

// The card the guard classified as `verdict` (sysRoot is "/sys" on a live
// system); decoded (DecodeRegisters).
CardRegisters ReadCardRegisters(const DeviceVerdict &verdict, const std::string &sysRoot);

} // namespace sdsmart_tool
