// The card in a native SD host: MMC_IOC_CMD requests are checked the way the
// kernel's MMC block driver, the host controller and an SD card would, then
// the command is executed. Reads and writes are CMD17/18/24/25; the card also
// answers CMD13 (SEND_STATUS), CMD12 (STOP_TRANSMISSION) and CMD23
// (SET_BLOCK_COUNT). Any other command gets no response, as on the bus.
#include "card_state.h"
#include "targets.h"

#include <cerrno>
#include <cstring>
#include <linux/mmc/ioctl.h>
#include <vector>

namespace sdsim {
namespace {

// Flag bits of the MMC core.
constexpr unsigned kRspPresent = 1u << 0, kRsp136 = 1u << 1, kRspCrc = 1u << 2, kRspBusy = 1u << 3,
                   kRspOpcode = 1u << 4;
constexpr unsigned kCmdMask = 3u << 5, kCmdAc = 0u << 5, kCmdAdtc = 1u << 5;
constexpr unsigned kRspMask = kRspPresent | kRsp136 | kRspCrc | kRspBusy | kRspOpcode;
constexpr unsigned kR1 = kRspPresent | kRspCrc | kRspOpcode, kR1b = kR1 | kRspBusy;

// R1 card status bits.
constexpr std::uint32_t kOutOfRange = 1u << 31, kAddressError = 1u << 30, kCardEccFailed = 1u << 21,
                        kError = 1u << 19;
constexpr std::uint32_t kStateTran = 4u << 9, kReadyForData = 1u << 8;
constexpr std::uint32_t kStatusOk = kStateTran | kReadyForData;

constexpr std::uint64_t kMaxBytes = 512 * 1024; // what the block driver takes per ioctl

int Fail(int err) {
  errno = err;
  return -1;
}

} // namespace

int MmcIoctl(CardState &card, void *arg) {
  auto *c = static_cast<mmc_ioc_cmd *>(arg);
  if (!c)
    return Fail(EFAULT);
  if (card.Vanished())
    return Fail(ENODEV);
  const std::uint64_t bytes = std::uint64_t{c->blksz} * c->blocks;
  if (bytes > kMaxBytes)
    return Fail(EOVERFLOW);
  if (bytes && !c->data_ptr)
    return Fail(EFAULT);

  const unsigned op = c->opcode;
  const bool read = op == 17 || op == 18, write = op == 24 || op == 25;
  const bool data = read || write;
  const bool known = data || op == 13 || op == 12 || op == 23;
  // A command the card does not know (or an application command it has not
  // got) gets no response: the host times out.
  if (!known || c->is_acmd)
    return Fail(ETIMEDOUT);
  // The response the command has: R1 (R1b accepted where a busy wait does no
  // harm). A different response length or a missing CRC fails on the bus.
  const unsigned rsp = c->flags & kRspMask;
  if (rsp != kR1 && rsp != kR1b)
    return Fail(EILSEQ);
  const unsigned type = c->flags & kCmdMask;
  if (data ? type != kCmdAdtc : type != kCmdAc)
    return Fail(EINVAL);
  if (data) {
    if (c->blksz != 512 || c->blocks == 0 || !c->data_ptr)
      return Fail(EINVAL);
    if ((op == 17 || op == 24) && c->blocks != 1)
      return Fail(EINVAL);
    if (c->write_flag != (write ? 1 : 0))
      return Fail(EINVAL);
  } else if (c->blksz || c->blocks || c->write_flag) {
    return Fail(EINVAL);
  }

  const Outcome outcome = card.BeginTransfer(data);
  if (outcome == Outcome::Vanished)
    return Fail(ENODEV);
  std::memset(c->response, 0, sizeof c->response);

  if (!data) {
    const std::string what = op == 13 ? "status" : op == 12 ? "stop" : "set block count";
    if (outcome == Outcome::Fail) {
      card.Record("cmd", 0, 0, "failed");
      return Fail(EIO);
    }
    if (op == 13 && (c->arg >> 16) != card.Config().rca) {
      card.Record("cmd", 0, 0, what);
      return Fail(ETIMEDOUT); // another card's address: nobody answers
    }
    // An error status is the ERROR bit of the R1 answer; a command without
    // data has nothing to cut short and answers as usual.
    if (outcome == Outcome::ErrorStatus) {
      card.Record("cmd", 0, 0, "error status");
      c->response[0] = kStatusOk | kError;
      return 0;
    }
    card.Record("cmd", 0, 0, outcome == Outcome::Short ? what + " (short)" : what);
    c->response[0] = kStatusOk;
    return 0;
  }

  const std::string kind = read ? "read" : "write";
  std::uint32_t lba = c->arg;
  if (card.Config().byte_addressed) {
    if (c->arg % 512) {
      card.Record(kind, c->arg / 512, c->blocks, "address error");
      c->response[0] = kStatusOk | kAddressError;
      return Fail(ETIMEDOUT); // the card refuses the command; no data comes
    }
    lba = c->arg / 512;
  }
  if (std::uint64_t{lba} + c->blocks > card.Config().capacity_sectors) {
    card.Record(kind, lba, c->blocks, "out of range");
    c->response[0] = kStatusOk | kOutOfRange;
    return Fail(ETIMEDOUT);
  }
  if (outcome == Outcome::Fail) {
    card.Record(kind, lba, c->blocks, "failed");
    return Fail(EIO);
  }
  if (outcome == Outcome::ErrorStatus) {
    card.Record(kind, lba, c->blocks, "error status");
    c->response[0] = kStatusOk | kError | kCardEccFailed;
    return 0;
  }
  auto *buf = reinterpret_cast<std::uint8_t *>(static_cast<std::uintptr_t>(c->data_ptr));
  const std::uint32_t moved = outcome == Outcome::Short ? c->blocks / 2 : c->blocks;
  std::string what;
  if (read) {
    std::vector<std::uint8_t> sectors(std::size_t{c->blocks} * 512);
    card.FirmwareRead(lba, c->blocks, sectors.data(), what);
    std::memcpy(buf, sectors.data(), std::size_t{moved} * 512);
  } else if (moved) {
    card.FirmwareWrite(lba, moved, buf, what);
  }
  if (outcome == Outcome::ErrorWithData) { // the data moved, then the card reports the error
    c->response[0] = kStatusOk | kError | kCardEccFailed;
    card.Record(kind, lba, c->blocks, what + " (error status)");
    return 0;
  }
  c->response[0] = kStatusOk;
  if (outcome == Outcome::Short) {
    card.Record(kind, lba, c->blocks, (what.empty() ? std::string("data") : what) + " (short)");
    return Fail(EIO); // the data phase broke off after `moved` blocks
  }
  card.Record(kind, lba, c->blocks, what);
  return 0;
}

} // namespace sdsim
