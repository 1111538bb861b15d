// The extension mode: the card's mounted file system as the library finds
// it (mount listing, mount table), and the command sector in the host file
// answered before the read-back.
#include "sim_test_util.h"

#include <mntent.h>

using namespace simtest;

namespace {

std::string FirstLine(const std::string &command, int *status = nullptr) {
  std::string out;
  const int st = RunShell(command, &out);
  if (status)
    *status = st;
  return out.substr(0, out.find('\n') + 1);
}

class HostFile : public CardTest {
protected:
  void SetUp() override { Attach("usb.json"); }
  void TearDown() override {
    if (file_ >= 0)
      ::close(file_);
    ::unlink(card_->HostFilePath().c_str());
    CardTest::TearDown();
  }
  // Creates the zeroed host file as the library does.
  void CreateFile() {
    file_ = ::open(card_->HostFilePath().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_DIRECT | O_CLOEXEC,
                   0600);
    ASSERT_GE(file_, 0) << std::strerror(errno);
    std::memset(buf_, 0, sizeof buf_);
    ASSERT_EQ(::write(file_, buf_, sizeof buf_), static_cast<ssize_t>(sizeof buf_));
    ASSERT_EQ(::lseek(file_, 0, SEEK_SET), 0);
  }
  // The command sector, built here from its format.
  void SendCommand(std::uint32_t selector, std::uint16_t unit = 128,
                   const std::string &entry = "SDSMTEST") {
    std::uint8_t *s = buf_;
    std::memset(s, 0, 512);
    std::memcpy(s + 256, entry.data(), 8);
    s[266] = static_cast<std::uint8_t>(unit >> 8);
    s[267] = static_cast<std::uint8_t>(unit);
    for (int i = 0; i < 4; ++i)
      s[268 + i] = static_cast<std::uint8_t>(selector >> (24 - 8 * i));
    ASSERT_EQ(::write(file_, s, 512), 512);
    ASSERT_EQ(::lseek(file_, 0, SEEK_SET), 0);
  }
  std::vector<std::uint8_t> ReadBack() {
    EXPECT_EQ(::read(file_, buf_, 256 * 512), 256 * 512);
    EXPECT_EQ(::lseek(file_, 0, SEEK_SET), 0);
    return std::vector<std::uint8_t>(buf_, buf_ + 256 * 512);
  }
  // Index of the answering header, -1 when none.
  static int Answer(const std::vector<std::uint8_t> &data) {
    for (std::size_t at = 0; at < data.size(); at += 512)
      if (SignatureOk(&data[at]) && data[at + 73] == 0)
        return static_cast<int>(at / 512);
    return -1;
  }

  alignas(512) static inline std::uint8_t buf_[512 * 512]; // direct I/O buffer
  int file_ = -1;
};

TEST_F(HostFile, MountListingAndMountTableNameTheMountPoint) {
  int status = -1;
  EXPECT_EQ(FirstLine("mount|grep /dev/sdx", &status),
            "/dev/sdx1 on " + card_->MountPoint() + " type vfat (rw,nosuid,nodev,relatime)\n");
  EXPECT_EQ(status, 0);
  FILE *m = ::setmntent("/proc/self/mounts", "r");
  ASSERT_NE(m, nullptr);
  int found = 0;
  while (mntent *e = ::getmntent(m))
    if (std::string(e->mnt_fsname) == "/dev/sdx1") {
      ++found;
      EXPECT_EQ(std::string(e->mnt_dir), card_->MountPoint());
      EXPECT_NE(::hasmntopt(e, "rw"), nullptr);
    }
  ::endmntent(m);
  EXPECT_EQ(found, 1);
  // Other commands and devices are not the card's business.
  EXPECT_EQ(FirstLine("echo hello"), "hello\n");
  EXPECT_EQ(FirstLine("mount|grep /dev/sdx-not-here"), "");
  // A read-only card, and one that is not mounted.
  sdsim::Card &ro = sdsim::AttachJson(R"({"node": "/dev/sdr", "capacity_sectors": 2097152,
      "entry": "SDSMTEST", "mount": {"options": "ro,relatime"}})");
  EXPECT_EQ(FirstLine("mount  |  grep /dev/sdr"),
            "/dev/sdr1 on " + ro.MountPoint() + " type vfat (ro,relatime)\n");
  sdsim::AttachJson(R"({"node": "/dev/sdu", "capacity_sectors": 2097152, "entry": "SDSMTEST"})");
  EXPECT_EQ(FirstLine("mount|grep /dev/sdu", &status), "");
  EXPECT_EQ(status, 1); // grep found nothing
}

TEST_F(HostFile, CommandIsAnsweredInTheFileBeforeTheReadBack) {
  Enter(true);
  CreateFile();
  card_->ClearTranscript();
  SendCommand(0x101);
  auto data = ReadBack();
  // usb.json answers with one busy header first.
  EXPECT_EQ(data[512 + 73], 1);
  const int at = Answer(data);
  ASSERT_EQ(at, 2);
  EXPECT_EQ(DetailType(&data[512 * at]), 1u);
  const auto erase = card_->EraseCounts();
  for (std::size_t i = 0; i < erase.size(); ++i)
    ASSERT_EQ(Be(&data[512 * (at + 1) + 2 * i], 2), erase[i]) << i;

  SendCommand(0x103);
  data = ReadBack();
  ASSERT_EQ(Answer(data), 2);
  EXPECT_EQ(DetailType(&data[1024]), 3u);
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
    SendCommand(c.selector, c.unit, c.entry);
    EXPECT_EQ(Answer(ReadBack()), -1) << c.what;
    EXPECT_EQ(card_->Transcript()[card_->Transcript().size() - 2].what, c.what);
    ::close(file_);
    file_ = -1;
  }
}

TEST_F(HostFile, DirectIoKeepsItsAlignmentRules) {
  Enter(true);
  CreateFile();
  errno = 0;
  EXPECT_EQ(::read(file_, buf_ + 1, 512), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(::pread(file_, buf_, 100, 0), -1);
  EXPECT_EQ(::pwrite(file_, buf_, 512, 7), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(::pread(file_, buf_, 1024, 512), 1024);
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
  EXPECT_EQ(::pread(file_, buf_, 512, 0), 512); // step 5
  errno = 0;
  EXPECT_EQ(::pread(file_, buf_, 512, 0), -1); // step 6
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::pread(file_, buf_, 512, 0), 512); // step 7

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
