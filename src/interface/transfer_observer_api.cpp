// SPDX-License-Identifier: MIT
// SetTransferObserver: the host's view of every request sent to the card.
#include "transport/transfer_observer.h"

extern "C" void SetTransferObserver(SdsmartTransferObserver observer, void *context) {
  TransferObserver::Set(observer, context);
}
