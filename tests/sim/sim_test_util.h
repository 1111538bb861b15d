// Helpers of the virtual card's own tests: raw SG_IO and MMC_IOC_CMD
// requests, an independent decoder of the SMART header, and the patterns.
#ifndef SDSIM_TESTS_SIM_TEST_UTIL_H
#define SDSIM_TESTS_SIM_TEST_UTIL_H

#include "sdsim/sdsim.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace simtest {

using Sector = std::array<std::uint8_t, 512>;

// Detaches every card after each test.
class CardTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
};

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

inline int OpenNode(const std::string &node) { return ::open(node.c_str(), O_RDWR | O_CLOEXEC); }

struct ScsiResult {
  int rc = 0;
  int err = 0;
  sg_io_hdr_t hdr{};
  std::array<unsigned char, 32> sense{};
};

inline ScsiResult Scsi(int fd, std::vector<unsigned char> cdb, int direction, void *data,
                       unsigned len, unsigned char mx_sb_len = 32) {
  ScsiResult r;
  r.hdr.interface_id = 'S';
  r.hdr.dxfer_direction = direction;
  r.hdr.cmd_len = static_cast<unsigned char>(cdb.size());
  r.hdr.mx_sb_len = mx_sb_len;
  r.hdr.dxfer_len = len;
  r.hdr.dxferp = data;
  r.hdr.cmdp = cdb.data();
  r.hdr.sbp = r.sense.data();
  r.hdr.timeout = 6000;
  errno = 0;
  r.rc = ::ioctl(fd, SG_IO, &r.hdr);
  r.err = errno;
  return r;
}

inline std::vector<unsigned char> Rw10(unsigned char op, std::uint32_t lba, std::uint16_t count) {
  return {op,
          0,
          static_cast<unsigned char>(lba >> 24),
          static_cast<unsigned char>(lba >> 16),
          static_cast<unsigned char>(lba >> 8),
          static_cast<unsigned char>(lba),
          0,
          static_cast<unsigned char>(count >> 8),
          static_cast<unsigned char>(count),
          0};
}

// A READ(10)/WRITE(10) that must succeed with GOOD status.
inline void ScsiReadOk(int fd, std::uint32_t lba, std::uint16_t count, void *buf) {
  ScsiResult r = Scsi(fd, Rw10(0x28, lba, count), SG_DXFER_FROM_DEV, buf, count * 512u);
  ASSERT_EQ(r.rc, 0) << std::strerror(r.err);
  ASSERT_EQ(r.hdr.status, 0);
  ASSERT_EQ(r.hdr.host_status, 0);
  ASSERT_EQ(r.hdr.resid, 0);
}
inline void ScsiWriteOk(int fd, std::uint32_t lba, std::uint16_t count, const void *buf) {
  ScsiResult r =
      Scsi(fd, Rw10(0x2A, lba, count), SG_DXFER_TO_DEV, const_cast<void *>(buf), count * 512u);
  ASSERT_EQ(r.rc, 0) << std::strerror(r.err);
  ASSERT_EQ(r.hdr.status, 0);
  ASSERT_EQ(r.hdr.host_status, 0);
  ASSERT_EQ(r.hdr.resid, 0);
}
inline Sector ScsiSector(int fd, std::uint32_t lba) {
  Sector s{};
  ScsiReadOk(fd, lba, 1, s.data());
  return s;
}

struct MmcResult {
  int rc = 0;
  int err = 0;
  mmc_ioc_cmd cmd{};
};

inline MmcResult Mmc(int fd, unsigned opcode, std::uint32_t arg, unsigned flags, bool write,
                     unsigned blocks, void *data, unsigned blksz = 512) {
  MmcResult r;
  r.cmd.opcode = opcode;
  r.cmd.arg = arg;
  r.cmd.flags = flags;
  r.cmd.write_flag = write ? 1 : 0;
  r.cmd.blksz = data ? blksz : 0;
  r.cmd.blocks = blocks;
  mmc_ioc_cmd_set_data(r.cmd, data);
  errno = 0;
  r.rc = ::ioctl(fd, MMC_IOC_CMD, &r.cmd);
  r.err = errno;
  return r;
}

constexpr unsigned kReadFlags = 0x6BD, kWriteFlags = 0x5BD, kR1Ac = 0x15, kR1bAc = 0x49D;

// The card's patterns, built here from their format.
inline Sector EnterPattern(const std::string &entry, bool v3) {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[i] = static_cast<std::uint8_t>(entry[i]);
    s[255 - i] = static_cast<std::uint8_t>(entry[i]);
  }
  s[256] = 0x02;
  s[257] = 0x01;
  if (v3) {
    s[268] = 0xDE, s[269] = 0xAD, s[270] = 0xBE, s[271] = 0xEF;
  }
  s[510] = 0x01;
  s[511] = 0x02;
  return s;
}

inline Sector LeavePattern(const std::string &entry) {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[7 - i] = static_cast<std::uint8_t>(entry[i]);
    s[248 + i] = static_cast<std::uint8_t>(entry[i]);
  }
  s[256] = 0x02;
  s[262] = 0x01;
  s[263] = 0x02;
  s[504] = 0x02;
  s[505] = 0x01;
  return s;
}

inline std::uint32_t Be(const std::uint8_t *p, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i)
    v = v << 8 | p[i];
  return v;
}
inline std::uint32_t Le(const std::uint8_t *p, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = v << 8 | p[i];
  return v;
}

// The fields a reader of the header needs, decoded from card bytes.
struct Header {
  bool signature_ok = false;
  std::string hw_version;
  std::uint32_t pe_cycles = 0, base_entries = 0, total_erase = 0, total_vb = 0;
  std::uint32_t vbs_per_unit = 0, extra_per_unit = 0;
  unsigned detail_count = 0, detail_type = 0, busy = 0, remainder = 0, header_version = 0;
  unsigned detail_count_ex = 0, min_erase = 0, max_erase = 0, erase_offset = 0;
  unsigned blocks_per_vb = 0;

  unsigned DetailSectors() const {
    return detail_count_ex != 0 && detail_count_ex != 0xFFFF ? detail_count_ex : detail_count;
  }
  std::uint32_t Entries() const {
    const std::uint32_t units = vbs_per_unit ? total_vb / vbs_per_unit : 1;
    return base_entries + extra_per_unit * (units - 1);
  }
};

inline Header Decode(const std::uint8_t *s) {
  Header h;
  h.signature_ok = s[0] == 'S' && s[1] == 'I' && s[2] == '0';
  const char *text = reinterpret_cast<const char *>(s + 3);
  h.hw_version.assign(text, strnlen(text, 509));
  const bool nv = h.hw_version.find("NV6461") != std::string::npos;
  h.pe_cycles = Be(s + 42, 4);
  h.base_entries = Be(s + 46, 4);
  h.total_erase = Be(s + 57, 4);
  h.detail_count = s[69];
  h.detail_type = s[70];
  h.blocks_per_vb = s[72];
  h.busy = s[73];
  h.total_vb = Be(s + 78, 4);
  h.vbs_per_unit = nv ? Le(s + 82, 2) : Be(s + 82, 2);
  h.extra_per_unit = nv ? Le(s + 84, 2) : Be(s + 84, 2);
  h.remainder = s[94];
  h.detail_count_ex = Be(s + 138, 2);
  h.min_erase = Be(s + 140, 2);
  h.max_erase = Be(s + 142, 2);
  h.erase_offset = Be(s + 144, 2);
  h.header_version = s[510];
  return h;
}

inline std::string Texts(const std::vector<sdsim::Transfer> &t) {
  std::string out;
  for (const auto &x : t)
    out += sdsim::ToString(x) + "\n";
  return out;
}

} // namespace simtest

#endif
