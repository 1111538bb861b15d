// Faults on demand: failed, errored and cut-short transfers, a card that
// vanishes, a process killed mid-way, and misbehaving SMART answers.
#include "sim_test_util.h"

#include <csignal>
#include <cstdlib>
#include <linux/fs.h>
#include <sys/wait.h>

using namespace simtest;

namespace {

class Faults : public CardTest {
protected:
  void Attach(const std::string &file) {
    card_ = &sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + "/" + file);
    fd_ = OpenNode(card_->Node());
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    if (fd_ >= 0)
      ::close(fd_);
    CardTest::TearDown();
  }
  sdsim::Card *card_ = nullptr;
  int fd_ = -1;
};

TEST_F(Faults, FailedTransferIsAnIoErrorAndOnlyThatOne) {
  Attach("usb.json");
  card_->SetFault(sdsim::FaultKind::FailTransfer, 1);
  Sector s{};
  ScsiReadOk(fd_, 10, 1, s.data()); // transfer 0
  ScsiResult r = Scsi(fd_, Rw10(0x28, 10, 1), SG_DXFER_FROM_DEV, s.data(), 512);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, EIO);
  ScsiReadOk(fd_, 10, 1, s.data()); // transfer 2
  const auto t = card_->Transcript();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1], (sdsim::Transfer{"read", 10, 1, "failed"}));

  ::close(fd_);
  fd_ = -1;
  sdsim::DetachAll();
  Attach("native.json");
  card_->SetFault(sdsim::FaultKind::FailTransfer, 0, 2);
  for (int i = 0; i < 2; ++i) {
    MmcResult m = Mmc(fd_, 17, 0, kReadFlags, false, 1, s.data());
    EXPECT_EQ(m.rc, -1);
    EXPECT_EQ(m.err, EIO);
  }
  EXPECT_EQ(Mmc(fd_, 17, 0, kReadFlags, false, 1, s.data()).rc, 0);
}

TEST_F(Faults, ErrorStatusMovesNoData) {
  Attach("usb.json");
  const Sector before = card_->ReadSector(20);
  Sector put{};
  put.fill(0x42);
  card_->SetFault(sdsim::FaultKind::ErrorStatus, 0, 2);
  ScsiResult w = Scsi(fd_, Rw10(0x2A, 20, 1), SG_DXFER_TO_DEV, put.data(), 512);
  ASSERT_EQ(w.rc, 0);
  EXPECT_EQ(w.hdr.status, 0x02);
  EXPECT_EQ(w.sense[2] & 0x0F, 0x03); // MEDIUM ERROR
  EXPECT_EQ(w.sense[12], 0x0C);       // write error
  EXPECT_EQ(w.hdr.resid, 512);
  EXPECT_EQ(card_->ReadSector(20), before);
  Sector got{};
  got.fill(0xEE);
  ScsiResult r = Scsi(fd_, Rw10(0x28, 20, 1), SG_DXFER_FROM_DEV, got.data(), 512);
  EXPECT_EQ(r.sense[12], 0x11); // unrecovered read error
  EXPECT_EQ(got[0], 0xEE);

  ::close(fd_);
  fd_ = -1;
  sdsim::DetachAll();
  Attach("native.json");
  card_->SetFault(sdsim::FaultKind::ErrorStatus, 0);
  MmcResult m = Mmc(fd_, 24, 20, kWriteFlags, true, 1, put.data());
  EXPECT_EQ(m.rc, 0);
  EXPECT_NE(m.cmd.response[0] & (1u << 19), 0u); // ERROR
  EXPECT_NE(card_->ReadSector(20), put);
}

TEST_F(Faults, ShortTransfersMoveHalfTheBlocks) {
  Attach("usb.json");
  std::vector<std::uint8_t> put(4 * 512);
  for (std::size_t i = 0; i < put.size(); ++i)
    put[i] = static_cast<std::uint8_t>(1 + i / 512);
  card_->SetFault(sdsim::FaultKind::ShortTransfer, 0);
  ScsiResult w = Scsi(fd_, Rw10(0x2A, 40, 4), SG_DXFER_TO_DEV, put.data(), 2048);
  ASSERT_EQ(w.rc, 0);
  EXPECT_EQ(w.hdr.status, 0);
  EXPECT_EQ(w.hdr.resid, 1024);
  EXPECT_EQ(card_->ReadSector(41)[0], 2);
  EXPECT_EQ(card_->ReadSector(42)[0], 0);
  EXPECT_EQ(card_->Transcript().back().what, "data (short)");

  ::close(fd_);
  fd_ = -1;
  sdsim::DetachAll();
  Attach("native.json");
  card_->SetFault(sdsim::FaultKind::ShortTransfer, 0);
  MmcResult m = Mmc(fd_, 25, 40, kWriteFlags, true, 4, put.data());
  EXPECT_EQ(m.rc, -1);
  EXPECT_EQ(m.err, EIO);
  EXPECT_EQ(card_->ReadSector(41)[0], 2);
  EXPECT_EQ(card_->ReadSector(42)[0], 0);
}

TEST_F(Faults, VanishedCardFailsEverythingIncludingReopen) {
  Attach("native.json");
  card_->SetFault(sdsim::FaultKind::Vanish, 2);
  Sector s{};
  ASSERT_EQ(Mmc(fd_, 17, 0, kReadFlags, false, 1, s.data()).rc, 0);
  ASSERT_EQ(Mmc(fd_, 17, 1, kReadFlags, false, 1, s.data()).rc, 0);
  for (int i = 0; i < 3; ++i) {
    MmcResult m = Mmc(fd_, 17, 0, kReadFlags, false, 1, s.data());
    EXPECT_EQ(m.rc, -1);
    EXPECT_EQ(m.err, ENODEV);
  }
  std::uint64_t bytes = 0;
  EXPECT_EQ(::ioctl(fd_, BLKGETSIZE64, &bytes), -1);
  EXPECT_EQ(::pread(fd_, s.data(), 512, 0), -1);
  errno = 0;
  EXPECT_EQ(OpenNode(card_->Node()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(card_->TransferCount(), 2u);
}

TEST_F(Faults, BusyForeverAndDamagedHeaders) {
  Attach("usb.json");
  ScsiWriteOk(fd_, 0, 1, EnterPattern(card_->EntryString(), false).data()); // transfer 0
  card_->SetFault(sdsim::FaultKind::BusyForever, 1);
  for (int i = 0; i < 50; ++i) {
    const Header h = Decode(ScsiSector(fd_, 1).data());
    ASSERT_TRUE(h.signature_ok);
    ASSERT_EQ(h.busy, 1u);
  }
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(ScsiSector(fd_, 256 * (i + 1) + 0x90)[73], 1); // PMT never done
  card_->ClearFaults();
  card_->SetFault(sdsim::FaultKind::BadSignature, card_->TransferCount());
  // The configured busy answer was given while the card stayed busy.
  Sector s = ScsiSector(fd_, 1);
  EXPECT_FALSE(Decode(s.data()).signature_ok);
  EXPECT_EQ(s[2], '1');
  EXPECT_TRUE(Decode(ScsiSector(fd_, 1).data()).signature_ok); // once only
  card_->SetFault(sdsim::FaultKind::WrongDetailType, card_->TransferCount());
  EXPECT_EQ(Decode(ScsiSector(fd_, 1).data()).detail_type, 3u);
  EXPECT_EQ(Decode(ScsiSector(fd_, 3).data()).detail_type, 3u);
}

TEST_F(Faults, KilledProcessLeavesTheImageAsWritten) {
  char dir[] = "/tmp/sdsim-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string json = R"({"node": "/dev/sdk", "capacity_sectors": 65536,
      "entry": "SDSMTEST", "image": "card.img"})";
  sdsim::Card &c = sdsim::AttachJson(json, dir);
  c.SetFault(sdsim::FaultKind::Kill, 2);
  Sector put{};
  put.fill(0xC3);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int fd = OpenNode("/dev/sdk");
    Sector s{};
    sg_io_hdr_t h{};
    (void)h;
    Scsi(fd, Rw10(0x2A, 100, 1), SG_DXFER_TO_DEV, put.data(), 512); // 0
    Scsi(fd, Rw10(0x28, 100, 1), SG_DXFER_FROM_DEV, s.data(), 512); // 1
    Scsi(fd, Rw10(0x2A, 101, 1), SG_DXFER_TO_DEV, put.data(), 512); // 2: killed
    std::_Exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  sdsim::DetachAll();
  // The next life of the card finds what was written before the kill.
  sdsim::Card &again = sdsim::AttachJson(json, dir);
  EXPECT_EQ(again.ReadSector(100), put);
  EXPECT_NE(again.ReadSector(101), put);
  EXPECT_EQ(again.ReadSector(0)[510], 0x55); // the image kept its MBR
  sdsim::DetachAll();
  ::unlink((std::string(dir) + "/card.img").c_str());
  ::rmdir(dir);
}

TEST(FaultNames, RoundTrip) {
  for (auto kind : {sdsim::FaultKind::FailTransfer, sdsim::FaultKind::ErrorStatus,
                    sdsim::FaultKind::ShortTransfer, sdsim::FaultKind::Vanish,
                    sdsim::FaultKind::Kill, sdsim::FaultKind::BusyForever,
                    sdsim::FaultKind::BadSignature, sdsim::FaultKind::WrongDetailType,
                    sdsim::FaultKind::NoFileAnswer, sdsim::FaultKind::FileIoFail}) {
    sdsim::FaultKind back{};
    ASSERT_TRUE(sdsim::ParseFaultName(sdsim::FaultName(kind), back));
    EXPECT_EQ(back, kind);
  }
  sdsim::FaultKind k{};
  EXPECT_FALSE(sdsim::ParseFaultName("explode", k));
}

} // namespace
