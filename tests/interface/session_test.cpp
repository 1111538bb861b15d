// SPDX-License-Identifier: MIT
// Set-up entry points, the exported boundary and the error report.
#include "session.h"

#include "interface/boundary.h"

#include <cstring>
#include <memory>

using namespace sdtest;

namespace {

class SetUpTest : public SessionTest {
protected:
  // Runs from a scratch directory (no configuration unless a test writes one).
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
  }
  ScratchDir dir;
  CwdGuard cwd;
};

TEST_F(SetUpTest, VersionZeroAndOneAreRefusedBeforeTheCard) {
  _DiskName = "/nonexistent/node";
  for (unsigned char version : {0, 1}) {
    SetSmartVersion(version);
    EXPECT_EQ(_SmartVerSupport, version);
    ExpectRunFails(12290, "Unsupported SMART Version");
    EXPECT_EQ(_UsbDrive, nullptr); // nothing was built for the node
    EXPECT_EQ(_MmcDrive, nullptr);
  }
}

TEST_F(SetUpTest, NodeThatCannotBeOpenedReplacesThePreviousError) {
  _Error = CError(12345u, L"earlier");
  for (const char *node : {"/nonexistent/sdsmart-node", "/dev/mmcblk-sdsmart-absent"}) {
    _DiskName = node;
    _IsUsbDevice = std::strncmp(node, "/dev/mmcblk", 11) == 0 ? 0 : 1;
    ExpectRunFails(4106, std::string("Drive not found, please detect again! ") + node);
  }
}

TEST_F(SetUpTest, NodeNameSelectsTheTransportAndIsNotReadPastItsEnd) {
  const struct {
    const char *name;
    unsigned char usb;
  } cases[] = {{"/dev/mmcblk0", 0},
               {"/dev/mmcblk12", 0},
               {"/dev/mmcblk", 0},
               {"/dev/mmcblk0p1", 0},
               {"/dev/sdb", 1},
               {"/dev/mmc", 1},
               {"", 1},
               {"/", 1},
               {"mmcblk0", 1},
               {"/dev/MMCBLK0", 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // Each name sits at the very end of its own allocation: a prefix test
    // that reads past the terminating zero is seen by ASan.
    std::unique_ptr<char[]> exact(new char[std::strlen(c.name) + 1]);
    std::strcpy(exact.get(), c.name);
    _IsUsbDevice = c.usb ? 0 : 1;
    // No configuration here: the load fails, the name and transport are set.
    ExpectFailed(SetDiskName(exact.get()), 16384, "config file not exist.");
    EXPECT_EQ(_DiskName, c.name);
    EXPECT_EQ(_IsUsbDevice, c.usb);
  }
}

TEST_F(SetUpTest, NullArgumentsAreRefused) {
  _DiskName = "/dev/sdz";
  _ConfigPath = "/some/config";
  for (int (*set)(const char *) : {SetDiskName, SetConfigPath}) {
    _Error = CError();
    ExpectFailed(set(nullptr), 65534, "Unknown Error");
  }
  EXPECT_EQ(_DiskName, "/dev/sdz");
  EXPECT_EQ(_ConfigPath, "/some/config");
}

TEST_F(SetUpTest, WorkingDirectoryLongerThanAnyFixedBufferIsReadWhole) {
  const std::string part(120, 'd');
  std::string deep = dir.path;
  for (int i = 0; i < 12; ++i) { // well past 1024 bytes
    ASSERT_EQ(mkdir(part.c_str(), 0700), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
    deep += "/" + part;
  }
  WriteConfig("config", {{L"Authorization", {{L"Vendor ID", L"9"}}}});
  _Error = CError(12290u, L"Unsupported SMART Version");
  EXPECT_EQ(SetDiskName("/dev/sdb"), 0);
  EXPECT_EQ(_AppExePath, std::wstring(deep.begin(), deep.end()));
  EXPECT_EQ(_AuthorCode, 9);
  EXPECT_EQ(GetErrorCode(), 12290); // success leaves the last error alone
}

TEST_F(SessionTest, BoundaryKeepsLibraryErrorsWholeAndNamesOthersUnknown) {
  EXPECT_EQ(RunAtBoundary([] {}), 0);
  EXPECT_EQ(GetErrorCode(), -1);

  ExpectFailed(RunAtBoundary([] { throw CBufferSizeError("SpecialMode2Cmd", 289, 512); }), 45056,
               "[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 289");
  ExpectFailed(RunAtBoundary([] { throw std::runtime_error("not ours"); }), 65534, "Unknown Error");
  ExpectFailed(RunAtBoundary([] { throw 7; }), 65534, "Unknown Error");
}

} // namespace
