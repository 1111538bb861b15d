// Helpers of the virtual card's own tests: raw SG_IO and MMC_IOC_CMD
// requests, a fixture holding one card and a descriptor on its node, an
// independent decoder of the SMART header, and the patterns.
#ifndef SDSIM_TESTS_SIM_TEST_UTIL_H
#define SDSIM_TESTS_SIM_TEST_UTIL_H

#include "sdsim/sdsim.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace simtest {

using Sector = std::array<std::uint8_t, 512>;

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

// The outcome of one SG_IO or MMC_IOC_CMD request.
struct Result {
  int rc = 0, err = 0;
  sg_io_hdr_t hdr{};
  std::array<unsigned char, 32> sense{};
  mmc_ioc_cmd cmd{};
};

inline Result Scsi(int fd, std::vector<unsigned char> cdb, int direction, void *data, unsigned len,
                   unsigned char mx_sb_len = 32) {
  Result r;
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
  std::vector<unsigned char> c(10, 0);
  c[0] = op;
  for (int i = 0; i < 4; ++i)
    c[2 + i] = static_cast<unsigned char>(lba >> (24 - 8 * i));
  c[7] = static_cast<unsigned char>(count >> 8);
  c[8] = static_cast<unsigned char>(count);
  return c;
}

// A READ(10) (write false) or WRITE(10) that must end GOOD with all data moved.
inline void ScsiOk(int fd, bool write, std::uint32_t lba, std::uint16_t count, const void *buf) {
  const Result r =
      Scsi(fd, Rw10(write ? 0x2A : 0x28, lba, count), write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV,
           const_cast<void *>(buf), count * 512u);
  ASSERT_EQ(r.rc, 0) << std::strerror(r.err);
  ASSERT_TRUE(r.hdr.status == 0 && r.hdr.host_status == 0 && r.hdr.resid == 0)
      << int(r.hdr.status) << " " << r.hdr.host_status << " " << r.hdr.resid;
}

inline Result Mmc(int fd, unsigned opcode, std::uint32_t arg, unsigned flags, bool write,
                  unsigned blocks, void *data) {
  Result r;
  r.cmd.opcode = opcode;
  r.cmd.arg = arg;
  r.cmd.flags = flags;
  r.cmd.write_flag = write ? 1 : 0;
  r.cmd.blksz = data ? 512 : 0;
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
  for (int i = 0; i < 8; ++i)
    s[i] = s[255 - i] = static_cast<std::uint8_t>(entry[i]);
  s[256] = 0x02, s[257] = 0x01, s[510] = 0x01, s[511] = 0x02;
  if (v3)
    s[268] = 0xDE, s[269] = 0xAD, s[270] = 0xBE, s[271] = 0xEF;
  return s;
}

inline Sector LeavePattern(const std::string &entry) {
  Sector s{};
  for (int i = 0; i < 8; ++i)
    s[7 - i] = s[248 + i] = static_cast<std::uint8_t>(entry[i]);
  s[256] = 0x02, s[262] = 0x01, s[263] = 0x02, s[504] = 0x02, s[505] = 0x01;
  return s;
}

inline std::uint32_t Be(const std::uint8_t *p, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i)
    v = v << 8 | p[i];
  return v;
}

// Header fields, read from card bytes at their places in the format.
inline bool SignatureOk(const std::uint8_t *s) { return s[0] == 'S' && s[1] == 'I' && s[2] == '0'; }
inline bool IsBusyHeader(const std::uint8_t *s) { return SignatureOk(s) && s[73] == 1; }
inline unsigned DetailType(const std::uint8_t *s) { return s[70]; }
inline unsigned DetailSectors(const std::uint8_t *s) {
  const unsigned ex = Be(s + 138, 2);
  return ex != 0 && ex != 0xFFFF ? ex : s[69];
}
inline std::uint32_t Entries(const std::uint8_t *s) {
  // The NV6461 keeps the two unit fields little-endian.
  const char *text = reinterpret_cast<const char *>(s + 3);
  const bool nv = std::string(text, strnlen(text, 509)).find("NV6461") != std::string::npos;
  auto unit = [&](int at) { return nv ? std::uint32_t{s[at + 1]} << 8 | s[at] : Be(s + at, 2); };
  const std::uint32_t units = unit(82) ? Be(s + 78, 4) / unit(82) : 1;
  return Be(s + 46, 4) + unit(84) * (units - 1);
}

inline std::string Texts(const std::vector<sdsim::Transfer> &t) {
  std::string out;
  for (const auto &x : t)
    out += sdsim::ToString(x) + "\n";
  return out;
}

// Runs a shell command; its exit status (128 + signal when killed) and output.
inline int RunShell(const std::string &command, std::string *out = nullptr) {
  FILE *p = ::popen(command.c_str(), "r");
  if (!p)
    return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (out)
      out->append(buf, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One card from sim/cards and a descriptor on its node; sector transfers go
// through the card's own transport as the library sends them.
class CardTest : public ::testing::Test {
protected:
  void Attach(const std::string &file) {
    Release();
    card_ = &sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + "/" + file);
    fd_ = OpenNode(card_->Node());
    ASSERT_GE(fd_, 0) << std::strerror(errno);
  }
  void Release() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
    sdsim::DetachAll();
  }
  void TearDown() override { Release(); }

  Result Rw(bool write, std::uint32_t lba, unsigned count, void *buf) {
    if (!card_->IsNative())
      return Scsi(fd_, Rw10(write ? 0x2A : 0x28, lba, static_cast<std::uint16_t>(count)),
                  write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV, buf, count * 512);
    const unsigned op = write ? (count > 1 ? 25 : 24) : (count > 1 ? 18 : 17);
    return Mmc(fd_, op, card_->IsByteAddressed() ? lba * 512 : lba,
               write ? kWriteFlags : kReadFlags, write, count, buf);
  }
  Sector Read(std::uint32_t lba) {
    Sector s{};
    const Result r = Rw(false, lba, 1, s.data());
    EXPECT_TRUE(r.rc == 0 && r.hdr.status == 0) << "read " << lba << ": " << std::strerror(r.err);
    return s;
  }
  void Write(std::uint32_t lba, const Sector &s) {
    const Result r = Rw(true, lba, 1, const_cast<std::uint8_t *>(s.data()));
    EXPECT_TRUE(r.rc == 0 && r.hdr.status == 0) << "write " << lba << ": " << std::strerror(r.err);
  }
  // Reads lba again while it is a busy header; `reads` counts the reads.
  Sector ReadWaiting(std::uint32_t lba, unsigned *reads = nullptr) {
    unsigned n = 0;
    Sector s;
    do
      s = Read(lba);
    while (++n < 100 && IsBusyHeader(s.data()));
    if (reads)
      *reads = n;
    return s;
  }
  void Enter(bool v3 = false) { Write(0, EnterPattern(card_->EntryString(), v3)); }
  void Leave(bool v3 = false) {
    Enter(v3);
    Write(0, LeavePattern(card_->EntryString()));
  }

  sdsim::Card *card_ = nullptr;
  int fd_ = -1;
};

} // namespace simtest

#endif
