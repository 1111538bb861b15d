// SPDX-License-Identifier: MIT
#include "transport/scsi_commands.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sdsim {
namespace {

constexpr unsigned char kGood = 0x00, kCheckCondition = 0x02;
constexpr unsigned short kDidError = 0x07; // host_status: the transport failed
constexpr unsigned short kDriverSense = 0x08;

// The standard INQUIRY data of the disk.
void InquiryData(unsigned char (&data)[36]) {
  std::memset(data, 0, sizeof data);
  data[1] = 0x80; // removable
  data[2] = 0x06; // SPC-4
  data[3] = 0x02; // response data format
  data[4] = 31;   // additional length
  std::memcpy(data + 8, "SDSIM   ", 8);
  std::memcpy(data + 16, "Virtual SD Card ", 16);
  std::memcpy(data + 32, "1.00", 4);
}

int PhaseError(CardState &card, ScsiRequest &request, const ScsiCommand &command, std::uint32_t lba,
               std::uint32_t count) {
  card.Record(command.Kind, lba, count, "phase error");
  request.PhaseError();
  return 0;
}

// Ends a command whose own checks passed. `bytes` is what it moves when all
// goes well; `move(moved)` moves the data and returns the transcript text.
// The error and short faults come after the command's own checks: a phase
// error or an illegal request ends it all the same.
template <typename Move>
int Complete(CardState &card, ScsiRequest &request, const ScsiCommand &command, Outcome outcome,
             unsigned bytes, Move move) {
  // A medium error: write error for WRITE(10), unrecovered read error for
  // the others.
  const unsigned char mediumAsc = command.Op == kScsiWrite10 ? 0x0C : 0x11;
  if (outcome == Outcome::ErrorStatus) {
    card.Record(command.Kind, command.Lba, command.Count, "error status");
    request.Sense(kSenseMediumError, mediumAsc, 0x00);
    return 0; // nothing moved, resid = dxfer_len
  }
  // Cut short: half the data (whole sectors for READ/WRITE) moves.
  const unsigned moved = outcome != Outcome::Short ? bytes
                         : command.MovesSectors()  ? (command.Count / 2) * 512
                                                   : bytes / 2;
  std::string what = move(moved);
  if (outcome == Outcome::Short)
    what += " (short)";
  if (outcome == Outcome::ErrorWithData) {
    what += " (error status)";
    request.Sense(kSenseMediumError, mediumAsc, 0x00);
  }
  card.Record(command.Kind, command.Lba, command.Count, what);
  request.Moved(moved);
  return 0;
}

} // namespace

ScsiRequest::ScsiRequest(sg_io_hdr_t &header) : Header(header) {
  Header.status = kGood;
  Header.masked_status = 0;
  Header.msg_status = 0;
  Header.sb_len_wr = 0;
  Header.host_status = 0;
  Header.driver_status = 0;
  Header.resid = static_cast<int>(Header.dxfer_len);
  Header.duration = 1;
  Header.info = 0;
}

// Fixed-format sense data, cut to mx_sb_len.
void ScsiRequest::Sense(unsigned char key, unsigned char asc, unsigned char ascq) {
  const unsigned char sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
  Header.status = kCheckCondition;
  Header.masked_status = kCheckCondition >> 1;
  Header.driver_status = kDriverSense;
  Header.info |= SG_INFO_CHECK;
  const unsigned n = std::min<unsigned>(Header.mx_sb_len, sizeof sense);
  if (n && Header.sbp) {
    std::memcpy(Header.sbp, sense, n);
    Header.sb_len_wr = static_cast<unsigned char>(n);
  }
}

void ScsiRequest::PhaseError() {
  Header.host_status = kDidError;
  Header.info |= SG_INFO_CHECK;
  Header.resid = static_cast<int>(Header.dxfer_len);
}

int ScsiTestUnitReady(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                      Outcome outcome) {
  return Complete(card, request, command, outcome, 0,
                  [](unsigned) { return std::string("test unit ready"); });
}

int ScsiInquiry(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                Outcome outcome) {
  const std::uint32_t allocation = std::uint32_t{command.Cdb[3]} << 8 | command.Cdb[4];
  const unsigned bytes = std::min({36u, allocation, request.Length()});
  if (bytes && !request.DataIn())
    return PhaseError(card, request, command, 0, 0);
  return Complete(card, request, command, outcome, bytes, [&](unsigned moved) {
    unsigned char data[36];
    InquiryData(data);
    if (moved)
      std::memcpy(request.Buffer(), data, moved);
    return std::string("inquiry");
  });
}

// The last LBA and the block length, 512.
int ScsiReadCapacity10(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                       Outcome outcome) {
  const unsigned bytes = 8;
  if (!request.DataIn() || request.Length() < bytes)
    return PhaseError(card, request, command, 0, 0);
  return Complete(card, request, command, outcome, bytes, [&](unsigned moved) {
    const std::uint64_t last = card.Config().CapacitySectors - 1;
    const std::uint32_t l = last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(last);
    const unsigned char reply[8] = {static_cast<unsigned char>(l >> 24),
                                    static_cast<unsigned char>(l >> 16),
                                    static_cast<unsigned char>(l >> 8),
                                    static_cast<unsigned char>(l),
                                    0,
                                    0,
                                    0x02,
                                    0x00};
    std::memcpy(request.Buffer(), reply, moved);
    return std::string("capacity");
  });
}

// READ(10) / WRITE(10) through the firmware; no blocks: nothing moves,
// nothing to check.
int ScsiReadWrite10(CardState &card, ScsiRequest &request, const ScsiCommand &command,
                    Outcome outcome) {
  const bool isRead = command.Op == kScsiRead10;
  const std::uint32_t lba = command.Lba, count = command.Count;
  const unsigned bytes = count * 512;
  if (count && ((isRead && !request.DataIn()) || (!isRead && !request.DataOut()) ||
                request.Length() != bytes))
    return PhaseError(card, request, command, lba, count);
  if (count && std::uint64_t{lba} + count > card.Config().CapacitySectors) {
    card.Record(command.Kind, lba, count, "out of range");
    request.Sense(kSenseIllegalRequest, 0x21, 0x00); // logical block address out of range
    return 0;
  }
  return Complete(card, request, command, outcome, bytes, [&](unsigned moved) {
    std::string what = "data";
    if (isRead && count) {
      std::vector<std::uint8_t> data(bytes);
      what = card.FirmwareRead(lba, count, data.data());
      std::memcpy(request.Buffer(), data.data(), moved);
    } else if (!isRead && moved) {
      what = card.FirmwareWrite(lba, moved / 512, request.Buffer());
    }
    return what;
  });
}

} // namespace sdsim
