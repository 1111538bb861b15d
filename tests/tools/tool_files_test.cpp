// What the tool keeps on disk and reads from it: the sector-0 journal and the
// special-mode patterns it watches for, atomic file writes, the scrambled
// configuration, and the sysfs scan.
#include "config_codec.h"
#include "files.h"
#include "journal.h"
#include "scan.h"

#include "smart/special_mode2_cmd.h"
#include "transport/usb_drive.h"
#include "util/bulk.h"
#include "util/convert.h"
#include "util/error.h"
#include "util/ini_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

class TempDir : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sdsmart-tools-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // A /sys look-alike: block devices as symlinks into a devices tree, as the
  // kernel lays them out.
  void Disk(const std::string &name, const std::string &bus_path, const std::string &removable,
            uint64_t sectors, const std::string &vendor, const std::string &model,
            bool mmc = false) {
    std::string dev = dir_ + "/devices/" + bus_path + "/block/" + name;
    MakeDirectories(dev + "/device", 0755);
    MakeDirectories(dir_ + "/block", 0755);
    WriteFileAtomically(dev + "/removable", removable + "\n", 0644, false);
    WriteFileAtomically(dev + "/size", std::to_string(sectors) + "\n", 0644, false);
    WriteFileAtomically(dev + "/device/" + (mmc ? "type" : "vendor"), vendor + "\n", 0644, false);
    WriteFileAtomically(dev + "/device/" + (mmc ? "name" : "model"), model + "  \n", 0644, false);
    std::string target = "../devices/" + bus_path + "/block/" + name;
    EXPECT_EQ(::symlink(target.c_str(), (dir_ + "/block/" + name).c_str()), 0);
  }
  std::string dir_;
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
  Sector enter{};
  for (int i = 0; i < 8; ++i)
    enter[static_cast<size_t>(i)] = enter[static_cast<size_t>(255 - i)] = "ABCDEFGH"[i];
  enter[256] = 2;
  enter[257] = 1;
  enter[510] = 1;
  enter[511] = 2;
  ASSERT_EQ(ClassifySector(enter), SectorPattern::Enter);
  Sector zero{}, mbr{};
  mbr[446] = 0x80;
  mbr[450] = 0x0C;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  // All zero has mirrored (zero) entry bytes but not the fixed groups; any
  // stray byte, an unmirrored entry byte or half a marker spoils a pattern.
  std::vector<Sector> ordinary{zero, mbr, enter, enter, enter};
  ordinary[2][100] = 1;
  ordinary[3][248] = 'X';
  ordinary[4][268] = 0xDE;
  for (const Sector &s : ordinary)
    EXPECT_EQ(ClassifySector(s), SectorPattern::None);
}

TEST_F(TempDir, JournalSaveLoadRemove) {
  EXPECT_EQ(JournalFileName("/dev/sdb"), "sector0-dev_sdb.bin");
  EXPECT_EQ(JournalFileName("/dev/mmcblk0"), "sector0-dev_mmcblk0.bin");
  EXPECT_EQ(JournalFileName("/dev/disk/by-id/usb-X:0").find('/'), std::string::npos);
  Journal j(dir_, "/dev/sdz");
  EXPECT_FALSE(j.Exists());
  EXPECT_FALSE(j.Load().has_value());
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint8_t>(i * 7);
  j.Save(s);
  struct stat st {};
  ASSERT_EQ(::stat(j.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(j.Load(), s);
  EXPECT_TRUE(j.Remove());
  EXPECT_FALSE(j.Exists());
  EXPECT_TRUE(j.Remove()); // already gone is fine
  // A truncated copy is never written back.
  WriteFileAtomically(j.Path(), std::string(100, 'x'), 0600, false);
  EXPECT_TRUE(j.Exists());
  EXPECT_FALSE(j.Load().has_value());
}

TEST_F(TempDir, OneRunAtATimePerDevice) {
  Journal first(dir_, "/dev/sdz"), second(dir_, "/dev/sdz"), other(dir_, "/dev/sdy");
  EXPECT_TRUE(first.Lock());
  EXPECT_FALSE(second.Lock());
  EXPECT_TRUE(other.Lock());
  { EXPECT_TRUE(Journal(dir_, "/dev/sdq").Lock()); }
  EXPECT_TRUE(Journal(dir_, "/dev/sdq").Lock()); // released with its object
}

TEST_F(TempDir, LinksShareTheJournalOfTheirNode) {
  std::string node = dir_ + "/node", link = dir_ + "/by-id-link";
  WriteFileAtomically(node, "", 0600, false);
  ASSERT_EQ(::symlink(node.c_str(), link.c_str()), 0);
  EXPECT_EQ(Journal(dir_, link).Path(), Journal(dir_, node).Path());
  EXPECT_EQ(CanonicalDevice("/dev/no-such-node-here"), "/dev/no-such-node-here");
}

TEST_F(TempDir, StateDirAndAtomicWrites) {
  std::string nested = dir_ + "/a/b";
  EXPECT_EQ(ChooseStateDir(nested), nested);
  EXPECT_EQ(::access(nested.c_str(), W_OK), 0);
  EXPECT_EQ(ChooseStateDir("/proc/self/no/such"), "");
  std::string path = dir_ + "/m.prom", data;
  WriteFileAtomically(path, "one\n", 0644, true);
  WriteFileAtomically(path, "two\n", 0644, false);
  ASSERT_TRUE(ReadWholeFile(path, data));
  EXPECT_EQ(data, "two\n");
  EXPECT_THROW(WriteFileAtomically(dir_ + "/missing/x", "x", 0644, false), std::runtime_error);
}

const char kPlain[] =
    "// demo\r\n[Authorization]\r\nVendor ID = 7;\r\n[SMART Entry]\r\n7 = \"ABCDEFGH\";\r\n"
    "[Version]\r\nSMART Version Support = 2;\r\n";

TEST_F(TempDir, ConfigEncodedFileLoadsInTheLibraryAndDecodes) {
  std::string stored = EncodeConfig(kPlain), plain, why;
  EXPECT_EQ(stored.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(stored.size(), 2 + 2 * (sizeof kPlain - 1));
  EXPECT_EQ(stored.find("Authorization"), std::string::npos); // scrambled, not plain UTF-16
  WriteFileAtomically(dir_ + "/config", stored, 0600, false);
  CIniFile ini(kConfigFileSeed, ToWideString(dir_ + "/config"), CIniFile::ModeLoad);
  EXPECT_EQ(ini.ReadInteger(L"Authorization", L"Vendor ID"), 7);
  EXPECT_EQ(ini.ReadString(L"SMART Entry", L"7"), L"ABCDEFGH");
  ASSERT_TRUE(DecodeConfig(stored, plain, why)) << why;
  EXPECT_EQ(plain, kPlain);
  // Bare line feeds are stored as CR LF, the byte-order mark is dropped,
  // non-ASCII text survives.
  ASSERT_TRUE(DecodeConfig(EncodeConfig("\xEF\xBB\xBF[A]\nk = caf\xC3\xA9 \xF0\x9F\x98\x80;\n"),
                           plain, why));
  EXPECT_EQ(plain, "[A]\r\nk = caf\xC3\xA9 \xF0\x9F\x98\x80;\r\n");
  EXPECT_FALSE(DecodeConfig("[A]\r\n", plain, why));
  EXPECT_NE(why.find("FF FE"), std::string::npos);
  EXPECT_FALSE(DecodeConfig(std::string("\xFF\xFE\x41", 3), plain, why));
  EXPECT_FALSE(DecodeConfig("", plain, why));
}

TEST_F(TempDir, ScanFindsUsbRemovableDisksAndMmcDisks) {
  EXPECT_TRUE(ScanSysBlock(dir_).empty());
  Disk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "0", 1000000, "ATA", "SSD");
  Disk("sdb", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host1/target1:0:0/1:0:0:0", "1", 62333952,
       "Generic", "STORAGE DEVICE");
  Disk("sdc", "pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host2/target2:0:0/2:0:0:0", "0", 1000, "WD",
       "Disk");
  Disk("mmcblk0", "platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa", "0", 15523840, "SD", "SC16G",
       true);
  Disk("mmcblk0boot0", "platform/x/mmc_host/mmc0/mmc0:0001", "0", 8192, "MMC", "boot", true);
  Disk("loop0", "virtual", "0", 10, "", "");
  std::vector<ScanEntry> found = ScanSysBlock(dir_);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Caption(), "/dev/mmcblk0 -d mmc # native SD host, SD SC16G, 7.95 GB");
  EXPECT_EQ(found[0].size_bytes, 15523840ull * 512);
  EXPECT_EQ(found[1].Caption(),
            "/dev/sdb -d usb # USB card reader, Generic STORAGE DEVICE, 31.91 GB");
}

TEST_F(TempDir, ScanNodesAndCandidatesAreProbed) {
  Disk("sdb", "pci0000:00/usb2/2-1/host1/target1:0:0/1:0:0:0", "1", 1000, "Generic", "Reader");
  std::string dev = dir_ + "/dev";
  ASSERT_TRUE(MakeDirectories(dev, 0755));
  for (const char *name : {"sdb", "sdx", "mmcblk7", "mmcblk7p1", "sdaa"})
    WriteFileAtomically(dev + "/" + name, std::string(4096, '\0'), 0600, false);
  // sdb is described by sysfs; partitions and other names are not probed.
  std::vector<ScanEntry> found = ProbeUnlistedNodes(dir_, dev);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].name + " " + found[0].transport, dev + "/sdx usb");
  EXPECT_EQ(found[1].name + " " + found[1].transport, dev + "/mmcblk7 mmc");
  std::vector<std::string> errors;
  found = ProbeCandidates({dev + "/sdx", dev + "/missing", dev + "/nothing*"}, dir_, errors);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, dev + "/sdx");
  ASSERT_EQ(errors.size(), 1u); // the named node that does not exist; an unmatched glob is quiet
  EXPECT_NE(errors[0].find("missing"), std::string::npos);
}

} // namespace
} // namespace sdsmart_tool
