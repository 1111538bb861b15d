// SPDX-License-Identifier: MIT
// The SCSI disk behind the USB reader: one SG_IO request as the command
// handlers see it, and one handler for each command the disk answers.
#pragma once

#include "card/card_state.h"

#include <cstdint>
#include <scsi/sg.h>
#include <string>

namespace sdsim {

constexpr unsigned char kScsiTestUnitReady = 0x00, kScsiInquiry = 0x12, kScsiReadCapacity10 = 0x25,
                        kScsiRead10 = 0x28, kScsiWrite10 = 0x2A;
constexpr unsigned char kSenseIllegalRequest = 0x05, kSenseMediumError = 0x03;

// The reply fields of one sg_io_hdr, set as the kernel sets them.
class ScsiRequest {
public:
  explicit ScsiRequest(sg_io_hdr_t &header);
  void Sense(unsigned char key, unsigned char asc, unsigned char ascq);
  void PhaseError();
  void Moved(unsigned bytes) { Header.resid = static_cast<int>(Header.dxfer_len - bytes); }
  bool DataIn() const {
    return Header.dxfer_direction == SG_DXFER_FROM_DEV ||
           Header.dxfer_direction == SG_DXFER_TO_FROM_DEV;
  }
  bool DataOut() const { return Header.dxfer_direction == SG_DXFER_TO_DEV; }
  unsigned char *Buffer() const { return static_cast<unsigned char *>(Header.dxferp); }
  unsigned Length() const { return Header.dxfer_len; }

private:
  sg_io_hdr_t &Header;
};

// The command block as far as the caller sent it.
struct ScsiCommand {
  const unsigned char *Cdb = nullptr;
  unsigned char Op = 0;
  std::uint32_t Lba = 0;   // READ(10) / WRITE(10)
  std::uint32_t Count = 0; // READ(10) / WRITE(10)
  std::string Kind;        // "read", "write" or "cmd" in the transcript
  bool MovesSectors() const { return Op == kScsiRead10 || Op == kScsiWrite10; }
};

// Each handler checks what the command itself requires, then completes it
// under the transfer's outcome; all return 0 (the status is in the header).
int ScsiTestUnitReady(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                      Outcome outcome);
int ScsiInquiry(CardState &card, ScsiRequest &request, const ScsiCommand &command, Outcome outcome);
int ScsiReadCapacity10(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                       Outcome outcome);
int ScsiReadWrite10(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                    Outcome outcome);

} // namespace sdsim
