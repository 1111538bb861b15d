// Both drives against nodes that are not cards: a missing node, a closed
// drive and a regular file (the kernel refuses the card requests on it).
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>

namespace {

class TempFile {
public:
  TempFile() {
    char path[] = "/tmp/sdsmart_node_XXXXXX";
    const int fd = mkstemp(path);
    if (fd != -1)
      close(fd);
    name = path;
  }
  ~TempFile() { unlink(name.c_str()); }
  std::wstring Wide() const { return std::wstring(name.begin(), name.end()); }
  std::string name;
};

// Runs f and returns the CError it throws; fails the test when none is thrown.
CError Thrown(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    return e;
  }
  ADD_FAILURE() << "no error thrown";
  return CError(0u, L"<none>");
}

struct Expected {
  const char *what;
  std::function<void()> call;
  int64_t code;
  std::wstring text;
};

void CheckAll(const std::vector<Expected> &cases) {
  for (const Expected &c : cases) {
    SCOPED_TRACE(c.what);
    const CError e = Thrown(c.call);
    EXPECT_EQ(e.GetCode(), c.code);
    EXPECT_EQ(e.GetText(), c.text);
  }
}

} // namespace

TEST(DriveOpenTest, MissingNodeThrows4106AndStaysClosed) {
  const std::wstring node = L"/no/such/sdz";
  CUsbDrive usb;
  CMmcDrive mmc;
  CheckAll({
      {"usb", [&] { usb.Open(node); }, 4106, L"Drive not found, please detect again! " + node},
      {"mmc", [&] { mmc.Open(node); }, 4106, L"Drive not found, please detect again! " + node},
      {"usb ctor", [&] { CUsbDrive d(node, false); }, 4106,
       L"Drive not found, please detect again! " + node},
      {"mmc ctor", [&] { CMmcDrive d(node, false); }, 4106,
       L"Drive not found, please detect again! " + node},
  });
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_FALSE(mmc.IsOpen());
  EXPECT_EQ(usb.GetHandle(), -1);
  EXPECT_EQ(usb.GetDiskName(), node);
  EXPECT_EQ(mmc.GetDiskName(), node);
}

TEST(DriveOpenTest, ReOpenAfterCloseOpensTheSameNode) {
  TempFile file;
  CUsbDrive usb(file.Wide(), false);
  CMmcDrive mmc(file.Wide(), false);
  ASSERT_TRUE(usb.IsOpen());
  ASSERT_TRUE(mmc.IsOpen());
  usb.Close();
  mmc.Close();
  usb.Close(); // closing twice is harmless
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_FALSE(mmc.IsOpen());
  usb.ReOpen();
  mmc.ReOpen();
  EXPECT_TRUE(usb.IsOpen());
  EXPECT_TRUE(mmc.IsOpen());
  EXPECT_EQ(usb.GetDiskName(), file.Wide());
  char link[256] = {};
  ASSERT_GT(
      readlink(("/proc/self/fd/" + std::to_string(usb.GetHandle())).c_str(), link, sizeof link - 1),
      0);
  EXPECT_EQ(std::string(link), file.name);
}

TEST(UsbDriveTest, RefusedRequestsMapToTheirErrors) {
  TempFile file;
  CUsbDrive closed;
  CUsbDrive notScsi(file.Wide(), false);
  unsigned char buf[1024] = {};
  for (CUsbDrive *d : {&closed, &notScsi}) {
    SCOPED_TRACE(d->IsOpen() ? "regular file" : "closed");
    CheckAll({
        {"read", [&] { d->ReadSector(0, 1, buf); }, 4098, L"USB Transaction Error (0)"},
        {"write", [&] { d->WriteSector(0, 2, buf); }, 4098, L"USB Transaction Error (1)"},
        {"capacity", [&] { d->ReadCapacity(); }, 4608, L"[Error] : Cannot read USB disk size."},
        {"ready", [&] { d->WaitForDiskReady(12); }, 4108, L"[Error] : Disk is not ready."},
        {"too many", [&] { d->ReadSector(0, 0x10000, buf); }, 4098, L"USB Transaction Error (0)"},
        {"no buffer", [&] { d->WriteSector(0, 1, nullptr); }, 4098, L"USB Transaction Error (1)"},
    });
  }
  EXPECT_TRUE(notScsi.IsOpen()); // a failed transfer leaves the drive open
}

TEST(UsbDriveTest, GetScsiStatusReadsTheStatusByte) {
  unsigned char hdr[88] = {};
  EXPECT_FALSE(CUsbDrive().GetScsiStatus(hdr));
  for (unsigned char status : {0x02, 0x08, 0x18, 0x28}) {
    hdr[64] = status;
    EXPECT_TRUE(CUsbDrive().GetScsiStatus(hdr)) << int(status);
  }
  hdr[64] = 0;
  hdr[65] = hdr[63] = 0xFF; // neighbours are not the status
  EXPECT_FALSE(CUsbDrive().GetScsiStatus(hdr));
}

TEST(MmcDriveTest, RefusedRequestsMapToTheirErrors) {
  TempFile file;
  CMmcDrive drive(file.Wide(), false);
  unsigned char buf[512] = {};
  unsigned int status = 0x12345678;
  CheckAll({
      {"capacity", [&] { drive.ReadCapacity(); }, -1, L"Read Capacity Fail!!"},
      {"status", [&] { drive.SendStatus(&status); }, -1, L"Send Status Error \n"},
      {"stop", [&] { drive.Stop_Transmission(); }, -1, L"Stop Transmission Error \n"},
      {"block count", [&] { drive.SetBlockCount(8); }, -1, L"Set Block Count Error \n"},
      {"no buffer", [&] { drive.ReadSector(0, 1, nullptr); }, -1, L"ReadWriteSector error!!"},
      {"too long", [&] { drive.WriteSector(0, 0x800000, buf); }, -1, L"ReadWriteSector error!!"},
  });
  EXPECT_EQ(status, 0x12345678u);
  EXPECT_TRUE(drive.IsOpen());   // none of these closes the drive
  EXPECT_EQ(drive.GetRCA(), -1); // a regular file has no card device
  drive.WaitForDiskReady(100000);
  EXPECT_TRUE(drive.IsOpen());

  CheckAll({{"read", [&] { drive.ReadSector(0, 1, buf); }, -1, L"ReadWriteSector error!!"}});
  EXPECT_FALSE(drive.IsOpen()); // a failed transfer closes the drive
  EXPECT_EQ(drive.GetRCA(), -1);
}
