// The exact requests the drives hand to the kernel. This test program puts a
// recorder in front of ioctl(): it keeps a copy of every SG_IO header (with
// its command block) and every MMC command record, then passes the call on
// unchanged to the virtual card.
#include "transport/kernel_abi.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"

#include "sdsim/sdsim.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <sys/ioctl.h>
#include <vector>

namespace {

struct ScsiRecord {
  sg_io_hdr_t hdr;
  std::vector<unsigned char> cdb;
};

bool recording = false;
std::vector<ScsiRecord> scsiSeen;
std::vector<mmc_ioc_cmd> mmcSeen;

using IoctlFn = int (*)(int, unsigned long, ...);

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  if (recording && arg != nullptr) {
    if (request == SG_IO) {
      ScsiRecord r;
      std::memcpy(&r.hdr, arg, sizeof r.hdr);
      const unsigned char *cdb = static_cast<const unsigned char *>(r.hdr.cmdp);
      if (cdb != nullptr)
        r.cdb.assign(cdb, cdb + r.hdr.cmd_len);
      scsiSeen.push_back(r);
    } else if (request == MMC_IOC_CMD) {
      mmcSeen.push_back(*static_cast<const mmc_ioc_cmd *>(arg));
    }
  }
  static const IoctlFn next = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  return next(fd, request, arg);
}

namespace {

std::wstring Wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

class Recorder : public ::testing::Test {
protected:
  void SetUp() override {
    scsiSeen.clear();
    mmcSeen.clear();
  }
  void TearDown() override {
    recording = false;
    sdsim::DetachAll();
  }
  sdsim::Card &Attach(bool native, bool byteAddressed = false) {
    const std::string json =
        std::string("{\"node\": \"") + (native ? "/dev/mmcblk6" : "/dev/sdr") +
        "\", \"capacity_sectors\": " + (byteAddressed ? "3932160" : "33554432") +
        ", \"entry\": \"ABCDEFGH\", \"addressing\": \"" + (byteAddressed ? "byte" : "block") +
        "\", \"rca\": 4660}";
    return sdsim::AttachJson(json);
  }
};

} // namespace

TEST_F(Recorder, ScsiCommandBlocksAndHeaders) {
  sdsim::Card &card = Attach(false);
  CUsbDrive drive(Wide(card.Node()), false);
  std::vector<unsigned char> buf(1024);
  struct Case {
    const char *what;
    std::function<void()> call;
    std::vector<unsigned char> cdb;
    int direction;
    unsigned int length;
    bool data;
    unsigned int timeout, senseLen;
  };
  const Case cases[] = {
      {"read",
       [&] { drive.ReadSector(0x01020304, 2, buf.data()); },
       {0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x02, 0},
       SG_DXFER_FROM_DEV,
       1024,
       true,
       6000,
       24},
      {"write",
       [&] { drive.WriteSector(5, 1, buf.data()); },
       {0x2A, 0, 0, 0, 0, 0x05, 0, 0x00, 0x01, 0},
       SG_DXFER_TO_DEV,
       512,
       true,
       6000,
       24},
      {"capacity",
       [&] { drive.ReadCapacity(); },
       {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       SG_DXFER_FROM_DEV,
       8,
       true,
       2000,
       32},
      {"ready",
       [&] { drive.WaitForDiskReady(12); },
       {0, 0, 0, 0, 0, 0},
       SG_DXFER_FROM_DEV,
       0,
       false,
       2000,
       32},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    scsiSeen.clear();
    recording = true;
    c.call();
    recording = false;
    ASSERT_EQ(scsiSeen.size(), 1u);
    const ScsiRecord &r = scsiSeen[0];
    EXPECT_EQ(r.cdb, c.cdb);
    EXPECT_EQ(r.hdr.interface_id, 'S');
    EXPECT_EQ(r.hdr.dxfer_direction, c.direction);
    EXPECT_EQ(r.hdr.dxfer_len, c.length);
    EXPECT_EQ(r.hdr.dxferp != nullptr, c.data);
    EXPECT_EQ(r.hdr.timeout, c.timeout);
    EXPECT_EQ(r.hdr.mx_sb_len, c.senseLen);
    EXPECT_NE(r.hdr.sbp, nullptr);
    EXPECT_EQ(r.hdr.iovec_count, 0);
    EXPECT_EQ(r.hdr.flags, 0u);
  }
}

TEST_F(Recorder, MmcCommandRecords) {
  for (bool byteAddressed : {false, true}) {
    SCOPED_TRACE(byteAddressed ? "byte-addressed" : "block-addressed");
    sdsim::Card &card = Attach(true, byteAddressed);
    CMmcDrive drive(Wide(card.Node()), false);
    std::vector<unsigned char> buf(8 * 512);
    const unsigned int scale = byteAddressed ? 512 : 1;
    unsigned int status = 0;
    struct Case {
      const char *what;
      std::function<void()> call;
      unsigned int opcode, arg, flags;
      int writeFlag;
      unsigned int blksz, blocks;
      bool data;
    };
    const Case cases[] = {
        {"read one", [&] { drive.ReadSector(0x1234, 1, buf.data()); }, 17, 0x1234 * scale, 0x6BD, 0,
         512, 1, true},
        {"read several", [&] { drive.ReadSector(0x20, 8, buf.data()); }, 18, 0x20 * scale, 0x6BD, 0,
         512, 8, true},
        {"write one", [&] { drive.WriteSector(0x77, 1, buf.data()); }, 24, 0x77 * scale, 0x5BD, 1,
         512, 1, true},
        {"write several", [&] { drive.WriteSector(0x40, 8, buf.data()); }, 25, 0x40 * scale, 0x5BD,
         1, 512, 8, true},
        {"status", [&] { drive.SendStatus(&status); }, 13, 0x1234u << 16, 0x15, 0, 0, 0, false},
        {"stop", [&] { drive.Stop_Transmission(); }, 12, 0, 0x49D, 0, 0, 0, false},
        {"block count", [&] { drive.SetBlockCount(0x12345); }, 23, 0x2345, 0x49D, 0, 0, 0, false},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      mmcSeen.clear();
      recording = true;
      c.call();
      recording = false;
      ASSERT_EQ(mmcSeen.size(), 1u);
      const mmc_ioc_cmd &m = mmcSeen[0];
      EXPECT_EQ(m.opcode, c.opcode);
      EXPECT_EQ(m.arg, c.arg);
      EXPECT_EQ(m.flags, c.flags);
      EXPECT_EQ(m.write_flag, c.writeFlag);
      EXPECT_EQ(m.blksz, c.blksz);
      EXPECT_EQ(m.blocks, c.blocks);
      EXPECT_EQ(m.data_ptr, c.data ? reinterpret_cast<uintptr_t>(buf.data()) : 0u);
      EXPECT_EQ(m.is_acmd, 0);
      EXPECT_EQ(m.postsleep_min_us | m.postsleep_max_us | m.data_timeout_ns | m.cmd_timeout_ms |
                    m.__pad,
                0u);
    }
    EXPECT_EQ(status, 0x900u); // ready for data, transfer state
    sdsim::DetachAll();
  }
}
