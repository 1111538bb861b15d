// SPDX-License-Identifier: MIT
// The two transports a card is reached through: a SCSI disk behind a USB
// reader (SG_IO) and a native SD host (MMC_IOC_CMD). Each returns what ioctl
// returns (0, or -1 with errno set). The caller holds the card's lock.
#pragma once

namespace sdsim {

class CardState;

int ScsiIoctl(CardState &card, void *sgIoHdr);
int MmcIoctl(CardState &card, void *mmcIocCmd);
// SG_IO or MMC_IOC_CMD on a card that answers from a recording.
int ReplayIoctl(CardState &card, bool scsi, void *request);

// Largest SG_IO data phase the reader takes (bytes).
constexpr unsigned kScsiMaxTransfer = 2048 * 512;

} // namespace sdsim
