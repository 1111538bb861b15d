#include "transport/mmc_drive.h"
#include "transport/normal_reader_io.h"
#include "transport/usb_drive.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Keeps the process-wide flags as they were before each test.
class ReaderIoFlags : public ::testing::Test {
protected:
  void SetUp() override {
    usb = CNormalReaderIo::IsUsbDrive;
    faster = CNormalReaderIo::FasterLBAReadWrite;
  }
  void TearDown() override {
    CNormalReaderIo::IsUsbDrive = usb;
    CNormalReaderIo::FasterLBAReadWrite = faster;
  }
  bool usb = true, faster = true;
};

int64_t CodeOf(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    return e.GetCode();
  }
  return 0;
}

} // namespace

TEST_F(ReaderIoFlags, StartValuesAndHostServices) {
  // Every test restores the flags, so these are the values the process began with.
  EXPECT_TRUE(CNormalReaderIo::IsUsbDrive);
  EXPECT_TRUE(CNormalReaderIo::FasterLBAReadWrite);

  CUsbDrive drive;
  CNormalReaderIo io(drive);
  CSdHostIo &host = io;
  EXPECT_EQ(io.GetUsbDrive(), &drive);
  EXPECT_EQ(host.MeasureSystemClockOfCard(1, 2, 3), 0);
  EXPECT_EQ(host.MeasureSystemClockOfCard(255, 255, 255), 0);
  EXPECT_EQ(host.WriteSpeedTest(0, 100, true, false), 0);
  EXPECT_EQ(host.WriteSpeedTest(0xFFFFFFFF, 0xFFFFFFFF, false, true), 0);
  std::vector<unsigned char> buf(512, 0x5A);
  host.Cmd56Read(buf.data(), 512);
  host.ExecCmd(56, 1);
  host.ExecCmd(56, 1, 512, buf.data());
  host.CmdDataIn(56, 1, 512, buf.data());
  host.CmdDataOut(56, 1, 512, buf.data());
  host.CmdSectorDataIn(18, 0, 1, buf.data(), true);
  host.CmdSectorDataOut(25, 0, 1, buf.data(), true);
  host.Reset();
  EXPECT_EQ(buf, std::vector<unsigned char>(512, 0x5A)); // nothing touched the buffer

  CMmcDrive mmc;
  EXPECT_EQ(CNormalReaderIo(mmc).GetUsbDrive(), nullptr);
}

TEST_F(ReaderIoFlags, FlagPicksTheDriveAndAMissingOneIsRefused) {
  CMmcDrive mmc;
  CNormalReaderIo io(mmc);
  std::vector<unsigned char> buf(512, 0);
  CNormalReaderIo::FasterLBAReadWrite = false;
  CNormalReaderIo::IsUsbDrive = false;
  EXPECT_EQ(CodeOf([&] { io.ReadCapacity(); }), -1); // the native drive's failure
  CNormalReaderIo::IsUsbDrive = true;                // disagrees with the constructor used
  for (auto call : std::vector<std::function<void()>>{
           [&] { io.ReadSector(0, 1, buf.data()); }, [&] { io.WriteSector(0, 1, buf.data()); },
           [&] { io.Cmd24Write(0, buf.data()); }, [&] { io.Cmd56Write(buf.data(), 512); },
           [&] { io.ReadCapacity(); }})
    EXPECT_EQ(CodeOf(call), 4106);
}
