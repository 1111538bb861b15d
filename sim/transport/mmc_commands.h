// SPDX-License-Identifier: MIT
// The card in a native SD host: handlers of the commands it answers, called
// once the request has passed the driver's and the bus's checks.
#pragma once

#include "card/card_state.h"

#include <cstdint>
#include <linux/mmc/ioctl.h>

namespace sdsim {

constexpr unsigned kMmcSendExtCsd = 8, kMmcStopTransmission = 12, kMmcSendStatus = 13,
                   kMmcReadSingle = 17, kMmcReadMultiple = 18, kMmcSetBlockCount = 23,
                   kMmcWriteSingle = 24, kMmcWriteMultiple = 25;

// CMD13 (SEND_STATUS), CMD12 (STOP_TRANSMISSION), CMD23 (SET_BLOCK_COUNT).
int MmcNoDataCommand(CardState &card, mmc_ioc_cmd &command, Outcome outcome);
// CMD17/18 (read), CMD24/25 (write).
int MmcDataCommand(CardState &card, mmc_ioc_cmd &command, Outcome outcome);
// CMD8 of an eMMC (SEND_EXT_CSD): the 512-byte EXT_CSD.
int MmcSendExtCsd(CardState &card, mmc_ioc_cmd &command, Outcome outcome);

} // namespace sdsim
