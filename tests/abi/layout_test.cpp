// SPDX-License-Identifier: MIT
// Objects a host places in storage of the documented size: the library's
// constructors, members and destructors stay inside it.
#include "documented.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace {

template <typename T> struct Guarded {
  static constexpr unsigned char Fill = 0xA5;
  alignas(T) unsigned char object[sizeof(T)];
  unsigned char guard[64];
  Guarded() { std::memset(guard, Fill, sizeof guard); }
  bool Intact() const {
    for (unsigned char b : guard)
      if (b != Fill)
        return false;
    return true;
  }
};

} // namespace

// A failed transfer closes the drive and marks it for reopening; both flags
// must live inside the documented object.
TEST(HostLayouts, MmcDriveStaysInsideItsDocumentedSize) {
  Guarded<CMmcDrive> g;
  CMmcDrive *drive = new (g.object) CMmcDrive();
  drive->Open(L"/dev/null"); // a node without a card behind it
  unsigned char sector[512] = {};
  EXPECT_THROW(drive->ReadSector(0, 1, sector), CError);
  EXPECT_EQ(drive->GetHandle(), -1);
  EXPECT_THROW(drive->ReadSector(0, 1, sector), CError); // reopened first, refused again
  drive->~CMmcDrive();
  EXPECT_TRUE(g.Intact());
}

TEST(HostLayouts, SmartInfoReaderStaysInsideItsDocumentedSize) {
  CMmcDrive drive;
  std::wstring entry = L"ABCDEFGH", node = L"/dev/null-card";
  CSpecialMode2Cmd channel(drive, entry);
  bool terminated = false;
  unsigned char version = 3;
  Guarded<CSmartInfoReader> g;
  CSmartInfoReader *reader =
      new (g.object) CSmartInfoReader(channel, entry, node, terminated, version);
  reader->CheckUnFormatAndWriteProtected(); // sets the last members: nothing mounted
  EXPECT_EQ(reader->GetWPStatus(), 0);
  EXPECT_TRUE(reader->GetDetailEraseCount().empty());
  reader->~CSmartInfoReader();
  EXPECT_TRUE(g.Intact());
}
