// The native host card: MMC_IOC_CMD checks, block and byte addressing, the
// single commands, capacity and the sysfs entries the native drive reads.
#include "sim_test_util.h"

#include <cstdlib>
#include <linux/fs.h>

using namespace simtest;

namespace {

class MmcDevice : public CardTest {
protected:
  void Attach(const char *file) {
    card_ = &sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + "/" + file);
    fd_ = OpenNode(card_->Node());
    ASSERT_GE(fd_, 0) << std::strerror(errno);
  }
  void SetUp() override { Attach("native.json"); }
  void TearDown() override {
    if (fd_ >= 0)
      ::close(fd_);
    CardTest::TearDown();
  }
  sdsim::Card *card_ = nullptr;
  int fd_ = -1;
};

std::uint8_t TestCrc7(const std::uint8_t *d, int n) {
  unsigned crc = 0;
  for (int i = 0; i < n; ++i)
    for (int b = 7; b >= 0; --b) {
      const unsigned feedback = ((crc >> 6) ^ (d[i] >> b)) & 1u;
      crc = (crc << 1) & 0x7F;
      if (feedback)
        crc ^= 0x09;
    }
  return static_cast<std::uint8_t>(crc);
}

std::string ReadText(const std::string &path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0)
    return "";
  char buf[256] = {};
  const ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

std::vector<std::uint8_t> HexToBytes(const std::string &hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size() && hex[i] != '\n'; i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST_F(MmcDevice, ReadsAndWritesWithTheFlagsTheLibrarySends) {
  std::vector<std::uint8_t> out(3 * 512), in(3 * 512);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(i ^ 0x3C);
  MmcResult w = Mmc(fd_, 25, 5000, kWriteFlags, true, 3, out.data());
  ASSERT_EQ(w.rc, 0) << std::strerror(w.err);
  EXPECT_EQ(w.cmd.response[0], 0x900u); // TRAN, ready for data
  MmcResult r = Mmc(fd_, 18, 5000, kReadFlags, false, 3, in.data());
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(in, out);
  Sector one{};
  ASSERT_EQ(Mmc(fd_, 17, 5001, kReadFlags, false, 1, one.data()).rc, 0);
  EXPECT_TRUE(std::equal(one.begin(), one.end(), out.begin() + 512));
  Sector put{};
  put.fill(0x11);
  ASSERT_EQ(Mmc(fd_, 24, 7, kWriteFlags, true, 1, put.data()).rc, 0);
  EXPECT_EQ(card_->ReadSector(7), put);
  const auto t = card_->Transcript();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0], (sdsim::Transfer{"write", 5000, 3, "data"}));
  EXPECT_EQ(t[1], (sdsim::Transfer{"read", 5000, 3, "data"}));
  EXPECT_EQ(t[3], (sdsim::Transfer{"write", 7, 1, "data"}));
}

TEST_F(MmcDevice, CapacityIoctls) {
  std::uint64_t bytes = 0;
  unsigned long sectors = 0;
  ASSERT_EQ(::ioctl(fd_, BLKGETSIZE64, &bytes), 0);
  ASSERT_EQ(::ioctl(fd_, BLKGETSIZE, &sectors), 0);
  EXPECT_EQ(bytes, 7948206080ull);
  EXPECT_EQ(sectors, 7948206080ull / 512);
  EXPECT_EQ(card_->TransferCount(), 0u); // not transfers
}

TEST_F(MmcDevice, SysfsDescribesTheCard) {
  const std::string csd = ReadText("/sys/class/block/mmcblk7/device/csd");
  ASSERT_EQ(csd.size(), 33u);
  EXPECT_EQ(csd.back(), '\n');
  const auto b = HexToBytes(csd);
  ASSERT_EQ(b.size(), 16u);
  EXPECT_EQ(b[0] >> 6, 1); // CSD 2.0: block-addressed
  const std::uint32_t c_size = (b[7] & 0x3Fu) << 16 | b[8] << 8 | b[9];
  EXPECT_EQ((std::uint64_t{c_size} + 1) * 1024, card_->CapacitySectors() / 1024 * 1024);
  EXPECT_EQ(b[15], static_cast<std::uint8_t>(TestCrc7(b.data(), 15) << 1 | 1));
  EXPECT_EQ(ReadText("/sys/block/mmcblk7/device/type"), "SD\n");
  // Not a file of the card.
  EXPECT_LT(::open("/sys/class/block/mmcblk7/device/nonesuch", O_RDONLY), 0);
  EXPECT_EQ(errno, ENOENT);
  // fopen reads the same text.
  FILE *f = std::fopen("/sys/class/block/mmcblk7/device/csd", "r");
  ASSERT_NE(f, nullptr);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  std::fclose(f);
  EXPECT_EQ(std::string(line), csd);
}

TEST_F(MmcDevice, RcaIsFoundThroughTheDescriptorAndSysfsLinks) {
  char link[1024] = {};
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const ssize_t n = ::readlink(self.c_str(), link, sizeof link - 1);
  ASSERT_GT(n, 0);
  const std::string node(link, static_cast<std::size_t>(n));
  EXPECT_EQ(node, "/dev/mmcblk7");
  const std::string name = node.substr(node.rfind('/') + 1);
  char dev[1024] = {};
  const ssize_t m =
      ::readlink(("/sys/class/block/" + name + "/device").c_str(), dev, sizeof dev - 1);
  ASSERT_GT(m, 0);
  const std::string text(dev, static_cast<std::size_t>(m));
  const auto colon = text.rfind(':');
  ASSERT_NE(colon, std::string::npos);
  const long rca = std::strtol(text.c_str() + colon + 1, nullptr, 16);
  EXPECT_EQ(rca, 0xAAAA);

  MmcResult st = Mmc(fd_, 13, static_cast<std::uint32_t>(rca) << 16, kR1Ac, false, 0, nullptr);
  ASSERT_EQ(st.rc, 0);
  EXPECT_EQ(st.cmd.response[0], 0x900u);
  MmcResult other = Mmc(fd_, 13, 0x1234u << 16, kR1Ac, false, 0, nullptr);
  EXPECT_EQ(other.rc, -1);
  EXPECT_EQ(other.err, ETIMEDOUT);
  EXPECT_EQ(Mmc(fd_, 12, 0, kR1bAc, false, 0, nullptr).rc, 0);
  EXPECT_EQ(Mmc(fd_, 23, 0x2345, kR1bAc, false, 0, nullptr).rc, 0);
  const auto t = card_->Transcript();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].what, "status");
  EXPECT_EQ(t[2].what, "stop");
  EXPECT_EQ(t[3].what, "set block count");
}

TEST_F(MmcDevice, ByteAddressedCardTakesByteArguments) {
  ::close(fd_);
  fd_ = -1;
  sdsim::DetachAll();
  Attach("native_sdsc.json");
  ASSERT_TRUE(card_->IsByteAddressed());
  const auto b = HexToBytes(ReadText("/sys/class/block/mmcblk6/device/csd"));
  ASSERT_EQ(b.size(), 16u);
  EXPECT_EQ(b[0] >> 6, 0); // CSD 1.0: standard capacity
  // C_SIZE and C_SIZE_MULT give back the capacity.
  const unsigned read_bl_len = b[5] & 0x0F;
  const unsigned c_size = (b[6] & 0x03u) << 10 | b[7] << 2 | b[8] >> 6;
  const unsigned mult = (b[9] & 0x03u) << 1 | b[10] >> 7;
  EXPECT_EQ((std::uint64_t{c_size} + 1) << (mult + 2 + read_bl_len),
            card_->CapacitySectors() * 512);

  Sector put{};
  put.fill(0x77);
  ASSERT_EQ(Mmc(fd_, 24, 9 * 512, kWriteFlags, true, 1, put.data()).rc, 0);
  EXPECT_EQ(card_->ReadSector(9), put);
  EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"write", 9, 1, "data"}));
  Sector got{};
  MmcResult odd = Mmc(fd_, 17, 9 * 512 + 4, kReadFlags, false, 1, got.data());
  EXPECT_EQ(odd.rc, -1);
  EXPECT_EQ(odd.err, ETIMEDOUT);
  EXPECT_EQ(odd.cmd.response[0] & (1u << 30), 1u << 30);               // ADDRESS_ERROR
  MmcResult block = Mmc(fd_, 17, 9, kReadFlags, false, 1, got.data()); // sector 0, byte 9
  EXPECT_EQ(block.rc, -1);
}

TEST_F(MmcDevice, OutOfRangeSetsTheStatusBit) {
  Sector s{};
  const auto last = static_cast<std::uint32_t>(card_->CapacitySectors() - 1);
  ASSERT_EQ(Mmc(fd_, 17, last, kReadFlags, false, 1, s.data()).rc, 0);
  std::vector<std::uint8_t> two(1024);
  MmcResult r = Mmc(fd_, 18, last, kReadFlags, false, 2, two.data());
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.cmd.response[0] >> 31, 1u); // OUT_OF_RANGE
}

struct BadCmd {
  const char *name;
  unsigned opcode, flags;
  bool write;
  unsigned blocks, blksz;
  bool with_data;
  unsigned is_acmd;
  int err;
};

class MmcMalformed : public MmcDevice, public ::testing::WithParamInterface<BadCmd> {};

TEST_P(MmcMalformed, FailsLikeTheHostOrTheCard) {
  const BadCmd c = GetParam();
  std::vector<std::uint8_t> buf(4096 * 512, 0xEE);
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
  EXPECT_EQ(buf[0], 0xEE) << c.name;
  EXPECT_EQ(card_->TransferCount(), 0u) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, MmcMalformed,
    ::testing::Values(BadCmd{"R2_response", 17, 0x27, false, 1, 512, true, 0, EILSEQ},
                      BadCmd{"no_response", 17, 0x20, false, 1, 512, true, 0, EILSEQ},
                      BadCmd{"no_crc", 17, 0x39, false, 1, 512, true, 0, EILSEQ},
                      BadCmd{"read_as_ac", 17, 0x1D, false, 1, 512, true, 0, EINVAL},
                      BadCmd{"status_as_adtc", 13, 0x35, false, 0, 0, false, 0, EINVAL},
                      BadCmd{"block_1024", 17, kReadFlags, false, 1, 1024, true, 0, EINVAL},
                      BadCmd{"cmd17_two_blocks", 17, kReadFlags, false, 2, 512, true, 0, EINVAL},
                      BadCmd{"cmd24_two_blocks", 24, kWriteFlags, true, 2, 512, true, 0, EINVAL},
                      BadCmd{"read_write_flag", 18, kReadFlags, true, 2, 512, true, 0, EINVAL},
                      BadCmd{"write_no_write_flag", 25, kWriteFlags, false, 2, 512, true, 0,
                             EINVAL},
                      BadCmd{"null_data", 17, kReadFlags, false, 1, 512, false, 0, EFAULT},
                      BadCmd{"zero_blocks", 18, kReadFlags, false, 0, 512, true, 0, EINVAL},
                      BadCmd{"too_large", 18, kReadFlags, false, 2048, 512, true, 0, EOVERFLOW},
                      BadCmd{"status_with_data", 13, kR1Ac, false, 1, 512, true, 0, EINVAL},
                      BadCmd{"unknown_command", 56, kReadFlags, false, 1, 512, true, 0, ETIMEDOUT},
                      BadCmd{"acmd", 17, kReadFlags, false, 1, 512, true, 1, ETIMEDOUT}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MmcDevice, MmcIoctlOnAUsbCardIsNotAnMmcDevice) {
  sdsim::Card &usb = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Fd fd(OpenNode(usb.Node()));
  Sector s{};
  MmcResult r = Mmc(fd.get(), 17, 0, kReadFlags, false, 1, s.data());
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, ENOTTY);
}

} // namespace
