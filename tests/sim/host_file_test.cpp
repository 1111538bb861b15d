// The extension mode: the card's mounted file system as the library finds
// it (mount listing, mount table), and the command sector in the host file
// answered before the read-back.
#include "sim_test_util.h"

#include <cstdlib>
#include <linux/fs.h>
#include <memory>
#include <mntent.h>

using namespace simtest;

namespace {

struct AlignedFree {
  void operator()(void *p) const { std::free(p); }
};
using Aligned = std::unique_ptr<std::uint8_t, AlignedFree>;

Aligned AlignedBuffer(std::size_t bytes) {
  void *p = nullptr;
  EXPECT_EQ(posix_memalign(&p, 512, bytes), 0);
  std::memset(p, 0, bytes);
  return Aligned(static_cast<std::uint8_t *>(p));
}

std::string FirstLine(const std::string &command, int *status = nullptr) {
  FILE *p = ::popen(command.c_str(), "r");
  if (!p)
    return "<popen failed>";
  char line[256] = {};
  std::string out = std::fgets(line, sizeof line, p) ? line : "";
  const int st = ::pclose(p);
  if (status)
    *status = st;
  return out;
}

// Builds the command sector of the extension mode from its format.
Sector Command(const std::string &entry, std::uint16_t unit, std::uint32_t selector) {
  Sector s{};
  std::memcpy(&s[256], entry.data(), 8);
  s[266] = static_cast<std::uint8_t>(unit >> 8);
  s[267] = static_cast<std::uint8_t>(unit);
  for (int i = 0; i < 4; ++i)
    s[268 + i] = static_cast<std::uint8_t>(selector >> (24 - 8 * i));
  return s;
}

class HostFile : public CardTest {
protected:
  void SetUp() override {
    card_ = &sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
    node_ = OpenNode(card_->Node());
    ASSERT_GE(node_, 0);
  }
  void TearDown() override {
    if (file_ >= 0)
      ::close(file_);
    if (node_ >= 0)
      ::close(node_);
    ::unlink(card_->HostFilePath().c_str());
    CardTest::TearDown();
  }
  void Enter(bool v3) { ScsiWriteOk(node_, 0, 1, EnterPattern(card_->EntryString(), v3).data()); }
  // Creates the zeroed host file as the library does.
  void CreateFile() {
    file_ = ::open(card_->HostFilePath().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_DIRECT | O_CLOEXEC,
                   0600);
    ASSERT_GE(file_, 0) << std::strerror(errno);
    Aligned zero = AlignedBuffer(kFileBytes);
    ASSERT_EQ(::write(file_, zero.get(), kFileBytes), static_cast<ssize_t>(kFileBytes));
    ASSERT_EQ(::lseek(file_, 0, SEEK_SET), 0);
  }
  void SendCommand(std::uint32_t selector, std::uint16_t unit = 128) {
    Aligned cmd = AlignedBuffer(512);
    const Sector s = Command(card_->EntryString(), unit, selector);
    std::memcpy(cmd.get(), s.data(), 512);
    ASSERT_EQ(::write(file_, cmd.get(), 512), 512);
    ASSERT_EQ(::lseek(file_, 0, SEEK_SET), 0);
  }
  std::vector<std::uint8_t> ReadBack() {
    Aligned buf = AlignedBuffer(kReadBytes);
    EXPECT_EQ(::read(file_, buf.get(), kReadBytes), static_cast<ssize_t>(kReadBytes));
    EXPECT_EQ(::lseek(file_, 0, SEEK_SET), 0);
    return std::vector<std::uint8_t>(buf.get(), buf.get() + kReadBytes);
  }
  // Index of the answering header, -1 when none.
  static int Answer(const std::vector<std::uint8_t> &data) {
    for (std::size_t at = 0; at < data.size(); at += 512)
      if (data[at] == 'S' && data[at + 1] == 'I' && data[at + 2] == '0' && data[at + 73] == 0)
        return static_cast<int>(at / 512);
    return -1;
  }

  static constexpr std::size_t kFileBytes = 512 * 512, kReadBytes = 256 * 512;
  sdsim::Card *card_ = nullptr;
  int node_ = -1, file_ = -1;
};

TEST_F(HostFile, MountListingNamesTheMountPointAndOptions) {
  int status = -1;
  const std::string line = FirstLine("mount|grep /dev/sdx", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(line,
            "/dev/sdx1 on " + card_->MountPoint() + " type vfat (rw,nosuid,nodev,relatime)\n");
  // The library's reading of the line.
  const auto on = line.find("on");
  const auto start = on + 3;
  EXPECT_EQ(line.substr(start, line.find(' ', start) - start), card_->MountPoint());
  EXPECT_NE(line.substr(line.find(" (") + 1, 3), "(ro");

  // The mount table lists it as well.
  FILE *m = ::setmntent("/proc/self/mounts", "r");
  ASSERT_NE(m, nullptr);
  bool found = false;
  while (mntent *e = ::getmntent(m))
    if (std::string(e->mnt_fsname) == "/dev/sdx1") {
      found = true;
      EXPECT_EQ(std::string(e->mnt_dir), card_->MountPoint());
      EXPECT_NE(::hasmntopt(e, "rw"), nullptr);
    }
  ::endmntent(m);
  EXPECT_TRUE(found);
  // Other commands and devices are not the card's business.
  EXPECT_EQ(FirstLine("echo hello"), "hello\n");
  EXPECT_EQ(FirstLine("mount|grep /dev/sdx-not-here"), "");
}

TEST_F(HostFile, ReadOnlyAndUnmountedCards) {
  sdsim::Card &ro = sdsim::AttachJson(R"({"node": "/dev/sdr", "capacity_sectors": 2097152,
      "entry": "SDSMTEST", "mount": {"options": "ro,relatime"}})");
  const std::string line = FirstLine("mount|grep /dev/sdr");
  EXPECT_EQ(line.substr(line.find(" (") + 1, 3), "(ro");
  EXPECT_EQ(line.find(ro.MountPoint()), 13u);
  sdsim::AttachJson(R"({"node": "/dev/sdu", "capacity_sectors": 2097152, "entry": "SDSMTEST"})");
  int status = 0;
  EXPECT_EQ(FirstLine("mount|grep /dev/sdu", &status), "");
  EXPECT_EQ(status, 1 << 8); // grep found nothing
}

TEST_F(HostFile, CommandIsAnsweredInTheFileBeforeTheReadBack) {
  // The size query of the extension mode.
  {
    Fd ro(::open(card_->Node().c_str(), O_RDONLY | O_CLOEXEC));
    unsigned long sectors = 0;
    ASSERT_EQ(::ioctl(ro.get(), BLKGETSIZE, &sectors), 0);
    EXPECT_LE(sectors * 512, 0x83FFFFFFFull); // a 128-sector unit
  }
  Enter(true);
  CreateFile();
  card_->ClearTranscript();
  SendCommand(0x101);
  auto data = ReadBack();
  // usb.json answers with one busy header first.
  EXPECT_EQ(data[512 + 73], 1);
  const int at = Answer(data);
  ASSERT_EQ(at, 2);
  const Header h = Decode(&data[512 * at]);
  EXPECT_EQ(h.detail_type, 1u);
  const auto erase = card_->EraseCounts();
  for (std::size_t i = 0; i < erase.size(); ++i)
    ASSERT_EQ(Be(&data[512 * (at + 1) + 2 * i], 2), erase[i]) << i;

  SendCommand(0x103);
  data = ReadBack();
  ASSERT_EQ(Answer(data), 2);
  EXPECT_EQ(Decode(&data[1024]).detail_type, 3u);
  EXPECT_EQ(Be(&data[1536], 2), card_->RuntimeStatus()[0]);

  const std::vector<sdsim::Transfer> expect = {{"write", 0, 1, "file command 0x101"},
                                               {"read", 0, 256, "file readback"},
                                               {"write", 0, 1, "file command 0x103"},
                                               {"read", 0, 256, "file readback"}};
  EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
  EXPECT_EQ(card_->FileStepCount(), 5u); // the zero fill, two commands, two read-backs
}

TEST_F(HostFile, NoAnswerWithoutTheMarkerOrForAnotherCommand) {
  struct Case {
    bool v3;
    std::string entry;
    std::uint16_t unit;
    std::uint32_t selector;
    const char *what;
  } cases[] = {
      {false, "SDSMTEST", 128, 0x101, "file command 0x101"}, // entered without the marker
      {true, "SDSMTESX", 128, 0x101, "file write"},          // another entry string
      {true, "SDSMTEST", 1024, 0x101, "file write"},         // unit of a larger card
      {true, "SDSMTEST", 128, 0x104, "file write"},          // no such request
  };
  for (const auto &c : cases) {
    Enter(c.v3);
    CreateFile();
    Aligned cmd = AlignedBuffer(512);
    const Sector s = Command(c.entry, c.unit, c.selector);
    std::memcpy(cmd.get(), s.data(), 512);
    ASSERT_EQ(::write(file_, cmd.get(), 512), 512);
    ASSERT_EQ(::lseek(file_, 0, SEEK_SET), 0);
    EXPECT_EQ(Answer(ReadBack()), -1) << c.what;
    EXPECT_EQ(card_->Transcript()[card_->Transcript().size() - 2].what, c.what);
    ::close(file_);
    file_ = -1;
  }
}

TEST_F(HostFile, DirectIoKeepsItsAlignmentRules) {
  Enter(true);
  CreateFile();
  Aligned buf = AlignedBuffer(2048);
  errno = 0;
  EXPECT_EQ(::read(file_, buf.get() + 1, 512), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(::pread(file_, buf.get(), 100, 0), -1);
  EXPECT_EQ(::pwrite(file_, buf.get(), 512, 7), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(::pread(file_, buf.get(), 1024, 512), 1024);
}

TEST_F(HostFile, FileFaults) {
  Enter(true);
  CreateFile(); // file step 0
  card_->SetFault(sdsim::FaultKind::NoFileAnswer, 1);
  SendCommand(0x101); // step 1: not answered
  EXPECT_EQ(Answer(ReadBack()), -1);
  SendCommand(0x101); // step 3: answered again
  EXPECT_EQ(Answer(ReadBack()), 2);

  // Steps so far: zero fill, two commands, two read-backs.
  ASSERT_EQ(card_->FileStepCount(), 5u);
  card_->SetFault(sdsim::FaultKind::FileIoFail, 6);
  Aligned buf = AlignedBuffer(512);
  EXPECT_EQ(::pread(file_, buf.get(), 512, 0), 512); // step 5
  errno = 0;
  EXPECT_EQ(::pread(file_, buf.get(), 512, 0), -1); // step 6
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::pread(file_, buf.get(), 512, 0), 512); // step 7

  // Answers of only busy headers, then a damaged answer.
  card_->SetFault(sdsim::FaultKind::BusyForever, card_->FileStepCount());
  SendCommand(0x103);
  auto data = ReadBack();
  EXPECT_EQ(Answer(data), -1);
  EXPECT_EQ(data[512 + 73], 1);
  card_->ClearFaults();
  card_->SetFault(sdsim::FaultKind::BadSignature, card_->FileStepCount());
  SendCommand(0x103);
  data = ReadBack();
  EXPECT_EQ(Answer(data), -1);
  EXPECT_EQ(data[1024 + 2], '1');
  card_->SetFault(sdsim::FaultKind::WrongDetailType, card_->FileStepCount());
  SendCommand(0x103);
  data = ReadBack();
  ASSERT_EQ(Answer(data), 2);
  EXPECT_EQ(data[1024 + 70], 1);
}

} // namespace
