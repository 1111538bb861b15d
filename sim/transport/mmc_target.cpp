// SPDX-License-Identifier: MIT
// The card in a native SD host: MMC_IOC_CMD requests are checked the way the
// kernel's MMC block driver, the host controller and an SD card would, then
// the command goes to its handler (mmc_commands.cpp). Reads and writes are
// CMD17/18/24/25; the card also answers CMD13, CMD12 and CMD23, and an eMMC
// CMD8 (SEND_EXT_CSD; an SD card's CMD8 is SEND_IF_COND, which the host's
// ioctl gets no answer to). Any other command gets no response, as on the
// bus.
#include "transport/mmc_commands.h"
#include "transport/targets.h"

#include <cerrno>
#include <cstring>

namespace sdsim {
namespace {

// Flag bits of the MMC core.
constexpr unsigned kRspPresent = 1u << 0, kRsp136 = 1u << 1, kRspCrc = 1u << 2, kRspBusy = 1u << 3,
                   kRspOpcode = 1u << 4;
constexpr unsigned kCmdMask = 3u << 5, kCmdAc = 0u << 5, kCmdAdtc = 1u << 5;
constexpr unsigned kRspMask = kRspPresent | kRsp136 | kRspCrc | kRspBusy | kRspOpcode;
constexpr unsigned kR1 = kRspPresent | kRspCrc | kRspOpcode, kR1b = kR1 | kRspBusy;

constexpr std::uint64_t kMaxBytes = 512 * 1024; // what the block driver takes per ioctl

int Fail(int error) {
  errno = error;
  return -1;
}

bool IsDataCommand(unsigned op) {
  return op == kMmcReadSingle || op == kMmcReadMultiple || op == kMmcWriteSingle ||
         op == kMmcWriteMultiple;
}

// An eMMC's SEND_EXT_CSD: one 512-byte block read.
bool IsExtCsd(const CardState &card, unsigned op) {
  return op == kMmcSendExtCsd && card.Config().IsEmmc();
}

// What the driver, the host or the bus refuse before the card acts: the
// errno, or 0.
int RequestError(const CardState &card, const mmc_ioc_cmd &c) {
  const std::uint64_t bytes = std::uint64_t{c.blksz} * c.blocks;
  if (bytes > kMaxBytes)
    return EOVERFLOW;
  if (bytes && !c.data_ptr)
    return EFAULT;
  const unsigned op = c.opcode;
  const bool extCsd = IsExtCsd(card, op);
  const bool data = IsDataCommand(op) || extCsd;
  const bool write = op == kMmcWriteSingle || op == kMmcWriteMultiple;
  // A command the card does not know (or an application command it has not
  // got) gets no response: the host times out.
  if ((!data && op != kMmcSendStatus && op != kMmcStopTransmission && op != kMmcSetBlockCount) ||
      c.is_acmd)
    return ETIMEDOUT;
  // The response the command has: R1 (R1b accepted where a busy wait does no
  // harm). A different response length or a missing CRC fails on the bus.
  const unsigned rsp = c.flags & kRspMask;
  if (rsp != kR1 && rsp != kR1b)
    return EILSEQ;
  const unsigned type = c.flags & kCmdMask;
  if (data ? type != kCmdAdtc : type != kCmdAc)
    return EINVAL;
  if (!data)
    return c.blksz || c.blocks || c.write_flag ? EINVAL : 0;
  if (c.blksz != 512 || c.blocks == 0 || !c.data_ptr)
    return EINVAL;
  if ((op == kMmcReadSingle || op == kMmcWriteSingle || extCsd) && c.blocks != 1)
    return EINVAL;
  if (c.write_flag != (write ? 1 : 0))
    return EINVAL;
  return 0;
}

} // namespace

int MmcIoctl(CardState &card, void *arg) {
  auto *command = static_cast<mmc_ioc_cmd *>(arg);
  if (!command)
    return Fail(EFAULT);
  if (card.Vanished())
    return Fail(ENODEV);
  if (const int error = RequestError(card, *command))
    return Fail(error);
  const bool data = IsDataCommand(command->opcode);
  const Outcome outcome = card.BeginTransfer(data);
  if (outcome == Outcome::Vanished)
    return Fail(ENODEV);
  std::memset(command->response, 0, sizeof command->response);
  if (IsExtCsd(card, command->opcode))
    return MmcSendExtCsd(card, *command, outcome);
  return data ? MmcDataCommand(card, *command, outcome) : MmcNoDataCommand(card, *command, outcome);
}

} // namespace sdsim
