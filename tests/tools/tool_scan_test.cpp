#include "files.h"
#include "scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

// A /sys look-alike: block devices as symlinks into a devices tree, as the
// kernel lays them out.
class FakeSys {
public:
  FakeSys() {
    char tmpl[] = "/tmp/sdsmart-sys-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    MakeDirectories(root_ + "/block", 0755);
  }
  ~FakeSys() { std::system(("rm -rf '" + root_ + "'").c_str()); }

  void Disk(const std::string &name, const std::string &bus_path, const std::string &removable,
            uint64_t sectors, const std::string &vendor, const std::string &model,
            bool mmc = false) {
    std::string dev = root_ + "/devices/" + bus_path + "/block/" + name;
    MakeDirectories(dev + "/device", 0755);
    WriteFileAtomically(dev + "/removable", removable + "\n", 0644, false);
    WriteFileAtomically(dev + "/size", std::to_string(sectors) + "\n", 0644, false);
    WriteFileAtomically(dev + "/device/" + (mmc ? "type" : "vendor"), vendor + "\n", 0644, false);
    WriteFileAtomically(dev + "/device/" + (mmc ? "name" : "model"), model + "  \n", 0644, false);
    std::string target = "../devices/" + bus_path + "/block/" + name;
    EXPECT_EQ(::symlink(target.c_str(), (root_ + "/block/" + name).c_str()), 0);
  }
  const std::string &root() const { return root_; }

private:
  std::string root_;
};

TEST(Scan, FindsUsbRemovableDisksAndMmcDisks) {
  FakeSys sys;
  sys.Disk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "0", 1000000, "ATA",
           "SSD");
  sys.Disk("sdb", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host1/target1:0:0/1:0:0:0", "1",
           62333952, "Generic", "STORAGE DEVICE");
  sys.Disk("sdc", "pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host2/target2:0:0/2:0:0:0", "0", 1000,
           "WD", "Disk");
  sys.Disk("mmcblk0", "platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa", "0", 15523840, "SD", "SC16G",
           true);
  sys.Disk("mmcblk0boot0", "platform/x/mmc_host/mmc0/mmc0:0001", "0", 8192, "MMC", "boot", true);
  sys.Disk("loop0", "virtual", "0", 10, "", "");
  std::vector<ScanEntry> found = ScanSysBlock(sys.root());
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].name, "/dev/mmcblk0");
  EXPECT_EQ(found[0].transport, "mmc");
  EXPECT_EQ(found[0].model, "SC16G");
  EXPECT_EQ(found[0].size_bytes, 15523840ull * 512);
  EXPECT_EQ(found[1].name, "/dev/sdb");
  EXPECT_EQ(found[1].transport, "usb");
  EXPECT_EQ(found[1].vendor, "Generic");
  EXPECT_EQ(found[1].model, "STORAGE DEVICE");
  EXPECT_EQ(found[1].Caption(),
            "/dev/sdb -d usb # USB card reader, Generic STORAGE DEVICE, 31.91 GB");
}

TEST(Scan, MissingSysfsGivesNothing) { EXPECT_TRUE(ScanSysBlock("/nonexistent-sys").empty()); }

TEST(Scan, ExplicitCandidatesAreProbed) {
  FakeSys sys;
  std::string node = sys.root() + "/fake-node";
  WriteFileAtomically(node, std::string(4096, '\0'), 0600, false);
  std::vector<std::string> errors;
  std::vector<ScanEntry> found = ProbeCandidates(
      {node, sys.root() + "/missing", sys.root() + "/nothing*"}, sys.root(), errors);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, node);
  EXPECT_EQ(found[0].transport, "usb");
  ASSERT_EQ(errors.size(), 1u); // the named node that does not exist; an unmatched glob is quiet
  EXPECT_NE(errors[0].find("missing"), std::string::npos);
}

TEST(Scan, NodesWithoutSysfsEntryAreProbed) {
  FakeSys sys;
  sys.Disk("sdb", "pci0000:00/usb2/2-1/host1/target1:0:0/1:0:0:0", "1", 1000, "Generic", "Reader");
  std::string dev = sys.root() + "/dev";
  ASSERT_TRUE(MakeDirectories(dev, 0755));
  for (const char *name : {"sdb", "sdx", "mmcblk7", "mmcblk7p1", "sdaa"})
    WriteFileAtomically(dev + "/" + name, "", 0600, false);
  std::vector<ScanEntry> found = ProbeUnlistedNodes(sys.root(), dev);
  ASSERT_EQ(found.size(),
            2u); // sdb is described by sysfs; partitions and other names are not probed
  EXPECT_EQ(found[0].name, dev + "/sdx");
  EXPECT_EQ(found[0].transport, "usb");
  EXPECT_EQ(found[1].name, dev + "/mmcblk7");
  EXPECT_EQ(found[1].transport, "mmc");
}

TEST(Scan, MergeKeepsOrderAndDropsRepeats) {
  ScanEntry a{"/dev/sdb", "usb", "", "", 0}, b{"/dev/mmcblk0", "mmc", "", "", 0};
  std::vector<ScanEntry> merged = Merge({a}, {b, a});
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[1].name, "/dev/mmcblk0");
}

} // namespace
} // namespace sdsmart_tool
