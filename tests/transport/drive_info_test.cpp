#include "transport/drive_info.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(CDriveInfoTest, Captions) {
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
}

TEST(CDriveInfoTest, FlagsAndNames) {
  CDriveInfo info;
  EXPECT_FALSE(info.IsFormatted());
  EXPECT_FALSE(info.IsAvailable());
  EXPECT_FALSE(info.IsWriteProtected());
  EXPECT_EQ(info.SimpleDriveCaption(), L"         ");
  info.SetDriveName(L"K:");
  EXPECT_EQ(info.SimpleDriveCaption(), L"K:         ");
  info.fileSystemName = L"ntfs";
  EXPECT_FALSE(info.IsNTFS());
  info.fileSystemName = L"NTFS";
  EXPECT_TRUE(info.IsNTFS());
  info.available = true;
  info.writeProtected = true;
  EXPECT_TRUE(info.IsAvailable());
  EXPECT_TRUE(info.IsWriteProtected());
  CUsbDrive closed;
  EXPECT_TRUE(info.GetVolumnMounted(closed));
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
  try {
    CDiskVolumn missing(L"/no/such/disk");
    FAIL() << "no error";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), 4106);
    EXPECT_EQ(e.GetText(), L"Drive not found, please detect again! /no/such/disk");
  }
}
