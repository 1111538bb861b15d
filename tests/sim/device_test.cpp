// The card as a device: the USB reader card as a SCSI disk, the native card
// behind MMC_IOC_CMD, request checks on both, capacity, block I/O on the
// node, real descriptors and the sysfs entries the native drive reads.
#include "sim_test_util.h"

#include <cstdlib>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace simtest;

namespace {

using Device = CardTest;

std::string ReadText(const std::string &path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char buf[256] = {};
  const ssize_t n = fd.get() < 0 ? -1 : ::read(fd.get(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

TEST_F(Device, SectorsCapacityAndTheOtherTransportsIoctl) {
  for (const char *file : {"usb.json", "native.json"}) {
    Attach(file);
    const std::uint32_t last = static_cast<std::uint32_t>(card_->CapacitySectors() - 1);
    std::uint64_t bytes = 0;
    unsigned long sectors = 0;
    ASSERT_EQ(::ioctl(fd_, BLKGETSIZE64, &bytes), 0);
    ASSERT_EQ(::ioctl(fd_, BLKGETSIZE, &sectors), 0);
    EXPECT_EQ(bytes, card_->IsNative() ? 7948206080ull : 31914983424ull) << file;
    EXPECT_EQ(sectors, bytes / 512) << file;
    std::vector<std::uint8_t> out(3 * 512), in(3 * 512);
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<std::uint8_t>(i ^ (i >> 9) ^ 0x3C);
    ASSERT_EQ(Rw(true, 5000, 3, out.data()).rc, 0) << file;
    ASSERT_EQ(Rw(false, 5000, 3, in.data()).rc, 0) << file;
    EXPECT_EQ(in, out);
    const Sector one = Read(5001);
    EXPECT_TRUE(std::equal(one.begin(), one.end(), out.begin() + 512)) << file;
    Write(7, one);
    EXPECT_EQ(card_->ReadSector(7), one) << file;
    const Sector mbr = Read(0); // one FAT32 partition
    EXPECT_EQ(mbr[446 + 4], 0x0C);
    EXPECT_EQ(Be(&mbr[510], 2), 0x55AAu);
    (void)Read(last);
    const Result past = Rw(false, last, 2, in.data());
    if (card_->IsNative()) {
      EXPECT_EQ(past.rc, -1);
      EXPECT_EQ(past.cmd.response[0] >> 31, 1u); // OUT_OF_RANGE
    } else {
      EXPECT_EQ(past.hdr.status, 0x02); // CHECK CONDITION, LBA out of range
      EXPECT_EQ(past.sense[12], 0x21);
    }
    const std::vector<sdsim::Transfer> expect = {
        {"write", 5000, 3, "data"},       {"read", 5000, 3, "data"}, {"read", 5001, 1, "data"},
        {"write", 7, 1, "data"},          {"read", 0, 1, "data"},    {"read", last, 1, "data"},
        {"read", last, 2, "out of range"}};
    EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
    Sector s{}; // the other transport's request is not a transfer
    const Result wrong = card_->IsNative()
                             ? Scsi(fd_, Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512)
                             : Mmc(fd_, 17, 0, kReadFlags, false, 1, s.data());
    EXPECT_EQ(wrong.err, ENOTTY) << file;
    EXPECT_EQ(card_->TransferCount(), expect.size()) << file;
  }
}

TEST_F(Device, ScsiDiskCommands) {
  Attach("usb.json");
  unsigned char reply[96] = {};
  Result r = Scsi(fd_, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, reply, 8);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.status, 0);
  EXPECT_EQ(Be(reply, 4), card_->CapacitySectors() - 1);
  EXPECT_EQ(Be(reply + 4, 4), 512u);
  r = Scsi(fd_, {0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, nullptr, 0);
  EXPECT_EQ(r.rc | r.hdr.status, 0);
  r = Scsi(fd_, {0x12, 0, 0, 0, 96, 0}, SG_DXFER_FROM_DEV, reply, 96);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.hdr.resid, 96 - 36);
  EXPECT_EQ(reply[0], 0x00); // direct-access block device
  EXPECT_EQ(reply[1], 0x80); // removable
  const std::vector<sdsim::Transfer> expect = {
      {"cmd", 0, 0, "capacity"}, {"cmd", 0, 0, "test unit ready"}, {"cmd", 0, 0, "inquiry"}};
  EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
}

TEST_F(Device, ScsiRequestsTheBlockLayerRefuses) {
  Attach("usb.json");
  const struct {
    int interface_id;
    unsigned char cmd_len;
    int direction;
    unsigned len;
    bool null_data;
    int err;
  } cases[] = {
      {'Q', 10, SG_DXFER_FROM_DEV, 512, false, EINVAL},
      {'S', 0, SG_DXFER_FROM_DEV, 512, false, EINVAL},
      {'S', 17, SG_DXFER_FROM_DEV, 512, false, EINVAL},
      {'S', 10, 7, 512, false, EINVAL},
      {'S', 10, SG_DXFER_FROM_DEV, 512, true, EFAULT},
      {'S', 10, SG_DXFER_FROM_DEV, 64u << 20, false, EIO},
  };
  std::vector<std::uint8_t> buf(512);
  std::vector<unsigned char> cdb = Rw10(0x28, 0, 1);
  for (const auto &m : cases) {
    sg_io_hdr_t h{};
    h.interface_id = m.interface_id;
    h.dxfer_direction = m.direction;
    h.cmd_len = m.cmd_len;
    h.dxfer_len = m.len;
    h.dxferp = m.null_data ? nullptr : buf.data();
    h.cmdp = cdb.data();
    errno = 0;
    EXPECT_EQ(::ioctl(fd_, SG_IO, &h), -1) << &m - cases;
    EXPECT_EQ(errno, m.err) << &m - cases;
  }
  EXPECT_EQ(card_->TransferCount(), 0u);
}

TEST_F(Device, ScsiCheckConditionsAndPhaseErrorsMoveNothing) {
  Attach("usb.json");
  const struct {
    std::vector<unsigned char> cdb;
    int direction;
    unsigned len;
    unsigned char asc; // ILLEGAL REQUEST with this ASC; 0: phase error instead
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
    const Result r = Scsi(fd_, c.cdb, c.direction, buf.data(), c.len);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.hdr.resid, static_cast<int>(c.len)) << int(c.cdb[0]);
    if (c.asc) {
      EXPECT_EQ(r.hdr.status, 0x02) << int(c.cdb[0]);        // CHECK CONDITION
      EXPECT_EQ(r.hdr.driver_status, 0x08) << int(c.cdb[0]); // sense available
      EXPECT_EQ(r.sense[2] & 0x0F, 0x05);
      EXPECT_EQ(r.sense[12], c.asc) << int(c.cdb[0]);
    } else {
      EXPECT_EQ(r.hdr.host_status, 0x07) << int(c.cdb[0]); // DID_ERROR
    }
  }
  EXPECT_EQ(card_->ReadSector(0), before);
  EXPECT_EQ(buf[0], 0xEE);
  // Sense is cut to the sense buffer's length.
  const Result r = Scsi(fd_, {0x1A, 0, 0x3F, 0, 0, 0}, SG_DXFER_FROM_DEV, nullptr, 0, 8);
  EXPECT_EQ(r.hdr.sb_len_wr, 8);
  EXPECT_EQ(r.sense[8], 0);
}

TEST_F(Device, NodeIsABlockDeviceWithRealDescriptors) {
  Attach("usb.json");
  Sector out{}, in{};
  out.fill(0x5A);
  card_->WriteSector(3, out.data());
  ASSERT_EQ(::pread(fd_, in.data(), 512, 3 * 512), 512);
  EXPECT_EQ(in, out);
  char link[256] = {};
  ASSERT_GT(::readlink(("/proc/self/fd/" + std::to_string(fd_)).c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "/dev/sdx");

  struct stat by_path {
  }, by_fd{}, plain{};
  ASSERT_EQ(::stat("/dev/sdx", &by_path), 0);
  ASSERT_EQ(::fstat(fd_, &by_fd), 0);
  EXPECT_TRUE(S_ISBLK(by_path.st_mode) && S_ISBLK(by_fd.st_mode));
  EXPECT_EQ(by_fd.st_rdev, by_path.st_rdev);
  EXPECT_EQ(::access("/dev/sdx", R_OK | W_OK), 0);
  struct statx x {};
  ASSERT_EQ(::statx(AT_FDCWD, "/dev/sdx", 0, STATX_BASIC_STATS, &x), 0);
  EXPECT_EQ(makedev(x.stx_rdev_major, x.stx_rdev_minor), by_path.st_rdev);
  ASSERT_EQ(::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &x), 0);
  EXPECT_TRUE(S_ISBLK(x.stx_mode));
  ASSERT_EQ(::stat("/tmp", &plain), 0);
  EXPECT_TRUE(S_ISDIR(plain.st_mode));

  // Two descriptors are two open file descriptions of one card: flock works.
  Fd second(OpenNode(card_->Node()));
  ASSERT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(::flock(second.get(), LOCK_EX | LOCK_NB), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  ASSERT_EQ(::flock(fd_, LOCK_UN), 0);
  EXPECT_EQ(::flock(second.get(), LOCK_EX | LOCK_NB), 0);
  // A duplicate answers as the card; once closed, its number is ordinary again.
  const int copy = ::dup(fd_);
  ScsiOk(copy, false, 0, 1, in.data());
  ::close(copy);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  EXPECT_EQ(Scsi(pipe_fds[0], Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, in.data(), 512).err, ENOTTY);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  // Detached cards stop answering on descriptors still open.
  sdsim::DetachAll();
  EXPECT_EQ(Scsi(fd_, Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, in.data(), 512).err, ENOTTY);
}

TEST_F(Device, MmcSingleCommandsAndTheRcaAsTheDriveFindsIt) {
  Attach("native.json");
  char link[1024] = {};
  ASSERT_GT(::readlink(("/proc/self/fd/" + std::to_string(fd_)).c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "/dev/mmcblk7");
  ASSERT_GT(::readlink("/sys/class/block/mmcblk7/device", link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "../../../mmc0:aaaa");
  Result st = Mmc(fd_, 13, 0xAAAAu << 16, kR1Ac, false, 0, nullptr);
  ASSERT_EQ(st.rc, 0);
  EXPECT_EQ(st.cmd.response[0], 0x900u);                      // TRAN, ready for data
  st = Mmc(fd_, 13, 0x1234u << 16, kR1Ac, false, 0, nullptr); // another card's address
  EXPECT_EQ(st.rc, -1);
  EXPECT_EQ(st.err, ETIMEDOUT);
  EXPECT_EQ(Mmc(fd_, 12, 0, kR1bAc, false, 0, nullptr).rc, 0);
  EXPECT_EQ(Mmc(fd_, 23, 0x2345, kR1bAc, false, 0, nullptr).rc, 0);
  const std::vector<sdsim::Transfer> expect = {{"cmd", 0, 0, "status"},
                                               {"cmd", 0, 0, "status"},
                                               {"cmd", 0, 0, "stop"},
                                               {"cmd", 0, 0, "set block count"}};
  EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
}

TEST_F(Device, SysfsCsdDescribesTheCard) {
  for (const char *file : {"native.json", "native_sdsc.json"}) {
    Attach(file);
    const std::string name = card_->Node().substr(5), dir = "/sys/class/block/" + name + "/device/";
    const std::string hex = ReadText(dir + "csd");
    ASSERT_EQ(hex.size(), 33u) << file; // 32 hex characters and a newline
    EXPECT_EQ(hex.back(), '\n');
    std::vector<unsigned> b;
    for (std::size_t i = 0; i < 32; i += 2)
      b.push_back(static_cast<unsigned>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    std::uint64_t bytes; // CSD 2.0 for block-addressed cards, 1.0 for byte-addressed ones
    if (card_->IsByteAddressed()) {
      EXPECT_EQ(b[0] >> 6, 0u);
      const unsigned c_size = (b[6] & 0x03u) << 10 | b[7] << 2 | b[8] >> 6;
      const unsigned mult = (b[9] & 0x03u) << 1 | b[10] >> 7;
      bytes = (std::uint64_t{c_size} + 1) << (mult + 2 + (b[5] & 0x0F));
    } else {
      EXPECT_EQ(b[0] >> 6, 1u);
      bytes = (std::uint64_t{(b[7] & 0x3Fu) << 16 | b[8] << 8 | b[9]} + 1) * 512 * 1024;
    }
    EXPECT_EQ(bytes, card_->CapacitySectors() * 512 / (512 * 1024) * (512 * 1024)) << file;
    unsigned crc = 0; // CRC-7 of the first 15 bytes
    for (int i = 0; i < 15; ++i)
      for (int bit = 7; bit >= 0; --bit) {
        const unsigned feedback = ((crc >> 6) ^ (b[i] >> bit)) & 1u;
        crc = ((crc << 1) & 0x7F) ^ (feedback ? 0x09 : 0);
      }
    EXPECT_EQ(b[15], crc << 1 | 1) << file;
    EXPECT_EQ(ReadText("/sys/block/" + name + "/device/type"), "SD\n");
    EXPECT_LT(::open((dir + "nonesuch").c_str(), O_RDONLY), 0);
    EXPECT_EQ(errno, ENOENT);
  }
}

TEST_F(Device, ByteAddressedCardTakesByteArguments) {
  Attach("native_sdsc.json");
  Sector put{}, got{};
  put.fill(0x77);
  ASSERT_EQ(Mmc(fd_, 24, 9 * 512, kWriteFlags, true, 1, put.data()).rc, 0);
  EXPECT_EQ(card_->ReadSector(9), put);
  EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"write", 9, 1, "data"}));
  const Result odd = Mmc(fd_, 17, 9 * 512 + 4, kReadFlags, false, 1, got.data());
  EXPECT_EQ(odd.rc, -1);
  EXPECT_EQ(odd.err, ETIMEDOUT);
  EXPECT_EQ(odd.cmd.response[0] & (1u << 30), 1u << 30);               // ADDRESS_ERROR
  EXPECT_EQ(Mmc(fd_, 17, 9, kReadFlags, false, 1, got.data()).rc, -1); // a block number
}

TEST_F(Device, MalformedMmcCommandsFailLikeTheHostOrTheCard) {
  Attach("native.json");
  const struct {
    const char *name;
    unsigned opcode, flags;
    bool write;
    unsigned blocks, blksz;
    bool with_data;
    unsigned is_acmd;
    int err;
  } cases[] = {
      {"R2 response", 17, 0x27, false, 1, 512, true, 0, EILSEQ},
      {"no response", 17, 0x20, false, 1, 512, true, 0, EILSEQ},
      {"no crc", 17, 0x39, false, 1, 512, true, 0, EILSEQ},
      {"read as ac", 17, 0x1D, false, 1, 512, true, 0, EINVAL},
      {"status as adtc", 13, 0x35, false, 0, 0, false, 0, EINVAL},
      {"block 1024", 17, kReadFlags, false, 1, 1024, true, 0, EINVAL},
      {"cmd17 two blocks", 17, kReadFlags, false, 2, 512, true, 0, EINVAL},
      {"cmd24 two blocks", 24, kWriteFlags, true, 2, 512, true, 0, EINVAL},
      {"read write flag", 18, kReadFlags, true, 2, 512, true, 0, EINVAL},
      {"write no write flag", 25, kWriteFlags, false, 2, 512, true, 0, EINVAL},
      {"null data", 17, kReadFlags, false, 1, 512, false, 0, EFAULT},
      {"zero blocks", 18, kReadFlags, false, 0, 512, true, 0, EINVAL},
      {"too large", 18, kReadFlags, false, 2048, 512, true, 0, EOVERFLOW},
      {"status with data", 13, kR1Ac, false, 1, 512, true, 0, EINVAL},
      {"unknown command", 56, kReadFlags, false, 1, 512, true, 0, ETIMEDOUT},
      {"acmd", 17, kReadFlags, false, 1, 512, true, 1, ETIMEDOUT},
  };
  std::vector<std::uint8_t> buf(4096 * 512, 0xEE);
  for (const auto &c : cases) {
    mmc_ioc_cmd cmd{};
    cmd.opcode = c.opcode;
    cmd.flags = c.flags;
    cmd.write_flag = c.write;
    cmd.blocks = c.blocks;
    cmd.blksz = c.blksz;
    cmd.is_acmd = c.is_acmd;
    if (c.with_data)
      mmc_ioc_cmd_set_data(cmd, buf.data());
    errno = 0;
    EXPECT_EQ(::ioctl(fd_, MMC_IOC_CMD, &cmd), -1) << c.name;
    EXPECT_EQ(errno, c.err) << c.name;
  }
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(card_->TransferCount(), 0u);
}

} // namespace
