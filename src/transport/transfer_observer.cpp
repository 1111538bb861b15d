// SPDX-License-Identifier: MIT
#include "transport/transfer_observer.h"

#include "transport/kernel_abi.h"

#include <cerrno>

namespace TransferObserver {
namespace {

SdsmartTransferObserver current = nullptr;
void *currentContext = nullptr;

void Report(SdsmartTransfer &transfer) {
  const int saved = errno;
  current(&transfer, currentContext);
  errno = saved;
}

} // namespace

void Set(SdsmartTransferObserver observer, void *context) {
  current = observer;
  currentContext = context;
}

void Ioctl(unsigned long request, const void *record, int result) {
  if (!current || (request != sdsmart_kernel::kSgIo && request != sdsmart_kernel::kMmcIocCmd))
    return;
  SdsmartTransfer transfer{};
  transfer.kind =
      request == sdsmart_kernel::kSgIo ? SDSMART_TRANSFER_SG_IO : SDSMART_TRANSFER_MMC_CMD;
  transfer.request = record;
  transfer.result = result;
  transfer.error = result < 0 ? errno : 0;
  Report(transfer);
}

void FileStep(int kind, std::uint64_t offset, const unsigned char *data, std::size_t length) {
  if (!current)
    return;
  SdsmartTransfer transfer{};
  transfer.kind = kind;
  transfer.offset = offset;
  transfer.data = data;
  transfer.length = static_cast<unsigned int>(length);
  Report(transfer);
}

} // namespace TransferObserver
