// SPDX-License-Identifier: MIT
// Both drives and the card command interface against the virtual card, on
// both transports: what reaches the card, what comes back, and how failures
// are reported.
#include "transport/kernel_abi.h"
#include "virtual_card.h"

#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <sys/ioctl.h>

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

using Bytes = std::vector<unsigned char>;
using sdtest::Seq;
const char *kMmcNode = "/dev/mmcblk7";

sdsim::Card &Attach(bool native, uint64_t sectors = 0x40000, bool byteAddressed = false,
                    int rca = 0xAAAA) {
  return sdsim::AttachJson(nlohmann::json{
      {"node", native ? kMmcNode : "/dev/sdt"},
      {"capacity_sectors", sectors},
      {"entry", "ABCDEFGH"},
      {"addressing", byteAddressed ? "byte" : "block"},
      {"rca", rca}}.dump());
}

Bytes Pattern(unsigned int sectors, unsigned char seed) {
  Bytes v(sectors * 512);
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = static_cast<unsigned char>(seed + i * 7 + i / 512);
  return v;
}

// The drive the card's node calls for, seen as the library sees it.
struct AnyDrive : CSectorDevice {
  explicit AnyDrive(const sdsim::Card &card) {
    OpenDrive(TransportOfNode(card.Node()), ToWideString(card.Node()), [this](auto drive) {
      static_cast<CSectorDevice &>(*this) = CSectorDevice(drive.get());
      kept.Keep(std::move(drive));
    });
  }
  bool IsOpen() {
    return Visit([](auto &drive) { return drive.IsOpen(); });
  }
  sdtest::Drives kept;
};

sdtest::Caught TransferFailure(bool native, bool write) {
  if (native)
    return {SDSMART_E_UNCODED, L"ReadWriteSector error!!"};
  return {SDSMART_E_USB_TRANSACTION,
          write ? L"USB Transaction Error (1)" : L"USB Transaction Error (0)"};
}

class SimTest : public ::testing::Test {
protected:
  void TearDown() override {
    recording = false;
    sdsim::DetachAll();
  }
};

class BothTransports : public SimTest, public ::testing::WithParamInterface<bool> {};

} // namespace

TEST_P(BothTransports, CapacityAnswers) {
  struct Case {
    uint64_t sectors;
    unsigned int native; // MiB from the native host; the reader answers sectors
  };
  const Case cases[] = {{0x003B0000, 1888}, {62333952, 30436}, {2, 0}, {0xFFFFFFFF, 2097151}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sectors);
    sdsim::Card &card = Attach(GetParam(), c.sectors);
    AnyDrive drive(card);
    EXPECT_EQ(drive.CapacitySectors(), c.sectors);
    if (GetParam()) // the native drive's documented answer is in MiB
      EXPECT_EQ(drive.kept.mmc->ReadCapacity(), c.native);
    else {
      EXPECT_EQ(card.Transcript(), (Seq{{"cmd", 0, 0, "capacity"}}));
    }
    sdsim::DetachAll();
  }
}

TEST_P(BothTransports, SectorRunsReachTheCardAsOneCommand) {
  struct Case {
    uint32_t lba, count;
  };
  const Case cases[] = {{5, 1}, {0x100, 8}, {0, 2}, {0x01020304, 2}, {0x01FFFFFF, 1}, {0x10, 1024}};
  sdsim::Card &card = Attach(GetParam(), 0x02000000);
  AnyDrive drive(card);
  unsigned char seed = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.lba) + "+" + std::to_string(c.count));
    card.ClearTranscript();
    Bytes out = Pattern(c.count, seed++);
    drive.Write(c.lba, c.count, out.data());
    for (uint32_t i = 0; i < c.count; ++i) {
      const auto s = card.ReadSector(c.lba + i);
      EXPECT_TRUE(std::equal(s.begin(), s.end(), out.begin() + i * 512)) << "sector " << c.lba + i;
    }

    const Bytes stored = Pattern(c.count, seed++);
    for (uint32_t i = 0; i < c.count; ++i)
      card.WriteSector(c.lba + i, stored.data() + i * 512);
    Bytes in(c.count * 512, 0);
    drive.Read(c.lba, c.count, in.data());
    EXPECT_EQ(in, stored);
    EXPECT_EQ(card.Transcript(),
              (Seq{{"write", c.lba, c.count, "data"}, {"read", c.lba, c.count, "data"}}));
  }
}

TEST_P(BothTransports, RefusedRequestsSendNothing) {
  const bool native = GetParam();
  sdsim::Card &card = Attach(native, 0x800000);
  AnyDrive drive(card);
  Bytes buf(1025 * 512);
  struct Case {
    const char *what;
    std::function<void()> call;
    bool write;
  };
  std::vector<Case> cases = {
      {"read without buffer", [&] { drive.Read(0, 1, nullptr); }, false},
      {"run beyond 32-bit bytes", [&] { drive.Write(0, 0x800000, buf.data()); }, true},
  };
  // One sector more than the native host takes in one command; READ(10) and
  // WRITE(10) carry 16 bits of count.
  cases.push_back(native ? Case{"read 1025", [&] { drive.Read(0x10, 1025, buf.data()); }, false}
                         : Case{"read 65536", [&] { drive.Read(0, 0x10000, buf.data()); }, false});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(sdtest::CatchError(c.call), TransferFailure(native, c.write));
    EXPECT_EQ(card.TransferCount(), 0u);
    EXPECT_TRUE(drive.IsOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(Transport, BothTransports, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "Native" : "Usb";
                         });

// The exact requests the drives hand to the kernel: this test program puts
// a recorder in front of ioctl() that keeps a copy of every SG_IO header
// (with its command block) and every MMC command record, then passes the
// call on unchanged to the virtual card.
TEST_F(SimTest, ScsiCommandBlocksAndHeaders) {
  sdsim::Card &card = Attach(false, 33554432, false, 4660);
  CUsbDrive drive(ToWideString(card.Node()), false);
  std::vector<unsigned char> buf(1024);
  scsiSeen.clear();
  recording = true;
  drive.ReadSector(0x01020304, 2, buf.data());
  drive.WriteSector(5, 1, buf.data());
  drive.ReadCapacity();
  drive.WaitForDiskReady(12);
  recording = false;

  struct Want {
    std::vector<unsigned char> cdb;
    int direction;
    unsigned int length, timeout, senseLen;
  };
  const Want want[] = {
      {{0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x02, 0}, SG_DXFER_FROM_DEV, 1024, 6000, 24},
      {{0x2A, 0, 0, 0, 0, 0x05, 0, 0x00, 0x01, 0}, SG_DXFER_TO_DEV, 512, 6000, 24},
      {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, 8, 2000, 32},
      {{0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, 0, 2000, 32},
  };
  ASSERT_EQ(scsiSeen.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const sg_io_hdr_t &h = scsiSeen[i].hdr;
    const Want &w = want[i];
    EXPECT_EQ(scsiSeen[i].cdb, w.cdb);
    EXPECT_EQ(std::make_tuple(h.dxfer_direction, h.dxfer_len, h.dxferp != nullptr, h.timeout,
                              unsigned{h.mx_sb_len}),
              std::make_tuple(w.direction, w.length, w.length != 0, w.timeout, w.senseLen));
    EXPECT_EQ(std::make_tuple(h.interface_id, h.sbp != nullptr, h.iovec_count, h.flags),
              std::make_tuple('S', true, 0, 0u));
  }
}

TEST_F(SimTest, MmcCommandRecords) {
  for (bool byteAddressed : {false, true}) {
    SCOPED_TRACE(byteAddressed ? "byte-addressed" : "block-addressed");
    sdsim::Card &card = Attach(true, byteAddressed ? 3932160 : 33554432, byteAddressed, 4660);
    CMmcDrive drive(ToWideString(card.Node()), false);
    std::vector<unsigned char> buf(8 * 512);
    const unsigned int scale = byteAddressed ? 512 : 1;
    unsigned int status = 0;
    mmcSeen.clear();
    recording = true;
    drive.ReadSector(0x1234, 1, buf.data());
    drive.ReadSector(0x20, 8, buf.data());
    drive.WriteSector(0x77, 1, buf.data());
    drive.WriteSector(0x40, 8, buf.data());
    ::testing::internal::CaptureStdout();
    drive.SendStatus(&status);
    drive.Stop_Transmission();
    drive.SetBlockCount(0x12345);
    std::fflush(stdout);
    recording = false;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CMD13 Done \nSEND_STATUS response: 0x00000900 \nCMD12 Done \nCMD23 Done \n");

    struct Want {
      unsigned int opcode, arg, flags;
      int writeFlag;
      unsigned int blksz, blocks;
    };
    const Want want[] = {
        {17, 0x1234 * scale, 0x6BD, 0, 512, 1}, {18, 0x20 * scale, 0x6BD, 0, 512, 8},
        {24, 0x77 * scale, 0x5BD, 1, 512, 1},   {25, 0x40 * scale, 0x5BD, 1, 512, 8},
        {13, 0x1234u << 16, 0x15, 0, 0, 0},     {12, 0, 0x49D, 0, 0, 0},
        {23, 0x2345, 0x49D, 0, 0, 0},
    };
    ASSERT_EQ(mmcSeen.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
      SCOPED_TRACE(want[i].opcode);
      const mmc_ioc_cmd &m = mmcSeen[i];
      const Want &w = want[i];
      EXPECT_EQ(std::make_tuple(m.opcode, m.arg, m.flags, m.write_flag, m.blksz, m.blocks),
                std::make_tuple(w.opcode, w.arg, w.flags, w.writeFlag, w.blksz, w.blocks));
      EXPECT_EQ(m.data_ptr, w.blksz ? reinterpret_cast<uintptr_t>(buf.data()) : 0u);
      EXPECT_EQ(m.is_acmd | m.postsleep_min_us | m.postsleep_max_us | m.data_timeout_ns |
                    m.cmd_timeout_ms | m.__pad,
                0u);
    }
    EXPECT_EQ(status, 0x900u); // ready for data, transfer state
    sdsim::DetachAll();
  }
}

// A failed transfer closes the native drive, and the clean-up writes that
// must follow it (leave patterns, the sector-0 restore) reopen the node
// first (the native fault sweep fails every transfer once and checks the
// restore); a drive closed on purpose stays closed.
TEST_F(SimTest, NativeDriveClosedOnPurposeOrForAVanishedCardStaysClosed) {
  sdsim::Card &card = Attach(true);
  CMmcDrive drive(ToWideString(card.Node()), false);
  Bytes buf = Pattern(1, 3);
  drive.Close();
  const uint64_t before = card.TransferCount();
  EXPECT_EQ(sdtest::CatchError([&] { drive.WriteSector(0, 1, buf.data()); }),
            TransferFailure(true, true));
  EXPECT_FALSE(drive.IsOpen());
  EXPECT_EQ(card.TransferCount(), before);

  // A card that vanished cannot be reopened, each time.
  drive.ReOpen();
  card.SetFault(sdsim::FaultKind::Vanish, card.TransferCount());
  EXPECT_EQ(sdtest::CatchError([&] { drive.ReadSector(0, 1, buf.data()); }),
            TransferFailure(true, false));
  const sdtest::Caught gone{SDSMART_E_DEVICE_NOT_FOUND,
                            L"Drive not found, please detect again! " + ToWideString(kMmcNode)};
  EXPECT_EQ(sdtest::CatchError([&] { drive.WriteSector(0, 1, buf.data()); }), gone);
  EXPECT_EQ(sdtest::CatchError([&] { drive.WriteSector(0, 1, buf.data()); }), gone);
  EXPECT_FALSE(drive.IsOpen());
}
