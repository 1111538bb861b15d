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
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace simtest;

namespace {

std::string SelfPath() {
  char buf[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

std::string LauncherPath() {
  const std::string self = SelfPath();
  return self.substr(0, self.rfind('/')) + "/../bin/sdsim";
}

// The launcher as a user starts it. `make test` runs the suite with
// ASAN_OPTIONS=detect_leaks=1, which the launcher would pass on to every
// program it starts; uninstrumented tools then get leak checks at exit, and
// tail(1), which leaves memory to the exit and closes stderr first, ends
// with status 1 and no message. Without ASAN_OPTIONS the launcher turns leak
// checks off itself, so these runs do not depend on how the suite was started.
std::string Launcher() { return "env -u ASAN_OPTIONS " + LauncherPath(); }

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

// Runs only in a program the launcher started.
class Probe : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("SDSIM_PROBE"))
      GTEST_SKIP() << "runs under build/bin/sdsim";
  }
};

TEST_F(Probe, WithTheLauncher) {
  sdsim::Card *card = sdsim::Find("/dev/sdx");
  ASSERT_NE(card, nullptr);
  CheckOrdinaryIo();
  Fd fd(OpenNode("/dev/sdx"));
  ASSERT_GE(fd.get(), 0);
  Sector s{};
  ScsiOk(fd.get(), false, 0, 1, s.data());
  EXPECT_EQ(s[510], 0x55);
  ScsiOk(fd.get(), true, 0, 1, EnterPattern("SDSMTEST", false).data());
  EXPECT_TRUE(card->InSpecialMode());
  ScsiOk(fd.get(), true, 0, 1, EnterPattern("SDSMTEST", false).data());
  ScsiOk(fd.get(), true, 0, 1, LeavePattern("SDSMTEST").data());
  EXPECT_FALSE(card->InSpecialMode());
  // The mount point the launcher made exists.
  EXPECT_EQ(::access(card->MountPoint().c_str(), W_OK), 0);
  // A sector for the next process of the run to find.
  s.fill(0);
  std::memcpy(s.data(), "shared!", 7);
  ScsiOk(fd.get(), true, 200, 1, s.data());
}

TEST_F(Probe, FirstTransferFails) {
  Fd fd(OpenNode("/dev/sdx"));
  Sector s{};
  const Result r = Scsi(fd.get(), Rw10(0x28, 0, 1), SG_DXFER_FROM_DEV, s.data(), 512);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, EIO);
  ScsiOk(fd.get(), false, 0, 1, s.data());
}

TEST_F(Probe, WritesUntilKilled) {
  Fd fd(OpenNode("/dev/sdk"));
  Sector put{};
  put.fill(0x6B);
  for (std::uint32_t lba : {100, 101, 102}) // transfer 2 never returns
    ScsiOk(fd.get(), true, lba, 1, put.data());
  ADD_FAILURE() << "still alive";
}

// Host-file steps 0, 1, 2 ... on the launcher's default card.
TEST_F(Probe, WritesTheHostFileUntilKilled) {
  sdsim::Card *card = sdsim::Find("/dev/sdx");
  ASSERT_NE(card, nullptr);
  Fd file(::open(card->HostFilePath().c_str(), O_RDWR | O_CREAT | O_DIRECT | O_CLOEXEC, 0600));
  ASSERT_GE(file.get(), 0) << std::strerror(errno);
  alignas(512) static std::uint8_t buf[512];
  for (int step = 0; step < 3; ++step) // step 2 never happens
    ASSERT_EQ(::pwrite(file.get(), buf, 512, step * 512), 512);
  ADD_FAILURE() << "still alive";
}

// The ASan options the program got, as one line.
TEST_F(Probe, PrintsAsanOptions) {
  const char *opts = std::getenv("ASAN_OPTIONS");
  std::printf("ASAN_OPTIONS=%s\n", opts ? opts : "");
}

TEST(Launcher, RunsAProgramAndWritesTheTranscript) {
  char path[] = "/tmp/sdsim-transcript-XXXXXX";
  ::close(::mkstemp(path));
  std::string out;
  EXPECT_EQ(RunShell(Probe("--transcript " + std::string(path), "WithTheLauncher"), &out), 0)
      << out;
  std::ifstream in(path);
  std::vector<std::string> lines;
  const std::regex pid("\"pid\":[0-9]+");
  for (std::string line; std::getline(in, line);)
    lines.push_back(std::regex_replace(line, pid, "\"pid\":P"));
  ::unlink(path);
  std::vector<std::string> expect;
  for (const char *t :
       {"read\",\"pid\":P,\"what\":\"data", "write\",\"pid\":P,\"what\":\"enter v2",
        "write\",\"pid\":P,\"what\":\"enter v2", "write\",\"pid\":P,\"what\":\"leave"})
    expect.push_back(std::string(R"({"card":"/dev/sdx","count":1,"lba":0,"op":")") + t + "\"}");
  expect.push_back(R"({"card":"/dev/sdx","count":1,"lba":200,"op":"write","pid":P,"what":"data"})");
  // The probe closes its descriptor with the leave pattern still in sector 0.
  expect.push_back(
      R"({"card":"/dev/sdx","op":"close","pid":P,"what":"close writable unlocked pattern"})");
  EXPECT_EQ(lines, expect);
}

// The probe writes a sector; uninstrumented tools started after it in the
// same run read it back through the node, and mount(8) in a child sees the
// card's file system.
TEST(Launcher, ProcessesOfOneRunShareTheCardsSectors) {
  if (::access("/usr/bin/head", X_OK) != 0)
    GTEST_SKIP() << "no head(1)";
  std::string out;
  const std::string run = "SDSIM_PROBE=1 " + Launcher() + " -- sh -c 'probe=$(" + SelfPath() +
                          " --gtest_filter=Probe.WithTheLauncher 2>&1) || "
                          "{ echo \"$probe\"; exit 1; }; "
                          "head -c 102407 /dev/sdx | tail -c 7 && mount | grep /dev/sdx1'";
  EXPECT_EQ(RunShell(run, &out), 0) << out;
  EXPECT_EQ(out.rfind("shared!/dev/sdx1 on /tmp/sdsim-run-", 0), 0u) << out;
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
  EXPECT_EQ(c.ReadSector(0)[510], 0x55); // a new image got the MBR, an existing one kept it
  sdsim::DetachAll();
  ::unlink(card.c_str());
  ::unlink((std::string(dir) + "/card.img").c_str());
  ::rmdir(dir);
}

TEST(Launcher, FileKillFaultKillsTheProgramBeforeTheStep) {
  for (const char *option : {"--file-kill 2", "--fault file-kill@2"}) {
    SCOPED_TRACE(option);
    char path[] = "/tmp/sdsim-transcript-XXXXXX";
    ::close(::mkstemp(path));
    std::string out;
    EXPECT_EQ(RunShell(Probe("--transcript " + std::string(path) + " " + option,
                             "WritesTheHostFileUntilKilled"),
                       &out),
              128 + SIGKILL)
        << out;
    // The transcript is complete up to the step that never ran.
    std::ifstream in(path);
    std::vector<std::string> whats;
    const std::regex what("\"lba\":([0-9]+).*\"what\":\"([^\"]*)\"");
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_search(line, m, what))
        whats.push_back(m[1].str() + " " + m[2].str());
    }
    ::unlink(path);
    EXPECT_EQ(whats, (std::vector<std::string>{"0 file write", "1 file write"}));
  }
}

// The ASan runtime the launcher preloads checks leaks at exit only in
// programs built with it: an uninstrumented tool gets detect_leaks=0 even
// when the caller asked for leak checks (it would fail on its own exit-time
// allocations); an instrumented program, and one ldd cannot tell about (a
// script), keep the caller's choice.
TEST(Launcher, LeakChecksOnlyForInstrumentedPrograms) {
  if (RunShell("ldd " + SelfPath().substr(0, SelfPath().rfind('/')) +
               "/../lib/libsdsim.so | grep -q libasan") != 0)
    GTEST_SKIP() << "the card library is not built with AddressSanitizer";
  char script[] = "/tmp/sdsim-script-XXXXXX";
  const int fd = ::mkstemp(script);
  ASSERT_GE(fd, 0);
  const std::string text = "#!/bin/sh\necho \"ASAN_OPTIONS=$ASAN_OPTIONS\"\n";
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
  ::chmod(script, 0700);
  const std::string self = SelfPath() + " --gtest_filter=Probe.PrintsAsanOptions";
  const struct {
    const char *caller; // nullptr: not set
    std::string program;
    const char *leaks; // the program's last detect_leaks setting
  } cases[] = {
      {"detect_leaks=1", "sh -c 'echo ASAN_OPTIONS=$ASAN_OPTIONS'", "0"},
      {"detect_leaks=1", "env", "0"}, // found through PATH
      {nullptr, "env", "0"},
      {"detect_leaks=1", self, "1"},
      {"detect_leaks=0", self, "0"},
      {nullptr, self, "0"},
      {"detect_leaks=1", script, "1"},
  };
  const std::regex leaks("^ASAN_OPTIONS=.*detect_leaks=([01])$");
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.caller ? c.caller : "(unset)") + " " + c.program);
    const std::string env =
        c.caller ? "env ASAN_OPTIONS=" + std::string(c.caller) : std::string("env -u ASAN_OPTIONS");
    std::string out;
    ASSERT_EQ(RunShell("SDSIM_PROBE=1 " + env + " " + LauncherPath() + " -- " + c.program, &out), 0)
        << out;
    std::string last;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_search(line, m, leaks))
        last = m[1].str();
    }
    EXPECT_EQ(last, c.leaks) << out;
  }
  // What the caller's leak checks did to tail(1) before.
  std::string out;
  EXPECT_EQ(RunShell("env ASAN_OPTIONS=detect_leaks=1 " + LauncherPath() +
                         " -- sh -c 'head -c 512 /dev/sdx | tail -c 2' 2>&1",
                     &out),
            0)
      << out;
  EXPECT_EQ(out, "\x55\xAA");
  ::unlink(script);
}

// Whether process pid has a handler for SIGTERM.
bool CatchesSigterm(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

TEST(Launcher, TerminationReachesTheProgram) {
  const std::string launcher = LauncherPath();
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(launcher.c_str(), "sdsim", "--", "sleep", "30", static_cast<char *>(nullptr));
    std::_Exit(127);
  }
  // Signal once the launcher forwards termination (it sets that up after it
  // started the program), however slow the machine is.
  for (int i = 0; i < 2000 && !CatchesSigterm(pid); ++i)
    ::usleep(10 * 1000);
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
