// SPDX-License-Identifier: MIT
// SG_IO and MMC_IOC_CMD on a card that answers from a recording: the
// request takes its transfer index (faults such as kill still apply) and
// the recording answers it.
#include "card/card_state.h"
#include "transport/targets.h"

#include <cerrno>

namespace sdsim {

int ReplayIoctl(CardState &card, bool scsi, void *request) {
  if (!request) {
    errno = EFAULT;
    return -1;
  }
  if (card.BeginTransfer(false) == Outcome::Vanished) {
    errno = ENODEV;
    return -1;
  }
  ReplayNote note;
  const int result = scsi ? card.Replayer()->Scsi(*static_cast<sg_io_hdr_t *>(request), note)
                          : card.Replayer()->Mmc(*static_cast<mmc_ioc_cmd *>(request), note);
  const int error = errno;
  card.Record(note.Op, note.Lba, note.Count, note.What);
  errno = error;
  return result;
}

} // namespace sdsim
