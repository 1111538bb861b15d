// SPDX-License-Identifier: MIT
// The kinds of flash a native host shows besides the supported SD cards: an
// eMMC (its sysfs files, its EXT_CSD through CMD8, its boot areas) and an SD
// card of another family, with the texts the kernel's MMC core prints for
// given register bytes.
#include "sdsim/sdsim.h"
#include "sdsmart/unique_fd.h"
#include "support.h"

#include <linux/mmc/ioctl.h>
#include <sys/ioctl.h>

using namespace sdtest;

namespace {

constexpr unsigned kR1Adtc = 0x15 | 0x20; // MMC_RSP_R1 | MMC_CMD_ADTC

// A sysfs file's text, or "ENOENT" (and such) when it cannot be opened.
std::string Sysfs(const std::string &path) {
  CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0)
    return errno == ENOENT ? "ENOENT" : "errno " + std::to_string(errno);
  char buf[512];
  const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
  return std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
}

std::string Link(const std::string &path) {
  char buf[512];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
}

// A CMD8 with the kernel's SEND_EXT_CSD fields, changed by `edit`.
template <typename Edit> int Cmd8(const std::string &node, std::uint8_t *data, Edit edit) {
  CUniqueFd fd(::open(node.c_str(), O_RDWR | O_CLOEXEC));
  mmc_ioc_cmd c{};
  c.opcode = 8;
  c.flags = kR1Adtc;
  c.blksz = 512;
  c.blocks = 1;
  mmc_ioc_cmd_set_data(c, data);
  edit(c);
  errno = 0;
  return ::ioctl(fd.Get(), MMC_IOC_CMD, &c) == 0 ? 0 : errno;
}

class CardKinds : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
};

TEST_F(CardKinds, SysfsTextsAreTheKernelsForTheRegisters) {
  sdsim::AttachJson(R"({"node": "/dev/mmcblk3", "capacity_sectors": 65536, "entry": "OTHRFAMX",
    "rca": "0x1234", "ocr": "0x00300000", "header": {"CID": "12345654535443445a89abcdef013ba5"},
    "ssr": "80000000 00000000 0400a000 1041190a 00000000 00000000 00000000 00000000 )"
                    R"(00000000 00000000 00000000 00000000 00000000 00000000 00000000 000000ff"})");
  auto emmc = [](const std::string &node, const std::string &settings) {
    sdsim::AttachJson(R"({"node": ")" + node + R"(", "capacity_sectors": 65536,
      "entry": "SDSMTEST", "sysfs": {"kind": "emmc"},
      "header": {"CID": "9e015a454d43313647210badf00d7c63"}, "emmc": )" +
                      settings + "}");
  };
  emmc("/dev/mmcblk4", R"({"life_time": [11, 2], "pre_eol": 3})");
  emmc("/dev/mmcblk1", R"({"sysfs_life": false, "ext_csd_rev": 4})");
  const std::string sd = "/sys/class/block/mmcblk3/device/", mmc = "/sys/block/mmcblk4/device/",
                    old = "/sys/block/mmcblk1/device/", boot = "/sys/block/mmcblk4boot1/";
  const std::pair<std::string, std::string> cases[] = {
      {sd + "type", "SD\n"},
      {sd + "manfid", "0x000012\n"},
      {sd + "oemid", "0x3456\n"},
      {sd + "name", "TSTCD\n"},
      {sd + "hwrev", "0x5\n"},
      {sd + "fwrev", "0xa\n"},
      {sd + "serial", "0x89abcdef\n"},
      {sd + "date", "11/2019\n"},
      {sd + "ocr", "0x00300000\n"},
      {sd + "rca", "0x1234\n"},
      {sd + "erase_size", "512\n"},
      {sd + "preferred_erase_size", "8388608\n"}, // AU code 0xA
      {sd + "ssr", "800000000000000004"
                   "00a0001041190a" +
                       std::string(94, '0') + "ff\n"},
      {sd + "life_time", "ENOENT"},
      {mmc + "type", "MMC\n"},
      {mmc + "cid", "9e015a454d43313647210badf00d7c63\n"},
      {mmc + "manfid", "0x00009e\n"},
      {mmc + "oemid", "0x015a\n"},
      {mmc + "name", "EMC16G\n"},
      {mmc + "prv", "0x21\n"},
      {mmc + "hwrev", "0x0\n"},
      {mmc + "serial", "0x0badf00d\n"},
      {mmc + "date", "07/2025\n"}, // year code 12 from EXT_CSD_REV 5 on
      {mmc + "rev", "0x8\n"},
      {mmc + "fwrev", "0x0107220000000000\n"},
      {mmc + "life_time", "0x0b 0x02\n"},
      {mmc + "pre_eol_info", "0x03\n"},
      {mmc + "scr", "ENOENT"},
      {old + "life_time", "ENOENT"},
      {old + "pre_eol_info", "ENOENT"},
      {old + "date", "07/2009\n"},
      {old + "fwrev", "0x0\n"},
      {boot + "ro", "1\n"},
      {boot + "force_ro", "1\n"},
      {boot + "removable", "0\n"},
      {boot + "size", "8192\n"},
      {"/sys/block/mmcblk4/ro", "0\n"},
  };
  for (const auto &[path, text] : cases)
    EXPECT_EQ(Sysfs(path), text) << path;
  EXPECT_EQ(Link(boot + "device"), Link("/sys/block/mmcblk4/device"));
  EXPECT_EQ(Link("/sys/block/mmcblk4boot0"),
            "../devices/platform/sdsim-mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk4boot0");
  EXPECT_EQ(Link("/sys/block/mmcblk3boot0"), ""); // an SD card has none
}

TEST_F(CardKinds, EmmcAnswersCmd8WithItsExtCsdAndRefusesMalformedRequests) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/emmc.json");
  std::array<std::uint8_t, 512> ext{};
  ASSERT_EQ(Cmd8(card.Node(), ext.data(), [](mmc_ioc_cmd &) {}), 0);
  EXPECT_EQ(ext[192], 8);
  EXPECT_EQ((std::vector<int>{ext[267], ext[268], ext[269]}), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(ext[212] | ext[213] << 8 | ext[214] << 16 | std::uint64_t{ext[215]} << 24,
            card.CapacitySectors()); // SEC_COUNT, little-endian
  EXPECT_EQ(card.Transcript().back(), (sdsim::Transfer{"cmd", 0, 0, "ext csd"}));

  const std::pair<void (*)(mmc_ioc_cmd &), int> refused[] = {
      {[](mmc_ioc_cmd &c) { c.blksz = 256; }, EINVAL},
      {[](mmc_ioc_cmd &c) { c.blocks = 2; }, EINVAL},
      {[](mmc_ioc_cmd &c) { c.write_flag = 1; }, EINVAL},
      {[](mmc_ioc_cmd &c) { c.flags = 0x15; }, EINVAL},        // AC: no data phase
      {[](mmc_ioc_cmd &c) { c.flags = 0x07 | 0x20; }, EILSEQ}, // R2
      {[](mmc_ioc_cmd &c) { c.data_ptr = 0; }, EFAULT},
      {[](mmc_ioc_cmd &c) { c.is_acmd = 1; }, ETIMEDOUT},
  };
  for (const auto &[edit, error] : refused)
    EXPECT_EQ(Cmd8(card.Node(), ext.data(), edit), error);
  EXPECT_EQ(card.TransferCount(), 1u); // refused requests never reach the card

  // An SD card's CMD8 is SEND_IF_COND: no data, and the ioctl gets no answer.
  sdsim::Card &sd = sdsim::AttachFile(SDSIM_CARDS_DIR "/other_family.json");
  EXPECT_EQ(Cmd8(sd.Node(), ext.data(), [](mmc_ioc_cmd &) {}), ETIMEDOUT);
  EXPECT_EQ(Sysfs("/sys/block/mmcblk5/device/name"), "OFAM1\n");
}

} // namespace
