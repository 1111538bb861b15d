// build/bin/sdsim runs programs with cards attached, and the card library
// leaves every file and descriptor that is not a card's alone. The Probe
// tests run inside a program started by the launcher (this executable again,
// with SDSIM_PROBE set); on their own they skip.
#include "sim_test_util.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/wait.h>

using namespace simtest;

namespace {

std::string SelfPath() {
  char buf[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

std::string Launcher() {
  const std::string self = SelfPath();
  return self.substr(0, self.rfind('/')) + "/../bin/sdsim";
}

int RunShell(const std::string &command, std::string *out = nullptr) {
  FILE *p = ::popen(command.c_str(), "r");
  if (!p)
    return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (out)
      out->append(buf, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Probe(const std::string &options, const std::string &test) {
  return "SDSIM_PROBE=1 " + Launcher() + " " + options + " -- " + SelfPath() +
         " --gtest_filter=Probe." + test + " 2>&1";
}

// Ordinary files, pipes and descriptors behave as without the card library.
void CheckOrdinaryIo() {
  char path[] = "/tmp/sdsim-plain-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "hello card", 10), 10);
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  char buf[32] = {};
  ASSERT_EQ(::read(fd, buf, 10), 10);
  EXPECT_STREQ(buf, "hello card");
  ASSERT_EQ(::pwrite(fd, "HE", 2, 0), 2);
  ASSERT_EQ(::pread(fd, buf, 4, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "HEll");
  EXPECT_EQ(::fsync(fd), 0);
  const int copy = ::dup(fd);
  ASSERT_GE(copy, 0);
  ASSERT_EQ(::pread(copy, buf, 10, 0), 10);
  char link[4096] = {};
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  ASSERT_GT(::readlink(self.c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, path);
  EXPECT_EQ(::ioctl(fd, BLKGETSIZE64, buf), -1); // still a plain file
  ::close(copy);
  ::close(fd);
  FILE *f = std::fopen(path, "r");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(std::fgets(buf, sizeof buf, f), nullptr);
  EXPECT_STREQ(buf, "HEllo card");
  std::fclose(f);
  ::unlink(path);

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ASSERT_EQ(::write(pipe_fds[1], "xyz", 3), 3);
  int pending = 0;
  ASSERT_EQ(::ioctl(pipe_fds[0], FIONREAD, &pending), 0);
  EXPECT_EQ(pending, 3);
  ASSERT_EQ(::read(pipe_fds[0], buf, 3), 3);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  // Paths near the card's that are not the card's.
  EXPECT_LT(::open("/dev/sdx9", O_RDONLY), 0);
  EXPECT_LT(::readlink("/sys/class/block/nonesuch/device", link, sizeof link), 0);
}

TEST(PassThrough, OrdinaryFilesAndDescriptorsAreUntouched) {
  sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  CheckOrdinaryIo();
  EXPECT_EQ(sdsim::Find("/dev/sdx")->TransferCount(), 0u);
  sdsim::DetachAll();
  // Detached: the node is gone again.
  EXPECT_LT(::open("/dev/sdx", O_RDWR), 0);
}

TEST(Probe, WithTheLauncher) {
  if (!std::getenv("SDSIM_PROBE"))
    GTEST_SKIP() << "runs under build/bin/sdsim";
  sdsim::Card *card = sdsim::Find("/dev/sdx");
  ASSERT_NE(card, nullptr);
  CheckOrdinaryIo();
  Fd fd(OpenNode("/dev/sdx"));
  ASSERT_GE(fd.get(), 0);
  EXPECT_EQ(ScsiSector(fd.get(), 0)[510], 0x55);
  ScsiWriteOk(fd.get(), 0, 1, EnterPattern("SDSMTEST", false).data());
  EXPECT_TRUE(card->InSpecialMode());
  ScsiWriteOk(fd.get(), 0, 1, EnterPattern("SDSMTEST", false).data());
  ScsiWriteOk(fd.get(), 0, 1, LeavePattern("SDSMTEST").data());
  EXPECT_FALSE(card->InSpecialMode());
  // The mount point the launcher made exists.
  EXPECT_EQ(::access(card->MountPoint().c_str(), W_OK), 0);
  // A sector for the next process of the run to find.
  Sector mark{};
  std::memcpy(mark.data(), "shared!", 7);
  ScsiWriteOk(fd.get(), 200, 1, mark.data());
}

TEST(Probe, FirstTransferFails) {
  if (!std::getenv("SDSIM_PROBE"))
    GTEST_SKIP() << "runs under build/bin/sdsim";
  Fd fd(OpenNode("/dev/sdx"));
  Sector s{};
  ScsiResult r = Scsi(fd.get(), Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, EIO);
  ScsiReadOk(fd.get(), 0, 1, s.data());
}

TEST(Probe, WritesUntilKilled) {
  if (!std::getenv("SDSIM_PROBE"))
    GTEST_SKIP() << "runs under build/bin/sdsim";
  Fd fd(OpenNode("/dev/sdk"));
  Sector put{};
  put.fill(0x6B);
  ScsiWriteOk(fd.get(), 100, 1, put.data());
  ScsiWriteOk(fd.get(), 101, 1, put.data());
  ScsiWriteOk(fd.get(), 102, 1, put.data()); // transfer 2: never returns
  ADD_FAILURE() << "still alive";
}

TEST(Launcher, RunsAProgramAndWritesTheTranscript) {
  char path[] = "/tmp/sdsim-transcript-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::string out;
  EXPECT_EQ(RunShell(Probe("--transcript " + std::string(path), "WithTheLauncher"), &out), 0)
      << out;
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ::unlink(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0].find("\"what\":\"data\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"card\":\"/dev/sdx\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"what\":\"enter v2\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[3].find("\"what\":\"leave\""), std::string::npos) << lines[3];
  EXPECT_NE(lines[3].find("\"op\":\"write\""), std::string::npos);
}

TEST(Launcher, ProcessesOfOneRunShareTheCardsSectors) {
  if (::access("/usr/bin/head", X_OK) != 0)
    GTEST_SKIP() << "no head(1)";
  std::string out;
  const std::string both = "SDSIM_PROBE=1 " + Launcher() + " -- sh -c 'probe=$(" + SelfPath() +
                           " --gtest_filter=Probe.WithTheLauncher 2>&1) || "
                           "{ echo \"$probe\"; exit 1; }; "
                           "head -c 102407 /dev/sdx | tail -c 7'";
  EXPECT_EQ(RunShell(both, &out), 0) << out;
  EXPECT_EQ(out, "shared!");
}

TEST(Launcher, FaultOptionsReachTheCard) {
  std::string out;
  EXPECT_EQ(RunShell(Probe("--fail 0", "FirstTransferFails"), &out), 0) << out;
  EXPECT_EQ(RunShell(Probe("--fault fail@0", "FirstTransferFails"), &out), 0) << out;
  EXPECT_NE(RunShell(Probe("", "FirstTransferFails"), &out), 0);
}

TEST(Launcher, KillFaultKillsTheProgramAndTheImageSurvives) {
  char dir[] = "/tmp/sdsim-kill-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string card = std::string(dir) + "/card.json";
  std::ofstream(card) << R"({"node": "/dev/sdk", "capacity_sectors": 65536, "entry": "SDSMTEST",
                             "image": "card.img"})";
  std::string out;
  EXPECT_EQ(RunShell(Probe("--card " + card + " --kill 2", "WritesUntilKilled"), &out),
            128 + SIGKILL)
      << out;
  sdsim::Card &c = sdsim::AttachFile(card);
  EXPECT_EQ(c.ReadSector(101)[0], 0x6B);
  EXPECT_EQ(c.ReadSector(102)[0], 0x00);
  sdsim::DetachAll();
  ::unlink(card.c_str());
  ::unlink((std::string(dir) + "/card.img").c_str());
  ::rmdir(dir);
}

TEST(Launcher, UninstrumentedProgramsReadTheCard) {
  if (::access("/usr/bin/head", X_OK) != 0)
    GTEST_SKIP() << "no head(1)";
  std::string out;
  ASSERT_EQ(RunShell(Launcher() + " -- /usr/bin/head -c 512 /dev/sdx", &out), 0);
  ASSERT_EQ(out.size(), 512u);
  EXPECT_EQ(static_cast<unsigned char>(out[510]), 0x55);
  EXPECT_EQ(static_cast<unsigned char>(out[511]), 0xAA);
  out.clear();
  // mount(8) in a child process sees the card's file system too.
  ASSERT_EQ(RunShell(Launcher() + " -- sh -c 'mount | grep /dev/sdx1'", &out), 0);
  EXPECT_EQ(out.rfind("/dev/sdx1 on /tmp/sdsim-run-", 0), 0u) << out;
}

TEST(Launcher, TerminationReachesTheProgram) {
  const std::string launcher = Launcher();
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(launcher.c_str(), "sdsim", "--", "sleep", "30", static_cast<char *>(nullptr));
    std::_Exit(127);
  }
  ::usleep(300 * 1000);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)); // the launcher itself ends normally
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

TEST(Launcher, RefusesBadOptions) {
  EXPECT_EQ(RunShell(Launcher() + " --bogus 1 -- true 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(Launcher() + " --card /nonexistent.json -- true 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(Launcher() + " 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(Launcher() + " -- false"), 1);
  EXPECT_EQ(RunShell(Launcher() + " --fault explode@1 -- true 2>/dev/null"), 98);
}

} // namespace
