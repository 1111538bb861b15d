// SPDX-License-Identifier: MIT
// What no library test sees of the virtual card: the launcher build/bin/sdsim
// (its options and exit status), the faults as the kernel interface shows
// them, and that files and descriptors that are not a card's are left alone.
// The Probe tests run inside a program the launcher started (this executable
// again, with SDSIM_PROBE set); on their own they skip.
#include "sdsim/sdsim.h"
#include "sdsmart/unique_fd.h"
#include "support.h"

#include <linux/fs.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <csignal>
#include <cstring>
#include <regex>

using namespace sdtest;

namespace {

std::string SelfPath() {
  char buf[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

std::string LauncherPath() { return SelfPath().substr(0, SelfPath().rfind('/')) + "/../bin/sdsim"; }

// The launcher passes ASAN_OPTIONS on; without it, it turns leak checks off
// itself, so these runs do not depend on how the suite was started.
std::string Launcher() { return "env -u ASAN_OPTIONS " + LauncherPath(); }

std::string Probe(const std::string &options, const std::string &test) {
  return "SDSIM_PROBE=1 " + Launcher() + " " + options + " -- " + SelfPath() +
         " --gtest_filter=Probe." + test + " 2>&1";
}

// One READ(10)/WRITE(10) or CMD17/CMD24 as the kernel interface shows it.
struct Result {
  int rc = 0, err = 0;
  sg_io_hdr_t hdr{};
  unsigned char sense[32]{};
  mmc_ioc_cmd cmd{};
};

Result Transfer(int fd, bool native, bool write, std::uint32_t lba, void *data, unsigned blocks = 1,
                unsigned opcode = 0) {
  Result r;
  errno = 0;
  if (native) {
    r.cmd.opcode = opcode ? opcode : blocks > 1 ? (write ? 25 : 18) : (write ? 24 : 17);
    r.cmd.arg = lba;
    r.cmd.flags = write ? 0x5BD : 0x6BD;
    r.cmd.write_flag = write;
    r.cmd.blksz = 512;
    r.cmd.blocks = blocks;
    mmc_ioc_cmd_set_data(r.cmd, data);
    r.rc = ::ioctl(fd, MMC_IOC_CMD, &r.cmd);
  } else {
    unsigned char cdb[10] = {static_cast<unsigned char>(write ? 0x2A : 0x28)};
    PutBe32(cdb, 2, lba);
    PutBe16(cdb, 7, blocks);
    r.hdr.interface_id = 'S';
    r.hdr.dxfer_direction = write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    r.hdr.cmd_len = sizeof cdb;
    r.hdr.cmdp = cdb;
    r.hdr.mx_sb_len = sizeof r.sense;
    r.hdr.sbp = r.sense;
    r.hdr.dxfer_len = 512 * blocks;
    r.hdr.dxferp = data;
    r.rc = ::ioctl(fd, SG_IO, &r.hdr);
  }
  r.err = errno;
  return r;
}

// Ordinary files, pipes and descriptors behave as without the card library.
void CheckOrdinaryIo() {
  ScratchDir dir;
  const std::string path = dir.File("plain");
  CUniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd.IsOpen());
  char buf[32] = {};
  ASSERT_EQ(::write(fd.Get(), "hello card", 10), 10);
  ASSERT_EQ(::pwrite(fd.Get(), "HE", 2, 0), 2);
  ASSERT_EQ(::pread(fd.Get(), buf, 10, 0), 10);
  EXPECT_STREQ(buf, "HEllo card");
  EXPECT_EQ(::fsync(fd.Get()), 0);
  EXPECT_EQ(::ioctl(fd.Get(), BLKGETSIZE64, buf), -1); // still a plain file
  char link[4096] = {};
  ASSERT_GT(::readlink(("/proc/self/fd/" + std::to_string(fd.Get())).c_str(), link, 4095), 0);
  EXPECT_EQ(link, path);
  EXPECT_EQ(ReadFile(path), "HEllo card");
  int pipeFds[2], pending = 0;
  ASSERT_EQ(::pipe(pipeFds), 0);
  const CUniqueFd in(pipeFds[0]), out(pipeFds[1]);
  ASSERT_EQ(::write(out.Get(), "xyz", 3), 3);
  ASSERT_EQ(::ioctl(in.Get(), FIONREAD, &pending), 0);
  EXPECT_EQ(pending, 3);
  // Paths near the card's that are not the card's.
  EXPECT_LT(::open("/dev/sdx9", O_RDONLY), 0);
  EXPECT_LT(::readlink("/sys/class/block/nonesuch/device", link, sizeof link), 0);
}

TEST(PassThrough, OrdinaryFilesAndDescriptorsAreUntouched) {
  sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  CheckOrdinaryIo();
  EXPECT_EQ(sdsim::Find("/dev/sdx")->TransferCount(), 0u);
  sdsim::DetachAll();
  EXPECT_LT(::open("/dev/sdx", O_RDWR), 0); // detached: the node is gone again
}

// Each fault on both transports as the host sees it, and that it lasts one
// transfer: what the ioctl returns, the status, and what data moved.
TEST(Faults, EachKindAsTheKernelInterfaceShowsIt) {
  using K = sdsim::FaultKind;
  const std::uint32_t errorEcc = 1u << 19 | 1u << 21; // R1 ERROR, CARD_ECC_FAILED
  struct Case {
    K kind;
    bool native, write;
    int rc, err;
    unsigned status; // SCSI status, or the R1 error bits
    int resid;
    bool moved; // the data reached its destination
    const char *what;
  } const cases[] = {
      {K::FailTransfer, false, false, -1, EIO, 0, 0, false, "failed"},
      {K::FailTransfer, true, true, -1, EIO, 0, 0, false, "failed"},
      {K::ErrorStatus, false, true, 0, 0, 0x02, 512, false, "error status"},
      {K::ErrorStatus, true, false, 0, 0, errorEcc, 0, false, "error status"},
      {K::ShortTransfer, false, true, 0, 0, 0, 512, true, "data (short)"},
      {K::ShortTransfer, true, true, -1, EIO, 0, 0, true, "data (short)"},
      {K::ErrorStatusWithData, false, false, 0, 0, 0x02, 0, true, "data (error status)"},
      {K::ErrorStatusWithData, true, false, 0, 0, errorEcc, 0, true, "data (error status)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(sdsim::FaultName(c.kind)) + (c.native ? " native" : " usb"));
    sdsim::Card &card =
        sdsim::AttachFile(SDSIM_CARDS_DIR + std::string(c.native ? "/native.json" : "/usb.json"));
    CUniqueFd fd(::open(card.Node().c_str(), O_RDWR | O_CLOEXEC));
    Sector stored, data;
    stored.fill(0x11);
    card.WriteSector(20, stored.data());
    card.SetFault(c.kind, card.TransferCount());
    // Two sectors, so that a short transfer moves the first one only.
    std::vector<std::uint8_t> two(1024, 0x42);
    const unsigned blocks = c.kind == K::ShortTransfer ? 2 : 1;
    const Result r = Transfer(fd.Get(), c.native, c.write, 20, two.data(), blocks);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.err, c.err);
    if (r.rc == 0) {
      EXPECT_EQ(c.native ? r.cmd.response[0] & errorEcc : r.hdr.status, c.status);
      EXPECT_EQ(c.native ? 0 : r.hdr.resid, c.resid);
    }
    const bool arrived = c.write ? card.ReadSector(20)[0] == 0x42 : two[0] == 0x11;
    EXPECT_EQ(arrived, c.moved);
    EXPECT_EQ(card.Transcript().back().what, c.what);
    EXPECT_EQ(Transfer(fd.Get(), c.native, false, 20, data.data()).rc, 0); // the next one passes
    sdsim::DetachAll();
  }
  // A single-block command for two blocks is refused as the host refuses it.
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/native.json");
  CUniqueFd fd(::open(card.Node().c_str(), O_RDWR | O_CLOEXEC));
  std::vector<std::uint8_t> two(1024);
  const Result r = Transfer(fd.Get(), true, false, 0, two.data(), 2, 17);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, EINVAL);
  sdsim::DetachAll();
}

// Runs only in a program the launcher started.
class Probe : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("SDSIM_PROBE"))
      GTEST_SKIP() << "runs under build/bin/sdsim";
  }
};

TEST_F(Probe, FirstTransferFails) {
  CUniqueFd fd(::open("/dev/sdx", O_RDWR | O_CLOEXEC));
  Sector s{};
  EXPECT_EQ(Transfer(fd.Get(), false, false, 0, s.data()).err, EIO);
  EXPECT_EQ(Transfer(fd.Get(), false, false, 0, s.data()).rc, 0);
  EXPECT_EQ(s[510], 0x55);
}

TEST_F(Probe, WritesUntilKilled) {
  CUniqueFd fd(::open("/dev/sdk", O_RDWR | O_CLOEXEC));
  Sector put;
  put.fill(0x6B);
  for (std::uint32_t lba : {100, 101, 102}) // transfer 2 never returns
    ASSERT_EQ(Transfer(fd.Get(), false, true, lba, put.data()).rc, 0);
  ADD_FAILURE() << "still alive";
}

// Host-file steps 0, 1, 2 ... on the launcher's default card.
TEST_F(Probe, WritesTheHostFileUntilKilled) {
  const std::string path = sdsim::Find("/dev/sdx")->HostFilePath();
  CUniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_DIRECT | O_CLOEXEC, 0600));
  ASSERT_TRUE(file.IsOpen()) << std::strerror(errno);
  alignas(512) static std::uint8_t buf[512];
  for (int step = 0; step < 3; ++step) // step 2 never happens
    ASSERT_EQ(::pwrite(file.Get(), buf, 512, step * 512), 512);
  ADD_FAILURE() << "still alive";
}

TEST(Launcher, ExitStatusFollowsTheProgramAndTheOptions) {
  const std::pair<std::string, int> cases[] = {
      {Launcher() + " -- true", 0},
      {Launcher() + " -- false", 1},
      {Launcher() + " --bogus 1 -- true 2>/dev/null", 2},
      {Launcher() + " --card /nonexistent.json -- true 2>/dev/null", 2},
      {Launcher() + " 2>/dev/null", 2},
      {Launcher() + " --fault explode@1 -- true 2>/dev/null", 98},
      {Probe("--fail 0", "FirstTransferFails"), 0},
      {Probe("--fault fail@0", "FirstTransferFails"), 0},
      {Probe("", "FirstTransferFails"), 1},
      {Probe("--file-kill 2", "WritesTheHostFileUntilKilled"), 128 + SIGKILL},
  };
  for (const auto &[command, status] : cases) {
    std::string out;
    EXPECT_EQ(RunShell(command, &out), status) << command << "\n" << out;
  }
}

// A number the launcher cannot read whole is refused before the program
// runs, naming the option and the value; never read as a part of it, 0 or a
// wrapped-around -1.
TEST(Launcher, RefusesNumbersItCannotRead) {
  const std::pair<std::string, bool> cases[] = {
      {"--now abc", false},
      {"--now -5", false},
      {"--now ''", false},
      {"--now 99999999999999999999", false},
      {"--now 1700000000", true},
      {"--latency-us 1ms", false},
      {"--latency-us 1000001", false},
      {"--vanish ' 3'", false},
      {"--fail '3*2'", true},
      {"--error '3*x'", false},
      {"--fault fail@-1", false},
      {"--fault 'short@4*0'", true},
      {"--fault vanish", true},
  };
  for (const auto &[options, accepted] : cases) {
    std::string out;
    const int status = RunShell(Launcher() + " " + options + " -- echo ran 2>&1", &out);
    if (accepted) {
      EXPECT_EQ(status, 0) << options << "\n" << out;
      EXPECT_EQ(out, "ran\n") << options;
      continue;
    }
    EXPECT_EQ(status, 2) << options << "\n" << out;
    const std::string option = options.substr(0, options.find(' '));
    EXPECT_EQ(out.rfind("sdsim: " + option + " \"", 0), 0u) << options << "\n" << out;
    EXPECT_EQ(out.find("ran"), std::string::npos) << options;
  }
}

// A kill fault ends the program before the transfer; the card image keeps
// what came before, and the transcript is complete up to there.
TEST(Launcher, KillFaultKeepsTheImageAndTheTranscript) {
  ScratchDir dir;
  WriteFile(dir.File("card.json"), R"({"node": "/dev/sdk", "capacity_sectors": 65536,
                                       "entry": "SDSMTEST", "image": "card.img"})");
  std::string out;
  EXPECT_EQ(RunShell(Probe("--card " + dir.File("card.json") + " --transcript " +
                               dir.File("transcript") + " --kill 2",
                           "WritesUntilKilled"),
                     &out),
            128 + SIGKILL)
      << out;
  const std::regex pid(",\"pid\":[0-9]+");
  EXPECT_EQ(std::regex_replace(ReadFile(dir.File("transcript")), pid, ""),
            R"({"card":"/dev/sdk","count":1,"lba":100,"op":"write","what":"data"})"
            "\n"
            R"({"card":"/dev/sdk","count":1,"lba":101,"op":"write","what":"data"})"
            "\n");
  sdsim::Card &c = sdsim::AttachFile(dir.File("card.json"));
  EXPECT_EQ(c.ReadSector(101)[0], 0x6B);
  EXPECT_EQ(c.ReadSector(102)[0], 0x00);
  EXPECT_EQ(c.ReadSector(0)[510], 0x55); // a new image got the MBR, an existing one kept it
  sdsim::DetachAll();
}

} // namespace
