// Both drives and the card command interface against the virtual card, on
// both transports: what reaches the card, what comes back, and how failures
// are reported.
#include "transport/mmc_drive.h"
#include "transport/normal_reader_io.h"
#include "transport/usb_drive.h"
#include "util/error.h"

#include "sdsim/sdsim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *kUsbNode = "/dev/sdt";
const char *kMmcNode = "/dev/mmcblk7";

struct CardSpec {
  bool native = false;
  uint64_t sectors = 0x40000;
  bool byteAddressed = false;
  int rca = -1; // -1: the card's default
};

sdsim::Card &Attach(const CardSpec &spec) {
  std::string json = std::string("{\"node\": \"") + (spec.native ? kMmcNode : kUsbNode) +
                     "\", \"capacity_sectors\": " + std::to_string(spec.sectors) +
                     ", \"entry\": \"ABCDEFGH\", \"addressing\": \"" +
                     (spec.byteAddressed ? "byte" : "block") + "\"";
  if (spec.rca >= 0)
    json += ", \"rca\": " + std::to_string(spec.rca);
  json += "}";
  return sdsim::AttachJson(json);
}

std::wstring Wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

std::vector<unsigned char> Pattern(unsigned int sectors, unsigned char seed) {
  std::vector<unsigned char> v(sectors * 512);
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = static_cast<unsigned char>(seed + i * 7 + i / 512);
  return v;
}

std::vector<unsigned char> Stored(const sdsim::Card &card, uint32_t lba, uint32_t count) {
  std::vector<unsigned char> v;
  for (uint32_t i = 0; i < count; ++i) {
    const auto s = card.ReadSector(lba + i);
    v.insert(v.end(), s.begin(), s.end());
  }
  return v;
}

// Either drive behind one set of calls.
class AnyDrive {
public:
  explicit AnyDrive(const sdsim::Card &card) : native(card.IsNative()) {
    if (native)
      mmc = std::make_unique<CMmcDrive>(Wide(card.Node()), false);
    else
      usb = std::make_unique<CUsbDrive>(Wide(card.Node()), false);
  }
  void Read(uint32_t lba, uint32_t count, unsigned char *buf) {
    native ? mmc->ReadSector(lba, count, buf) : usb->ReadSector(lba, count, buf);
  }
  void Write(uint32_t lba, uint32_t count, unsigned char *buf) {
    native ? mmc->WriteSector(lba, count, buf) : usb->WriteSector(lba, count, buf);
  }
  unsigned int Capacity() { return native ? mmc->ReadCapacity() : usb->ReadCapacity(); }
  bool IsOpen() const { return native ? mmc->IsOpen() : usb->IsOpen(); }
  void Close() { native ? mmc->Close() : usb->Close(); }

  const bool native;
  std::unique_ptr<CUsbDrive> usb;
  std::unique_ptr<CMmcDrive> mmc;
};

struct Failure {
  int64_t code;
  std::wstring text;
  bool operator==(const Failure &o) const { return code == o.code && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Failure &f) {
  return os << f.code << " \"" << std::string(f.text.begin(), f.text.end()) << "\"";
}

Failure Caught(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    return {e.GetCode(), e.GetText()};
  }
  return {0, L"<no error>"};
}

Failure ReadFailure(bool native) {
  return native ? Failure{-1, L"ReadWriteSector error!!"}
                : Failure{4098, L"USB Transaction Error (0)"};
}
Failure WriteFailure(bool native) {
  return native ? Failure{-1, L"ReadWriteSector error!!"}
                : Failure{4098, L"USB Transaction Error (1)"};
}

class SimTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
};

class BothTransports : public SimTest, public ::testing::WithParamInterface<bool> {};

std::string TransportName(const ::testing::TestParamInfo<bool> &info) {
  return info.param ? "Native" : "Usb";
}

} // namespace

TEST_P(BothTransports, CapacityAnswers) {
  struct Case {
    uint64_t sectors;
    unsigned int usb, native; // sectors from the reader, MiB from the native host
  };
  const Case cases[] = {
      {0x003B0000, 0x003B0000, 1888},
      {62333952, 62333952, 30436}, // 31914983424 bytes
      {2, 2, 0},
      {0xFFFFFFFF, 0xFFFFFFFF, 2097151},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sectors);
    sdsim::Card &card = Attach({GetParam(), c.sectors});
    AnyDrive drive(card);
    EXPECT_EQ(drive.Capacity(), GetParam() ? c.native : c.usb);
    if (!GetParam()) {
      const auto seen = card.Transcript();
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].op, "cmd");
      EXPECT_EQ(seen[0].what, "capacity");
    }
    sdsim::DetachAll();
  }
}

TEST_P(BothTransports, SectorRunsReachTheCard) {
  struct Case {
    uint32_t lba, count;
  };
  const Case cases[] = {{5, 1}, {0x100, 8}, {0, 2}, {0x01020304, 2}, {0x01FFFFFF, 1}};
  sdsim::Card &card = Attach({GetParam(), 0x02000000});
  AnyDrive drive(card);
  unsigned char seed = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.lba) + "+" + std::to_string(c.count));
    card.ClearTranscript();
    std::vector<unsigned char> out = Pattern(c.count, seed++);
    drive.Write(c.lba, c.count, out.data());
    EXPECT_EQ(Stored(card, c.lba, c.count), out);

    const std::vector<unsigned char> stored = Pattern(c.count, seed++);
    for (uint32_t i = 0; i < c.count; ++i)
      card.WriteSector(c.lba + i, stored.data() + i * 512);
    std::vector<unsigned char> in(c.count * 512, 0);
    drive.Read(c.lba, c.count, in.data());
    EXPECT_EQ(in, stored);

    EXPECT_EQ(card.Transcript(), (std::vector<sdsim::Transfer>{{"write", c.lba, c.count, "data"},
                                                               {"read", c.lba, c.count, "data"}}));
  }
}

TEST_P(BothTransports, FailedTransfersMapToTheirErrors) {
  const bool native = GetParam();
  struct Case {
    sdsim::FaultKind kind;
    bool write;
  };
  const Case cases[] = {
      {sdsim::FaultKind::FailTransfer, false},  {sdsim::FaultKind::FailTransfer, true},
      {sdsim::FaultKind::ErrorStatus, false},   {sdsim::FaultKind::ErrorStatus, true},
      {sdsim::FaultKind::ShortTransfer, false}, {sdsim::FaultKind::ShortTransfer, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(sdsim::FaultName(c.kind)) + (c.write ? " write" : " read"));
    sdsim::Card &card = Attach({native});
    AnyDrive drive(card);
    std::vector<unsigned char> buf = Pattern(4, 9);
    card.SetFault(c.kind, card.TransferCount());
    const Failure got =
        Caught([&] { c.write ? drive.Write(8, 4, buf.data()) : drive.Read(8, 4, buf.data()); });
    EXPECT_EQ(got, c.write ? WriteFailure(native) : ReadFailure(native));
    // The reader's drive stays open; the native drive closes after a failure.
    EXPECT_EQ(drive.IsOpen(), !native);
    // The fault was one transfer long: the next one goes through.
    EXPECT_NO_THROW(drive.Write(8, 4, buf.data()));
    EXPECT_EQ(Stored(card, 8, 4), buf);
    sdsim::DetachAll();
  }
}

TEST_P(BothTransports, RefusedRequestsSendNothing) {
  const bool native = GetParam();
  sdsim::Card &card = Attach({native, 0x800000});
  AnyDrive drive(card);
  std::vector<unsigned char> buf(512);
  struct Case {
    const char *what;
    std::function<void()> call;
    Failure failure;
  };
  std::vector<Case> cases = {
      {"read without buffer", [&] { drive.Read(0, 1, nullptr); }, ReadFailure(native)},
      {"write without buffer", [&] { drive.Write(0, 3, nullptr); }, WriteFailure(native)},
      {"run beyond 32-bit bytes", [&] { drive.Write(0, 0x800000, buf.data()); },
       WriteFailure(native)},
  };
  if (!native) {
    // READ(10)/WRITE(10) carry 16 bits of count.
    cases.push_back(
        {"read 65536", [&] { drive.Read(0, 0x10000, buf.data()); }, ReadFailure(false)});
    cases.push_back(
        {"write 65536", [&] { drive.Write(0, 0x10000, buf.data()); }, WriteFailure(false)});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Caught(c.call), c.failure);
    EXPECT_EQ(card.TransferCount(), 0u);
    EXPECT_TRUE(drive.IsOpen());
  }
}

TEST_P(BothTransports, LongRunIsOneCommand) {
  const bool native = GetParam();
  sdsim::Card &card = Attach({native, 0x20000});
  AnyDrive drive(card);
  const uint32_t count = native ? 1024 : 2048;
  std::vector<unsigned char> buf = Pattern(count, 1);
  drive.Write(0x10, count, buf.data());
  EXPECT_EQ(card.Transcript(), (std::vector<sdsim::Transfer>{{"write", 0x10, count, "data"}}));
  EXPECT_EQ(Stored(card, 0x10, count), buf);
  if (native) {
    // One sector more than the host takes in one command is refused here.
    EXPECT_EQ(Caught([&] { drive.Read(0x10, 1025, buf.data()); }), ReadFailure(true));
    EXPECT_EQ(card.TransferCount(), 1u);
    EXPECT_TRUE(drive.IsOpen());
  }
}

TEST_F(SimTest, UsbFailedCapacityRead) {
  sdsim::Card &card = Attach({false});
  CUsbDrive drive(Wide(card.Node()), false);
  card.SetFault(sdsim::FaultKind::FailTransfer, 0);
  EXPECT_EQ(Caught([&] { drive.ReadCapacity(); }),
            (Failure{4608, L"[Error] : Cannot read USB disk size."}));
  EXPECT_TRUE(drive.IsOpen());
  EXPECT_EQ(drive.ReadCapacity(), 0x40000u);
}

TEST_F(SimTest, UsbWaitForDiskReadyAttempts) {
  struct Case {
    unsigned int time;
    bool ready;
    uint64_t attempts;
  };
  const Case cases[] = {{0, true, 1},  {12, true, 1}, {0, false, 1},
                        {4, false, 1}, {5, false, 2}, {12, false, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.time) + (c.ready ? " ready" : " not ready"));
    sdsim::Card &card = Attach({false});
    CUsbDrive drive(Wide(card.Node()), false);
    if (!c.ready)
      card.SetFault(sdsim::FaultKind::FailTransfer, 0, 0);
    const Failure got = Caught([&] { drive.WaitForDiskReady(c.time); });
    const Failure want =
        c.ready ? Failure{0, L"<no error>"} : Failure{4108, L"[Error] : Disk is not ready."};
    EXPECT_EQ(got, want);
    EXPECT_EQ(card.TransferCount(), c.attempts);
    if (c.ready) {
      const auto seen = card.Transcript();
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].what, "test unit ready");
    }
    sdsim::DetachAll();
  }
}

TEST_F(SimTest, UsbTraceLinesOnlyWhenSwitchedOn) {
  char path[] = "/tmp/sdsmart_trace_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_NE(fd, -1);
  close(fd);
  sdsim::Card &card = Attach({false});
  std::vector<unsigned char> buf(512);
  g_tracer.open(path);
  CUsbDrive quiet(Wide(card.Node()), false); // switched off: nothing written
  quiet.ReadCapacity();
  trace_on = true;
  {
    CUsbDrive drive(Wide(card.Node()), false);
    const int handle = drive.GetHandle();
    drive.ReadCapacity();
    drive.ReadSector(0, 1, buf.data());
    card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount());
    EXPECT_THROW(drive.ReadCapacity(), CError);
    EXPECT_THROW(drive.Open(L"/no/such/sdz"), CError);
    trace_on = false;
    g_tracer.close();
    std::wifstream in(path);
    std::wstringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), L"drive handle=" + std::to_wstring(handle) +
                              L"\n\r\n SCSI: Read Capacity\n\r\n SCSI: Status: Success\n"
                              L"\r\n SCSI: Status: Success\n"
                              L"\r\n SCSI: Read Capacity\ndrive handle=-1\n");
  }
  unlink(path);
}

TEST_F(SimTest, NativeDriveClosedByFailureReopensForTheNextTransfer) {
  sdsim::Card &card = Attach({true});
  CMmcDrive drive(Wide(card.Node()), false);
  std::vector<unsigned char> buf = Pattern(1, 3);
  card.SetFault(sdsim::FaultKind::FailTransfer, 0);
  EXPECT_EQ(Caught([&] { drive.ReadSector(0, 1, buf.data()); }), ReadFailure(true));
  EXPECT_FALSE(drive.IsOpen());
  // The clean-up write that follows a failure reaches the card.
  drive.WriteSector(0, 1, buf.data());
  EXPECT_TRUE(drive.IsOpen());
  EXPECT_EQ(Stored(card, 0, 1), buf);

  // A drive closed on purpose stays closed.
  drive.Close();
  const uint64_t before = card.TransferCount();
  EXPECT_EQ(Caught([&] { drive.WriteSector(0, 1, buf.data()); }), WriteFailure(true));
  EXPECT_FALSE(drive.IsOpen());
  EXPECT_EQ(card.TransferCount(), before);
}

TEST_F(SimTest, NativeReopenOfAVanishedCardFailsEachTime) {
  sdsim::Card &card = Attach({true});
  CMmcDrive drive(Wide(card.Node()), false);
  std::vector<unsigned char> buf(512);
  card.SetFault(sdsim::FaultKind::Vanish, 0);
  EXPECT_EQ(Caught([&] { drive.ReadSector(0, 1, buf.data()); }), ReadFailure(true));
  const Failure gone{4106, L"Drive not found, please detect again! " + Wide(kMmcNode)};
  EXPECT_EQ(Caught([&] { drive.WriteSector(0, 1, buf.data()); }), gone);
  EXPECT_EQ(Caught([&] { drive.WriteSector(0, 1, buf.data()); }), gone);
  EXPECT_FALSE(drive.IsOpen());
}

TEST_F(SimTest, NativeAddressingFollowsTheCardsCsd) {
  struct Case {
    bool byteAddressed;
    uint64_t sectors;
    uint32_t lba, count;
  };
  const Case cases[] = {{true, 0x3C0000, 7, 1},
                        {true, 0x3C0000, 0x1234, 3},
                        {true, 0x3C0000, 0x3BFFFF, 1},
                        {false, 0x3C0000, 7, 1},
                        {false, 0x02000000, 0x01FFFFF0, 16}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.byteAddressed) + " " + std::to_string(c.lba));
    sdsim::Card &card = Attach({true, c.sectors, c.byteAddressed});
    ASSERT_EQ(card.IsByteAddressed(), c.byteAddressed);
    CMmcDrive drive(Wide(card.Node()), false);
    EXPECT_EQ(drive.IsByteAddressed(), c.byteAddressed);
    std::vector<unsigned char> out = Pattern(c.count, 5);
    drive.WriteSector(c.lba, c.count, out.data());
    EXPECT_EQ(Stored(card, c.lba, c.count), out);
    std::vector<unsigned char> in(out.size());
    drive.ReadSector(c.lba, c.count, in.data());
    EXPECT_EQ(in, out);
    EXPECT_EQ(card.Transcript(), (std::vector<sdsim::Transfer>{{"write", c.lba, c.count, "data"},
                                                               {"read", c.lba, c.count, "data"}}));
    sdsim::DetachAll();
  }
}

TEST_F(SimTest, NativeByteAddressBeyond32BitsIsRefused) {
  sdsim::Card &card = Attach({true, 0x3C0000, true});
  CMmcDrive drive(Wide(card.Node()), false);
  std::vector<unsigned char> buf(512);
  EXPECT_EQ(Caught([&] { drive.ReadSector(0x800000, 1, buf.data()); }), ReadFailure(true));
  EXPECT_EQ(card.TransferCount(), 0u);
  EXPECT_TRUE(drive.IsOpen());
}

TEST_F(SimTest, NativeCardCommands) {
  for (int rca : {-1, 0x1234, 0x0001}) {
    SCOPED_TRACE(rca);
    sdsim::Card &card = Attach({true, 0x40000, false, rca});
    CMmcDrive drive(Wide(card.Node()), false);
    EXPECT_EQ(drive.GetRCA(), rca == -1 ? 0xAAAA : rca);
    unsigned int status = 0xDEADBEEF;
    ::testing::internal::CaptureStdout();
    drive.SendStatus(&status);
    drive.Stop_Transmission();
    drive.SetBlockCount(0x12345);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CMD13 Done \nSEND_STATUS response: 0x00000900 \nCMD12 Done \nCMD23 Done \n");
    EXPECT_EQ(status, 0x900u); // transfer state, ready for data
    const auto seen = card.Transcript();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].what, "status");
    EXPECT_EQ(seen[1].what, "stop");
    EXPECT_EQ(seen[2].what, "set block count");
    for (const auto &t : seen)
      EXPECT_EQ(t.op, "cmd");
    sdsim::DetachAll();
  }
}

TEST_P(BothTransports, CardCommandInterfaceForwardsToTheSelectedDrive) {
  const bool native = GetParam();
  const bool keepUsb = CNormalReaderIo::IsUsbDrive,
             keepFaster = CNormalReaderIo::FasterLBAReadWrite;
  sdsim::Card &card = Attach({native, 0x3B0000});
  AnyDrive drive(card);
  std::unique_ptr<CSdHostIo> io = native ? std::make_unique<CNormalReaderIo>(*drive.mmc)
                                         : std::make_unique<CNormalReaderIo>(*drive.usb);
  CNormalReaderIo::IsUsbDrive = !native;
  CNormalReaderIo::FasterLBAReadWrite = true;

  std::vector<unsigned char> buf = Pattern(2, 11);
  io->ReadSector(0, 1, buf.data());
  io->WriteSector(0, 1, buf.data());
  EXPECT_EQ(card.TransferCount(), 0u);
  EXPECT_EQ(buf, Pattern(2, 11));

  io->Cmd56Write(buf.data(), 1024); // one sector, at LBA 0
  io->Cmd24Write(0x40, buf.data() + 512);
  CNormalReaderIo::FasterLBAReadWrite = false;
  io->WriteSector(0x80, 2, buf.data());
  std::vector<unsigned char> in(1024);
  io->ReadSector(0x80, 2, in.data());
  EXPECT_EQ(in, buf);
  EXPECT_EQ(io->ReadCapacity(), native ? 1888u : 0x3B0000u);

  std::vector<sdsim::Transfer> seen = card.Transcript();
  if (!native && !seen.empty())
    seen.pop_back(); // the capacity command
  EXPECT_EQ(seen, (std::vector<sdsim::Transfer>{{"write", 0, 1, "data"},
                                                {"write", 0x40, 1, "data"},
                                                {"write", 0x80, 2, "data"},
                                                {"read", 0x80, 2, "data"}}));
  EXPECT_EQ(Stored(card, 0, 1), std::vector<unsigned char>(buf.begin(), buf.begin() + 512));
  EXPECT_EQ(Stored(card, 0x40, 1), std::vector<unsigned char>(buf.begin() + 512, buf.end()));

  // A failure passes through unchanged.
  card.SetFault(sdsim::FaultKind::ErrorStatus, card.TransferCount());
  EXPECT_EQ(Caught([&] { io->ReadSector(0, 1, in.data()); }), ReadFailure(native));
  CNormalReaderIo::IsUsbDrive = keepUsb;
  CNormalReaderIo::FasterLBAReadWrite = keepFaster;
}

TEST_P(BothTransports, OpenOfANodeThatIsNotAttached) {
  Attach({GetParam()});
  const std::wstring other = GetParam() ? L"/dev/mmcblk_missing" : L"/dev/sd_missing";
  const Failure missing{4106, L"Drive not found, please detect again! " + other};
  EXPECT_EQ(Caught([&] { CUsbDrive d(other, false); }), missing);
  EXPECT_EQ(Caught([&] { CMmcDrive d(other, false); }), missing);
}

INSTANTIATE_TEST_SUITE_P(Transport, BothTransports, ::testing::Bool(), TransportName);

TEST_F(SimTest, NativeEmptyRunSendsNothing) {
  // A multi-block command without a data phase would leave the card streaming.
  sdsim::Card &card = Attach({true});
  CMmcDrive drive(Wide(card.Node()), false);
  unsigned char buf[512] = {};
  drive.ReadSector(0, 0, buf);
  drive.WriteSector(0, 0, nullptr);
  EXPECT_EQ(card.TransferCount(), 0u);
  EXPECT_TRUE(drive.IsOpen());
}

TEST_F(SimTest, NativeCardCommandFailuresLeaveTheDriveOpen) {
  sdsim::Card &card = Attach({true});
  CMmcDrive drive(Wide(card.Node()), false);
  unsigned int status = 0xDEADBEEF;
  struct Case {
    const char *what;
    std::function<void()> call;
    std::wstring text;
  };
  const Case cases[] = {
      {"status", [&] { drive.SendStatus(&status); }, L"Send Status Error \n"},
      {"stop", [&] { drive.Stop_Transmission(); }, L"Stop Transmission Error \n"},
      {"block count", [&] { drive.SetBlockCount(1); }, L"Set Block Count Error \n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount());
    EXPECT_EQ(Caught(c.call), (Failure{-1, c.text}));
    EXPECT_TRUE(drive.IsOpen());
  }
  EXPECT_EQ(status, 0xDEADBEEFu);
  card.ClearFaults();
  EXPECT_NO_THROW(drive.SetBlockCount(1));
}
