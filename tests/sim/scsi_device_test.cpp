// The USB reader card as a SCSI disk: request checks, the commands it
// answers, capacity and plain block I/O.
#include "sim_test_util.h"

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace simtest;

namespace {

class ScsiDevice : public CardTest {
protected:
  void SetUp() override {
    card_ = &sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
    fd_ = OpenNode(card_->Node());
    ASSERT_GE(fd_, 0) << std::strerror(errno);
  }
  void TearDown() override {
    if (fd_ >= 0)
      ::close(fd_);
    CardTest::TearDown();
  }
  sdsim::Card *card_ = nullptr;
  int fd_ = -1;
};

TEST_F(ScsiDevice, ReadCapacityReportsLastLbaAndBlockLength) {
  unsigned char reply[8] = {};
  ScsiResult r = Scsi(fd_, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, reply, 8);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.status, 0);
  EXPECT_EQ(Be(reply, 4), card_->CapacitySectors() - 1);
  EXPECT_EQ(Be(reply + 4, 4), 512u);
  EXPECT_EQ(card_->CapacitySectors(), 31914983424ull / 512);
}

TEST_F(ScsiDevice, BlockSizeIoctlsAnswerTheCapacity) {
  std::uint64_t bytes = 0;
  unsigned long sectors = 0;
  ASSERT_EQ(::ioctl(fd_, BLKGETSIZE64, &bytes), 0);
  ASSERT_EQ(::ioctl(fd_, BLKGETSIZE, &sectors), 0);
  EXPECT_EQ(bytes, 31914983424ull);
  EXPECT_EQ(sectors, 31914983424ull / 512);
  // An ioctl a disk does not know.
  EXPECT_EQ(::ioctl(fd_, MMC_IOC_CMD, nullptr), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(ScsiDevice, TestUnitReadyAndInquiry) {
  ScsiResult tur = Scsi(fd_, {0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, nullptr, 0);
  ASSERT_EQ(tur.rc, 0);
  EXPECT_EQ(tur.hdr.status, 0);
  unsigned char inq[96] = {};
  ScsiResult r = Scsi(fd_, {0x12, 0, 0, 0, 96, 0}, SG_DXFER_FROM_DEV, inq, 96);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.status, 0);
  EXPECT_EQ(r.hdr.resid, 96 - 36);
  EXPECT_EQ(inq[0], 0x00); // direct-access block device
  EXPECT_EQ(inq[1], 0x80); // removable
  EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"cmd", 0, 0, "inquiry"}));
}

TEST_F(ScsiDevice, SectorsWrittenReadBackOutsideSpecialMode) {
  Sector out{}, in{};
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(i * 7);
  ScsiWriteOk(fd_, 1000, 1, out.data());
  ScsiReadOk(fd_, 1000, 1, in.data());
  EXPECT_EQ(in, out);
  EXPECT_EQ(card_->ReadSector(1000), out);
  // Sector 0 starts as an MBR with one FAT32 partition.
  Sector mbr = ScsiSector(fd_, 0);
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_EQ(mbr[446 + 4], 0x0C);
  // A multi-sector run is one transfer.
  std::vector<std::uint8_t> run(4 * 512);
  ScsiReadOk(fd_, 999, 4, run.data());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), run.begin() + 512));
  EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"read", 999, 4, "data"}));
}

TEST_F(ScsiDevice, LastSectorIsReachableAndTheOneAfterIsNot) {
  const auto last = static_cast<std::uint32_t>(card_->CapacitySectors() - 1);
  Sector s{};
  ScsiReadOk(fd_, last, 1, s.data());
  ScsiResult r = Scsi(fd_, Rw10(0x28, last, 2), SG_DXFER_FROM_DEV, nullptr, 0);
  std::vector<std::uint8_t> two(1024);
  r = Scsi(fd_, Rw10(0x28, last, 2), SG_DXFER_FROM_DEV, two.data(), 1024);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.status, 0x02);        // CHECK CONDITION
  EXPECT_EQ(r.sense[2] & 0x0F, 0x05);   // ILLEGAL REQUEST
  EXPECT_EQ(r.sense[12], 0x21);         // LBA out of range
  EXPECT_EQ(r.hdr.driver_status, 0x08); // sense available
  EXPECT_EQ(r.hdr.resid, 1024);
}

struct Malformed {
  const char *name;
  int interface_id;
  unsigned char cmd_len;
  int direction;
  unsigned len;
  bool null_data;
  int err;
};

class ScsiMalformed : public ScsiDevice, public ::testing::WithParamInterface<Malformed> {};

TEST_P(ScsiMalformed, RefusedBeforeReachingTheCard) {
  const Malformed m = GetParam();
  std::vector<std::uint8_t> buf(512);
  std::vector<unsigned char> cdb = Rw10(0x28, 0, 1);
  sg_io_hdr_t h{};
  h.interface_id = m.interface_id;
  h.dxfer_direction = m.direction;
  h.cmd_len = m.cmd_len;
  h.dxfer_len = m.len;
  h.dxferp = m.null_data ? nullptr : buf.data();
  h.cmdp = cdb.data();
  errno = 0;
  EXPECT_EQ(::ioctl(fd_, SG_IO, &h), -1) << m.name;
  EXPECT_EQ(errno, m.err) << m.name;
  EXPECT_EQ(card_->TransferCount(), 0u) << m.name;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ScsiMalformed,
    ::testing::Values(Malformed{"interface", 'Q', 10, SG_DXFER_FROM_DEV, 512, false, EINVAL},
                      Malformed{"no cdb", 'S', 0, SG_DXFER_FROM_DEV, 512, false, EINVAL},
                      Malformed{"long cdb", 'S', 17, SG_DXFER_FROM_DEV, 512, false, EINVAL},
                      Malformed{"direction", 'S', 10, 7, 512, false, EINVAL},
                      Malformed{"null data", 'S', 10, SG_DXFER_FROM_DEV, 512, true, EFAULT},
                      Malformed{"huge", 'S', 10, SG_DXFER_FROM_DEV, 64u << 20, false, EIO}),
    [](const auto &info) {
      std::string n = info.param.name;
      for (auto &ch : n)
        if (ch == ' ')
          ch = '_';
      return n;
    });

TEST_F(ScsiDevice, CommandsTheDiskDoesNotTakeEndInCheckCondition) {
  struct Case {
    std::vector<unsigned char> cdb;
    int direction;
    unsigned len;
    unsigned char asc; // with CHECK CONDITION; 0: phase error instead
  } cases[] = {
      {{0x1A, 0, 0x3F, 0, 192, 0}, SG_DXFER_FROM_DEV, 192, 0x20},        // MODE SENSE(6)
      {{0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, 512, 0x20}, // vendor group
      {{0x28, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, 512, 0x24},             // READ(10) in 6 bytes
      {Rw10(0x28, 0, 1), SG_DXFER_TO_DEV, 512, 0},                       // read sent as write
      {Rw10(0x2A, 0, 1), SG_DXFER_FROM_DEV, 512, 0},                     // write sent as read
      {Rw10(0x28, 0, 2), SG_DXFER_FROM_DEV, 512, 0},                     // length != count
      {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, 4, 0},      // capacity too short
  };
  std::vector<std::uint8_t> buf(1024, 0xEE);
  const Sector before = card_->ReadSector(0);
  for (const auto &c : cases) {
    ScsiResult r = Scsi(fd_, c.cdb, c.direction, buf.data(), c.len);
    ASSERT_EQ(r.rc, 0);
    if (c.asc) {
      EXPECT_EQ(r.hdr.status, 0x02) << int(c.cdb[0]);
      EXPECT_EQ(r.sense[2] & 0x0F, 0x05);
      EXPECT_EQ(r.sense[12], c.asc);
    } else {
      EXPECT_EQ(r.hdr.host_status, 0x07) << int(c.cdb[0]); // DID_ERROR
      EXPECT_EQ(r.hdr.resid, static_cast<int>(c.len));
    }
  }
  EXPECT_EQ(card_->ReadSector(0), before); // nothing was written
  EXPECT_EQ(buf[0], 0xEE);                 // nothing was read
}

TEST_F(ScsiDevice, SenseIsCutToTheSenseBufferLength) {
  ScsiResult r = Scsi(fd_, {0x1A, 0, 0x3F, 0, 0, 0}, SG_DXFER_FROM_DEV, nullptr, 0, 8);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.sb_len_wr, 8);
  EXPECT_EQ(r.sense[8], 0); // untouched past mx_sb_len
}

TEST_F(ScsiDevice, SgIoOnANativeCardIsNotAScsiDevice) {
  sdsim::Card &native = sdsim::AttachFile(SDSIM_CARDS_DIR "/native.json");
  Fd fd(OpenNode(native.Node()));
  ASSERT_GE(fd.get(), 0);
  Sector s{};
  ScsiResult r = Scsi(fd.get(), Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, ENOTTY);
}

TEST_F(ScsiDevice, NodeReadsLikeABlockDevice) {
  Sector out{};
  out.fill(0x5A);
  card_->WriteSector(3, out.data());
  Sector in{};
  ASSERT_EQ(::pread(fd_, in.data(), 512, 3 * 512), 512);
  EXPECT_EQ(in, out);
  char link[256] = {};
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  ASSERT_GT(::readlink(self.c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "/dev/sdx");
}

} // namespace

namespace {

TEST_F(ScsiDevice, DescriptorsAreRealOpenFilesOfOneCard) {
  Fd second(OpenNode(card_->Node()));
  ASSERT_GE(second.get(), 0);
  ASSERT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  errno = 0;
  EXPECT_EQ(::flock(second.get(), LOCK_EX | LOCK_NB), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  ASSERT_EQ(::flock(fd_, LOCK_UN), 0);
  EXPECT_EQ(::flock(second.get(), LOCK_EX | LOCK_NB), 0);
  // A duplicate answers as the card; once closed, its number is an ordinary
  // descriptor again.
  const int copy = ::dup(fd_);
  ASSERT_GE(copy, 0);
  Sector s{};
  ScsiReadOk(copy, 0, 1, s.data());
  ::close(copy);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  EXPECT_EQ(Scsi(pipe_fds[0], Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512).err, ENOTTY);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  // Detached cards stop answering on descriptors still open.
  sdsim::DetachAll();
  EXPECT_EQ(Scsi(fd_, Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512).err, ENOTTY);
}

} // namespace

namespace {

TEST_F(ScsiDevice, NodeIsABlockDeviceForStatAndAccess) {
  struct stat by_path {
  }, by_fd{};
  ASSERT_EQ(::stat("/dev/sdx", &by_path), 0);
  EXPECT_TRUE(S_ISBLK(by_path.st_mode));
  ASSERT_EQ(::fstat(fd_, &by_fd), 0);
  EXPECT_TRUE(S_ISBLK(by_fd.st_mode));
  EXPECT_EQ(by_fd.st_rdev, by_path.st_rdev);
  EXPECT_EQ(::access("/dev/sdx", R_OK | W_OK), 0);
  struct statx x {};
  ASSERT_EQ(::statx(AT_FDCWD, "/dev/sdx", 0, STATX_BASIC_STATS, &x), 0);
  EXPECT_TRUE(S_ISBLK(x.stx_mode));
  EXPECT_EQ(makedev(x.stx_rdev_major, x.stx_rdev_minor), by_path.st_rdev);
  ASSERT_EQ(::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &x), 0);
  EXPECT_TRUE(S_ISBLK(x.stx_mode));
  // Ordinary paths and descriptors keep their own answers.
  struct stat plain {};
  ASSERT_EQ(::stat("/tmp", &plain), 0);
  EXPECT_TRUE(S_ISDIR(plain.st_mode));
  ASSERT_EQ(::fstat(0, &plain), 0);
  EXPECT_FALSE(S_ISBLK(plain.st_mode) && plain.st_rdev == by_path.st_rdev);
  card_->SetFault(sdsim::FaultKind::Vanish, 0);
  Sector s{};
  EXPECT_EQ(Scsi(fd_, Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512).err, ENODEV);
  EXPECT_EQ(::stat("/dev/sdx", &by_path), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(::access("/dev/sdx", F_OK), -1);
}

} // namespace
