// SPDX-License-Identifier: MIT
// The card behind a USB reader, as a SCSI direct-access device: SG_IO
// requests are checked the way the kernel's block layer checks them, then
// the command block goes to its handler (scsi_commands.cpp).
#include "transport/scsi_commands.h"
#include "transport/targets.h"

#include <cerrno>

namespace sdsim {
namespace {

unsigned CdbLength(unsigned char opcode) {
  switch (opcode >> 5) {
  case 0:
    return 6;
  case 1:
  case 2:
    return 10;
  case 4:
    return 16;
  case 5:
    return 12;
  default:
    return 0; // reserved and vendor groups
  }
}

std::uint32_t Big32(const unsigned char *p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

int Refuse(int error) {
  errno = error;
  return -1;
}

// What the block layer refuses before anything reaches the device: the errno,
// or 0.
int BlockLayerError(const sg_io_hdr_t &h) {
  if (h.interface_id != 'S' || h.cmd_len == 0 || h.cmd_len > 16 || h.iovec_count != 0)
    return EINVAL;
  if (h.dxfer_direction != SG_DXFER_NONE && h.dxfer_direction != SG_DXFER_TO_DEV &&
      h.dxfer_direction != SG_DXFER_FROM_DEV && h.dxfer_direction != SG_DXFER_TO_FROM_DEV)
    return EINVAL;
  if (!h.cmdp || (h.dxfer_len && !h.dxferp) || (h.mx_sb_len && !h.sbp))
    return EFAULT;
  if (h.dxfer_len > kScsiMaxTransfer)
    return EIO;
  return 0;
}

// Only the bytes the caller sent are read from the command block.
ScsiCommand Decode(const sg_io_hdr_t &h) {
  ScsiCommand command;
  command.Cdb = h.cmdp;
  command.Op = h.cmdp[0];
  if (command.MovesSectors() && h.cmd_len >= 10) {
    command.Lba = Big32(h.cmdp + 2);
    command.Count = std::uint32_t{h.cmdp[7]} << 8 | h.cmdp[8];
  }
  command.Kind = command.Op == kScsiRead10 ? "read" : command.Op == kScsiWrite10 ? "write" : "cmd";
  return command;
}

} // namespace

int ScsiIoctl(CardState &card, void *arg) {
  auto *h = static_cast<sg_io_hdr_t *>(arg);
  if (!h)
    return Refuse(EFAULT);
  if (card.Vanished())
    return Refuse(ENODEV);
  if (const int error = BlockLayerError(*h))
    return Refuse(error);

  const ScsiCommand command = Decode(*h);
  const Outcome outcome = card.BeginTransfer(command.MovesSectors());
  if (outcome == Outcome::Vanished)
    return Refuse(ENODEV);
  ScsiRequest request(*h);
  if (outcome == Outcome::Fail) {
    card.Record(command.Kind, command.Lba, command.Count, "failed");
    return Refuse(EIO);
  }
  const unsigned need = CdbLength(command.Op);
  const bool known = command.Op == kScsiTestUnitReady || command.Op == kScsiInquiry ||
                     command.Op == kScsiReadCapacity10 || command.MovesSectors();
  if (!known || need == 0) {
    card.Record("cmd", 0, 0, "illegal request");
    request.Sense(kSenseIllegalRequest, 0x20, 0x00); // invalid command operation code
    return 0;
  }
  if (h->cmd_len < need) {
    card.Record(command.Kind, command.Lba, command.Count, "illegal request");
    request.Sense(kSenseIllegalRequest, 0x24, 0x00); // invalid field in CDB
    return 0;
  }
  switch (command.Op) {
  case kScsiTestUnitReady:
    return ScsiTestUnitReady(card, request, command, outcome);
  case kScsiInquiry:
    return ScsiInquiry(card, request, command, outcome);
  case kScsiReadCapacity10:
    return ScsiReadCapacity10(card, request, command, outcome);
  default:
    return ScsiReadWrite10(card, request, command, outcome);
  }
}

} // namespace sdsim
