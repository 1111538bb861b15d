// The card behind a USB reader, as a SCSI direct-access device: SG_IO
// requests are checked the way the kernel's block layer checks them, then
// the command block is executed the way a SCSI disk does.
#include "card_state.h"
#include "targets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <scsi/sg.h>
#include <vector>

namespace sdsim {
namespace {

constexpr unsigned char kGood = 0x00, kCheckCondition = 0x02;
constexpr unsigned short kDidError = 0x07; // host_status: the transport failed
constexpr unsigned short kDriverSense = 0x08;
constexpr unsigned char kIllegalRequest = 0x05, kMediumError = 0x03;

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

class Request {
public:
  explicit Request(sg_io_hdr_t &h) : h_(h) {
    h_.status = kGood;
    h_.masked_status = 0;
    h_.msg_status = 0;
    h_.sb_len_wr = 0;
    h_.host_status = 0;
    h_.driver_status = 0;
    h_.resid = static_cast<int>(h_.dxfer_len);
    h_.duration = 1;
    h_.info = 0;
  }
  void Sense(unsigned char key, unsigned char asc, unsigned char ascq) {
    unsigned char s[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
    h_.status = kCheckCondition;
    h_.masked_status = kCheckCondition >> 1;
    h_.driver_status = kDriverSense;
    h_.info |= SG_INFO_CHECK;
    const unsigned n = std::min<unsigned>(h_.mx_sb_len, sizeof s);
    if (n && h_.sbp) {
      std::memcpy(h_.sbp, s, n);
      h_.sb_len_wr = static_cast<unsigned char>(n);
    }
  }
  void PhaseError() {
    h_.host_status = kDidError;
    h_.info |= SG_INFO_CHECK;
    h_.resid = static_cast<int>(h_.dxfer_len);
  }
  void Moved(unsigned bytes) { h_.resid = static_cast<int>(h_.dxfer_len - bytes); }
  bool DataIn() const {
    return h_.dxfer_direction == SG_DXFER_FROM_DEV || h_.dxfer_direction == SG_DXFER_TO_FROM_DEV;
  }
  bool DataOut() const { return h_.dxfer_direction == SG_DXFER_TO_DEV; }
  unsigned char *Buffer() const { return static_cast<unsigned char *>(h_.dxferp); }
  unsigned Length() const { return h_.dxfer_len; }

private:
  sg_io_hdr_t &h_;
};

// The standard INQUIRY data of the disk.
void InquiryData(unsigned char (&d)[36]) {
  std::memset(d, 0, sizeof d);
  d[1] = 0x80; // removable
  d[2] = 0x06; // SPC-4
  d[3] = 0x02; // response data format
  d[4] = 31;   // additional length
  std::memcpy(d + 8, "SDSIM   ", 8);
  std::memcpy(d + 16, "Virtual SD Card ", 16);
  std::memcpy(d + 32, "1.00", 4);
}

} // namespace

int ScsiIoctl(CardState &card, void *arg) {
  auto *h = static_cast<sg_io_hdr_t *>(arg);
  if (!h) {
    errno = EFAULT;
    return -1;
  }
  if (card.Vanished()) {
    errno = ENODEV;
    return -1;
  }
  // What the block layer refuses before anything reaches the device.
  if (h->interface_id != 'S' || h->cmd_len == 0 || h->cmd_len > 16 || h->iovec_count != 0) {
    errno = EINVAL;
    return -1;
  }
  if (h->dxfer_direction != SG_DXFER_NONE && h->dxfer_direction != SG_DXFER_TO_DEV &&
      h->dxfer_direction != SG_DXFER_FROM_DEV && h->dxfer_direction != SG_DXFER_TO_FROM_DEV) {
    errno = EINVAL;
    return -1;
  }
  if (!h->cmdp || (h->dxfer_len && !h->dxferp) || (h->mx_sb_len && !h->sbp)) {
    errno = EFAULT;
    return -1;
  }
  if (h->dxfer_len > kScsiMaxTransfer) {
    errno = EIO;
    return -1;
  }

  const unsigned char *cdb = h->cmdp;
  const unsigned char op = cdb[0];
  const Outcome outcome = card.BeginTransfer(op == 0x28 || op == 0x2A);
  if (outcome == Outcome::Vanished) {
    errno = ENODEV;
    return -1;
  }
  Request rq(*h);
  const bool is_read = op == 0x28, is_write = op == 0x2A;
  // Only the bytes the caller sent are read from the command block.
  const bool full = h->cmd_len >= 10;
  const std::uint32_t lba = (is_read || is_write) && full ? Big32(cdb + 2) : 0;
  const std::uint32_t count =
      (is_read || is_write) && full ? (std::uint32_t{cdb[7]} << 8 | cdb[8]) : 0;
  const std::string kind = is_read ? "read" : is_write ? "write" : "cmd";

  if (outcome == Outcome::Fail) {
    card.Record(kind, lba, count, "failed");
    errno = EIO;
    return -1;
  }
  const unsigned need = CdbLength(op);
  const bool known = op == 0x00 || op == 0x12 || op == 0x25 || is_read || is_write;
  if (!known || need == 0) {
    card.Record("cmd", 0, 0, "illegal request");
    rq.Sense(kIllegalRequest, 0x20, 0x00); // invalid command operation code
    return 0;
  }
  if (h->cmd_len < need) {
    card.Record(kind, lba, count, "illegal request");
    rq.Sense(kIllegalRequest, 0x24, 0x00); // invalid field in CDB
    return 0;
  }

  // The command's own checks come before the error and short faults: a phase
  // error or an illegal request ends it all the same. `bytes` is what it
  // moves when all goes well.
  std::string what = "data";
  unsigned bytes = 0;
  switch (op) {
  case 0x00: // TEST UNIT READY
    what = "test unit ready";
    break;
  case 0x12: // INQUIRY
    what = "inquiry";
    bytes = std::min({36u, std::uint32_t{cdb[3]} << 8 | cdb[4], rq.Length()});
    if (bytes && !rq.DataIn()) {
      card.Record(kind, 0, 0, "phase error");
      rq.PhaseError();
      return 0;
    }
    break;
  case 0x25: // READ CAPACITY(10)
    what = "capacity";
    bytes = 8;
    if (!rq.DataIn() || rq.Length() < bytes) {
      card.Record(kind, 0, 0, "phase error");
      rq.PhaseError();
      return 0;
    }
    break;
  default: // READ(10) / WRITE(10); no blocks: nothing moves, nothing to check
    bytes = count * 512;
    if (count &&
        ((is_read && !rq.DataIn()) || (is_write && !rq.DataOut()) || rq.Length() != bytes)) {
      card.Record(kind, lba, count, "phase error");
      rq.PhaseError();
      return 0;
    }
    if (count && std::uint64_t{lba} + count > card.Config().capacity_sectors) {
      card.Record(kind, lba, count, "out of range");
      rq.Sense(kIllegalRequest, 0x21, 0x00); // logical block address out of range
      return 0;
    }
    break;
  }

  // A medium error: write error for WRITE(10), unrecovered read error for
  // the others.
  const unsigned char medium_asc = is_write ? 0x0C : 0x11;
  if (outcome == Outcome::ErrorStatus) {
    card.Record(kind, lba, count, "error status");
    rq.Sense(kMediumError, medium_asc, 0x00);
    return 0; // nothing moved, resid = dxfer_len
  }
  // Cut short: half the data (whole sectors for READ/WRITE) moves.
  const bool sectors = is_read || is_write;
  const unsigned moved = outcome != Outcome::Short ? bytes
                         : sectors                 ? (count / 2) * 512
                                                   : bytes / 2;
  switch (op) {
  case 0x12: {
    unsigned char d[36];
    InquiryData(d);
    if (moved)
      std::memcpy(rq.Buffer(), d, moved);
    break;
  }
  case 0x25: {
    const std::uint64_t last = card.Config().capacity_sectors - 1;
    const std::uint32_t l = last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(last);
    const unsigned char reply[8] = {static_cast<unsigned char>(l >> 24),
                                    static_cast<unsigned char>(l >> 16),
                                    static_cast<unsigned char>(l >> 8),
                                    static_cast<unsigned char>(l),
                                    0,
                                    0,
                                    0x02,
                                    0x00};
    std::memcpy(rq.Buffer(), reply, moved);
    break;
  }
  case 0x28:
    if (count) {
      std::vector<std::uint8_t> data(bytes);
      card.FirmwareRead(lba, count, data.data(), what);
      std::memcpy(rq.Buffer(), data.data(), moved);
    }
    break;
  case 0x2A:
    if (moved)
      card.FirmwareWrite(lba, moved / 512, rq.Buffer(), what);
    break;
  default:
    break;
  }
  if (outcome == Outcome::Short)
    what += " (short)";
  if (outcome == Outcome::ErrorWithData) {
    what += " (error status)";
    rq.Sense(kMediumError, medium_asc, 0x00);
  }
  card.Record(kind, lba, count, what);
  rq.Moved(moved);
  return 0;
}

} // namespace sdsim
