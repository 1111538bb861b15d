// The plain records of the transport: the SCSI command block and its USB
// wrapper, and the drive descriptions for listings.
#include "transport/cbw_param.h"
#include "transport/drive_info.h"
#include "util/endian.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Of(const unsigned char *p, size_t n) { return Bytes(p, p + n); }

CCbwParam Cleared() {
  CCbwParam cmd;
  std::memset(static_cast<void *>(&cmd), 0xA5, sizeof cmd);
  cmd.Reset();
  return cmd;
}

} // namespace

TEST(CCbwParamTest, ResetThenSettersPlaceBytesInHostOrder) {
  CCbwParam cmd = Cleared();
  EXPECT_EQ(Of(cmd.GetCbd(), 15), Bytes(15, 0));
  EXPECT_EQ(cmd.GetTransLenInByte() | cmd.GetFlag() | cmd.GetLun() | cmd.GetCbdLen(), 0u);
  cmd.SetCbdLen(0x1000A); // only 16 bits are kept
  cmd.SetOpCode(0x2A, 0x08);
  cmd.SetLba(0x11223344);
  cmd.SetCount(0x12345); // upper bits lost
  cmd.SetArg(0x55667788);
  cmd.SetCbd(14, 0xEE);
  EXPECT_EQ(cmd.GetCbdLen(), 0x000A);

  unsigned int lba = 0x11223344, arg = 0x55667788;
  unsigned short count = 0x2345;
  Bytes expect(15, 0);
  expect[0] = 0x2A;
  expect[1] = 0x08;
  std::memcpy(&expect[2], &lba, 4);
  std::memcpy(&expect[7], &count, 2);
  std::memcpy(&expect[9], &arg, 4); // SetArg overlaps the count's second byte
  expect[14] = 0xEE;
  EXPECT_EQ(Of(cmd.GetCbd(), 15), expect);

  unsigned char out[16];
  std::memset(out, 0x77, sizeof out);
  cmd.GetCbd(out, 4);
  EXPECT_EQ(Of(out, 5), (Bytes{0x2A, 0x08, expect[2], expect[3], 0x77}));
}

TEST(CCbwParamTest, Read10BlockFromBigEndianFields) {
  CEndian endian;
  if (endian.IsBigEndian())
    GTEST_SKIP() << "the example is for a little-endian host";
  CCbwParam cmd = Cleared();
  cmd.SetOpCode(0x28, 0);
  cmd.SetLba(endian.SwapDWord(0x00012345));
  cmd.SetCount(endian.SwapWord(8));
  EXPECT_EQ(Of(cmd.GetCbd(), 10), (Bytes{0x28, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x08, 0}));
}

// One record through all cases: each wrapper is rebuilt from scratch, so the
// previous case's length and direction must not survive.
TEST(CCbwParamTest, CommandBlockWrapper) {
  struct Case {
    unsigned int len;
    bool in;
    unsigned char lun;
    unsigned int cbdLen;
    unsigned char lenLo, lenHi, flags;
  };
  const Case cases[] = {
      {0x00012345, true, 0, 10, 0x45, 0x23, 0x80},
      {512, false, 1, 6, 0x00, 0x02, 0x00},
      {0, true, 0, 0x10A, 0x00, 0x00, 0x80},
  };
  CCbwParam cmd = Cleared();
  for (unsigned int i = 0; i < 15; ++i)
    cmd.SetCbd(i, static_cast<unsigned char>(0xC0 + i));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.len);
    cmd.SetTransLenInByte(c.len);
    cmd.SetFlag(c.in);
    cmd.SetLun(c.lun);
    cmd.SetCbdLen(c.cbdLen);
    Bytes expect = {0x55, 0x53, 0x42,    0x43,    0x08,
                    0x90, 0xF1, 0x81,    c.lenLo, c.lenHi,
                    0,    0,    c.flags, c.lun,   static_cast<unsigned char>(c.cbdLen)};
    for (unsigned int i = 0; i < 12; ++i)
      expect.push_back(static_cast<unsigned char>(0xC0 + i));
    expect.insert(expect.end(), 4, 0);
    EXPECT_EQ(Of(cmd.GetCmdWrapper(), 31), expect);
  }
}

TEST(CDriveInfoTest, CaptionsAndFlags) {
  struct Case {
    const wchar_t *name;
    uint64_t size;
    bool f0, f1;
    const wchar_t *fs;
    const wchar_t *caption;
  };
  const Case cases[] = {
      {L"E:", 1ull << 30, true, true, L"FAT32", L"E:  1024 MB [FAT32] "},
      {L"F:", 512ull << 20, false, false, L"", L"F:  512 MB  [] "},
      {L"G:", (3ull << 20) + 1234, true, false, L"NTFS", L"G:  3 MB  [NTFS] "},
      {L"H:", 0, false, true, L"exFAT", L"H:  0 MB  [exFAT] "},
  };
  for (const Case &c : cases) {
    CDriveInfo info(c.name);
    info.size = c.size;
    info.formatted[0] = c.f0;
    info.formatted[1] = c.f1;
    info.fileSystemName = c.fs;
    EXPECT_EQ(info.IsFormatted(), c.f0 && c.f1);
    EXPECT_EQ(info.ToDriveCaption(), c.caption);
    EXPECT_EQ(info.SimpleDriveCaption(), std::wstring(c.name) + L"         ");
  }
  CDriveInfo info;
  EXPECT_FALSE(info.IsFormatted() || info.IsAvailable() || info.IsWriteProtected());
  info.fileSystemName = L"ntfs";
  EXPECT_FALSE(info.IsNTFS());
  info.fileSystemName = L"NTFS";
  EXPECT_TRUE(info.IsNTFS());
}

TEST(CDiskVolumnTest, OpensItsDriveAndTracksMounted) {
  char path[] = "/tmp/sdsmart_volume_XXXXXX";
  const int tmp = mkstemp(path);
  ASSERT_NE(tmp, -1);
  close(tmp);
  const std::wstring name(path, path + sizeof path - 1);
  {
    CDiskVolumn volume(name);
    EXPECT_TRUE(volume.IsDriveOpen());
    EXPECT_EQ(volume.GetUsbDrive().GetDiskName(), name);
    EXPECT_FALSE(volume.IsVolumnMounted());
    volume.Refresh();
    EXPECT_TRUE(volume.IsVolumnMounted());
  }
  unlink(path);
  EXPECT_THROW(CDiskVolumn(L"/no/such/disk"), CError);
}
