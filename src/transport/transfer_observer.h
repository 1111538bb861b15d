// SPDX-License-Identifier: MIT
// The host's transfer observer (SetTransferObserver): every place that talks
// to the card reports each request here once, after it ended. Reporting
// never changes the request or its outcome, and errno survives it.
#pragma once

#include "sdsmart/sdsmart.h"

#include <cstddef>
#include <cstdint>

namespace TransferObserver {

void Set(SdsmartTransferObserver observer, void *context);

// An ioctl on a card node; only SG_IO and MMC_IOC_CMD are reported.
void Ioctl(unsigned long request, const void *record, int result);

// A host-file step that moved `length` bytes at `offset`.
void FileStep(int kind, std::uint64_t offset, const unsigned char *data, std::size_t length);

} // namespace TransferObserver
