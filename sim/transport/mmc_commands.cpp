// SPDX-License-Identifier: MIT
#include "transport/mmc_commands.h"

#include "card/card_registers.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace sdsim {
namespace {

// R1 card status bits.
constexpr std::uint32_t kOutOfRange = 1u << 31, kAddressError = 1u << 30, kCardEccFailed = 1u << 21,
                        kError = 1u << 19;
constexpr std::uint32_t kStateTran = 4u << 9, kReadyForData = 1u << 8;
constexpr std::uint32_t kStatusOk = kStateTran | kReadyForData;

int Fail(int error) {
  errno = error;
  return -1;
}

// The command's address as an LBA; false (with the answer recorded) when the
// card refuses it.
bool CheckAddress(CardState &card, mmc_ioc_cmd &command, const std::string &kind,
                  std::uint32_t &lba) {
  lba = command.arg;
  if (card.Config().ByteAddressed) {
    if (command.arg % 512) {
      card.Record(kind, command.arg / 512, command.blocks, "address error");
      command.response[0] = kStatusOk | kAddressError;
      return false; // the card refuses the command; no data comes
    }
    lba = command.arg / 512;
  }
  if (std::uint64_t{lba} + command.blocks > card.Config().CapacitySectors) {
    card.Record(kind, lba, command.blocks, "out of range");
    command.response[0] = kStatusOk | kOutOfRange;
    return false;
  }
  return true;
}

} // namespace

int MmcNoDataCommand(CardState &card, mmc_ioc_cmd &command, Outcome outcome) {
  const unsigned op = command.opcode;
  const std::string what = op == kMmcSendStatus         ? "status"
                           : op == kMmcStopTransmission ? "stop"
                                                        : "set block count";
  if (outcome == Outcome::Fail) {
    card.Record("cmd", 0, 0, "failed");
    return Fail(EIO);
  }
  if (op == kMmcSendStatus && (command.arg >> 16) != card.Config().Rca) {
    card.Record("cmd", 0, 0, what);
    return Fail(ETIMEDOUT); // another card's address: nobody answers
  }
  // An error status is the ERROR bit of the R1 answer; a command without
  // data has nothing to cut short and answers as usual.
  if (outcome == Outcome::ErrorStatus) {
    card.Record("cmd", 0, 0, "error status");
    command.response[0] = kStatusOk | kError;
    return 0;
  }
  card.Record("cmd", 0, 0, outcome == Outcome::Short ? what + " (short)" : what);
  command.response[0] = kStatusOk;
  return 0;
}

int MmcSendExtCsd(CardState &card, mmc_ioc_cmd &command, Outcome outcome) {
  const std::string what = "ext csd";
  if (outcome == Outcome::Fail || outcome == Outcome::Short) {
    // A data phase cut short moves less than the one block: nothing usable.
    card.Record("cmd", 0, 0, outcome == Outcome::Fail ? "failed" : what + " (short)");
    return Fail(EIO);
  }
  if (outcome == Outcome::ErrorStatus) {
    card.Record("cmd", 0, 0, "error status");
    command.response[0] = kStatusOk | kError;
    return 0;
  }
  const auto ext = ExtCsd(card.Config());
  std::memcpy(reinterpret_cast<void *>(static_cast<std::uintptr_t>(command.data_ptr)), ext.data(),
              ext.size());
  command.response[0] = kStatusOk;
  card.Record("cmd", 0, 0, what);
  return 0;
}

int MmcDataCommand(CardState &card, mmc_ioc_cmd &command, Outcome outcome) {
  const bool read = command.opcode == kMmcReadSingle || command.opcode == kMmcReadMultiple;
  const std::string kind = read ? "read" : "write";
  std::uint32_t lba = 0;
  if (!CheckAddress(card, command, kind, lba))
    return Fail(ETIMEDOUT);
  if (outcome == Outcome::Fail) {
    card.Record(kind, lba, command.blocks, "failed");
    return Fail(EIO);
  }
  if (outcome == Outcome::ErrorStatus) {
    card.Record(kind, lba, command.blocks, "error status");
    command.response[0] = kStatusOk | kError | kCardEccFailed;
    return 0;
  }
  auto *buffer = reinterpret_cast<std::uint8_t *>(static_cast<std::uintptr_t>(command.data_ptr));
  const std::uint32_t moved = outcome == Outcome::Short ? command.blocks / 2 : command.blocks;
  std::string what;
  if (read) {
    std::vector<std::uint8_t> sectors(std::size_t{command.blocks} * 512);
    what = card.FirmwareRead(lba, command.blocks, sectors.data());
    std::memcpy(buffer, sectors.data(), std::size_t{moved} * 512);
  } else if (moved) {
    what = card.FirmwareWrite(lba, moved, buffer);
  }
  if (outcome == Outcome::ErrorWithData) { // the data moved, then the card reports the error
    command.response[0] = kStatusOk | kError | kCardEccFailed;
    card.Record(kind, lba, command.blocks, what + " (error status)");
    return 0;
  }
  command.response[0] = kStatusOk;
  if (outcome == Outcome::Short) {
    card.Record(kind, lba, command.blocks,
                (what.empty() ? std::string("data") : what) + " (short)");
    return Fail(EIO); // the data phase broke off after `moved` blocks
  }
  card.Record(kind, lba, command.blocks, what);
  return 0;
}

} // namespace sdsim
