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

void Inquiry(Request &rq, const unsigned char *cdb) {
  unsigned char d[36] = {0x00, 0x80, 0x06, 0x02, 31};
  std::memcpy(d + 8, "SDSIM   ", 8);
  std::memcpy(d + 16, "Virtual SD Card ", 16);
  std::memcpy(d + 32, "1.00", 4);
  const unsigned alloc = std::uint32_t{cdb[3]} << 8 | cdb[4];
  const unsigned n = std::min({36u, alloc, rq.Length()});
  if (n && !rq.DataIn()) {
    rq.PhaseError();
    return;
  }
  std::memcpy(rq.Buffer(), d, n);
  rq.Moved(n);
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
  const Outcome outcome = card.BeginTransfer();
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

  switch (op) {
  case 0x00: // TEST UNIT READY
    card.Record("cmd", 0, 0, "test unit ready");
    return 0;
  case 0x12: // INQUIRY
    card.Record("cmd", 0, 0, "inquiry");
    Inquiry(rq, cdb);
    return 0;
  case 0x25: { // READ CAPACITY(10)
    card.Record("cmd", 0, 0, "capacity");
    if (!rq.DataIn() || rq.Length() < 8) {
      rq.PhaseError();
      return 0;
    }
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
    std::memcpy(rq.Buffer(), reply, 8);
    rq.Moved(8);
    return 0;
  }
  default:
    break;
  }

  // READ(10) / WRITE(10).
  const unsigned bytes = count * 512;
  if (count == 0) {
    card.Record(kind, lba, 0, "data");
    return 0; // no blocks: nothing moves
  }
  if ((is_read && !rq.DataIn()) || (is_write && !rq.DataOut()) || rq.Length() != bytes) {
    card.Record(kind, lba, count, "phase error");
    rq.PhaseError();
    return 0;
  }
  if (std::uint64_t{lba} + count > card.Config().capacity_sectors) {
    card.Record(kind, lba, count, "out of range");
    rq.Sense(kIllegalRequest, 0x21, 0x00); // logical block address out of range
    return 0;
  }
  if (outcome == Outcome::ErrorStatus) {
    card.Record(kind, lba, count, "error status");
    if (is_read)
      rq.Sense(kMediumError, 0x11, 0x00); // unrecovered read error
    else
      rq.Sense(kMediumError, 0x0C, 0x00); // write error
    return 0;
  }
  const std::uint32_t moved = outcome == Outcome::Short ? count / 2 : count;
  std::string what;
  if (is_read) {
    std::vector<std::uint8_t> data(std::size_t{count} * 512);
    card.FirmwareRead(lba, count, data.data(), what);
    std::memcpy(rq.Buffer(), data.data(), std::size_t{moved} * 512);
  } else if (moved) {
    card.FirmwareWrite(lba, moved, rq.Buffer(), what);
  }
  if (outcome == Outcome::Short)
    what = (what.empty() ? std::string("data") : what) + " (short)";
  card.Record(kind, lba, count, what);
  rq.Moved(moved * 512);
  return 0;
}

} // namespace sdsim
