#include "files.h"
#include "journal.h"

#include "smart/special_mode2_cmd.h"
#include "transport/usb_drive.h"
#include "util/bulk.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

class TempDir {
public:
  TempDir() {
    char tmpl[] = "/tmp/sdsmart-tools-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

Sector FromBulk(Bulk<unsigned char> &b) {
  Sector s{};
  for (unsigned i = 0; i < 512; ++i)
    s[i] = b[i];
  return s;
}

// The patterns the library itself writes must be recognised, for any entry
// string and either version.
TEST(SectorPatterns, LibraryPatternsAreRecognised) {
  for (const std::wstring entry : {L"ABCDEFGH", L"12345678", L"Zq9!x-_."}) {
    CUsbDrive closed; // never opened: nothing can reach a device
    CSpecialMode2Cmd channel(closed, entry);
    Bulk<unsigned char> buffer(512);
    channel.CreateMode2EnterPattern(buffer);
    EXPECT_EQ(ClassifySector(FromBulk(buffer)), SectorPattern::Enter);
    channel.CreateMode2LeavePattern(buffer);
    EXPECT_EQ(ClassifySector(FromBulk(buffer)), SectorPattern::Leave);
    // Version 3 adds the DE AD BE EF marker; the enter itself fails on the
    // closed drive after the version was taken.
    EXPECT_THROW(channel.EnterSpecialMode2(0, 3), CError);
    channel.CreateMode2EnterPattern(buffer);
    Sector v3 = FromBulk(buffer);
    EXPECT_EQ(v3[268], 0xDE);
    EXPECT_EQ(ClassifySector(v3), SectorPattern::Enter);
  }
}

TEST(SectorPatterns, OrdinarySectorsAreNotPatterns) {
  Sector zero{};
  // All zero has mirrored (zero) entry bytes but not the fixed groups.
  EXPECT_EQ(ClassifySector(zero), SectorPattern::None);
  Sector mbr{};
  mbr[446] = 0x80;
  mbr[450] = 0x0C;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  EXPECT_EQ(ClassifySector(mbr), SectorPattern::None);

  Sector enter{};
  const char *e = "ABCDEFGH";
  for (int i = 0; i < 8; ++i) {
    enter[static_cast<size_t>(i)] = static_cast<uint8_t>(e[i]);
    enter[static_cast<size_t>(255 - i)] = static_cast<uint8_t>(e[i]);
  }
  enter[256] = 2;
  enter[257] = 1;
  enter[510] = 1;
  enter[511] = 2;
  ASSERT_EQ(ClassifySector(enter), SectorPattern::Enter);
  Sector stray = enter;
  stray[100] = 1; // any other nonzero byte: not a pattern
  EXPECT_EQ(ClassifySector(stray), SectorPattern::None);
  Sector unmirrored = enter;
  unmirrored[248] = 'X';
  EXPECT_EQ(ClassifySector(unmirrored), SectorPattern::None);
  Sector bad_marker = enter;
  bad_marker[268] = 0xDE;
  EXPECT_EQ(ClassifySector(bad_marker), SectorPattern::None);
}

TEST(Journal, FileNamesAreFlatAndDistinct) {
  EXPECT_EQ(JournalFileName("/dev/sdb"), "sector0-dev_sdb.bin");
  EXPECT_EQ(JournalFileName("/dev/mmcblk0"), "sector0-dev_mmcblk0.bin");
  EXPECT_NE(JournalFileName("/dev/sdb"), JournalFileName("/dev/sdc"));
  EXPECT_EQ(JournalFileName("/dev/disk/by-id/usb-X:0").find('/'), std::string::npos);
}

TEST(Journal, SaveLoadRemove) {
  TempDir dir;
  Journal j(dir.path(), "/dev/sdz");
  EXPECT_FALSE(j.Exists());
  EXPECT_FALSE(j.Load().has_value());
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint8_t>(i * 7);
  j.Save(s);
  EXPECT_TRUE(j.Exists());
  struct stat st {};
  ASSERT_EQ(::stat(j.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 512);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(j.Load().has_value());
  EXPECT_EQ(*j.Load(), s);
  EXPECT_TRUE(j.Remove());
  EXPECT_FALSE(j.Exists());
  EXPECT_TRUE(j.Remove()); // already gone is fine
}

TEST(Journal, OneRunAtATimePerDevice) {
  TempDir dir;
  Journal first(dir.path(), "/dev/sdz"), second(dir.path(), "/dev/sdz"),
      other(dir.path(), "/dev/sdy");
  EXPECT_TRUE(first.Lock());
  EXPECT_FALSE(second.Lock());
  EXPECT_TRUE(other.Lock());
  {
    Journal released(dir.path(), "/dev/sdq");
    EXPECT_TRUE(released.Lock());
  }
  Journal again(dir.path(), "/dev/sdq");
  EXPECT_TRUE(again.Lock());
}

TEST(Journal, LinksShareTheJournalOfTheirNode) {
  TempDir dir;
  std::string node = dir.path() + "/node", link = dir.path() + "/by-id-link";
  WriteFileAtomically(node, "", 0600, false);
  ASSERT_EQ(::symlink(node.c_str(), link.c_str()), 0);
  EXPECT_EQ(Journal(dir.path(), link).Path(), Journal(dir.path(), node).Path());
  EXPECT_EQ(CanonicalDevice("/dev/no-such-node-here"), "/dev/no-such-node-here");
}

TEST(Journal, TruncatedCopyIsNotLoaded) {
  TempDir dir;
  Journal j(dir.path(), "/dev/sdz");
  WriteFileAtomically(j.Path(), std::string(100, 'x'), 0600, false);
  EXPECT_TRUE(j.Exists());
  EXPECT_FALSE(j.Load().has_value());
}

TEST(StateDir, OverrideIsCreatedOrRefused) {
  TempDir dir;
  std::string nested = dir.path() + "/a/b";
  EXPECT_EQ(ChooseStateDir(nested), nested);
  struct stat st {};
  EXPECT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_EQ(ChooseStateDir("/proc/self/no/such"), "");
}

TEST(Files, AtomicWriteReplacesAndLeavesNoTemporary) {
  TempDir dir;
  std::string path = dir.path() + "/m.prom";
  WriteFileAtomically(path, "one\n", 0644, true);
  WriteFileAtomically(path, "two\n", 0644, false);
  std::string data;
  ASSERT_TRUE(ReadWholeFile(path, data));
  EXPECT_EQ(data, "two\n");
  int entries = 0;
  DIR *d = ::opendir(dir.path().c_str());
  ASSERT_NE(d, nullptr);
  while (dirent *e = ::readdir(d))
    entries += e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.');
  ::closedir(d);
  EXPECT_EQ(entries, 1); // no temporary file left behind
  EXPECT_THROW(WriteFileAtomically(dir.path() + "/missing/x", "x", 0644, false),
               std::runtime_error);
  EXPECT_EQ(DirectoryOf("/a/b"), "/a");
  EXPECT_EQ(DirectoryOf("b"), ".");
  EXPECT_EQ(DirectoryOf("/b"), "/");
}

} // namespace
} // namespace sdsmart_tool
